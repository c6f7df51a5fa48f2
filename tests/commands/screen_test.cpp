#include "commands/screen.h"
#include "command_rig.h"

namespace varnel {
namespace {

using test::Bytes;
using Screen = test::CommandTest;

TEST_F(Screen, hi_at_0_1_with_backlight_and_beep) {
    EXPECT_EQ(WriteScreen(rig.ctx, 0, 1, "Hi", true, 0, false, true), 0);
    Bytes expected{0xF1, 0x6D, 0x09, 0x02, 0x00, 0x00, 0x01, 0x00, 0x48, 0x69};
    expected.resize(49, 0x00);
    expected.insert(expected.end(), {0x1B, 0x00});
    EXPECT_EQ(far.frames(), (std::vector<Bytes>{expected}));
    EXPECT_EQ(rig.ctx.gate.busy, 0);
}

TEST(ScreenFrames, flags_follow_each_option_and_coordinates_go_low_byte_first_or_zero_when_negative) {
    struct Case {
        std::int16_t x, y;
        bool backlight;
        std::int16_t font;
        bool clear, beep;
        Bytes bytes2to7;
    };
    for (const Case& c : {Case{300, 2, false, 0, false, false, {0x00, 0, 0x2C, 0x01, 0x02, 0x00}},
                          Case{32767, 256, false, 1, false, false, {0x02, 0, 0xFF, 0x7F, 0x00, 0x01}},
                          Case{-1, -300, false, 2, true, false, {0x04, 0, 0, 0, 0, 0}},
                          Case{0, 0, true, 1, true, true, {0x0F, 0, 0, 0, 0, 0}}}) {
        const auto f = screenFrame(c.x, c.y, "", c.backlight, c.font, c.clear, c.beep);
        EXPECT_EQ(Bytes(f.begin() + 2, f.begin() + 8), c.bytes2to7) << c.x << "," << c.y;
    }
}

TEST(ScreenFrames, long_text_is_cut_to_40_but_keeps_its_length) {
    // The checksum sums bytes 0 to 48, the length byte with them.
    for (const auto& [length, lengthByte, checksum] :
         {std::tuple<std::size_t, int, int>{40, 40, 0x4E}, {255, 255, 0x25}, {256, 0, 0x26}}) {
        std::string txt;
        for (std::size_t i = 0; i < length; ++i) txt += static_cast<char>('A' + i % 26);
        const auto f = screenFrame(0, 0, txt, false, 0, false, false);
        EXPECT_EQ(f[3], lengthByte) << length;
        EXPECT_EQ(std::string(f.begin() + 8, f.begin() + 48), txt.substr(0, 40)) << length;
        EXPECT_EQ((std::array<int, 3>{f[48], f[49], f[50]}), (std::array<int, 3>{0, checksum, 0})) << length;
    }
}

// The conversion itself is the code page's test; here: it is applied and the length counts characters.
TEST(ScreenFrames, text_goes_out_one_windows_1252_byte_per_character) {
    struct Case {
        const char* name;
        std::string txt;
        int lengthByte;
        Bytes text;  // the first bytes of the text field
    };
    const Case cases[] = {
        {"UTF-8 accents and euro", "caf\xC3\xA9 \xE2\x82\xAC", 6, {'c', 'a', 'f', 0xE9, ' ', 0x80}},
        {"outside the code page", "\xE6\x97\xA5x\xF0\x9F\x98\x80", 3, {0x00, 'x', 0x00}},
    };
    for (const auto& c : cases) {
        const auto f = screenFrame(0, 0, c.txt, false, 0, false, false);
        EXPECT_EQ(f[3], c.lengthByte) << c.name;
        EXPECT_EQ(Bytes(f.begin() + 8, f.begin() + 8 + static_cast<std::ptrdiff_t>(c.text.size())), c.text) << c.name;
        EXPECT_EQ(f[8 + c.text.size()], 0x00) << c.name;
    }
    // 45 two-byte characters: 45 in the length, the first 40 of them in the frame.
    std::string many;
    for (int i = 0; i < 45; ++i) many += "\xC3\xA9";
    const auto f = screenFrame(0, 0, many, false, 0, false, false);
    EXPECT_EQ(f[3], 45);
    EXPECT_EQ(Bytes(f.begin() + 8, f.begin() + 48), Bytes(40, 0xE9));
}

TEST_F(Screen, enable_touch_sends_mode_in_byte_4) {
    EnableTouch(rig.ctx, 1);
    EnableTouch(rig.ctx, 300);
    EXPECT_EQ(far.frames(), (std::vector<Bytes>{{0xC8, 0x28, 0x06, 0x00, 0x01, 0x00, 0x00, 0xF7},
                                                {0xC8, 0x28, 0x06, 0x00, 0x00, 0x00, 0x00, 0xF6}}));
    EXPECT_EQ(rig.ctx.gate.busy, 0);
}

TEST_F(Screen, xasend_passes_bytes_unchanged_and_waits_for_nothing) {
    const Bytes raw{0x01, 0xC8, 0xFF};
    EXPECT_EQ(xasend(rig.ctx, raw), 0);
    EXPECT_EQ(rig.loop.tickMs() + rig.ctx.gate.busy, 0);
    rig.ctx.link.portOpen = false;
    EXPECT_EQ(xasend(rig.ctx, raw), 0);
    EXPECT_EQ(far.frames(), (std::vector<Bytes>{raw})) << "nothing while the port is closed";
}

}  // namespace
}  // namespace varnel
