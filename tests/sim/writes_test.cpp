// Command and long frames: each is acknowledged and changes what it should.
#include <gtest/gtest.h>

#include "link/frames.h"
#include "sim_tap.h"

namespace varnel::sim::test {
namespace {

TEST(Writes, every_command_and_long_frame_is_acknowledged_06_00_06) {
    const std::vector<std::string> frames = {
        "C8 29 05 2C 01 00 00 23", "C8 33 03 02 01 00 00 01", "C8 1F 0C 00 00 00 00 F3", "C8 28 06 00 01 00 00 F7",
        "C8 37 00 04 01 00 00 04", "C8 61 01 02 03 04 00 33", "C8 5A 2C 01 00 00 00 4F", "C8 5C 04 02 2C 01 00 57",
        "C8 5B 2C 01 78 00 00 C8", "C8 77 00 00 00 00 00 3F"};
    for (const auto& f : frames) {
        Tap t;
        t.send(f);
        EXPECT_EQ(t.take(), kAck) << f;
        ASSERT_EQ(t.sim.frames().size(), 1u);
        EXPECT_EQ(toHex(t.sim.frames()[0].bytes), f);
    }
}

TEST(Writes, variable_write_stores_value_low_byte_first) {
    Tap t;
    t.send("C8 29 05 2C 01 00 00 23");
    EXPECT_EQ(t.sim.variable(5), 300);
    t.sim.feed(commandFrame(0x29, 127, 0xFF, 0xFF));
    EXPECT_EQ(t.sim.variable(127), 65535);
}

TEST(Writes, variable_write_beyond_the_variables_changes_nothing_but_is_acknowledged) {
    Tap t;
    t.sim.feed(commandFrame(0x29, 128, 1, 0));
    t.sim.feed(commandFrame(0x29, 255, 1, 0));
    EXPECT_EQ(t.take(), std::vector<std::uint8_t>({6, 0, 6, 6, 0, 6}));
    for (int i = 0; i < kVariableCount; ++i) EXPECT_EQ(t.sim.variable(i), 0);
}

struct PointCase {
    const char* name;
    std::uint8_t module, point, value;
    int byteIndex;
    std::uint8_t expected;
};

class PointWrite : public ::testing::TestWithParam<PointCase> {};

TEST_P(PointWrite, point_write_changes_the_io_buffer) {
    const auto& c = GetParam();
    ControllerConfig cfg;
    cfg.io[4] = 0x10;  // module 3, point 4 already set
    Tap t(cfg);
    t.sim.feed(commandFrame(0x33, c.module, c.point, c.value));
    EXPECT_EQ(t.take(), kAck);
    t.send("2A 00 00 8D B5 00 25 E9");
    const auto r = t.take();
    ASSERT_EQ(r.size(), 264u);
    EXPECT_EQ(r[6 + c.byteIndex], c.expected);
}

INSTANTIATE_TEST_SUITE_P(Points, PointWrite,
                         ::testing::Values(PointCase{"low_point_set", 3, 2, 1, 4, 0x14},
                                           PointCase{"any_nonzero_sets", 3, 2, 100, 4, 0x14},
                                           PointCase{"zero_clears", 3, 4, 0, 4, 0x00},
                                           PointCase{"high_point", 3, 9, 1, 5, 0x02},
                                           PointCase{"module_1_point_15", 1, 15, 1, 1, 0x80},
                                           PointCase{"module_128_point_0", 128, 0, 1, 254, 0x01},
                                           PointCase{"module_0_ignored", 0, 0, 1, 4, 0x10},
                                           PointCase{"module_129_ignored", 129, 0, 1, 4, 0x10},
                                           PointCase{"point_16_ignored", 3, 16, 1, 4, 0x10}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Writes, point_write_reports_the_change_after_the_ack_only_when_configured) {
    for (bool report : {false, true}) {
        ControllerConfig cfg;
        cfg.reportOutputWrites = report;
        Tap t(cfg);
        t.send("C8 33 03 02 01 00 00 01");
        const auto expected = report ? hex("06 00 06 F0 03 02 01") : kAck;
        EXPECT_EQ(t.take(), expected) << report;
        t.send("C8 33 03 02 01 00 00 01");
        EXPECT_EQ(t.take(), kAck) << "no change, no report";
    }
}

TEST(Writes, settings_frames_are_remembered_by_setting) {
    Tap t;
    t.send("C8 28 10 00 02 00 00 02");  // I/O start
    t.sim.feed(commandFrame(0x28, 0x0F, 0, 1));
    t.sim.feed(commandFrame(0x28, 0x11, 0, 1));
    t.sim.feed(commandFrame(0x28, 0x12, 0, 0));
    t.sim.feed(commandFrame(0x28, 0x07, 0, 0));
    t.send("C8 28 06 00 01 00 00 F7");  // touch mode 1
    EXPECT_EQ(t.sim.setting(0x10), 2);
    EXPECT_EQ(t.sim.setting(0x0F), 1);
    EXPECT_EQ(t.sim.setting(0x11), 1);
    EXPECT_EQ(t.sim.setting(0x12), 0);
    EXPECT_EQ(t.sim.setting(0x07), 0);
    EXPECT_EQ(t.sim.touchMode(), 1);
    EXPECT_FALSE(t.sim.setting(0x99));
    ASSERT_EQ(t.sim.settingWrites().size(), 6u);
    EXPECT_EQ(t.sim.settingWrites()[0], (SettingWrite{0x10, 2}));
    t.sim.feed(commandFrame(0x28, 0x10, 0, 0));
    EXPECT_EQ(t.sim.setting(0x10), 0) << "the last write counts";
}

TEST(Writes, clock_frame_digits_become_a_date_and_time) {
    Tap t;
    std::array<std::uint8_t, 50> f{0xF1, 0x3D, 8, 0, 7, 4, 1, 2, 5, 1, 3, 0, 9, 0, 0};
    sealLong(f);
    ASSERT_EQ(f[49], 0x56);
    t.sim.feed(f);
    EXPECT_EQ(t.take(), kAck);
    const auto c = t.sim.clock();
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->valid);
    EXPECT_EQ(c->year, 2009);
    EXPECT_EQ(c->month, 3);
    EXPECT_EQ(c->day, 15);
    EXPECT_EQ(c->hour, 21);
    EXPECT_EQ(c->minute, 47);
    EXPECT_EQ(c->second, 8);
    EXPECT_EQ(c->weekday, 0);
}

TEST(Writes, clock_frame_with_impossible_digits_is_kept_but_not_valid) {
    const std::vector<std::array<std::uint8_t, 15>> bad = {
        {0xF1, 0x3D, 10, 0, 0, 0, 0, 0, 1, 0, 1, 0, 9, 0, 0},  // digit above 9
        {0xF1, 0x3D, 0, 0, 0, 0, 0, 0, 0, 3, 2, 0, 9, 0, 0},   // 30 February
        {0xF1, 0x3D, 0, 0, 0, 0, 4, 2, 1, 0, 1, 0, 9, 0, 0},   // hour 24
        {0xF1, 0x3D, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 9, 0, 7},   // weekday 7
    };
    for (const auto& head : bad) {
        Tap t;
        std::array<std::uint8_t, 50> f{};
        std::copy(head.begin(), head.end(), f.begin());
        sealLong(f);
        t.sim.feed(f);
        EXPECT_EQ(t.take(), kAck);
        ASSERT_TRUE(t.sim.clock());
        EXPECT_FALSE(t.sim.clock()->valid) << toHex(head);
    }
}

std::vector<std::uint8_t> screenFrame(std::uint8_t flags, std::uint8_t length, std::uint16_t x, std::uint16_t y,
                                      const std::string& text) {
    std::vector<std::uint8_t> f(51, 0);
    f[0] = 0xF1;
    f[1] = 0x6D;
    f[2] = flags;
    f[3] = length;
    f[4] = x & 0xFF;
    f[5] = static_cast<std::uint8_t>(x >> 8);
    f[6] = y & 0xFF;
    f[7] = static_cast<std::uint8_t>(y >> 8);
    for (std::size_t i = 0; i < text.size() && i < 40; ++i) f[8 + i] = static_cast<std::uint8_t>(text[i]);
    sealLong(f);
    return f;
}

TEST(Writes, screen_frame_remembers_text_position_and_flags) {
    Tap t;
    auto f = screenFrame(0x09, 2, 0, 1, "Hi");
    ASSERT_EQ(toHex(std::span(f).first(10)), "F1 6D 09 02 00 00 01 00 48 69");
    ASSERT_EQ(f[49], 0x1B);
    t.sim.feed(f);
    EXPECT_EQ(t.take(), kAck);
    ASSERT_EQ(t.sim.screenWrites().size(), 1u);
    const auto& w = t.sim.screenWrites().back();
    EXPECT_EQ(w.text, "Hi");
    EXPECT_EQ(w.x, 0);
    EXPECT_EQ(w.y, 1);
    EXPECT_TRUE(w.backlight());
    EXPECT_FALSE(w.bigFont());
    EXPECT_FALSE(w.clear());
    EXPECT_TRUE(w.beep());
}

TEST(Writes, screen_frame_long_text_carries_forty_characters_and_the_whole_length) {
    Tap t;
    const std::string text(60, 'x');
    t.sim.feed(screenFrame(0x06, 60, 300, 2, text));
    const auto& w = t.sim.screenWrites().back();
    EXPECT_EQ(w.length, 60);
    EXPECT_EQ(w.text, std::string(40, 'x'));
    EXPECT_EQ(w.x, 300);
    EXPECT_TRUE(w.bigFont());
    EXPECT_TRUE(w.clear());
}

TEST(Writes, screen_frame_with_overflowed_length_keeps_the_characters_it_carries) {
    Tap t;
    t.sim.feed(screenFrame(0, 0, 0, 0, "abc"));
    EXPECT_EQ(t.sim.screenWrites().back().text, "abc");
}

TEST(Writes, x10_frames_are_recorded_as_address_function_and_extended) {
    Tap t;
    t.send("C8 37 00 04 01 00 00 04");
    t.send("C8 37 00 12 01 00 00 12");
    t.send("C8 61 01 02 03 04 00 33");
    t.sim.feed(commandFrame(0x37, 2, 31, 1));  // preset dim: level code in the house byte
    using K = X10Transmission::Kind;
    const std::vector<X10Transmission> expected = {
        {.kind = K::Address, .house = 0, .key = 4, .value = 1, .data1 = 0, .data2 = 0},
        {.kind = K::Function, .house = 0, .key = 0x12, .value = 1, .data1 = 0, .data2 = 0},
        {.kind = K::Extended, .house = 1, .key = 2, .value = 0, .data1 = 3, .data2 = 4},
        {.kind = K::Function, .house = 2, .key = 31, .value = 1, .data1 = 0, .data2 = 0},
    };
    EXPECT_EQ(std::vector<X10Transmission>(t.sim.x10Sent().begin(), t.sim.x10Sent().end()), expected);
    EXPECT_EQ(t.take().size(), 12u) << "four acknowledgements and no reports by default";
}

TEST(Writes, transmitted_x10_is_reported_after_the_ack_when_configured) {
    ControllerConfig cfg;
    cfg.reportTransmittedX10 = true;
    Tap t(cfg);
    t.send("C8 37 00 04 01 00 00 04");
    EXPECT_EQ(t.take(), hex("06 00 06 FB 00 04"));
    t.send("C8 37 00 12 01 00 00 12");
    EXPECT_EQ(t.take(), hex("06 00 06 FB 00 12"));
    t.send("C8 61 01 02 03 04 00 33");
    EXPECT_EQ(t.take(), hex("06 00 06 FB 01 02 FB 01 17"));
}

TEST(Writes, ir_plays_are_recorded_by_output_module_and_location) {
    Tap t;
    t.send("C8 5A 2C 01 00 00 00 4F");
    t.send("C8 5C 04 02 2C 01 00 57");
    t.sim.feed(commandFrame(0x5A, 0, 0));
    const std::vector<IrPlay> expected = {
        {.remote = false, .module = 0, .output = 0, .location = 300},
        {.remote = true, .module = 4, .output = 2, .location = 300},
        {.remote = false, .module = 0, .output = 0, .location = 0},
    };
    EXPECT_EQ(std::vector<IrPlay>(t.sim.irPlays().begin(), t.sim.irPlays().end()), expected);
}

TEST(Writes, records_are_bounded_oldest_first_out) {
    ControllerConfig cfg;
    cfg.recordLimit = 3;
    Tap t(cfg);
    for (std::uint8_t v = 0; v < 5; ++v) t.sim.feed(commandFrame(0x29, 0, v));
    ASSERT_EQ(t.sim.frames().size(), 3u);
    EXPECT_EQ(t.sim.frames().front().bytes[3], 2);
    EXPECT_EQ(t.sim.emissions().size(), 3u);
    EXPECT_EQ(t.sim.repliesSent(), 5u);
}

TEST(Writes, frames_are_found_by_kind_code_and_selector) {
    Tap t;
    t.send("2A 00 00 8D B5 00 25 E9");
    t.send("C8 29 05 2C 01 00 00 23");
    t.send("2A 00 00 8F B7 00 2D EB");
    t.send("2A 00 00 8D B5 00 25 E9");
    EXPECT_EQ(t.sim.countOf(FrameKind::BlockRead), 3u);
    EXPECT_EQ(t.sim.blockReadsOf(kIoBuffer).size(), 2u);
    EXPECT_EQ(t.sim.countOf(FrameKind::Command, 0x29), 1u);
    EXPECT_EQ(t.sim.countOf(FrameKind::Command, 0x33), 0u);
    EXPECT_EQ(t.sim.framesOf(FrameKind::Command).size(), 1u);
}

}  // namespace
}  // namespace varnel::sim::test
