#pragma once
// What the bridge needs of an MQTT client: one connection at a time, publishing,
// subscribing, and three events. The bridge owns every policy (when to connect again,
// what to publish, what to refuse); a transport only moves messages. Events arrive on
// the event loop's thread, never from inside connect(), publish() or subscribe().
#include <functional>
#include <optional>
#include <string>

namespace varnel::bridge {

struct Message {
    std::string topic;
    std::string payload;
    // Set on a message the broker kept and replays because of a new subscription, and
    // on one of a subscription made with Retained::AsPublished that was published retained.
    bool retained = false;
};

// What a subscription's messages say about retaining.
enum class Retained : unsigned char {
    OnReplay,     // only a replay of what the broker kept is marked retained
    AsPublished,  // MQTT 5: also a message published retained while subscribed
};

// The last will: what the broker publishes (retained) when the connection dies
// unannounced. An empty topic: none.
struct Will {
    std::string topic;
    std::string payload;
};

class Transport {
public:
    virtual ~Transport() = default;
    // Starts one connection attempt; the outcome comes through onConnected or
    // onDisconnected. An error text when the attempt could not even start.
    virtual std::optional<std::string> connect(const Will& will) = 0;
    // Closes the connection cleanly (the will is not sent); no event follows.
    virtual void disconnect() = 0;
    // False when the message could not be handed to the connection.
    virtual bool publish(const std::string& topic, const std::string& payload, int qos, bool retain) = 0;
    // With an MQTT 3.1.1 broker AsPublished is OnReplay.
    virtual bool subscribe(const std::string& filter, int qos, Retained retained) = 0;
    virtual void unsubscribe(const std::string& filter) = 0;
    // The protocol of the connection that is up, "MQTT 5" or "MQTT 3.1.1"; empty when unknown.
    [[nodiscard]] virtual std::string protocol() const { return {}; }

    std::function<void()> onConnected;
    // After onConnected, or for an attempt that failed; says why in a few words.
    std::function<void(const std::string& reason)> onDisconnected;
    std::function<void(const Message&)> onMessage;
};

}  // namespace varnel::bridge
