#pragma once
// A transport the test drives by hand: it records what the bridge publishes and
// subscribes, and plays the broker's side (accepting, dropping, delivering).
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bridge/transport.h"

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
        if (refuseNext) {
            refuseNext = false;
            return "refused at once";
        }
        pending = true;
        return std::nullopt;
    }
    void disconnect() override {
        pending = up = false;
        ++disconnects;
    }
    bool publish(const std::string& topic, const std::string& payload, int qos, bool retain) override {
        if (!up) return false;
        published.push_back({topic, payload, qos, retain});
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
        subscriptions.push_back(filter);
        if (r == bridge::Retained::AsPublished) asPublished.push_back(filter);
        return true;
    }
    void unsubscribe(const std::string& filter) override { unsubscribed.push_back(filter); }

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

    int attempts = 0;
    int disconnects = 0;
    bool refuseNext = false;
    bool pending = false;
    bool up = false;
    bridge::Will will;
    std::vector<Published> published;
    std::map<std::string, std::string> retained;  // what a broker would keep
    std::vector<std::string> subscriptions, unsubscribed, asPublished;
};

}  // namespace varnel::test
