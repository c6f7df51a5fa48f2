#include "history/recorder.h"

#include "console/event_lines.h"
#include "platform/host_api.h"
#include "support/codepage.h"

namespace varnel::history {

namespace {

// A device made by a sync shows within a second; a flood of events for unknown codes
// does not redo the table each time.
constexpr std::int64_t kRefreshMs = 1000;

using entities::Kind;

}  // namespace

std::string seriesOf(const entities::Entity& e) {
    switch (e.kind) {
        case Kind::Variable: return "var:" + std::to_string(e.number);
        case Kind::Input:
        case Kind::Output: return "unit:" + std::to_string(e.unit) + ":point:" + std::to_string(e.point);
        case Kind::Touch:
        case Kind::X10: break;
    }
    return {};
}

Recorder::Recorder(Store& store, EventLoop& loop, EmbeddedHost& host, const entities::PluginView& view,
                   RecorderOptions options)
    : store_(store), loop_(loop), host_(host), view_(view), options_(std::move(options)) {
    subscription_ = host_.subscribe([this](const host::HostEvent& e) { hostEvent(e); });
    auto every = [this](int ms, std::function<void()> fn) {
        auto t = loop_.createTimer();
        t->onTick = std::move(fn);
        t->setInterval(ms);
        t->setEnabled(true);
        return t;
    };
    flushTimer_ = every(options_.flushMs, [this] { store_.flush(); });
    maintainTimer_ = every(options_.maintainMs, [this] { store_.maintain(now()); });
    linkTimer_ = every(options_.linkCheckMs, [this] { checkLink(); });
    store_.maintain(now());
}

Recorder::~Recorder() { store_.flush(); }

std::int64_t Recorder::now() const {
    if (options_.clock) return options_.clock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void Recorder::record(const std::string& id, const std::string& name, SeriesKind kind, double value, std::string text) {
    if (kind != SeriesKind::Event) {
        auto [it, fresh] = last_.try_emplace(id, value);
        if (!fresh && it->second == value) return;
        it->second = value;
    }
    if (auto [it, fresh] = named_.try_emplace(id, name); fresh || it->second != name) {
        it->second = name;
        store_.describe(id, name, kind);
    }
    store_.add({.series = id, .t = now(), .value = value, .text = std::move(text)});
}

const entities::Entity* Recorder::entityOf(const std::string& code) {
    auto refresh = [this] {
        entities_ = entities::entitiesOf(host_.devices(), view_.facts());
        byCode_.clear();
        for (std::size_t i = 0; i < entities_.size(); ++i)
            if (!entities_[i].code.empty()) byCode_.try_emplace(entities_[i].code, Found{i, 0});
        const auto& devices = host_.devices();
        for (std::size_t d = devices.size(); d-- > 0;)
            if (auto it = byCode_.find(devices[d].code()); it != byCode_.end()) it->second.device = d;
        devicesSeen_ = host_.devices().size();
        lastRefresh_ = loop_.tickMs();
    };
    if (devicesSeen_ != host_.devices().size()) refresh();
    auto it = byCode_.find(code);
    if (it == byCode_.end() && loop_.tickMs() - lastRefresh_ >= kRefreshMs) {
        refresh();
        it = byCode_.find(code);
    }
    return it == byCode_.end() ? nullptr : &entities_[it->second.entity];
}

void Recorder::hostEvent(const host::HostEvent& e) {
    using K = host::HostEvent::Kind;
    // Only reports keep a text: a value change is most of the traffic.
    auto text = [&] { return console::describeEvent(e, &host_); };
    switch (e.kind) {
        case K::X10: record("x10", "X10 reports", SeriesKind::Event, e.value, text()); return;
        case K::IR: {
            const auto label = view_.irLabelOf(e.value);
            record("ir", "IR reports", SeriesKind::Event, e.value,
                   label ? text() + " (" + toUtf8(*label) + ")" : text());
            return;
        }
        case K::ValueChange:
        case K::StatusSet:
        case K::ValueSet: break;
    }
    const auto& devices = host_.devices();
    auto placed = [&] {
        const auto it = byCode_.find(e.code);
        return it != byCode_.end() && it->second.device < devices.size() && devices[it->second.device].code() == e.code;
    };
    const entities::Entity* ent = entityOf(e.code);
    if (ent && !placed()) {
        devicesSeen_ = static_cast<std::size_t>(-1);  // the table changed under the same size
        ent = entityOf(e.code);
    }
    if (!ent || !placed()) return;
    const host::DeviceRecord* d = &devices[byCode_.at(e.code).device];
    switch (ent->kind) {
        case Kind::Variable: record(seriesOf(*ent), ent->name, SeriesKind::Value, d->value); return;
        case Kind::Input:
        case Kind::Output:
            // An on/off point is a state; the value of one that reports a number (analog) is kept as it is.
            if (d->Status == kStatusOn || d->Status == kStatusOff)
                record(seriesOf(*ent), ent->name, SeriesKind::State, d->Status == kStatusOn ? 1 : 0);
            else
                record(seriesOf(*ent), ent->name, SeriesKind::State, d->value);
            return;
        case Kind::Touch:
            if (e.kind == K::ValueChange) record("touch", "Screen touches", SeriesKind::Event, e.value, text());
            return;
        case Kind::X10: return;
    }
}

void Recorder::checkLink() {
    const bool up = view_.facts().linkUp;
    if (linkUp_ == up) return;
    linkUp_ = up;
    record("link", "Controller link", SeriesKind::State, up ? 1 : 0, up ? "up" : "down");
}

void Recorder::command(std::string_view line, std::string_view outcome, std::string_view origin) {
    std::string text = std::string(line) + " (" + std::string(origin) + ")";
    if (!outcome.empty()) text += " -> " + std::string(outcome);
    record("command", "Commands", SeriesKind::Event, 0, std::move(text));
}

}  // namespace varnel::history
