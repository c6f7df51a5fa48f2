// The controller's model as the engine tests and the demo rely on it: what each frame
// changes and answers, the buffers block reads return, and the reports it sends.
#include <gtest/gtest.h>

#include <functional>

#include "link/frames.h"
#include "sim_tap.h"

namespace varnel::sim::test {
namespace {

TEST(Writes, every_command_and_long_frame_is_acknowledged_and_recorded) {
    for (const std::string f : {"C8 29 05 2C 01 00 00 23", "C8 33 03 02 01 00 00 01", "C8 1F 0C 00 00 00 00 F3",
                                "C8 28 06 00 01 00 00 F7", "C8 37 00 04 01 00 00 04", "C8 61 01 02 03 04 00 33",
                                "C8 5A 2C 01 00 00 00 4F", "C8 5C 04 02 2C 01 00 57", "C8 5B 2C 01 78 00 00 C8"}) {
        Tap t;
        t.send(f);
        EXPECT_EQ(t.take(), kAck) << f;
        ASSERT_EQ(t.sim.frames().size(), 1u);
        EXPECT_EQ(toHex(t.sim.frames()[0].bytes), f);
    }
    Tap t;
    t.send(kSetVar);
    t.sim.feed(commandFrame(0x29, 128, 1, 0));  // past the last variable: acknowledged, ignored
    EXPECT_EQ(t.sim.variable(5), 300);
    EXPECT_EQ(t.sim.variable(0), 0);
}

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

TEST(BlockReads, reply_echoes_selector_carries_buffer_and_crc_low_byte_first) {
    ControllerConfig cfg;
    cfg.modules = {{1, ModuleType::Secu16}, {6, ModuleType::Secu16Ir}, {128, ModuleType::Relay08}};
    cfg.irSize = 0x1F8;
    cfg.variableSelector = {0x12, 0x34};
    cfg.variables[0] = 0x0102;
    cfg.variables[127] = 0xFFFF;
    cfg.io[0] = 0x05;
    cfg.io[255] = 0x80;
    cfg.analog[{3, 2}] = 0x0155;
    const std::vector<std::pair<std::string, std::vector<std::pair<int, std::uint8_t>>>> cases = {
        {"2A 00 00 8F B7 00 2D EB", {{12, 0x12}, {13, 0x34}}},                          // first parameter block
        {"2A 00 00 00 7F 00 A5 7D", {{244, 0xF8}, {245, 0x01}}},                        // second parameter block
        {"2A 00 00 01 B0 00 94 27", {{0, 11}, {5, 6}, {127, 13}, {128, 0}}},            // module table
        {"2A 00 00 8D B5 00 25 E9", {{0, 0x05}, {1, 0}, {255, 0x80}}},                  // I/O
        {"2A 00 00 12 34 00 59 48", {{0, 0x02}, {1, 0x01}, {254, 0xFF}, {255, 0xFF}}},  // variables
        {"C8 1F 0C 00 00 00 00 F3", {}},                                                // analog channel 2 asked
        {"2A 00 00 8B B4 00 A4 78", {{4, 0x55}, {5, 0x01}, {0, 0}}},                    // value buffer
        {"2A 11 00 8E B6 22 83 C1", {{0, 0}}},  // an unknown buffer reads as zeros; bytes 1, 2 and 5 echoed
    };
    Tap t(cfg);
    for (const auto& [request, bytes] : cases) {
        const auto asked = hex(request);
        t.send(asked);
        const auto r = t.take();
        if (asked[0] == 0xC8) continue;
        ASSERT_EQ(r.size(), 264u) << request;
        EXPECT_EQ(toHex(std::span(r).first(6)), toHex(std::span(asked).first(6))) << request;
        EXPECT_TRUE(blockReplyCrcOk(r)) << request;
        for (const auto& [i, v] : bytes) EXPECT_EQ(r[6 + i], v) << request << " data byte " << i;
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
