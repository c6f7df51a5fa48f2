#include "web/live_state.h"

#include <cstdio>

#include "commands/x10_commands.h"
#include "console/event_lines.h"
#include "host/embedded_host.h"
#include "plugin/hspi.h"
#include "support/codepage.h"
#include "support/text.h"
#include "web/state_view.h"

namespace varnel::web {

namespace {

using nlohmann::json;

// A second is short enough for a device made by a sync to show, long enough that a
// flood of events for unknown codes does not redo the table each time.
constexpr std::int64_t kRefreshMs = 1000;

std::int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

json orNull(const std::optional<std::string>& s) { return s ? json(*s) : json(nullptr); }

using entities::Kind;

std::optional<std::pair<int, int>> pointOf(const entities::Entity& e) {
    if (e.kind != Kind::Input && e.kind != Kind::Output) return std::nullopt;
    return std::pair{e.unit, e.point};
}

json pointState(const host::DeviceRecord& d) {
    return d.Status == kStatusOn ? json(true) : d.Status == kStatusOff ? json(false) : json(nullptr);
}

std::string x10Word(int function, const std::string& level) {
    switch (function) {
        case kX10On: return "on";
        case kX10Off: return "off";
        case kX10Dim: return level.empty() ? "dim" : "dim " + level + "%";
        default: return {};
    }
}

}  // namespace

std::string isoTime(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(t);
    const auto day = floor<days>(ms);
    const year_month_day ymd{day};
    const hh_mm_ss hms{ms - day};
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02ld:%02ld:%02ld.%03ldZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<long>(hms.hours().count()), static_cast<long>(hms.minutes().count()),
                  static_cast<long>(hms.seconds().count()), static_cast<long>(hms.subseconds().count()));
    return buf;
}

