#include "bridge/bridge.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

#include "bridge/commands.h"
#include "bridge/text.h"
#include "console/console.h"
#include "console/selection.h"
#include "host/embedded_host.h"
#include "support/text.h"

namespace varnel::bridge {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxLeftoverConfig = std::size_t{64} * 1024;
constexpr std::size_t kMaxShownTopic = 120;
// X10 has 16 houses of 16 units and a few functions each; IR codes and keys are fewer.
constexpr std::size_t kMaxHeardTriggers = 8192;

// A topic from outside, fit for one log line.
std::string shown(std::string_view topic) {
    std::string t = toUtf8(topic.substr(0, kMaxShownTopic));
    for (char& c : t)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return "\"" + t + (topic.size() > kMaxShownTopic ? "...\"" : "\"");
}

std::unique_ptr<Timer> timer(EventLoop& loop, int ms, std::function<void()> fn) {
    auto t = loop.createTimer();
    t->setInterval(ms);
    t->onTick = std::move(fn);
    return t;
}

}  // namespace

Bridge::Bridge(BridgeOptions options, Transport& transport, EventLoop& loop, EmbeddedHost& host,
               console::Console& console, const entities::PluginView& plugin, Log log)
    : options_(std::move(options)),
      id_{.base = options_.baseTopic,
          .prefix = options_.discoveryPrefix,
          .version = options_.version,
          .installation = options_.installation,
          .legacyIds = options_.legacyIds},
      transport_(transport),
      loop_(loop),
      host_(host),
      console_(console),
      plugin_(plugin),
      log_(std::move(log)),
      limited_(loop, log_, options_.logLines, options_.logWindowMs) {
    auto once = [](Timer& t) { t.setEnabled(false); };
    scanTimer_ = timer(loop_, options_.scanMs, [this] { scan(); });
    pumpTimer_ = timer(loop_, options_.pumpMs, [this] { pump(); });
    retryTimer_ = timer(loop_, options_.firstPauseMs, [this, once] {
        once(*retryTimer_);
        connect();
    });
    connectTimer_ = timer(loop_, options_.connectTimeoutMs, [this, once] {
        once(*connectTimer_);
        transport_.disconnect();
        whenDisconnected("no answer in " + std::to_string(options_.connectTimeoutMs / 1000) + " s");
    });
    republishTimer_ = timer(loop_, options_.republishMs, [this, once] {
        once(*republishTimer_);
        if (holding()) publishAll();
    });
    leftoverTimer_ = timer(loop_, options_.leftoverWindowMs, [this, once] {
        once(*leftoverTimer_);
        lookingForLeftovers_ = false;
        if (holding()) transport_.unsubscribe(id_.prefix + "/+/+/config");
    });
    claimTimer_ = timer(loop_, options_.claimWaitMs, [this, once] {
        once(*claimTimer_);
        if (!connected_) return;
        if (role_ == Role::Looking) decide();
        // A broker that does not pass a client's own messages back: no race can be told.
        else if (role_ == Role::Claiming)
            hold();
    });
    aliveTimer_ = timer(loop_, options_.aliveMs, [this] {
        if (holding()) publish(id_.aliveTopic(), id_.installation, 0, false);
    });
    aliveTimer_->setEnabled(true);
    silenceTimer_ = timer(loop_, 3 * options_.aliveMs, [this, once] {
        once(*silenceTimer_);
        // An earlier varnel never says it is alive: it is only taken over when it goes offline.
        if (!connected_ || role_ != Role::Watching || seenHolder_.value_or("").empty()) return;
        silentHolder_ = *seenHolder_;
        takeOver("is marked online by installation " + shown(silentHolder_) + ", which has not said it is alive for " +
                 std::to_string(3 * options_.aliveMs / 1000) + " s");
    });
    transport_.onConnected = [this] { whenConnected(); };
    transport_.onDisconnected = [this](const std::string& reason) { whenDisconnected(reason); };
    transport_.onMessage = [this](const Message& m) { received(m); };
}

