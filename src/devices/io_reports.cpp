// The timer's reader of the controller's own reports. It reads the same
// lengths as the response loop: a Leopard touch is 5 bytes and an IR match
// carries its code in byte 2; a filler byte or a byte that starts no report is
// dropped alone so the reader finds the next report's start again.
#include <array>
#include <optional>
#include <string>

#include "devices/events.h"
#include "devices/io_timer.h"
#include "link/reports.h"
#include "link/serial_link.h"
#include "support/errors.h"
#include "support/logging.h"

namespace varnel {

namespace {

std::string num(int v) { return std::to_string(v); }

void handleReport(Context& ctx, const std::array<std::uint8_t, 5>& buf) {
    const std::array<std::uint8_t, 4> h{buf[0], buf[1], buf[2], buf[3]};
    switch (static_cast<Report>(buf[0])) {
        case Report::X10Received:
            commLog(ctx, "*** Ocelot says x10 rec " + num(buf[1]) + "," + num(buf[2]));
            x10Handler(ctx, h);
            break;
        case Report::X10Transmitted:
            if (ctx.switches.x10Xmit != 1) break;
            commLog(ctx, "*** Ocelot says x10 xmit " + num(buf[1]) + "," + num(buf[2]));
            x10Handler(ctx, h);
            break;
        case Report::IrMatch:
            if (!ctx.link.recognition) break;
            commLog(ctx, "*** Ocelot says IR Match " + num(buf[2]));
            if (!ctx.host.callback) throw HostError("Object variable not set");
            ctx.host.callback->IREvent(buf[2]);
            break;
        case Report::LeopardTouch2:
        case Report::LeopardTouch3:
            if (ctx.switches.leopardVar == "-1") break;
            commLog(ctx, "*** Ocelot says Leopard Touch " + num(buf[2]));
            if (!ctx.host.hs) throw HostError("Object variable not set");
            ctx.host.hs->SetDeviceValue(ctx.switches.leopardVar + "1", buf[2]);
            break;
        case Report::IoChange: HandleIOPointChange(ctx, h); break;
        default: break;
    }
}

}  // namespace

void readReports(Context& ctx) {
    auto& port = ctx.platform.port;
    for (int n = 0; n < kMaxReportsPerTick && port.bytesWaiting() >= 3; ++n) {
        std::array<std::uint8_t, 5> buf{};
        const auto first = port.readByte();
        if (!first) break;
        buf[0] = *first;
        const int length = reportLength(*first);
        if (length == 0) ++ctx.link.discarded;
        if (length <= 1) continue;
        bool complete = true;
        for (int i = 1; i < length && complete; ++i) {
            const auto b = nextReportByte(ctx);
            if (b) buf[static_cast<std::size_t>(i)] = *b;
            complete = b.has_value();
        }
        // A report cut short would hand on a value that was never sent.
        if (!complete) {
            ++ctx.link.discarded;
            continue;
        }
        ++ctx.link.reportsHandled;
        reportStep(ctx, kTimer3Procedure, 4, [&] { handleReport(ctx, buf); });
    }
}

}  // namespace varnel
