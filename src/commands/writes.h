#pragma once
// Writes of one controller variable and one output point.
#include <cstdint>

#include "commands/command_state.h"
#include "link/frames.h"

namespace varnel {

//   C8 29 | variable | value low | value high | 00 00 | sum
CommandFrame varWriteFrame(std::uint8_t vnum, std::uint16_t data);
//   C8 33 | module | point | value | 00 00 | sum    (a byte that cannot hold its value is 0)
CommandFrame pointWriteFrame(std::int32_t module, std::int32_t point, std::int32_t value);

// Writes variable `vnum` (0..255) with `data` (0..65535) and waits for the answer.
// Out-of-range arguments throw std::overflow_error before anything is sent. Always 0.
std::int16_t SetVar(CommandLayer& ctx, std::int32_t vnum, std::int32_t data);
// Writes one output point and waits for the answer, whatever it is.
void pointWrite(CommandLayer& ctx, std::int32_t module, std::int32_t point, std::int32_t value);

}  // namespace varnel
