#pragma once
// The bridge's transport on libmosquitto, run from the event loop: the socket is
// watched through the platform layer and the client's own loop is turned once per
// wake-up, never waiting, except at the end of a connection: what was published with
// QoS 1 is acknowledged and the DISCONNECT is written first (1.2 s at most), so that
// the broker keeps the will. Nothing runs on a second thread. What the client reports
// from inside its calls is kept and handed on once the call is over, so the bridge
// may publish, or run a command that waits for the controller, in any handler.
//
// The broker's name is looked up on the calling thread when a connection starts.
//
// Each connection tries MQTT 5 first, for retain-as-published; a broker that answers
// that it speaks only 3.1.1 gets a 3.1.1 connection at once, in the same attempt.
// A TLS failure says what failed (the certificate's authority, name or dates, or the
// broker's refusal), from OpenSSL's own verdict.
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "bridge/settings.h"
#include "bridge/transport.h"
#include "platform/event_loop.h"
#include "platform/socket_watch.h"

struct mosquitto;
struct mosquitto_message;
struct x509_store_ctx_st;

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
    bool subscribe(const std::string& filter, int qos, Retained retained) override;
    void unsubscribe(const std::string& filter) override;
    [[nodiscard]] std::string protocol() const override;

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
    static void publishCallback(mosquitto*, void* self, int mid);
    static void logCallback(mosquitto*, void* self, int level, const char* text);
    static int verifyChain(x509_store_ctx_st* store, void* self);

    std::optional<std::string> start();
    void hookVerify();
    [[nodiscard]] std::string failure(int rc) const;
    [[nodiscard]] std::string tlsFailure() const;
    void service();
    void turnUntil(std::chrono::steady_clock::time_point until, const std::function<bool()>& done);
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
    std::set<int> unacked_;  // message ids of QoS 1 publishes the broker has not acknowledged
    bool active_ = false;    // an attempt or a connection whose end is still to be told
    bool up_ = false;        // the broker accepted the connection
    bool v5_ = true;         // the protocol the attempt or connection speaks
    bool fallBack_ = false;  // the broker refused MQTT 5: 3.1.1 next, in the same attempt
    // What the attempt's TLS handshake told: OpenSSL's certificate verdict, the
    // library's host name check, the last OpenSSL error.
    int verifyError_ = -1;
    std::string certificateDate_;  // the end (or start) of validity of a certificate out of date
    bool nameMismatch_ = false;
    bool hooked_ = false;
    std::string tlsError_;
};

}  // namespace varnel::bridge
