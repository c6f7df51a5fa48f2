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
    if (!o.http) return nullptr;
    return std::unique_ptr<WebPage>(new WebPage(o));
}

WebPage::WebPage(const RunOptions& o) : bind_(*o.http) {
    // The environment's password wins over the file's hash, as the environment wins elsewhere.
    if (o.httpPassword)
        passwordHash_ = web::hashPassword(*o.httpPassword);
    else
        passwordHash_ = o.httpPasswordHash;
}

WebPage::~WebPage() { stop(); }

void WebPage::hostLine(const host::ConsoleLine& line) {
    log_.add({.time = line.time,
              .level = levelName(levelOf(line.source, line.message)),
              .source = line.source,
              .text = line.message});
}

std::optional<std::string> WebPage::start(HSPI& plugin, EmbeddedHost& host, console::Console& console,
                                          std::function<std::string()> mqttState, web::ConfigEndpoint& config,
                                          history::Store* history) {
    web::ServerOptions options;
    options.bind = bind_;
    options.passwordHash = passwordHash_;
    server_ = std::make_unique<web::WebServer>(
        std::move(options), plugin, host, console, log_,
        web::LiveInfo{.version = VARNEL_VERSION, .http = bind_.url(), .mqtt = std::move(mqttState), .clock = {}});
    server_->setConfig(&config);
    server_->setHistory(history);
    if (auto err = server_->start()) {
        server_.reset();
        return err;
    }
    return std::nullopt;
}

std::string WebPage::url() const { return server_ ? server_->url() : std::string(); }

void WebPage::stop() { server_.reset(); }

}  // namespace varnel::app
