#include "web_audience.h"

#include <QMetaObject>
#include <QUrl>

namespace varnel::bench {

namespace {

web::ServerOptions anyPort() {
    web::ServerOptions o;
    o.bind.port = 0;
    return o;
}

}  // namespace

WebAudience::WebAudience(LivePlugin& live, console::Console& console, int clients,
                         std::function<void(const QString&)> onFirstClientMessage)
    : server_(anyPort(), *live.hspi, *live.host, console, log_,
              {.version = "bench", .http = {}, .mqtt = {}, .clock = {}}) {
    if (auto err = server_.start()) {
        error_ = *err;
        return;
    }
    thread_.start();
    home_ = new QObject;
    home_->moveToThread(&thread_);
    const QString origin = "http://127.0.0.1:" + QString::number(server_.port());
    const QUrl url("ws://127.0.0.1:" + QString::number(server_.port()) + "/api/live");
    QMetaObject::invokeMethod(
        home_,
        [this, clients, origin, url, first = std::move(onFirstClientMessage)] {
            for (int i = 0; i < clients; ++i) {
                auto* ws = new QWebSocket(origin, QWebSocketProtocol::VersionLatest, home_);
                if (i == 0 && first) QObject::connect(ws, &QWebSocket::textMessageReceived, home_, first);
                ws->open(url);
            }
        },
        Qt::BlockingQueuedConnection);
    if (!live.loop.waitUntil(5000, [&] { return server_.clients() == static_cast<std::size_t>(clients); }))
        error_ = "the clients did not connect";
}

WebAudience::~WebAudience() {
    if (home_ != nullptr)
        QMetaObject::invokeMethod(
            home_, [this] { delete home_; }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

}  // namespace varnel::bench
