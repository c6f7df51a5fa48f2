// Arbitrary controller bytes through both report readers: the response loop
// waiting for a reply and the I/O timer's tick. Neither may crash, read outside
// its buffers or keep going without end.
#include <cstdint>
#include <vector>

#include "devices/events.h"
#include "devices/io_timer.h"
#include "link/serial_link.h"
#include "rig.h"
#include "test_events.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    test::Rig rig;
    PluginState& ctx = rig.ctx;
    (void)rig.port.open("COM1");
    ctx.link.portOpen = true;
    ctx.link.commStarted = true;
    ctx.link.recognition = (data[0] & 1) != 0;
    ctx.controller.x10Interface = (data[0] & 2) != 0;
    ctx.switches.x10Xmit = (data[0] & 4) != 0 ? 1 : 0;
    ctx.switches.leopardVar = (data[0] & 8) != 0 ? "[" : "-1";
    test::TestEvents events(ctx);
    events.onReport = [&](const ControllerReport& r) { dispatchReport(ctx, r, ReportPath::ResponseLoop); };

    const std::int16_t expectedLength = static_cast<std::int16_t>(data[1] % 40 + 1);
    const std::int16_t expectedFirst = (data[0] & 16) != 0 ? data[2] : 0;
    // The bytes arrive in two pieces, the second some time later.
    const std::size_t cut = 3 + (size - 3) / 2;
    rig.port.deliver(std::vector<std::uint8_t>(data + 3, data + cut));
    rig.port.deliver(std::vector<std::uint8_t>(data + cut, data + size), 150'000);

    const auto start = rig.loop.tickMs();
    for (int i = 0; i < 3; ++i) ReadResponse(ctx, 1, expectedLength, expectedFirst);
    while (rig.port.bytesWaiting() >= 3) {
        const auto before = rig.port.bytesWaiting();
        Timer3_Timer(ctx);
        if (rig.port.bytesWaiting() >= before) __builtin_trap();  // a tick that reads nothing would spin
    }
    if (rig.loop.tickMs() - start > 60'000) __builtin_trap();
    return 0;
}
