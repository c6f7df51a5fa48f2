#pragma once
// The X10 functions the console offers, by the host's command numbers.
#include <cstdint>
#include <string_view>

#include "commands/x10_commands.h"

namespace varnel::console {

struct X10Function {
    enum class Arg : std::uint8_t {
        None,     // nothing after the function
        Percent,  // dim/bright: 0..100, carried as the brightness
        Level,    // preset dim: 0..31, carried as the brightness
        Data,     // extended code: two data bytes, carried as data1 and data2
    };
    const char* name;
    std::int16_t command;
    Arg arg;
    // On, off, dim, bright, preset and extended address every unit of a list; the
    // others address at most one unit before their function.
    bool unitList;
};

// Command 11 is left out: sent, it goes out as the preset-dim code without a level,
// and preset N covers both halves of the level range. 16 to 18 have no X10 function.
inline constexpr X10Function kX10Functions[] = {
    {.name = "all-units-off", .command = kX10AllUnitsOff, .arg = X10Function::Arg::None, .unitList = false},
    {.name = "all-lights-on", .command = kX10AllLightsOn, .arg = X10Function::Arg::None, .unitList = false},
    {.name = "on", .command = kX10On, .arg = X10Function::Arg::None, .unitList = true},
    {.name = "off", .command = kX10Off, .arg = X10Function::Arg::None, .unitList = true},
    {.name = "dim", .command = kX10Dim, .arg = X10Function::Arg::Percent, .unitList = true},
    {.name = "bright", .command = kX10Bright, .arg = X10Function::Arg::Percent, .unitList = true},
    {.name = "all-lights-off", .command = kX10AllLightsOff, .arg = X10Function::Arg::None, .unitList = false},
    {.name = "extended", .command = kX10ExtendedCode, .arg = X10Function::Arg::Data, .unitList = true},
    {.name = "hail", .command = kX10Hail, .arg = X10Function::Arg::None, .unitList = false},
    {.name = "hail-ack", .command = kX10HailAck, .arg = X10Function::Arg::None, .unitList = false},
    {.name = "preset", .command = kX10Preset, .arg = X10Function::Arg::Level, .unitList = true},
    {.name = "extended-data", .command = kX10ExtendedData, .arg = X10Function::Arg::None, .unitList = false},
    {.name = "status-on", .command = kX10StatusOn, .arg = X10Function::Arg::None, .unitList = false},
    {.name = "status-off", .command = kX10StatusOff, .arg = X10Function::Arg::None, .unitList = false},
    {.name = "status-request", .command = kX10StatusRequest, .arg = X10Function::Arg::None, .unitList = false},
};

// Case-insensitive; null when there is no such function.
const X10Function* x10FunctionNamed(std::string_view name);
const X10Function* x10FunctionOf(int command);

}  // namespace varnel::console
