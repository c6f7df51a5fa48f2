#pragma once
// A real ser2net (the Debian package) serving a serial device on a loopback port,
// raw or as telnet with the com-port option, in the foreground for the test.
#include <QProcess>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace varnel::test {

class Ser2net {
public:
    enum class Kind { Raw, Rfc2217 };

    // `dir` holds its configuration; the port is a free one, kept across restarts.
    Ser2net(const std::filesystem::path& dir, const std::string& device, Kind kind);
    ~Ser2net();
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    // Starts it and waits until it listens; an error text when it does not.
    std::optional<std::string> start();
    // Gone at once, as a crash or a power cut takes it.
    void kill();
    [[nodiscard]] std::uint16_t port() const { return port_; }
    // tcp://127.0.0.1:P or rfc2217://127.0.0.1:P
    [[nodiscard]] std::string url() const;

private:
    std::filesystem::path config_;
    Kind kind_;
    std::uint16_t port_ = 0;
    QProcess process_;
};

// A TCP port nobody listens on at the moment (the kernel's choice).
std::uint16_t freeTcpPort();
// Whether something listens on 127.0.0.1:port (from /proc/net/tcp, without connecting).
bool listening(std::uint16_t port);

}  // namespace varnel::test
