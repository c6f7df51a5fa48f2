// `varnel run --http` and `varnel web-password` end to end: the stored hash the next
// run asks for, and a page that serves.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <nlohmann/json.hpp>

#include "host/ini_text.h"
#include "varnel_process.h"
#include "web/password.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::q;
using test::runVarnel;

std::uint16_t freePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// One GET, answered in full (the server closes after it).
std::string httpGet(std::uint16_t port, const std::string& path) {
    QTcpSocket s;
    s.connectToHost("127.0.0.1", port);
    QElapsedTimer t;
    t.start();
    while (s.state() != QAbstractSocket::ConnectedState && t.elapsed() < 5000) QCoreApplication::processEvents();
    s.write(QByteArray::fromStdString("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"));
    QByteArray got;
    while (s.state() != QAbstractSocket::UnconnectedState && t.elapsed() < 5000) {
        QCoreApplication::processEvents();
        got += s.readAll();
    }
    got += s.readAll();
    return got.toStdString();
}

TEST(WebPageRun, web_password_keeps_a_hash_that_the_next_run_asks_for) {
    test::TempDir dir;
    test::writeFile(dir.path() / "pw", "open sesame\n");
    const auto set =
        runVarnel({"web-password", "--host-dir", q(dir.path() / "host")}, {}, (dir.path() / "pw").string());
    ASSERT_EQ(set.exitCode, 0) << set.err;
    const std::string settings = test::readFile(dir.path() / "host" / "config" / "settings.ini");
    EXPECT_EQ(settings.find("open sesame"), std::string::npos);
    const auto hash = host::iniGet(settings, "varnel", "http_password");
    ASSERT_TRUE(hash) << settings;
    EXPECT_TRUE(web::passwordMatches("open sesame", *hash));

    const std::uint16_t port = freePort();
    test::LiveVarnel run({"run", "--simulate", "--no-demo", "--host-dir", q(dir.path() / "host"), "--http",
                          QString("0.0.0.0:%1").arg(port), "--exec", "status"});
    ASSERT_NE(run.waitFor("web page http://0.0.0.0:" + std::to_string(port) + "/"), std::string::npos) << run.said();
    const std::string state = httpGet(port, "/api/state");
    EXPECT_TRUE(state.starts_with("HTTP/1.1 401")) << state;
    const std::string session = httpGet(port, "/api/session");
    EXPECT_NE(session.find(R"("auth":"password")"), std::string::npos) << session;
    run.endInput();
    run.interrupt();
    EXPECT_TRUE(run.waitForExit());
}

TEST(WebPageRun, a_loopback_page_serves_the_simulators_modules) {
    test::TempDir dir;
    const std::uint16_t port = freePort();
    test::LiveVarnel run({"run", "--simulate", "--host-dir", q(dir.path()), "--http", QString::number(port)});
    ASSERT_NE(run.waitFor("Web page http://127.0.0.1:" + std::to_string(port) + "/"), std::string::npos) << run.said();
    const std::string page = httpGet(port, "/");
    EXPECT_TRUE(page.starts_with("HTTP/1.1 200")) << page.substr(0, 200);
    const std::string state = httpGet(port, "/api/state");
    const auto body = nlohmann::json::parse(state.substr(state.find("\r\n\r\n") + 4), nullptr, false);
    ASSERT_FALSE(body.is_discarded()) << state.substr(0, 300);
    EXPECT_EQ(body["overview"]["modules"].size(), 4u) << body["overview"].dump();
    EXPECT_EQ(body["overview"]["http"], "http://127.0.0.1:" + std::to_string(port) + "/");
    run.endInput();
    run.interrupt();
    EXPECT_TRUE(run.waitForExit());
    EXPECT_EQ(run.exitCode(), 0) << run.said();
}

}  // namespace
}  // namespace varnel
