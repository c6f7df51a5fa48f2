#include "commands/block_reads.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include "commands/analog.h"
#include "commands/exchange.h"
#include "support/errors.h"
#include "support/logging.h"
#include "support/text.h"

namespace varnel {

namespace {

constexpr std::size_t kDataOffset = 6;
constexpr std::size_t kDataBytes = 256;
constexpr std::size_t kCrcSpan = 262;  // the reply's own CRC follows these bytes

using Reply = std::array<std::uint8_t, kBlockReplyLength>;

// What differs between the I/O poll and the variable poll.
struct BlockPoll {
    const char* waiting;
    const char* wrongBuffer;
    const char* timeoutWarning;
    const char* checksumWarning;
    bool checksumNumbers;        // the I/O warning names both CRCs
    std::size_t dumpBytes;       // reply bytes written to the comms log
    bool clearsLinkFailure;      // only the I/O poll vouches for the link
    bool badCrcForgetsTimeouts;  // the variable poll forgets time-outs after any reply
    void (*store)(CommandLayer&, std::span<const std::uint8_t>);
};

void storeIo(CommandLayer& ctx, std::span<const std::uint8_t> data) {
    std::copy_n(data.begin(), kDataBytes, ctx.images.io.begin());
}

void storeVars(CommandLayer& ctx, std::span<const std::uint8_t> data) {
    for (std::size_t i = 0; i < 128; ++i) ctx.images.vars[i] = std::int32_t{data[2 * i + 1]} * 256 + data[2 * i];
}

const BlockPoll kIoPoll{
    .waiting = "Waiting for IO info from Ocelot",
    .wrongBuffer = "Warning, Ocelot returned wrong buffer for IO buffer request, ignoring data",
    .timeoutWarning = "Ocelot Plug-in, Timeout getting realtime I/O",
    .checksumWarning = "Ocelot Plug-in, Checksum error reading io points: ",
    .checksumNumbers = true,
    .dumpBytes = 262,
    .clearsLinkFailure = true,
    .badCrcForgetsTimeouts = false,
    .store = storeIo,
};

const BlockPoll kVarPoll{
    .waiting = "Waiting for var info from Ocelot",
    .wrongBuffer = "Warning, Ocelot returned wrong buffer for variable buffer request, ignoring data",
    .timeoutWarning = "Ocelot Plug-in, Timeout getting Vars",
    .checksumWarning = "Ocelot Plug-in, Checksum error reading vars",
    .checksumNumbers = false,
    .dumpBytes = 134,
    .clearsLinkFailure = false,
    .badCrcForgetsTimeouts = true,
    .store = storeVars,
};

// A single failure is often line noise: only every second consecutive one of a
// kind is worth a warning. While warnings are off the count keeps growing.
void countFailure(CommandLayer& ctx, std::int16_t& counter, const std::string& warning) {
    if (counter < std::numeric_limits<std::int16_t>::max()) ++counter;
    if (counter > 1 && ctx.switches.logErrors != 0) {
        skipStep(ctx, 5, [&] { warn(ctx, warning); });
        counter = 0;
    }
}

std::string hexDump(std::span<const std::uint8_t> bytes) {
    std::string line;
    line.reserve(bytes.size() * 3);
    for (std::uint8_t b : bytes) {
        line += hexUpper(b);
        line += ' ';
    }
    return line;
}

bool pollBlock(CommandLayer& ctx, const BlockPoll& kind, std::uint8_t sel0, std::uint8_t sel1) {
    auto& images = ctx.images;
    // A closed port (or a run that ends) gives no answer to count as a time-out.
    if (ctx.ending || !ctx.link.portOpen) {
        ctx.controller.linkFailure = 1;
        return false;
    }
    BusyGuard busy(ctx.gate);
    const CommandFrame request = blockReadFrame(sel0, sel1);

    bool answered = false;
    for (int attempt = 0; attempt < 2 && !answered; ++attempt) {
        xasend(ctx, request);
        skipStep(ctx, 3, [&] { commLog(ctx, kind.waiting); });
        answered = ReadResponse(ctx, ctx.link.responseTimeout, kBlockReplyLength, kBlockRead);
    }
    if (!answered) {
        ++images.timeoutTotal;
        countFailure(ctx, images.timeoutCounter, kind.timeoutWarning);
        ctx.controller.linkFailure = 1;
        clearPending(ctx);
        return false;
    }

    // A copy, so nothing that runs while we log can change the reply under us.
    Reply reply{};
    std::copy_n(ctx.link.rx.begin(), reply.size(), reply.begin());
    skipStep(ctx, 6, [&] { commLog(ctx, hexDump(std::span(reply).first(kind.dumpBytes))); });

    const std::uint16_t computed = blockCrc(reply, kCrcSpan);
    const std::uint16_t received = blockReplyCrc(reply);
    if (computed != received) {
        std::string warning = kind.checksumWarning;
        if (kind.checksumNumbers) warning += std::to_string(computed) + " " + std::to_string(received);
        ++images.checksumTotal;
        countFailure(ctx, images.checksumCounter, warning);
        if (kind.badCrcForgetsTimeouts) images.timeoutCounter = 0;
        clearPending(ctx);
        return false;
    }

    if (reply[3] != request[3] || reply[4] != request[4])
        skipStep(ctx, 9, [&] { commLog(ctx, kind.wrongBuffer); });
    else
        kind.store(ctx, std::span(reply).subspan(kDataOffset, kDataBytes));
    images.checksumCounter = 0;
    images.timeoutCounter = 0;
    if (kind.clearsLinkFailure) ctx.controller.linkFailure = 0;
    clearPending(ctx);
    return true;
}

}  // namespace

bool PollIO(CommandLayer& ctx) {
    if (!ctx.controller.connected || ctx.gate.busy == 1) return false;
    return pollBlock(ctx, kIoPoll, kIoSelector0, kIoSelector1);
}

bool PollVars(CommandLayer& ctx) {
    if (ctx.gate.busy == 1) return false;
    return pollBlock(ctx, kVarPoll, ctx.controller.varSelector[0], ctx.controller.varSelector[1]);
}

std::optional<std::int16_t> GetUnit(CommandLayer& ctx, std::int16_t unitnum) {
    if (unitnum < 0) return std::nullopt;
    if (unitnum >= 128) return std::int16_t{0};
    return std::int16_t{ctx.controller.moduleTypes[static_cast<std::size_t>(unitnum)]};
}

std::int32_t GetVar(CommandLayer& ctx, std::int16_t varnum) {
    if (varnum < 0 || static_cast<std::size_t>(varnum) >= ctx.images.vars.size())
        throw std::out_of_range("Subscript out of range");
    return ctx.images.vars[static_cast<std::size_t>(varnum)];
}

std::int16_t GetPoint(CommandLayer& ctx, std::int16_t unit, std::int16_t point, bool digital) {
    if (!digital) return GetAnalogInput(ctx, unit, point);
    return ioPointLookup(ctx, unit, point);
}

std::int16_t ioPointLookup(const CommandLayer& ctx, int module, int point) {
    if (module > 128) return 0;
    const auto& io = ctx.images.io;
    auto byteAt = [&](std::int64_t i) -> unsigned {
        return i >= 0 && i < static_cast<std::int64_t>(io.size()) ? io[static_cast<std::size_t>(i)] : 0u;
    };
    const std::int64_t low = 2 * std::int64_t{module} - 2;
    unsigned bit = 0;
    if (point >= 0 && point <= 7)
        bit = (byteAt(low) >> point) & 1u;
    else if (point >= 8 && point <= 15)
        bit = (byteAt(low + 1) >> (point - 8)) & 1u;
    return bit != 0 ? 0 : 1;
}

void ioPointStore(CommandLayer& ctx, int module, int point, int value) {
    if (module < 1 || module > 128 || point < 0 || point > 15) return;
    const int index = 2 * module - 2 + point / 8;
    auto& byte = ctx.images.io[static_cast<std::size_t>(index)];
    const auto mask = static_cast<std::uint8_t>(1u << (point % 8));
    byte = value == 1 ? static_cast<std::uint8_t>(byte | mask) : static_cast<std::uint8_t>(byte & ~mask);
}

}  // namespace varnel
