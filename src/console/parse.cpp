// Turning one console line into a command. Every failure is one line naming the
// command, what is wrong, and what would be right.
#include <algorithm>
#include <cctype>

#include "console/command.h"
#include "console/help.h"
#include "console/selection.h"
#include "console/x10_functions.h"

namespace varnel::console {

namespace {

struct Token {
    std::string_view text;
    std::size_t at = 0;  // offset in the line
};

std::vector<Token> tokenize(std::string_view line) {
    std::vector<Token> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) out.push_back({line.substr(start, i - start), start});
    }
    return out;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool is(const Token& t, std::string_view word) { return lowered(t.text) == word; }

std::string rtrim(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return std::string(s);
}

// The failure of one command: "<word>: <problem> (<hint>)".
class Failure {
public:
    explicit Failure(std::string word) : word_(std::move(word)) {}
    ParseError operator()(const std::string& problem) const {
        return {word_ + ": " + problem + " (usage: " + usageOf(word_) + ")"};
    }
    ParseError hinted(const std::string& problem, const std::string& hint) const {
        return {word_ + ": " + problem + " (" + hint + ")"};
    }

private:
    std::string word_;
};

// A number lo..hi, or the failure naming `what`.
std::variant<long long, ParseError> number(const Failure& fail, const Token& t, const char* what, long long lo,
                                           long long hi) {
    const auto v = parseInteger(t.text);
    const std::string range = std::to_string(lo) + " to " + std::to_string(hi);
    if (!v) return fail(std::string(what) + " " + quoted(t.text) + " is not a number " + range);
    if (*v < lo || *v > hi) return fail(std::string(what) + " must be " + range + ", not " + std::to_string(*v));
    return *v;
}

// Reads numbered arguments in order; the first failure sticks.
struct Numbers {
    const Failure& fail;
    std::optional<ParseError> error;
    int get(const Token& t, const char* what, long long lo, long long hi) {
        if (error) return 0;
        auto r = number(fail, t, what, lo, hi);
        if (auto* e = std::get_if<ParseError>(&r)) {
            error = *e;
            return 0;
        }
        return static_cast<int>(std::get<long long>(r));
    }
};

ParseResult noArguments(Command c, const std::vector<Token>& toks) {
    if (toks.size() > 1) {
        Failure fail(lowered(toks[0].text));
        return fail("takes nothing after it, got " + quoted(toks[1].text));
    }
    return c;
}

ParseResult parseHelp(const std::vector<Token>& toks) {
    Failure fail("help");
    if (toks.size() > 2) return fail("names one command at most");
    if (toks.size() == 1) return cmd::Help{};
    if (!isCommandWord(toks[1].text))
        return fail.hinted("no command " + quoted(toks[1].text), "type help for the list");
    std::string topic = lowered(toks[1].text);
    if (topic == "exit") topic = "quit";
    return cmd::Help{topic};
}

ParseResult parseSet(const std::vector<Token>& toks) {
    Failure fail("set");
    if (toks.size() != 3) return fail("needs a device code and on, off or a value");
    cmd::Set s;
    s.code = std::string(toks[1].text);
    if (s.code.size() > 16) return fail("device code " + quoted(s.code) + " is too long");
    if (is(toks[2], "on")) {
        s.action = cmd::Set::Action::On;
    } else if (is(toks[2], "off")) {
        s.action = cmd::Set::Action::Off;
    } else {
        const auto v = parseInteger(toks[2].text);
        if (!v) return fail("say on, off or a number, not " + quoted(toks[2].text));
        if (*v < 0 || *v > 32767) return fail("a value must be 0 to 32767 (var N VALUE writes larger ones)");
        s.action = cmd::Set::Action::Value;
        s.value = static_cast<std::int32_t>(*v);
    }
    return s;
}

// The everyday functions (those that take a unit list) first.
std::string x10FunctionList() {
    std::string out;
    for (const bool everyday : {true, false}) {
        for (const auto& f : kX10Functions) {
            if (f.unitList != everyday) continue;
            if (!out.empty()) out += ", ";
            out += f.name;
            if (f.arg == X10Function::Arg::Percent) out += " N";
            if (f.arg == X10Function::Arg::Level) out += " LEVEL";
            if (f.arg == X10Function::Arg::Data) out += " D1 D2";
        }
    }
    return out;
}

// "A", "A1", "A1+A3", "A1+3": house A..P and units 1..16, each named once.
std::optional<ParseError> parseX10Target(const Failure& fail, std::string_view text, cmd::X10& x) {
    const char house = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (house < 'A' || house > 'P')
        return fail.hinted("house " + quoted(text.substr(0, 1)) + " is not A to P", "e.g. x10 A1+A3 on");
    x.house = std::string(1, house);
    std::string_view rest = text.substr(1);
    if (rest.empty()) return std::nullopt;
    std::vector<int> units;
    for (;;) {
        const auto plus = rest.find('+');
        std::string_view item = rest.substr(0, plus);
        if (!item.empty() && std::isalpha(static_cast<unsigned char>(item[0]))) {
            if (std::toupper(static_cast<unsigned char>(item[0])) != house)
                return fail.hinted("all units must be in house " + x.house + ", not " + quoted(item),
                                   "send one command per house");
            item.remove_prefix(1);
        }
        const auto unit = parseInteger(item);
        if (!unit || *unit < 1 || *unit > 16 || item.front() == '+' || item.front() == '-')
            return fail.hinted("unit " + quoted(item) + " in " + quoted(text) + " is not 1 to 16", "e.g. A1+A3");
        if (std::find(units.begin(), units.end(), *unit) != units.end())
            return fail.hinted("unit " + std::to_string(*unit) + " is named twice", "e.g. A1+A3");
        units.push_back(static_cast<int>(*unit));
        if (!x.units.empty()) x.units += '+';
        x.units += std::to_string(*unit);
        if (plus == std::string_view::npos) return std::nullopt;
        rest.remove_prefix(plus + 1);
    }
}

ParseResult parseX10(const std::vector<Token>& toks) {
    Failure fail("x10");
    if (toks.size() < 3) return fail("needs a target and a function");
    cmd::X10 x;
    if (auto err = parseX10Target(fail, toks[1].text, x)) return *err;
    const X10Function* f = x10FunctionNamed(toks[2].text);
    if (!f) return fail.hinted("unknown function " + quoted(toks[2].text), x10FunctionList());
    x.command = f->command;

    const std::size_t wanted = f->arg == X10Function::Arg::None ? 0 : f->arg == X10Function::Arg::Data ? 2 : 1;
    const std::size_t given = toks.size() - 3;
    if (given != wanted) {
        const char* what = f->arg == X10Function::Arg::Percent ? "a percentage 0 to 100"
                           : f->arg == X10Function::Arg::Level ? "a level 0 to 31"
                           : f->arg == X10Function::Arg::Data  ? "two data bytes 0 to 255"
                                                               : "nothing";
        return fail(std::string(f->name) + " takes " + what);
    }
    Numbers n{fail, {}};
    switch (f->arg) {
        case X10Function::Arg::Percent:
            x.brightness = static_cast<std::int16_t>(n.get(toks[3], "percentage", 0, 100));
            break;
        case X10Function::Arg::Level: x.brightness = static_cast<std::int16_t>(n.get(toks[3], "level", 0, 31)); break;
        case X10Function::Arg::Data:
            x.data1 = static_cast<std::int16_t>(n.get(toks[3], "data byte", 0, 255));
            x.data2 = static_cast<std::int16_t>(n.get(toks[4], "data byte", 0, 255));
            break;
        case X10Function::Arg::None: break;
    }
    if (n.error) return *n.error;

    const auto unitCount = x.units.empty() ? 0 : std::count(x.units.begin(), x.units.end(), '+') + 1;
    if (!f->unitList && unitCount > 1)
        return fail.hinted(std::string(f->name) + " takes one unit at most", "e.g. x10 " + x.house + " " + f->name);
    if (f->arg == X10Function::Arg::Data && unitCount == 0)
        return fail.hinted("extended needs at least one unit", "e.g. x10 " + x.house + "1 extended 49 255");
    return x;
}

ParseResult parseVar(const std::vector<Token>& toks) {
    Failure fail("var");
    if (toks.size() != 3) return fail("needs a variable number and a value");
    Numbers n{fail, {}};
    cmd::Var v;
    v.number = n.get(toks[1], "variable", 0, 127);
    v.value = n.get(toks[2], "value", 0, 65535);
    if (n.error) return *n.error;
    return v;
}

ParseResult parseIr(std::string_view line, const std::vector<Token>& toks) {
    Failure fail("ir");
    if (toks.size() < 2) return fail("say play, learn or list");
    if (is(toks[1], "list")) {
        if (toks.size() > 2) return fail("list takes nothing after it");
        return cmd::IrList{};
    }
    if (is(toks[1], "learn")) {
        if (toks.size() != 3) return fail("learn takes one label number");
        Numbers n{fail, {}};
        cmd::IrLearn l{n.get(toks[2], "label", 0, 1023)};
        if (n.error) return *n.error;
        return l;
    }
    if (!is(toks[1], "play")) return fail("say play, learn or list, not " + quoted(toks[1].text));

    cmd::IrPlay p;
    std::size_t first = 2, last = toks.size();  // the label's tokens
    Numbers n{fail, {}};
    auto zoneAt = [&](std::size_t i) { p.zone = n.get(toks[i + 1], "zone", 0, 32767); };
    if (first + 1 < last && is(toks[first], "--zone")) {
        zoneAt(first);
        first += 2;
    } else if (last >= first + 3 && is(toks[last - 2], "--zone")) {
        zoneAt(last - 2);
        last -= 2;
    }
    if (n.error) return *n.error;
    if (first < toks.size() && is(toks[first], "--zone")) return fail("--zone needs a zone number");
    if (first >= last) return fail("play needs a label number or a group and label name");
    for (std::size_t i = first; i < last; ++i)
        if (is(toks[i], "--zone")) return fail("--zone Z stands before the label or at the end");

    const std::string_view loc =
        line.substr(toks[first].at, toks[last - 1].at + toks[last - 1].text.size() - toks[first].at);
    if (first + 1 == last) {
        const auto v = parseInteger(loc);
        if (v && loc.front() != '+' && loc.front() != '-') {
            if (*v > 1023) return fail("label must be 0 to 1023, not " + std::to_string(*v));
            p.loc = std::to_string(*v);
            return p;
        }
        return fail.hinted(quoted(loc) + " is neither a label number 0 to 1023 nor a 'GROUP LABEL' name",
                           "ir list shows the names");
    }
    if (loc.size() > 200) return fail("name is too long");
    p.loc = std::string(loc);
    return p;
}

ParseResult parseUnitAnd(const std::vector<Token>& toks, const char* word, const char* second, long long lo,
                         long long hi) {
    Failure fail(word);
    if (toks.size() != 3) return fail(std::string("needs a unit and a ") + second);
    Numbers n{fail, {}};
    const int unit = n.get(toks[1], "unit", 1, 128);
    const int other = n.get(toks[2], second, lo, hi);
    if (n.error) return *n.error;
    if (std::string_view(word) == "analog") return cmd::Analog{unit, other};
    return cmd::Param{unit, other};
}

ParseResult parseScreen(std::string_view line, const std::vector<Token>& toks) {
    Failure fail("screen");
    cmd::Screen s;
    Numbers n{fail, {}};
    std::vector<int> coords;
    std::size_t i = 1;
    bool endOfOptions = false;
    for (; i < toks.size(); ++i) {
        const Token& t = toks[i];
        if (!endOfOptions && t.text.starts_with("--")) {
            const std::string opt = lowered(t.text);
            if (opt == "--") {
                endOfOptions = true;
                if (coords.size() == 2) {
                    ++i;
                    break;
                }
            } else if (opt == "--backlight") {
                s.backlight = true;
            } else if (opt == "--beep") {
                s.beep = true;
            } else if (opt == "--clear") {
                s.clear = true;
            } else if (opt == "--font") {
                if (i + 1 >= toks.size()) return fail("--font needs 0 or 1");
                s.font = n.get(toks[++i], "font", 0, 1);
            } else {
                return fail.hinted("unknown option " + quoted(t.text),
                                   "--backlight, --beep, --clear, --font 0|1; -- before a text starting with --");
            }
            continue;
        }
        if (coords.size() == 2) break;
        coords.push_back(n.get(t, coords.empty() ? "x" : "y", 0, 32767));
    }
    if (n.error) return *n.error;
    if (coords.size() < 2) return fail("needs X and Y before the text");
    s.x = coords[0];
    s.y = coords[1];
    if (i < toks.size()) s.text = rtrim(line.substr(toks[i].at));
    return s;
}

ParseResult parseMirror(std::string_view line, const std::vector<Token>& toks) {
    Failure fail("mirror");
    if (toks.size() == 1) return cmd::MirrorShow{};
    const bool vars = is(toks[1], "vars");
    if (!vars && !is(toks[1], "points")) return fail("say vars or points, not " + quoted(toks[1].text));

    std::size_t first = 2;
    int unit = 0;
    if (!vars) {
        if (toks.size() < 3) return fail("points needs a unit and a list");
        Numbers n{fail, {}};
        unit = n.get(toks[2], "unit", 1, 128);
        if (n.error) return *n.error;
        first = 3;
    }
    ListMode mode = ListMode::Replace;
    if (first < toks.size() && is(toks[first], "add")) mode = ListMode::Add;
    if (first < toks.size() && is(toks[first], "remove")) mode = ListMode::Remove;
    if (mode != ListMode::Replace) ++first;
    std::size_t last = toks.size();
    std::optional<bool> invert;
    if (!vars && last > first && (is(toks[last - 1], "invert") || is(toks[last - 1], "no-invert"))) {
        invert = is(toks[last - 1], "invert");
        --last;
    }
    if (first >= last)
        return fail.hinted(std::string(vars ? "vars" : "points") + " needs a list",
                           vars ? "e.g. mirror vars 0-9,64 or none" : "e.g. mirror points 1 0-7 or none");
    const std::string_view list =
        line.substr(toks[first].at, toks[last - 1].at + toks[last - 1].text.size() - toks[first].at);
    auto parsed = parseNumberList(list, 0, vars ? 127 : 15);
    if (auto* err = std::get_if<std::string>(&parsed))
        return fail.hinted((vars ? "variables: " : "points: ") + *err, "numbers and ranges like 0-9,12, or none");
    auto numbers = std::get<std::vector<int>>(std::move(parsed));
    if (vars) return cmd::MirrorVars{mode, std::move(numbers)};
    return cmd::MirrorPoints{unit, mode, std::move(numbers), invert};
}

// "90s", "15m", "24h", "7d"; a bare number is hours.
std::optional<std::int64_t> parseSince(std::string_view t) {
    std::int64_t unit = 3600;
    if (!t.empty() && std::isalpha(static_cast<unsigned char>(t.back()))) {
        switch (std::tolower(static_cast<unsigned char>(t.back()))) {
            case 's': unit = 1; break;
            case 'm': unit = 60; break;
            case 'h': unit = 3600; break;
            case 'd': unit = 86400; break;
            default: return std::nullopt;
        }
        t.remove_suffix(1);
    }
    const auto n = parseInteger(t);
    if (!n || t.front() == '+' || t.front() == '-' || *n < 1 || *n * unit > 3650LL * 86400) return std::nullopt;
    return *n * unit;
}

ParseResult parseHistory(std::string_view line, const std::vector<Token>& toks) {
    Failure fail("history");
    cmd::History h;
    std::size_t last = toks.size();
    if (last >= 3 && is(toks[last - 2], "--since")) {
        const auto since = parseSince(toks[last - 1].text);
        if (!since)
            return fail.hinted("--since needs a time up to 3650 days, not " + quoted(toks[last - 1].text),
                               "e.g. 90m, 24h, 7d");
        h.sinceSeconds = *since;
        last -= 2;
    }
    if (last < 2) return fail("needs a device code or name, var N, or a series such as link");
    for (std::size_t i = 1; i < last; ++i)
        if (is(toks[i], "--since")) return fail("--since TIME stands at the end");
    if (is(toks[1], "var") && last == 3) {
        Numbers n{fail, {}};
        const int v = n.get(toks[2], "variable", 0, 127);
        if (n.error) return *n.error;
        h.target = "var:" + std::to_string(v);
        return h;
    }
    const std::string_view target =
        line.substr(toks[1].at, toks[last - 1].at + toks[last - 1].text.size() - toks[1].at);
    if (target.size() > 200) return fail("name is too long");
    h.target = std::string(target);
    return h;
}

}  // namespace

