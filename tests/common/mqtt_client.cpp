#include "mqtt_client.h"

#include <mosquitto.h>

#include <stdexcept>

namespace varnel::test {

TestClient::TestClient(int port, const std::string& id) {
    mosquitto_lib_init();
    mosq_ = mosquitto_new(id.c_str(), true, this);
    if (!mosq_) throw std::runtime_error("no MQTT client");
    mosquitto_message_callback_set(mosq_, &TestClient::onMessage);
    mosquitto_subscribe_callback_set(mosq_, &TestClient::onSubscribe);
    if (mosquitto_connect(mosq_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS || mosquitto_loop_start(mosq_) != 0) {
        mosquitto_destroy(mosq_);
        throw std::runtime_error("the test client cannot reach the broker on port " + std::to_string(port));
    }
}

TestClient::~TestClient() {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
}

void TestClient::subscribe(const std::string& filter) {
    int mid = 0;
    if (mosquitto_subscribe(mosq_, &mid, filter.c_str(), 1) != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("cannot subscribe to " + filter);
    std::unique_lock lock(mutex_);
    if (!subscribed_.wait_for(lock, std::chrono::seconds(10), [&] { return lastSubAck_ >= mid; }))
        throw std::runtime_error("the broker did not confirm the subscription to " + filter);
}

void TestClient::publish(const std::string& topic, const std::string& payload, bool retain, int qos) {
    if (mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos,
                          retain) != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("cannot publish on " + topic);
}

std::vector<TestClient::Received> TestClient::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

void TestClient::clear() {
    std::lock_guard lock(mutex_);
    received_.clear();
}

std::optional<std::string> TestClient::latest(const std::string& topic) const {
    std::lock_guard lock(mutex_);
    for (auto it = received_.rbegin(); it != received_.rend(); ++it)
        if (it->topic == topic) return it->payload;
    return std::nullopt;
}

void TestClient::onMessage(mosquitto*, void* self, const mosquitto_message* m) {
    const auto at = Clock::now();
    auto* c = static_cast<TestClient*>(self);
    Received r{.topic = m->topic,
               .payload = m->payloadlen > 0 ? std::string(static_cast<const char*>(m->payload),
                                                          static_cast<std::size_t>(m->payloadlen))
                                            : std::string(),
               .retained = m->retain,
               .at = at};
    std::lock_guard lock(c->mutex_);
    c->received_.push_back(std::move(r));
}

void TestClient::onSubscribe(mosquitto*, void* self, int mid, int, const int*) {
    auto* c = static_cast<TestClient*>(self);
    {
        std::lock_guard lock(c->mutex_);
        c->lastSubAck_ = std::max(c->lastSubAck_, mid);
    }
    c->subscribed_.notify_all();
}

}  // namespace varnel::test
