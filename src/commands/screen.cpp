#include "commands/screen.h"

#include <algorithm>

#include "commands/exchange.h"
#include "support/codepage.h"

namespace varnel {

ScreenFrame screenFrame(std::int16_t x, std::int16_t y, const std::string& txt, bool backlight, std::int16_t font,
                        bool clear, bool beep) {
    ScreenFrame f{};
    f[0] = kLongFrame;
    f[1] = 0x6D;
    f[2] = static_cast<std::uint8_t>((backlight ? 1 : 0) | (font == 1 ? 2 : 0) | (clear ? 4 : 0) | (beep ? 8 : 0));
    // The screen shows single bytes: length and cut count characters, not UTF-8 bytes.
    const std::string text = toCodePage(txt);
    f[3] = byteOrZero(static_cast<double>(text.size()));
    if (x >= 0) {
        f[4] = static_cast<std::uint8_t>(x % 256);
        f[5] = static_cast<std::uint8_t>(x / 256);
    }
    if (y >= 0) {
        f[6] = static_cast<std::uint8_t>(y % 256);
        f[7] = static_cast<std::uint8_t>(y / 256);
    }
    const std::size_t n = std::min(text.size(), kScreenTextBytes);
    std::copy_n(text.begin(), n, f.begin() + 8);
    sealLong(f);
    return f;
}

CommandFrame touchFrame(std::int16_t mode) { return commandFrame(0x28, 0x06, 0x00, byteOrZero(mode)); }

std::int16_t WriteScreen(CommandLayer& ctx, std::int16_t x, std::int16_t y, const std::string& txt, bool backlight,
                         std::int16_t font, bool clear, bool beep) {
    BusyGuard busy(ctx.gate);
    sendAwaitAck(ctx, screenFrame(x, y, txt, backlight, font, clear, beep));
    return 0;
}

void EnableTouch(CommandLayer& ctx, std::int16_t mode) {
    BusyGuard busy(ctx.gate);
    sendAwaitAck(ctx, touchFrame(mode));
}

std::int16_t xasend(CommandLayer& ctx, std::span<const std::uint8_t> buf) { return SendBytes(ctx, buf); }

}  // namespace varnel
