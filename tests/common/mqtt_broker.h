#pragma once
// A real MQTT broker (the mosquitto program) for a test: its own temporary
// configuration on a free port of 127.0.0.1, optionally with TLS from a throwaway
// certificate authority made with openssl. Stopped when the object goes.
#include <sys/types.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "rig.h"

namespace varnel::test {

// The broker's certificate, for TLS.
enum class BrokerCert : unsigned char {
    Good,       // made out to localhost and 127.0.0.1, valid for two days
    OtherName,  // made out to a name that is not the broker's
    Expired,    // expired yesterday
};

struct BrokerOptions {
    bool tls = false;
    BrokerCert cert = BrokerCert::Good;
    // A broker of MQTT 3.1.1 only: it answers an MQTT 5 connection with "unacceptable
    // protocol version", as the 3.1.1 standard says (a gate in front of mosquitto).
    bool mqtt311Only = false;
};

class TestBroker {
public:
    // Throws std::runtime_error when the broker does not come up.
    explicit TestBroker(bool tls = false) : TestBroker(BrokerOptions{.tls = tls}) {}
    explicit TestBroker(BrokerOptions options);
    ~TestBroker();
    TestBroker(const TestBroker&) = delete;
    TestBroker& operator=(const TestBroker&) = delete;

    [[nodiscard]] int port() const { return port_; }
    // mqtt://127.0.0.1:PORT, or mqtts://localhost:PORT (the name the certificate carries).
    [[nodiscard]] std::string url() const;
    [[nodiscard]] std::filesystem::path caFile() const { return dir_.path() / "ca.crt"; }
    [[nodiscard]] const std::filesystem::path& dir() const { return dir_.path(); }

    // Stops it (SIGTERM) and starts it again on the same port, as a restart does; it
    // keeps nothing (no persistence).
    void stop();
    void start();
    [[nodiscard]] bool running() const { return pid_ > 0; }

private:
    class Gate;
    void makeCertificates();
    TempDir dir_;
    BrokerOptions options_;
    int port_ = 0;        // where clients connect
    int brokerPort_ = 0;  // where mosquitto listens (behind the gate, if any)
    pid_t pid_ = -1;
    std::unique_ptr<Gate> gate_;
};

}  // namespace varnel::test
