// The MQTT bridge in real time, against a real broker (mosquitto on a free port) and
// the simulator on a paced pseudo-terminal:
//   - an input change: from the report's last byte on the line to the state message
//     at a subscriber;
//   - a switch command: from its publication to the first byte of its point-write
//     frame on the line, with the controller idle;
//   - 200 switch commands published at once: all executed, in order, at a share of
//     the wire's limit (11 bytes at 9600 baud, 11.5 ms a write; 1.0 = the limit).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "bridge/bridge.h"
#include "bridge/mosquitto/mosquitto_transport.h"
#include "console/console.h"
#include "devices/device_model.h"
#include "devices/mappings.h"
#include "live_plugin.h"
#include "mqtt_broker.h"
#include "mqtt_client.h"
#include "platform/qt/qt_socket_watcher.h"

namespace varnel {
namespace {

using Clock = std::chrono::steady_clock;
constexpr double kWireMsPerWrite = 11.0 * 10.0 / 9600.0 * 1000.0;

std::int64_t ns(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

void reportLatencies(benchmark::State& state, const std::vector<double>& latenciesUs) {
    state.counters["median_ms"] = percentile(latenciesUs, 0.5) / 1000.0;
    state.counters["p90_ms"] = percentile(latenciesUs, 0.9) / 1000.0;
    state.counters["max_ms"] = percentile(latenciesUs, 1.0) / 1000.0;
}

// The plug-in with variables 0-7, the SECU16 at 1 (inputs 0-7, outputs 8-15) mirrored,
// and its bridge connected to a fresh broker; a subscriber on every state.
struct LiveMqtt {
    LiveMqtt() {
        PluginState& ctx = live.hspi->context();
        std::array<bool, 128> vars{};
        std::fill(vars.begin(), vars.begin() + 8, true);
        CreateVariableDevices(ctx, vars);
        std::array<bool, 16> ticked{};
        ticked.fill(true);
        CreateModuleDevices(ctx, 1, ticked, false);
        ReadDeviceSettings(ctx);
        const auto parsed = bridge::parseBrokerUrl(broker.url());
        transport = std::make_unique<bridge::MosquittoTransport>(
            bridge::MosquittoConfig{.broker = std::get<bridge::BrokerAddress>(parsed), .clientId = "varnel-bench"},
            live.loop, watcher);
        bridge = std::make_unique<bridge::Bridge>(bridge::BridgeOptions{.version = "bench", .brokerName = broker.url()},
                                                  *transport, live.loop, *live.host, console, view,
                                                  [](const std::string&) {});
        bridge->start();
        subscriber.subscribe("varnel/#");
        wait(10'000, [&] { return bridge->connected() && subscriber.latest("varnel/status") == "online"; });
        live.settle(3000);
    }
    // Pumps the plug-in's loop in short slices (messages reach the test client on its own thread).
    bool wait(int ms, const std::function<bool()>& done) {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            if (Clock::now() >= until) return false;
            live.loop.waitUntil(1, done);
        }
        return true;
    }
    // The wire's record of point writes, read on its own thread: (point, value) each.
    std::vector<std::pair<int, int>> pointWrites() {
        std::promise<std::vector<std::pair<int, int>>> p;
        live.wire.post([&p](sim::Controller& c) {
            std::vector<std::pair<int, int>> out;
            for (const auto& f : c.framesOf(sim::FrameKind::Command, 0x33)) out.emplace_back(f.bytes[3], f.bytes[4]);
            p.set_value(std::move(out));
        });
        return p.get_future().get();
    }

    test::TestBroker broker;
    bench::LivePlugin live;
    console::Console console{*live.hspi, *live.host};
    bridge::PluginView view{*live.hspi};
    QtSocketWatcher watcher;
    std::unique_ptr<bridge::MosquittoTransport> transport;
    std::unique_ptr<bridge::Bridge> bridge;
    test::TestClient subscriber{broker.port(), "bench-subscriber"};
};

std::optional<Clock::time_point> arrival(const test::TestClient& c, const std::string& topic,
                                         const std::string& payload, Clock::time_point after) {
    for (const auto& m : c.received())
        if (m.topic == topic && m.payload == payload && m.at >= after) return m.at;
    return std::nullopt;
}

void BM_MqttInputChangeToSubscriber(benchmark::State& state) {
    LiveMqtt m;
    std::vector<double> latenciesUs;
    int i = 0;
    for (auto _ : state) {
        const int point = i % 8;
        const bool set = (i / 8) % 2 == 0;  // set reads as 0: OFF
        ++i;
        const std::string topic = "varnel/unit/1/point/" + std::to_string(point) + "/state";
        const auto start = Clock::now();
        const std::uint64_t reportsBefore = m.live.wire.reports();
        m.live.wire.post([point, set](sim::Controller& c) { c.changeInput(1, point, set); });
        std::optional<Clock::time_point> at;
        if (!m.wait(3000, [&] {
                at = arrival(m.subscriber, topic, set ? "OFF" : "ON", start);
                return at && m.live.wire.reports() > reportsBefore;
            })) {
            state.SkipWithError("the change never reached the subscriber");
            return;
        }
        const double us = static_cast<double>(ns(*at) - m.live.wire.lastReportByteNs()) / 1000.0;
        latenciesUs.push_back(us);
        state.SetIterationTime(us / 1e6);
        m.live.settle(37 + (i * 53) % 200);
    }
    reportLatencies(state, latenciesUs);
}
BENCHMARK(BM_MqttInputChangeToSubscriber)->UseManualTime()->Iterations(100)->Unit(benchmark::kMillisecond);

void BM_MqttSwitchCommandToFirstByte(benchmark::State& state) {
    LiveMqtt m;
    PluginState& ctx = m.live.hspi->context();
    test::TestClient publisher(m.broker.port(), "bench-publisher");
    std::vector<double> latenciesUs;
    int i = 0;
    for (auto _ : state) {
        // Idle: no poll on the line and none about to start.
        m.wait(3000, [&] { return ctx.gate.busy == 0 && ctx.gate.exchangeDepth == 0 && !ctx.gate.timerBusy; });
        const std::int64_t before = m.live.wire.commandStartNs(0x33);
        const int output = 8 + i % 8;
        const char* value = (i / 8) % 2 == 0 ? "ON" : "OFF";
        ++i;
        const auto sent = Clock::now();
        publisher.publish("varnel/unit/1/point/" + std::to_string(output) + "/set", value);
        if (!m.wait(3000, [&] { return m.live.wire.commandStartNs(0x33) != before; })) {
            state.SkipWithError("the command never reached the line");
            return;
        }
        const double us = static_cast<double>(m.live.wire.commandStartNs(0x33) - ns(sent)) / 1000.0;
        latenciesUs.push_back(us);
        state.SetIterationTime(us / 1e6);
        // Land at different points of the variable timer's cycle.
        m.live.settle(100 + (i * 53) % 400);
    }
    reportLatencies(state, latenciesUs);
}
BENCHMARK(BM_MqttSwitchCommandToFirstByte)->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);

void BM_Mqtt200SwitchCommandsAtOnce(benchmark::State& state) {
    constexpr int kCommands = 200;
    LiveMqtt m;
    test::TestClient publisher(m.broker.port(), "bench-publisher");
    std::vector<double> ratios;
    int round = 0;
    for (auto _ : state) {
        const auto before = m.pointWrites().size();
        const std::uint64_t repliesBefore = m.live.wire.replies();
        std::vector<std::pair<int, int>> expected;
        const auto t0 = Clock::now();
        for (int i = 0; i < kCommands; ++i) {
            const int point = (i + round) % 8;
            const bool on = (i / 8 + round) % 2 == 0;
            publisher.publish("varnel/unit/1/point/" + std::to_string(8 + point) + "/set", on ? "ON" : "OFF", false, 1);
            expected.emplace_back(point, on ? 1 : 0);
        }
        ++round;
        std::vector<std::pair<int, int>> got;
        if (!m.wait(30'000, [&] {
                return m.bridge->counters().executed >= static_cast<std::uint64_t>(kCommands * round) &&
                       m.bridge->waiting() == 0;
            })) {
            state.SkipWithError("not every command was executed");
            return;
        }
        const double tookMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        got = m.pointWrites();
        got.erase(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(before));
        if (got != expected || m.bridge->counters().dropped != 0 || m.live.wire.replies() - repliesBefore < kCommands) {
            state.SkipWithError("commands were lost or came out of order");
            return;
        }
        state.SetIterationTime(tookMs / 1000.0);
        ratios.push_back(kCommands * kWireMsPerWrite / tookMs);
        m.live.settle(1000);
    }
    std::sort(ratios.begin(), ratios.end());
    state.counters["ratio_median"] = ratios[ratios.size() / 2];
    state.counters["ratio_worst"] = ratios.front();
}
BENCHMARK(BM_Mqtt200SwitchCommandsAtOnce)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace varnel
