#pragma once
// The web page of `varnel run --http`: HTTP routes and the live WebSocket (routes and
// messages in docs/web-api.md), on the Qt event loop and thread the plug-in runs on.
//
// Who may ask: a loopback bind needs no password (but a request must name a loopback
// host, so that a page of another site cannot reach it through DNS rebinding); any
// other bind has a password, checked at login and then by session cookie. Every change
// carries the session's CSRF token, the WebSocket must come from the page's own origin,
// logins are rate-limited per address and request sizes are bounded. Behind Home
// Assistant's ingress the peer's address is what is trusted (ServerOptions::trustedPeer).
//
// What it costs the controller: nothing waits on a browser. Messages go to each client
// through a bounded queue of its own that merges changes to the same thing; a client
// that falls too far behind is dropped and reconnects for a fresh snapshot. Console
// lines wait for the console to be ready, as the console's own do.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "web/bind_address.h"
#include "web/live_state.h"

namespace varnel {
class HSPI;
class EmbeddedHost;
}  // namespace varnel
namespace varnel::console {
class Console;
}
namespace varnel::history {
class Store;
}

namespace varnel::web {

class ConfigEndpoint;
class LogBook;

struct ServerOptions {
    BindAddress bind;
    // The password's stored hash (password.h); none: no password (loopback only).
    std::optional<std::string> passwordHash;
    // Home Assistant's ingress: only this peer is served, without a password and whatever
    // Host it names (the browser's own), since Home Assistant has logged the user in; the
    // user it names (X-Remote-User-Display-Name) is shown and named for each command.
    std::optional<std::string> trustedPeer;
    std::size_t queueLimit = 256;
    // Bytes a client's socket may hold unsent before its messages wait in its queue.
    std::int64_t socketBacklogBytes = std::int64_t{64} * 1024;
    int overviewMs = 250;          // overview changes are sent at most this often
    int overviewRefreshMs = 2000;  // and at least this often (the time since the last reply moves)
    // A configuration form left open is closed once no page has been connected, nor the
    // form asked, for this long: else the plug-in's messages would wait there unread.
    int abandonMs = 120'000;
    // Milliseconds of a steady clock (sessions, login limits, waiting lines); unset: the system's.
    std::function<std::int64_t()> clockMs;
};

class WebServer {
public:
    WebServer(ServerOptions options, HSPI& plugin, EmbeddedHost& host, console::Console& console, LogBook& log,
              LiveInfo info);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Listens; one line saying why not otherwise ("the address is in use").
    [[nodiscard]] std::optional<std::string> start();
    // The port listened on (the chosen one for port 0).
    [[nodiscard]] std::uint16_t port() const;
    // "http://127.0.0.1:8099/"
    [[nodiscard]] std::string url() const;

    // Serves /api/config; null: 503 until one is set.
    void setConfig(ConfigEndpoint* config);
    // Serves /api/history*; null: 503 (a run without history).
    void setHistory(history::Store* store);

    [[nodiscard]] std::size_t clients() const;
    // Clients dropped for being too slow, since the start.
    [[nodiscard]] std::uint64_t dropped() const;
    // Lines from the page still waiting for the console.
    [[nodiscard]] std::size_t waitingCommands() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace varnel::web
