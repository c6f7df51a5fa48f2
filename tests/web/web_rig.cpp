#include "web_rig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QWebSocket>

namespace varnel::test {

void ensureQtApp() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "web_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

bool spinUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void spin(int ms) {
    spinUntil([] { return false; }, ms);
}

std::string HttpReply::header(const QByteArray& name) const {
    for (const auto& [k, v] : headers)
        if (k.compare(name, Qt::CaseInsensitive) == 0) return v.toStdString();
    return {};
}

LiveClient::~LiveClient() {
    if (socket) socket->abort();
}

std::optional<nlohmann::json> LiveClient::last(const std::string& type) const {
    for (auto it = messages.rbegin(); it != messages.rend(); ++it)
        if ((*it)["type"] == type) return *it;
    return std::nullopt;
}

WebRig::WebRig(web::ServerOptions options, bool mirror) {
    ensureQtApp();
    c.start();
    if (mirror) {
        c.ok("mirror vars 0-3");
        c.ok("mirror points 1 0-15");  // SECU16: inputs 0-7, outputs 8-15
        c.ok("mirror points 3 0-1");   // RELAY-08
        c.rig.run(1500);               // the first I/O comparison gives the points their states
    }
    options.bind.host = "127.0.0.1";
    options.bind.port = 0;
    options.clockMs = [this] { return clockMs; };
    server = std::make_unique<web::WebServer>(
        std::move(options), *c.rig.plugin, *c.rig.host, c.console, log,
        web::LiveInfo{.version = "9.9", .http = "http://127.0.0.1:8099/", .mqtt = {}, .clock = [this] {
                          return c.rig.loop.wallClock();
                      }});
    const auto err = server->start();
    EXPECT_FALSE(err) << *err;
}

WebRig::~WebRig() { server.reset(); }

QString WebRig::origin() const { return "http://127.0.0.1:" + QString::number(server->port()); }

HttpReply WebRig::raw(const QByteArray& request, int ms) {
    QTcpSocket s;
    s.connectToHost("127.0.0.1", server->port());
    HttpReply out;
    if (!spinUntil([&] { return s.state() == QAbstractSocket::ConnectedState; }, ms)) return out;
    s.write(request);
    QByteArray got;
    auto whole = [&] {
        const auto end = got.indexOf("\r\n\r\n");
        if (end < 0) return false;
        const auto lenAt = got.toLower().indexOf("content-length: ");
        if (lenAt < 0 || lenAt > end) return true;
        const auto len = got.mid(lenAt + 16, got.indexOf("\r\n", lenAt) - lenAt - 16).toLongLong();
        return got.size() >= end + 4 + len;
    };
    spinUntil(
        [&] {
            got += s.readAll();
            return whole() || s.state() == QAbstractSocket::UnconnectedState;
        },
        ms);
    got += s.readAll();
    const auto end = got.indexOf("\r\n\r\n");
    if (end < 0) return out;
    const QList<QByteArray> lines = got.left(end).split('\n');
    out.status = lines.front().split(' ').value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const auto colon = line.indexOf(':');
        if (colon > 0) out.headers.emplace_back(line.left(colon), line.mid(colon + 1).trimmed());
    }
    out.body = got.mid(end + 4);
    return out;
}

HttpReply WebRig::request(const std::string& method, const std::string& path, const std::string& body,
                          const std::string& extra) {
    std::string r = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server->port()) +
                    "\r\nConnection: close\r\n" + extra;
    if (method == "POST")
        r += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    r += "\r\n" + body;
    return raw(QByteArray::fromStdString(r));
}

std::string WebRig::csrfHeader(const std::string& csrf) {
    std::string token = csrf;
    if (token.empty()) token = get("/api/session").json()["csrf"].get<std::string>();
    return "X-CSRF-Token: " + token + "\r\n";
}

std::unique_ptr<LiveClient> WebRig::live(const QString& origin, const QByteArray& cookie, const std::string& path) {
    auto client = std::make_unique<LiveClient>();
    client->socket = std::make_unique<QWebSocket>(origin);
    LiveClient* cl = client.get();
    QObject::connect(cl->socket.get(), &QWebSocket::textMessageReceived, [cl](const QString& text) {
        cl->messages.push_back(nlohmann::json::parse(text.toStdString(), nullptr, false));
    });
    QObject::connect(cl->socket.get(), &QWebSocket::disconnected, [cl] { cl->closed = true; });
    QNetworkRequest req(QUrl("ws://127.0.0.1:" + QString::number(server->port()) + QString::fromStdString(path)));
    if (!cookie.isEmpty()) req.setRawHeader("Cookie", cookie);
    cl->socket->open(req);
    spinUntil([cl] { return !cl->messages.empty() || cl->closed; });
    return client;
}

}  // namespace varnel::test
