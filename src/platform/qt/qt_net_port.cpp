#include "platform/qt/qt_net_port.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QMetaObject>
#include <QNetworkProxy>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

namespace varnel {

namespace {

// While a name lookup runs beside the loop, the loop looks at it this often.
constexpr int kLookupSliceMs = 10;
// Sent but not yet taken by the far end: a far end that stopped reading.
constexpr qint64 kMaxUnsent = qint64{64} * 1024;

// A port text that is no endpoint, fit for a log line.
std::string shown(const std::string& text) {
    constexpr std::size_t kMax = 64;
    std::string out;
    for (const char c : text.substr(0, kMax)) out += c >= 0x20 && c < 0x7F ? c : '?';
    return text.size() > kMax ? out + "..." : out;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return s;
}

// getaddrinfo blocks, so it runs on a thread of its own; the loop goes on and
// looks at the result. A lookup given up on finishes alone and is dropped.
struct Lookup {
    std::mutex mutex;
    bool done = false;
    int code = 0;
    int systemError = 0;  // errno belongs to the thread that met it
    std::vector<QHostAddress> addresses;
};

std::shared_ptr<Lookup> startLookup(const std::string& host) {
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int code = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
        const int systemError = errno;
        std::vector<QHostAddress> addresses;
        for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
            const QHostAddress address(a->ai_addr);
            if (!address.isNull() && std::find(addresses.begin(), addresses.end(), address) == addresses.end())
                addresses.push_back(address);
        }
        if (found != nullptr) ::freeaddrinfo(found);
        const std::lock_guard lock(lookup->mutex);
        lookup->code = code;
        lookup->systemError = systemError;
        lookup->addresses = std::move(addresses);
        lookup->done = true;
    }).detach();
    return lookup;
}

}  // namespace

std::string socketErrorText(QAbstractSocket::SocketError error, const QString& qtText) {
    const std::string text = lower(qtText.toStdString());
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError: return "connection refused";
        case QAbstractSocket::RemoteHostClosedError: return "the far end closed the connection";
        case QAbstractSocket::HostNotFoundError: return "host name not found";
        case QAbstractSocket::SocketTimeoutError: return "timed out";
        case QAbstractSocket::NetworkError:
            // Qt puts several system errors under this one code; its text tells which.
            if (text.find("host unreachable") != std::string::npos) return "no route to host";
            if (text.find("network unreachable") != std::string::npos) return "network unreachable";
            if (text.find("timed out") != std::string::npos) return "no answer from the far end (timed out)";
            if (text.find("reset") != std::string::npos) return "connection reset by the far end";
            return text.empty() ? "network error" : text;
        default: return text.empty() ? "socket error " + std::to_string(static_cast<int>(error)) : text;
    }
}

std::string lookupErrorText(int code, int systemError) {
    switch (code) {
        case EAI_NONAME:
#ifdef EAI_NODATA
        case EAI_NODATA:
#endif
            return "host name not found";
        case EAI_AGAIN: return "host name not found for now (no name server answered)";
        case EAI_SYSTEM: return "host name lookup failed (" + lower(std::strerror(systemError)) + ")";
        default: return "host name lookup failed (" + lower(::gai_strerror(code)) + ")";
    }
}

QtNetPort::QtNetPort(EventLoop& loop, NetTiming timing) : loop_(loop), timing_(timing) {
    QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] { readSocket(); });
    QObject::connect(&socket_, &QTcpSocket::errorOccurred, &socket_,
                     [this](QAbstractSocket::SocketError e) { socketFailed(e); });
    QObject::connect(&socket_, &QTcpSocket::disconnected, &socket_, [this] {
        if (open_) lost("the far end closed the connection");
    });
}

QtNetPort::~QtNetPort() {
    QObject::disconnect(&socket_, nullptr, nullptr, nullptr);
    socket_.abort();
}

std::int64_t QtNetPort::remainingMs(std::int64_t deadline) const {
    return std::max<std::int64_t>(deadline - loop_.tickMs(), 0);
}

