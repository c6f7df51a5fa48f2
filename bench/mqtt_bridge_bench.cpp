// The MQTT bridge in real time, against a real broker (mosquitto on a free port) and
// the simulator on a paced pseudo-terminal:
//   - an input change: from the report's last byte on the line to the state message
//     at a subscriber;
//   - a switch command published at a random moment of the poll cycle: from the end
//     of the exchange on the line then (or its publication) to the first byte of its
//     point-write frame;
//   - 200 switch commands published at once: each output ends at its last value;
//   - 10,000 values for one variable and an input change during them.
// The first two also with 20 browsers on the web page (argument: browsers), and the
// controller's exchanges per second during each.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bridge/bridge.h"
#include "bridge/mosquitto/mosquitto_transport.h"
#include "console/console.h"
#include "devices/device_model.h"
#include "devices/mappings.h"
#include "live_plugin.h"
#include "measure.h"
#include "mqtt_broker.h"
#include "mqtt_client.h"
#include "platform/qt/qt_socket_watcher.h"
#include "web_audience.h"

namespace varnel {
namespace {

using bench::percentile;
using bench::reportLatencies;

using Clock = std::chrono::steady_clock;

std::int64_t ns(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// The plug-in with variables 0-7, the SECU16 at 1 (inputs 0-7, outputs 8-15) mirrored,
// and its bridge connected to a fresh broker; a subscriber on every state; and as many
// browsers on the web page as asked.
struct LiveMqtt {
    explicit LiveMqtt(int browsers = 0) {
        live.mirror(16);
        if (browsers > 0) {
            web.emplace(live, console, browsers);
            if (web->error()) throw std::runtime_error(*web->error());
        }
        const auto parsed = bridge::parseBrokerUrl(broker.url());
        transport = std::make_unique<bridge::MosquittoTransport>(
            bridge::MosquittoConfig{.broker = std::get<bridge::BrokerAddress>(parsed), .clientId = "varnel-bench"},
            live.loop, watcher);
        bridge = std::make_unique<bridge::Bridge>(
            bridge::BridgeOptions{.version = "bench", .brokerName = broker.url(), .installation = "be9c4"}, *transport,
            live.loop, *live.host, console, view, [](const std::string&) {});
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
    std::optional<bench::WebAudience> web;
    entities::PluginView view{*live.hspi};
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

// The controller's exchanges per second meanwhile (the variable polls, I/O checks and
// commands the line carried): what the web page's browsers must not slow.
void reportExchanges(benchmark::State& state, const LiveMqtt& m, std::uint64_t repliesBefore, Clock::time_point since) {
    const double s = std::chrono::duration<double>(Clock::now() - since).count();
    state.counters["exchanges_per_s"] = static_cast<double>(m.live.wire.replies() - repliesBefore) / s;
}

void BM_MqttInputChangeToSubscriber(benchmark::State& state) {
    LiveMqtt m(static_cast<int>(state.range(0)));
    const std::uint64_t repliesBefore = m.live.wire.replies();
    const auto since = Clock::now();
    std::vector<double> latenciesUs;
    int i = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto change = m.live.changeInput(i++);
        const std::string topic = "varnel/unit/1/input/" + std::to_string(change.point + 1) + "/state";
        std::optional<Clock::time_point> at;
        if (!m.wait(3000, [&] {
                at = arrival(m.subscriber, topic, change.set ? "OFF" : "ON", start);
                return at && m.live.wire.reports() > change.reportsBefore;
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
    reportExchanges(state, m, repliesBefore, since);
}
BENCHMARK(BM_MqttInputChangeToSubscriber)
    ->Arg(0)
    ->Arg(20)
    ->UseManualTime()
    ->Iterations(100)
    ->Unit(benchmark::kMillisecond);

// Published from another thread at a random moment of the poll cycle, as Home
// Assistant does: the time counted is what comes beyond the exchange already on the
// line when the command arrived (from publication to the frame's first byte: total_*).
void BM_MqttSwitchCommandToFirstByte(benchmark::State& state) {
    LiveMqtt m(static_cast<int>(state.range(0)));
    const std::uint64_t repliesBefore = m.live.wire.replies();
    const auto since = Clock::now();
    test::TestClient publisher(m.broker.port(), "bench-publisher");
    std::mt19937 random(18);
    std::uniform_int_distribution<int> moment(0, 999'999);  // microseconds: two poll cycles
    std::vector<double> beyondUs, totalUs;
    int i = 0;
    for (auto _ : state) {
        const std::int64_t before = m.live.wire.commandStartNs(0x33);
        const std::string topic = "varnel/unit/1/output/" + std::to_string(1 + i % 8) + "/set";
        const char* value = (i / 8) % 2 == 0 ? "ON" : "OFF";
        ++i;
        std::atomic<std::int64_t> sentNs{0};
        std::thread at([&, delay = moment(random)] {
            std::this_thread::sleep_for(std::chrono::microseconds(delay));
            sentNs = ns(Clock::now());
            publisher.publish(topic, value);
        });
        const bool reached = m.wait(5000, [&] { return m.live.wire.commandStartNs(0x33) != before; });
        at.join();
        if (!reached) {
            state.SkipWithError("the command never reached the line");
            return;
        }
        const std::int64_t first = m.live.wire.commandStartNs(0x33);
        const double beyond = static_cast<double>(first - m.live.wire.freeAfter(sentNs)) / 1000.0;
        beyondUs.push_back(std::max(beyond, 0.0));
        totalUs.push_back(static_cast<double>(first - sentNs) / 1000.0);
        state.SetIterationTime(beyondUs.back() / 1e6);
    }
    reportLatencies(state, beyondUs);
    reportLatencies(state, totalUs, "total_");
    reportExchanges(state, m, repliesBefore, since);
}
BENCHMARK(BM_MqttSwitchCommandToFirstByte)
    ->Arg(0)
    ->Arg(20)
    ->UseManualTime()
    ->Iterations(100)
    ->Unit(benchmark::kMillisecond);

// Commands that wait are merged per output (last value wins): each output must end at
// the last value sent, with nothing dropped; the time is until the last write is out.
void BM_Mqtt200SwitchCommandsAtOnce(benchmark::State& state) {
    constexpr int kCommands = 200;
    LiveMqtt m;
    test::TestClient publisher(m.broker.port(), "bench-publisher");
    std::vector<double> writes;
    int round = 0;
    for (auto _ : state) {
        const auto before = m.pointWrites().size();
        std::map<int, int> last;
        const auto t0 = Clock::now();
        for (int i = 0; i < kCommands; ++i) {
            const int point = (i + round) % 8;
            const bool on = (i / 8 + round) % 2 == 0;
            publisher.publish("varnel/unit/1/output/" + std::to_string(1 + point) + "/set", on ? "ON" : "OFF", false,
                              1);
            last[point] = on ? 1 : 0;
        }
        ++round;
        std::vector<std::pair<int, int>> got;
        std::map<int, int> now;
        const bool settled = m.wait(30'000, [&] {
            if (m.bridge->waiting() != 0) return false;
            got = m.pointWrites();
            now.clear();
            for (auto it = got.begin() + static_cast<std::ptrdiff_t>(before); it != got.end(); ++it)
                now[it->first] = it->second;
            return now == last;
        });
        const double tookMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        if (!settled || m.bridge->counters().dropped != 0) {
            state.SkipWithError("an output did not end at its last value");
            return;
        }
        state.SetIterationTime(tookMs / 1000.0);
        writes.push_back(static_cast<double>(got.size() - before));
        m.live.settle(1000);
    }
    std::sort(writes.begin(), writes.end());
    state.counters["writes_median"] = writes[writes.size() / 2];
}
BENCHMARK(BM_Mqtt200SwitchCommandsAtOnce)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// 10,000 values for one variable published as fast as the client can, and an input
// change halfway: last_value_ms from the last publication until the controller holds
// that value; input_change_ms from the report's last byte to the state at a subscriber.
void BM_MqttFlood10000Variable(benchmark::State& state) {
    constexpr int kMessages = 10'000;
    LiveMqtt m;
    test::TestClient publisher(m.broker.port(), "bench-publisher");
    std::vector<double> lastValueMs, inputMs;
    int round = 0;
    for (auto _ : state) {
        const bool set = round % 2 == 0;  // set reads as 0: OFF
        const std::string input = "varnel/unit/1/input/5/state";
        const int base = (round++ % 5) * kMessages;
        std::atomic<std::int64_t> lastSentNs{0}, changedNs{0};
        const std::uint64_t reportsBefore = m.live.wire.reports();
        std::thread flood([&] {
            for (int i = 1; i <= kMessages; ++i) {
                publisher.publish("varnel/var/3/set", std::to_string(base + i));
                if (i == kMessages / 2) {
                    changedNs = ns(Clock::now());
                    m.live.wire.post([set](sim::Controller& c) { c.changeInput(1, 4, set); });
                }
            }
            lastSentNs = ns(Clock::now());
        });
        std::optional<std::int64_t> writtenNs;
        std::optional<Clock::time_point> inputAt;
        const bool done = m.wait(60'000, [&] {
            if (!inputAt && changedNs != 0) {
                const auto a = arrival(m.subscriber, input, set ? "OFF" : "ON",
                                       Clock::time_point(std::chrono::nanoseconds(changedNs)));
                if (a && m.live.wire.reports() > reportsBefore) inputAt = a;
            }
            if (!writtenNs && lastSentNs != 0) {
                std::promise<int> p;
                m.live.wire.post([&p](sim::Controller& c) { p.set_value(c.variable(3)); });
                if (p.get_future().get() == base + kMessages) writtenNs = ns(Clock::now());
            }
            return writtenNs && inputAt;
        });
        flood.join();
        if (!done) {
            state.SkipWithError("the last value was never written or the input change never came");
            return;
        }
        lastValueMs.push_back(static_cast<double>(*writtenNs - lastSentNs) / 1e6);
        inputMs.push_back(static_cast<double>(ns(*inputAt) - m.live.wire.lastReportByteNs()) / 1e6);
        state.SetIterationTime(lastValueMs.back() / 1000.0);
        m.live.settle(1000);
    }
    state.counters["last_value_median_ms"] = percentile(lastValueMs, 0.5);
    state.counters["last_value_max_ms"] = percentile(lastValueMs, 1.0);
    state.counters["input_change_median_ms"] = percentile(inputMs, 0.5);
    state.counters["input_change_max_ms"] = percentile(inputMs, 1.0);
}
BENCHMARK(BM_MqttFlood10000Variable)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace varnel
