#pragma once
// A serial server of the test's own on loopback, for what ser2net will not do on
// demand: a reply sent one byte per TCP segment, refused line settings, garbage,
// telnet commands varnel does not know, endless subnegotiations, a close mid-frame.
// It serves one client at a time, raw or as a telnet / com-port server, and can put
// the simulated controller behind the line.
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "sim/controller.h"
#include "sim/scheduler.h"

namespace varnel::test {

class NetFarEnd final : public sim::Scheduler {
public:
    using Bytes = std::vector<std::uint8_t>;

    struct Options {
        bool telnet = false;                    // a telnet port with the com-port option
        std::uint32_t baudAnswer = 0;           // telnet: the baud rate it claims to set (0: the one asked)
        bool answerSettings = true;             // telnet: confirm line settings at all
        bool bytePerSegment = false;            // line bytes to the client one per TCP segment
        sim::Controller* controller = nullptr;  // on the line's other end
    };

    explicit NetFarEnd(Options options);
    ~NetFarEnd() override;
    NetFarEnd(const NetFarEnd&) = delete;
    NetFarEnd& operator=(const NetFarEnd&) = delete;

    [[nodiscard]] std::uint16_t port() const { return server_.serverPort(); }
    [[nodiscard]] bool connected() const { return client_ != nullptr; }
    [[nodiscard]] int connections() const { return connections_; }
    // Everything the client sent, as it came over the wire.
    [[nodiscard]] const Bytes& wire() const { return wire_; }
    // The line's bytes the client sent (telnet taken off).
    [[nodiscard]] const Bytes& line() const { return line_; }

    // Raw bytes to the client, as they are (telnet commands included).
    void sendRaw(const Bytes& bytes);
    // Line bytes to the client (0xFF doubled on a telnet port), paced if so set.
    void sendLine(const Bytes& bytes);
    // Ends the connection now.
    void dropClient();

    [[nodiscard]] std::int64_t nowUs() const override;
    void after(std::int64_t delayUs, std::function<void()> fn) override;

private:
    void accept();
    void readClient();
    void telnetByte(std::uint8_t b);
    void subnegotiation();
    void pump();

    Options o_;
    QTcpServer server_;
    QTcpSocket* client_ = nullptr;
    int connections_ = 0;
    Bytes wire_, line_;
    // Telnet reading state.
    enum class T : std::uint8_t { Data, Iac, Verb, Sb, SbIac } t_ = T::Data;
    Bytes sb_;
    std::deque<std::uint8_t> paced_;
    QTimer pacer_;
    QElapsedTimer clock_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace varnel::test
