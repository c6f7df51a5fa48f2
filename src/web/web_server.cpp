#include "web/web_server.h"

#include <QAbstractHttpServer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QNetworkRequest>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QWebSocket>
#include <map>

#include "console/command.h"
#include "host/embedded_host.h"
#include "support/escape.h"
#include "web/command_runner.h"
#include "web/config_endpoint.h"
#include "web/history_routes.h"
#include "web/http_io.h"
#include "web/live_queue.h"
#include "web/log_book.h"
#include "web/password.h"
#include "web/sessions.h"

namespace varnel::web {

namespace {

using nlohmann::json;

constexpr const char* kCookie = "varnel_session";
constexpr std::size_t kMaxUserBytes = 100;
constexpr const char* kIngressOnly = "only Home Assistant's ingress may use this port";
constexpr const char* kLivePath = "/api/live";
constexpr std::size_t kDefaultLogLines = 200;
constexpr int kCommandPumpMs = 2;
constexpr int kCloseGraceMs = 2000;
// A browser sends nothing on the live socket; anything large is not from the page.
constexpr quint64 kMaxIncomingMessage = 4096;

const QByteArray kPagePolicy = "default-src 'self'; connect-src 'self' ws: wss:";

Response jsonResponse(int status, const json& body) {
    return {.status = status,
            .contentType = "application/json",
            .body = QByteArray::fromStdString(dumpJson(body)),
            .headers = {}};
}
Response error(int status, const std::string& text) { return jsonResponse(status, {{"error", text}}); }

std::string header(const QHttpServerRequest& r, const char* name) { return r.value(name).toStdString(); }

struct Asset {
    QByteArray body, type;
};

// Every file of the page built in below ":/web/", at its path below "/".
std::map<QString, Asset> loadAssets() {
    static constexpr std::pair<const char*, const char*> kTypes[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".svg", "image/svg+xml"},
    };
    std::map<QString, Asset> out;
    const QString root = QStringLiteral(":/web/");
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString name = file.mid(root.size());
        Asset asset{.body = {}, .type = "application/octet-stream"};
        for (const auto& [ending, type] : kTypes)
            if (name.endsWith(QLatin1String(ending))) asset.type = type;
        QFile f(file);
        if (f.open(QIODevice::ReadOnly)) asset.body = f.readAll();
        out.emplace(QStringLiteral("/") + name, std::move(asset));
    }
    // The page has one address, "/", so that every path it asks for is relative to it.
    auto page = out.extract(QStringLiteral("/index.html"));
    out.emplace(QStringLiteral("/"), page.empty() ? Asset{} : std::move(page.mapped()));
    // Browsers ask for it whatever the page links: the same picture, its type told.
    if (const auto icon = out.find(QStringLiteral("/favicon.svg")); icon != out.end())
        out.emplace(QStringLiteral("/favicon.ico"), icon->second);
    return out;
}

// The host name a request was sent to, without the port.
QString requestHost(const QByteArray& hostHeader) {
    const QUrl url(QStringLiteral("http://") + QString::fromLatin1(hostHeader));
    return url.isValid() ? url.host() : QString();
}

bool loopbackName(const QString& host) {
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || QHostAddress(host).isLoopback();
}

std::int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

struct WebServer::Impl {
    class Front final : public QAbstractHttpServer {
    public:
        explicit Front(Impl& impl) : impl_(impl) {}

    protected:
        bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
            BoundedTcpServer::requestDone(*socket);
            // A WebSocket upgrade left unhandled here is what the server upgrades, so the
            // checks answer in plain HTTP before it happens.
            if (request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0)
                return !impl_.refuseUpgrade(request, *socket);
            impl_.handle(request, *socket);
            return true;
        }
        void missingHandler(const QHttpServerRequest& /*request*/, QTcpSocket* /*socket*/) override {}

