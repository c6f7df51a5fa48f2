#include "commands/analog.h"

#include <array>
#include <optional>

#include "commands/exchange.h"
#include "support/errors.h"
#include "support/logging.h"
#include "support/waits.h"

namespace varnel {

namespace {

constexpr int kParameterAttempts = 3;
constexpr std::int32_t kAnalogSettleMs = 1000;
constexpr std::int32_t kParameterSettleMs = 3000;
constexpr std::size_t kDataOffset = 6;

using ValueBuffer = std::array<std::uint8_t, 256>;

// Any 264-byte answer is taken, without the polls' CRC and echo checks: a
// reading is used once and forgotten. Empty on time-out.
std::optional<ValueBuffer> readValueBuffer(CommandLayer& ctx) {
    xasend(ctx, blockReadFrame(kValueSelector0, kValueSelector1));
    if (!ReadResponse(ctx, ctx.link.responseTimeout, kBlockReplyLength, kBlockRead)) return std::nullopt;
    ValueBuffer data{};
    std::copy_n(ctx.link.rx.begin() + kDataOffset, data.size(), data.begin());
    return data;
}

// Byte `offset` (0 low, 1 high) of module `unit`'s value; nothing for a unit outside 1..128.
std::optional<std::uint8_t> moduleByte(const ValueBuffer& data, std::int16_t unit, int offset) {
    if (unit < 1 || unit > 128) return std::nullopt;
    const int index = 2 * (unit - 1) + offset;
    return data[static_cast<std::size_t>(index)];
}

}  // namespace

CommandFrame requestFrame(int selector) { return commandFrame(0x1F, byteOrZero(selector)); }

std::int16_t StartGetAnalog(CommandLayer& ctx, std::int16_t /*unit*/, std::int16_t point) {
    if (!ctx.controller.connected) return 0;
    BusyGuard busy(ctx.gate);
    sendAwaitAck(ctx, requestFrame(point + 10));
    return 0;
}

std::int16_t GetAnalogInputValue(CommandLayer& ctx, std::int16_t unit, std::int16_t /*point*/) {
    if (!ctx.controller.connected) return 0;
    BusyGuard busy(ctx.gate);
    std::int16_t result = 0;
    if (const auto data = readValueBuffer(ctx)) {
        ctx.controller.linkFailure = 0;
        result = moduleByte(*data, unit, 0).value_or(0);
    } else {
        skipStep(ctx, 4, [&] { warn(ctx, "Ocelot Plug-in, Timeout getting analog I/O"); });
        ctx.controller.linkFailure = 1;
        result = -1;
    }
    clearPending(ctx);
    return result;
}

std::int16_t GetAnalogInput(CommandLayer& ctx, std::int16_t unit, std::int16_t point) {
    if (!ctx.controller.connected) return 0;
    BusyGuard busy(ctx.gate);
    sendAwaitAck(ctx, requestFrame(point + 10));
    Pause(ctx, kAnalogSettleMs);
    std::int16_t result = 0;
    if (const auto data = readValueBuffer(ctx)) {
        ctx.controller.linkFailure = 0;
        result = moduleByte(*data, unit, 0).value_or(0);
    } else {
        skipStep(ctx, 4, [&] { warn(ctx, "Ocelot Plug-in, Timeout getting analog I/O"); });
        ctx.controller.linkFailure = 1;
    }
    clearPending(ctx);
    return result;
}

std::int32_t GetParameter(CommandLayer& ctx, std::int16_t unit, std::int16_t pnum) {
    BusyGuard busy(ctx.gate);
    for (int attempt = 0; attempt < kParameterAttempts; ++attempt) {
        sendAwaitAck(ctx, requestFrame(pnum - 1));
        Pause(ctx, kParameterSettleMs);
        if (const auto data = readValueBuffer(ctx)) {
            ctx.controller.linkFailure = 0;
            const auto low = moduleByte(*data, unit, 0);
            const auto high = moduleByte(*data, unit, 1);
            clearPending(ctx);
            return low && high ? std::int32_t{*high} * 256 + *low : 0;
        }
        // Logged whatever log_errors says: parameter reads are rare and start-up depends on them.
        skipStep(ctx, 4,
                 [&] { ReportError(ctx, kSourceWarning, "Ocelot Plug-in, Timeout getting parameter, retrying ..."); });
        ctx.controller.linkFailure = 1;
    }
    skipStep(ctx, 5, [&] { ReportError(ctx, kSourceVarnel, "Timeout getting parameter, retried 3 times"); });
    clearPending(ctx);
    return -1;
}

Bool16 IsBusy(const CommandLayer& ctx) { return toBool16(ctx.gate.busy != 0); }

void SetTimeOut(CommandLayer& ctx, std::int16_t seconds) { ctx.link.responseTimeout = seconds; }

}  // namespace varnel
