#pragma once
// The web page's server on the plug-in's loop with browsers' live sockets connected,
// each reading every message as a page does.
#include <QWebSocket>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/console.h"
#include "live_plugin.h"
#include "web/log_book.h"
#include "web/web_server.h"

namespace varnel::bench {

class WebAudience {
public:
    // Starts the server and connects `clients` sockets; error() says why not.
    WebAudience(LivePlugin& live, console::Console& console, int clients);
    [[nodiscard]] const std::optional<std::string>& error() const { return error_; }
    // Every text message the first client gets.
    void onFirstClientMessage(std::function<void(const QString&)> fn);
    [[nodiscard]] std::uint64_t dropped() const { return server_.dropped(); }

private:
    web::LogBook log_;
    web::WebServer server_;
    std::vector<std::unique_ptr<QWebSocket>> sockets_;
    std::optional<std::string> error_;
};

}  // namespace varnel::bench
