#include "link/frames.h"

#include <stdexcept>

namespace varnel {

namespace {
std::int16_t sumTo(std::span<const std::uint8_t> buf, std::size_t last) {
    if (buf.size() <= last) throw std::out_of_range("Subscript out of range");
    std::int16_t sum = 0;
    for (std::size_t i = 0; i <= last; ++i) sum = static_cast<std::int16_t>(sum + buf[i]);
    return static_cast<std::int16_t>(sum % 256);
}
}  // namespace

std::int16_t Checksum7(std::span<const std::uint8_t> buf) { return sumTo(buf, 6); }
std::int16_t Checksum49(std::span<const std::uint8_t> buf) { return sumTo(buf, 48); }

std::uint16_t blockCrc(std::span<const std::uint8_t> buf, std::size_t n) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < n && i < buf.size(); ++i) {
        crc ^= static_cast<std::uint16_t>(buf[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) != 0 ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                                      : static_cast<std::uint16_t>(crc << 1);
    }
    return crc;
}

CommandFrame commandFrame(std::uint8_t code, std::uint8_t b2, std::uint8_t b3, std::uint8_t b4, std::uint8_t b5,
                          std::uint8_t b6) {
    CommandFrame f{kCommandFrame, code, b2, b3, b4, b5, b6, 0};
    sealCommand(f);
    return f;
}

void sealCommand(CommandFrame& f) { f[7] = static_cast<std::uint8_t>(Checksum7(f)); }

void sealLong(std::span<std::uint8_t> f) { f[49] = static_cast<std::uint8_t>(Checksum49(f)); }

CommandFrame blockReadFrame(std::uint8_t sel0, std::uint8_t sel1) {
    CommandFrame f{kBlockRead, 0, 0, sel0, sel1, 0, 0, 0};
    const std::uint16_t crc = blockCrc(f, 6);
    f[6] = static_cast<std::uint8_t>(crc >> 8);
    f[7] = static_cast<std::uint8_t>(crc & 0xFF);
    return f;
}

std::uint16_t blockReplyCrc(std::span<const std::uint8_t> reply) {
    if (reply.size() < kBlockReplyLength) return 0;
    return static_cast<std::uint16_t>(reply[263] << 8 | reply[262]);
}

bool blockReplyCrcOk(std::span<const std::uint8_t> reply) {
    return reply.size() >= kBlockReplyLength && blockCrc(reply, 262) == blockReplyCrc(reply);
}

}  // namespace varnel
