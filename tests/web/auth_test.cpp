// A page with a password: nothing but the session and login routes without a
// session, a cookie the page's script cannot read, CSRF on changes, logins limited.
#include <gtest/gtest.h>

#include <fstream>

#include "web/password.h"
#include "web_rig.h"

namespace varnel::test {
namespace {

web::ServerOptions withPassword() {
    web::ServerOptions o;
    o.passwordHash = web::hashPassword("s3cret", 1000);
    return o;
}

// The cookie of a login with `password`, or the reply that refused it.
struct Login {
    HttpReply reply;
    std::string cookie;  // "varnel_session=..."
    std::string csrf;
};
Login login(WebRig& w, const std::string& password) {
    Login l;
    l.reply = w.post("/api/login", {{"password", password}});
    const std::string set = l.reply.header("Set-Cookie");
    l.cookie = set.substr(0, set.find(';'));
    if (l.reply.status == 200) l.csrf = l.reply.json()["csrf"].get<std::string>();
    return l;
}

TEST(WebAuth, only_session_and_login_without_a_session_then_a_strict_cookie_csrf_and_logout) {
    WebRig w(withPassword());
    EXPECT_EQ(w.get("/api/session").json(),
              (nlohmann::json{{"auth", "password"}, {"csrf", nullptr}, {"loggedIn", false}, {"version", "9.9"}}));
    for (const char* path : {"/api/state", "/api/log", "/api/config"}) {
        const auto r = w.get(path);
        EXPECT_EQ(r.status, 401) << path;
        EXPECT_EQ(r.json()["error"], "log in first") << path;
    }
    for (const char* path : {"/api/command", "/api/logout", "/api/config"})
        EXPECT_EQ(w.post(path, {{"line", "var 3 1"}}).status, 401) << path;
    EXPECT_EQ(w.get("/api/state", "Cookie: varnel_session=forged\r\n").status, 401);
    EXPECT_EQ(w.get("/").status, 200) << "the page itself loads, so that it can show the login";
    const auto none = w.live(w.origin());
    EXPECT_TRUE(none->closed && none->messages.empty());
    const std::string handshake =
        "Upgrade: websocket\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
        "Sec-WebSocket-Version: 13\r\nOrigin: " +
        w.origin().toStdString() + "\r\n";
    EXPECT_EQ(w.get("/api/live", handshake).status, 401) << "refused in plain HTTP, before the upgrade";
    for (const char* body : {R"({})", R"({"password":1})", R"({"password":null})"}) {
        const auto r = w.request("POST", "/api/login", body);
        EXPECT_EQ(r.status, 400) << body;
        EXPECT_EQ(r.json()["error"], "password: needs a text") << body;
    }
    EXPECT_EQ(w.request("POST", "/api/login", "x").status, 400);

    const Login wrong = login(w, "guess");
    EXPECT_EQ(wrong.reply.status, 401);
    EXPECT_EQ(wrong.reply.json()["error"], "wrong password");
    EXPECT_EQ(wrong.reply.header("Set-Cookie"), "");
    const Login ok = login(w, "s3cret");
    ASSERT_EQ(ok.reply.status, 200);
    const std::string set = ok.reply.header("Set-Cookie");
    EXPECT_EQ(set.substr(ok.cookie.size()), "; HttpOnly; SameSite=Strict; Path=/") << set;
    EXPECT_TRUE(ok.cookie.starts_with("varnel_session=")) << set;

    const std::string cookie = "Cookie: " + ok.cookie + "\r\n";
    EXPECT_EQ(w.get("/api/state", cookie).status, 200);
    EXPECT_EQ(w.get("/api/session", "Cookie: other=1; " + ok.cookie + "\r\n").json()["csrf"], ok.csrf);
    const auto in = w.live(w.origin(), QByteArray::fromStdString(ok.cookie));
    ASSERT_FALSE(in->messages.empty());
    EXPECT_EQ(in->messages.front()["type"], "state");

    EXPECT_EQ(w.post("/api/command", {{"line", "var 3 9"}}, cookie).status, 403) << "no CSRF token";
    EXPECT_EQ(w.post("/api/command", {{"line", "var 3 9"}}, cookie + w.csrfHeader(ok.csrf)).status, 200);
    EXPECT_EQ(w.c.rig.controller.variable(3), 9);
    EXPECT_EQ(w.post("/api/logout", nlohmann::json::object(), cookie).status, 403) << "logout is a change too";
    EXPECT_EQ(w.post("/api/logout", nlohmann::json::object(), cookie + w.csrfHeader(ok.csrf)).status, 204);
    EXPECT_EQ(w.get("/api/state", cookie).status, 401);
    EXPECT_TRUE(spinUntil([&] { return in->closed; })) << "the live socket ends with the session";

    // Logins are limited per address, and the wait is told.
    for (int i = 0; i < 4; ++i) EXPECT_EQ(login(w, "guess").reply.status, 401) << i;
    const Login held = login(w, "s3cret");
    EXPECT_EQ(held.reply.status, 429) << "even the right password waits";
    EXPECT_EQ(held.reply.json()["error"], "too many attempts; wait 60 s");
    w.clockMs += 60'000;
    EXPECT_EQ(login(w, "s3cret").reply.status, 200);
}

TEST(WebAuth, a_page_others_can_reach_does_not_start_without_a_password) {
    ensureQtApp();
    ConsoleRig c;
    web::LogBook log;
    web::ServerOptions o;
    o.bind.host = "0.0.0.0";
    o.bind.port = 0;
    web::WebServer server(o, *c.rig.plugin, *c.rig.host, c.console, log, {});
    const auto err = server.start();
    ASSERT_TRUE(err);
    EXPECT_NE(err->find("needs a password"), std::string::npos) << *err;
}

// A loopback page whose trusted peer is the one given.
web::ServerOptions behindIngress(const std::string& peer) {
    web::ServerOptions o;
    o.bind = {.host = "127.0.0.1", .port = 0};
    o.trustedPeer = peer;
    return o;
}

TEST(WebAuth, behind_the_ingress_only_its_peer_is_served_whatever_the_host_and_the_user_is_named) {
    WebRig other(behindIngress("172.30.32.2"));
    const auto handshake =
        "Connection: Upgrade\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 13\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nOrigin: " +
        other.origin().toStdString() + "\r\n";
    for (const auto& [path, extra] : {std::pair<std::string, std::string>{"/", ""},
                                      {"/api/state", ""},
                                      {"/api/session", "X-Remote-User-Display-Name: Anna\r\n"},
                                      {"/api/live", handshake}}) {
        const auto r = other.get(path, extra);
        EXPECT_EQ(r.status, 403) << path;
        EXPECT_EQ(r.json()["error"], "only Home Assistant's ingress may use this port") << path;
    }

    WebRig w(behindIngress("127.0.0.1"));
    const QByteArray asked =
        "GET /api/session HTTP/1.1\r\nHost: homeassistant.local:8123\r\n"
        "X-Remote-User-Display-Name: Anna \x1b[2J\r\nConnection: close\r\n\r\n";
    const auto s = w.raw(asked).json();
    EXPECT_EQ(s["auth"], "ingress");
    EXPECT_EQ(s["user"], "Anna \\x1b[2J") << "shown escaped";
    EXPECT_EQ(s["loggedIn"], true);
    EXPECT_EQ(w.get("/api/session").json()["user"], nullptr) << "no user outside the header";
    const nlohmann::json body = {{"line", "var 3 7"}};
    EXPECT_EQ(w.post("/api/command", body, w.csrfHeader() + "X-Remote-User-Display-Name: Anna\r\n").status, 200);
    EXPECT_EQ(w.c.rig.controller.variable(3), 7);
    std::ifstream hostLog(w.c.rig.hostDir / "logs" / "host.log");
    const std::string logText((std::istreambuf_iterator<char>(hostLog)), {});
    EXPECT_NE(logText.find("Anna: var 3 7"), std::string::npos) << logText;
}

}  // namespace
}  // namespace varnel::test
