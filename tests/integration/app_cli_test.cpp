// The varnel command line.
#include <gtest/gtest.h>

#include <array>
#include <sstream>

#include "cli.h"
#include "confirm.h"

namespace varnel::app {
namespace {

Command parse(std::vector<std::string> args) { return parseCommandLine(args, "/data/varnel"); }

TEST(AppCli, run_options_in_both_spellings) {
    const auto c = parse({"run", "--port", "/dev/ttyUSB0", "--host-dir=/tmp/h", "--for", "2.5"});
    const auto* o = std::get_if<RunOptions>(&c);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->device, "/dev/ttyUSB0");
    EXPECT_FALSE(o->simulate);
    EXPECT_EQ(o->hostDir, "/tmp/h");
    EXPECT_EQ(o->forSeconds, 2.5);

    const auto d = parse({"run", "--simulate"});
    const auto* p = std::get_if<RunOptions>(&d);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->simulate);
    EXPECT_EQ(p->hostDir, "/data/varnel");
    EXPECT_FALSE(p->device);
    EXPECT_FALSE(p->forSeconds);
}

TEST(AppCli, bad_command_lines_are_usage_errors_that_say_why) {
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{}, "say what to do"},
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"run", "--port"}, "--port needs a value"},
        {{"run", "--port="}, "--port needs a device name"},
        {{"run", "--simulate", "--port", "/dev/ttyS0"}, "exclude each other"},
        {{"run", "--for", "0"}, "--for needs a number of seconds above 0"},
        {{"run", "--for", "-3"}, "--for needs"},
        {{"run", "--for", "nan"}, "--for needs"},
        {{"run", "--for", "1e300"}, "--for needs"},
        {{"run", "--for", "5s"}, "--for needs"},
        {{"run", "--host-dir="}, "--host-dir needs a directory"},
        {{"run", "--verbose"}, "unknown option \"--verbose\""},
        {{"sim", "--port", "x"}, "unknown option \"--port\""},
        {{"sim", "--link"}, "--link needs a value"},
        {{"run", "--no-demo"}, "demo options need --simulate"},
        {{"run", "--port", "/dev/ttyS0", "--demo-script", "d.txt"}, "demo options need --simulate"},
        {{"sim", "--demo-script"}, "--demo-script needs a value"},
        {{"sim", "--no-demo", "--demo-script", "d.txt"}, "exclude each other"},
        {{"run", "--exec", "var 200 1"}, "--exec \"var 200 1\": "},
        {{"run", "--exec", "frobnicate"}, "--exec \"frobnicate\": "},
        {{"run", "--exec", "  "}, "--exec needs a console command"},
        {{"run", "--exec"}, "--exec needs a value"},
        {{"run", "--mirror-vars", "0-200"}, "--mirror-vars: "},
        {{"run", "--mirror-points", "1"}, "--mirror-points: "},
        {{"sync", "--all"}, "say which side is master"},
        {{"sync", "--to-project", "--from-project", "--io"}, "say which side is master"},
        {{"sync", "--to-project"}, "say what to synchronise"},
        {{"sync", "--to-project", "--all", "--project"}, "--project needs a value"},
        {{"sync", "--to-project", "--all", "--project="}, "--project needs a file"},
        {{"sync", "--to-project", "--all", "--messages"}, "unknown option \"--messages\""},
    };
    for (const auto& c : cases) {
        const auto r = parse(c.args);
        const auto* e = std::get_if<UsageError>(&r);
        ASSERT_NE(e, nullptr) << c.says;
        EXPECT_NE(e->message.find(c.says), std::string::npos) << e->message;
    }
}

TEST(AppCli, help_and_version_anywhere_they_make_sense) {
    EXPECT_TRUE(std::holds_alternative<HelpRequest>(parse({"--help"})));
    EXPECT_TRUE(std::holds_alternative<HelpRequest>(parse({"run", "--port", "x", "-h"})));
    EXPECT_TRUE(std::holds_alternative<HelpRequest>(parse({"sim", "--help"})));
    EXPECT_TRUE(std::holds_alternative<VersionRequest>(parse({"--version"})));
}

