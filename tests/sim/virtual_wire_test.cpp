// The controller behind a VirtualSerialPort on virtual time, at the line's speed.
#include <gtest/gtest.h>

#include "link/frames.h"
#include "sim/hex.h"
#include "sim/virtual_wire.h"

namespace varnel::sim {
namespace {

struct Line {
    explicit Line(WireTiming timing = {}) : wire(loop, port, sim, timing) { EXPECT_FALSE(port.open("COM1")); }
    std::vector<std::uint8_t> readAll() {
        std::vector<std::uint8_t> out;
        while (auto b = port.readByte()) out.push_back(*b);
        return out;
    }
    bool waitFor(std::size_t n, int ms = 5000) {
        return loop.waitUntil(ms, [&] { return port.bytesWaiting() >= n; });
    }
    VirtualLoop loop;
    VirtualSerialPort port{loop};
    Controller sim;
    VirtualWire wire;
};

TEST(VirtualWire, block_read_takes_its_time_on_the_wire_at_9600_baud) {
    Line l;
    ASSERT_TRUE(l.port.write(blockReadFrame(0x8D, 0xB5)));
    ASSERT_TRUE(l.waitFor(1, 1000));
    // 8 bytes out, 1 ms turnaround, then the first byte of the reply.
    EXPECT_EQ(l.loop.nowUs(), 8 * 1042 + 1000 + 1042);
    ASSERT_TRUE(l.waitFor(264, 1000));
    EXPECT_EQ(l.loop.nowUs(), 8 * 1042 + 1000 + 264 * 1042);
    const auto r = l.readAll();
    EXPECT_TRUE(blockReplyCrcOk(r));
    EXPECT_EQ(l.sim.frames().at(0).atUs, 8 * 1042) << "the controller acts when the last byte is in";
}

TEST(VirtualWire, reply_waits_behind_reports_already_on_the_line) {
    Line l;
    for (int i = 0; i < 3; ++i) l.sim.emitTouch(1);  // 15 bytes: the line is busy until 15 * 1042 us
    l.port.write(commandFrame(0x29, 5, 0x2C, 1));    // in at 8 * 1042 us, answer ready 1 ms later
    ASSERT_TRUE(l.waitFor(18));
    EXPECT_EQ(toHex(l.readAll()), "F3 00 01 00 00 F3 00 01 00 00 F3 00 01 00 00 06 00 06");
    EXPECT_EQ(l.loop.nowUs(), 18 * 1042);
}

}  // namespace
}  // namespace varnel::sim
