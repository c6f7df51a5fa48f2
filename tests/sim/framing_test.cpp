// How the controller cuts the plug-in's byte stream into frames.
#include <gtest/gtest.h>

#include <tuple>

#include "link/frames.h"
#include "sim/frame_reader.h"
#include "sim_tap.h"

namespace varnel::sim::test {
namespace {

std::vector<std::uint8_t> screenHi() { return screenFrame(0x09, 2, 0, 1, "Hi"); }

TEST(Framing, frame_split_at_every_position_is_answered_once) {
    const auto frame = hex(kSetVar);
    for (std::size_t cut = 1; cut < frame.size(); ++cut) {
        Tap t;
        t.sim.feed(std::span(frame).first(cut));
        EXPECT_TRUE(t.out.empty()) << "answered half a frame cut at " << cut;
        t.sim.feed(std::span(frame).subspan(cut));
        EXPECT_EQ(t.take(), kAck) << "cut at " << cut;
        EXPECT_EQ(t.sim.variable(5), 300);
    }
    Tap t;
    for (std::uint8_t b : hex(kIoRead)) t.sim.feed(std::span(&b, 1));
    EXPECT_EQ(t.out.size(), 264u) << "fed one byte at a time";
}

TEST(Framing, joined_frames_are_each_answered_in_order) {
    Tap t;
    auto bytes = hex(kSetVar + " " + kIoRead + " C8 28 06 00 01 00 00 F7");
    const auto screen = screenHi();
    bytes.insert(bytes.end(), screen.begin(), screen.end());
    t.sim.feed(bytes);
    ASSERT_EQ(t.pieces.size(), 4u);
    EXPECT_EQ(t.pieces[0].bytes, kAck);
    EXPECT_EQ(t.pieces[1].bytes.size(), 264u);
    EXPECT_EQ(t.pieces[2].bytes, kAck);
    EXPECT_EQ(t.pieces[3].bytes, kAck);
    ASSERT_EQ(t.sim.frames().size(), 4u);
    EXPECT_EQ(t.sim.frames()[0].code(), 0x29);
    EXPECT_EQ(t.sim.frames()[1].kind, FrameKind::BlockRead);
    EXPECT_EQ(t.sim.frames()[2].code(), 0x28);
    EXPECT_EQ(t.sim.frames()[3].code(), 0x6D);
    EXPECT_EQ(t.sim.strayBytes(), 0u) << "the screen frame's trailing zero is part of it";
}

TEST(Framing, bytes_ahead_of_a_frame_are_skipped_and_counted) {
    const std::tuple<const char*, std::string, std::size_t, std::size_t> cases[] = {
        {"stray bytes around it", "00 41 42 FF 06 " + kSetVar + " 13 37", 7, 0},
        // A lone C8 makes the first eight bytes a bad frame; the real one starts one byte later.
        {"rejected lead byte", "C8 " + kSetVar, 0, 1},
    };
    for (const auto& [what, bytes, stray, invalid] : cases) {
        Tap t;
        t.send(bytes);
        EXPECT_EQ(t.take(), kAck) << what;
        EXPECT_EQ(t.sim.strayBytes(), stray) << what;
        EXPECT_EQ(t.sim.invalidFrames(), invalid) << what;
        EXPECT_EQ(t.sim.variable(5), 300) << what;
    }
}

TEST(Framing, frame_with_bad_check_is_ignored_and_counted) {
    std::string longSum = "F1 6D 09 02 00 00 01 00 48 69";
    for (int i = 10; i < 49; ++i) longSum += " 00";
    const std::pair<const char*, std::string> cases[] = {{"command sum", "C8 29 05 2C 01 00 00 24"},
                                                         {"block crc", "2A 00 00 8D B5 00 26 E9"},
                                                         {"block crc low first", "2A 00 00 8D B5 00 E9 25"},
                                                         {"long sum", longSum + " 1C"}};
    for (const auto& [name, bytes] : cases) {
        Tap t;
        t.send(bytes);
        EXPECT_TRUE(t.out.empty()) << name;
        EXPECT_EQ(t.sim.invalidFrames(), 1u) << name;
        EXPECT_TRUE(t.sim.frames().empty()) << name;
        EXPECT_EQ(t.sim.rejectedFrames().size(), 1u) << name;
        EXPECT_EQ(t.sim.variable(5), 0) << name << ": a rejected write must not be applied";
        t.send(kSetVar);
        EXPECT_EQ(t.take(), kAck) << name << ": the next good frame is still found";
    }
}

TEST(Framing, only_the_screen_frame_has_one_trailing_zero_even_when_it_comes_late) {
    Tap t;
    auto f = screenHi();
    t.sim.feed(std::span(f).first(50));
    EXPECT_EQ(t.take(), kAck);
    t.send("00 " + kSetVar);
    EXPECT_EQ(t.take(), kAck);
    EXPECT_EQ(t.sim.strayBytes(), 0u);
    t.sim.feed(f);
    t.send("00");
    EXPECT_EQ(t.sim.strayBytes(), 1u) << "a second zero is stray";
    std::array<std::uint8_t, 50> clock{0xF1, 0x3D};
    sealLong(clock);
    t.sim.feed(clock);
    t.send("00");
    EXPECT_EQ(t.sim.strayBytes(), 2u) << "the clock frame has no trailing zero";
}

TEST(Framing, half_a_frame_on_a_quiet_line_is_given_up_but_a_slow_one_is_not) {
    ControllerConfig cfg;
    cfg.idleResyncUs = 50'000;
    Tap t(cfg);
    // A long-frame lead byte wants 50 bytes; the real frame behind it is complete.
    t.send("F1 " + kSetVar);
    t.sim.manualClock().advanceUs(49'000);
    EXPECT_TRUE(t.out.empty());
    t.sim.manualClock().advanceUs(2'000);
    EXPECT_EQ(t.take(), kAck);
    EXPECT_EQ(t.sim.variable(5), 300);

    const auto stray = t.sim.strayBytes();
    for (std::uint8_t b : hex(kSetVar)) {
        t.sim.feed(std::span(&b, 1));
        t.sim.manualClock().advanceUs(40'000);
    }
    EXPECT_EQ(t.take(), kAck);
    EXPECT_EQ(t.sim.strayBytes(), stray);
}

TEST(Hex, parses_and_prints_frames) {
    EXPECT_EQ(toHex(hex("2a 00 00 8f b7 00 2d eb")), "2A 00 00 8F B7 00 2D EB");
    EXPECT_EQ(parseHex("")->size(), 0u);
    for (const char* bad : {"2A0", "2A 0G", "2A00"}) EXPECT_FALSE(parseHex(bad)) << bad;
}

}  // namespace
}  // namespace varnel::sim::test
