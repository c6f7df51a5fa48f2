#pragma once
// The HTTP bytes the page's server writes itself, and the listening socket that bounds
// what a client may send before its request is whole. Responses are written straight
// to the connection so that one can be sent later (a console line that waited for the
// controller) to a connection that may have gone meanwhile.
#include <QByteArray>
#include <QTcpServer>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class QTcpSocket;

namespace varnel::web {

// Request bodies above this are refused with 413.
inline constexpr qsizetype kMaxBodyBytes = qsizetype{64} * 1024;
// A connection that sends more than this without a whole request is cut off; it
// leaves room for the headers of a request with the largest body.
inline constexpr qint64 kMaxRequestBytes = kMaxBodyBytes + qint64{16} * 1024;

using Headers = std::vector<std::pair<QByteArray, QByteArray>>;

struct Response {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    Headers headers;
};

// Writes `r` with its length and the headers every answer carries.
void writeResponse(QTcpSocket& socket, const Response& r);

// The value of cookie `name` in a Cookie header.
[[nodiscard]] std::optional<std::string> cookieValue(std::string_view header, std::string_view name);

// Accepts connections and cuts off one whose request grows past kMaxRequestBytes,
// answering 413 first. The HTTP server reads from the sockets it hands out.
class BoundedTcpServer : public QTcpServer {
public:
    using QTcpServer::QTcpServer;
    // A request on `socket` was whole: its count starts again.
    static void requestDone(QTcpSocket& socket);

protected:
    void incomingConnection(qintptr descriptor) override;
};

}  // namespace varnel::web
