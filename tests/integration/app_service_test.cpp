// `varnel run` as a service that cannot start: the reason at error priority in the
// journal; and a serial port this user may not open, as `varnel ports` and `varnel run`
// report it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"
#include "pty_pair.h"
#include "varnel_process.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::q;

// What ends a run reaches the journal as an error, so `journalctl -p err` shows it.
TEST(VarnelService, a_run_that_cannot_start_says_why_at_error_priority_in_the_journal) {
    test::TempDir dir;
    const fs::path host = dir.path() / "host";
    test::writeFile(host / "config" / "settings.ini", "[varnel]\r\nsimulate=1\r\nfor=soon\r\n");
    // Standard error is the journal's stream when JOURNAL_STREAM names it.
    test::LiveVarnel run({"-c", "JOURNAL_STREAM=$(stat -L -c %d:%i /dev/stderr) exec \"$0\" \"$@\"", VARNEL_EXE, "run",
                          "--host-dir", q(host)},
                         {}, "/bin/sh");
    ASSERT_TRUE(run.waitForExit());
    EXPECT_EQ(run.exitCode(), app::kExitConfig);
    EXPECT_EQ(run.err(), "<3>varnel: " + (host / "config" / "settings.ini").string() +
                             ": [varnel] for: needs a number of seconds above 0, not 'soon'\n");
}

TEST(VarnelPorts, a_port_this_user_may_not_open_says_which_group_may) {
    test::PtyPair pty;
    test::TempDir dir;
    const bool root = ::geteuid() == 0;
    if (root) {
        // Root opens anything: the commands run as nobody, the device belongs to dialout.
        ASSERT_EQ(::chown(pty.slaveName().c_str(), 0, 20), 0);
        ASSERT_EQ(::chmod(pty.slaveName().c_str(), 0660), 0);
        fs::permissions(dir.path(), fs::perms::all);
    } else {
        ASSERT_EQ(::chmod(pty.slaveName().c_str(), 0), 0);
    }
    const auto run = [&](const QStringList& args) {
        return root ? test::runVarnelAs(65534, args, dir.path() / "config") : test::runVarnel(args);
    };
    const auto listed = run({"ports", q(pty.slaveName())});
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_NE(listed.out.find("  access: no, no permission to open it"), std::string::npos) << listed.out;
    const auto r = run({"run", "--port", q(pty.slaveName()), "--host-dir", q(dir.path() / "host"), "--for", "30"});
    EXPECT_EQ(r.exitCode, 1);
    const std::string said = r.out + r.err;
    EXPECT_NE(said.find("varnel: Serial port " + pty.slaveName() + ": no permission to open it"), std::string::npos)
        << said;
    if (root) {
        EXPECT_NE(said.find("add the user to the dialout group (sudo usermod -aG dialout nobody"), std::string::npos)
            << said;
    }
}

}  // namespace
}  // namespace varnel
