#pragma once
// What goes into the history: an adapter on the host's device table and event records,
// as the MQTT bridge and the web page are. Variables and module points are recorded
// when their value or state changes; X10, IR and touch reports, the link going up and
// down and every command (with where it came from) as events. The store is written on
// the loop's timer every few seconds and kept within its bounds every few minutes.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "entities/host_entity.h"
#include "history/store.h"
#include "host/embedded_host.h"
#include "platform/event_loop.h"

namespace varnel::history {

// "var:12", "unit:1:point:5"; empty for what has no series of its own.
[[nodiscard]] std::string seriesOf(const entities::Entity& e);

struct RecorderOptions {
    int flushMs = 5000;
    int maintainMs = 10 * 60 * 1000;
    int linkCheckMs = 1000;
    // ms since the epoch; unset: the system clock.
    std::function<std::int64_t()> clock{};
};

class Recorder {
public:
    Recorder(Store& store, EventLoop& loop, EmbeddedHost& host, const entities::PluginView& view,
             RecorderOptions options = {});
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // A command run from `origin` ("console", "mqtt", "page") and the first line of its answer.
    void command(std::string_view line, std::string_view outcome, std::string_view origin);
    [[nodiscard]] std::int64_t now() const;

private:
    void hostEvent(const host::HostEvent& e);
    void checkLink();
    void record(const std::string& id, const std::string& name, SeriesKind kind, double value, std::string text = {});
    const entities::Entity* entityOf(const std::string& code);

    Store& store_;
    EventLoop& loop_;
    EmbeddedHost& host_;
    const entities::PluginView& view_;
    RecorderOptions options_;
    EmbeddedHost::Subscription subscription_;
    std::unique_ptr<Timer> flushTimer_, maintainTimer_, linkTimer_;
    std::vector<entities::Entity> entities_;
    struct Found {
        std::size_t entity, device;  // indexes into entities_ and the host's devices
    };
    std::map<std::string, Found> byCode_;
    std::size_t devicesSeen_ = static_cast<std::size_t>(-1);
    std::int64_t lastRefresh_ = 0;
    std::map<std::string, double> last_;        // value series -> last value recorded
    std::map<std::string, std::string> named_;  // series -> name given to the store
    std::optional<bool> linkUp_;
};

}  // namespace varnel::history
