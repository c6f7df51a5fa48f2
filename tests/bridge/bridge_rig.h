#pragma once
// The bridge over the whole plug-in on virtual time: the simulated controller, the
// embedded host, the console, and a fake broker connection.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

#include "bridge/bridge.h"
#include "console_rig.h"
#include "devices/device_model.h"
#include "fake_transport.h"

namespace varnel::test {

struct BridgeRig {
    // Unless the test gives one, the installation is a host directory of an earlier
    // varnel, whose unique ids are as they always were.
    explicit BridgeRig(bridge::BridgeOptions o = {}, EngineOptions engine = {}) : c(std::move(engine)) {
        o.version = "9.9";
        o.brokerName = "mqtt://broker:1883";
        if (o.installation.empty()) {
            o.installation = kInstallation;
            o.legacyIds = true;
        }
        options = std::move(o);
        transport.loop = &c.rig.loop;
    }
    static constexpr const char* kInstallation = "a1b2c3d4e5f6";

    // Starts the plug-in, mirrors some of everything, starts the bridge and lets the
    // broker take it.
    void start(bool mirror = true) {
        connect(mirror);
        run(1500);  // the base claimed; the plug-in's first I/O comparison gives the points their states
    }
    // The same up to the broker taking the connection: the bridge has not looked at the base yet.
    void connect(bool mirror = true) {
        c.start();
        if (mirror) {
            c.ok("mirror vars 0-3");
            c.ok("mirror points 1 0-15");  // SECU16: inputs 0-7, outputs 8-15
            c.ok("mirror points 3 0-1");   // RELAY-08
        }
        makeBridge();
        transport.accept();
    }
    // The bridge made and started, its log kept; the broker has not answered.
    void makeBridge() {
        bridge = std::make_unique<bridge::Bridge>(options, transport, c.rig.loop, *c.rig.host, c.console, view,
                                                  [this](const std::string& l) { log.push_back(l); });
        bridge->start();
    }
    void run(int ms) { c.rig.loop.advance(ms); }
    // A host X10 device such as a System Map sync makes (no interface).
    void addX10Device(const std::string& hc, const std::string& dc, const std::string& name,
                      const std::string& location = {}) {
        auto d = c.rig.host->GetDeviceByRef(c.rig.host->NewDeviceRef(name));
        d->set_hc(hc);
        d->set_dc(dc);
        d->set_location(location);
    }

    // A Leopard screen on the bus: its host device, as the configuration window makes it.
    void addLeopard() {
        CreateLeopardDevice(c.rig.ctx());
        bridge->scan();
    }

    std::string topic(const std::string& relative) const { return "varnel/" + relative; }
    // The code of the host device named so at that location.
    std::string code(const std::string& name, const std::string& location) const { return c.codeOf(name, location); }
    std::optional<std::string> state(const std::string& relative) const { return transport.last(topic(relative)); }
    void send(const std::string& relative, const std::string& payload) { transport.send(topic(relative), payload); }

    // Retained discovery configs, parsed, by config topic.
    std::map<std::string, nlohmann::json> configs() const {
        std::map<std::string, nlohmann::json> out;
        for (const auto& [t, p] : transport.retained)
            if (t.starts_with("homeassistant/")) out[t] = nlohmann::json::parse(p);
        return out;
    }
    bool kept(const std::string& topic) const { return transport.retained.contains(topic); }
    std::uint64_t refused() const { return bridge->counters().refused; }
    sim::Controller& sim() { return c.rig.controller; }
    // What went out on the power line since the `from`th transmission.
    std::vector<sim::X10Transmission> x10Since(std::size_t from) const {
        const auto& all = c.rig.controller.x10Sent();
        return {all.begin() + static_cast<std::ptrdiff_t>(from), all.end()};
    }
    // The screen writes since the `from`th, as "text@x,y" with "+clear" and "+beep".
    std::string screen(std::size_t from = 0) const {
        std::string out;
        const auto& all = c.rig.controller.screenWrites();
        for (std::size_t i = from; i < all.size(); ++i)
            out += (out.empty() ? "" : " ") + all[i].text + "@" + std::to_string(all[i].x) + "," +
                   std::to_string(all[i].y) + (all[i].clear() ? "+clear" : "") + (all[i].beep() ? "+beep" : "");
        return out;
    }
    bool logged(const std::string& part) const {
        for (const auto& l : log)
            if (l.find(part) != std::string::npos) return true;
        return false;
    }

    bridge::BridgeOptions options;
    ConsoleRig c;
    FakeTransport transport;
    entities::PluginView view{*c.rig.plugin};
    std::vector<std::string> log;
    std::unique_ptr<bridge::Bridge> bridge;
};

}  // namespace varnel::test
