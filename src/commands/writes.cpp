#include "commands/writes.h"

#include <stdexcept>

#include "commands/exchange.h"

namespace varnel {

CommandFrame varWriteFrame(std::uint8_t vnum, std::uint16_t data) {
    return commandFrame(0x29, vnum, static_cast<std::uint8_t>(data & 0xFF), static_cast<std::uint8_t>(data >> 8));
}

CommandFrame pointWriteFrame(std::int32_t module, std::int32_t point, std::int32_t value) {
    return commandFrame(0x33, byteOrZero(module), byteOrZero(point), byteOrZero(value));
}

std::int16_t SetVar(CommandLayer& ctx, std::int32_t vnum, std::int32_t data) {
    // Checked before the busy flag is taken: the caller sees the overflow and
    // neither the wire nor the timers see anything of the failed call.
    if (vnum < 0 || vnum > 255 || data < 0 || data > 65535) throw std::overflow_error("Overflow");
    BusyGuard busy(ctx.gate);
    sendAwaitAck(ctx, varWriteFrame(static_cast<std::uint8_t>(vnum), static_cast<std::uint16_t>(data)));
    return 0;
}

void pointWrite(CommandLayer& ctx, std::int32_t module, std::int32_t point, std::int32_t value) {
    BusyGuard busy(ctx.gate);
    sendAwaitAck(ctx, pointWriteFrame(module, point, value));
}

}  // namespace varnel
