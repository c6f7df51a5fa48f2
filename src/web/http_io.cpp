#include "web/http_io.h"

#include <QTcpSocket>

namespace varnel::web {

namespace {

constexpr const char* kReceivedProperty = "varnelReceived";

QByteArray reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 204: return "No Content";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 413: return "Content Too Large";
        case 426: return "Upgrade Required";
        case 429: return "Too Many Requests";
        case 503: return "Service Unavailable";
        default: return "Error";
    }
}

}  // namespace

void writeResponse(QTcpSocket& socket, const Response& r) {
    if (socket.state() != QAbstractSocket::ConnectedState) return;
    QByteArray out = "HTTP/1.1 " + QByteArray::number(r.status) + " " + reason(r.status) + "\r\n";
    if (r.status != 204) {
        out += "Content-Type: " + r.contentType + "\r\n";
        out += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
    }
    out += "X-Content-Type-Options: nosniff\r\n";
    out += "X-Frame-Options: DENY\r\n";
    out += "Referrer-Policy: no-referrer\r\n";
    for (const auto& [name, value] : r.headers) out += name + ": " + value + "\r\n";
    out += "\r\n";
    if (r.status != 204) out += r.body;
    socket.write(out);
}

std::optional<std::string> cookieValue(std::string_view header, std::string_view name) {
    while (!header.empty()) {
        const auto end = header.find(';');
        std::string_view part = header.substr(0, end);
        header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
        while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
        while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
        const auto eq = part.find('=');
        if (eq != std::string_view::npos && part.substr(0, eq) == name) return std::string(part.substr(eq + 1));
    }
    return std::nullopt;
}

void BoundedTcpServer::requestDone(QTcpSocket& socket) { socket.setProperty(kReceivedProperty, qint64{0}); }

void BoundedTcpServer::incomingConnection(qintptr descriptor) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    // Connected before the HTTP server's own reader, so it sees each chunk before that
    // reader takes it in: what is still available is what just arrived.
    connect(socket, &QTcpSocket::readyRead, socket, [socket] {
        if (socket->property("varnelRefused").toBool()) {
            socket->abort();
            return;
        }
        const qint64 received = socket->property(kReceivedProperty).toLongLong() + socket->bytesAvailable();
        socket->setProperty(kReceivedProperty, received);
        if (received <= kMaxRequestBytes) return;
        socket->setProperty("varnelRefused", true);
        writeResponse(*socket, {.status = 413,
                                .contentType = "application/json",
                                .body = R"({"error":"the request is too large"})",
                                .headers = {{"Connection", "close"}}});
        socket->disconnectFromHost();
    });
    addPendingConnection(socket);
}

}  // namespace varnel::web
