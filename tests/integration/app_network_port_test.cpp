// `varnel run --port tcp://...` and `rfc2217://...`: through a real ser2net in front
// of `varnel sim --link`, and through a far end of the test's own that sends one byte
// per TCP segment. The controller and its modules are found, events pass both ways,
// and a serial server killed and started again brings the link back by itself.
#include <gtest/gtest.h>

#include <csignal>

#include "net_far_end.h"
#include "ser2net.h"
#include "sim_demo.h"
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

// Raw and RFC 2217 through ser2net, and RFC 2217 from a far end that sends one byte per
// TCP segment (the telnet decoding's hard case), side by side: the start-ups overlap.
// Through ser2net's RFC 2217 the serial server is then killed and started again: the
// link comes back by itself.
TEST(VarnelNetworkPort, through_ser2net_or_a_byte_per_segment_the_controller_is_found_events_pass_and_come_back) {
    sim::Controller controller(app::demoController());
    test::NetFarEnd farEnd({.telnet = true, .bytePerSegment = true, .controller = &controller});
    const std::string farUrl = "rfc2217://127.0.0.1:" + std::to_string(farEnd.port());
    test::TempDir farDir;
    test::LiveVarnel far({"run", "--port", QString::fromStdString(farUrl), "--host-dir", q(farDir.path())});

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

    SCOPED_TRACE("one byte per segment");
    ASSERT_NE(far.waitFor("Start-up: done in ", 0, 60'000), std::string::npos) << far.said();
    EXPECT_NE(startupResult(far.out()).find(": ok, 4 modules"), std::string::npos) << far.said();
    far.type("var 2 300\n");
    ASSERT_NE(far.waitFor("var 2 300: written", 0, 30'000), std::string::npos) << far.said();
    EXPECT_EQ(controller.variable(2), 300);
    controller.emitX10Received(0, 0);   // A1
    controller.emitX10Received(0, 18);  // on
    EXPECT_NE(far.waitFor("Event: ", 0, 10'000), std::string::npos) << far.said();
    far.terminate();
    ASSERT_TRUE(far.waitForExit(20'000));
    EXPECT_EQ(controller.invalidFrames(), 0u);
    EXPECT_EQ(controller.strayBytes(), 0u);
}

TEST(VarnelNetworkPort, a_serial_server_that_cannot_be_reached_ends_a_timed_run_as_a_missing_device_does) {
    const std::uint16_t closed = test::freeTcpPort();
    test::TempDir dir;
    const std::string url = "tcp://127.0.0.1:" + std::to_string(closed);
    const auto out =
        test::runVarnel({"run", "--port", QString::fromStdString(url), "--host-dir", q(dir.path()), "--for", "30"});
    EXPECT_EQ(out.exitCode, 1);
    EXPECT_EQ(out.err, "varnel: " + url + ": connection refused\n");

    const auto bad = test::runVarnel({"run", "--port", "rfc2217://box", "--host-dir", q(dir.path())});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("'rfc2217://box': needs :PORT after the host"), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace varnel
