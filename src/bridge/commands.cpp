#include "bridge/commands.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <optional>

#include "bridge/entities.h"
#include "commands/x10_commands.h"
#include "console/selection.h"
#include "support/text.h"

namespace varnel::bridge {

namespace {

using nlohmann::json;
namespace cmd = console::cmd;

constexpr std::size_t kMaxScreenText = 255;
// Rows of text on the Leopard screen, counted as screen writes count y.
constexpr std::size_t kScreenRows = 16;

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// An integer as Home Assistant sends a number ("40", also "40.0"), within lo..hi.
std::optional<long long> wholeNumber(std::string_view text, long long lo, long long hi) {
    text = trimmed(text);
    if (text.empty() || text.size() > 24) return std::nullopt;
    if (auto n = console::parseInteger(text)) {
        if (*n < lo || *n > hi) return std::nullopt;
        return n;
    }
    const auto v = parseNumber(text);
    if (!v || !std::isfinite(*v) || std::floor(*v) != *v || *v < static_cast<double>(lo) ||
        *v > static_cast<double>(hi))
        return std::nullopt;
    return static_cast<long long>(*v);
}

std::optional<std::string> controlCharacter(std::string_view text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return "holds a control character (code " + std::to_string(u) + ")";
    }
    return std::nullopt;
}

// A console line made of a fixed start and the payload, which must parse to a `T`.
template <class T>
CommandResult consoleLine(const std::string& start, std::string_view payload) {
    if (auto bad = controlCharacter(payload)) return "the command " + *bad;
    const auto parsed = console::parseCommand(start + std::string(payload));
    if (const auto* err = std::get_if<console::ParseError>(&parsed)) return err->message;
    const auto& command = std::get<console::Command>(parsed);
    if (!std::holds_alternative<T>(command)) return "say what to do after \"" + start + "\"";
    return Action{.commands = {command}};
}

cmd::X10 x10To(const std::string& code, int command, int percent = 0) {
    return cmd::X10{.house = code.substr(0, 1),
                    .units = code.substr(1),
                    .command = static_cast<std::int16_t>(command),
                    .brightness = static_cast<std::int16_t>(percent)};
}

}  // namespace

CommandResult variableCommand(const Entity& e, std::string_view payload, const LightState*) {
    const auto v = wholeNumber(payload, 0, 65535);
    if (!v) return "a variable takes a whole number 0 to 65535, not " + console::quoted(payload);
    return Action{.commands = {cmd::Var{.number = e.number, .value = static_cast<std::int32_t>(*v)}}};
}

CommandResult switchCommand(const Entity& e, std::string_view payload, const LightState*) {
    const std::string_view p = trimmed(payload);
    if (!equalsNoCase(p, "ON") && !equalsNoCase(p, "OFF"))
        return "a switch takes ON or OFF, not " + console::quoted(payload);
    return Action{.commands = {cmd::Set{
                      .code = e.code, .action = equalsNoCase(p, "ON") ? cmd::Set::Action::On : cmd::Set::Action::Off}}};
}

