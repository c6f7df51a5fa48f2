// The controller's model where the scenario transcripts do not show it: bounds of the I/O
// writes, the clock frame, X10 reports after the ack, reports and learning.
#include <gtest/gtest.h>

#include <functional>

#include "link/frames.h"
#include "sim_tap.h"

namespace varnel::sim::test {
namespace {

TEST(Writes, point_write_changes_the_io_buffer_the_next_read_returns) {
    struct Case {
        std::uint8_t module, point, value;
        int byteIndex;
        std::uint8_t expected;
    };
    for (const Case& c : {Case{3, 2, 1, 4, 0x14}, Case{3, 4, 0, 4, 0x00}, Case{3, 9, 1, 5, 0x02},
                          Case{128, 0, 1, 254, 0x01}, Case{129, 0, 1, 4, 0x10}, Case{3, 16, 1, 4, 0x10}}) {
        ControllerConfig cfg;
        cfg.io[4] = 0x10;  // module 3, point 4 already set
        Tap t(cfg);
        t.sim.feed(commandFrame(0x33, c.module, c.point, c.value));
        EXPECT_EQ(t.take(), kAck);
        t.send(kIoRead);
        EXPECT_EQ(t.take().at(6 + c.byteIndex), c.expected) << int{c.module} << "/" << int{c.point};
    }
}

TEST(Writes, clock_frame_digits_become_a_date_and_time_or_are_kept_as_not_valid) {
    Tap t;
    std::array<std::uint8_t, 50> f{0xF1, 0x3D, 8, 0, 7, 4, 1, 2, 5, 1, 3, 0, 9, 0, 0};
    sealLong(f);
    t.sim.feed(f);
    EXPECT_EQ(t.take(), kAck);
    const auto c = t.sim.clock();
    ASSERT_TRUE(c && c->valid);
    EXPECT_EQ((std::array<int, 7>{c->year, c->month, c->day, c->hour, c->minute, c->second, c->weekday}),
              (std::array<int, 7>{2009, 3, 15, 21, 47, 8, 0}));
    f.fill(0);
    const std::array<std::uint8_t, 15> thirtiethFebruary{0xF1, 0x3D, 0, 0, 0, 0, 0, 0, 0, 3, 2, 0, 9, 0, 0};
    std::copy(thirtiethFebruary.begin(), thirtiethFebruary.end(), f.begin());
    sealLong(f);
    t.sim.feed(f);
    ASSERT_TRUE(t.sim.clock());
    EXPECT_FALSE(t.sim.clock()->valid);
}

TEST(Writes, x10_frames_are_recorded_and_reported_after_the_ack_when_configured) {
    for (bool report : {false, true}) {
        ControllerConfig cfg;
        cfg.reportTransmittedX10 = report;
        Tap t(cfg);
        t.send("C8 37 00 04 01 00 00 04");
        t.send("C8 61 01 02 03 04 00 33");
        using K = X10Transmission::Kind;
        const std::vector<X10Transmission> expected = {
            {.kind = K::Address, .house = 0, .key = 4, .value = 1, .data1 = 0, .data2 = 0},
            {.kind = K::Extended, .house = 1, .key = 2, .value = 0, .data1 = 3, .data2 = 4},
        };
        EXPECT_EQ(std::vector<X10Transmission>(t.sim.x10Sent().begin(), t.sim.x10Sent().end()), expected);
        EXPECT_EQ(toHex(t.take()), report ? "06 00 06 FB 00 04 06 00 06 FB 01 02 FB 01 17" : "06 00 06 06 00 06");
    }
}

TEST(Reports, each_report_goes_out_whole_and_an_input_change_only_when_it_is_one) {
    const std::pair<std::function<void(Controller&)>, std::string> cases[] = {
        {[](Controller& c) { c.emitX10Received(0, 18); }, "FE 00 12"},
        {[](Controller& c) { c.emitX10Transmitted(3, 2); }, "FB 03 02"},
        {[](Controller& c) { c.emitIrMatch(42); }, "FD 00 2A"},
        {[](Controller& c) { c.emitIoChange(3, 5, 1); }, "F0 03 05 01"},
        {[](Controller& c) { c.emitTouch(7, 0xF2, 1, 2, 3); }, "F2 01 07 02 03"},
        {[](Controller& c) { c.emitFiller(); }, "FF"},
        {[](Controller& c) { c.changeInput(3, 9, true), c.changeInput(3, 9, true); }, "F0 03 09 01"},
        {[](Controller& c) { c.changeInput(129, 0, true), c.changeInput(1, 16, true); }, ""},
    };
    for (const auto& [emit, bytes] : cases) {
        Tap t;
        emit(t.sim);
        EXPECT_EQ(toHex(t.take()), bytes);
    }
}

TEST(Learn, the_key_stores_a_code_reports_the_location_low_byte_and_matches_it_later) {
    ControllerConfig cfg;
    cfg.autoLearnDelayUs = 1'000'000;
    Tap t(cfg);
    t.send("C8 5B 2C 01 78 00 00 C8");  // location 300
    EXPECT_TRUE(t.sim.pressLearnKey(0x1234));
    EXPECT_EQ(toHex(t.take()), "06 00 06 FD 00 2C");
    EXPECT_FALSE(t.sim.pressLearnKey()) << "nothing pending any more";
    EXPECT_EQ(t.sim.receiveIr(0x1234), 300);
    EXPECT_EQ(toHex(t.take()), "FD 00 2C");
    // Unpressed, the key goes down by itself after the delay.
    t.send("C8 5B 05 00 78 00 00 A0");
    t.take();
    t.sim.manualClock().advanceUs(999'999);
    EXPECT_TRUE(t.take().empty());
    t.sim.manualClock().advanceUs(1);
    EXPECT_EQ(toHex(t.take()), "FD 00 05");
}

}  // namespace
}  // namespace varnel::sim::test
