#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "commands/screen.h"
#include "rig.h"
#include "scripted_controller.h"

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ScriptedController;

std::uint8_t sum49(const Bytes& f) { return static_cast<std::uint8_t>(std::accumulate(f.begin(), f.begin() + 49, 0u)); }

struct Screen : ::testing::Test {
    test::Rig rig;
    ScriptedController far{rig};
};

TEST_F(Screen, hi_at_0_1_with_backlight_and_beep) {
    EXPECT_EQ(WriteScreen(rig.ctx, 0, 1, "Hi", true, 0, false, true), 0);
    Bytes expected{0xF1, 0x6D, 0x09, 0x02, 0x00, 0x00, 0x01, 0x00, 0x48, 0x69};
    expected.resize(49, 0x00);
    expected.push_back(0x1B);
    expected.push_back(0x00);
    ASSERT_EQ(far.frames().size(), 1u);
    EXPECT_EQ(far.frames()[0], expected);
    EXPECT_EQ(far.frames()[0].size(), 51u);
    EXPECT_EQ(rig.ctx.link.busy, 0);
}

TEST(ScreenFrames, flag_bits_follow_each_option) {
    struct Case {
        bool backlight;
        std::int16_t font;
        bool clear, beep;
        std::uint8_t flags;
    };
    for (const Case& c : {Case{false, 0, false, false, 0x00}, Case{true, 0, false, false, 0x01},
                          Case{false, 1, false, false, 0x02}, Case{false, 2, false, false, 0x00},
                          Case{false, 0, true, false, 0x04}, Case{false, 0, false, true, 0x08},
                          Case{true, 1, true, true, 0x0F}}) {
        const auto f = screenFrame(0, 0, "", c.backlight, c.font, c.clear, c.beep);
        EXPECT_EQ(f[2], c.flags) << c.backlight << c.font << c.clear << c.beep;
    }
}

TEST(ScreenFrames, coordinates_low_byte_first_and_zero_when_negative) {
    struct Case {
        std::int16_t x, y;
        std::array<std::uint8_t, 4> bytes;
    };
    for (const Case& c : {Case{300, 2, {0x2C, 0x01, 0x02, 0x00}}, Case{32767, 256, {0xFF, 0x7F, 0x00, 0x01}},
                          Case{-1, -300, {0x00, 0x00, 0x00, 0x00}}}) {
        const auto f = screenFrame(c.x, c.y, "", false, 0, false, false);
        EXPECT_EQ((std::array<std::uint8_t, 4>{f[4], f[5], f[6], f[7]}), c.bytes) << c.x << "," << c.y;
    }
}

TEST(ScreenFrames, long_text_is_cut_to_40_but_keeps_its_length) {
    struct Case {
        std::size_t length;
        std::uint8_t lengthByte;
    };
    for (const Case& c : {Case{40, 40}, Case{41, 41}, Case{60, 60}, Case{255, 255}, Case{256, 0}, Case{300, 0}}) {
        std::string txt;
        for (std::size_t i = 0; i < c.length; ++i) txt += static_cast<char>('A' + i % 26);
        const auto f = screenFrame(0, 0, txt, false, 0, false, false);
        const Bytes frame(f.begin(), f.end());
        EXPECT_EQ(frame[3], c.lengthByte) << c.length;
        EXPECT_EQ(std::string(frame.begin() + 8, frame.begin() + 48), txt.substr(0, 40)) << c.length;
        EXPECT_EQ(frame[48], 0x00);
        EXPECT_EQ(frame[49], sum49(frame)) << c.length;
        EXPECT_EQ(frame[50], 0x00);
    }
}

TEST_F(Screen, no_answer_waits_response_timeout_and_still_returns_zero) {
    far.ackByDefault = false;
    EXPECT_EQ(WriteScreen(rig.ctx, 1, 1, "x", false, 0, false, false), 0);
    EXPECT_EQ(rig.loop.tickMs(), 4000);
    EXPECT_EQ(rig.ctx.link.busy, 0);
}

TEST_F(Screen, enable_touch_sends_mode_in_byte_4) {
    struct Case {
        std::int16_t mode;
        Bytes frame;
    };
    for (const Case& c : {Case{1, {0xC8, 0x28, 0x06, 0x00, 0x01, 0x00, 0x00, 0xF7}},
                          Case{0, {0xC8, 0x28, 0x06, 0x00, 0x00, 0x00, 0x00, 0xF6}},
                          Case{300, {0xC8, 0x28, 0x06, 0x00, 0x00, 0x00, 0x00, 0xF6}}}) {
        rig.port.written.clear();
        EnableTouch(rig.ctx, c.mode);
        ASSERT_EQ(far.frames().size(), 1u);
        EXPECT_EQ(far.frames()[0], c.frame) << c.mode;
        EXPECT_EQ(rig.ctx.link.busy, 0);
    }
}

TEST_F(Screen, xasend_passes_bytes_unchanged_and_waits_for_nothing) {
    const Bytes raw{0x01, 0xC8, 0xFF};
    EXPECT_EQ(xasend(rig.ctx, raw), 0);
    EXPECT_EQ(far.frames(), (std::vector<Bytes>{raw}));
    EXPECT_EQ(rig.loop.tickMs(), 0);
    EXPECT_EQ(rig.ctx.link.busy, 0);
}

TEST_F(Screen, xasend_while_port_closed_sends_nothing) {
    rig.ctx.link.portOpen = false;
    EXPECT_EQ(xasend(rig.ctx, Bytes{0xC8, 0x01}), 0);
    EXPECT_TRUE(far.frames().empty());
}

}  // namespace
}  // namespace varnel
