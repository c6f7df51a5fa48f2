// What the page sees of a run: the snapshot on the simulator, the live socket's first
// message and changes, its Origin check, and a slow client dropped without holding
// anything up.
#include <gtest/gtest.h>

#include <QTcpSocket>
#include <QWebSocket>

#include "plugin/health.h"
#include "web_rig.h"

namespace varnel::test {
namespace {

using nlohmann::json;

TEST(WebLive, the_snapshot_shows_the_simulators_modules_variables_and_health) {
    WebRig w;
    // As the run does around its start-up.
    startupBegins(w.c.rig.ctx());
    startupEnds(w.c.rig.ctx());
    const json s = w.get("/api/state").json();
    const json& ov = s["overview"];
    EXPECT_EQ(ov["link"], "up");
    EXPECT_EQ(ov["version"], "9.9");
    EXPECT_EQ(ov["mqtt"], "off");
    EXPECT_TRUE(ov["startup"]["result"].get<std::string>().starts_with("ok, 4 modules")) << ov.dump();
    EXPECT_TRUE(ov["startup"]["at"].is_string());
    EXPECT_TRUE(ov["lastReplyAgoMs"].is_number());
    EXPECT_GT(ov["reportsHandled"].get<int>() + ov["timeouts"].get<int>() + 1, 0);
    std::string modules;
    for (const auto& m : ov["modules"])
        modules += std::to_string(m["unit"].get<int>()) + m["type"].get<std::string>() + " ";
    EXPECT_EQ(modules, "1SECU16 2SECU16I 3RELAY-08 4SECU16IR ");

    std::string vars;  // the mirrored ones, each with its code and value
    for (const auto& v : s["variables"])
        if (v["mirrored"] == true && v["code"].is_string() && v["value"].is_number())
            vars += std::to_string(v["number"].get<int>()) + " ";
        else if (v["mirrored"] != false || !v["code"].is_null() || !v["value"].is_null())
            vars += "?" + v.dump() + " ";
    EXPECT_EQ(s["variables"].size(), 128u);
    EXPECT_EQ(vars, "0 1 2 3 127 ");
    std::string points;  // per module: each point's kind, then + mirrored with a state, - not mirrored
    for (const auto& m : s["modules"]) {
        for (const auto& p : m["points"])
            points += p["kind"].get<std::string>().substr(0, 1) + (p["mirrored"] == true && p["on"].is_boolean() ? "+"
                                                                   : p["mirrored"] == false && p["on"].is_null() ? "-"
                                                                                                                 : "?");
        points += "|";
    }
    EXPECT_EQ(points, "i+i+i+i+i+i+i+i+o+o+o+o+o+o+o+o+|i-i-i-i-i-i-i-i-i-i-i-i-i-i-i-i-|o+o+o-o-o-o-o-o-||");
    EXPECT_TRUE(s["irLabels"].is_array());
    EXPECT_TRUE(s["events"].is_array());
}

TEST(WebLive, the_first_message_is_the_snapshot_then_one_message_per_change) {
    WebRig w;
    auto client = w.live(w.origin());
    ASSERT_FALSE(client->closed);
    ASSERT_EQ(client->messages.size(), 1u);
    EXPECT_EQ(client->messages[0]["type"], "state");
    EXPECT_EQ(client->messages[0]["state"]["variables"].size(), 128u);

    w.c.rig.controller.setVariable(2, 1234);
    w.c.rig.run(1500);
    ASSERT_TRUE(spinUntil([&] { return client->last("variable").has_value(); }));
    EXPECT_EQ(*client->last("variable"), (json{{"type", "variable"}, {"number", 2}, {"value", 1234}}));

    const bool wasOn = w.get("/api/state").json()["modules"][0]["points"][4]["on"].get<bool>();
    w.c.rig.controller.changeInput(1, 4, wasOn);  // a stored bit that is set reads as 0: off
    w.c.rig.run(300);
    ASSERT_TRUE(spinUntil([&] { return client->last("point").has_value(); }));
    EXPECT_EQ(*client->last("point"),
              (json{{"type", "point"}, {"unit", 1}, {"point", 4}, {"on", !wasOn}, {"value", wasOn ? 0 : 1}}));

    ASSERT_TRUE(spinUntil([&] { return client->last("event").has_value(); }));
    EXPECT_EQ((*client->last("event"))["event"]["kind"], "input");

    w.log.add({.time = "2026-12-07 19:20:00", .level = "error", .source = "Ocelot", .text = "boom"});
    ASSERT_TRUE(spinUntil([&] { return client->last("log").has_value(); }));
    EXPECT_EQ((*client->last("log"))["line"]["text"], "boom");
    EXPECT_TRUE(spinUntil([&] { return client->last("overview").has_value(); }, 3000));
}

TEST(WebLive, a_socket_from_another_origin_or_path_is_refused_before_it_hears_anything) {
    WebRig w;
    const QString others[] = {"http://evil.example", "", "http://127.0.0.1:1", "null"};
    for (const auto& origin : others) {
        auto client = w.live(origin);
        EXPECT_TRUE(spinUntil([&] { return client->closed; })) << origin.toStdString();
        EXPECT_TRUE(client->messages.empty()) << origin.toStdString();
    }
    const std::string handshake =
        "Upgrade: websocket\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";
    EXPECT_EQ(w.get("/api/live", handshake + "Origin: http://evil.example\r\n").status, 403);
    EXPECT_EQ(w.get("/api/other", handshake + "Origin: " + w.origin().toStdString() + "\r\n").status, 404);
    auto wrongPath = w.live(w.origin(), {}, "/api/other");
    EXPECT_TRUE(spinUntil([&] { return wrongPath->closed; }));
    EXPECT_TRUE(wrongPath->messages.empty());
    EXPECT_EQ(w.server->clients(), 0u);
}

// A WebSocket handshake on a plain socket that then reads nothing.
std::unique_ptr<QTcpSocket> deafClient(WebRig& w) {
    auto s = std::make_unique<QTcpSocket>();
    s->setReadBufferSize(1);
    s->connectToHost("127.0.0.1", w.server->port());
    EXPECT_TRUE(spinUntil([&] { return s->state() == QAbstractSocket::ConnectedState; }));
    s->write("GET /api/live HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(w.server->port()) +
             "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
             "Sec-WebSocket-Version: 13\r\nOrigin: " +
             w.origin().toLatin1() + "\r\n\r\n");
    return s;
}

TEST(WebLive, a_client_that_reads_nothing_is_dropped_and_the_others_keep_up) {
    web::ServerOptions o;
    o.queueLimit = 64;
    o.socketBacklogBytes = 16 * 1024;
    WebRig w(o);
    auto reader = w.live(w.origin());
    auto deaf = deafClient(w);
    ASSERT_TRUE(spinUntil([&] { return w.server->clients() == 2; }));

    const auto readerHas = [&](int n) {
        const auto e = reader->last("event");
        return e && (*e)["event"]["text"].get<std::string>().find("code " + std::to_string(n)) != std::string::npos;
    };
    // Events are never merged: each one queues for the deaf client until it is dropped. The
    // reader has each batch before the next, however slow the machine.
    int sent = 0;
    for (; sent < 200'000 && w.server->dropped() == 0; ++sent) {
        w.c.rig.host->record(host::HostEvent{.kind = host::HostEvent::Kind::IR, .value = sent});
        if (sent % 50 == 49) {
            ASSERT_TRUE(spinUntil([&] { return readerHas(sent) || w.server->dropped() > 0; }));
        }
    }
    EXPECT_EQ(w.server->dropped(), 1u) << "after " << sent << " events";
    EXPECT_EQ(w.server->clients(), 1u);
    ASSERT_TRUE(spinUntil([&] { return readerHas(sent - 1); })) << "the reader got every event up to the last";
    EXPECT_FALSE(reader->closed);
}

}  // namespace
}  // namespace varnel::test
