// `varnel run` in real time, as a child process, against the simulator on a
// pseudo-terminal served from this process: start-up, mirroring of controller changes
// into host devices, and console commands reaching the controller, from --exec and
// from standard input, without two exchanges ever sharing the wire.
#include <gtest/gtest.h>

#include <QProcess>
#include <csignal>
#include <regex>

#include "host/embedded_host.h"
#include "platform/qt/qt_event_loop.h"
#include "rig.h"
#include "sim/pty/pty_simulator.h"
#include "sim_demo.h"
#include "varnel_process.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::q;

// The plug-in as a child process; the test keeps its own event loop turning (the
// simulator lives on it) while it waits for what the child prints.
class LiveRun {
public:
    LiveRun(sim::Controller& controller, const QStringList& extra) : pty_(controller) {
        if (auto err = pty_.start()) throw std::runtime_error(*err);
        QStringList args{"run", "--port", QString::fromStdString(pty_.path()), "--host-dir", q(hostDir())};
        args << extra;
        p_.setProcessEnvironment(test::varnelEnvironment(user_.path()));
        p_.start(QStringLiteral(VARNEL_EXE), args);
        if (!p_.waitForStarted()) throw std::runtime_error("varnel did not start");
    }
    ~LiveRun() {
        if (p_.state() != QProcess::NotRunning) {
            p_.kill();
            p_.waitForFinished();
        }
    }

    fs::path hostDir() const { return dir_.path() / "host"; }
    void type(const std::string& lines) { p_.write(lines.c_str(), static_cast<qint64>(lines.size())); }
    void endInput() { p_.closeWriteChannel(); }
    void interrupt() { ::kill(static_cast<pid_t>(p_.processId()), SIGINT); }

    // Waits until the output holds `text` (from `from` on); its position, or npos.
    std::size_t waitFor(const std::string& text, int ms = 20'000, std::size_t from = 0) {
        std::size_t at = std::string::npos;
        loop_.waitUntil(ms, [&] {
            collect();
            at = out_.find(text, from);
            return at != std::string::npos || p_.state() == QProcess::NotRunning;
        });
        collect();
        return out_.find(text, from);
    }
    bool waitForExit(int ms = 20'000) {
        loop_.waitUntil(ms, [&] { return p_.state() == QProcess::NotRunning; });
        collect();
        return p_.state() == QProcess::NotRunning;
    }
    int exitCode() const { return p_.exitStatus() == QProcess::NormalExit ? p_.exitCode() : -1; }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }
    std::string said() const { return out_ + "\n--- stderr ---\n" + err_; }

private:
    void collect() {
        out_ += p_.readAllStandardOutput().toStdString();
        err_ += p_.readAllStandardError().toStdString();
    }
    QtEventLoop loop_;
    test::TempDir dir_;
    test::TempDir user_;
    sim::pty::PtySimulator pty_;
    QProcess p_;
    std::string out_, err_;
};

// The house code letter a console line names, e.g. "house codes Q and R" -> Q.
std::string letterAfter(const std::string& text, const std::string& lead) {
    const auto at = text.find(lead);
    return at == std::string::npos || at + lead.size() >= text.size() ? "" : text.substr(at + lead.size(), 1);
}

std::optional<host::DeviceRecord> savedDevice(const fs::path& hostDir, const std::string& code) {
    test::Rig rig;
    EmbeddedHost host(hostDir, rig.userSettings, rig.launcher);
    for (const auto& d : host.devices())
        if (d.code() == code) return d;
    return std::nullopt;
}

void expectCleanWire(const sim::Controller& controller) {
    EXPECT_EQ(controller.invalidFrames(), 0u);
    EXPECT_EQ(controller.strayBytes(), 0u);
    EXPECT_TRUE(controller.rejectedFrames().empty());
}

