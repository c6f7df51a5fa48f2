#pragma once
// The bridge's transport on libmosquitto, run from the event loop: the socket is
// watched through the platform layer and the client's own loop is turned once per
// wake-up, never waiting. Nothing runs on a second thread. What the client reports
// from inside its calls is kept and handed on once the call is over, so the bridge
// may publish, or run a command that waits for the controller, in any handler.
//
// The broker's name is looked up on the calling thread when a connection starts.
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "bridge/settings.h"
#include "bridge/transport.h"
#include "platform/event_loop.h"
#include "platform/socket_watch.h"

struct mosquitto;
struct mosquitto_message;

namespace varnel::bridge {

struct MosquittoConfig {
    BrokerAddress broker{};
    std::string caFile{};  // mqtts: empty uses the system's certificate authorities
    std::string username{}, password{};
    std::string clientId{};
    int keepaliveSeconds = 30;
};

class MosquittoTransport final : public Transport {
public:
    MosquittoTransport(MosquittoConfig config, EventLoop& loop, SocketWatcher& watcher);
    ~MosquittoTransport() override;
    MosquittoTransport(const MosquittoTransport&) = delete;
    MosquittoTransport& operator=(const MosquittoTransport&) = delete;

    std::optional<std::string> connect(const Will& will) override;
    void disconnect() override;
    bool publish(const std::string& topic, const std::string& payload, int qos, bool retain) override;
    bool subscribe(const std::string& filter, int qos) override;
    void unsubscribe(const std::string& filter) override;

    // Why a CA file cannot be used, or nothing when it can.
    static std::optional<std::string> caFileProblem(const std::string& path);

private:
    struct Event {
        enum class Kind { Connected, Disconnected, Received } kind;
        std::string reason;
        Message message;
    };
    static void connectCallback(mosquitto*, void* self, int rc);
    static void disconnectCallback(mosquitto*, void* self, int rc);
    static void messageCallback(mosquitto*, void* self, const mosquitto_message* m);

    void service();
    void syncWatch();
    void deliver();

    MosquittoConfig config_;
    EventLoop& loop_;
    SocketWatcher& watcher_;
    mosquitto* mosq_ = nullptr;
    std::unique_ptr<SocketWatch> watch_;
    int watchedFd_ = -1;
    std::unique_ptr<Timer> misc_;    // keep-alive and retries of the client
    std::unique_ptr<Timer> rested_;  // the socket's read watch while a connection is starting
    std::deque<Event> events_;
    bool active_ = false;  // an attempt or a connection whose end is still to be told
    bool up_ = false;      // the broker accepted the connection
};

}  // namespace varnel::bridge
