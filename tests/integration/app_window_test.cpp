// `varnel run --window-screenshots`: pictures of the configuration window, drawn off
// screen when there is no display, filled from the simulated controller.
#include <gtest/gtest.h>

#include <fstream>

#include "varnel_process.h"

namespace varnel {
namespace {

TEST(VarnelWindow, screenshots_show_each_tab_and_the_run_ends) {
    test::TempDir dir;
    const auto pictures = dir.path() / "pictures";
    const auto r = test::runVarnel({"run", "--simulate", "--no-demo", "--host-dir",
                                    QString::fromStdString((dir.path() / "host").string()), "--window-screenshots",
                                    QString::fromStdString(pictures.string()), "--for", "60"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* name : {"config-general.png", "config-io.png", "config-ir.png", "config-cmax.png"}) {
        std::ifstream in(pictures / name, std::ios::binary);
        char head[8] = {};
        in.read(head, sizeof head);
        EXPECT_EQ(std::string(head + 1, 3), "PNG") << name;
    }
}

}  // namespace
}  // namespace varnel