TEST(VarnelRunConsole, mirrors_controller_changes_and_sends_console_commands_in_order) {
    sim::Controller controller(app::demoController());
    LiveRun run(controller, {"--mirror-vars", "0-7", "--mirror-points", "1:0-9", "--exec", "var 12 300"});
    // Typed during start-up: it waits for the start-up and for the --exec line.
    run.type("var 14 9\n");

    ASSERT_NE(run.waitFor("var 14 9: written", 40'000), std::string::npos) << run.said();
    EXPECT_LT(run.out().find("var 12 300: written"), run.out().find("var 14 9: written"));
    EXPECT_EQ(controller.variable(12), 300);
    EXPECT_EQ(controller.variable(14), 9);
    const std::string vars = letterAfter(run.out(), "house codes ");
    const std::string unit1 = letterAfter(run.out(), "unit 1 (SECU16, house ");
    ASSERT_FALSE(vars.empty()) << run.out();
    ASSERT_FALSE(unit1.empty()) << run.out();

    // The controller changes: a variable and an input.
    controller.setVariable(3, 555);
    ASSERT_NE(run.waitFor(vars + "4 (Variable 3, Ocelot) value changed to 555"), std::string::npos) << run.said();
    const std::size_t mark = run.out().size();
    ASSERT_TRUE(controller.changeInput(1, 2, false));
    ASSERT_NE(run.waitFor(unit1 + "3 (Input 3, Secu16 Unit 1) set on", 20'000, mark), std::string::npos) << run.said();

    // Host commands, typed all at once: each waits for the one before to finish on the wire.
    run.type("analog 1 1\nset " + unit1 + "9 on\nset " + vars + "6 77\nparam 1 2\n");
    ASSERT_NE(run.waitFor("param 1 2: 201", 30'000), std::string::npos) << run.said();
    const std::string& out = run.out();
    EXPECT_NE(out.find("analog 1 1: 180"), std::string::npos) << out;
    EXPECT_LT(out.find("analog 1 1: 180"), out.find("set " + unit1 + "9 on: "));
    EXPECT_LT(out.find("set " + vars + "6 77: "), out.find("param 1 2: 201"));
    EXPECT_EQ(out.find("waiting for the controller"), std::string::npos) << out;
    // A line that comes in while a command waits for the controller runs after it.
    const std::size_t beforeSlow = run.out().size();
    run.type("param 1 3\n");
    run.waitFor("never printed", 600);
    run.type("var 15 5\n");
    ASSERT_NE(run.waitFor("var 15 5: written", 20'000, beforeSlow), std::string::npos) << run.said();
    EXPECT_LT(run.out().find("param 1 3: 301", beforeSlow), run.out().find("var 15 5: written", beforeSlow));
    EXPECT_EQ(controller.variable(15), 5);
    EXPECT_EQ(run.out().find("waiting for the controller"), std::string::npos) << run.out();
    run.waitFor("Variable 5, Ocelot) value changed to 77");
    EXPECT_EQ(controller.variable(5), 77);
    bool pointWritten = false;
    for (const auto& f : controller.framesOf(sim::FrameKind::Command, 0x33))
        pointWritten = pointWritten || (f.bytes[2] == 1 && f.bytes[4] == 1);
    EXPECT_TRUE(pointWritten);

    // The end of standard input ends the console, not the run: mirroring goes on.
    run.endInput();
    const std::size_t afterEof = run.out().size();
    controller.setVariable(4, 4242);
    EXPECT_NE(run.waitFor("(Variable 4, Ocelot) value changed to 4242", 20'000, afterEof), std::string::npos)
        << run.said();

    run.interrupt();
    ASSERT_TRUE(run.waitForExit());
    EXPECT_EQ(run.exitCode(), 0) << run.said();
    expectCleanWire(controller);

    // What the host keeps for its next start.
    const auto var3 = savedDevice(run.hostDir(), vars + "4");
    ASSERT_TRUE(var3);
    EXPECT_EQ(var3->value, 555);
    const auto var4 = savedDevice(run.hostDir(), vars + "5");
    ASSERT_TRUE(var4);
    EXPECT_EQ(var4->value, 4242);
    const auto input = savedDevice(run.hostDir(), unit1 + "3");
    ASSERT_TRUE(input);
    EXPECT_EQ(input->Status, 2);
    const std::string log = test::readFile(run.hostDir() / "logs" / "host.log");
    EXPECT_NE(log.find("Using Comm Port"), std::string::npos);
    EXPECT_EQ(log.find("Timeout"), std::string::npos) << log;
}

TEST(VarnelRunConsole, a_script_of_exec_lines_runs_and_quits_on_its_own) {
    sim::Controller controller(app::demoController());
    LiveRun run(controller, {"--exec", "var 20 1234", "--exec", "screen --clear 2 1 Hello there", "--exec", "quit",
                             "--exec", "var 21 1"});
    ASSERT_TRUE(run.waitForExit(40'000)) << run.said();
    EXPECT_EQ(run.exitCode(), 0) << run.said();
    EXPECT_EQ(controller.variable(20), 1234);
    // Nothing after the quit runs.
    EXPECT_EQ(controller.variable(21), 0);
    ASSERT_EQ(controller.screenWrites().size(), 1u);
    EXPECT_EQ(controller.screenWrites()[0].text, "Hello there");
    EXPECT_TRUE(controller.screenWrites()[0].clear());
    EXPECT_NE(run.out().find("quit: stopping"), std::string::npos) << run.out();
    expectCleanWire(controller);
}

}  // namespace
}  // namespace varnel
