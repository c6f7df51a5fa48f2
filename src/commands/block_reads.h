#pragma once
// The I/O and variable images: refreshed by whole-buffer block reads, then
// answered from memory without talking to the controller.
#include <cstdint>
#include <optional>

#include "commands/command_state.h"
#include "link/frames.h"

namespace varnel {

// Selector of the controller's I/O buffer; the variable buffer's is learned at start-up.
inline constexpr std::uint8_t kIoSelector0 = 0x8D;
inline constexpr std::uint8_t kIoSelector1 = 0xB5;

// Refreshes the I/O image. True for a good reply, also one echoing another buffer.
bool PollIO(CommandLayer& ctx);
// Refreshes the variable image. True for a reply with a good CRC.
bool PollVars(CommandLayer& ctx);

// Module type at bus address unitnum + 1; 0 past the table, empty for a negative number.
std::optional<std::int16_t> GetUnit(CommandLayer& ctx, std::int16_t unitnum);
// Last polled value of a variable (0..128); throws std::out_of_range otherwise.
std::int32_t GetVar(CommandLayer& ctx, std::int16_t varnum);
// Digital points come from the I/O image, others from the controller's analog read.
std::int16_t GetPoint(CommandLayer& ctx, std::int16_t unit, std::int16_t point, bool digital);

// 1 when the point's bit in the I/O image is clear (the controller's inverted
// sense), 0 when set or for a module above 128.
std::int16_t ioPointLookup(const CommandLayer& ctx, int module, int point);
// Sets the point's bit for value 1, clears it for anything else; modules 1..128, points 0..15.
void ioPointStore(CommandLayer& ctx, int module, int point, int value);

}  // namespace varnel
