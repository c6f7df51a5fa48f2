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

TEST(VirtualWire, instant_line_answers_without_time_passing) {
    Line l(WireTiming{.usPerByte = 0, .turnaroundUs = 0});
    ASSERT_TRUE(l.port.write(commandFrame(0x29, 5, 0x2C, 1)));
    l.loop.processEvents();
    EXPECT_EQ(l.loop.nowUs(), 0);
    EXPECT_EQ(l.readAll(), std::vector<std::uint8_t>({6, 0, 6}));
    EXPECT_EQ(l.sim.variable(5), 300);
}

TEST(VirtualWire, frame_written_in_two_pieces_is_answered_once_complete_byte_by_byte) {
    Line l;
    int events = 0;
    l.port.onDataReceived = [&] { ++events; };
    const auto f = commandFrame(0x29, 5, 0x2C, 1);
    l.port.write(std::span(f).first(3));
    l.loop.advance(50);
    EXPECT_EQ(l.port.bytesWaiting(), 0u);
    l.port.write(std::span(f).subspan(3));
    ASSERT_TRUE(l.waitFor(3));
    EXPECT_EQ(l.sim.frames().size(), 1u);
    EXPECT_EQ(events, 3) << "a receive event for every byte of a paced reply";
}

TEST(VirtualWire, split_report_arrives_with_its_gap_between_the_pieces) {
    Line l;
    l.sim.faults().splitNextReport = Faults::Split{.at = 3, .gapUs = 500'000};
    l.sim.emitIoChange(3, 4, 1);
    ASSERT_TRUE(l.waitFor(3));
    EXPECT_EQ(l.loop.nowUs(), 3 * 1042);
    ASSERT_TRUE(l.waitFor(4));
    EXPECT_EQ(l.loop.nowUs(), 3 * 1042 + 500'000 + 1042);
    EXPECT_EQ(toHex(l.readAll()), "F0 03 04 01");
}

TEST(VirtualWire, reply_waits_behind_reports_already_on_the_line) {
    Line l;
    for (int i = 0; i < 3; ++i) l.sim.emitTouch(1);  // 15 bytes: the line is busy until 15 * 1042 us
    l.port.write(commandFrame(0x29, 5, 0x2C, 1));    // in at 8 * 1042 us, answer ready 1 ms later
    ASSERT_TRUE(l.waitFor(18));
    EXPECT_EQ(toHex(l.readAll()), "F3 00 01 00 00 F3 00 01 00 00 F3 00 01 00 00 06 00 06");
    EXPECT_EQ(l.loop.nowUs(), 18 * 1042);
}

TEST(VirtualWire, removing_the_wire_disconnects_both_ends) {
    VirtualLoop loop;
    VirtualSerialPort port{loop};
    Controller sim;
    ASSERT_FALSE(port.open("COM1"));
    {
        VirtualWire wire(loop, port, sim);
        port.write(commandFrame(0x29, 5, 0x2C, 1));  // still in flight when the wire goes
    }
    EXPECT_FALSE(port.onHostWrite);
    loop.advance(100);
    EXPECT_EQ(sim.frames().size(), 0u);
    sim.emitFiller();  // nobody listens; must not crash
    EXPECT_EQ(port.bytesWaiting(), 0u);
}

}  // namespace
}  // namespace varnel::sim
