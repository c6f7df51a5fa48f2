#include "bridge/mosquitto/mosquitto_transport.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <stdexcept>

namespace varnel::bridge {

namespace {

constexpr int kMiscMs = 1000;
// While a connection starts, a socket that stays readable without progress (a
// peer that hung up half way through a TLS handshake) would wake the loop without end.
constexpr int kRestMs = 20;
// Client loop turns per wake-up: several packets may be waiting.
constexpr int kTurnsPerWake = 32;
constexpr const char* kSystemCaPath = "/etc/ssl/certs";

std::string errorText(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
    return mosquitto_strerror(rc);
}

}  // namespace

std::optional<std::string> MosquittoTransport::caFileProblem(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "the CA file " + path + " cannot be read";
    std::string head(64, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    if (head.find("-----BEGIN") == std::string::npos) return "the CA file " + path + " holds no PEM certificate";
    return std::nullopt;
}

MosquittoTransport::MosquittoTransport(MosquittoConfig config, EventLoop& loop, SocketWatcher& watcher)
    : config_(std::move(config)), loop_(loop), watcher_(watcher) {
    static std::once_flag init;
    std::call_once(init, [] { mosquitto_lib_init(); });
    mosq_ = mosquitto_new(config_.clientId.c_str(), true, this);
    if (!mosq_) throw std::runtime_error("the MQTT client could not be made: " + errorText(MOSQ_ERR_ERRNO));
    mosquitto_connect_callback_set(mosq_, &MosquittoTransport::connectCallback);
    mosquitto_disconnect_callback_set(mosq_, &MosquittoTransport::disconnectCallback);
    mosquitto_message_callback_set(mosq_, &MosquittoTransport::messageCallback);
    misc_ = loop_.createTimer();
    misc_->setInterval(kMiscMs);
    misc_->onTick = [this] { service(); };
    rested_ = loop_.createTimer();
    rested_->setInterval(kRestMs);
    rested_->onTick = [this] {
        rested_->setEnabled(false);
        if (watch_) watch_->setReadEnabled(true);
    };
}

MosquittoTransport::~MosquittoTransport() {
    disconnect();
    watch_.reset();
    mosquitto_destroy(mosq_);
}

std::optional<std::string> MosquittoTransport::connect(const Will& will) {
    disconnect();
    events_.clear();
    if (will.topic.empty()) {
        if (mosquitto_will_clear(mosq_) != MOSQ_ERR_SUCCESS) return "the last will could not be cleared";
    } else if (mosquitto_will_set(mosq_, will.topic.c_str(), static_cast<int>(will.payload.size()), will.payload.data(),
                                  1, true) != MOSQ_ERR_SUCCESS) {
        return "the last will was not taken";
    }
    if (!config_.username.empty() &&
        mosquitto_username_pw_set(mosq_, config_.username.c_str(),
                                  config_.password.empty() ? nullptr : config_.password.c_str()) != MOSQ_ERR_SUCCESS)
        return "the credentials were not taken";
    if (config_.broker.tls) {
        if (!config_.caFile.empty()) {
            if (auto problem = caFileProblem(config_.caFile)) return problem;
        }
        const int rc = config_.caFile.empty()
                           ? mosquitto_tls_set(mosq_, nullptr, kSystemCaPath, nullptr, nullptr, nullptr)
                           : mosquitto_tls_set(mosq_, config_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) return "TLS could not be set up: " + errorText(rc);
    }
    watch_.reset();
    watchedFd_ = -1;
    const int rc =
        mosquitto_connect_async(mosq_, config_.broker.host.c_str(), config_.broker.port, config_.keepaliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        syncWatch();
        return errorText(rc);
    }
    active_ = true;
    up_ = false;
    misc_->setEnabled(true);
    syncWatch();
    return std::nullopt;
}

void MosquittoTransport::disconnect() {
    active_ = false;
    up_ = false;
    mosquitto_disconnect(mosq_);
    // Whatever came meanwhile belongs to the connection that is over.
    events_.clear();
    syncWatch();
}

bool MosquittoTransport::publish(const std::string& topic, const std::string& payload, int qos, bool retain) {
    if (!up_) return false;
    const int rc =
        mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos, retain);
    syncWatch();
    return rc == MOSQ_ERR_SUCCESS;
}

bool MosquittoTransport::subscribe(const std::string& filter, int qos) {
    if (!up_) return false;
    const int rc = mosquitto_subscribe(mosq_, nullptr, filter.c_str(), qos);
    syncWatch();
    return rc == MOSQ_ERR_SUCCESS;
}

void MosquittoTransport::unsubscribe(const std::string& filter) {
    if (!up_) return;
    mosquitto_unsubscribe(mosq_, nullptr, filter.c_str());
    syncWatch();
}

void MosquittoTransport::service() {
    for (int turn = 0; turn < kTurnsPerWake; ++turn) {
        const std::size_t before = events_.size();
        const int rc = mosquitto_loop(mosq_, 0, 1);
        if (mosquitto_socket(mosq_) < 0) {
            // A failed TLS handshake closes the socket without a disconnect callback.
            if (active_ && rc != MOSQ_ERR_SUCCESS) {
                active_ = up_ = false;
                events_.push_back({Event::Kind::Disconnected, errorText(rc), {}});
            }
            break;
        }
        if (events_.size() == before) break;
    }
    syncWatch();
    deliver();
}

void MosquittoTransport::syncWatch() {
    const int fd = mosquitto_socket(mosq_);
    if (fd != watchedFd_) {
        watch_.reset();
        watchedFd_ = fd;
        if (fd >= 0) {
            watch_ = watcher_.watch(fd);
            watch_->onReadable = [this] {
                if (!up_ && watch_) {
                    watch_->setReadEnabled(false);
                    rested_->setEnabled(true);
                }
                service();
            };
            watch_->onWritable = [this] { service(); };
        }
    }
    if (watch_) watch_->setWriteEnabled(mosquitto_want_write(mosq_));
    if (fd < 0 && !active_) misc_->setEnabled(false);
}

void MosquittoTransport::deliver() {
    // A handler may run a command whose wait lets this be called again; the inner call
    // then hands on what follows, so the order stays as it came.
    while (!events_.empty()) {
        Event e = std::move(events_.front());
        events_.pop_front();
        switch (e.kind) {
            case Event::Kind::Connected:
                if (onConnected) onConnected();
                break;
            case Event::Kind::Disconnected:
                if (onDisconnected) onDisconnected(e.reason);
                break;
            case Event::Kind::Received:
                if (onMessage) onMessage(e.message);
                break;
        }
    }
}

void MosquittoTransport::connectCallback(mosquitto*, void* self, int rc) {
    auto* t = static_cast<MosquittoTransport*>(self);
    if (!t->active_) return;
    if (rc == 0) {
        t->up_ = true;
        t->events_.push_back({Event::Kind::Connected, {}, {}});
        return;
    }
    // Refused by the broker (credentials, client id): the attempt is over.
    t->active_ = false;
    t->up_ = false;
    t->events_.push_back({Event::Kind::Disconnected, mosquitto_connack_string(rc), {}});
    mosquitto_disconnect(t->mosq_);
}

void MosquittoTransport::disconnectCallback(mosquitto*, void* self, int rc) {
    auto* t = static_cast<MosquittoTransport*>(self);
    if (!t->active_) return;
    t->active_ = false;
    t->up_ = false;
    t->events_.push_back({Event::Kind::Disconnected, rc == 0 ? "closed" : errorText(rc), {}});
}

void MosquittoTransport::messageCallback(mosquitto*, void* self, const mosquitto_message* m) {
    auto* t = static_cast<MosquittoTransport*>(self);
    if (!t->up_ || !m || !m->topic) return;
    Message msg;
    msg.topic = m->topic;
    if (m->payload && m->payloadlen > 0)
        msg.payload.assign(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen));
    msg.retained = m->retain;
    t->events_.push_back({Event::Kind::Received, {}, std::move(msg)});
}

}  // namespace varnel::bridge
