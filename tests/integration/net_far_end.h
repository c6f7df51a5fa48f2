#pragma once
// A serial server of the test's own on loopback, for what ser2net will not do on
// demand: refused or unconfirmed line settings, a flood, a close mid-frame. It serves
// one client at a time, raw or as a telnet / com-port server.
#include <QTcpServer>
#include <QTcpSocket>
#include <cstdint>
#include <vector>

namespace varnel::test {

class NetFarEnd {
public:
    using Bytes = std::vector<std::uint8_t>;

    struct Options {
        bool telnet = false;           // a telnet port with the com-port option
        std::uint32_t baudAnswer = 0;  // telnet: the baud rate it claims to set (0: the one asked)
        bool answerSettings = true;    // telnet: confirm line settings at all
    };

    explicit NetFarEnd(Options options);
    ~NetFarEnd();
    NetFarEnd(const NetFarEnd&) = delete;
    NetFarEnd& operator=(const NetFarEnd&) = delete;

    [[nodiscard]] std::uint16_t port() const { return server_.serverPort(); }
    [[nodiscard]] bool connected() const { return client_ != nullptr; }
    [[nodiscard]] int connections() const { return connections_; }
    // The line's bytes the client sent (telnet taken off).
    [[nodiscard]] const Bytes& line() const { return line_; }

    // Raw bytes to the client, as they are (telnet commands included).
    void sendRaw(const Bytes& bytes);
    // Line bytes to the client (0xFF doubled on a telnet port).
    void sendLine(const Bytes& bytes);
    // Ends the connection now.
    void dropClient();

private:
    void accept();
    void readClient();
    void telnetByte(std::uint8_t b);
    void subnegotiation();

    Options o_;
    QTcpServer server_;
    QTcpSocket* client_ = nullptr;
    int connections_ = 0;
    Bytes line_;
    // Telnet reading state.
    enum class T : std::uint8_t { Data, Iac, Verb, Sb, SbIac } t_ = T::Data;
    Bytes sb_;
};

}  // namespace varnel::test
