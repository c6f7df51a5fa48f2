// parse ... directives: text handed to the console's readers, and what they made of it.
#include <map>
#include <stdexcept>

#include "console/command.h"
#include "console/selection.h"
#include "scenario_parts.h"

namespace varnel::test {
namespace {

std::string list(const std::vector<int>& v) { return console::formatNumberList(v); }

std::string units(const std::vector<console::UnitChoice>& us) {
    std::string out;
    for (const auto& u : us) out += " " + std::to_string(u.unit) + ":" + list(u.points) + (u.invert ? ":invert" : "");
    return out.empty() ? " (none)" : out;
}

template <class T>
std::string either(const console::Parsed<T>& p, const std::function<std::string(const T&)>& good) {
    if (const auto* e = std::get_if<std::string>(&p)) return "error: " + *e;
    return good(std::get<T>(p));
}

class Parsers final : public ScenarioPart {
public:
    bool directive(Scenario& s, const std::vector<std::string>& w, const std::string& line) override;
};

bool Parsers::directive(Scenario& s, const std::vector<std::string>& w, const std::string& line) {
    if (w[0] != "parse" || w.size() < 2) return false;
    Transcript& t = s.transcript;
    const std::string& what = w[1];
    const std::string text = restOf(line, 2);
    if (what == "command") {
        const auto r = console::parseCommand(text);
        if (const auto* e = std::get_if<console::ParseError>(&r)) return t.line("  error: " + e->message), true;
        const auto& c = std::get<console::Command>(r);
        const std::string canonical = console::formatCommand(c);
        const auto again = console::parseCommand(canonical);
        const bool back = std::holds_alternative<console::Command>(again) && std::get<console::Command>(again) == c;
        t.line("  command: " + canonical + (console::readsOnly(c) ? " (reads only)" : "") +
               (back ? "" : " (does not parse back)"));
    } else if (what == "list") {
        t.line("  " + either<std::vector<int>>(console::parseNumberList(text, 0, 127),
                                               [](const auto& v) { return "numbers " + list(v); }));
    } else if (what == "points") {
        t.line("  " + either<std::vector<console::UnitChoice>>(console::parseMirrorPoints(text),
                                                               [](const auto& v) { return "units" + units(v); }));
    } else if (what == "mirror-option") {
        const auto err = console::addMirrorOption(s.choice, w.at(2), restOf(line, 3));
        const auto& c = s.choice;
        t.line("  " + (err ? "error: " + *err + "; " : std::string()) + "variables " +
               (c.variables ? list(*c.variables) : std::string("(unchanged)")) + ", units" + units(c.units));
    } else if (what == "integer") {
        const auto v = console::parseInteger(text);
        t.line("  " + (v ? std::to_string(*v) : std::string("(not an integer)")));
    } else {
        return false;
    }
    return true;
}

const bool registered = registerPart([] { return std::make_unique<Parsers>(); });

}  // namespace
}  // namespace varnel::test
