#pragma once
// The controller's line through a serial server on the network (ser2net, an ESP32
// bridge, a serial-to-Ethernet box): raw TCP, or telnet with the com-port option,
// where varnel sets 9600 8N1 on the far end itself. varnel is only the client.
//
// Opening resolves the host again (every try: a server that moved is found), connects
// and, for rfc2217://, waits until the far end confirmed the line settings; all of it
// within a bounded time, with the event loop running. A connection that ends for any
// reason (refused, reset, closed, keepalive gone unanswered) is a port that went away.
#include <QTcpSocket>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "platform/event_loop.h"
#include "platform/net/endpoint.h"
#include "platform/net/telnet.h"
#include "platform/serial_port.h"

namespace varnel {

struct NetTiming {
    int connectMs = 5000;   // name lookup and TCP connect, all addresses together
    int settingsMs = 3000;  // rfc2217: until the far end confirmed 9600 8N1
    // A far end that vanished without a word (power cut, cable) is noticed after
    // idle + interval * count seconds, or when sent bytes stay unacknowledged.
    int keepIdleS = 10;
    int keepIntervalS = 5;
    int keepCount = 3;
    int unackedMs = 20'000;
};

class QtNetPort final : public SerialPort {
public:
    // More than this many received bytes left unread: the far end floods, the connection ends.
    static constexpr std::size_t kMaxWaiting = std::size_t{64} * 1024;

    explicit QtNetPort(EventLoop& loop, NetTiming timing = {});
    ~QtNetPort() override;
    QtNetPort(const QtNetPort&) = delete;
    QtNetPort& operator=(const QtNetPort&) = delete;

    std::optional<std::string> open(const std::string& device) override;
    void close() override;
    void cancelOpen() override { cancelled_ = true; }
    [[nodiscard]] bool isOpen() const override { return open_; }
    bool write(std::span<const std::uint8_t> bytes) override;
    [[nodiscard]] std::size_t bytesWaiting() const override { return rx_.size(); }
    std::optional<std::uint8_t> readByte() override;
    std::optional<std::uint8_t> peekByte() override;

    // "tcp://10.0.0.7:3001", empty before the first open.
    [[nodiscard]] std::string endpoint() const { return endpoint_ ? endpoint_->text() : std::string(); }
    // The address the connection reached ("10.0.0.7:3001"), empty while closed.
    [[nodiscard]] std::string peer() const;

private:
    std::optional<std::string> resolve(std::int64_t deadline, std::vector<QHostAddress>& addresses);
    std::optional<std::string> connectTo(const QHostAddress& address, std::int64_t deadline);
    std::optional<std::string> negotiate();
    void tuneSocket();
    void readSocket();
    void sendNow(const std::vector<std::uint8_t>& bytes);
    void lost(const std::string& why);
    void socketFailed(QAbstractSocket::SocketError error);
    [[nodiscard]] std::int64_t remainingMs(std::int64_t deadline) const;

    EventLoop& loop_;
    NetTiming timing_;
    QTcpSocket socket_;
    std::optional<net::Endpoint> endpoint_;
    std::optional<net::telnet::Session> telnet_;
    std::deque<std::uint8_t> rx_;
    std::string failure_;           // why the connection failed while opening
    std::uint64_t connection_ = 0;  // counts opens: a late notice about an earlier connection is dropped
    bool opening_ = false;
    bool open_ = false;
    bool cancelled_ = false;
    bool dataEventQueued_ = false;
};

// What a socket error means, in a few words: "connection refused", "no route to host".
[[nodiscard]] std::string socketErrorText(QAbstractSocket::SocketError error, const QString& qtText);
// What a failed name lookup (getaddrinfo's code, and errno for EAI_SYSTEM) means: "host name not found".
[[nodiscard]] std::string lookupErrorText(int code, int systemError = 0);

}  // namespace varnel
