#pragma once
// X10 transmit: one host command becomes address frames, one per unit, and a
// function frame, each acknowledged before the next goes out.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/command_state.h"
#include "link/frames.h"

namespace varnel {

//   address   C8 37 | house | unit - 1 | 01 | 00 00 | sum
//   function  C8 37 | house or level code | function code | value | 00 00 | sum
//   extended  C8 61 | house | unit - 1 | data1 | data2 | 00 | sum
// A byte that cannot hold its value (unit 0, unit above 256) goes out as 0.
CommandFrame x10AddressFrame(int house, double unit);
CommandFrame x10FunctionFrame(int houseOrLevel, int code, int value);
CommandFrame x10ExtendedFrame(int house, double unit, int data1, int data2);

// The frames for one command, and the command and brightness as the command
// rewrites them (preset dim folds its level into both).
struct X10Plan {
    std::vector<CommandFrame> frames;
    std::int16_t command = 0;
    std::int16_t brightness = 0;
};
// Nothing for a house that is no X10 house (empty, below A, R and later).
std::optional<X10Plan> planX10(std::string_view house, std::string_view device, std::int16_t command,
                               std::int16_t brightness, std::int16_t data1, std::int16_t data2,
                               const std::array<std::int16_t, 16>& presetDim);

// Sends one queued X10 command under the X10 send flag; the rewritten command
// and brightness go back to the caller. Always 0.
std::int16_t x10Send(CommandLayer& ctx, const std::string& house, const std::string& device, std::int16_t& command,
                     std::int16_t& brightness, std::int16_t data1, std::int16_t data2);

}  // namespace varnel