Bridge::~Bridge() {
    transport_.onConnected = nullptr;
    transport_.onDisconnected = nullptr;
    transport_.onMessage = nullptr;
    if (started_) host_.onEvent = previousOnEvent_;
    if (holding()) publish(id_.statusTopic(), "offline", 1, true);
    if (connected_ || connecting_) transport_.disconnect();
}

void Bridge::start() {
    if (started_) return;
    started_ = true;
    previousOnEvent_ = host_.onEvent;
    host_.onEvent = [this](const host::HostEvent& e) {
        if (previousOnEvent_) previousOnEvent_(e);
        hostEvent(e);
    };
    setEntities(currentEntities());
    scanTimer_->setEnabled(true);
    connect();
}

// ---- connection

void Bridge::connect() {
    if (connected_ || connecting_) return;
    connecting_ = true;
    const Will will = watchOnly_ ? Will{} : Will{.topic = id_.statusTopic(), .payload = "offline"};
    if (auto err = transport_.connect(will)) {
        connecting_ = false;
        whenDisconnected(*err);
        return;
    }
    connectTimer_->setEnabled(true);
}

void Bridge::whenConnected() {
    connectTimer_->setEnabled(false);
    connecting_ = false;
    connected_ = true;
    // A watcher connecting again in its own time is no news.
    const std::string protocol = transport_.protocol();
    if (down_ || !watchOnly_)
        log_("connected to " + options_.brokerName + (protocol.empty() ? "" : " (" + protocol + ")"));
    down_ = false;
    connectedAt_ = sinceMs_ = loop_.tickMs();
    since_ = loop_.wallClock();
    role_ = watchOnly_ ? Role::Watching : Role::Looking;
    seenStatus_.reset();
    seenHolder_.reset();
    othersClaim_ = false;
    // Without retain-as-published: a live claim must be told from a retained one.
    transport_.subscribe(id_.statusTopic(), 1, Retained::OnReplay);
    transport_.subscribe(id_.installationTopic(), 1, Retained::OnReplay);
    claimTimer_->setInterval(options_.claimWaitMs);
    claimTimer_->setEnabled(role_ == Role::Looking);
    if (role_ == Role::Watching) transport_.subscribe(id_.aliveTopic(), 0, Retained::OnReplay);
    silenceTimer_->setEnabled(role_ == Role::Watching);
}

// ---- who publishes below the base topic

void Bridge::decide() {
    const bool silent = !silentHolder_.empty() && seenHolder_ == silentHolder_;
    const bool heldByOther = seenStatus_ == "online" && seenHolder_ != id_.installation && !silent;
    if (heldByOther || othersClaim_) {
        standBack(seenHolder_.value_or(""));
        return;
    }
    role_ = Role::Claiming;
    publish(id_.installationTopic(), id_.installation, 1, true);
    claimTimer_->setEnabled(true);
}

void Bridge::hold() {
    claimTimer_->setEnabled(false);
    role_ = Role::Holding;
    silentHolder_.clear();
    toldHolder_.reset();
    reclaimedAt_ = loop_.tickMs() - options_.claimWaitMs;
    publish(id_.statusTopic(), "online", 1, true);
    // The broker says (where it can) whether a command was published retained, also
    // while connected: such a command is refused, not only its replay.
    transport_.subscribe(id_.base + "/#", 1, Retained::AsPublished);
    transport_.subscribe(id_.homeAssistantStatus(), 1, Retained::OnReplay);
    setEntities(currentEntities());
    if (!held_) lookForLeftovers();
    publishAll();
}

