#pragma once
// Ways the simulated controller can misbehave. One-shot faults are used up by the
// next reply or report they apply to; set fields directly, e.g.
// `sim.faults().dropReplies = 2;`.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/config.h"

namespace varnel::sim {

struct Faults {
    // Hears (and records) every frame but neither acts on it nor answers: a
    // controller that is switched off. Reports asked for through the API still go out.
    bool silent = false;
    // Acts on the next N frames, but their replies are lost.
    int dropReplies = 0;
    // Sent immediately before the next reply.
    std::vector<std::uint8_t> garbageBeforeReply;
    // Sent (as reports) immediately before the next reply, inside the exchange.
    std::vector<std::uint8_t> reportBeforeReply;
    // Sent immediately after the next acknowledgement, before any later reply.
    std::vector<std::uint8_t> reportAfterAck;
    // The next N block replies carry a wrong CRC.
    int badCrcBlocks = 0;
    // The next block reply answers with this buffer (selector and data) instead.
    std::optional<Selector> wrongBuffer;
    // The next reply starts this much later than usual.
    std::int64_t delayNextReplyUs = 0;
    // The next acknowledgement carries these bytes instead of 06 00 06.
    std::optional<std::array<std::uint8_t, 3>> nextAck;
    // The next report goes out in two pieces: `at` bytes, a pause of `gapUs`, the rest.
    struct Split {
        std::size_t at = 1;
        std::int64_t gapUs = 0;
    };
    std::optional<Split> splitNextReport;
};

}  // namespace varnel::sim
