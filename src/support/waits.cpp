#include "support/waits.h"

#include <stdexcept>

namespace varnel {

void Pause(Core& ctx, std::int32_t ms) {
    // A run that is ending waits for nothing, so a stop inside a wait ends the process.
    if (ctx.ending) return;
    ctx.platform.loop.waitUntil(ms, [&] { return ctx.ending; });
}

void PauseSeconds(Core& ctx, std::int16_t seconds) {
    const std::int32_t product = std::int32_t{seconds} * 1000;
    if (product > INT16_MAX || product < INT16_MIN) throw std::overflow_error("Overflow");
    Pause(ctx, product);
}

void PauseMs(Core& ctx, std::int16_t ms) {
    if (ms == 0) return;
    Pause(ctx, ms);
}

}  // namespace varnel