void Bridge::standBack(const std::string& holder) {
    if (toldHolder_ != holder) {
        toldHolder_ = holder;
        const std::string who =
            holder.empty() ? "an installation that names none (an earlier varnel)" : "installation " + shown(holder);
        log_("the base topic " + shown(id_.base) + " is held by " + who + ", which is online; this installation (" +
             id_.installation + ") publishes nothing there and takes over when it goes offline. To run both, give " +
             "this one another base topic (--mqtt-base-topic)");
    }
    claimTimer_->setEnabled(false);
    role_ = Role::Watching;
    watchOnly_ = true;
    transport_.disconnect();
    connected_ = false;
    connect();
}

void Bridge::takeOver(const std::string& why) {
    log_("the base topic " + shown(id_.base) + " " + why + ": taking it over");
    watchOnly_ = false;
    transport_.disconnect();
    connected_ = false;
    connect();
}

// Messages on the base's status and installation topics. A live message (not a retained
// replay) is what happens now; a retained one what was.
void Bridge::ownership(const Message& m) {
    const bool status = m.topic == id_.statusTopic();
    if (status) {
        seenStatus_ = m.payload;
    } else {
        seenHolder_ = m.payload;
        if (!m.retained && !m.payload.empty() && m.payload != id_.installation) othersClaim_ = true;
    }
    switch (role_) {
        case Role::Looking: return;
        case Role::Claiming:
            if (status || m.retained || m.payload.empty()) return;
            if (m.payload == id_.installation)
                hold();
            else
                standBack(m.payload);
            return;
        case Role::Holding: {
            // A claim that lost the race, or the will of one that looked while it had a
            // will: what the broker keeps stays ours (a claim answered at most so often,
            // should a broker ever let two hold at once).
            const auto now = loop_.tickMs();
            if (!status && m.payload != id_.installation && now - reclaimedAt_ >= options_.claimWaitMs) {
                reclaimedAt_ = now;
                publish(id_.installationTopic(), id_.installation, 1, true);
            }
            if (status && m.payload != "online") publish(id_.statusTopic(), "online", 1, true);
            return;
        }
        case Role::Watching:
            if (status && m.payload != "online") takeOver("is free");
            return;
    }
}

void Bridge::lookForLeftovers() {
    lookingForLeftovers_ = transport_.subscribe(id_.prefix + "/+/+/config", 0, Retained::OnReplay);
    leftoverTimer_->setEnabled(lookingForLeftovers_);
}

void Bridge::whenDisconnected(const std::string& reason) {
    connectTimer_->setEnabled(false);
    const bool was = connected_;
    connected_ = connecting_ = false;
    lookingForLeftovers_ = false;
    claimTimer_->setEnabled(false);
    silenceTimer_->setEnabled(false);
    const auto at = loop_.wallClock();
    if (was || !down_) {
        sinceMs_ = loop_.tickMs();
        since_ = at;
    }
    lastError_ = reason;
    lastErrorAt_ = at;
    if (was && loop_.tickMs() - connectedAt_ >= options_.steadyMs) pauseMs_ = 0;
    pauseMs_ = pauseMs_ == 0 ? options_.firstPauseMs : std::min(pauseMs_ * 2, options_.maxPauseMs);
    const std::string again = "; trying again in " + std::to_string((pauseMs_ + 999) / 1000) + " s";
    const auto now = loop_.tickMs();
    if (was || !down_ || reason != downReason_) {
        if (was || !down_) reminder_.begin(now);
        down_ = true;
        downReason_ = reason;
        log_((was ? "lost the connection to " : "cannot connect to ") + options_.brokerName + " (" + reason + ")" +
             again);
    } else if (reminder_.due(now)) {
        log_("still no connection to " + options_.brokerName + " after " + reminder_.lasted(now) + " (" + reason + ")" +
             again);
    }
    retryTimer_->setInterval(pauseMs_);
    retryTimer_->setEnabled(true);
}

// ---- what comes in

