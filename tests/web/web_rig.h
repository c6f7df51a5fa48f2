#pragma once
// The web page's server over the plug-in, the simulator and the embedded host on
// virtual time (the console rig), listening on an ephemeral loopback port, with
// HTTP and WebSocket clients that wait on the Qt event loop.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console_rig.h"
#include "web/log_book.h"
#include "web/web_server.h"

class QWebSocket;

namespace varnel::test {

// A QCoreApplication for the sockets, made once for the whole test program.
void ensureQtApp();
// Runs the Qt event loop until `done` holds or `ms` have passed; false on the time-out.
bool spinUntil(const std::function<bool()>& done, int ms = 5000);
// Runs the Qt event loop for `ms`.
void spin(int ms);

struct HttpReply {
    int status = 0;  // 0: no answer (closed or timed out)
    QByteArray body;
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    [[nodiscard]] nlohmann::json json() const { return nlohmann::json::parse(body.toStdString(), nullptr, false); }
    [[nodiscard]] std::string header(const QByteArray& name) const;
};

// A live-socket client that keeps every text message.
struct LiveClient {
    std::unique_ptr<QWebSocket> socket;
    std::vector<nlohmann::json> messages;
    bool closed = false;
    ~LiveClient();
    // The last message of `type`, if any came.
    [[nodiscard]] std::optional<nlohmann::json> last(const std::string& type) const;
};

struct WebRig {
    // Starts the plug-in, mirrors variables 0-3, unit 1 and two points of unit 3, and
    // the server on 127.0.0.1 with an ephemeral port.
    explicit WebRig(web::ServerOptions options = {}, bool mirror = true);
    ~WebRig();

    // Raw HTTP: `request` is sent as it is; the answer is read until the connection
    // closes or one whole response came.
    HttpReply raw(const QByteArray& request, int ms = 5000);
    // A request with the usual headers; `extra` lines end in "\r\n".
    HttpReply request(const std::string& method, const std::string& path, const std::string& body = {},
                      const std::string& extra = {});
    HttpReply get(const std::string& path, const std::string& extra = {}) { return request("GET", path, {}, extra); }
    HttpReply post(const std::string& path, const nlohmann::json& body, const std::string& extra = {}) {
        return request("POST", path, body.dump(), extra);
    }
    // The CSRF header of a page without a password (or of `csrf`).
    [[nodiscard]] std::string csrfHeader(const std::string& csrf = {});

    std::unique_ptr<LiveClient> live(const QString& origin, const QByteArray& cookie = {},
                                     const std::string& path = "/api/live");
    [[nodiscard]] QString origin() const;

    std::int64_t clockMs = 1'000'000;  // the server's steady clock
    ConsoleRig c;
    web::LogBook log;
    std::unique_ptr<web::WebServer> server;
};

}  // namespace varnel::test
