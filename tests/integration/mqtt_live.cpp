#include "mqtt_live.h"

#include <stdexcept>

#include "bridge/settings.h"
#include "sim/config.h"

namespace varnel::test {

LiveBridge::LiveBridge() : controller(sim::ControllerConfig::typical()) {
    if (auto err = pty.start()) throw std::runtime_error(*err);
    EmbeddedHostOptions options;
    options.loop = &loop;
    host = std::make_shared<EmbeddedHost>(dir.path(), userSettings, launcher, options);
    const std::string device = pty.path();
    hspi = std::make_unique<HSPI>(
        Platform{loop, port, userSettings, prompts, launcher, dir.path(), [device](int) { return device; }},
        [this] { ended = true; });
    hspi->RegisterCallback(std::make_shared<EmbeddedCallback>(host));
    hspi->InitIO(1);
    hspi->InitX10(1);
    hspi->InitIR(1);
    if (!hspi->context().link.commStarted || hspi->InterfaceStatus() != 0)
        throw std::runtime_error("the plug-in did not start against the simulator");
    console.emplace(*hspi, *host);
    for (const char* line : {"mirror vars 0-3", "mirror points 1 0-15", "mirror points 3 0-1"})
        if (console->execute(line).outcome != console::Reply::Outcome::Done)
            throw std::runtime_error(std::string("the console refused ") + line);
}

LiveBridge::~LiveBridge() {
    bridge.reset();
    transport.reset();
    // The plug-in's own shutdown waits; the test only needs it gone.
    hspi.reset();
}

void LiveBridge::connect(const std::string& url, const std::string& caFile) {
    bridge.reset();
    view.reset();
    transport.reset();
    log.clear();
    const auto parsed = bridge::parseBrokerUrl(url);
    if (const auto* err = std::get_if<std::string>(&parsed)) throw std::runtime_error(*err);
    transport = std::make_unique<bridge::MosquittoTransport>(
        bridge::MosquittoConfig{
            .broker = std::get<bridge::BrokerAddress>(parsed), .caFile = caFile, .clientId = "varnel-live-test"},
        loop, watcher);
    view = std::make_unique<entities::PluginView>(*hspi);
    bridge = std::make_unique<bridge::Bridge>(
        bridge::BridgeOptions{.version = "test", .brokerName = url, .installation = "a1b2c3d4e5f6", .legacyIds = true},
        *transport, loop, *host, *console, *view, [this](const std::string& l) { log.push_back(l); });
    bridge->start();
}

bool LiveBridge::waitFor(int ms, const std::function<bool()>& done) {
    const auto until = loop.tickMs() + ms;
    while (!done()) {
        if (loop.tickMs() >= until) return false;
        loop.waitUntil(5, done);
    }
    return true;
}

bool LiveBridge::logged(const std::string& part) const {
    for (const auto& l : log)
        if (l.find(part) != std::string::npos) return true;
    return false;
}

}  // namespace varnel::test