void Bridge::received(const Message& m) {
    if (m.topic == id_.statusTopic() || m.topic == id_.installationTopic()) {
        ownership(m);
        return;
    }
    if (m.topic == id_.aliveTopic()) {
        if (role_ == Role::Watching && !m.payload.empty() && m.payload != id_.installation && !m.retained)
            silenceTimer_->setEnabled(true);  // again from now
        return;
    }
    if (role_ != Role::Holding) return;
    if (m.topic == id_.homeAssistantStatus()) {
        // Home Assistant forgot every entity when it restarted; give it a moment to subscribe.
        if (m.payload == "online" && !m.retained) republishTimer_->setEnabled(true);
        return;
    }
    if (m.topic.starts_with(id_.base + "/")) {
        command(m.topic.substr(id_.base.size() + 1), m);
        return;
    }
    if (m.topic.starts_with(id_.prefix + "/") && m.topic.ends_with("/config")) leftover(m);
}

void Bridge::command(const std::string& relative, const Message& m) {
    const auto route = byCommandTopic_.find(relative);
    if (route == byCommandTopic_.end()) {
        // What the broker keeps and replays, and the bridge's own messages coming back.
        if (m.retained || ownTopics_.contains(relative)) return;
        if (plugin_.controllerPending()) {
            refuse(m.topic, notYet());
            return;
        }
        refuse(m.topic, screenCommandTopic(relative) ? "no Leopard screen: the host has no Leopard device"
                                                     : "no such command topic");
        return;
    }
    if (m.retained) {
        refuse(m.topic, "a retained command is not carried out (it would run again at every connection)");
        return;
    }
    // Nothing waits for the start-up: its exchanges own the line, and what it finds
    // decides what a command means.
    if (plugin_.controllerPending()) {
        refuse(m.topic, notYet());
        return;
    }
    if (m.payload.size() > kMaxPayload) {
        refuse(m.topic, "a payload of " + std::to_string(m.payload.size()) + " bytes (at most " +
                            std::to_string(kMaxPayload) + " are taken)");
        return;
    }
    const Entity& e = entities_[route->second];
    const auto light = lights_.find(e.code);
    CommandResult result = e.kind->command(e, m.payload, light == lights_.end() ? nullptr : &light->second);
    if (const auto* why = std::get_if<std::string>(&result)) {
        refuse(m.topic, *why);
        return;
    }
    auto& action = std::get<Action>(result);
    if (action.commands.empty()) return;
    Pending p{.commands = std::move(action.commands),
              .target = e.kind->merges ? e.key : std::string(),
              .what = shown(m.topic),
              .lightCode = e.code,
              .light = action.light,
              .x10Send = e.kind == &kX10Send};
    if (!merge(p)) {
        if (waitingCommands_ + p.commands.size() > options_.maxWaiting) {
            ++counters_.dropped;
            limited_("dropped a command on " + shown(m.topic) + ": " + std::to_string(waitingCommands_) +
                     " commands are waiting already");
            return;
        }
        waitingCommands_ += p.commands.size();
        waiting_.push_back(std::move(p));
    }
    pump();
}

// The newest waiting command for the same entity takes the new value in its place,
// unless it has begun or an action waits behind it (the action may depend on it).
bool Bridge::merge(Pending& p) {
    if (p.target.empty()) return false;
    for (auto it = waiting_.rbegin(); it != waiting_.rend(); ++it) {
        if (it->target.empty()) return false;
        if (it->target != p.target) continue;
        if (it->next != 0) return false;
        waitingCommands_ = waitingCommands_ - it->commands.size() + p.commands.size();
        *it = std::move(p);
        return true;
    }
    return false;
}

