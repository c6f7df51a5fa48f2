#include "history/console_history.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "entities/host_entity.h"
#include "files/files.h"
#include "history/recorder.h"
#include "host/embedded_host.h"

namespace varnel::history {

namespace {

constexpr std::size_t kShown = 200;
constexpr std::size_t kRead = 1'000'000;

std::optional<long> number(std::string_view s) {
    if (s.empty() || s.size() > 6) return std::nullopt;
    long n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

}  // namespace

std::string valueText(double v) {
    char buf[32];
    if (std::nearbyint(v) == v && std::fabs(v) < 1e15)
        std::snprintf(buf, sizeof buf, "%.0f", v);
    else
        std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

bool isSeriesId(std::string_view id) {
    for (const char* fixed : {"link", "x10", "ir", "touch", "command"})
        if (id == fixed) return true;
    if (id.starts_with("var:")) {
        const auto n = number(id.substr(4));
        return n && *n <= 127 && id.size() <= 7;
    }
    if (id.starts_with("unit:")) {
        const auto colon = id.find(":point:", 5);
        if (colon == std::string_view::npos) return false;
        const auto unit = number(id.substr(5, colon - 5));
        const auto point = number(id.substr(colon + 7));
        return unit && point && *unit >= 1 && *unit <= 128 && *point <= 15 &&
               std::to_string(*unit) == id.substr(5, colon - 5) && std::to_string(*point) == id.substr(colon + 7);
    }
    return false;
}

std::variant<std::string, Refusal> seriesNamed(const std::string& target, const EmbeddedHost& host,
                                               const entities::PluginView& view) {
    if (isSeriesId(target)) return target;
    const auto& devices = host.devices();
    const host::DeviceRecord* found = nullptr;
    for (const auto& d : devices)
        if (d.code() == target) found = &d;
    for (int pass = 0; pass < 3 && !found; ++pass)
        for (const auto& d : devices) {
            const std::string& against = pass == 0 ? d.code() : pass == 1 ? d.name : entities::displayName(d);
            if (!against.empty() && files::equalsNoCase(against, target)) {
                found = &d;
                break;
            }
        }
    if (!found) return Refusal{"history: no device, variable or series \"" + target + "\" (devices lists them)"};
    const auto entity = entities::entityOf(*found, view.facts());
    const std::string id = entity ? seriesOf(*entity) : std::string();
    if (id.empty())
        return Refusal{"history: " + found->code() + " (" + found->name +
                       ") has no series of its own; its reports are in x10, ir or touch"};
    return id;
}

std::string localTime(std::int64_t ms) {
    const std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    localtime_r(&secs, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

std::string statusLine(Store& store) {
    const Usage u = store.usage();
    if (!u.open) return "history: not kept (see the host log)";
    const Settings& s = store.settings();
    std::string line = "history: " + std::to_string(u.changes) + " changes";
    if (u.oldest) line += " since " + localTime(*u.oldest);
    line += ", " + files::sizeText(u.bytes) + " of " + std::to_string(s.maxMb) + " MiB (every change " +
            std::to_string(s.rawDays) + " days, " + std::to_string(s.foldMinutes) + "-minute intervals " +
            std::to_string(s.keepDays) + " days)";
    if (u.paused) line += "; PAUSED: cannot write (see the host log)";
    return line;
}

console::Reply historyReply(Store& store, const EmbeddedHost& host, const entities::PluginView& view,
                            const console::cmd::History& h, std::int64_t nowMs) {
    auto named = seriesNamed(h.target, host, view);
    if (auto* no = std::get_if<Refusal>(&named)) return {console::Reply::Outcome::Error, {no->text}};
    const std::string id = std::get<std::string>(named);
    store.flush();  // what was gathered since the last batch shows too
    const std::int64_t from = nowMs - h.sinceSeconds * 1000;
    const auto changes = store.changes(id, from, nowMs + 1, kRead);
    const auto kind = store.kindOf(id);
    std::string name = id;
    for (const auto& s : store.series())
        if (s.id == id) name = s.name;
    std::vector<std::string> lines;
    std::string head = "history " + id + (name != id ? " (" + name + ")" : "") + " since " + localTime(from) + ": " +
                       std::to_string(changes.size()) + (changes.size() == 1 ? " change" : " changes");
    if (changes.size() > kShown) head += ", the last " + std::to_string(kShown);
    lines.push_back(head);
    const std::size_t first = changes.size() > kShown ? changes.size() - kShown : 0;
    for (std::size_t i = first; i < changes.size(); ++i) {
        const Change& c = changes[i];
        std::string what;
        if (c.interval)
            what = "min " + valueText(c.min) + ", max " + valueText(c.max) + ", last " + valueText(c.value) + " (" +
                   c.text + " in this interval)";
        else if (kind == SeriesKind::Event || !c.text.empty())
            what = c.text;
        else if (kind == SeriesKind::State && (c.value == 0 || c.value == 1))
            what = c.value == 1 ? "on" : "off";
        else
            what = valueText(c.value);
        lines.push_back("  " + localTime(c.t) + "  " + what);
    }
    return {console::Reply::Outcome::Done, std::move(lines)};
}

}  // namespace varnel::history
