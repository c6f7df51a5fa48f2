// Commands written back as the lines that produce them.
#include <algorithm>
#include <cctype>

#include "console/command.h"
#include "console/selection.h"
#include "console/x10_functions.h"

namespace varnel::console {

const X10Function* x10FunctionNamed(std::string_view name) {
    for (const auto& f : kX10Functions) {
        const std::string_view n = f.name;
        if (n.size() == name.size() && std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
                return a == std::tolower(static_cast<unsigned char>(b));
            }))
            return &f;
    }
    return nullptr;
}

const X10Function* x10FunctionOf(int command) {
    for (const auto& f : kX10Functions)
        if (f.command == command) return &f;
    return nullptr;
}

namespace {

const char* modeWord(ListMode m) {
    switch (m) {
        case ListMode::Add: return " add";
        case ListMode::Remove: return " remove";
        case ListMode::Replace: break;
    }
    return "";
}

std::string x10Target(const cmd::X10& x) {
    std::string out = x.house;
    if (x.units.empty()) return out;
    bool first = true;
    std::size_t start = 0;
    for (;;) {
        const auto plus = x.units.find('+', start);
        if (!first) out += "+" + x.house;
        out += x.units.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
        first = false;
        if (plus == std::string::npos) return out;
        start = plus + 1;
    }
}

struct Writer {
    std::string operator()(const cmd::Empty&) const { return ""; }
    std::string operator()(const cmd::Help& h) const { return h.topic.empty() ? "help" : "help " + h.topic; }
    std::string operator()(const cmd::Quit&) const { return "quit"; }
    std::string operator()(const cmd::Status&) const { return "status"; }
    std::string operator()(const cmd::Devices&) const { return "devices"; }
    std::string operator()(const cmd::Set& s) const {
        switch (s.action) {
            case cmd::Set::Action::On: return "set " + s.code + " on";
            case cmd::Set::Action::Off: return "set " + s.code + " off";
            case cmd::Set::Action::Value: break;
        }
        return "set " + s.code + " " + std::to_string(s.value);
    }
    std::string operator()(const cmd::X10& x) const {
        const X10Function* f = x10FunctionOf(x.command);
        std::string out = "x10 " + x10Target(x) + " " + (f ? f->name : "command-" + std::to_string(x.command));
        if (!f) return out;
        switch (f->arg) {
            case X10Function::Arg::Percent:
            case X10Function::Arg::Level: out += " " + std::to_string(x.brightness); break;
            case X10Function::Arg::Data: out += " " + std::to_string(x.data1) + " " + std::to_string(x.data2); break;
            case X10Function::Arg::None: break;
        }
        return out;
    }
    std::string operator()(const cmd::Var& v) const {
        return "var " + std::to_string(v.number) + " " + std::to_string(v.value);
    }
    std::string operator()(const cmd::IrPlay& p) const {
        return "ir play " + (p.zone ? "--zone " + std::to_string(*p.zone) + " " : std::string()) + p.loc;
    }
    std::string operator()(const cmd::IrLearn& l) const { return "ir learn " + std::to_string(l.label); }
    std::string operator()(const cmd::IrList&) const { return "ir list"; }
    std::string operator()(const cmd::Analog& a) const {
        return "analog " + std::to_string(a.unit) + " " + std::to_string(a.point);
    }
    std::string operator()(const cmd::Param& p) const {
        return "param " + std::to_string(p.unit) + " " + std::to_string(p.number);
    }
    std::string operator()(const cmd::Screen& s) const {
        std::string out = "screen";
        if (s.backlight) out += " --backlight";
        if (s.beep) out += " --beep";
        if (s.clear) out += " --clear";
        if (s.font != 0) out += " --font " + std::to_string(s.font);
        out += " " + std::to_string(s.x) + " " + std::to_string(s.y);
        if (s.text.empty()) return out;
        return out + (s.text.starts_with("--") ? " -- " : " ") + s.text;
    }
    std::string operator()(const cmd::MirrorShow&) const { return "mirror"; }
    std::string operator()(const cmd::Config&) const { return "config"; }
    std::string operator()(const cmd::History& h) const {
        std::string since = std::to_string(h.sinceSeconds) + "s";
        for (const auto& [unit, suffix] : {std::pair{86400, "d"}, {3600, "h"}, {60, "m"}})
            if (h.sinceSeconds % unit == 0) {
                since = std::to_string(h.sinceSeconds / unit) + suffix;
                break;
            }
        return "history " + h.target + " --since " + since;
    }
    std::string operator()(const cmd::MirrorVars& m) const {
        return std::string("mirror vars") + modeWord(m.mode) + " " + formatNumberList(m.vars);
    }
    std::string operator()(const cmd::MirrorPoints& m) const {
        std::string out =
            "mirror points " + std::to_string(m.unit) + modeWord(m.mode) + " " + formatNumberList(m.points);
        if (m.invert) out += *m.invert ? " invert" : " no-invert";
        return out;
    }
};

}  // namespace

std::string formatCommand(const Command& command) { return std::visit(Writer{}, command); }

}  // namespace varnel::console
