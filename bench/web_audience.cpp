#include "web_audience.h"

#include <QObject>
#include <QUrl>

namespace varnel::bench {

namespace {

web::ServerOptions anyPort() {
    web::ServerOptions o;
    o.bind.port = 0;
    return o;
}

}  // namespace

WebAudience::WebAudience(LivePlugin& live, console::Console& console, int clients)
    : server_(anyPort(), *live.hspi, *live.host, console, log_,
              {.version = "bench", .http = {}, .mqtt = {}, .clock = {}}) {
    if (auto err = server_.start()) {
        error_ = *err;
        return;
    }
    const QString origin = "http://127.0.0.1:" + QString::number(server_.port());
    for (int i = 0; i < clients; ++i) {
        auto ws = std::make_unique<QWebSocket>(origin);
        ws->open(QUrl("ws://127.0.0.1:" + QString::number(server_.port()) + "/api/live"));
        sockets_.push_back(std::move(ws));
    }
    if (!live.loop.waitUntil(5000, [&] { return server_.clients() == sockets_.size(); }))
        error_ = "the clients did not connect";
}

void WebAudience::onFirstClientMessage(std::function<void(const QString&)> fn) {
    if (!sockets_.empty()) QObject::connect(sockets_.front().get(), &QWebSocket::textMessageReceived, std::move(fn));
}

}  // namespace varnel::bench