std::optional<std::string> QtNetPort::open(const std::string& device) {
    if (open_ || opening_) return endpoint() + " is already open";
    close();
    const auto parsed = net::parseEndpoint(device);
    if (const auto* bad = std::get_if<std::string>(&parsed)) return "Port " + shown(device) + ": " + *bad;
    endpoint_ = std::get<net::Endpoint>(parsed);
    ++connection_;
    const std::string name = endpoint_->text();
    cancelled_ = false;
    opening_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{opening_};

    const std::int64_t deadline = loop_.tickMs() + timing_.connectMs;
    std::vector<QHostAddress> addresses;
    if (auto why = resolve(deadline, addresses)) return name + ": " + *why;
    std::string why = "no address";
    bool connected = false;
    for (const auto& address : addresses) {
        const auto failed = connectTo(address, deadline);
        if (!failed) {
            connected = true;
            break;
        }
        why = *failed;
        if (cancelled_ || remainingMs(deadline) == 0) break;
    }
    if (!connected) return name + ": " + why;
    tuneSocket();
    if (endpoint_->scheme == net::Scheme::Rfc2217) {
        if (auto refused = negotiate()) {
            socket_.abort();
            telnet_.reset();
            return name + ": " + *refused;
        }
    }
    // Bytes from before the line was ours (another baud rate, a previous client) are not the controller's.
    rx_.clear();
    open_ = true;
    return std::nullopt;
}

std::optional<std::string> QtNetPort::resolve(std::int64_t deadline, std::vector<QHostAddress>& addresses) {
    const QString host = QString::fromStdString(endpoint_->host);
    if (QHostAddress literal; literal.setAddress(host)) {
        addresses.push_back(literal);
        return std::nullopt;
    }
    // Looked up at every open, past Qt's cache: a serial server that changed address is found at the next try.
    const auto lookup = startLookup(endpoint_->host);
    const auto finished = [&] {
        const std::lock_guard lock(lookup->mutex);
        return lookup->done;
    };
    while (!finished() && !cancelled_ && remainingMs(deadline) > 0)
        loop_.waitUntil(static_cast<int>(std::min<std::int64_t>(kLookupSliceMs, remainingMs(deadline))), finished);
    if (cancelled_) return std::string("the run is ending");
    const std::lock_guard lock(lookup->mutex);
    if (!lookup->done)
        return "host name not found within " + std::to_string(timing_.connectMs / 1000) +
               " s (no name server answered)";
    if (lookup->code != 0) return lookupErrorText(lookup->code, lookup->systemError);
    if (lookup->addresses.empty()) return std::string("host name not found");
    addresses = lookup->addresses;
    return std::nullopt;
}

std::optional<std::string> QtNetPort::connectTo(const QHostAddress& address, std::int64_t deadline) {
    failure_.clear();
    socket_.abort();
    // A serial server is reached directly, whatever proxy the environment names.
    socket_.setProxy(QNetworkProxy::NoProxy);
    socket_.connectToHost(address, endpoint_->port);
    const auto settled = [this] {
        return cancelled_ || !failure_.empty() || socket_.state() == QAbstractSocket::ConnectedState ||
               socket_.state() == QAbstractSocket::UnconnectedState;
    };
    loop_.waitUntil(static_cast<int>(remainingMs(deadline)), settled);
    if (socket_.state() == QAbstractSocket::ConnectedState && !cancelled_) return std::nullopt;
    socket_.abort();
    if (cancelled_) return std::string("the run is ending");
    if (!failure_.empty()) return failure_;
    return "no answer within " + std::to_string(timing_.connectMs / 1000) + " s (connect timed out)";
}

void QtNetPort::tuneSocket() {
    // Frames go out as they are written, not held back to fill a segment.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const auto fd = static_cast<int>(socket_.socketDescriptor());
    if (fd < 0) return;
    // Qt switches keepalive on but leaves its timing at the system's two hours.
    const int idle = timing_.keepIdleS;
    const int interval = timing_.keepIntervalS;
    const int count = timing_.keepCount;
    const unsigned unacked = static_cast<unsigned>(timing_.unackedMs);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacked, sizeof unacked);
}

std::optional<std::string> QtNetPort::negotiate() {
    using Line = net::telnet::Session::Line;
    telnet_.emplace();
    sendNow(telnet_->start());
    // What the far end sent along with the connection is read now, not at the next arrival.
    readSocket();
    const auto settled = [this] {
        return cancelled_ || !failure_.empty() || socket_.state() != QAbstractSocket::ConnectedState ||
               telnet_->line() != Line::Waiting;
    };
    loop_.waitUntil(timing_.settingsMs, settled);
    if (cancelled_) return std::string("the run is ending");
    if (telnet_->line() == Line::Refused) return "the far end refused to set 9600 8N1 (" + telnet_->refusal() + ")";
    if (telnet_->line() == Line::Set) return std::nullopt;
    if (!failure_.empty()) return failure_;
    if (socket_.state() != QAbstractSocket::ConnectedState) return std::string("the far end closed the connection");
    return "the far end did not confirm 9600 8N1 within " + std::to_string(timing_.settingsMs / 1000) +
           " s (is it a telnet port with RFC 2217, not a raw one?)";
}

