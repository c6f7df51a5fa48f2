#include "web_page.h"

#include "web/password.h"
#include "web/web_server.h"

namespace varnel::app {

namespace {

std::string levelName(LogLevel level) {
    switch (level) {
        case LogLevel::Error: return "error";
        case LogLevel::Warning: return "warning";
        case LogLevel::Info: break;
    }
    return "info";
}

}  // namespace

std::optional<std::string> webPageProblem(const RunOptions& o) {
    if (!o.http || o.http->loopback() || o.httpPasswordHash || o.httpPassword) return std::nullopt;
    return "the web page on " + o.http->url() +
           " can be reached from other machines and needs a password: set one with varnel web-password (or "
           "$VARNEL_HTTP_PASSWORD), or give --http a loopback address such as 127.0.0.1:" +
           std::to_string(o.http->port);
}

std::unique_ptr<WebPage> WebPage::configure(const RunOptions& o) {
    if (!o.http && !o.ingress) return nullptr;
    return std::unique_ptr<WebPage>(new WebPage(o));
}

WebPage::WebPage(const RunOptions& o) : bind_(o.http), ingress_(o.ingress), ingressPeer_(o.ingressPeer) {
    // The environment's password wins over the file's hash, as the environment wins elsewhere.
    if (o.httpPassword)
        passwordHash_ = web::hashPassword(*o.httpPassword);
    else
        passwordHash_ = o.httpPasswordHash;
}

WebPage::~WebPage() { stop(); }

void WebPage::hostLine(const host::ConsoleLine& line) {
    const web::LogLine entry{.time = line.time,
                             .level = levelName(levelOf(line.source, line.message)),
                             .source = line.source,
                             .text = line.message};
    if (bind_) log_.add(entry);
    if (ingress_) ingressLog_.add(entry);
}

std::optional<std::string> WebPage::start(HSPI& plugin, EmbeddedHost& host, console::Console& console,
                                          std::function<std::string()> mqttState, web::ConfigEndpoint& config,
                                          history::Store* history) {
    const auto serve = [&](const web::BindAddress& bind, std::optional<std::string> peer, web::LogBook& log,
                           std::unique_ptr<web::WebServer>& server) -> std::optional<std::string> {
        web::ServerOptions options;
        options.bind = bind;
        options.passwordHash = peer ? std::nullopt : passwordHash_;
        options.trustedPeer = std::move(peer);
        server = std::make_unique<web::WebServer>(
            std::move(options), plugin, host, console, log,
            web::LiveInfo{.version = VARNEL_VERSION, .http = bind.url(), .mqtt = mqttState, .clock = {}});
        server->setConfig(&config);
        server->setHistory(history);
        if (auto err = server->start()) {
            server.reset();
            return err;
        }
        return std::nullopt;
    };
    std::optional<std::string> err;
    if (bind_) err = serve(*bind_, std::nullopt, log_, server_);
    if (!err && ingress_) err = serve(*ingress_, ingressPeer_, ingressLog_, ingressServer_);
    if (err) stop();
    return err;
}

std::string WebPage::url() const {
    std::string out = server_ ? server_->url() : std::string();
    if (ingressServer_)
        out += (out.empty() ? "" : " and ") + std::string("Home Assistant's ingress on port ") +
               std::to_string(ingressServer_->port()) + " (from " + ingressPeer_ + " only)";
    return out;
}

void WebPage::stop() {
    ingressServer_.reset();
    server_.reset();
}

}  // namespace varnel::app
