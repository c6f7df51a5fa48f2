// `varnel ports` gives the verdict the run's own open gives, and shows names escaped.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "pty_pair.h"
#include "varnel_process.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::q;

TEST(VarnelPorts, what_is_not_a_serial_device_is_refused_by_the_listing_and_by_the_run_alike) {
    test::TempDir dir;
    test::writeFile(dir.path() / "file", "x");
    ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0666), 0);
    fs::create_directory(dir.path() / "folder");
    const struct {
        fs::path device;
        std::string verdict;
    } cases[] = {
        {dir.path() / "file", "not a serial device (a regular file)"},
        {dir.path() / "fifo", "not a serial device (a FIFO)"},
        {dir.path() / "folder", "not a serial device (a directory)"},
        {"/dev/null", "not a serial device (a mem device)"},
    };
    for (const auto& c : cases) {
        const auto listed = test::runVarnel({"ports", q(c.device)});
        EXPECT_EQ(listed.exitCode, 0) << c.device;
        EXPECT_NE(listed.out.find("  access: no, " + c.verdict + "\n"), std::string::npos) << listed.out;
        const auto run = test::runVarnel({"run", "--port", q(c.device), "--host-dir", q(dir.path() / "host")});
        // Not a device that may still appear: the run ends at once, as for any wrong setting.
        EXPECT_EQ(run.exitCode, 78) << run.out;
        EXPECT_EQ(run.err, "varnel: Serial port " + c.device.string() + " is " + c.verdict + "\n");
    }
}

TEST(VarnelPorts, a_terminal_may_be_opened_and_control_characters_in_its_name_are_shown_escaped) {
    test::PtyPair pty;
    test::TempDir dir;
    const fs::path link = dir.path() / "ocelot\x1b[2J\nfake: line";
    fs::create_symlink(pty.slaveName(), link);
    const auto listed = test::runVarnel({"ports", q(link)});
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_EQ(listed.out.rfind((dir.path() / "ocelot\\x1b[2J\\nfake: line").string() + " -> " + pty.slaveName() +
                                   "\n  by-id:  none\n  access: may open\n",
                               0),
              0u)
        << listed.out;
    EXPECT_EQ(listed.out.find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace varnel
