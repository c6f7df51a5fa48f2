// The page's routes without a password (a loopback bind): what each answers, the
// headers that keep the page to itself, the Host check and the size bounds.
#include <gtest/gtest.h>

#include <QTcpSocket>

#include "history/store.h"
#include "web/config_endpoint.h"
#include "web_rig.h"

namespace varnel::test {
namespace {

TEST(WebRoutes, each_route_answers_with_its_status_and_type) {
    WebRig w;
    // Method, path, status and the start of the Content-Type.
    const std::tuple<const char*, const char*, int, const char*> cases[] = {
        {"GET", "/", 200, "text/html"},
        {"GET", "/app.js", 200, "text/javascript"},
        {"GET", "/app.css", 200, "text/css"},
        {"GET", "/favicon.svg", 200, "image/svg+xml"},
        {"GET", "/favicon.ico", 200, "image/svg+xml"},
        {"GET", "/api/session", 200, "application/json"},
        {"GET", "/api/state", 200, "application/json"},
        {"GET", "/api/log", 200, "application/json"},
        {"GET", "/api/config", 503, "application/json"},
        {"GET", "/api/history/series", 503, "application/json"},
        {"GET", "/index.html", 404, "application/json"},
        {"GET", "/api/nothing", 404, "application/json"},
        {"GET", "/../etc/passwd", 404, "application/json"},
        {"POST", "/api/state", 405, "application/json"},
        {"GET", "/api/command", 405, "application/json"},
        {"DELETE", "/api/session", 405, "application/json"},
        {"GET", "/api/live", 426, "application/json"},
    };
    for (const auto& [method, path, status, type] : cases) {
        const auto r = w.request(method, path, method == std::string("POST") ? "{}" : "", w.csrfHeader());
        EXPECT_EQ(r.status, status) << method << " " << path << ": " << r.body.toStdString();
        EXPECT_TRUE(r.header("Content-Type").starts_with(type)) << path << ": " << r.header("Content-Type");
        EXPECT_EQ(r.header("X-Content-Type-Options"), "nosniff") << path;
        EXPECT_EQ(r.json().contains("error"), status >= 400) << path;
        if (status == 200 && !std::string(path).starts_with("/api/")) {
            // The page forbids outside resources and is asked for anew.
            EXPECT_EQ(r.header("Content-Security-Policy"), "default-src 'self'; connect-src 'self' ws: wss:") << path;
            EXPECT_EQ(r.header("Cache-Control"), "no-cache") << path;
            EXPECT_FALSE(r.body.isEmpty()) << path;
        }
    }
}

TEST(WebRoutes, a_loopback_page_needs_no_login_refuses_other_host_names_and_wants_the_csrf_token) {
    WebRig w;
    const auto s = w.get("/api/session").json();
    EXPECT_EQ(s["auth"].get<std::string>() + " " + s["version"].get<std::string>(), "none 9.9");
    EXPECT_EQ(s["loggedIn"], true);
    EXPECT_GE(s["csrf"].get<std::string>().size(), 32u);
    for (const auto& [host, status] : {std::pair{"evil.example", 403}, std::pair{"evil.example:80", 403},
                                       std::pair{"192.168.1.9", 403}, std::pair{"", 403}, std::pair{"localhost", 200},
                                       std::pair{"127.0.0.1:1", 200}, std::pair{"[::1]:8099", 200}}) {
        const auto r = w.raw(QByteArray("GET /api/state HTTP/1.1\r\nHost: ") + host + "\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(r.status, status) << host;
    }
    const nlohmann::json body = {{"line", "var 3 7"}};
    EXPECT_EQ(w.post("/api/command", body).status, 403);
    const auto wrong = w.post("/api/command", body, "X-CSRF-Token: 0123\r\n");
    EXPECT_EQ(wrong.status, 403);
    EXPECT_EQ(wrong.json()["error"], "missing or wrong CSRF token");
    EXPECT_EQ(w.c.rig.controller.variable(3), 0) << "nothing was done";
    EXPECT_EQ(w.post("/api/command", body, w.csrfHeader()).status, 200);
    EXPECT_EQ(w.c.rig.controller.variable(3), 7);
}

TEST(WebRoutes, request_bodies_are_bounded_and_bad_bodies_and_parameters_refused_naming_the_field) {
    WebRig w;
    const auto csrf = w.csrfHeader();
    const std::string big(70 * 1024, 'x');
    EXPECT_EQ(w.request("POST", "/api/command", "{\"line\":\"" + big + "\"}", csrf).status, 413);

    // A body far larger than announced is cut off while it streams in.
    QTcpSocket s;
    s.connectToHost("127.0.0.1", w.server->port());
    ASSERT_TRUE(spinUntil([&] { return s.state() == QAbstractSocket::ConnectedState; }));
    s.write("POST /api/command HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000000\r\n\r\n");
    const QByteArray chunk(64 * 1024, 'x');
    QByteArray got;
    for (int i = 0; i < 64 && s.state() == QAbstractSocket::ConnectedState; ++i) {
        s.write(chunk);
        spin(5);
        got += s.readAll();
    }
    spinUntil([&] {
        got += s.readAll();
        return s.state() != QAbstractSocket::ConnectedState;
    });
    EXPECT_TRUE(got.startsWith("HTTP/1.1 413")) << got.left(80).toStdString();
    EXPECT_NE(s.state(), QAbstractSocket::ConnectedState);
    const std::tuple<const char*, std::string, const char*> cases[] = {
        {"/api/command", "not json", "the request is not a JSON object"},
        {"/api/command", "[1]", "the request is not a JSON object"},
        {"/api/command", R"({"line":5})", "line: needs a text"},
        {"/api/command", R"({})", "line: needs a text"},
        {"/api/command", R"({"line":")" + std::string(2000, 'a') + "\"}", "line: longer than 1024 bytes"},
    };
    for (const auto& [path, body, error] : cases) {
        const auto r = w.request("POST", path, body, csrf);
        EXPECT_EQ(r.status, 400) << body.substr(0, 40);
        EXPECT_EQ(r.json()["error"], error) << body.substr(0, 40);
    }
    for (const char* q : {"0", "1001", "x", "-3", ""}) {
        const auto r = w.get(std::string("/api/log?lines=") + q);
        EXPECT_EQ(r.status, 400) << q;
        EXPECT_EQ(r.json()["error"], "lines: needs a number from 1 to 1000") << q;
    }
    // The log tail gives the last lines, escaped.
    for (int i = 0; i < 5; ++i)
        w.log.add({.time = "2026-12-07 19:20:0" + std::to_string(i),
                   .level = "info",
                   .source = "Ocelot",
                   .text = "line " + std::to_string(i)});
    w.log.add({.time = "2026-12-07 19:20:09", .level = "warning", .source = "Ocelot", .text = "bad\x1b[31m\n"});
    const auto lines = w.get("/api/log?lines=2").json()["lines"];
    EXPECT_EQ(lines, nlohmann::json::parse(R"([
        {"level":"info","source":"Ocelot","text":"line 4","time":"2026-12-07T19:20:04"},
        {"level":"warning","source":"Ocelot","text":"bad\\x1b[31m\\n","time":"2026-12-07T19:20:09"}])"));
}

TEST(WebRoutes, the_history_routes_answer_from_the_store_and_refuse_bad_parameters_naming_the_field) {
    WebRig w;
    history::Store store(history::StoreOptions{.file = w.c.rig.hostDir / "history.sqlite"});
    constexpr std::int64_t t0 = 1'796'000'000'000;  // 2026-11-30T00:53:20Z
    store.describe("var:3", "Variable 3", history::SeriesKind::Value);
    store.add({.series = "var:3", .t = t0, .value = 5});
    store.add({.series = "command", .t = t0 + 1000, .value = 0, .text = "=var 3 5, \"x\""});
    ASSERT_TRUE(store.flush());
    w.server->setHistory(&store);
    const std::string range = "&from=2026-11-30T00:00:00Z&to=2026-11-30T01:00:00.000%2B00:00";
    const std::pair<std::string, const char*> refused[] = {
        {"/api/history", "series: needs one or more series ids, comma-separated"},
        {"/api/history?series=var:128",
         "series: \"var:128\" is not a series (var:N, unit:U:point:P, link, x10, ir, touch, command)"},
        {"/api/history?series=var:1,,link",
         "series: \"\" is not a series (var:N, unit:U:point:P, link, x10, ir, touch, command)"},
        {"/api/history?series=link,x10,ir,touch,command,var:1,var:2,var:3,var:4", "series: at most 8"},
        {"/api/history?series=link&from=yesterday", "from: needs a time such as 2026-12-08T19:20:00Z"},
        {"/api/history?series=link&to=2026-02-30T00:00:00Z", "to: needs a time such as 2026-12-08T19:20:00Z"},
        {"/api/history?series=link&from=2026-12-08T10:00:00Z&to=2026-12-08T09:00:00Z", "from: needs to be before to"},
        {"/api/history?series=link&from=2000-01-01T00:00:00Z&to=2026-01-01T00:00:00Z",
         "from: the range is longer than 3660 days"},
        {"/api/history?series=link&points=0", "points: needs a number from 1 to 5000"},
        {"/api/history.csv?series=link&points=5001", "points: needs a number from 1 to 5000"},
    };
    for (const auto& [path, error] : refused) {
        const auto r = w.get(path);
        EXPECT_EQ(r.status, 400) << path;
        EXPECT_EQ(r.json()["error"], error) << path;
    }
    const auto list = w.get("/api/history/series").json();
    EXPECT_EQ(list["series"][0], nlohmann::json::parse(R"({"id":"var:3","name":"Variable 3","kind":"value",
        "first":1796000000000,"last":1796000000000,"count":1})"));
    const auto values = w.get("/api/history?series=var:3,command&points=10" + range).json();
    EXPECT_EQ(values["series"][0]["last"], nlohmann::json::parse("[5]"));
    EXPECT_EQ(values["series"][1]["text"], nlohmann::json::parse(R"(["=var 3 5, \"x\""])"));
    const auto csv = w.get("/api/history.csv?series=var:3,command" + range);
    EXPECT_EQ(csv.header("Content-Type"), "text/csv; charset=utf-8");
    EXPECT_EQ(csv.body.toStdString(),
              "series,time,value,min,max,text\r\nvar:3,2026-11-30T00:53:20.000Z,5,5,5,\r\n"
              "command,2026-11-30T00:53:21.000Z,0,0,0,\"'=var 3 5, \"\"x\"\"\"\r\n");
}

class EchoConfig final : public web::ConfigEndpoint {
public:
    nlohmann::json get() override { return {{"controls", nlohmann::json::object()}, {"busy", false}}; }
    nlohmann::json post(const nlohmann::json& request) override {
        if (!request.contains("action")) return {{"error", "action: missing"}};
        seen.push_back(request);
        return {{"controls", nlohmann::json::object()},
                {"messages", nlohmann::json::array()},
                {"questions", nlohmann::json::array()},
                {"closed", false}};
    }
    bool abandon(int /*idleMs*/) override {
        ++abandoned;
        return !busy;
    }
    std::vector<nlohmann::json> seen;
    int abandoned = 0;
    bool busy = false;
};

TEST(WebRoutes, the_configuration_routes_reach_the_endpoint_once_there_is_one) {
    WebRig w;
    EXPECT_EQ(w.get("/api/config").json()["error"], "configuration not available");
    EchoConfig config;
    w.server->setConfig(&config);
    EXPECT_EQ(w.get("/api/config").status, 200);
    EXPECT_EQ(w.post("/api/config", {{"action", "open"}}).status, 403) << "a change: CSRF first";
    EXPECT_EQ(w.post("/api/config", {{"action", "open"}}, w.csrfHeader()).status, 200);
    EXPECT_EQ(w.post("/api/config", {{"nothing", 1}}, w.csrfHeader()).status, 400);
    ASSERT_EQ(config.seen.size(), 1u);
    EXPECT_EQ(config.seen[0]["action"], "open");
    w.server->setConfig(nullptr);
}

TEST(WebRoutes, a_form_no_page_holds_is_closed_after_the_idle_time_and_not_before) {
    web::ServerOptions options;
    options.abandonMs = 600;  // requests 150 ms apart keep well inside it, on a loaded machine too
    WebRig w(options);
    EchoConfig config;
    w.server->setConfig(&config);
    {
        auto page = w.live(w.origin());
        ASSERT_EQ(w.get("/api/config").status, 200);
        spin(1000);
        EXPECT_EQ(config.abandoned, 0) << "a page is connected";
    }
    // The page went: closed once the idle time has passed, asked again while busy.
    config.busy = true;
    ASSERT_TRUE(spinUntil([&] { return config.abandoned == 1; }, 3000));
    config.busy = false;
    ASSERT_TRUE(spinUntil([&] { return config.abandoned == 2; }, 3000));
    spin(1000);
    EXPECT_EQ(config.abandoned, 2) << "closed once";

    // A client that only asks by HTTP keeps the form while it keeps asking.
    for (int i = 0; i < 4; ++i) {
        spin(150);
        ASSERT_EQ(w.get("/api/config").status, 200);
    }
    EXPECT_EQ(config.abandoned, 2);
    ASSERT_TRUE(spinUntil([&] { return config.abandoned == 3; }, 3000));
    w.server->setConfig(nullptr);
}

}  // namespace
}  // namespace varnel::test
