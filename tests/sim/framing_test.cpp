// How the controller cuts the plug-in's byte stream into frames: only whole frames
// with a right check are acted on, so the engine tests see every wrong byte.
#include <gtest/gtest.h>

#include "link/frames.h"
#include "sim_tap.h"

namespace varnel::sim::test {
namespace {

TEST(Framing, a_frame_split_anywhere_is_answered_once_and_stray_bytes_are_skipped) {
    const auto frame = hex(kSetVar);
    for (std::size_t cut = 1; cut < frame.size(); ++cut) {
        Tap t;
        t.sim.feed(std::span(frame).first(cut));
        EXPECT_TRUE(t.out.empty()) << "answered half a frame cut at " << cut;
        t.sim.feed(std::span(frame).subspan(cut));
        EXPECT_EQ(t.take(), kAck) << "cut at " << cut;
    }
    // A lone C8 makes the first eight bytes a bad frame; the real one starts one byte later.
    const struct {
        std::string bytes;
        std::size_t stray, invalid;
    } cases[] = {{"00 41 42 FF 06 " + kSetVar + " 13 37", 7, 0}, {"C8 " + kSetVar, 0, 1}};
    for (const auto& c : cases) {
        Tap t;
        t.send(c.bytes);
        EXPECT_EQ(t.take(), kAck) << c.bytes;
        EXPECT_EQ(t.sim.strayBytes(), c.stray) << c.bytes;
        EXPECT_EQ(t.sim.invalidFrames(), c.invalid) << c.bytes;
        EXPECT_EQ(t.sim.variable(5), 300) << c.bytes;
    }
}

TEST(Framing, a_frame_with_a_bad_check_is_neither_answered_nor_applied) {
    std::string longSum = "F1 6D 09 02 00 00 01 00 48 69";
    for (int i = 10; i < 49; ++i) longSum += " 00";
    for (const std::string& bytes : {std::string("C8 29 05 2C 01 00 00 24"), std::string("2A 00 00 8D B5 00 26 E9"),
                                     std::string("2A 00 00 8D B5 00 E9 25"), longSum + " 1C"}) {
        Tap t;
        t.send(bytes);
        EXPECT_TRUE(t.out.empty()) << bytes;
        EXPECT_EQ(t.sim.invalidFrames(), 1u) << bytes;
        EXPECT_EQ(t.sim.variable(5), 0) << bytes;
        t.send(kSetVar);
        EXPECT_EQ(t.take(), kAck) << bytes << ": the next good frame is still found";
    }
}

TEST(Framing, half_a_frame_on_a_quiet_line_is_given_up) {
    ControllerConfig cfg;
    cfg.idleResyncUs = 50'000;
    Tap t(cfg);
    t.send("F1 " + kSetVar);  // a long-frame lead byte wants 50 bytes
    t.sim.manualClock().advanceUs(49'000);
    EXPECT_TRUE(t.out.empty());
    t.sim.manualClock().advanceUs(2'000);
    EXPECT_EQ(t.take(), kAck);
}

}  // namespace
}  // namespace varnel::sim::test
