#pragma once
// An MQTT client for tests and benchmarks (libmosquitto on its own thread): it
// subscribes, publishes, and keeps every message it receives with the instant it came.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace varnel::test {

class TestClient {
public:
    using Clock = std::chrono::steady_clock;
    struct Received {
        std::string topic, payload;
        bool retained = false;
        Clock::time_point at;
    };

    // Connects to 127.0.0.1:`port`; throws std::runtime_error when that fails.
    explicit TestClient(int port, const std::string& id = "varnel-test-client");
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    // Returns once the broker has confirmed the subscription (retained messages follow it).
    void subscribe(const std::string& filter);
    void publish(const std::string& topic, const std::string& payload, bool retain = false, int qos = 0);

    [[nodiscard]] std::vector<Received> received() const;
    void clear();
    // The latest payload on `topic`, if any came.
    [[nodiscard]] std::optional<std::string> latest(const std::string& topic) const;

private:
    static void onMessage(mosquitto*, void* self, const mosquitto_message* m);
    static void onSubscribe(mosquitto*, void* self, int mid, int count, const int* granted);
    mosquitto* mosq_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable subscribed_;
    int lastSubAck_ = -1;
    std::vector<Received> received_;
};

}  // namespace varnel::test
