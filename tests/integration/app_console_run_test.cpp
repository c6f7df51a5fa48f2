// `varnel run` in real time, as a child process, against the simulator on a
// pseudo-terminal served from this process.
#include <gtest/gtest.h>

#include <csignal>

#include "sim/pty/pty_simulator.h"
#include "sim_demo.h"
#include "varnel_process.h"

namespace varnel {
namespace {

using test::q;

// The house code letter a console line names, e.g. "house codes Q and R" -> Q.
std::string letterAfter(const std::string& text, const std::string& lead) {
    const auto at = text.find(lead);
    return at == std::string::npos || at + lead.size() >= text.size() ? "" : text.substr(at + lead.size(), 1);
}

// What reaches the host devices and the wire, line by line, is in tests/engine and
// tests/console; here the run's own part: the order of --exec and typed lines, the end
// of input and a hang-up.
TEST(VarnelRunConsole, mirrors_controller_changes_and_sends_console_commands_in_order) {
    sim::Controller controller(app::demoController());
    sim::pty::PtySimulator pty(controller, sim::WireTiming{.usPerByte = 10});
    ASSERT_EQ(pty.start(), std::nullopt);
    test::TempDir dir;
    const auto hostDir = dir.path() / "host";
    test::LiveVarnel run({"run", "--port", QString::fromStdString(pty.path()), "--host-dir", q(hostDir),
                          "--mirror-vars", "0-7", "--exec", "var 12 300"});
    // Typed during start-up: it waits for the start-up and for the --exec line.
    run.type("var 14 9\n");
    ASSERT_NE(run.waitFor("var 14 9: written", 0, 40'000), std::string::npos) << run.said();
    EXPECT_LT(run.out().find("var 12 300: written"), run.out().find("var 14 9: written"));
    EXPECT_EQ(controller.variable(14), 9);
    const std::string vars = letterAfter(run.out(), "house codes ");
    ASSERT_FALSE(vars.empty()) << run.out();
    controller.setVariable(3, 555);
    ASSERT_NE(run.waitFor(vars + "4 (Variable 3, Ocelot) value changed to 555"), std::string::npos) << run.said();

    // Typed all at once: each waits for the one before to finish on the wire.
    run.type("analog 1 1\nset " + vars + "6 77\nparam 1 2\n");
    ASSERT_NE(run.waitFor("param 1 2: 201", 0, 30'000), std::string::npos) << run.said();
    const std::string& out = run.out();
    EXPECT_LT(out.find("analog 1 1: 180"), out.find("set " + vars + "6 77: "));
    EXPECT_LT(out.find("set " + vars + "6 77: "), out.find("param 1 2: 201"));
    EXPECT_EQ(out.find("waiting for the controller"), std::string::npos) << out;

    // The end of standard input ends the console, not the run: mirroring goes on.
    run.endInput();
    controller.setVariable(4, 4242);
    EXPECT_NE(run.waitFor("(Variable 4, Ocelot) value changed to 4242", run.out().size()), std::string::npos)
        << run.said();

    // A hang-up ends the run cleanly, with the devices saved for the next start.
    ::kill(static_cast<pid_t>(run.pid()), SIGHUP);
    ASSERT_TRUE(run.waitForExit());
    EXPECT_EQ(run.exitCode(), 0) << run.said();
    EXPECT_EQ(controller.variable(5), 77);
    EXPECT_EQ(controller.invalidFrames() + controller.strayBytes(), 0u);
    const auto d = test::savedDevice(hostDir, vars + "5");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->value, 4242);
}

}  // namespace
}  // namespace varnel