    private:
        Impl& impl_;
    };

    struct Client {
        std::unique_ptr<QWebSocket> socket;
        LiveQueue queue;
        std::string session;
    };

    // Who is asking, once the request may go on.
    struct Caller {
        std::string session;  // empty without a password
        std::string csrf;
    };

    Impl(ServerOptions o, HSPI& plugin, EmbeddedHost& host, console::Console& console, LogBook& log, LiveInfo info)
        : options(std::move(o)),
          host(host),
          log(log),
          live(plugin, host, std::move(info)),
          runner(console, [this] { return now(); }),
          front(*this) {
        if (!options.clockMs) options.clockMs = steadyMs;
        openCsrf = randomToken();
        pumpTimer.setInterval(kCommandPumpMs);
        QObject::connect(&pumpTimer, &QTimer::timeout, &pumpTimer, [this] {
            runner.pump();
            if (runner.waiting() == 0) pumpTimer.stop();
        });
        overviewTimer.setInterval(options.overviewMs);
        QObject::connect(&overviewTimer, &QTimer::timeout, &overviewTimer, [this] { overviewTick(); });
        // The sockets are written once the event that made the messages has been handled
        // everywhere else: the MQTT bridge and the controller's line never wait for browsers.
        flushTimer.setSingleShot(true);
        flushTimer.setInterval(0);
        QObject::connect(&flushTimer, &QTimer::timeout, &flushTimer, [this] {
            std::vector<QWebSocket*> all;
            all.reserve(clients.size());
            for (auto& [ws, _] : clients) all.push_back(ws);
            for (auto* ws : all) flush(ws);
        });
        abandonTimer.setSingleShot(true);
        abandonTimer.setInterval(options.abandonMs);
        QObject::connect(&abandonTimer, &QTimer::timeout, &abandonTimer, [this] {
            if (clients.empty() && config && !config->abandon(options.abandonMs)) abandonTimer.start();
        });
        QObject::connect(&front, &QAbstractHttpServer::newWebSocketConnection, &front, [this] { acceptSockets(); });
        events = host.subscribe([this](const host::HostEvent& e) {
            for (auto& m : live.hostEvent(e)) broadcast(m);
        });
        log.onLine = [this](const LogLine& line) {
            broadcast({.key = {}, .text = dumpJson({{"type", "log"}, {"line", LogBook::toJson(line)}})});
        };
    }

    ~Impl() {
        log.onLine = nullptr;
        events.reset();
        runner.refuseAll();
        const auto all = std::move(clients);
        clients.clear();
        for (const auto& [ws, c] : all) {
            QObject::disconnect(ws, nullptr, &front, nullptr);
            ws->abort();
        }
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    [[nodiscard]] std::int64_t now() const { return options.clockMs ? options.clockMs() : steadyMs(); }
    [[nodiscard]] bool passwordAuth() const { return options.passwordHash.has_value(); }

    // ---- HTTP

    // Nothing when the request may go on as `caller`; the refusal otherwise.
    std::optional<Response> admit(const QHttpServerRequest& r, bool change, Caller& caller) {
        if (!passwordAuth()) {
            caller.csrf = openCsrf;
        } else {
            const auto token = cookieValue(header(r, "Cookie"), kCookie);
            const auto session = token ? sessions.use(*token, now()) : std::nullopt;
            if (!session) return error(401, "log in first");
            caller.session = *token;
            caller.csrf = session->csrf;
        }
        if (change && header(r, "X-CSRF-Token") != caller.csrf) return error(403, "missing or wrong CSRF token");
        return std::nullopt;
    }

    [[nodiscard]] bool peerAllowed(const QHttpServerRequest& r) const {
        if (!options.trustedPeer) return true;
        return r.remoteAddress().isEqual(QHostAddress(QString::fromStdString(*options.trustedPeer)),
                                         QHostAddress::TolerantConversion);
    }

    // Who Home Assistant says is logged in; empty unless the ingress asks.
    [[nodiscard]] std::string user(const QHttpServerRequest& r) const {
        if (!options.trustedPeer) return {};
        return escaped(QString::fromUtf8(r.value("X-Remote-User-Display-Name")).trimmed().toStdString(), kMaxUserBytes);
    }

    // A loopback page answers only to a loopback name: a site that rebinds its own name
    // to 127.0.0.1 would otherwise read the page as its own.
    [[nodiscard]] bool hostAllowed(const QHttpServerRequest& r) const {
        if (options.trustedPeer || passwordAuth() || !options.bind.loopback()) return true;
        return loopbackName(requestHost(r.value("Host")));
    }

    void handle(const QHttpServerRequest& r, QTcpSocket& socket) {
        const bool close = r.value("Connection").toLower() == "close";
        auto reply = [&socket, close](Response resp) {
            if (close) resp.headers.emplace_back("Connection", "close");
            writeResponse(socket, resp);
            if (close) socket.disconnectFromHost();
        };
        if (!peerAllowed(r)) return reply(error(403, kIngressOnly));
        if (!hostAllowed(r)) return reply(error(403, "unexpected Host header; open the page at " + url()));
        if (r.body().size() > kMaxBodyBytes) return reply(error(413, "the request is too large"));

        const QString path = r.url().path();
        const bool get = r.method() == QHttpServerRequest::Method::Get;
        const bool post = r.method() == QHttpServerRequest::Method::Post;
        if (const auto asset = assets.find(path); asset != assets.end()) {
            if (!get) return reply(error(405, "method not allowed"));
            if (asset->second.body.isEmpty()) return reply(error(404, "the page is not built in"));
            return reply({.status = 200,
                          .contentType = asset->second.type,
                          .body = asset->second.body,
                          .headers = {{"Cache-Control", "no-cache"}, {"Content-Security-Policy", kPagePolicy}}});
        }

        struct Route {
            const char* path;
            bool get, post;
        };
        static constexpr Route kRoutes[] = {
            {"/api/session", true, false}, {"/api/login", false, true},       {"/api/logout", false, true},
            {"/api/state", true, false},   {"/api/command", false, true},     {"/api/config", true, true},
            {"/api/log", true, false},     {kLivePath, true, false},          {"/api/history/series", true, false},
            {"/api/history", true, false}, {"/api/history.csv", true, false},
        };
        const Route* route = nullptr;
        for (const auto& rt : kRoutes)
            if (path == QLatin1String(rt.path)) route = &rt;
        if (!route) return reply(error(404, "no such page"));
        if (!((get && route->get) || (post && route->post))) return reply(error(405, "method not allowed"));

        if (path == QLatin1String("/api/session")) return reply(sessionInfo(r));
        if (path == QLatin1String("/api/login")) return reply(login(r));

        Caller caller;
        if (auto refused = admit(r, post, caller)) return reply(std::move(*refused));
        if (path == QLatin1String("/api/logout")) return reply(logout(caller));
        if (path == QLatin1String("/api/state")) return reply(jsonResponse(200, live.snapshot()));
        if (path == QLatin1String("/api/log")) return reply(logTail(r));
        if (path == QLatin1String("/api/config")) return reply(configRoute(r, post));
        if (path == QLatin1String(kLivePath)) return reply(error(426, "this is the live WebSocket"));
        if (path.startsWith(QLatin1String("/api/history"))) return reply(historyAnswer(r, path));
        command(r, socket, close);
    }

    // False when the upgrade may go ahead; otherwise the refusal is written.
    bool refuseUpgrade(const QHttpServerRequest& r, QTcpSocket& socket) {
        std::optional<Response> refusal;
        const QByteArray hostHeader = r.value("Host");
        const QByteArray origin = r.value("Origin");
        if (!peerAllowed(r)) {
            refusal = error(403, kIngressOnly);
        } else if (r.url().path() != QLatin1String(kLivePath)) {
            refusal = error(404, "no such page");
        } else if (!hostAllowed(r)) {
            refusal = error(403, "unexpected Host header; open the page at " + url());
        } else if (origin.isEmpty() || (origin != "http://" + hostHeader && origin != "https://" + hostHeader)) {
            refusal = error(403, "not from the page's own origin");
        } else if (passwordAuth()) {
            Caller caller;
            refusal = admit(r, false, caller);
        }
        if (!refusal) return false;
        refusal->headers.emplace_back("Connection", "close");
        writeResponse(socket, *refusal);
        socket.disconnectFromHost();
        return true;
    }

    Response sessionInfo(const QHttpServerRequest& r) {
        std::optional<std::string> csrf;
        if (!passwordAuth()) {
            csrf = openCsrf;
        } else if (const auto token = cookieValue(header(r, "Cookie"), kCookie)) {
            if (auto s = sessions.use(*token, now())) csrf = s->csrf;
        }
        json answer = {{"auth", passwordAuth()        ? "password"
                                : options.trustedPeer ? "ingress"
                                                      : "none"},
                       {"loggedIn", csrf.has_value()},
                       {"csrf", csrf ? json(*csrf) : json(nullptr)},
                       {"version", liveVersion}};
        if (const std::string who = user(r); !who.empty()) answer["user"] = who;
        return jsonResponse(200, answer);
    }

    Response login(const QHttpServerRequest& r) {
        if (!passwordAuth()) return jsonResponse(200, {{"csrf", openCsrf}});
        const std::string address = r.remoteAddress().toString().toStdString();
        if (auto wait = limiter.wait(address, now()))
            return error(429, "too many attempts; wait " + std::to_string(*wait) + " s");
        const json body = json::parse(r.body().toStdString(), nullptr, false);
        if (body.is_discarded() || !body.is_object()) return error(400, "the request is not a JSON object");
        const auto it = body.find("password");
        if (it == body.end() || !it->is_string()) return error(400, "password: needs a text");
        if (!passwordMatches(it->get<std::string>(), *options.passwordHash)) {
            limiter.failed(address, now());
            return error(401, "wrong password");
        }
        auto [token, session] = sessions.open(now());
        Response resp = jsonResponse(200, {{"csrf", session.csrf}});
        resp.headers.emplace_back("Set-Cookie", QByteArray(kCookie) + "=" + QByteArray::fromStdString(token) +
                                                    "; HttpOnly; SameSite=Strict; Path=/");
        return resp;
    }

    Response logout(const Caller& caller) {
        if (!caller.session.empty()) {
            sessions.close(caller.session);
            std::vector<QWebSocket*> gone;
            for (auto& [ws, c] : clients)
                if (c->session == caller.session) gone.push_back(ws);
            for (auto* ws : gone) drop(ws, QWebSocketProtocol::CloseCodePolicyViolated, "logged out");
        }
        return {.status = 204,
                .contentType = {},
                .body = {},
                .headers = {{"Set-Cookie", QByteArray(kCookie) + "=; HttpOnly; SameSite=Strict; Path=/; Max-Age=0"}}};
    }

    Response logTail(const QHttpServerRequest& r) {
        std::size_t n = kDefaultLogLines;
        const QUrlQuery query(r.url());
        if (query.hasQueryItem("lines")) {
            bool ok = false;
            const int v = query.queryItemValue("lines").toInt(&ok);
            if (!ok || v < 1 || static_cast<std::size_t>(v) > LogBook::kKept)
                return error(400, "lines: needs a number from 1 to " + std::to_string(LogBook::kKept));
            n = static_cast<std::size_t>(v);
        }
        return jsonResponse(200, {{"lines", log.tail(n)}});
    }

    Response historyAnswer(const QHttpServerRequest& r, const QString& path) {
        Query q;
        for (const auto& [key, value] : QUrlQuery(r.url()).queryItems(QUrl::FullyDecoded))
            q[key.toStdString()] = value.toStdString();
        const std::string what = path.endsWith(QLatin1String("/series")) ? "series"
                                 : path.endsWith(QLatin1String(".csv"))  ? "csv"
                                                                         : "values";
        const auto wall =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        HistoryAnswer a = historyRoute(history, what, q, wall);
        Response resp{.status = a.status,
                      .contentType = QByteArray::fromStdString(a.contentType),
                      .body = QByteArray::fromStdString(a.body),
                      .headers = {}};
        if (what == "csv" && a.status == 200)
            resp.headers.emplace_back("Content-Disposition", "attachment; filename=\"history.csv\"");
        return resp;
    }

    Response configRoute(const QHttpServerRequest& r, bool post) {
        if (!config) return error(503, "configuration not available");
        // A client asking by HTTP alone has the form as long as it keeps asking.
        if (clients.empty()) abandonTimer.start();
        if (!post) return jsonResponse(200, config->get());
        const json body = json::parse(r.body().toStdString(), nullptr, false);
        if (body.is_discarded() || !body.is_object()) return error(400, "the request is not a JSON object");
        json answer = config->post(body);
        const bool refused = answer.is_object() && answer.contains("error");
        return jsonResponse(refused ? 400 : 200, answer);
    }

    void command(const QHttpServerRequest& r, QTcpSocket& socket, bool close) {
        auto reply = [s = QPointer<QTcpSocket>(&socket), close](Response resp) {
            if (!s) return;  // the browser went away meanwhile
            if (close) resp.headers.emplace_back("Connection", "close");
            writeResponse(*s, resp);
            if (close) s->disconnectFromHost();
        };
        const json body = json::parse(r.body().toStdString(), nullptr, false);
        if (body.is_discarded() || !body.is_object()) return reply(error(400, "the request is not a JSON object"));
        const auto it = body.find("line");
        if (it == body.end() || !it->is_string()) return reply(error(400, "line: needs a text"));
        const std::string line = it->get<std::string>();
        if (line.size() > console::kMaxLineLength)
            return reply(error(400, "line: longer than " + std::to_string(console::kMaxLineLength) + " bytes"));
        const std::string who = user(r);
        if (!who.empty()) host.WriteLog("Web page", who + ": " + escaped(line, 200));
        runner.submit(line, [this, reply, line](CommandResult result) {
            reply(jsonResponse(200, {{"outcome", result.outcome}, {"lines", result.lines}}));
            commandRan(line, result);
        });
        if (runner.waiting() > 0 && !pumpTimer.isActive()) pumpTimer.start();
    }

    void commandRan(const std::string& line, const CommandResult& result) {
        if (result.outcome != "done") return;
        const std::string first = result.lines.empty() ? std::string("done") : result.lines.front();
        broadcast(live.command(escaped(line, 200), first));
        if (const auto* x = result.command ? std::get_if<console::cmd::X10>(&*result.command) : nullptr)
            for (auto& m : live.x10Sent(x->house, x->units, x->command, x->brightness)) broadcast(m);
    }

    // ---- WebSocket

    void acceptSockets() {
        while (front.hasPendingWebSocketConnections()) {
            std::unique_ptr<QWebSocket> ws = front.nextPendingWebSocketConnection();
            if (!ws) continue;
            ws->setParent(&front);
            const QNetworkRequest req = ws->request();
            std::string why;
            std::string session;
            QByteArray hostHeader = req.rawHeader("Host");
            if (hostHeader.isEmpty()) hostHeader = ws->requestUrl().authority().toLatin1();
            const QString origin = ws->origin();
            if (ws->requestUrl().path() != QLatin1String(kLivePath)) {
                why = "no such socket";
            } else if (origin.isEmpty() || (origin != "http://" + QString::fromLatin1(hostHeader) &&
                                            origin != "https://" + QString::fromLatin1(hostHeader))) {
                why = "not from the page's own origin";
            } else if (!passwordAuth() && options.bind.loopback() && !loopbackName(requestHost(hostHeader))) {
                why = "unexpected Host header";
            } else if (passwordAuth()) {
                const auto token = cookieValue(req.rawHeader("Cookie").toStdString(), kCookie);
                if (!token || !sessions.use(*token, now()))
                    why = "log in first";
                else
                    session = *token;
            }
            if (!why.empty()) {
                closeLater(ws.release(), QWebSocketProtocol::CloseCodePolicyViolated, why);
                continue;
            }
            ws->setMaxAllowedIncomingFrameSize(kMaxIncomingMessage);
            ws->setMaxAllowedIncomingMessageSize(kMaxIncomingMessage);
            QWebSocket* key = ws.get();
            auto client = std::make_unique<Client>(Client{std::move(ws), LiveQueue(options.queueLimit), session});
            QObject::connect(key, &QWebSocket::disconnected, &front, [this, key] { forget(key); });
            QObject::connect(key, &QWebSocket::bytesWritten, &front, [this, key] { flush(key); });
            clients.emplace(key, std::move(client));
            abandonTimer.stop();
            if (!overviewTimer.isActive()) overviewTimer.start();
            send(key, {.key = {}, .text = dumpJson({{"type", "state"}, {"state", live.snapshot()}})});
        }
    }

    void closeLater(QWebSocket* ws, QWebSocketProtocol::CloseCode code, const std::string& why) {
        ws->setParent(&front);
        QObject::connect(ws, &QWebSocket::disconnected, ws, &QObject::deleteLater);
        ws->close(code, QString::fromStdString(why));
        // A client that does not answer the close (it reads nothing) is cut off.
        QTimer::singleShot(kCloseGraceMs, ws, [ws] { ws->abort(); });
    }

    void forget(QWebSocket* ws) {
        const auto it = clients.find(ws);
        if (it == clients.end()) return;
        it->second->socket.release()->deleteLater();
        clients.erase(it);
        leftClient();
    }

    void leftClient() {
        if (!clients.empty()) return;
        overviewTimer.stop();
        abandonTimer.start();
    }

    void drop(QWebSocket* ws, QWebSocketProtocol::CloseCode code, const std::string& why) {
        const auto it = clients.find(ws);
        if (it == clients.end()) return;
        QWebSocket* socket = it->second->socket.release();
        clients.erase(it);
        QObject::disconnect(socket, nullptr, &front, nullptr);
        closeLater(socket, code, why);
        leftClient();
    }

    void send(QWebSocket* ws, LiveMessage m) {
        const auto it = clients.find(ws);
        if (it == clients.end()) return;
        if (!it->second->queue.push(std::move(m))) {
            ++droppedClients;
            drop(ws, QWebSocketProtocol::CloseCodePolicyViolated, "too slow");
            return;
        }
        if (!flushTimer.isActive()) flushTimer.start();
    }

    void flush(QWebSocket* ws) {
        const auto it = clients.find(ws);
        if (it == clients.end()) return;
        Client& c = *it->second;
        while (!c.queue.empty() && c.socket->bytesToWrite() < options.socketBacklogBytes)
            c.socket->sendTextMessage(QString::fromStdString(*c.queue.pop()));
    }

    void broadcast(const LiveMessage& m) {
        if (clients.empty()) return;
        std::vector<QWebSocket*> all;
        all.reserve(clients.size());
        for (auto& [ws, _] : clients) all.push_back(ws);
        for (auto* ws : all) send(ws, m);
    }

    void overviewTick() {
        json ov = live.overview();
        json compared = ov;
        compared.erase("lastReplyAgoMs");
        const std::int64_t t = now();
        if (compared == lastOverview && t - lastOverviewMs < options.overviewRefreshMs) return;
        lastOverview = std::move(compared);
        lastOverviewMs = t;
        broadcast({.key = "o", .text = dumpJson({{"type", "overview"}, {"overview", std::move(ov)}})});
    }

    [[nodiscard]] std::string url() const {
        BindAddress b = options.bind;
        b.port = port();
        return b.url();
    }
    [[nodiscard]] std::uint16_t port() const {
        return tcp && tcp->isListening() ? tcp->serverPort() : options.bind.port;
    }

    ServerOptions options;
    EmbeddedHost& host;
    LogBook& log;
    LiveState live;
    CommandRunner runner;
    Front front;
    BoundedTcpServer* tcp = nullptr;  // owned by `front`
    ConfigEndpoint* config = nullptr;
    history::Store* history = nullptr;
    Sessions sessions;
    LoginLimiter limiter;
    std::string openCsrf;  // without a password: one token for the page's changes
    std::string liveVersion;
    std::map<QString, Asset> assets = loadAssets();
    std::map<QWebSocket*, std::unique_ptr<Client>> clients;
    std::uint64_t droppedClients = 0;
    EmbeddedHost::Subscription events;
    QTimer pumpTimer;
    QTimer overviewTimer;
    QTimer abandonTimer;
    QTimer flushTimer;
    json lastOverview;
    std::int64_t lastOverviewMs = 0;
};

