#pragma once
// The web page's server on the plug-in's loop with browsers' live sockets connected,
// each reading every message as a page does. The browsers live on a thread of their
// own, as they would in processes of their own: their reading is not the plug-in's work.
#include <QObject>
#include <QThread>
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
    // `onFirstClientMessage` is called on the browsers' thread.
    WebAudience(LivePlugin& live, console::Console& console, int clients,
                std::function<void(const QString&)> onFirstClientMessage = {});
    ~WebAudience();
    WebAudience(const WebAudience&) = delete;
    WebAudience& operator=(const WebAudience&) = delete;

    [[nodiscard]] const std::optional<std::string>& error() const { return error_; }
    [[nodiscard]] std::uint64_t dropped() const { return server_.dropped(); }

private:
    web::LogBook log_;
    web::WebServer server_;
    QThread thread_;
    QObject* home_ = nullptr;  // lives on thread_, parent of the sockets
    std::optional<std::string> error_;
};

}  // namespace varnel::bench
