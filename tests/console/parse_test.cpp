// Console lines to commands: every command's forms, the canonical text, and
// bad input answered with one line that names the command and the fix; number
// lists and the start-up mirroring options.
#include <gtest/gtest.h>

#include <string>

#include "console/command.h"
#include "console/selection.h"

namespace varnel::console {
namespace {

std::string show(const ParseResult& r) {
    if (const auto* e = std::get_if<ParseError>(&r)) return "error: " + e->message;
    return "command: " + formatCommand(std::get<Command>(r));
}

struct Good {
    const char* line;
    Command expected;
};

TEST(ConsoleParse, lines_become_the_commands_they_name) {
    using A = cmd::Set::Action;
    const Good cases[] = {
        {"", cmd::Empty{}},
        {"   \t ", cmd::Empty{}},
        {"# a comment: x10 A1 on", cmd::Empty{}},
        {"help", cmd::Help{}},
        {"HELP X10", cmd::Help{"x10"}},
        {"help exit", cmd::Help{"quit"}},
        {"?", cmd::Help{}},
        {"quit", cmd::Quit{}},
        {"Exit\r\n", cmd::Quit{}},
        {"status", cmd::Status{}},
        {"devices", cmd::Devices{}},
        {"set #5 on", cmd::Set{"#5", A::On, 0}},
        {"set [9 OFF", cmd::Set{"[9", A::Off, 0}},
        {"set $3 1200", cmd::Set{"$3", A::Value, 1200}},
        {"x10 a1+3 off", cmd::X10{"A", "1+3", 3, 0, 0, 0}},
        {"x10 P all-lights-off", cmd::X10{"P", "", 6, 0, 0, 0}},
        {"x10 F hail-ack", cmd::X10{"F", "", 9, 0, 0, 0}},
        {"x10 H extended-data", cmd::X10{"H", "", 12, 0, 0, 0}},
        {"x10 H1 status-on", cmd::X10{"H", "1", 13, 0, 0, 0}},
        {"x10 H1 status-off", cmd::X10{"H", "1", 14, 0, 0, 0}},
        {"x10 H1 Status-Request", cmd::X10{"H", "1", 15, 0, 0, 0}},
        {"var 127 65535", cmd::Var{127, 65535}},
        {"ir play 007", cmd::IrPlay{"7", std::nullopt}},
        {"ir play   Living  Room Lamp  ", cmd::IrPlay{"Living  Room Lamp", std::nullopt}},
        {"ir play --zone 3 TV Power", cmd::IrPlay{"TV Power", 3}},
        {"ir list", cmd::IrList{}},
        {"screen --clear --beep 0 1 Hello", cmd::Screen{0, 1, "Hello", false, true, true, 0}},
        {"screen 3 4 --backlight --font 1 Hi  there ", cmd::Screen{3, 4, "Hi  there", true, false, false, 1}},
        {"screen --clear 0 0", cmd::Screen{0, 0, "", false, false, true, 0}},
        {"screen 0 1 -- --beep is text", cmd::Screen{0, 1, "--beep is text", false, false, false, 0}},
        {"screen 0 1 -5 degrees", cmd::Screen{0, 1, "-5 degrees", false, false, false, 0}},
        {"screen 0 1 Grüße", cmd::Screen{0, 1, "Grüße", false, false, false, 0}},
        {"mirror", cmd::MirrorShow{}},
        {"CONFIG", cmd::Config{}},
        {"mirror vars 0-9,64,127", cmd::MirrorVars{ListMode::Replace, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 64, 127}}},
        {"mirror vars 5, 3 ,4", cmd::MirrorVars{ListMode::Replace, {3, 4, 5}}},
        {"mirror vars remove 1-2", cmd::MirrorVars{ListMode::Remove, {1, 2}}},
        {"mirror points 3 0,2 invert", cmd::MirrorPoints{3, ListMode::Replace, {0, 2}, true}},
        {"mirror points 3 add 5 no-invert", cmd::MirrorPoints{3, ListMode::Add, {5}, false}},
    };
    for (const auto& c : cases) {
        const ParseResult r = parseCommand(c.line);
        ASSERT_TRUE(std::holds_alternative<Command>(r)) << c.line << " -> " << show(r);
        EXPECT_TRUE(std::get<Command>(r) == c.expected)
            << c.line << " -> " << show(r) << ", wanted " << formatCommand(c.expected);
    }
}

TEST(ConsoleParse, canonical_text_parses_back_to_the_same_command) {
    const char* lines[] = {"x10 a1+3 on",
                           "x10 A16 extended 1 2",
                           "set #5 on",
                           "ir play --zone 3 TV Power",
                           "ir play 5 --zone 2",
                           "screen 0 1 -- --x",
                           "screen --font 1 --beep 1 2 a  b",
                           "mirror vars 0-9,11",
                           "mirror points 1 add 2,3 invert",
                           "mirror vars remove none",
                           "help ir",
                           "var 0 0"};
    for (const char* line : lines) {
        const ParseResult first = parseCommand(line);
        ASSERT_TRUE(std::holds_alternative<Command>(first)) << line << " -> " << show(first);
        const std::string canonical = formatCommand(std::get<Command>(first));
        const ParseResult again = parseCommand(canonical);
        ASSERT_TRUE(std::holds_alternative<Command>(again)) << canonical << " -> " << show(again);
        EXPECT_TRUE(std::get<Command>(again) == std::get<Command>(first)) << line << " -> " << canonical;
    }
    EXPECT_EQ(formatCommand(std::get<Command>(parseCommand("x10 a1+3 on"))), "x10 A1+A3 on");
    EXPECT_EQ(formatCommand(std::get<Command>(parseCommand("mirror vars 3,1,2,9"))), "mirror vars 1-3,9");
}

struct Bad {
    const char* line;
    const char* says;  // part of the one-line message
};

TEST(ConsoleParse, bad_lines_get_one_line_naming_command_and_fix) {
    const std::string longLine(2000, 'a');
    const Bad cases[] = {
        {"onn", "unknown command 'onn' (type help"},
        {"x10 A1 onn",
         "x10: unknown function 'onn' (on, off, dim N, bright N, extended D1 D2, preset LEVEL, all-units-off,"},
        {"x10", "x10: needs a target and a function"},
        {"x10 A1", "x10: needs a target and a function"},
        {"x10 Q1 on", "x10: house 'Q' is not A to P"},
        {"x10 11 on", "x10: house '1' is not A to P"},
        {"x10 A17 on", "x10: unit '17' in 'A17' is not 1 to 16"},
        {"x10 A0 on", "is not 1 to 16"},
        {"x10 A1+B3 on", "x10: all units must be in house A, not 'B3'"},
        {"x10 A1+ on", "unit '' in 'A1+'"},
        {"x10 A+1 on", "unit '' in 'A+1' is not 1 to 16"},
        {"x10 A1++2 on", "unit '' in 'A1++2'"},
        {"x10 A-1 on", "unit '-1' in 'A-1'"},
        {"x10 A1+A1 on", "unit 1 is named twice"},
        {"x10 A dim", "x10: dim takes a percentage 0 to 100"},
        {"x10 A dim 101", "percentage must be 0 to 100, not 101"},
        {"x10 A dim fifty", "percentage 'fifty' is not a number"},
        {"x10 A on 5", "x10: on takes nothing"},
        {"x10 A preset 32", "level must be 0 to 31"},
        {"x10 A1 extended 1", "extended takes two data bytes"},
        {"x10 A extended 1 2", "extended needs at least one unit"},
        {"x10 A1 extended 1 256", "data byte must be 0 to 255"},
        {"x10 A1+A2 all-units-off", "all-units-off takes one unit at most"},
        {"set", "set: needs a device code and on, off or a value"},
        {"set #5", "set: needs a device code"},
        {"set #5 maybe", "set: say on, off or a number, not 'maybe'"},
        {"set #5 40000", "a value must be 0 to 32767 (var N VALUE"},
        {"var 128 1", "var: variable must be 0 to 127, not 128"},
        {"var 1 65536", "value must be 0 to 65535, not 65536"},
        {"var 1", "var: needs a variable number and a value"},
        {"var x 1", "variable 'x' is not a number"},
        {"var 1 99999999999999999999", "value '99999999999999999999' is not a number"},
        {"ir", "ir: say play, learn or list"},
        {"ir fly", "ir: say play, learn or list, not 'fly'"},
        {"ir play", "play needs a label number"},
        {"ir play 1024", "label must be 0 to 1023, not 1024"},
        {"ir play Power", "'Power' is neither a label number 0 to 1023 nor a 'GROUP LABEL' name"},
        {"ir play --zone", "--zone needs a zone number"},
        {"ir play --zone x 5", "zone 'x' is not a number"},
        {"ir play 5 --zone", "--zone Z stands before the label or at the end"},
        {"ir learn", "ir: learn takes one label number"},
        {"ir learn 2000", "label must be 0 to 1023"},
        {"ir list all", "list takes nothing after it"},
        {"analog 0 1", "analog: unit must be 1 to 128, not 0"},
        {"analog 2 16", "analog: point must be 0 to 15, not 16"},
        {"analog 2", "analog: needs a unit and a point"},
        {"param 2 0", "param: parameter must be 1 to 256, not 0"},
        {"param 129 1", "param: unit must be 1 to 128"},
        {"screen 0", "screen: needs X and Y before the text"},
        {"screen --blink 0 1 hi", "screen: unknown option '--blink'"},
        {"screen --font 2 0 1 hi", "font must be 0 to 1, not 2"},
        {"screen --font", "--font needs 0 or 1"},
        {"screen -1 0 hi", "x must be 0 to 32767, not -1"},
        {"mirror fish", "mirror: say vars or points, not 'fish'"},
        {"mirror vars", "mirror: vars needs a list"},
        {"mirror vars 9-0", "range '9-0' runs backwards"},
        {"mirror points", "points needs a unit and a list"},
        {"mirror points 0 1", "unit must be 1 to 128, not 0"},
        {"mirror points 1", "points needs a list"},
        {"mirror points 1 16", "'16' is outside 0 to 15"},
        {"help fly", "help: no command 'fly'"},
        {"help x10 ir", "help: names one command at most"},
        {"quit now", "quit: takes nothing after it, got 'now'"},
        {"status please", "status: takes nothing after it"},
        {"x10 A1 on\x1b[2J", "control character (code 27)"},
        {longLine.c_str(), "line too long (2000 characters, at most 1024)"},
    };
    for (const auto& c : cases) {
        const ParseResult r = parseCommand(c.line);
        ASSERT_TRUE(std::holds_alternative<ParseError>(r)) << c.line << " -> " << show(r);
        const std::string& msg = std::get<ParseError>(r).message;
        EXPECT_NE(msg.find(c.says), std::string::npos) << c.line << " -> " << msg;
        EXPECT_EQ(msg.find('\n'), std::string::npos) << msg;
        EXPECT_LE(msg.size(), 400u) << msg;
    }
}

TEST(ConsoleParse, only_state_views_may_run_while_the_controller_is_busy) {
    for (const char* line : {"", "help", "quit", "status", "devices", "ir list", "mirror"})
        EXPECT_TRUE(readsOnly(std::get<Command>(parseCommand(line)))) << line;
    for (const char* line : {"set #1 on", "x10 A1 on", "var 1 1", "ir play 1", "ir learn 1", "analog 1 1", "param 1 1",
                             "screen 0 0 x", "mirror vars 1", "mirror points 1 1"})
        EXPECT_FALSE(readsOnly(std::get<Command>(parseCommand(line)))) << line;
}

std::vector<int> range(int a, int b) {
    std::vector<int> v;
    for (int i = a; i <= b; ++i) v.push_back(i);
    return v;
}

std::vector<int> join(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(MirrorSelection, number_lists_read_ranges_and_write_them_back_shortest) {
    struct Case {
        const char* text;
        std::vector<int> numbers;
        const char* written;
    };
    const Case cases[] = {
        {"none", {}, "none"},
        {" NONE ", {}, "none"},
        {"5", {5}, "5"},
        {"0-9,64,127", join(range(0, 9), {64, 127}), "0-9,64,127"},
        {"127,0-2,1", {0, 1, 2, 127}, "0-2,127"},
        {"3 - 4, 10", {3, 4, 10}, "3,4,10"},
        {"7-7", {7}, "7"},
    };
    for (const auto& c : cases) {
        auto parsed = parseNumberList(c.text, 0, 127);
        ASSERT_TRUE(std::holds_alternative<std::vector<int>>(parsed))
            << c.text << ": " << std::get<std::string>(parsed);
        EXPECT_EQ(std::get<std::vector<int>>(parsed), c.numbers) << c.text;
        EXPECT_EQ(formatNumberList(c.numbers), c.written);
    }
}

struct Refusal {
    const char* text;
    const char* says;
};

// The parser's refusal of `text`; a failure of the test when it took the text instead.
template <class Parsed>
std::string refusal(const Parsed& parsed, const char* text) {
    if (const auto* message = std::get_if<std::string>(&parsed)) return *message;
    ADD_FAILURE() << "'" << text << "' was taken";
    return {};
}

TEST(MirrorSelection, bad_lists_say_which_item_is_wrong) {
    const Refusal cases[] = {
        {"", "empty list"},
        {"1,", "empty item"},
        {"1-", "'1-' is not a number or range"},
        {"x", "'x' is not a number"},
        {"-1", "'-1' is outside 0 to 127"},
        {"5-200", "'5-200' is outside 0 to 127"},
        {"9-3", "'9-3' runs backwards"},
        {"1.5", "'1.5' is not a number"},
        {"99999999999999999999", "is not a number"},
    };
    for (const auto& c : cases) {
        const auto message = refusal(parseNumberList(c.text, 0, 127), c.text);
        EXPECT_NE(message.find(c.says), std::string::npos) << c.text << " -> " << message;
    }
}

TEST(MirrorSelection, points_option_reads_units_lists_and_invert) {
    struct Case {
        const char* text;
        std::vector<UnitChoice> units;
    };
    const Case cases[] = {
        {"1:0-7,3:0-3", {{1, range(0, 7), false}, {3, range(0, 3), false}}},
        {"1:0-3,5,3:0", {{1, {0, 1, 2, 3, 5}, false}, {3, {0}, false}}},
        {"1:0-7:invert", {{1, range(0, 7), true}}},
        {"2:1,invert,3:none", {{2, {1}, true}, {3, {}, false}}},
        {"1:0,2:4,1:15", {{1, {0, 15}, false}, {2, {4}, false}}},
        {" 4 : 8-9 : INVERT ", {{4, {8, 9}, true}}},
    };
    for (const auto& c : cases) {
        auto parsed = parseMirrorPoints(c.text);
        ASSERT_TRUE(std::holds_alternative<std::vector<UnitChoice>>(parsed))
            << c.text << ": " << std::get<std::string>(parsed);
        EXPECT_EQ(std::get<std::vector<UnitChoice>>(parsed), c.units) << c.text;
    }
}

TEST(MirrorSelection, bad_points_options_are_refused_with_the_reason) {
    const Refusal cases[] = {
        {"", "empty"},
        {"0-7", "needs a unit first"},
        {"invert,1:0", "needs a unit first"},
        {"0:1", "unit '0' is not a unit 1 to 128"},
        {"129:1", "is not a unit 1 to 128"},
        {"x:1", "unit 'x'"},
        {"1:16", "points of unit 1: '16' is outside 0 to 15"},
        {"1:", "points of unit 1: empty list"},
        {"1:0:flip", "is not UNIT:POINTS or UNIT:POINTS:invert"},
        {"1:0:invert:x", "is not UNIT:POINTS"},
        {"11:\n:", "is not UNIT:POINTS"},
        {"1:\x1b[2J", "'\\x1b[2J' is not a number or range"},
    };
    for (const auto& c : cases) {
        const auto message = refusal(parseMirrorPoints(c.text), c.text);
        EXPECT_NE(message.find(c.says), std::string::npos) << c.text << " -> " << message;
        for (char ch : message) EXPECT_GE(static_cast<unsigned char>(ch), 0x20) << c.text;
    }
}

TEST(MirrorSelection, options_gather_into_one_choice_and_repeat_by_adding) {
    MirrorChoice choice;
    EXPECT_EQ(addMirrorOption(choice, "--mirror-vars", "0-3"), std::nullopt);
    EXPECT_EQ(addMirrorOption(choice, "--mirror-vars", "64,2"), std::nullopt);
    EXPECT_EQ(addMirrorOption(choice, "--mirror-points", "1:0-1"), std::nullopt);
    EXPECT_EQ(addMirrorOption(choice, "--mirror-points", "1:4:invert,3:2"), std::nullopt);
    ASSERT_TRUE(choice.variables);
    EXPECT_EQ(*choice.variables, (std::vector<int>{0, 1, 2, 3, 64}));
    EXPECT_EQ(choice.units, (std::vector<UnitChoice>{{1, {0, 1, 4}, true}, {3, {2}, false}}));

    MirrorChoice untouched;
    auto err = addMirrorOption(untouched, "--mirror-vars", "200");
    ASSERT_TRUE(err);
    EXPECT_EQ(err->rfind("--mirror-vars: variables: ", 0), 0u) << *err;
    EXPECT_TRUE(addMirrorOption(untouched, "--mirror-points", "1:99"));
    EXPECT_TRUE(addMirrorOption(untouched, "--mirror-all", "1"));
    EXPECT_EQ(untouched, MirrorChoice{});

    MirrorChoice none;
    EXPECT_EQ(addMirrorOption(none, "--mirror-vars", "none"), std::nullopt);
    ASSERT_TRUE(none.variables);  // an explicit empty selection, not "leave as it is"
    EXPECT_TRUE(none.variables->empty());
}

TEST(MirrorSelection, integers_are_whole_numbers_only) {
    EXPECT_EQ(parseInteger("42"), 42);
    EXPECT_EQ(parseInteger("-7"), -7);
    EXPECT_EQ(parseInteger("+7"), 7);
    for (const char* bad : {"", "-", "4 2", "0x10", "1e3", " 1", "1234567890123456789"})
        EXPECT_EQ(parseInteger(bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace varnel::console
