#pragma once
// `varnel run --http ...`: the web page of a run. Its log book is fed from the first
// host log line on, so the page's log tail has the start-up; the server starts once
// the console is there.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli.h"
#include "host/host_log.h"
#include "web/log_book.h"

namespace varnel {
class EmbeddedHost;
class HSPI;
}  // namespace varnel
namespace varnel::console {
class Console;
}
namespace varnel::history {
class Store;
}
namespace varnel::web {
class ConfigEndpoint;
class WebServer;
}  // namespace varnel::web

namespace varnel::app {

// Why a run with these options must not start its page (a bind that others can reach
// without a password); one line saying how to set one.
[[nodiscard]] std::optional<std::string> webPageProblem(const RunOptions& options);

class WebPage {
public:
    // Nothing without --http or the ingress.
    static std::unique_ptr<WebPage> configure(const RunOptions& options);
    ~WebPage();
    WebPage(const WebPage&) = delete;
    WebPage& operator=(const WebPage&) = delete;

    void hostLine(const host::ConsoleLine& line);
    // Listens; why not otherwise. `config` serves the configuration form and `history`
    // (none: a run without history) the history's routes; both must outlast stop().
    [[nodiscard]] std::optional<std::string> start(HSPI& plugin, EmbeddedHost& host, console::Console& console,
                                                   std::function<std::string()> mqttState, web::ConfigEndpoint& config,
                                                   history::Store* history);
    // "http://127.0.0.1:8099/" once started (and the ingress's port).
    [[nodiscard]] std::string url() const;
    // Ends the page before what it uses goes.
    void stop();

private:
    explicit WebPage(const RunOptions& options);
    std::optional<web::BindAddress> bind_, ingress_;
    std::string ingressPeer_;
    std::optional<std::string> passwordHash_;
    // One each: a book feeds one server's live log.
    web::LogBook log_, ingressLog_;
    std::unique_ptr<web::WebServer> server_, ingressServer_;
};

}  // namespace varnel::app
