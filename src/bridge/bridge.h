#pragma once
// The MQTT bridge: what the embedded host sees goes to MQTT, and what a host may do
// can be done from MQTT, with Home Assistant discovery.
//
// It reads the host's device table and event records (and, through PluginView, the
// few facts only the plug-in has) and runs commands through the operator console, so
// an MQTT command does exactly what the same console line does, starts only while no
// exchange with the controller runs, and waits its turn in a bounded queue of the
// bridge's own in front of the plug-in's. A command that sets a value replaces one for
// the same entity still waiting; the plug-in's polls keep their turn on the line. It
// runs on the event loop, on one thread. It may start before the plug-in's start-up:
// commands are refused while a start-up runs and until the first has looked for the
// controller.
//
// Topics below the base topic (default "varnel"):
//   status                          online / offline (retained; offline is the last will)
//   bridge/installation             the installation that publishes here (retained)
//   controller/availability         online while the controller answers
//   controller/link                 ON / OFF       controller/timeouts, checksum_errors
//   bridge/refused, bridge/dropped  counts of refused messages and dropped commands
//   var/N/state, var/N/set          variables 0..127 (value 0..65535)
//   unit/U/point/P/state            module points; outputs take .../set ON|OFF
//   leopard/touch/state             the last key touched
//   x10/A1/state, x10/A1/set        the host's X10 devices as lights (JSON)
//   x10/event, ir/event             X10 heard and IR received (not retained)
//   x10/heard, ir/heard,            one message per address and function heard, IR code
//   leopard/touch/heard             and key touched, for device triggers (not retained)
//   x10/send                        console x10 arguments: "A1+A3 on", "B dim 50"
//   ir/N/play (PRESS), ir/play      IR codes by label index; "TV Power", "--zone 2 5"
//   screen/set, screen/write        text to the Leopard screen; JSON with x, y, ...
//                                   (only while the host has a Leopard device)
#include <nlohmann/json_fwd.hpp>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bridge/discovery.h"
#include "bridge/entities.h"
#include "bridge/rate_limited_log.h"
#include "bridge/transport.h"
#include "entities/plugin_view.h"
#include "host/host_events.h"
#include "platform/event_loop.h"
#include "support/reminder.h"

namespace varnel {
class EmbeddedHost;
}
namespace varnel::console {
class Console;
}

namespace varnel::bridge {

struct BridgeOptions {
    std::string baseTopic = "varnel";
    std::string discoveryPrefix = "homeassistant";
    std::string version;
    std::string brokerName;    // for log lines, "mqtt://localhost:1883"
    std::string installation;  // the host directory's id (installation.h)
    bool legacyIds = false;
    // A broker replays retained messages at once after a subscription: this long after
    // connecting, the bridge knows whether another installation holds the base topic.
    int claimWaitMs = 500;
    // The holder says it is alive this often; a watcher that hears nothing from a holder
    // that names itself for three times as long takes the base over.
    int aliveMs = 60'000;
    // Commands waiting for the plug-in; more are dropped (and counted).
    std::size_t maxWaiting = 1000;
    int scanMs = 1000;  // host devices, names and plug-in facts looked at again
    int pumpMs = 2;     // waiting commands tried again (only while any wait)
    // No command starts this close to the plug-in's next variable poll: a tick that
    // finds the line busy skips its poll, and controller changes would wait a cycle more.
    int pollRoomMs = 40;
    int republishMs = 1000;  // after Home Assistant came back
    int connectTimeoutMs = 15000;
    int firstPauseMs = 1000;  // before connecting again; doubles up to maxPauseMs
    int maxPauseMs = 60000;
    int steadyMs = 60000;         // a connection that lasted this long starts the pauses over
    int leftoverWindowMs = 5000;  // retained configs of earlier runs are looked at this long
    int logLines = 10;            // refusals and drops logged per window
    int logWindowMs = 60000;
};

class Bridge {
public:
    using Log = std::function<void(const std::string& line)>;
    Bridge(BridgeOptions options, Transport& transport, EventLoop& loop, EmbeddedHost& host, console::Console& console,
           const entities::PluginView& plugin, Log log);
    // Says offline, disconnects, and gives the host its event handler back.
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    // Connects (and keeps connecting) and starts watching the host.
    void start();

    struct Counters {
        std::uint64_t refused = 0;   // messages not taken (bad topic, payload, retained command)
        std::uint64_t dropped = 0;   // commands taken but not carried out
        std::uint64_t executed = 0;  // commands the console ran
    };
    [[nodiscard]] const Counters& counters() const { return counters_; }
    [[nodiscard]] bool connected() const { return connected_; }
    // Connected and publishing below the base topic, not watching another installation's.
    [[nodiscard]] bool holding() const { return connected_ && role_ == Role::Holding; }
    // Console commands waiting.
    [[nodiscard]] std::size_t waiting() const { return waitingCommands_; }
    [[nodiscard]] const std::vector<Entity>& entities() const { return entities_; }
    [[nodiscard]] const Identity& identity() const { return id_; }
    // Looks at the host and the plug-in now, as the scan timer does.
    void scan();
    // The broker connection in a few words, for the console's status and the service
    // manager: "connected to mqtt://h:1883 since 14:02:11 (35 s)", or since when it
    // is not and why.
    [[nodiscard]] std::string stateText() const;

private:
    // The console commands of one MQTT command, run in order.
    struct Pending {
        std::vector<console::Command> commands;
        std::size_t next = 0;  // commands before it ran already
        std::string target;    // the entity whose value it sets; empty: an action, never merged
        std::string what;      // the topic, for log lines
        std::string lightCode;
        std::optional<LightState> light;             // the light's state once all ran
        bool x10Send = false;                        // the lights it addresses change once it ran
        std::optional<std::int16_t> statusBefore{};  // the output's host status before it began
    };

