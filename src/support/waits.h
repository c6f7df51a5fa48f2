#pragma once
// Waits that keep the thread's events running (timers, port data, host calls).
#include <cstdint>

#include "support/core.h"

namespace varnel {

void Pause(Core& ctx, std::int32_t ms);
// Seconds x 1000 formed in 16 bits: above 32 seconds throws std::overflow_error.
void PauseSeconds(Core& ctx, std::int16_t seconds);
// 0 returns at once without letting events through.
void PauseMs(Core& ctx, std::int16_t ms);

}  // namespace varnel
