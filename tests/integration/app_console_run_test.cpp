// `varnel run` in real time, as a child process, against the simulator on a
// pseudo-terminal served from this process: start-up, mirroring of controller changes
// into host devices, console commands reaching the controller one exchange at a time, and
// what a hang-up leaves for the next start.
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

TEST(VarnelRunConsole, mirrors_controller_changes_and_sends_console_commands_in_order) {
    sim::Controller controller(app::demoController());
    sim::pty::PtySimulator pty(controller, sim::WireTiming{.usPerByte = 10});
    ASSERT_EQ(pty.start(), std::nullopt);
    test::TempDir dir;
    const auto hostDir = dir.path() / "host";
    test::LiveVarnel run({"run", "--port", QString::fromStdString(pty.path()), "--host-dir", q(hostDir),
                          "--mirror-vars", "0-7", "--mirror-points", "1:0-9", "--exec", "var 12 300"});
    // Typed during start-up: it waits for the start-up and for the --exec line.
    run.type("var 14 9\n");
    ASSERT_NE(run.waitFor("var 14 9: written", 0, 40'000), std::string::npos) << run.said();
    EXPECT_LT(run.out().find("var 12 300: written"), run.out().find("var 14 9: written"));
    EXPECT_EQ(controller.variable(12), 300);
    EXPECT_EQ(controller.variable(14), 9);
    const std::string vars = letterAfter(run.out(), "house codes ");
    const std::string unit1 = letterAfter(run.out(), "unit 1 (SECU16, house ");
    ASSERT_FALSE(vars.empty() || unit1.empty()) << run.out();

    // The controller changes a variable and an input.
    controller.setVariable(3, 555);
    ASSERT_NE(run.waitFor(vars + "4 (Variable 3, Ocelot) value changed to 555"), std::string::npos) << run.said();
    ASSERT_TRUE(controller.changeInput(1, 2, false));
    ASSERT_NE(run.waitFor(unit1 + "3 (Input 3, Secu16 Unit 1) set on", run.out().size()), std::string::npos)
        << run.said();

    // Host commands typed all at once: each waits for the one before to finish on the wire.
    run.type("analog 1 1\nset " + unit1 + "9 on\nset " + vars + "6 77\nparam 1 2\n");
    ASSERT_NE(run.waitFor("param 1 2: 201", 0, 30'000), std::string::npos) << run.said();
    const std::string& out = run.out();
    EXPECT_LT(out.find("analog 1 1: 180"), out.find("set " + unit1 + "9 on: "));
    EXPECT_LT(out.find("set " + vars + "6 77: "), out.find("param 1 2: 201"));
    EXPECT_EQ(out.find("waiting for the controller"), std::string::npos) << out;
    run.waitFor("Variable 5, Ocelot) value changed to 77");
    EXPECT_EQ(controller.variable(5), 77);
    bool pointWritten = false;
    for (const auto& f : controller.framesOf(sim::FrameKind::Command, 0x33))
        pointWritten = pointWritten || (f.bytes[2] == 1 && f.bytes[4] == 1);
    EXPECT_TRUE(pointWritten);

    // The end of standard input ends the console, not the run: mirroring goes on.
    run.endInput();
    controller.setVariable(4, 4242);
    EXPECT_NE(run.waitFor("(Variable 4, Ocelot) value changed to 4242", run.out().size()), std::string::npos)
        << run.said();

    // A hang-up ends the run cleanly, with the devices saved.
    ::kill(static_cast<pid_t>(run.pid()), SIGHUP);
    ASSERT_TRUE(run.waitForExit());
    EXPECT_EQ(run.exitCode(), 0) << run.said();
    EXPECT_EQ(controller.invalidFrames(), 0u);
    EXPECT_EQ(controller.strayBytes(), 0u);
    EXPECT_TRUE(controller.rejectedFrames().empty());

    // What the host keeps for its next start.
    const struct {
        std::string code;
        int value, status;  // -1: not checked
    } kept[] = {{vars + "4", 555, -1}, {vars + "5", 4242, -1}, {unit1 + "3", -1, 2}};
    for (const auto& k : kept) {
        const auto d = test::savedDevice(hostDir, k.code);
        ASSERT_TRUE(d) << k.code;
        EXPECT_EQ(k.value < 0 ? k.value : d->value, k.value) << k.code;
        EXPECT_EQ(k.status < 0 ? k.status : d->Status, k.status) << k.code;
    }
    EXPECT_EQ(test::readFile(hostDir / "logs" / "host.log").find("Timeout"), std::string::npos);
}

}  // namespace
}  // namespace varnel
