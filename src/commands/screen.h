#pragma once
// Leopard screen text, touch reporting, and the raw send every command frame leaves through.
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "commands/command_state.h"
#include "link/frames.h"

namespace varnel {

inline constexpr std::size_t kScreenTextBytes = 40;

// The 50-byte long frame followed by one zero byte, which the screen expects:
//   F1 6D | flags | text length | x lo hi | y lo hi | 40 text bytes | 00 | sum | 00
// flags: bit 0 backlight, bit 1 font 1, bit 2 clear, bit 3 beep. A value no
// byte can hold (text over 255, negative coordinates) goes out as 0. The text goes
// out in Windows-1252 (see toCodePage), a character it lacks as 0.
using ScreenFrame = std::array<std::uint8_t, 51>;
ScreenFrame screenFrame(std::int16_t x, std::int16_t y, const std::string& txt, bool backlight, std::int16_t font,
                        bool clear, bool beep);
//   C8 28 06 00 | mode | 00 00 | sum
CommandFrame touchFrame(std::int16_t mode);

// Puts text on the screen and waits for the answer, whatever it is. Always 0.
std::int16_t WriteScreen(CommandLayer& ctx, std::int16_t x, std::int16_t y, const std::string& txt, bool backlight,
                         std::int16_t font, bool clear, bool beep);
void EnableTouch(CommandLayer& ctx, std::int16_t mode);
// Sends `buf` unchanged while the port is open; nothing is added, nothing awaited. Always 0.
std::int16_t xasend(CommandLayer& ctx, std::span<const std::uint8_t> buf);

}  // namespace varnel
