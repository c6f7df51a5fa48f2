#pragma once
// The operator console's commands: what a line says, parsed without touching the
// plug-in, and written back in its canonical form.
//
//   help [COMMAND]                 status                devices
//   set CODE on|off|VALUE          var N VALUE           quit | exit
//   x10 TARGET FUNCTION [ARGS]     e.g. x10 A1+A3 on, x10 B dim 50, x10 C5 bright 20
//   ir play [--zone Z] LABEL|GROUP LABEL      ir learn LABEL      ir list
//   analog UNIT POINT              param UNIT NUMBER
//   screen [--backlight] [--beep] [--clear] [--font N] X Y [--] TEXT
//   mirror                         mirror vars [add|remove] LIST
//   mirror points UNIT [add|remove] LIST [invert|no-invert]
//   config                         history NAME|CODE|var N [--since 24h]
//
// Words are case-insensitive; blanks and tabs separate them. A line starting with
// "#" is a comment.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace varnel::console {

inline constexpr std::size_t kMaxLineLength = 1024;
// Text the screen shows; a longer text is sent cut, with its whole length.
inline constexpr std::size_t kScreenChars = 40;

enum class ListMode : std::uint8_t { Replace, Add, Remove };

namespace cmd {
struct Empty {
    bool operator==(const Empty&) const = default;
};
struct Help {
    std::string topic;  // a command word, lower case; empty for the overview
    bool operator==(const Help&) const = default;
};
struct Quit {
    bool operator==(const Quit&) const = default;
};
struct Status {
    bool operator==(const Status&) const = default;
};
struct Devices {
    bool operator==(const Devices&) const = default;
};
struct Set {
    enum class Action : std::uint8_t { On, Off, Value };
    std::string code;  // device code as typed
    Action action = Action::On;
    std::int32_t value = 0;  // Action::Value only
    bool operator==(const Set&) const = default;
};
struct X10 {
    std::string house;  // "A".."P"
    std::string units;  // "1+3", or "" for the house alone
    std::int16_t command = 0;
    std::int16_t brightness = 0;
    std::int16_t data1 = 0;
    std::int16_t data2 = 0;
    bool operator==(const X10&) const = default;
};
struct Var {
    int number = 0;          // 0..127
    std::int32_t value = 0;  // 0..65535
    bool operator==(const Var&) const = default;
};
struct IrPlay {
    std::string loc;  // a label number or "group label"
    std::optional<int> zone;
    bool operator==(const IrPlay&) const = default;
};
struct IrLearn {
    int label = 0;
    bool operator==(const IrLearn&) const = default;
};
struct IrList {
    bool operator==(const IrList&) const = default;
};
struct Analog {
    int unit = 0;
    int point = 0;
    bool operator==(const Analog&) const = default;
};
struct Param {
    int unit = 0;
    int number = 0;
    bool operator==(const Param&) const = default;
};
struct Screen {
    int x = 0;
    int y = 0;
    std::string text;
    bool backlight = false;
    bool beep = false;
    bool clear = false;
    int font = 0;
    bool operator==(const Screen&) const = default;
};
struct Config {
    bool operator==(const Config&) const = default;
};
// The kept changes of one series: "var:12", "link", a device's code or name.
struct History {
    std::string target;
    std::int64_t sinceSeconds = std::int64_t{24} * 3600;
    bool operator==(const History&) const = default;
};
struct MirrorShow {
    bool operator==(const MirrorShow&) const = default;
};
struct MirrorVars {
    ListMode mode = ListMode::Replace;
    std::vector<int> vars;
    bool operator==(const MirrorVars&) const = default;
};
struct MirrorPoints {
    int unit = 0;
    ListMode mode = ListMode::Replace;
    std::vector<int> points;
    std::optional<bool> invert;  // empty: the unit keeps its current setting
    bool operator==(const MirrorPoints&) const = default;
};
}  // namespace cmd

using Command = std::variant<cmd::Empty, cmd::Help, cmd::Quit, cmd::Status, cmd::Devices, cmd::Set, cmd::X10, cmd::Var,
                             cmd::IrPlay, cmd::IrLearn, cmd::IrList, cmd::Analog, cmd::Param, cmd::Screen,
                             cmd::MirrorShow, cmd::MirrorVars, cmd::MirrorPoints, cmd::Config, cmd::History>;

// A command, or one line saying what is wrong and what would be right.
struct ParseError {
    std::string message;
    bool operator==(const ParseError&) const = default;
};
using ParseResult = std::variant<Command, ParseError>;

// Never throws; any bytes are fine.
ParseResult parseCommand(std::string_view line);
// The canonical line for a command; parsing it gives the same command back.
std::string formatCommand(const Command& command);
// Commands that only look at state (safe while the plug-in waits for the controller).
bool readsOnly(const Command& command);

}  // namespace varnel::console
