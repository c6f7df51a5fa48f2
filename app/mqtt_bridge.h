#pragma once
// `varnel run --mqtt ...`: the MQTT bridge of a run, from the command line and the host
// directory's settings (section "varnel"), on the Qt event loop.
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "bridge/settings.h"
#include "cli.h"

namespace varnel {
class EmbeddedHost;
class HSPI;
class EventLoop;
}  // namespace varnel
namespace varnel::console {
class Console;
}

namespace varnel::app {

class MqttBridge {
public:
    // Nothing when no broker is configured; an error text for settings that cannot work.
    static std::variant<std::unique_ptr<MqttBridge>, std::string> configure(const RunOptions& options);
    ~MqttBridge();
    MqttBridge(const MqttBridge&) = delete;
    MqttBridge& operator=(const MqttBridge&) = delete;

    // Connects and starts mirroring; log lines go to the host log as "MQTT".
    void start(HSPI& plugin, EmbeddedHost& host, console::Console& console, EventLoop& loop);
    // "connected to mqtt://host:1883", "not connected to ...", for the web page.
    [[nodiscard]] std::string state() const;

private:
    explicit MqttBridge(bridge::MqttSettings settings);
    struct Running;
    bridge::MqttSettings settings_;
    std::string brokerName_;
    std::unique_ptr<Running> running_;
};

}  // namespace varnel::app