void QtNetPort::close() {
    open_ = false;
    cancelled_ = opening_;  // an open waiting inside a handler that closes the port gives up
    socket_.abort();
    telnet_.reset();
    rx_.clear();
    failure_.clear();
}

std::string QtNetPort::peer() const {
    if (!open_) return {};
    const QHostAddress a = socket_.peerAddress();
    const std::string host = a.protocol() == QAbstractSocket::IPv6Protocol ? "[" + a.toString().toStdString() + "]"
                                                                           : a.toString().toStdString();
    return host + ":" + std::to_string(socket_.peerPort());
}

void QtNetPort::sendNow(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty() || socket_.state() != QAbstractSocket::ConnectedState) return;
    socket_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    socket_.flush();
}

bool QtNetPort::write(std::span<const std::uint8_t> bytes) {
    if (!open_) return false;
    std::vector<std::uint8_t> wire;
    if (telnet_)
        telnet_->encode(bytes, wire);
    else
        wire.assign(bytes.begin(), bytes.end());
    // One write, one segment: the frame leaves whole.
    const qint64 n = socket_.write(reinterpret_cast<const char*>(wire.data()), static_cast<qint64>(wire.size()));
    if (n != static_cast<qint64>(wire.size())) return false;
    socket_.flush();
    if (socket_.bytesToWrite() > kMaxUnsent) {
        // Said from the loop: the writer is in the middle of a command.
        QMetaObject::invokeMethod(
            &socket_,
            [this, connection = connection_] {
                if (connection == connection_)
                    lost("the far end takes nothing more (" + std::to_string(kMaxUnsent / 1024) + " KiB unsent)");
            },
            Qt::QueuedConnection);
        return false;
    }
    return true;
}

std::optional<std::uint8_t> QtNetPort::readByte() {
    if (rx_.empty()) return std::nullopt;
    const auto b = rx_.front();
    rx_.pop_front();
    return b;
}

std::optional<std::uint8_t> QtNetPort::peekByte() {
    if (rx_.empty()) return std::nullopt;
    return rx_.front();
}

void QtNetPort::readSocket() {
    if (!open_ && !opening_) return;
    bool arrived = false;
    std::vector<std::string> notes;
    while (socket_.bytesAvailable() > 0) {
        const QByteArray chunk = socket_.read(4096);
        if (chunk.isEmpty()) break;
        const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(chunk.constData()),
                                                  static_cast<std::size_t>(chunk.size()));
        if (telnet_) {
            net::telnet::Session::Output out;
            telnet_->feed(bytes, out);
            sendNow(out.reply);
            rx_.insert(rx_.end(), out.data.begin(), out.data.end());
            arrived = arrived || !out.data.empty();
            for (auto& note : out.notes) notes.push_back(std::move(note));
        } else {
            rx_.insert(rx_.end(), bytes.begin(), bytes.end());
            arrived = true;
        }
        if (rx_.size() > kMaxWaiting) {
            if (opening_) {
                rx_.clear();  // dropped at the end of the open anyway
            } else {
                lost("more than " + std::to_string(kMaxWaiting / 1024) + " KiB came unread from the far end");
                return;
            }
        }
    }
    for (const auto& note : notes)
        if (auto fn = onNotice) fn(endpoint() + ": " + note);
    // The receive event runs from the loop, not inside Qt's signal: a handler that
    // waits there would never hear of the bytes that come meanwhile.
    if (arrived && open_ && !std::exchange(dataEventQueued_, true)) {
        QMetaObject::invokeMethod(
            &socket_,
            [this] {
                dataEventQueued_ = false;
                if (open_)
                    if (auto fn = onDataReceived) fn();
            },
            Qt::QueuedConnection);
    }
}

void QtNetPort::socketFailed(QAbstractSocket::SocketError error) {
    const std::string why = socketErrorText(error, socket_.errorString());
    if (opening_) {
        if (failure_.empty()) failure_ = why;
        return;
    }
    if (open_) lost(why);
}

void QtNetPort::lost(const std::string& why) {
    if (!open_) return;
    const std::string text = endpoint() + ": " + why;
    open_ = false;
    socket_.abort();
    telnet_.reset();
    rx_.clear();
    if (auto fn = onError) fn(text);
}

}  // namespace varnel
