// The varnel executable end to end: one-line refusals before anything starts,
// and the simulator on its own pseudo-terminal.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <fstream>

#include "platform/qt/qt_serial_port.h"
#include "platform/qt/serial_devices.h"
#include "pty_pair.h"
#include "ser2net.h"
#include "varnel_process.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::q;
using test::runVarnel;

std::string ownName() {
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

TEST(VarnelRun, refusals_before_start_up_are_one_line_with_their_exit_code) {
    test::TempDir dir;
    test::PtyPair pty;
    QtSerialPort holder;
    ASSERT_EQ(holder.open(pty.slaveName()), std::nullopt);
    test::writeFile(dir.path() / "file", "x");
    test::writeFile(dir.path() / "steps.txt", "0 var 1 5\n100 dance\n");
    fs::create_directories(dir.path() / "linked");
    fs::create_symlink("gone", dir.path() / "linked" / "varnel.lock");
    const QString host = q(dir.path() / "host");
    const std::string closed = "tcp://127.0.0.1:" + std::to_string(test::freeTcpPort());
    const struct {
        QStringList args;
        int exitCode;
        std::string err;  // the whole of it, or its start when it ends in ": "
    } cases[] = {
        // --for and a one-shot --exec want an answer now; other runs wait for a missing port.
        {{"run", "--port", "/dev/ttyVARNEL-none", "--host-dir", host, "--for", "30"},
         1,
         "varnel: Serial port /dev/ttyVARNEL-none not found (no such device)\n"},
        // A serial server nobody answers at ends a timed run as a missing device does.
        {{"run", "--port", q(closed), "--host-dir", host, "--for", "30"},
         1,
         "varnel: " + closed + ": connection refused\n"},
        {{"run", "--port", q(pty.slaveName()), "--host-dir", host, "--exec", "quit"},
         1,
         "varnel: Serial port " + pty.slaveName() + " is busy: locked by process " + std::to_string(::getpid()) + " (" +
             ownName() + ") (lock file " + lockFileFor(pty.slaveName())->string() + ")\n"},
        {{"run", "--simulate", "--host-dir", q(dir.path() / "file" / "host")},
         1,
         "varnel: cannot use host directory " + (dir.path() / "file" / "host").string() + ": "},
        {{"run", "--simulate", "--demo-script", q(dir.path() / "steps.txt"), "--host-dir", q(dir.path() / "demo")},
         2,
         "varnel: demo script " + (dir.path() / "steps.txt").string() + ": "},
        {{"sim", "--demo-script", q(dir.path() / "none.txt")},
         2,
         "varnel sim: cannot read the demo script " + (dir.path() / "none.txt").string() + "\n"},
        {{"run", "--simulate", "--port", "/dev/ttyS0"}, 2, "varnel run: --port and --simulate exclude each other\n"},
        {{"run", "--simulate", "--http", "0.0.0.0:8099", "--host-dir", host},
         78,
         "varnel: the web page on http://0.0.0.0:8099/ can be reached from other machines and needs a password"},
        {{"run", "--simulate", "--for", "1", "--host-dir", q(dir.path() / "linked")},
         1,
         "varnel: host directory " + (dir.path() / "linked").string() +
             " cannot be locked: " + (dir.path() / "linked" / "varnel.lock").string() +
             " is a symbolic link (remove it when no varnel process uses the directory)\n"},
    };
    for (const auto& c : cases) {
        const auto r = runVarnel(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(c.err.ends_with('\n') ? r.err : r.err.substr(0, c.err.size()), c.err) << r.err;
    }
    // A bad script is refused before the host directory is made, a lock refused before its files.
    EXPECT_FALSE(fs::exists(dir.path() / "demo"));
    EXPECT_FALSE(fs::exists(dir.path() / "linked" / "config"));
}

TEST(VarnelSim, prints_the_device_path_and_serves_it_until_told_to_stop) {
    test::TempDir dir;
    const auto link = dir.path() / "ocelot";
    test::LiveVarnel sim({"sim", "--link", q(link), "--for", "20"});
    ASSERT_NE(sim.waitFor(link.string() + "\n", 0, 5000), std::string::npos) << sim.said();
    QtSerialPort port;
    ASSERT_EQ(port.open(link.string()), std::nullopt);
    port.close();
    ::kill(static_cast<pid_t>(sim.pid()), SIGTERM);
    ASSERT_TRUE(sim.waitForExit(5000));
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

}  // namespace
}  // namespace varnel
