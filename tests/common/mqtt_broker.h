#pragma once
// A real MQTT broker (the mosquitto program) for a test: its own temporary
// configuration on a free port of 127.0.0.1, optionally with TLS from a throwaway
// certificate authority made with openssl. Stopped when the object goes.
#include <sys/types.h>

#include <filesystem>
#include <string>

#include "rig.h"

namespace varnel::test {

class TestBroker {
public:
    // Throws std::runtime_error when the broker does not come up.
    explicit TestBroker(bool tls = false);
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
    void makeCertificates();
    TempDir dir_;
    bool tls_;
    int port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace varnel::test
