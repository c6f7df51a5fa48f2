#pragma once
// `varnel run --mqtt ...`: the MQTT bridge of a run, from the command line and the host
// directory's settings (section "varnel"), on the Qt event loop.
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "bridge/installation.h"
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
    static std::variant<std::unique_ptr<MqttBridge>, std::string> configure(const RunOptions& options,
                                                                            const bridge::Installation& installation);
    ~MqttBridge();
    MqttBridge(const MqttBridge&) = delete;
    MqttBridge& operator=(const MqttBridge&) = delete;

    // Connects and starts mirroring; log lines go to the host log as "MQTT". Called as
    // the run starts, before the controller is looked for: until it is found only the
    // bridge's and the controller's own entities are announced, the controller
    // unavailable, and commands are refused.
    void start(HSPI& plugin, EmbeddedHost& host, console::Console& console, EventLoop& loop);
    // Looks at the host and the plug-in at once (after the start-up) rather than at the next scan.
    void lookAgain();
    // "connected to mqtt://h:1883 since ...", for the console and the service manager.
    [[nodiscard]] std::string stateText() const;
    // The same, for the web page.
    [[nodiscard]] std::string state() const { return stateText(); }

private:
    MqttBridge(bridge::MqttSettings settings, bridge::Installation installation);
    struct Running;
    bridge::MqttSettings settings_;
    bridge::Installation installation_;
    std::unique_ptr<Running> running_;
};

}  // namespace varnel::app