std::string dumpJson(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

LiveState::LiveState(const HSPI& plugin, const EmbeddedHost& host, LiveInfo info)
    : plugin_(plugin), host_(host), view_(plugin), info_(std::move(info)) {}

std::chrono::system_clock::time_point LiveState::now() const {
    return info_.clock ? info_.clock() : std::chrono::system_clock::now();
}

void LiveState::refreshEntities() {
    entities_ = entities::entitiesOf(host_.devices(), view_.facts());
    byCode_.clear();
    for (std::size_t i = 0; i < entities_.size(); ++i)
        if (!entities_[i].code.empty()) byCode_.try_emplace(entities_[i].code, i);
    devicesSeen_ = host_.devices().size();
    lastRefresh_ = steadyMs();
}

const entities::Entity* LiveState::entityOf(const std::string& code) {
    if (devicesSeen_ != host_.devices().size()) refreshEntities();
    auto it = byCode_.find(code);
    if (it == byCode_.end() && steadyMs() - lastRefresh_ >= kRefreshMs) {
        refreshEntities();
        it = byCode_.find(code);
    }
    return it == byCode_.end() ? nullptr : &entities_[it->second];
}

json LiveState::overview() const {
    const PluginStateView v = readPluginState(plugin_);
    json modules = json::array();
    for (const auto& m : v.modules)
        modules.push_back(
            {{"unit", m.unit}, {"type", m.typeName}, {"name", m.typeName + " unit " + std::to_string(m.unit)}});
    return {
        {"link", v.link.state},
        {"linkText", v.link.text},
        {"linkSince", v.link.since ? json(isoTime(*v.link.since)) : json(nullptr)},
        {"disconnectedBy", orNull(v.link.disconnectedBy)},
        {"startup", v.startup ? json{{"result", *v.startup}, {"at", isoTime(v.startupEnded)}} : json(nullptr)},
        {"modules", std::move(modules)},
        {"lastReplyAgoMs", v.lastReplyAgoMs ? json(*v.lastReplyAgoMs) : json(nullptr)},
        {"timeouts", v.timeouts},
        {"checksumErrors", v.checksumErrors},
        {"reportsHandled", v.reportsHandled},
        {"queued", v.queued},
        {"mqtt", info_.mqtt ? info_.mqtt() : std::string("off")},
        {"version", info_.version},
        {"http", info_.http},
    };
}

json LiveState::snapshot() {
    refreshEntities();
    const auto& devices = host_.devices();
    auto record = [&](const std::string& code) -> const host::DeviceRecord* {
        for (const auto& d : devices)
            if (d.code() == code) return &d;
        return nullptr;
    };

    json vars = json::array();
    std::vector<const entities::Entity*> byVar(128, nullptr);
    std::map<std::pair<int, int>, const entities::Entity*> byPoint;
    json x10 = json::array();
    for (const auto& e : entities_) {
        if (e.kind == Kind::Variable && e.number >= 0 && e.number < 128)
            byVar[static_cast<std::size_t>(e.number)] = &e;
        else if (auto p = pointOf(e))
            byPoint[*p] = &e;
        else if (e.kind == Kind::X10 && !e.appliance) {
            const auto known = x10_.find(e.code);
            x10.push_back({{"code", e.code},
                           {"name", e.name},
                           {"state", known == x10_.end() ? json(nullptr) : json(known->second)}});
        }
    }
    for (int n = 0; n < 128; ++n) {
        const entities::Entity* e = byVar[static_cast<std::size_t>(n)];
        const host::DeviceRecord* d = e ? record(e->code) : nullptr;
        vars.push_back({{"number", n},
                        {"value", d ? json(d->value) : json(nullptr)},
                        {"mirrored", d != nullptr},
                        {"name", e ? json(e->name) : json(nullptr)},
                        {"code", d ? json(toUtf8(d->code())) : json(nullptr)}});
    }

    json modules = json::array();
    for (const auto& m : readPluginState(plugin_).modules) {
        json points = json::array();
        const auto kinds = modulePoints(m.type);
        for (std::size_t p = 0; p < kinds.size(); ++p) {
            const auto it = byPoint.find({m.unit, static_cast<int>(p)});
            const host::DeviceRecord* d = it == byPoint.end() ? nullptr : record(it->second->code);
            points.push_back({{"point", p},
                              {"kind", kinds[p] == PointKind::Input ? "input" : "output"},
                              {"on", d ? pointState(*d) : json(nullptr)},
                              {"value", d ? json(d->value) : json(nullptr)},
                              {"mirrored", d != nullptr},
                              {"inverted", d != nullptr && field(d->iomisc, '!', 4) == "1"},
                              {"name", d ? json(it->second->name) : json(nullptr)},
                              {"code", d ? json(toUtf8(d->code())) : json(nullptr)}});
        }
        modules.push_back({{"unit", m.unit}, {"type", m.typeName}, {"points", std::move(points)}});
    }

    json ir = json::array();
    for (const auto& n : view_.irNames()) ir.push_back({{"index", n.index}, {"name", toUtf8(n.name)}});

    return {{"overview", overview()}, {"variables", std::move(vars)}, {"modules", std::move(modules)},
            {"x10", std::move(x10)},  {"irLabels", std::move(ir)},    {"events", json(events_)}};
}

LiveMessage LiveState::event(const std::string& kind, const std::string& text) {
    json e = {{"time", isoTime(now())}, {"kind", kind}, {"text", text}};
    events_.push_back(e);
    if (events_.size() > kKeptEvents) events_.pop_front();
    return {.key = {}, .text = dumpJson({{"type", "event"}, {"event", std::move(e)}})};
}

std::optional<LiveMessage> LiveState::x10State(const std::string& code, const std::string& state) {
    if (state.empty()) return std::nullopt;
    x10_[code] = state;
    return LiveMessage{.key = "x" + code, .text = dumpJson({{"type", "x10"}, {"code", code}, {"state", state}})};
}

std::vector<LiveMessage> LiveState::hostEvent(const host::HostEvent& e) {
    using Kind = host::HostEvent::Kind;
    std::vector<LiveMessage> out;
    const std::string text = console::describeEvent(e, &host_);
    switch (e.kind) {
        case Kind::X10: {
            const std::string state = x10Word(e.value, e.level);
            for (const auto& address : split(e.addresses, '+'))
                if (auto m = x10State(address, state)) out.push_back(std::move(*m));
            out.push_back(event("x10", text));
            return out;
        }
        case Kind::IR: {
            const auto label = view_.irLabelOf(e.value);
            out.push_back(event("ir", label ? text + " (" + toUtf8(*label) + ")" : text));
            return out;
        }
        case Kind::ValueChange:
        case Kind::StatusSet:
        case Kind::ValueSet: break;
    }
    std::string kind = "variable";
    if (const entities::Entity* ent = entityOf(e.code)) {
        const host::DeviceRecord* d = nullptr;
        for (const auto& r : host_.devices())
            if (r.code() == e.code) d = &r;
        if (ent->kind == entities::Kind::Variable && d) {
            out.push_back({.key = "v" + std::to_string(ent->number),
                           .text = dumpJson({{"type", "variable"}, {"number", ent->number}, {"value", d->value}})});
        } else if (auto p = pointOf(*ent); p && d) {
            kind = "input";
            out.push_back({.key = "p" + std::to_string(p->first) + "." + std::to_string(p->second),
                           .text = dumpJson({{"type", "point"},
                                             {"unit", p->first},
                                             {"point", p->second},
                                             {"on", pointState(*d)},
                                             {"value", d->value}})});
        } else if (ent->kind == entities::Kind::Touch) {
            kind = "screen";
        }
    }
    out.push_back(event(kind, text));
    return out;
}

LiveMessage LiveState::command(const std::string& line, const std::string& outcome) {
    return event("command", line + " -> " + outcome);
}

std::vector<LiveMessage> LiveState::x10Sent(const std::string& house, const std::string& units, int function,
                                            int percent) {
    std::vector<LiveMessage> out;
    const std::string state = x10Word(function, function == kX10Dim ? std::to_string(percent) : std::string());
    for (const auto& unit : split(units, '+'))
        if (!unit.empty())
            if (auto m = x10State(house + unit, state)) out.push_back(std::move(*m));
    return out;
}

}  // namespace varnel::web
