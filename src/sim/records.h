#pragma once
// What the simulated controller saw and did, kept for tests and the demo's display.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/config.h"
#include "sim/frame_reader.h"

namespace varnel::sim {

struct ReceivedFrame {
    FrameKind kind = FrameKind::Command;
    std::vector<std::uint8_t> bytes;
    std::int64_t atUs = 0;  // scheduler time when the frame was complete

    // Command code of a command or long frame (byte 1).
    [[nodiscard]] std::uint8_t code() const { return bytes.size() > 1 ? bytes[1] : 0; }
    // Buffer named by a block read (bytes 3, 4).
    [[nodiscard]] Selector selector() const { return bytes.size() > 4 ? Selector{bytes[3], bytes[4]} : Selector{}; }
};

// One X10 frame the controller put on the power line.
struct X10Transmission {
    enum class Kind : std::uint8_t { Address, Function, Extended };
    Kind kind = Kind::Address;
    std::uint8_t house = 0;  // house index (A = 0), or the level code of a preset dim
    std::uint8_t key = 0;    // unit - 1 for an address, else the function code
    std::uint8_t value = 0;  // byte 4 of an address or function frame
    std::uint8_t data1 = 0;  // extended frames only
    std::uint8_t data2 = 0;
    auto operator<=>(const X10Transmission&) const = default;
};

struct IrPlay {
    bool remote = false;      // false: the controller's own output
    std::uint8_t module = 0;  // remote plays: module address and its output
    std::uint8_t output = 0;
    std::uint16_t location = 0;
    auto operator<=>(const IrPlay&) const = default;
};

struct ScreenWrite {
    std::uint8_t flags = 0;
    std::uint8_t length = 0;  // the length byte as sent (the whole text's length)
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    std::string text;  // the characters carried (at most 40)

    [[nodiscard]] bool backlight() const { return (flags & 0x01) != 0; }
    [[nodiscard]] bool bigFont() const { return (flags & 0x02) != 0; }
    [[nodiscard]] bool clear() const { return (flags & 0x04) != 0; }
    [[nodiscard]] bool beep() const { return (flags & 0x08) != 0; }
};

struct ClockSetting {
    // The twelve digits as carried, seconds units first.
    std::array<std::uint8_t, 12> digits{};
    std::uint8_t weekday = 0;  // Sunday = 0
    bool valid = false;        // every digit 0..9 and a real calendar date and time
    int year = 0;              // 2000 + the two year digits
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

struct SettingWrite {
    std::uint8_t setting = 0;  // byte 2 of the 0x28 frame
    std::uint8_t value = 0;    // byte 4
    auto operator<=>(const SettingWrite&) const = default;
};

}  // namespace varnel::sim
