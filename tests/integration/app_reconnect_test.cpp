// `varnel run` on a line that is not there yet or goes away and comes back, and stops
// that arrive while it waits: for a missing port, during a start-up nobody answers and
// during a command left unanswered.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>

#include "platform/qt/serial_devices.h"
#include "pty_pair.h"
#include "varnel_process.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::q;

// One run walks both outages: a port missing at start, then a simulator killed and a
// new one started on the same path.
TEST(VarnelReconnect, a_port_missing_at_start_or_lost_later_is_waited_for_and_events_come_back) {
    test::TempDir dir;
    const fs::path link = dir.path() / "dev" / "ttyOcelot";
    const fs::path script = dir.path() / "x10.txt";
    test::writeFile(script, "0 x10 A 0\n100 x10 A 18\nrepeat 1000\n");
    test::LiveVarnel run({"run", "--port", q(link), "--host-dir", q(dir.path() / "host")});
    const std::string waiting = "varnel: Serial port " + link.string() +
                                " not found (no such device); waiting for it, trying again every 1 to 30 s\n";
    ASSERT_NE(run.waitFor(waiting, 0, 20'000), std::string::npos) << run.said();
    run.waitUntil(4'000, [] { return false; });  // three quiet tries; the folder appears meanwhile
    fs::create_directories(link.parent_path());
    run.waitUntil(500, [] { return false; });
    auto sim = test::startSimulator(link, script);
    const auto done = run.waitFor("Start-up: done in ", 0, 60'000);
    ASSERT_NE(done, std::string::npos) << run.said();
    ASSERT_NE(run.waitFor("Event: ", done, 30'000), std::string::npos) << run.said();
    EXPECT_EQ(test::occurrences(run.said(), "waiting for it"), 1u) << run.said();
    EXPECT_EQ(test::occurrences(run.out(), "varnel: " + link.string() + " is there now\n"), 1u) << run.said();

    ::kill(static_cast<pid_t>(sim->pid()), SIGKILL);
    ASSERT_TRUE(sim->waitForExit());
    const auto lost = run.waitFor("Controller link lost: ", 0, 30'000);
    ASSERT_NE(lost, std::string::npos) << run.said();
    run.waitUntil(3'000, [] { return false; });  // a few quiet tries on a dangling link

    sim = test::startSimulator(link, script);
    const auto back = run.waitFor("Controller link back after ", lost, 60'000);
    ASSERT_NE(back, std::string::npos) << run.said();
    EXPECT_NE(run.waitFor("Event: ", back, 30'000), std::string::npos) << run.said();
    EXPECT_EQ(test::occurrences(run.out(), "Controller link lost"), 1u) << run.said();
    // The outage and the recovery are a line each; events go on as they come.
    std::istringstream between(run.out().substr(lost, run.out().find('\n', back) - lost));
    std::vector<std::string> lines;
    for (std::string line; std::getline(between, line);)
        if (!line.starts_with("Event: ")) lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u) << run.said();
    EXPECT_NE(lines[1].find("Varnel: Controller link back after "), std::string::npos) << lines[1];

    // A stop while a command waits for a controller that stopped answering ends the run.
    ::kill(static_cast<pid_t>(sim->pid()), SIGSTOP);  // the line stays, the answers stop
    run.type("var 1 5\n");
    run.waitUntil(500, [] { return false; });
    run.terminate();
    const bool ended = run.waitForExit(15'000);
    ::kill(static_cast<pid_t>(sim->pid()), SIGCONT);
    ASSERT_TRUE(ended) << run.said();
    EXPECT_EQ(run.exitCode(), 0) << run.said();
}

TEST(VarnelStop, a_stop_while_the_port_is_missing_or_nobody_answers_ends_the_run_at_once_and_frees_the_port) {
    const struct {
        int signo;
        bool missing;  // the port is not there; else nobody answers on it
    } cases[] = {{SIGTERM, true}, {SIGINT, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signo);
        test::PtyPair silent;  // nobody answers: every step of the start-up waits out its time-out
        test::TempDir dir;
        const std::string port = c.missing ? (dir.path() / "ttyNone").string() : silent.slaveName();
        test::LiveVarnel run({"run", "--port", QString::fromStdString(port), "--host-dir", q(dir.path() / "host")});
        const char* waits = c.missing ? "waiting for it" : "Start-up: looking for the controller";
        ASSERT_NE(run.waitFor(waits, 0, 30'000), std::string::npos) << run.said();
        const auto lock = c.missing ? std::nullopt : lockFileFor(port);
        ASSERT_TRUE(c.missing || (lock && fs::exists(*lock)));
        ::kill(static_cast<pid_t>(run.pid()), c.signo);
        // Within 3 s on an idle machine (bench/stop_and_reconnect.sh measures it); generous here.
        ASSERT_TRUE(run.waitForExit(15'000)) << run.said();
        EXPECT_EQ(run.exitCode(), 0) << run.said();
        EXPECT_FALSE(lock && fs::exists(*lock));
        EXPECT_EQ(run.out().find("Start-up: done in"), std::string::npos) << run.said();
    }
}

}  // namespace
}  // namespace varnel
