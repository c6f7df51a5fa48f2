// How the controller cuts the plug-in's byte stream into frames.
#include <gtest/gtest.h>

#include "link/frames.h"
#include "sim/frame_reader.h"
#include "sim_tap.h"

namespace varnel::sim::test {
namespace {

const std::string kSetVar = "C8 29 05 2C 01 00 00 23";
const std::string kIoRead = "2A 00 00 8D B5 00 25 E9";

std::vector<std::uint8_t> screenHi() {
    std::vector<std::uint8_t> f(51, 0);
    const auto head = hex("F1 6D 09 02 00 00 01 00 48 69");
    std::copy(head.begin(), head.end(), f.begin());
    f[49] = 0x1B;
    return f;
}

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
}

TEST(Framing, frame_fed_one_byte_at_a_time_is_answered) {
    Tap t;
    for (std::uint8_t b : hex(kIoRead)) t.sim.feed(std::span(&b, 1));
    EXPECT_EQ(t.out.size(), 264u);
    EXPECT_EQ(t.sim.countOf(FrameKind::BlockRead), 1u);
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

TEST(Framing, stray_bytes_are_skipped_and_counted) {
    Tap t;
    t.send("00 41 42 FF 06 " + kSetVar + " 13 37");
    EXPECT_EQ(t.take(), kAck);
    EXPECT_EQ(t.sim.strayBytes(), 7u);
    EXPECT_EQ(t.sim.invalidFrames(), 0u);
}

struct BadCheck {
    const char* name;
    std::string bytes;
};

class RejectsBadCheck : public ::testing::TestWithParam<BadCheck> {};

TEST_P(RejectsBadCheck, frame_with_bad_check_is_ignored_and_counted) {
    Tap t;
    t.send(GetParam().bytes);
    EXPECT_TRUE(t.out.empty());
    EXPECT_EQ(t.sim.invalidFrames(), 1u);
    EXPECT_TRUE(t.sim.frames().empty());
    EXPECT_EQ(t.sim.rejectedFrames().size(), 1u);
    EXPECT_EQ(t.sim.variable(5), 0) << "a rejected write must not be applied";
    t.send(kSetVar);
    EXPECT_EQ(t.take(), kAck) << "the next good frame is still found";
}

INSTANTIATE_TEST_SUITE_P(
    Checks, RejectsBadCheck,
    ::testing::Values(BadCheck{"command_sum", "C8 29 05 2C 01 00 00 24"},
                      BadCheck{"block_crc_high", "2A 00 00 8D B5 00 26 E9"},
                      BadCheck{"block_crc_low_first", "2A 00 00 8D B5 00 E9 25"},
                      BadCheck{"long_sum",
                               "F1 6D 09 02 00 00 01 00 48 69 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                               "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                               "00 1C"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Framing, rejected_lead_byte_does_not_hide_the_frame_behind_it) {
    Tap t;
    // A lone C8 makes the first eight bytes a bad frame; the real one starts one byte later.
    t.send("C8 " + kSetVar);
    EXPECT_EQ(t.take(), kAck);
    EXPECT_EQ(t.sim.invalidFrames(), 1u);
    EXPECT_EQ(t.sim.variable(5), 300);
}

TEST(Framing, screen_frame_trailing_zero_is_swallowed_even_when_it_comes_late) {
    Tap t;
    auto f = screenHi();
    t.sim.feed(std::span(f).first(50));
    EXPECT_EQ(t.take(), kAck);
    t.send("00");
    t.send(kSetVar);
    EXPECT_EQ(t.take(), kAck);
    EXPECT_EQ(t.sim.strayBytes(), 0u);
    EXPECT_EQ(t.sim.frames().size(), 2u);
}

TEST(Framing, only_one_zero_after_the_screen_frame_is_swallowed) {
    Tap t;
    auto f = screenHi();
    f.push_back(0x00);
    t.sim.feed(f);
    EXPECT_EQ(t.sim.strayBytes(), 1u);
}

TEST(Framing, other_long_frames_have_no_trailing_zero) {
    Tap t;
    std::array<std::uint8_t, 50> clock{0xF1, 0x3D};
    sealLong(clock);
    t.sim.feed(clock);
    t.send("00");
    EXPECT_EQ(t.sim.strayBytes(), 1u);
}

TEST(Framing, half_a_frame_on_a_quiet_line_is_given_up) {
    ControllerConfig cfg;
    cfg.idleResyncUs = 50'000;
    Tap t(cfg);
    // A long-frame lead byte wants 50 bytes; the real frame behind it is complete.
    t.send("F1 " + kSetVar);
    EXPECT_TRUE(t.out.empty());
    t.sim.manualClock().advanceUs(49'000);
    EXPECT_TRUE(t.out.empty());
    t.sim.manualClock().advanceUs(2'000);
    EXPECT_EQ(t.take(), kAck);
    EXPECT_EQ(t.sim.variable(5), 300);
}

TEST(Framing, bytes_that_keep_coming_are_not_given_up) {
    ControllerConfig cfg;
    cfg.idleResyncUs = 50'000;
    Tap t(cfg);
    const auto frame = hex(kSetVar);
    for (std::uint8_t b : frame) {
        t.sim.feed(std::span(&b, 1));
        t.sim.manualClock().advanceUs(40'000);
    }
    EXPECT_EQ(t.take(), kAck);
    EXPECT_EQ(t.sim.strayBytes(), 0u);
}

TEST(Framing, frame_lengths_by_first_byte) {
    EXPECT_EQ(frameLength(0xC8), 8u);
    EXPECT_EQ(frameLength(0xF1), 50u);
    EXPECT_EQ(frameLength(0x2A), 8u);
    EXPECT_EQ(frameLength(0x06), 0u);
    EXPECT_EQ(frameLength(0xF0), 0u);
}

TEST(Hex, parses_and_prints_frames) {
    EXPECT_EQ(toHex(hex("2a 00 00 8f b7 00 2d eb")), "2A 00 00 8F B7 00 2D EB");
    EXPECT_EQ(parseHex("")->size(), 0u);
    EXPECT_FALSE(parseHex("2A0"));
    EXPECT_FALSE(parseHex("2A 0G"));
    EXPECT_FALSE(parseHex("2A00"));
}

}  // namespace
}  // namespace varnel::sim::test
