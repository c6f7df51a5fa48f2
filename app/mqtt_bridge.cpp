#include "mqtt_bridge.h"

#include "bridge/bridge.h"
#include "bridge/mosquitto/mosquitto_transport.h"
#include "entities/plugin_view.h"
#include "host/embedded_host.h"
#include "platform/qt/qt_socket_watcher.h"

namespace varnel::app {

struct MqttBridge::Running {
    QtSocketWatcher watcher;
    std::unique_ptr<bridge::MosquittoTransport> transport;
    std::unique_ptr<entities::PluginView> view;
    std::unique_ptr<bridge::Bridge> bridge;
};

MqttBridge::MqttBridge(bridge::MqttSettings settings, bridge::Installation installation)
    : settings_(std::move(settings)), installation_(std::move(installation)) {}
MqttBridge::~MqttBridge() {
    // The bridge says offline through the transport, so it goes first.
    if (running_) running_->bridge.reset();
}

std::variant<std::unique_ptr<MqttBridge>, std::string> MqttBridge::configure(const RunOptions& o,
                                                                             const bridge::Installation& installation) {
    // The option table has already merged the command line, the environment and the file.
    const bridge::CommandLineMqtt cli{
        .url = o.mqtt, .caFile = o.mqttCaFile, .baseTopic = o.mqttBaseTopic, .discoveryPrefix = o.mqttDiscoveryPrefix};
    auto credentials = [&o](const std::string& key) -> std::optional<std::string> {
        if (key == "mqtt_username") return o.mqttUsername;
        if (key == "mqtt_password") return o.mqttPassword;
        return std::nullopt;
    };
    auto resolved = bridge::resolveMqttSettings(cli, credentials, {}, installation.id);
    if (auto* err = std::get_if<std::string>(&resolved)) return *err;
    auto settings = std::get<std::optional<bridge::MqttSettings>>(std::move(resolved));
    if (!settings) return std::unique_ptr<MqttBridge>{};
    if (!settings->caFile.empty()) {
        if (auto problem = bridge::MosquittoTransport::caFileProblem(settings->caFile)) return *problem;
    }
    return std::unique_ptr<MqttBridge>(new MqttBridge(std::move(*settings), installation));
}

void MqttBridge::start(HSPI& plugin, EmbeddedHost& host, console::Console& console, EventLoop& loop) {
    if (running_) return;
    running_ = std::make_unique<Running>();
    const auto& s = settings_;
    running_->transport = std::make_unique<bridge::MosquittoTransport>(bridge::MosquittoConfig{.broker = s.broker,
                                                                                               .caFile = s.caFile,
                                                                                               .username = s.username,
                                                                                               .password = s.password,
                                                                                               .clientId = s.clientId},
                                                                       loop, running_->watcher);
    running_->view = std::make_unique<entities::PluginView>(plugin);
    const std::string hostPart =
        s.broker.host.find(':') != std::string::npos ? "[" + s.broker.host + "]" : s.broker.host;
    running_->bridge = std::make_unique<bridge::Bridge>(
        bridge::BridgeOptions{
            .baseTopic = s.baseTopic,
            .discoveryPrefix = s.discoveryPrefix,
            .version = VARNEL_VERSION,
            .brokerName = (s.broker.tls ? "mqtts://" : "mqtt://") + hostPart + ":" + std::to_string(s.broker.port),
            .installation = installation_.id,
            .legacyIds = installation_.legacyIds},
        *running_->transport, loop, host, console, *running_->view,
        [&host](const std::string& line) { host.WriteLog("MQTT", line); });
    running_->bridge->start();
}

void MqttBridge::lookAgain() {
    if (running_) running_->bridge->scan();
}

std::string MqttBridge::stateText() const { return running_ ? running_->bridge->stateText() : "not started"; }

}  // namespace varnel::app
