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

TEST(Writes, variable_write_stores_value_low_byte_first_and_ignores_numbers_past_127) {
    Tap t;
    t.send("C8 29 05 2C 01 00 00 23");
    t.sim.feed(commandFrame(0x29, 127, 0xFF, 0xFF));
    EXPECT_EQ(t.sim.variable(5), 300);
    EXPECT_EQ(t.sim.variable(127), 65535);
    t.sim.feed(commandFrame(0x29, 128, 1, 0));
    t.sim.feed(commandFrame(0x29, 255, 1, 0));
    EXPECT_EQ(toHex(t.take()), "06 00 06 06 00 06 06 00 06 06 00 06");
    for (int i = 0; i < kVariableCount; ++i) EXPECT_EQ(t.sim.variable(i), i == 5 ? 300 : i == 127 ? 65535 : 0);
}

TEST(Writes, point_write_changes_the_io_buffer) {
    struct Case {
        std::uint8_t module, point, value;
        int byteIndex;
        std::uint8_t expected;
    };
    for (const Case& c : {Case{3, 2, 1, 4, 0x14}, Case{3, 2, 100, 4, 0x14}, Case{3, 4, 0, 4, 0x00},
                          Case{3, 9, 1, 5, 0x02}, Case{1, 15, 1, 1, 0x80}, Case{128, 0, 1, 254, 0x01},
                          Case{0, 0, 1, 4, 0x10}, Case{129, 0, 1, 4, 0x10}, Case{3, 16, 1, 4, 0x10}}) {
        ControllerConfig cfg;
        cfg.io[4] = 0x10;  // module 3, point 4 already set
        Tap t(cfg);
        t.sim.feed(commandFrame(0x33, c.module, c.point, c.value));
        EXPECT_EQ(t.take(), kAck);
        t.send("2A 00 00 8D B5 00 25 E9");
        EXPECT_EQ(t.take().at(6 + c.byteIndex), c.expected) << int{c.module} << "/" << int{c.point};
    }
}

TEST(Writes, secu16_outputs_are_written_by_output_number_and_changes_reported_when_configured) {
    ControllerConfig cfg;
    cfg.modules = {{1, ModuleType::Secu16}, {3, ModuleType::Relay08}};
    cfg.reportOutputWrites = true;
    Tap t(cfg);
    t.sim.feed(commandFrame(0x33, 1, 2, 1));  // output 2 of the SECU16 is its point 10
    EXPECT_EQ(t.take(), hex("06 00 06 F0 01 0A 01"));
    EXPECT_TRUE(t.sim.memory().rawPoint(1, 10));
    EXPECT_FALSE(t.sim.memory().rawPoint(1, 2));
    t.sim.feed(commandFrame(0x33, 1, 2, 1));
    EXPECT_EQ(t.take(), kAck) << "no change, no report";
    t.sim.feed(commandFrame(0x33, 3, 2, 1));  // a RELAY-08's outputs are its points 0-7
    EXPECT_TRUE(t.sim.memory().rawPoint(3, 2));
}

TEST(Writes, settings_frames_are_remembered_by_setting) {
    Tap t;
    t.send("C8 28 10 00 02 00 00 02");  // I/O start
    t.send("C8 28 06 00 01 00 00 F7");  // touch mode 1
    EXPECT_EQ(t.sim.setting(0x10), 2);
    EXPECT_EQ(t.sim.touchMode(), 1);
    EXPECT_FALSE(t.sim.setting(0x99));
    EXPECT_EQ(t.sim.settingWrites().at(0), (SettingWrite{0x10, 2}));
    t.sim.feed(commandFrame(0x28, 0x10, 0, 0));
    EXPECT_EQ(t.sim.setting(0x10), 0) << "the last write counts";
}

