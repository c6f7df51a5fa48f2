// POST /api/command: a console line run as the console runs it, its outcome and
// lines; a line that needs the controller while the plug-in waits for it runs once
// the plug-in is free, and is refused in the console's words if that takes too long.
#include <gtest/gtest.h>

#include <QTcpSocket>

#include <algorithm>

#include "web_rig.h"

namespace varnel::test {
namespace {

using nlohmann::json;

TEST(WebCommand, each_line_answers_with_the_consoles_outcome_and_lines) {
    WebRig w;
    const std::string csrf = w.csrfHeader();
    auto client = w.live(w.origin());
    // The line, its outcome and the start of its first line (null: no lines).
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"var 3 100", "done", "var 3 100"},
        {"var 300 1", "error", "var"},
        {"frobnicate", "error", "unknown command"},
        {"", "empty", nullptr},
        {"quit", "error", "quit: not from the web page"},
        {"config", "error", "config: not from the web page"},
        {"status", "done", "port:"},
        {"set NOSUCH on", "error", "set: no device with code 'NOSUCH'"},
    };
    for (const auto& [line, outcome, firstLine] : cases) {
        const auto r = w.post("/api/command", {{"line", line}}, csrf);
        ASSERT_EQ(r.status, 200) << line;
        const json j = r.json();
        EXPECT_EQ(j["outcome"], outcome) << line << ": " << j.dump();
        EXPECT_EQ(j["lines"].empty(), !firstLine) << line;
        if (firstLine && !j["lines"].empty()) {
            EXPECT_NE(j["lines"][0].get<std::string>().find(firstLine), std::string::npos) << line << ": " << j.dump();
        }
    }
    EXPECT_EQ(w.c.rig.controller.variable(3), 100);
    EXPECT_FALSE(w.c.console.quitRequested());
    // A command from the page shows as an event to every client.
    EXPECT_TRUE(spinUntil([&] {
        return std::ranges::any_of(
            client->messages, [](const json& m) { return m["type"] == "event" && m["event"]["kind"] == "command"; });
    }));
}

// Sends a command and returns the socket, whose answer comes when it comes.
std::unique_ptr<QTcpSocket> sendCommand(WebRig& w, const std::string& line, const std::string& csrf) {
    auto s = std::make_unique<QTcpSocket>();
    s->connectToHost("127.0.0.1", w.server->port());
    EXPECT_TRUE(spinUntil([&] { return s->state() == QAbstractSocket::ConnectedState; }));
    const std::string body = json{{"line", line}}.dump();
    s->write(QByteArray::fromStdString("POST /api/command HTTP/1.1\r\nHost: 127.0.0.1\r\n" + csrf +
                                       "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body));
    return s;
}

TEST(WebCommand, a_line_waits_while_the_plugin_waits_for_the_controller_and_runs_after) {
    WebRig w;
    const std::string csrf = w.csrfHeader();
    w.c.rig.ctx().gate.busy = 1;  // an exchange holds the line
    auto first = sendCommand(w, "var 5 11", csrf);
    auto second = sendCommand(w, "var 5 22", csrf);
    QByteArray a, b;
    spinUntil([&] { return w.server->waitingCommands() == 2; });
    spin(100);
    a += first->readAll();
    EXPECT_TRUE(a.isEmpty()) << "nothing answered while the line is in use";
    EXPECT_EQ(w.c.rig.controller.variable(5), 0);
    // A line that only reads answers at once.
    EXPECT_EQ(w.post("/api/command", {{"line", "status"}}, csrf).json()["outcome"], "done");

    w.c.rig.ctx().gate.busy = 0;
    ASSERT_TRUE(spinUntil([&] {
        a += first->readAll();
        b += second->readAll();
        return a.contains("\r\n\r\n{") && b.contains("\r\n\r\n{");
    }));
    EXPECT_TRUE(a.contains(R"("outcome":"done")")) << a.toStdString();
    EXPECT_TRUE(b.contains(R"("outcome":"done")")) << b.toStdString();
    EXPECT_EQ(w.c.rig.controller.variable(5), 22) << "in the order they came";

    // A line kept too long gets the console's refusal, and a gone browser is no harm.
    w.c.rig.ctx().gate.busy = 1;
    auto kept = sendCommand(w, "var 6 1", csrf);
    auto gone = sendCommand(w, "var 6 2", csrf);
    ASSERT_TRUE(spinUntil([&] { return w.server->waitingCommands() == 2; }));
    gone->abort();
    gone.reset();
    spin(50);
    w.clockMs += 31'000;
    QByteArray k;
    ASSERT_TRUE(spinUntil([&] {
        k += kept->readAll();
        return k.contains("\r\n\r\n{");
    }));
    EXPECT_TRUE(k.contains(R"("outcome":"notReady")")) << k.toStdString();
    EXPECT_TRUE(k.contains("the plug-in is waiting for the controller")) << k.toStdString();
    EXPECT_EQ(w.server->waitingCommands(), 0u);
    w.c.rig.ctx().gate.busy = 0;
    EXPECT_EQ(w.c.rig.controller.variable(6), 0);
}

}  // namespace
}  // namespace varnel::test
