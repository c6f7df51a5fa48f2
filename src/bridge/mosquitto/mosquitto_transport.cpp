#include "bridge/mosquitto/mosquitto_transport.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string_view>

namespace varnel::bridge {

namespace {

constexpr int kMiscMs = 1000;
// While a connection starts, a socket that stays readable without progress (a
// peer that hung up half way through a TLS handshake) would wake the loop without end.
constexpr int kRestMs = 20;
// Client loop turns per wake-up: several packets may be waiting.
constexpr int kTurnsPerWake = 32;
constexpr const char* kSystemCaPath = "/etc/ssl/certs";
// How long the end of a connection may hold the loop: for the broker's acknowledgement
// of what is outstanding (a stop's retained "offline"), then for the DISCONNECT to be written.
constexpr std::chrono::milliseconds kAckWait{1000}, kWriteWait{200};
constexpr int kGoodbyeTurnMs = 50;

std::string errorText(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
    return mosquitto_strerror(rc);
}

// "2026-12-06" of a certificate's date; empty when it cannot be read.
std::string dateOf(const ASN1_TIME* t) {
    std::tm tm{};
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return {};
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return buf;
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
    mosquitto_publish_callback_set(mosq_, &MosquittoTransport::publishCallback);
    mosquitto_log_callback_set(mosq_, &MosquittoTransport::logCallback);
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
    v5_ = true;
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
    return start();
}

std::optional<std::string> MosquittoTransport::start() {
    fallBack_ = false;
    unacked_.clear();
    verifyError_ = -1;
    certificateDate_.clear();
    nameMismatch_ = false;
    tlsError_.clear();
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, v5_ ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    watch_.reset();
    watchedFd_ = -1;
    const int rc =
        mosquitto_connect_async(mosq_, config_.broker.host.c_str(), config_.broker.port, config_.keepaliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        syncWatch();
        return failure(rc);
    }
    hookVerify();
    active_ = true;
    up_ = false;
    misc_->setEnabled(true);
    syncWatch();
    return std::nullopt;
}

// The library's TLS context, made with the first connection's socket and kept, gets
// the chain check's verdict noted, which the library drops. The certificate comes in a
// later turn of the client's loop than the one that made the socket.
void MosquittoTransport::hookVerify() {
    if (hooked_ || !config_.broker.tls) return;
    if (auto* ssl = static_cast<SSL*>(mosquitto_ssl_get(mosq_))) {
        SSL_CTX_set_cert_verify_callback(SSL_get_SSL_CTX(ssl), &MosquittoTransport::verifyChain, this);
        hooked_ = true;
    }
}

std::string MosquittoTransport::protocol() const {
    if (!up_) return {};
    return v5_ ? "MQTT 5" : "MQTT 3.1.1";
}

std::string MosquittoTransport::failure(int rc) const {
    if (config_.broker.tls && (rc == MOSQ_ERR_TLS || verifyError_ >= 0 || nameMismatch_ || !tlsError_.empty()))
        return tlsFailure();
    return errorText(rc);
}

std::string MosquittoTransport::tlsFailure() const {
    const std::string cert = "TLS: the broker's certificate ";
    // The library's host name check says no without a reason of OpenSSL's.
    if (nameMismatch_ || verifyError_ == X509_V_OK || verifyError_ == X509_V_ERR_HOSTNAME_MISMATCH ||
        verifyError_ == X509_V_ERR_IP_ADDRESS_MISMATCH)
        return cert + "is not made out to " + config_.broker.host + " (name mismatch)";
    const std::string date = certificateDate_.empty() ? "" : " on " + certificateDate_;
    switch (verifyError_) {
        case -1: break;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            return cert + "is signed by an unknown certificate authority (" +
                   (config_.caFile.empty() ? "not one the system trusts; --mqtt-ca names the right one"
                                           : "not the one in " + config_.caFile) +
                   ")";
        case X509_V_ERR_CERT_HAS_EXPIRED: return cert + "has expired" + date;
        case X509_V_ERR_CERT_NOT_YET_VALID: return cert + "is not valid yet (from" + date + "; is the clock right?)";
        default: return cert + "was not accepted: " + X509_verify_cert_error_string(verifyError_);
    }
    if (!tlsError_.empty()) {
        // An alert is the broker saying no (a client certificate it wants, a version it
        // will not speak); a record it cannot read means no TLS at all on that port.
        if (tlsError_.find("alert") != std::string::npos)
            return "TLS: the broker refused the handshake (" + tlsError_ + ")";
        if (tlsError_.find("certificate verify failed") != std::string::npos)
            return cert + "was not accepted (" + tlsError_ + ")";
        if (tlsError_.find("unexpected eof") != std::string::npos)
            return "TLS: the broker hung up during the handshake (does it speak TLS on port " +
                   std::to_string(config_.broker.port) + "?)";
        if (tlsError_.find("wrong version number") != std::string::npos ||
            tlsError_.find("packet length too long") != std::string::npos)
            return "TLS: the broker does not speak TLS on port " + std::to_string(config_.broker.port) + " (" +
                   tlsError_ + ")";
        return "TLS: " + tlsError_;
    }
    return "TLS: the handshake failed";
}

void MosquittoTransport::disconnect() {
    const bool wasUp = up_;
    active_ = false;
    up_ = false;
    using Clock = std::chrono::steady_clock;
    if (wasUp) turnUntil(Clock::now() + kAckWait, [this] { return unacked_.empty(); });
    // The broker sends the will for a session that ends without a DISCONNECT; the
    // library closes the socket once the packet is out.
    mosquitto_disconnect_v5(mosq_, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
    if (wasUp) turnUntil(Clock::now() + kWriteWait, [] { return false; });
    unacked_.clear();
    // Whatever came meanwhile belongs to the connection that is over.
    events_.clear();
    syncWatch();
}

// Turns the client's loop here, waiting on the socket, without the event loop: the
// caller may be on its way out. Ends once the socket is closed.
void MosquittoTransport::turnUntil(std::chrono::steady_clock::time_point until, const std::function<bool()>& done) {
    while (mosquitto_socket(mosq_) >= 0 && !done()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
        if (left <= 0) return;
        const int rc = mosquitto_loop(mosq_, static_cast<int>(std::min<long long>(left, kGoodbyeTurnMs)), 1);
        if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) return;
    }
}

bool MosquittoTransport::publish(const std::string& topic, const std::string& payload, int qos, bool retain) {
    if (!up_) return false;
    int mid = 0;
    const int rc =
        mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos, retain);
    // The acknowledgement comes in a later turn of the client's loop, never inside this call.
    if (rc == MOSQ_ERR_SUCCESS && qos > 0) unacked_.insert(mid);
    syncWatch();
    return rc == MOSQ_ERR_SUCCESS;
}

bool MosquittoTransport::subscribe(const std::string& filter, int qos, Retained retained) {
    if (!up_) return false;
    const int rc =
        v5_ && retained == Retained::AsPublished
            ? mosquitto_subscribe_v5(mosq_, nullptr, filter.c_str(), qos, MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr)
            : mosquitto_subscribe(mosq_, nullptr, filter.c_str(), qos);
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
        hookVerify();
        const std::size_t before = events_.size();
        const int rc = mosquitto_loop(mosq_, 0, 1);
        if (fallBack_) {
            v5_ = false;
            if (auto err = start()) {
                active_ = up_ = false;
                events_.push_back({Event::Kind::Disconnected, *err, {}});
            }
            break;
        }
        if (mosquitto_socket(mosq_) < 0) {
            // A failed TLS handshake closes the socket without a disconnect callback.
            if (active_ && rc != MOSQ_ERR_SUCCESS) {
                active_ = up_ = false;
                events_.push_back({Event::Kind::Disconnected, failure(rc), {}});
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
    if (t->v5_ && (rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION || rc == CONNACK_REFUSED_PROTOCOL_VERSION)) {
        // A 3.1.1 broker: the attempt goes on in its protocol once the library is out of its loop.
        t->fallBack_ = true;
        t->active_ = false;
        mosquitto_disconnect(t->mosq_);
        return;
    }
    // Refused by the broker (credentials, client id): the attempt is over.
    t->active_ = false;
    t->up_ = false;
    t->events_.push_back(
        {Event::Kind::Disconnected, t->v5_ ? mosquitto_reason_string(rc) : mosquitto_connack_string(rc), {}});
    mosquitto_disconnect(t->mosq_);
}

void MosquittoTransport::disconnectCallback(mosquitto*, void* self, int rc) {
    auto* t = static_cast<MosquittoTransport*>(self);
    if (!t->active_) return;
    t->active_ = false;
    t->up_ = false;
    t->events_.push_back({Event::Kind::Disconnected, rc == 0 ? "closed" : t->failure(rc), {}});
}

void MosquittoTransport::publishCallback(mosquitto*, void* self, int mid) {
    static_cast<MosquittoTransport*>(self)->unacked_.erase(mid);
}

void MosquittoTransport::logCallback(mosquitto*, void* self, int level, const char* text) {
    auto* t = static_cast<MosquittoTransport*>(self);
    if (level != MOSQ_LOG_ERR || !text) return;
    const std::string_view line(text);
    if (line.find("host name verification failed") != std::string_view::npos) {
        t->nameMismatch_ = true;
    } else if (line.starts_with("OpenSSL Error")) {
        // "OpenSSL Error[0]: error:0A000086:SSL routines::certificate verify failed": the reason is the last part.
        const auto colon = line.rfind(':');
        t->tlsError_ = std::string(colon == std::string_view::npos ? line : line.substr(colon + 1));
    }
}

int MosquittoTransport::verifyChain(x509_store_ctx_st* store, void* self) {
    auto* t = static_cast<MosquittoTransport*>(self);
    const int ok = X509_verify_cert(store);
    if (ok <= 0) {
        t->verifyError_ = X509_STORE_CTX_get_error(store);
        const X509* cert = X509_STORE_CTX_get_current_cert(store);
        if (cert && t->verifyError_ == X509_V_ERR_CERT_HAS_EXPIRED)
            t->certificateDate_ = dateOf(X509_get0_notAfter(cert));
        if (cert && t->verifyError_ == X509_V_ERR_CERT_NOT_YET_VALID)
            t->certificateDate_ = dateOf(X509_get0_notBefore(cert));
    }
    return ok;
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
