#pragma once
// Analog readings and module parameters: a request tells the controller what to
// collect from the modules, a block read of its value buffer fetches it.
// Also the two small accessors of the link's timing state.
#include <cstdint>

#include "commands/command_state.h"
#include "link/frames.h"

namespace varnel {

inline constexpr std::uint8_t kValueSelector0 = 0x8B;
inline constexpr std::uint8_t kValueSelector1 = 0xB4;

//   C8 1F | selector | 00 00 00 00 | sum
// Analog channels are selected by point + 10, parameters by number - 1;
// a selector no byte can hold goes out as 0.
CommandFrame requestFrame(int selector);

std::int16_t StartGetAnalog(CommandLayer& ctx, std::int16_t unit, std::int16_t point);
// Low byte of the module's value from the value buffer as it stands; -1 after a time-out.
std::int16_t GetAnalogInputValue(CommandLayer& ctx, std::int16_t unit, std::int16_t point);
// Requests the channel, lets the modules answer for a second, then reads; 0 after a time-out.
std::int16_t GetAnalogInput(CommandLayer& ctx, std::int16_t unit, std::int16_t point);
// The module's 16-bit parameter; three attempts, -1 when all time out.
std::int32_t GetParameter(CommandLayer& ctx, std::int16_t unit, std::int16_t pnum);
Bool16 IsBusy(const CommandLayer& ctx);
void SetTimeOut(CommandLayer& ctx, std::int16_t seconds);

}  // namespace varnel