TEST(AppCli, sim_and_demo_options) {
    const auto c = parse({"sim", "--link", "/tmp/ocelot", "--for=1", "--demo-script", "steps.txt"});
    const auto* o = std::get_if<SimOptions>(&c);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->link, "/tmp/ocelot");
    EXPECT_EQ(o->forSeconds, 1.0);
    EXPECT_EQ(o->demoScript, "steps.txt");
    EXPECT_TRUE(o->demo);
    const auto r = parse({"run", "--simulate", "--no-demo"});
    ASSERT_TRUE(std::holds_alternative<RunOptions>(r));
    EXPECT_FALSE(std::get<RunOptions>(r).demo);
}

TEST(AppCli, sync_options_and_what_all_includes) {
    const auto c = parse({"sync", "--from-project", "--project=/p/house.prj", "--x10", "--ir", "-y"});
    const auto* o = std::get_if<SyncOptions>(&c);
    ASSERT_NE(o, nullptr);
    EXPECT_TRUE(o->fromProject);
    EXPECT_FALSE(o->toProject);
    EXPECT_EQ(o->project, "/p/house.prj");
    EXPECT_EQ((std::array{o->variables, o->x10, o->io, o->ir}), (std::array{false, true, false, true}));
    EXPECT_TRUE(o->yes);
    EXPECT_EQ(o->hostDir, "/data/varnel");

    const auto d = parse({"sync", "--to-project", "--all", "--host-dir", "/h"});
    const auto* p = std::get_if<SyncOptions>(&d);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ((std::array{p->variables, p->x10, p->io, p->ir}), (std::array{true, true, true, true}));
    EXPECT_FALSE(p->yes);
    EXPECT_FALSE(p->project);
    EXPECT_EQ(p->hostDir, "/h");
}

TEST(AppCli, exec_lines_keep_their_order_and_mirror_options_add_up) {
    const auto c = parse({"run", "--simulate", "--exec", "var 12 300", "--mirror-vars", "0-3", "--exec=status",
                          "--mirror-vars=64", "--mirror-points", "1:0-7,3:0-2:invert"});
    const auto* o = std::get_if<RunOptions>(&c);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->exec, (std::vector<std::string>{"var 12 300", "status"}));
    EXPECT_EQ(o->mirror.variables, (std::vector<int>{0, 1, 2, 3, 64}));
    ASSERT_EQ(o->mirror.units.size(), 2u);
    EXPECT_EQ(o->mirror.units[0], (console::UnitChoice{1, {0, 1, 2, 3, 4, 5, 6, 7}, false}));
    EXPECT_EQ(o->mirror.units[1], (console::UnitChoice{3, {0, 1, 2}, true}));
    const auto plain = parse({"run"});
    EXPECT_FALSE(std::get<RunOptions>(plain).mirror.variables);
    EXPECT_TRUE(std::get<RunOptions>(plain).exec.empty());
}

TEST(AppConfirm, only_y_or_yes_is_yes) {
    for (const char* yes : {"y", "Y", "yes", "YES", " yes \r\n", "\tY"}) EXPECT_TRUE(isYes(yes)) << yes;
    for (const char* no : {"", "n", "no", "yes please", "ye", "oui", "1", "\n"}) EXPECT_FALSE(isYes(no)) << no;
    std::istringstream in("maybe\n");
    std::ostringstream out;
    EXPECT_FALSE(askYesNo("Go?", in, out));
    EXPECT_EQ(out.str(), "Go? [y/N] ");
    std::istringstream empty;
    EXPECT_FALSE(askYesNo("Go?", empty, out));
}

TEST(AppCli, default_host_dir_follows_the_data_home) {
    EXPECT_EQ(defaultHostDir("/x/data", "/home/u"), "/x/data/varnel");
    EXPECT_EQ(defaultHostDir(nullptr, "/home/u"), "/home/u/.local/share/varnel");
    // A relative XDG_DATA_HOME is to be ignored.
    EXPECT_EQ(defaultHostDir("rel", "/home/u"), "/home/u/.local/share/varnel");
    EXPECT_EQ(defaultHostDir(nullptr, nullptr), "varnel-host");
}

}  // namespace
}  // namespace varnel::app
