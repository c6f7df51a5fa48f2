// The varnel executable end to end: clear failures before anything starts,
// and a simulated run that starts, works and ends cleanly.
#include <gtest/gtest.h>

#include <QProcess>
#include <csignal>
#include <fstream>

#include "platform/qt/qt_serial_port.h"
#include "pty_pair.h"
#include "rig.h"
#include "varnel_process.h"

namespace varnel {
namespace {

using test::q;
using test::readFile;
using test::runVarnel;

TEST(VarnelRun, a_missing_device_ends_the_run_with_one_line_naming_it) {
    test::TempDir dir;
    const auto r = runVarnel({"run", "--port", "/dev/ttyVARNEL-none", "--host-dir", q(dir.path())});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "varnel: Serial port /dev/ttyVARNEL-none not found (no such device)\n");
}

TEST(VarnelRun, a_busy_device_ends_the_run_saying_so) {
    test::TempDir dir;
    test::PtyPair pty;
    QtSerialPort holder;
    ASSERT_EQ(holder.open(pty.slaveName()), std::nullopt);
    const auto r = runVarnel({"run", "--port", q(pty.slaveName()), "--host-dir", q(dir.path())});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "varnel: Serial port " + pty.slaveName() + " is busy (locked by another process)\n");
}

TEST(VarnelRun, an_unusable_host_directory_ends_the_run_naming_it) {
    test::TempDir dir;
    std::ofstream(dir.path() / "file") << "x";
    const auto r = runVarnel({"run", "--simulate", "--host-dir", q(dir.path() / "file" / "host")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find((dir.path() / "file").string()), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

TEST(VarnelRun, a_bad_demo_script_is_refused_before_anything_starts) {
    test::TempDir dir;
    std::ofstream(dir.path() / "steps.txt") << "0 var 1 5\n100 dance\n";
    const auto r = runVarnel(
        {"run", "--simulate", "--demo-script", q(dir.path() / "steps.txt"), "--host-dir", q(dir.path() / "host")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err.rfind("varnel: demo script " + (dir.path() / "steps.txt").string() + ": ", 0), 0u) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "host"));
    EXPECT_EQ(runVarnel({"sim", "--demo-script", q(dir.path() / "missing.txt")}).exitCode, 2);
}

TEST(VarnelRun, usage_errors_exit_with_two) {
    EXPECT_EQ(runVarnel({"run", "--port"}).exitCode, 2);
    EXPECT_EQ(runVarnel({"run", "--simulate", "--port", "/dev/ttyS0"}).exitCode, 2);
    EXPECT_EQ(runVarnel({"launch"}).exitCode, 2);
    EXPECT_EQ(runVarnel({"--help"}).exitCode, 0);
}

TEST(VarnelRun, simulated_run_starts_talks_to_the_controller_and_ends_on_sigint) {
    test::TempDir dir;
    QProcess p;
    p.setProcessEnvironment(test::varnelEnvironment(dir.path() / "user"));
    p.start(QStringLiteral(VARNEL_EXE), {"run", "--simulate", "--host-dir", q(dir.path())});
    ASSERT_TRUE(p.waitForStarted());
    std::string out;
    for (int i = 0; i < 300 && out.find("Using Comm Port") == std::string::npos; ++i) {
        p.waitForReadyRead(100);
        out += p.readAllStandardOutput().toStdString();
    }
    ASSERT_NE(out.find("Using Comm Port"), std::string::npos) << out << p.readAllStandardError().toStdString();
    // A second host on the same directory would overwrite the first one's devices.
    const auto second = runVarnel({"run", "--simulate", "--host-dir", q(dir.path())});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.err, "varnel: host directory " + dir.path().string() + " is in use by another varnel process (" +
                              std::to_string(p.processId()) + ")\n");
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(15'000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const std::string log = readFile(dir.path() / "logs" / "host.log");
    EXPECT_NE(log.find("Using Comm Port"), std::string::npos);
    EXPECT_EQ(log.find("Timeout"), std::string::npos) << log;
}

TEST(VarnelRun, for_seconds_ends_a_simulated_run_cleanly) {
    test::TempDir dir;
    const auto r = runVarnel({"run", "--simulate", "--for", "1", "--host-dir", q(dir.path())}, 60'000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Simulated controller on /dev/pts/"), std::string::npos) << r.out;
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "logs" / "host.log"));
}

TEST(VarnelSim, prints_the_device_path_and_serves_it_until_told_to_stop) {
    test::TempDir dir;
    const auto link = dir.path() / "ocelot";
    QProcess p;
    p.start(QStringLiteral(VARNEL_EXE), {"sim", "--link", q(link), "--for", "20"});
    ASSERT_TRUE(p.waitForStarted());
    ASSERT_TRUE(p.waitForReadyRead(5000));
    const std::string line = p.readLine().trimmed().toStdString();
    EXPECT_EQ(line, link.string());
    QtSerialPort port;
    ASSERT_EQ(port.open(link.string()), std::nullopt);
    port.close();
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

}  // namespace
}  // namespace varnel