TEST(Writes, clock_frame_digits_become_a_date_and_time_or_are_kept_as_not_valid) {
    Tap t;
    std::array<std::uint8_t, 50> f{0xF1, 0x3D, 8, 0, 7, 4, 1, 2, 5, 1, 3, 0, 9, 0, 0};
    sealLong(f);
    ASSERT_EQ(f[49], 0x56);
    t.sim.feed(f);
    EXPECT_EQ(t.take(), kAck);
    const auto c = t.sim.clock();
    ASSERT_TRUE(c && c->valid);
    EXPECT_EQ((std::array<int, 7>{c->year, c->month, c->day, c->hour, c->minute, c->second, c->weekday}),
              (std::array<int, 7>{2009, 3, 15, 21, 47, 8, 0}));

    const std::vector<std::array<std::uint8_t, 15>> bad = {
        {0xF1, 0x3D, 10, 0, 0, 0, 0, 0, 1, 0, 1, 0, 9, 0, 0},  // digit above 9
        {0xF1, 0x3D, 0, 0, 0, 0, 0, 0, 0, 3, 2, 0, 9, 0, 0},   // 30 February
        {0xF1, 0x3D, 0, 0, 0, 0, 4, 2, 1, 0, 1, 0, 9, 0, 0},   // hour 24
        {0xF1, 0x3D, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 9, 0, 7},   // weekday 7
    };
    for (const auto& head : bad) {
        f.fill(0);
        std::copy(head.begin(), head.end(), f.begin());
        sealLong(f);
        t.sim.feed(f);
        EXPECT_EQ(t.take(), kAck);
        ASSERT_TRUE(t.sim.clock());
        EXPECT_FALSE(t.sim.clock()->valid) << toHex(head);
    }
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
    EXPECT_EQ(w.y, 1);
    EXPECT_TRUE(w.backlight() && w.beep() && !w.bigFont() && !w.clear());

    t.sim.feed(screenFrame(0x06, 60, 300, 2, std::string(60, 'x')));
    const auto& l = t.sim.screenWrites().back();
    EXPECT_EQ(l.length, 60);
    EXPECT_EQ(l.text, std::string(40, 'x')) << "forty characters carried, the whole length told";
    EXPECT_EQ(l.x, 300);
    EXPECT_TRUE(l.bigFont() && l.clear());

    t.sim.feed(screenFrame(0, 0, 0, 0, "abc"));
    EXPECT_EQ(t.sim.screenWrites().back().text, "abc") << "an overflowed length keeps what is carried";
}

TEST(Writes, x10_frames_are_recorded_and_reported_after_the_ack_when_configured) {
    for (bool report : {false, true}) {
        ControllerConfig cfg;
        cfg.reportTransmittedX10 = report;
        Tap t(cfg);
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
        EXPECT_EQ(toHex(t.take()), report ? "06 00 06 FB 00 04 06 00 06 FB 00 12 06 00 06 FB 01 02 FB 01 17 "
                                            "06 00 06 FB 02 1F"
                                          : "06 00 06 06 00 06 06 00 06 06 00 06");
    }
}

TEST(Writes, ir_plays_are_recorded_by_output_module_and_location) {
    Tap t;
    t.send("C8 5A 2C 01 00 00 00 4F");
    t.send("C8 5C 04 02 2C 01 00 57");
    const std::vector<IrPlay> expected = {
        {.remote = false, .module = 0, .output = 0, .location = 300},
        {.remote = true, .module = 4, .output = 2, .location = 300},
    };
    EXPECT_EQ(std::vector<IrPlay>(t.sim.irPlays().begin(), t.sim.irPlays().end()), expected);
}

TEST(Writes, records_are_bounded_oldest_first_out_and_found_by_kind_code_and_selector) {
    ControllerConfig cfg;
    cfg.recordLimit = 3;
    Tap t(cfg);
    for (std::uint8_t v = 0; v < 5; ++v) t.sim.feed(commandFrame(0x29, 0, v));
    ASSERT_EQ(t.sim.frames().size(), 3u);
    EXPECT_EQ(t.sim.frames().front().bytes[3], 2);
    EXPECT_EQ(t.sim.emissions().size(), 3u);
    EXPECT_EQ(t.sim.repliesSent(), 5u);

    t.send("2A 00 00 8D B5 00 25 E9");
    t.send("2A 00 00 8F B7 00 2D EB");
    t.send("2A 00 00 8D B5 00 25 E9");
    EXPECT_EQ(t.sim.countOf(FrameKind::BlockRead), 3u);
    EXPECT_EQ(t.sim.blockReadsOf(kIoBuffer).size(), 2u);
    EXPECT_EQ(t.sim.countOf(FrameKind::Command, 0x29), 0u);
}

}  // namespace
}  // namespace varnel::sim::test
