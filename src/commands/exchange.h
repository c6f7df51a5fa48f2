#pragma once
// What the controller commands share: the busy flag held across an exchange,
// the wait for the 3-byte answer, and frame bytes that fall back to 0 when a
// value does not fit (the controller still gets the frame, as it always has).
#include <cmath>
#include <cstdint>
#include <span>

#include "commands/command_state.h"
#include "commands/screen.h"
#include "link/frames.h"
#include "link/serial_link.h"
#include "support/text.h"

namespace varnel {

// The byte a value rounds to, 0 when it is outside 0..255.
inline std::uint8_t byteOrZero(double v) {
    const double r = roundEven(v);
    return r >= 0.0 && r <= 255.0 ? static_cast<std::uint8_t>(r) : 0;
}

// Sends a frame and waits the response time-out for a 3-byte answer with any
// first byte. Whether one came is all the caller learns; most ignore even that.
inline bool sendAwaitAck(CommandLayer& ctx, std::span<const std::uint8_t> frame) {
    xasend(ctx, frame);
    const bool answered = ReadResponse(ctx, ctx.link.responseTimeout, kAckLength, 0);
    if (!answered) ++ctx.link.unanswered;
    return answered;
}

}  // namespace varnel
