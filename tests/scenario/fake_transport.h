#pragma once
// A transport the test drives by hand: it records what the bridge publishes and
// subscribes, and plays the broker's side (accepting, dropping, delivering). Given an
// event loop, it also does what a broker does on its own, on the loop's next turn:
// replays retained messages to a new subscription and passes the bridge's own messages
// back to it on a matching one.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/transport.h"
#include "platform/event_loop.h"

namespace varnel::test {

class FakeTransport final : public bridge::Transport {
public:
    struct Published {
        std::string topic, payload;
        int qos = 0;
        bool retain = false;
    };

    std::optional<std::string> connect(const bridge::Will& w) override {
        ++attempts;
        will = w;
        if (trace) trace("connect, will " + w.topic + " = " + w.payload + (refuseNext ? " (refused)" : ""));
        if (refuseNext) {
            refuseNext = false;
            return "refused at once";
        }
        pending = true;
        active.clear();
        asPublished.clear();
        echoes.clear();
        return std::nullopt;
    }
    void disconnect() override {
        if (trace) trace("disconnect");
        pending = up = false;
        ++disconnects;
    }
    bool publish(const std::string& topic, const std::string& payload, int qos, bool retain) override {
        if (!up) return false;
        if (trace)
            trace("publish " + topic + (retain ? " (retained" : " (") + ", qos " + std::to_string(qos) + ") " +
                  payload);
        published.push_back({topic, payload, qos, retain});
        // MQTT 5's retain-as-published keeps the flag on a live message.
        if (subscribed(topic))
            later({topic, payload,
                   retain && std::ranges::any_of(asPublished, [&](const auto& f) { return matches(f, topic); })});
        if (retain) {
            if (payload.empty())
                retained.erase(topic);
            else
                retained[topic] = payload;
        }
        return true;
    }
    bool subscribe(const std::string& filter, int, bridge::Retained r) override {
        if (!up) return false;
        if (trace) trace("subscribe " + filter + (r == bridge::Retained::AsPublished ? " (retain as published)" : ""));
        subscriptions.push_back(filter);
        active.push_back(filter);
        if (r == bridge::Retained::AsPublished) asPublished.push_back(filter);
        for (const auto& [t, p] : retained)
            if (matches(filter, t)) later({t, p, true});
        return true;
    }
    void unsubscribe(const std::string& filter) override {
        if (trace) trace("unsubscribe " + filter);
        unsubscribed.push_back(filter);
        std::erase(active, filter);
    }

    // The broker's side.
    void accept() {
        pending = false;
        up = true;
        if (onConnected) onConnected();
    }
    void drop(const std::string& reason = "connection reset") {
        const bool was = pending || up;
        pending = up = false;
        if (was && onDisconnected) onDisconnected(reason);
    }
    void send(const std::string& topic, const std::string& payload, bool retainedReplay = false) {
        if (onMessage) onMessage({topic, payload, retainedReplay});
    }

    // A message from the broker on the loop's next turn (none without a loop).
    void later(bridge::Message m) {
        if (!loop) return;
        echoes.push_back(std::move(m));
        if (!echoTimer) {
            echoTimer = loop->createTimer();
            echoTimer->setInterval(0);
            echoTimer->onTick = [this] {
                echoTimer->setEnabled(false);
                auto due = std::move(echoes);
                echoes.clear();
                for (const auto& m : due)
                    if (up && onMessage) onMessage(m);
            };
        }
        echoTimer->setEnabled(true);
    }

    // Whether a subscription of this connection takes `topic` (MQTT's '+' and '#').
    [[nodiscard]] bool subscribed(const std::string& topic) const {
        for (const auto& f : active)
            if (matches(f, topic)) return true;
        return false;
    }
    static bool matches(std::string_view filter, std::string_view topic) {
        while (true) {
            const auto fEnd = filter.find('/');
            const auto tEnd = topic.find('/');
            const std::string_view f = filter.substr(0, fEnd);
            if (f == "#") return true;
            if (f != "+" && f != topic.substr(0, tEnd)) return false;
            if (fEnd == std::string_view::npos || tEnd == std::string_view::npos) return fEnd == tEnd;
            filter.remove_prefix(fEnd + 1);
            topic.remove_prefix(tEnd + 1);
        }
    }

    // The last payload published on `topic`, if any.
    std::optional<std::string> last(const std::string& topic) const {
        for (auto it = published.rbegin(); it != published.rend(); ++it)
            if (it->topic == topic) return it->payload;
        return std::nullopt;
    }
    std::size_t count(const std::string& topic) const {
        std::size_t n = 0;
        for (const auto& p : published) n += p.topic == topic;
        return n;
    }

    // Told of every call the bridge makes.
    std::function<void(const std::string&)> trace;
    int attempts = 0;
    int disconnects = 0;
    bool refuseNext = false;
    bool pending = false;
    bool up = false;
    bridge::Will will;
    std::vector<Published> published;
    std::map<std::string, std::string> retained;  // what a broker would keep
    std::vector<std::string> subscriptions, unsubscribed;
    // The subscriptions of the connection now, and those of them with retain-as-published.
    std::vector<std::string> active, asPublished;
    EventLoop* loop = nullptr;
    std::deque<bridge::Message> echoes;
    std::unique_ptr<Timer> echoTimer;
};

}  // namespace varnel::test