// Retained configs of this installation that no entity of ours has any more: what an
// earlier run announced for devices deleted since. Another installation's are never touched.
void Bridge::leftover(const Message& m) {
    if (!lookingForLeftovers_ || !m.retained || m.payload.empty() || m.payload.size() > kMaxLeftoverConfig) return;
    const json j = json::parse(m.payload, nullptr, false);
    if (j.is_discarded() || !j.is_object() || !ownConfig(id_, j)) return;
    // Its retained state: only a topic below our base, and none an entity has now.
    std::string oldState;
    const auto base = j.find("~");
    if (const auto state = j.find("state_topic");
        base != j.end() && *base == id_.base && state != j.end() && state->is_string()) {
        const std::string t = state->get<std::string>();
        if (t.starts_with("~/") && t.size() > 2 && t.find_first_of("+#") == std::string::npos) oldState = t.substr(2);
    }
    const bool stateInUse = oldState.empty() || ownTopics_.contains(oldState);
    // A config announced now (an entity that changed component left one under the
    // old), whose state an earlier run may have kept on another topic.
    if (configs_.contains(m.topic)) {
        if (!stateInUse) publish(id_.base + "/" + oldState, "", 0, true);
        return;
    }
    if (adoptTrigger(m.topic, j)) return;
    publish(m.topic, "", 1, true);
    if (!stateInUse) publish(id_.base + "/" + oldState, "", 0, true);
    limited_("removed " + shown(m.topic) + ", left by an earlier run");
}

// A trigger of something heard by an earlier run: kept, since nothing else would
// announce it again until it is heard once more.
bool Bridge::adoptTrigger(const std::string& topic, const nlohmann::json& config) {
    const std::string prefix = id_.base + "/";
    const auto path = config.find("topic");
    const auto payload = config.find("payload");
    if (path == config.end() || payload == config.end() || !path->is_string() || !payload->is_string()) return false;
    const std::string p = path->get<std::string>();
    if (!p.starts_with(prefix) || heard_.size() >= kMaxHeardTriggers) return false;
    const auto t = heardTrigger(p.substr(prefix.size()), payload->get<std::string>(), entities_);
    if (!t || triggerConfigTopic(id_, *t) != topic) return false;
    heard_.try_emplace(t->key, t->path, t->payload);
    configs_[topic] = std::string();
    // Its device may have changed since (a host X10 device made for the address).
    if (std::string now = triggerPayload(id_, *t); now != config.dump() && publish(topic, now, 1, true))
        configPayloads_[topic] = std::move(now);
    return true;
}

std::string Bridge::notYet() const {
    return held_ ? "the controller is not found yet (its start-up runs); nothing was done"
                 : "the controller link is starting again; nothing was done";
}

void Bridge::refuse(const std::string& topic, const std::string& why) {
    ++counters_.refused;
    limited_("refused a message on " + shown(topic) + ": " + why);
}

void Bridge::pump() {
    if (pumping_) return;
    pumping_ = true;
    while (!waiting_.empty() && console_.ready() && roomOnTheLine()) {
        Pending& p = waiting_.front();
        if (p.next == 0 && !p.target.empty()) {
            const auto it = byKey_.find(p.target);
            const auto* rec = it == byKey_.end() ? nullptr : record(entities_[it->second].code);
            if (rec) p.statusBefore = rec->Status;
        }
        const console::Reply reply = console_.run(p.commands[p.next++], "mqtt");
        --waitingCommands_;
        const bool done = reply.outcome == console::Reply::Outcome::Done;
        if (done) ++counters_.executed;
        // A screen line too long for the screen is cut; the sender learns it from the log.
        if (done && !reply.lines.empty() && reply.lines.front().find("(only the first") != std::string::npos)
            limited_("a command on " + p.what + ": " + reply.lines.front());
        if (done && p.next < p.commands.size()) continue;
        if (!done) {
            // The rest of its commands would act on a state that was never reached.
            ++counters_.dropped;
            waitingCommands_ -= p.commands.size() - p.next;
            limited_("a command on " + p.what + " was not carried out: " +
                     (reply.lines.empty() ? std::string("no reason given") : reply.lines.front()));
            takeBack(p);
        } else if (p.light) {
            setLight(p.lightCode, *p.light);
        } else if (const auto* x = std::get_if<console::cmd::X10>(&p.commands.back()); x && p.x10Send) {
            for (const auto& [code, state] : sentX10(*x, lightCodes(), lights_)) setLight(code, state);
        }
        waiting_.pop_front();
    }
    pumping_ = false;
    pumpTimer_->setEnabled(!waiting_.empty());
}

