#pragma once
// The X10 functions the console offers, by the host's command numbers.
#include <cstdint>
#include <string_view>

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
    {.name = "all-units-off", .command = 0, .arg = X10Function::Arg::None, .unitList = false},
    {.name = "all-lights-on", .command = 1, .arg = X10Function::Arg::None, .unitList = false},
    {.name = "on", .command = 2, .arg = X10Function::Arg::None, .unitList = true},
    {.name = "off", .command = 3, .arg = X10Function::Arg::None, .unitList = true},
    {.name = "dim", .command = 4, .arg = X10Function::Arg::Percent, .unitList = true},
    {.name = "bright", .command = 5, .arg = X10Function::Arg::Percent, .unitList = true},
    {.name = "all-lights-off", .command = 6, .arg = X10Function::Arg::None, .unitList = false},
    {.name = "extended", .command = 7, .arg = X10Function::Arg::Data, .unitList = true},
    {.name = "hail", .command = 8, .arg = X10Function::Arg::None, .unitList = false},
    {.name = "hail-ack", .command = 9, .arg = X10Function::Arg::None, .unitList = false},
    {.name = "preset", .command = 10, .arg = X10Function::Arg::Level, .unitList = true},
    {.name = "extended-data", .command = 12, .arg = X10Function::Arg::None, .unitList = false},
    {.name = "status-on", .command = 13, .arg = X10Function::Arg::None, .unitList = false},
    {.name = "status-off", .command = 14, .arg = X10Function::Arg::None, .unitList = false},
    {.name = "status-request", .command = 15, .arg = X10Function::Arg::None, .unitList = false},
};

// Case-insensitive; null when there is no such function.
const X10Function* x10FunctionNamed(std::string_view name);
const X10Function* x10FunctionOf(int command);

}  // namespace varnel::console
