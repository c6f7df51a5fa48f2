#pragma once
// The page's view of a run: the snapshot (GET /api/state, the WebSocket's first
// message) and one message per change, made from the host's device table and events
// (what the host sees is what the page sees), the plug-in's health through
// state_view.h and the IR names through the entities' PluginView. No Qt: it is fed host
// events and asked for JSON.
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "entities/host_entity.h"
#include "entities/plugin_view.h"
#include "host/host_events.h"
#include "web/live_queue.h"

namespace varnel {
class HSPI;
class EmbeddedHost;
}  // namespace varnel

namespace varnel::web {

struct LiveInfo {
    std::string version;
    std::string http;                                              // the page's own address
    std::function<std::string()> mqtt;                             // the MQTT bridge's state; unset: "off"
    std::function<std::chrono::system_clock::time_point()> clock;  // unset: the system clock
};

// "2026-12-07T19:20:00.123Z"
[[nodiscard]] std::string isoTime(std::chrono::system_clock::time_point t);

// JSON text of `j`, with bytes that are not UTF-8 replaced rather than thrown at.
[[nodiscard]] std::string dumpJson(const nlohmann::json& j);

class LiveState {
public:
    static constexpr std::size_t kKeptEvents = 300;

    LiveState(const HSPI& plugin, const EmbeddedHost& host, LiveInfo info);

    [[nodiscard]] nlohmann::json snapshot();
    [[nodiscard]] nlohmann::json overview() const;
    // The messages a host event makes: the state it changed, and the event itself.
    std::vector<LiveMessage> hostEvent(const host::HostEvent& e);
    // A command run from the page, as an event.
    LiveMessage command(const std::string& line, const std::string& outcome);
    // An X10 state the page itself caused (heard states come with the host's events).
    std::vector<LiveMessage> x10Sent(const std::string& house, const std::string& units, int function, int percent);
    [[nodiscard]] const std::deque<nlohmann::json>& events() const { return events_; }

private:
    const entities::Entity* entityOf(const std::string& code);
    void refreshEntities();
    LiveMessage event(const std::string& kind, const std::string& text);
    std::optional<LiveMessage> x10State(const std::string& code, const std::string& state);
    [[nodiscard]] std::chrono::system_clock::time_point now() const;

    const HSPI& plugin_;
    const EmbeddedHost& host_;
    entities::PluginView view_;
    LiveInfo info_;
    std::vector<entities::Entity> entities_;
    std::map<std::string, std::size_t> byCode_;
    std::size_t devicesSeen_ = static_cast<std::size_t>(-1);
    std::int64_t lastRefresh_ = 0;
    std::map<std::string, std::string> x10_;  // code -> last state heard or sent
    std::deque<nlohmann::json> events_;
};

}  // namespace varnel::web