// {"state":"ON","brightness":128} / {"state":"OFF"}. X10 dims by steps from where the
// lamp is, so brightness goes out as a dim or bright by the difference; a lamp that was
// off comes on at full brightness first.
CommandResult lightCommand(const Entity& e, std::string_view payload, const LightState* light) {
    const json j = json::parse(payload, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return "a light takes a JSON object such as {\"state\":\"ON\"}";
    std::optional<bool> on;
    std::optional<int> brightness;
    if (const auto it = j.find("state"); it != j.end()) {
        if (!it->is_string() || (*it != "ON" && *it != "OFF")) return "a light's state must be \"ON\" or \"OFF\"";
        on = *it == "ON";
    }
    if (const auto it = j.find("brightness"); it != j.end()) {
        if (!it->is_number() || !std::isfinite(it->get<double>()) || it->get<double>() < 0 || it->get<double>() > 255 ||
            std::floor(it->get<double>()) != it->get<double>())
            return "a light's brightness must be a whole number 0 to 255";
        brightness = static_cast<int>(it->get<double>());
    }
    if (!on && !brightness) return "a light command needs a state or a brightness";
    if (brightness == 0) on = false;

    if (on == false) {
        LightState next = light ? *light : LightState{};
        next.on = false;
        return Action{.commands = {x10To(e.code, kX10Off)}, .light = next};
    }
    Action a;
    int level = 255;
    if (light && light->on) {
        level = light->brightness;
    } else {
        a.commands.push_back(x10To(e.code, kX10On));
    }
    const int target = brightness.value_or(light ? light->brightness : 255);
    const int percent = static_cast<int>(std::lround(std::abs(target - level) * 100.0 / 255.0));
    if (percent > 0) a.commands.push_back(x10To(e.code, target < level ? kX10Dim : kX10Bright, percent));
    // Already so, as far as the bridge knows; a lamp switched by hand says nothing, so it is sent anyway.
    if (a.commands.empty()) a.commands.push_back(x10To(e.code, kX10On));
    a.light = LightState{.on = true, .brightness = target};
    return a;
}

CommandResult x10SwitchCommand(const Entity& e, std::string_view payload, const LightState* light) {
    const std::string_view p = trimmed(payload);
    if (!equalsNoCase(p, "ON") && !equalsNoCase(p, "OFF"))
        return "a switch takes ON or OFF, not " + console::quoted(payload);
    LightState next = light ? *light : LightState{};
    next.on = equalsNoCase(p, "ON");
    return Action{.commands = {x10To(e.code, next.on ? kX10On : kX10Off)}, .light = next};
}

CommandResult buttonCommand(const Entity& e, std::string_view payload, const LightState*) {
    if (trimmed(payload) != "PRESS") return "a button takes PRESS, not " + console::quoted(payload);
    return Action{.commands = {cmd::IrPlay{.loc = e.target, .zone = std::nullopt}}};
}

// One line of text; a notification's lines go on the screen's rows from the top, the
// screen cleared first.
CommandResult screenCommand(const Entity&, std::string_view payload, const LightState*) {
    std::string_view text = payload;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    std::vector<std::string_view> lines;
    for (std::size_t start = 0;;) {
        const auto end = text.find('\n', start);
        std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    if (lines.size() > kScreenRows)
        return "the screen text has " + std::to_string(lines.size()) + " lines, the screen shows " +
               std::to_string(kScreenRows);
    Action a;
    for (std::size_t row = 0; row < lines.size(); ++row) {
        const std::string_view line = lines[row];
        const std::string which = lines.size() > 1 ? " line " + std::to_string(row + 1) : std::string();
        if (line.size() > kMaxScreenText)
            return "the screen text" + which + " is " + std::to_string(line.size()) + " bytes long, at most " +
                   std::to_string(kMaxScreenText) + " are taken";
        if (auto bad = controlCharacter(line)) return "the screen text" + which + " " + *bad;
        // Blank lines below the first are left as the clear made them.
        if (row > 0 && line.empty()) continue;
        a.commands.push_back(
            cmd::Screen{.x = 0, .y = static_cast<int>(row), .text = std::string(line), .clear = row == 0});
    }
    return a;
}

// {"text":"Hello","x":0,"y":1,"clear":false,"beep":false,"backlight":false,"font":0}
CommandResult screenWriteCommand(const Entity&, std::string_view payload, const LightState*) {
    const json j = json::parse(payload, nullptr, false);
    if (j.is_discarded() || !j.is_object() || !j.contains("text") || !j["text"].is_string())
        return "a screen write takes a JSON object with \"text\" (and x, y, clear, beep, backlight, font)";
    const auto text = j["text"].get<std::string>();
    if (text.size() > kMaxScreenText)
        return "the screen text is " + std::to_string(text.size()) + " bytes long, at most " +
               std::to_string(kMaxScreenText) + " are taken";
    if (auto bad = controlCharacter(text)) return "the screen text " + *bad;
    CommandResult result = Action{.commands = {cmd::Screen{.x = 0, .y = 0, .text = text, .clear = false}}};
    auto* action = std::get_if<Action>(&result);
    auto& s = std::get<cmd::Screen>(action->commands.front());
    const struct {
        const char* key;
        int* into;
        int hi;
    } numbers[] = {{"x", &s.x, 32767}, {"y", &s.y, 32767}, {"font", &s.font, 1}};
    for (const auto& n : numbers) {
        const auto it = j.find(n.key);
        if (it == j.end()) continue;
        if (!it->is_number_integer() || it->get<long long>() < 0 || it->get<long long>() > n.hi)
            return std::string("a screen write's ") + n.key + " must be a whole number 0 to " + std::to_string(n.hi);
        *n.into = static_cast<int>(it->get<long long>());
    }
    const struct {
        const char* key;
        bool* into;
    } flags[] = {{"clear", &s.clear}, {"beep", &s.beep}, {"backlight", &s.backlight}};
    for (const auto& f : flags) {
        const auto it = j.find(f.key);
        if (it == j.end()) continue;
        if (!it->is_boolean()) return std::string("a screen write's ") + f.key + " must be true or false";
        *f.into = it->get<bool>();
    }
    return result;
}

CommandResult x10SendCommand(const Entity&, std::string_view payload, const LightState*) {
    return consoleLine<cmd::X10>("x10 ", payload);
}

CommandResult irPlayCommand(const Entity&, std::string_view payload, const LightState*) {
    return consoleLine<cmd::IrPlay>("ir play ", payload);
}

std::vector<std::pair<std::string, LightState>> heardX10(const host::HostEvent& e,
                                                         const std::vector<std::string>& lights,
                                                         const std::map<std::string, LightState>& now) {
    std::vector<std::string> codes;
    const int command = e.value;
    if (command == kX10AllUnitsOff || command == kX10AllLightsOn || command == kX10AllLightsOff) {
        for (const auto& code : lights)
            if (!e.code.empty() && code.starts_with(e.code.substr(0, 1))) codes.push_back(code);
    } else {
        // "A1+A3"; the list is the controller's, so it is read with care.
        constexpr std::size_t kMaxAddresses = 64;
        for (const auto& item : split(e.addresses, '+')) {
            if (codes.size() >= kMaxAddresses) break;
            if (std::find(lights.begin(), lights.end(), item) != lights.end()) codes.push_back(item);
        }
    }
    std::vector<std::pair<std::string, LightState>> out;
    for (const auto& code : codes) {
        const auto it = now.find(code);
        LightState s = it != now.end() ? it->second : LightState{};
        switch (command) {
            case kX10On:
            case kX10AllLightsOn:
            case kX10Dim:
            case kX10Bright: s.on = true; break;
            case kX10Off:
            case kX10AllUnitsOff:
            case kX10AllLightsOff: s.on = false; break;
            case kX10Preset:
            case kX10PresetHigh: {
                const auto level = console::parseInteger(e.level);
                if (!level || *level < 0 || *level > 31) continue;
                s.on = *level > 0;
                if (*level > 0)
                    s.brightness = static_cast<int>(std::lround(static_cast<double>(*level) * 255.0 / 31.0));
                break;
            }
            default: continue;
        }
        out.emplace_back(code, s);
    }
    return out;
}

std::vector<std::pair<std::string, LightState>> sentX10(const cmd::X10& x, const std::vector<std::string>& lights,
                                                        const std::map<std::string, LightState>& now) {
    host::HostEvent e{.kind = host::HostEvent::Kind::X10, .code = x.house, .value = x.command};
    if (!x.units.empty()) {
        for (const auto& unit : split(x.units, '+')) {
            if (!e.addresses.empty()) e.addresses += '+';
            e.addresses += x.house + unit;
        }
    }
    if (x.command == kX10Preset) e.level = std::to_string(x.brightness);
    auto out = heardX10(e, lights, now);
    if (x.command != kX10Dim && x.command != kX10Bright) return out;
    // As the light's own topic reckons: steps from where the lamp is, full when it was off.
    const int step = static_cast<int>(std::lround(x.brightness * 255.0 / 100.0));
    for (auto& [code, s] : out) {
        const auto it = now.find(code);
        const int level = it != now.end() && it->second.on ? it->second.brightness : 255;
        s.brightness = std::clamp(x.command == kX10Dim ? level - step : level + step, 1, 255);
    }
    return out;
}

}  // namespace varnel::bridge