ParseResult parseCommand(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.size() > kMaxLineLength)
        return ParseError{"line too long (" + std::to_string(line.size()) + " characters, at most " +
                          std::to_string(kMaxLineLength) + ")"};
    for (char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7F)
            return ParseError{"line holds a control character (code " + std::to_string(u) + "); nothing was run"};
    }
    const auto toks = tokenize(line);
    if (toks.empty() || toks[0].text.front() == '#') return cmd::Empty{};

    const std::string word = lowered(toks[0].text);
    if (word == "help" || word == "?") return parseHelp(toks);
    if (word == "quit" || word == "exit") return noArguments(cmd::Quit{}, toks);
    if (word == "status") return noArguments(cmd::Status{}, toks);
    if (word == "devices") return noArguments(cmd::Devices{}, toks);
    if (word == "set") return parseSet(toks);
    if (word == "x10") return parseX10(toks);
    if (word == "var") return parseVar(toks);
    if (word == "ir") return parseIr(line, toks);
    if (word == "analog") return parseUnitAnd(toks, "analog", "point", 0, 15);
    if (word == "param") return parseUnitAnd(toks, "param", "parameter", 1, 256);
    if (word == "screen") return parseScreen(line, toks);
    if (word == "mirror") return parseMirror(line, toks);
    if (word == "config") return noArguments(cmd::Config{}, toks);
    if (word == "history") return parseHistory(line, toks);
    return ParseError{"unknown command " + quoted(toks[0].text) + " (type help for the commands)"};
}

bool readsOnly(const Command& command) {
    return std::holds_alternative<cmd::Empty>(command) || std::holds_alternative<cmd::Help>(command) ||
           std::holds_alternative<cmd::Quit>(command) || std::holds_alternative<cmd::Status>(command) ||
           std::holds_alternative<cmd::Devices>(command) || std::holds_alternative<cmd::IrList>(command) ||
           std::holds_alternative<cmd::MirrorShow>(command) || std::holds_alternative<cmd::History>(command);
}

}  // namespace varnel::console