// A value the controller never took: the state shows again what it was before. An
// output's host device took the new status before the write went out; it goes back.
void Bridge::takeBack(const Pending& p) {
    const auto it = byKey_.find(p.target);
    if (p.target.empty() || it == byKey_.end()) return;
    const Entity& e = entities_[it->second];
    const host::DeviceRecord* rec = record(e.code);
    if (e.kind == &kOutput && rec && p.statusBefore && rec->Status != *p.statusBefore)
        host_.SetDeviceStatus(e.code, *p.statusBefore);
    if (holding()) publishState(e, true);
}

// Commands go one at a time into the plug-in, each once its queue is empty. While more
// wait, none starts just before a poll is due (an overdue tick fires as soon as the loop
// runs again); a lone command goes at once, it can cost the poll one tick at most.
bool Bridge::roomOnTheLine() const {
    const entities::LineShare share = plugin_.lineShare();
    if (share.queued > 0) return false;
    if (!share.nextPollMs || waiting_.size() < 2) return true;
    const std::int64_t now = loop_.tickMs();
    return now < *share.nextPollMs - options_.pollRoomMs || now > *share.nextPollMs + options_.pollRoomMs;
}

// ---- what the host sees

void Bridge::hostEvent(const host::HostEvent& e) {
    using Kind = host::HostEvent::Kind;
    if (e.kind == Kind::X10) {
        if (const auto type = x10EventType(e.value); holding() && !type.empty()) {
            json j{{"event_type", type},
                   {"house", toUtf8(e.code.substr(0, 1))},
                   {"units", toUtf8(e.addresses.substr(0, 200))},
                   {"command", e.value}};
            if (const auto level = console::parseInteger(e.level)) j["level"] = *level;
            publishHeard("x10", j.dump(-1, ' ', false, json::error_handler_t::replace));
            const auto addresses = split(e.addresses.substr(0, 200), '+');
            if (addresses.empty() || (addresses.size() == 1 && addresses[0].empty())) {
                heard(kX10HeardPath, e.code.substr(0, 1) + " " + std::string(type));
            } else {
                for (const auto& a : addresses) heard(kX10HeardPath, a + " " + std::string(type));
            }
        }
        for (const auto& [code, state] : heardX10(e, lightCodes(), lights_)) setLight(code, state);
        return;
    }
    if (!holding()) return;
    if (e.kind == Kind::IR) {
        json j{{"event_type", "received"}, {"code", e.value}};
        const auto label = plugin_.irLabelOf(e.value);
        if (label) j["label"] = toUtf8(*label);
        publishHeard("ir", j.dump(-1, ' ', false, json::error_handler_t::replace));
        heard(kIrHeardPath, label ? toUtf8(*label) : "code " + std::to_string(e.value));
        return;
    }
    const auto it = byCode_.find(e.code);
    if (it == byCode_.end()) return;
    const Entity& entity = entities_[it->second];
    publishState(entity, false);
    // Each touch, also of the key touched last.
    if (entity.kind == &kTouch && e.kind == Kind::ValueSet) heard(kTouchHeardPath, std::to_string(e.value));
}

void Bridge::heard(const std::string& path, const std::string& payload) {
    const auto t = heardTrigger(path, payload, entities_);
    if (!t) return;
    publish(id_.base + "/" + path, payload, 0, false);
    if (heard_.contains(t->key) || heard_.size() >= kMaxHeardTriggers) return;
    heard_.try_emplace(t->key, path, payload);
    const std::string topic = triggerConfigTopic(id_, *t);
    if (configs_.contains(topic)) return;  // a named one, announced already
    std::string config = triggerPayload(id_, *t);
    if (publish(topic, config, 1, true)) configPayloads_[topic] = std::move(config);
    configs_[topic] = std::string();
}

