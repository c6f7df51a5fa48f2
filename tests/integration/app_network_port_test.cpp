// `varnel run --port tcp://...` and `rfc2217://...` through a real ser2net in front
// of `varnel sim --link`: the controller and its modules are found, events pass both
// ways, and a serial server killed and started again brings the link back by itself.
// A stream cut a byte a segment is the telnet codec's case, in tests/platform.
#include <gtest/gtest.h>

#include <csignal>

#include "ser2net.h"
#include "varnel_process.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::q;
using test::Ser2net;

// The start-up's summary line, from "Start-up: done in" to the end of its line.
std::string startupResult(const std::string& out, std::size_t from = 0) {
    const auto at = out.find("Start-up: done in ", from);
    return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at);
}

// Raw and RFC 2217 side by side: the start-ups overlap. Through RFC 2217 the serial
// server is then killed and started again: the link comes back by itself.
TEST(VarnelNetworkPort, through_ser2net_the_controller_is_found_events_pass_and_the_link_comes_back) {
    struct Path {
        Ser2net::Kind kind;
        test::TempDir dir{};
        std::unique_ptr<test::LiveVarnel> sim{};
        std::unique_ptr<Ser2net> server{};
        std::unique_ptr<test::LiveVarnel> run{};
    };
    Path paths[] = {{Ser2net::Kind::Raw}, {Ser2net::Kind::Rfc2217}};
    for (auto& p : paths) {
        const fs::path link = p.dir.path() / "ttyOcelot";
        test::writeFile(p.dir.path() / "x10.txt", "0 x10 A 0\n100 x10 A 18\nrepeat 1000\n");
        p.sim = test::startSimulator(link, p.dir.path() / "x10.txt");
        ASSERT_TRUE(fs::exists(link)) << p.sim->said();
        p.server = std::make_unique<Ser2net>(p.dir.path(), link.string(), p.kind);
        ASSERT_EQ(p.server->start(), std::nullopt);
        p.run = std::make_unique<test::LiveVarnel>(QStringList{"run", "--port", QString::fromStdString(p.server->url()),
                                                               "--host-dir", q(p.dir.path() / "host")});
    }
    for (auto& [kind, dir, sim, server, run] : paths) {
        SCOPED_TRACE(kind == Ser2net::Kind::Raw ? "raw" : "rfc2217");
        const auto done = run->waitFor("Start-up: done in ", 0, 60'000);
        ASSERT_NE(done, std::string::npos) << run->said();
        EXPECT_NE(startupResult(run->out()).find(": ok, 4 modules"), std::string::npos) << run->said();
        ASSERT_NE(run->waitFor("Event: ", done, 30'000), std::string::npos) << run->said();
        run->type("var 1 5\nstatus\n");
        EXPECT_NE(run->waitFor("var 1 5: written", 0, 30'000), std::string::npos) << run->said();
        EXPECT_NE(run->waitFor("(" + server->url() + "), open, started", 0, 10'000), std::string::npos) << run->said();
        EXPECT_EQ(run->out().find("Controller link lost"), std::string::npos) << run->said();

        if (kind == Ser2net::Kind::Rfc2217) {
            server->kill();
            const auto lost = run->waitFor("Controller link lost: " + server->url() + ": ", 0, 30'000);
            ASSERT_NE(lost, std::string::npos) << run->said();
            run->waitUntil(3'000, [] { return false; });  // a few tries meet a refused connection
            ASSERT_EQ(server->start(), std::nullopt);
            const auto back = run->waitFor("Controller link back after ", lost, 60'000);
            ASSERT_NE(back, std::string::npos) << run->said();
            EXPECT_NE(run->waitFor("Event: ", back, 30'000), std::string::npos) << run->said();
            EXPECT_EQ(test::occurrences(run->out(), "Controller link lost"), 1u) << run->said();
            EXPECT_EQ(test::occurrences(run->out(), "Controller link back"), 1u) << run->said();
        }
        run->terminate();
        ASSERT_TRUE(run->waitForExit(20'000));
        EXPECT_EQ(run->exitCode(), 0) << run->said();
    }
}

}  // namespace
}  // namespace varnel