    // One installation publishes below a base topic. Once connected, a bridge looks
    // whether another one holds it (its status online); if not, it claims the base and
    // holds it once its claim comes back from the broker: of two that claimed at once,
    // the one whose claim the broker passed on first. One that finds the base held
    // watches it, connected without a last will (which would mark the other one
    // offline), and takes over when the other goes offline, or falls silent.
    enum class Role { Looking, Claiming, Holding, Watching };
    void decide();
    void hold();
    void standBack(const std::string& holder);
    void takeOver(const std::string& why);
    void ownership(const Message& m);

    void connect();
    void whenConnected();
    void whenDisconnected(const std::string& reason);
    void lookForLeftovers();
    std::vector<Entity> currentEntities();
    void received(const Message& m);
    void command(const std::string& relative, const Message& m);
    void leftover(const Message& m);
    bool adoptTrigger(const std::string& topic, const nlohmann::json& config);
    void refuse(const std::string& topic, const std::string& why);
    [[nodiscard]] std::string notYet() const;
    void pump();
    [[nodiscard]] bool roomOnTheLine() const;
    bool merge(Pending& p);
    void takeBack(const Pending& p);
    void hostEvent(const host::HostEvent& e);
    [[nodiscard]] std::vector<std::string> lightCodes() const;
    void setLight(const std::string& code, const LightState& state);

    void setEntities(std::vector<Entity> entities);
    void publishAll();
    void publishConfigs(bool all);
    void publishStates(bool all);
    void publishState(const Entity& e, bool force);
    void publishState(const Entity& e, bool force, const host::DeviceRecord* rec);
    void publishHeard(const std::string& path, const std::string& payload);
    // Once more on a heard path, and its trigger announced the first time.
    void heard(const std::string& path, const std::string& payload);
    [[nodiscard]] std::vector<Trigger> triggers() const;
    bool publish(const std::string& topic, const std::string& payload, int qos, bool retain);
    [[nodiscard]] const host::DeviceRecord* record(const std::string& code) const;

    BridgeOptions options_;
    Identity id_;
    Transport& transport_;
    EventLoop& loop_;
    EmbeddedHost& host_;
    console::Console& console_;
    const entities::PluginView& plugin_;
    Log log_;
    RateLimitedLog limited_;
    std::function<void(const host::HostEvent&)> previousOnEvent_;

    std::unique_ptr<Timer> scanTimer_, pumpTimer_, retryTimer_, connectTimer_, republishTimer_, leftoverTimer_,
        claimTimer_, aliveTimer_, silenceTimer_;
    Role role_ = Role::Looking;
    bool watchOnly_ = false;                 // the next connection has no last will
    std::optional<std::string> seenStatus_;  // on the base's status topic, this connection
    std::optional<std::string> seenHolder_;  // on its installation topic, this connection
    bool othersClaim_ = false;               // another installation claimed the base while we looked
    std::optional<std::string> toldHolder_;  // the holder the log named last
    std::string silentHolder_;               // a holder taken over for its silence: its status is stale
    std::int64_t reclaimedAt_ = 0;
    bool started_ = false;
    bool connecting_ = false;
    bool connected_ = false;
    std::int64_t connectedAt_ = 0;
    int pauseMs_ = 0;
    // A broker that stays away is told once, again when the reason changes, and then
    // in reminders ever further apart.
    bool down_ = false;
    std::string downReason_;
    Reminder reminder_;
    bool lookingForLeftovers_ = false;
    bool pumping_ = false;
    // Until the first start-up has looked for the controller only the bridge's and the
    // controller's own entities are announced: the modules and variables are not known
    // yet, and configs of an earlier run are not taken for leftovers meanwhile.
    bool held_ = true;
    // What stateText() tells: since when the connection is up or down, the last failure.
    std::int64_t sinceMs_ = 0;
    std::chrono::system_clock::time_point since_{};
    std::string lastError_;
    std::chrono::system_clock::time_point lastErrorAt_{};

    entities::PluginFacts facts_;
    std::vector<Entity> entities_;
    std::map<std::string, std::size_t> byKey_;
    std::map<std::string, std::size_t> byCommandTopic_;
    std::map<std::string, std::size_t> byCode_;          // host-backed entities
    std::set<std::string> ownTopics_;                    // what the bridge itself publishes below the base
    std::map<std::string, std::string> configs_;         // config topic -> retained state topic, as announced
    std::map<std::string, std::string> configPayloads_;  // config topic -> payload, as announced
    std::map<std::string, std::string> states_;          // entity key -> state published
    std::optional<bool> availability_;
    std::map<std::string, LightState> lights_;
    // Triggers of what was heard, by key; those an earlier run announced are taken over
    // from the broker's retained configs.
    std::map<std::string, std::pair<std::string, std::string>> heard_;  // key -> path, payload
    std::deque<Pending> waiting_;
    std::size_t waitingCommands_ = 0;
    Counters counters_;
};

}  // namespace varnel::bridge