std::vector<Trigger> Bridge::triggers() const {
    std::vector<Trigger> out = namedTriggers(entities_);
    std::set<std::string> keys;
    for (const auto& t : out) keys.insert(t.key);
    for (const auto& [key, message] : heard_) {
        auto t = heardTrigger(message.first, message.second, entities_);
        if (t && keys.insert(t->key).second) out.push_back(std::move(*t));
    }
    return out;
}

std::vector<std::string> Bridge::lightCodes() const {
    std::vector<std::string> out;
    for (const auto& e : entities_)
        if (e.kind == &kX10Light || e.kind == &kX10Switch) out.push_back(e.code);
    return out;
}

void Bridge::setLight(const std::string& code, const LightState& state) {
    lights_[code] = state;
    if (const auto it = byCode_.find(code); holding() && it != byCode_.end())
        publishState(entities_[it->second], false);
}

// ---- what goes out

void Bridge::scan() {
    limited_.flush();
    const bool wasHeld = held_;
    auto next = currentEntities();
    const bool changed = next != entities_;
    if (changed) setEntities(std::move(next));
    if (holding()) {
        if (changed) publishConfigs(false);
        publishStates(false);
        if (wasHeld && !held_) lookForLeftovers();
    }
    if (!waiting_.empty()) pump();
}

std::vector<Entity> Bridge::currentEntities() {
    facts_ = plugin_.facts();
    if (held_ && !plugin_.controllerPending()) held_ = false;
    if (held_) return entitiesOf({}, facts_, {});
    return entitiesOf(host_.devices(), facts_, plugin_.irNames());
}

namespace {

std::string clockTime(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const hh_mm_ss hms{floor<seconds>(t - floor<days>(t))};
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(hms.hours().count()),
                  static_cast<int>(hms.minutes().count()), static_cast<int>(hms.seconds().count()));
    return buf;
}

std::string lasted(std::int64_t ms) {
    const std::int64_t s = ms / 1000;
    if (s < 120) return std::to_string(s) + " s";
    if (s < std::int64_t{2} * 3600) return std::to_string(s / 60) + " min";
    if (s < std::int64_t{48} * 3600) return std::to_string(s / 3600) + " h";
    return std::to_string(s / 86400) + " days";
}

}  // namespace

std::string Bridge::stateText() const {
    const std::string sinceText = " since " + clockTime(since_) + " (" + lasted(loop_.tickMs() - sinceMs_) + ")";
    if (connected_) {
        const std::string protocol = transport_.protocol();
        std::string text =
            "connected to " + options_.brokerName + (protocol.empty() ? "" : " (" + protocol + ")") + sinceText;
        if (!lastError_.empty()) text += "; last error at " + clockTime(lastErrorAt_) + ": " + lastError_;
        if (role_ == Role::Watching) text += "; the base topic is another installation's, publishing nothing";
        return text;
    }
    if (!down_) return "connecting to " + options_.brokerName;
    return "not connected to " + options_.brokerName + sinceText + ": " + lastError_;
}

void Bridge::setEntities(std::vector<Entity> entities) {
    entities_ = std::move(entities);
    byKey_.clear();
    byCommandTopic_.clear();
    byCode_.clear();
    for (std::size_t i = 0; i < entities_.size(); ++i) {
        const Entity& e = entities_[i];
        byKey_[e.key] = i;
        if (auto t = commandTopicOf(e)) byCommandTopic_[*t] = i;
        if (auto t = stateTopicOf(e)) ownTopics_.insert(*t);
        if (!e.code.empty()) byCode_.try_emplace(e.code, i);
    }
    ownTopics_.insert({"status", "controller/availability", kX10HeardPath, kIrHeardPath, kTouchHeardPath});
}