WebServer::WebServer(ServerOptions options, HSPI& plugin, EmbeddedHost& host, console::Console& console, LogBook& log,
                     LiveInfo info) {
    std::string version = info.version;
    impl_ = std::make_unique<Impl>(std::move(options), plugin, host, console, log, std::move(info));
    impl_->liveVersion = std::move(version);
}

WebServer::~WebServer() = default;

std::optional<std::string> WebServer::start() {
    const auto& bind = impl_->options.bind;
    if (!bind.loopback() && !impl_->options.passwordHash && !impl_->options.trustedPeer)
        return "the web page on " + bind.url() + " needs a password (varnel web-password sets one)";
    auto* tcp = new BoundedTcpServer(&impl_->front);
    if (!tcp->listen(QHostAddress(QString::fromStdString(bind.host)), bind.port)) {
        const std::string why = tcp->errorString().toStdString();
        delete tcp;
        return "the web page cannot listen on " + bind.url() + ": " + why;
    }
    impl_->front.bind(tcp);
    impl_->tcp = tcp;
    return std::nullopt;
}

std::uint16_t WebServer::port() const { return impl_->port(); }
std::string WebServer::url() const { return impl_->url(); }
void WebServer::setConfig(ConfigEndpoint* config) { impl_->config = config; }
void WebServer::setHistory(history::Store* store) { impl_->history = store; }
std::size_t WebServer::clients() const { return impl_->clients.size(); }
std::uint64_t WebServer::dropped() const { return impl_->droppedClients; }
std::size_t WebServer::waitingCommands() const { return impl_->runner.waiting(); }

}  // namespace varnel::web
