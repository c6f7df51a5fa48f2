#include "commands/x10_send.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "commands/exchange.h"
#include "commands/x10_commands.h"
#include "support/text.h"

namespace varnel {

namespace {

constexpr std::uint8_t kX10Code = 0x37;
constexpr std::uint8_t kX10Extended = 0x61;
constexpr int kHighestHouse = 16;
constexpr std::int16_t kNoCommand = -1;
constexpr std::int16_t kPresetDimLow = 26;   // preset dim, levels 0..15
constexpr std::int16_t kPresetDimHigh = 31;  // preset dim, levels 16..31

// Units named in a device code like "1+3+12": the number at the start and after each "+".
std::vector<double> unitsAfterEachPlus(std::string_view device) {
    std::vector<double> units;
    std::size_t pos = 0;
    for (;;) {
        units.push_back(numericValue(device.substr(pos)));
        const std::size_t plus = device.find('+', pos);
        if (plus == std::string_view::npos) return units;
        pos = plus + 1;
    }
}

// Units of the "+"-separated fields up to the first empty one.
std::vector<double> unitFields(std::string_view device) {
    std::vector<double> units;
    for (const auto& f : split(device, '+')) {
        if (f.empty()) break;
        units.push_back(numericValue(f));
    }
    return units;
}

}  // namespace

CommandFrame x10AddressFrame(int house, double unit) {
    return commandFrame(kX10Code, byteOrZero(house), byteOrZero(unit - 1), 0x01);
}

CommandFrame x10FunctionFrame(int houseOrLevel, int code, int value) {
    return commandFrame(kX10Code, byteOrZero(houseOrLevel), byteOrZero(code), byteOrZero(value));
}

CommandFrame x10ExtendedFrame(int house, double unit, int data1, int data2) {
    return commandFrame(kX10Extended, byteOrZero(house), byteOrZero(unit - 1), byteOrZero(data1), byteOrZero(data2));
}

std::optional<X10Plan> planX10(std::string_view house, std::string_view device, std::int16_t command,
                               std::int16_t brightness, std::int16_t data1, std::int16_t data2,
                               const std::array<std::int16_t, 16>& presetDim) {
    // A house that is no letter would otherwise end up as house A and switch the wrong lamps.
    if (house.empty()) return std::nullopt;
    const int hi = std::toupper(static_cast<unsigned char>(house.front())) - 'A';
    if (hi < 0 || hi > kHighestHouse) return std::nullopt;

    X10Plan plan;
    auto& frames = plan.frames;
    switch (command) {
        case kNoCommand: break;
        case kX10On:
        case kX10Off:
        case kX10Dim:
        case kX10Bright: {
            // Dim and bright steps: 100 % is 22 steps.
            const double value = command <= kX10Off ? 1.0 : roundEven(brightness / 100.0 * 22.0);
            if (!device.empty())
                for (double unit : unitsAfterEachPlus(device))
                    if (unit >= 1 && unit <= 16) frames.push_back(x10AddressFrame(hi, unit));
            frames.push_back(
                commandFrame(kX10Code, byteOrZero(hi), static_cast<std::uint8_t>(0x10 + command), byteOrZero(value)));
            break;
        }
        case kX10ExtendedCode:
            for (double unit : unitFields(device)) frames.push_back(x10ExtendedFrame(hi, unit, data1, data2));
            break;
        case kX10Preset: {
            brightness = std::min<std::int16_t>(brightness, 31);
            if (brightness > 15) {
                brightness = static_cast<std::int16_t>(brightness - 16);
                command = kPresetDimHigh;
            } else {
                command = kPresetDimLow;
            }
            // The level travels in the house field; a level off the table goes out as 0.
            const int level = brightness >= 0 ? presetDim[static_cast<std::size_t>(brightness)] : 0;
            for (double unit : unitFields(device)) frames.push_back(x10AddressFrame(hi, unit));
            frames.push_back(x10FunctionFrame(level, command, 1));
            break;
        }
        default: {
            if (!device.empty()) frames.push_back(x10AddressFrame(hi, numericValue(device)));
            // Host commands map onto X10 function codes from 16 up, skipping the preset-dim code 26.
            int code = command + 16;
            if (code > 26) --code;
            frames.push_back(x10FunctionFrame(hi, code, 1));
            if (code <= INT16_MAX) command = static_cast<std::int16_t>(code);
            break;
        }
    }
    plan.command = command;
    plan.brightness = brightness;
    return plan;
}

std::int16_t x10Send(CommandLayer& ctx, const std::string& house, const std::string& device, std::int16_t& command,
                     std::int16_t& brightness, std::int16_t data1, std::int16_t data2) {
    const auto plan = planX10(house, device, command, brightness, data1, data2, ctx.controller.presetDim);
    if (!plan) return 0;

    // The timers stay out of the way for the whole series, not only one frame.
    struct SendingFlag {
        explicit SendingFlag(CommandLayer& c) : ctx(c) { ctx.gate.x10Sending = 1; }
        ~SendingFlag() { ctx.gate.x10Sending = 0; }
        SendingFlag(const SendingFlag&) = delete;
        SendingFlag& operator=(const SendingFlag&) = delete;
        CommandLayer& ctx;
    } sending(ctx);

    for (const CommandFrame& frame : plan->frames) sendAwaitAck(ctx, frame);
    command = plan->command;
    brightness = plan->brightness;
    return 0;
}

}  // namespace varnel