void Bridge::publishAll() {
    publishConfigs(true);
    availability_.reset();
    states_.clear();
    publishStates(true);
}

void Bridge::publishConfigs(bool all) {
    std::set<std::string> current;
    std::set<std::string> stateTopics;
    auto announce = [&](const std::string& topic, std::string payload) {
        current.insert(topic);
        const auto it = configPayloads_.find(topic);
        if (!all && it != configPayloads_.end() && it->second == payload) return;
        if (publish(topic, payload, 1, true)) configPayloads_[topic] = std::move(payload);
    };
    for (const auto& e : entities_) {
        const std::string topic = configTopic(id_, e);
        if (topic.empty()) continue;
        if (const auto state = stateTopicOf(e)) stateTopics.insert(*state);
        announce(topic, configPayload(id_, e));
    }
    const auto triggerList = triggers();
    for (const auto& t : triggerList) announce(triggerConfigTopic(id_, t), triggerPayload(id_, t));
    // Deleted host devices: an empty retained config removes the entity, an empty
    // retained state the state the broker kept for it.
    for (auto it = configs_.begin(); it != configs_.end();) {
        if (current.contains(it->first)) {
            ++it;
            continue;
        }
        publish(it->first, "", 1, true);
        // Not a state topic an entity still has (one that changed component).
        if (!it->second.empty() && !stateTopics.contains(it->second)) publish(id_.base + "/" + it->second, "", 0, true);
        configPayloads_.erase(it->first);
        it = configs_.erase(it);
    }
    for (const auto& e : entities_) {
        const std::string topic = configTopic(id_, e);
        const auto state = stateTopicOf(e);
        if (!topic.empty()) configs_[topic] = e.kind->retained && state ? *state : std::string();
    }
    for (const auto& t : triggerList) configs_[triggerConfigTopic(id_, t)] = std::string();
}

void Bridge::publishStates(bool all) {
    const bool up = facts_.linkUp;
    if (all || availability_ != up) {
        if (publish(id_.availabilityTopic(), up ? "online" : "offline", 1, true)) availability_ = up;
    }
    std::map<std::string, const host::DeviceRecord*> records;
    for (const auto& d : host_.devices()) records.try_emplace(d.code(), &d);
    for (const auto& e : entities_) {
        if (!e.kind->state) continue;
        const auto r = e.code.empty() ? records.end() : records.find(e.code);
        publishState(e, all, r == records.end() ? nullptr : r->second);
    }
}

void Bridge::publishState(const Entity& e, bool force) { publishState(e, force, record(e.code)); }

void Bridge::publishState(const Entity& e, bool force, const host::DeviceRecord* rec) {
    if (!e.kind->state) return;
    const auto light = lights_.find(e.code);
    const StateSources from{.record = rec,
                            .facts = &facts_,
                            .refused = counters_.refused,
                            .dropped = counters_.dropped,
                            .light = light == lights_.end() ? nullptr : &light->second};
    const auto state = e.kind->state(from, e);
    const auto topic = stateTopicOf(e);
    if (!state || !topic) return;
    const auto it = states_.find(e.key);
    if (!force && it != states_.end() && it->second == *state) return;
    if (publish(id_.base + "/" + *topic, *state, 0, e.kind->retained)) states_[e.key] = *state;
}

void Bridge::publishHeard(const std::string& path, const std::string& payload) {
    publish(id_.base + "/" + path + "/event", payload, 0, false);
}

bool Bridge::publish(const std::string& topic, const std::string& payload, int qos, bool retain) {
    return transport_.publish(topic, payload, qos, retain);
}

const host::DeviceRecord* Bridge::record(const std::string& code) const {
    if (code.empty()) return nullptr;
    for (const auto& d : host_.devices())
        if (d.code() == code) return &d;
    return nullptr;
}

}  // namespace varnel::bridge
