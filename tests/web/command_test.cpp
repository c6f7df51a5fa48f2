// POST /api/command: a console line run as the console runs it, its outcome and
// lines; a line that needs the controller while the plug-in waits for it runs once
// the plug-in is free, and is refused in the console's words if that takes too long.
#include <gtest/gtest.h>

#include <QTcpSocket>

#include "web_rig.h"

namespace varnel::test {
namespace {

using nlohmann::json;

TEST(WebCommand, each_line_answers_with_the_consoles_outcome_and_lines) {
    WebRig w;
    const std::string csrf = w.csrfHeader();
    struct Case {
        const char* line;
        const char* outcome;
        const char* firstLine;  // start of the first line; null: no lines
    };
    const Case cases[] = {
        {"var 3 100", "done", "var 3 100"},
        {"var 300 1", "error", "var"},
        {"frobnicate", "error", "unknown command"},
        {"", "empty", nullptr},
        {"# a comment", "empty", nullptr},
        {"quit", "error", "quit: not from the web page"},
        {"exit", "error", "quit: not from the web page"},
        {"config", "error", "config: not from the web page"},
        {"status", "done", "port:"},
        {"set NOSUCH on", "error", "set: no device with code 'NOSUCH'"},
    };
    for (const auto& c : cases) {
        const auto r = w.post("/api/command", {{"line", c.line}}, csrf);
        ASSERT_EQ(r.status, 200) << c.line;
        const json j = r.json();
        EXPECT_EQ(j["outcome"], c.outcome) << c.line << ": " << j.dump();
        if (!c.firstLine) {
            EXPECT_TRUE(j["lines"].empty()) << c.line;
            continue;
        }
        ASSERT_FALSE(j["lines"].empty()) << c.line;
        EXPECT_NE(j["lines"][0].get<std::string>().find(c.firstLine), std::string::npos) << c.line << ": " << j.dump();
    }
    EXPECT_EQ(w.c.rig.controller.variable(3), 100);
    EXPECT_FALSE(w.c.console.quitRequested());
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
}

TEST(WebCommand, a_line_kept_too_long_gets_the_consoles_refusal_and_a_gone_browser_is_no_harm) {
    WebRig w;
    const std::string csrf = w.csrfHeader();
    w.c.rig.ctx().gate.busy = 1;
    auto kept = sendCommand(w, "var 6 1", csrf);
    auto gone = sendCommand(w, "var 6 2", csrf);
    ASSERT_TRUE(spinUntil([&] { return w.server->waitingCommands() == 2; }));
    gone->abort();
    gone.reset();
    spin(50);
    w.clockMs += 31'000;
    QByteArray a;
    ASSERT_TRUE(spinUntil([&] {
        a += kept->readAll();
        return a.contains("\r\n\r\n{");
    }));
    EXPECT_TRUE(a.contains(R"("outcome":"notReady")")) << a.toStdString();
    EXPECT_TRUE(a.contains("the plug-in is waiting for the controller")) << a.toStdString();
    EXPECT_EQ(w.server->waitingCommands(), 0u);
    w.c.rig.ctx().gate.busy = 0;
    EXPECT_EQ(w.c.rig.controller.variable(6), 0);
}

TEST(WebCommand, a_command_from_the_page_shows_as_an_event_to_every_client) {
    WebRig w;
    auto client = w.live(w.origin());
    EXPECT_EQ(w.post("/api/command", {{"line", "var 1 5"}}, w.csrfHeader()).json()["outcome"], "done");
    ASSERT_TRUE(spinUntil([&] {
        for (const auto& m : client->messages)
            if (m["type"] == "event" && m["event"]["kind"] == "command") return true;
        return false;
    }));
}

}  // namespace
}  // namespace varnel::test
