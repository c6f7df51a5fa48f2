#pragma once
// Frames to the controller and their checks. Pure functions over bytes.
//
//   command frame (8):  C8 | code | b2 b3 b4 b5 b6 | sum(b0..b6)
//   long frame   (50):  F1 | code | b2 .. b48      | sum(b0..b48)
//   block read    (8):  2A 00 00 | sel0 sel1 | 00 | crc(b0..b5) high, low
#include <array>
#include <cstdint>
#include <span>

namespace varnel {

inline constexpr std::uint8_t kCommandFrame = 0xC8;
inline constexpr std::uint8_t kLongFrame = 0xF1;
inline constexpr std::uint8_t kBlockRead = 0x2A;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr int kBlockReplyLength = 264;
inline constexpr int kAckLength = 3;

// Sum of bytes 0..6 (Checksum7) or 0..48 (Checksum49) modulo 256. A shorter
// array throws std::out_of_range, as the host's runtime would.
std::int16_t Checksum7(std::span<const std::uint8_t> buf);
std::int16_t Checksum49(std::span<const std::uint8_t> buf);
// CRC-16/CCITT-FALSE of bytes 0..n-1 (poly 0x1021, init 0xFFFF); n = 0 gives 0xFFFF.
std::uint16_t blockCrc(std::span<const std::uint8_t> buf, std::size_t n);

using CommandFrame = std::array<std::uint8_t, 8>;
using LongFrame = std::array<std::uint8_t, 50>;

CommandFrame commandFrame(std::uint8_t code, std::uint8_t b2 = 0, std::uint8_t b3 = 0, std::uint8_t b4 = 0,
                          std::uint8_t b5 = 0, std::uint8_t b6 = 0);
// Fills byte 7 of a command frame whose bytes 0..6 are set.
void sealCommand(CommandFrame& f);
// Fills byte 49 of a long frame whose bytes 0..48 are set.
void sealLong(std::span<std::uint8_t> f);
CommandFrame blockReadFrame(std::uint8_t sel0, std::uint8_t sel1);

// A 264-byte block reply carries its CRC low byte first in bytes 262, 263.
bool blockReplyCrcOk(std::span<const std::uint8_t> reply);
std::uint16_t blockReplyCrc(std::span<const std::uint8_t> reply);

}  // namespace varnel
