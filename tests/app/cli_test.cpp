// The varnel command line.
#include <gtest/gtest.h>

#include <array>
#include <sstream>

#include "cli.h"
#include "confirm.h"

namespace varnel::app {
namespace {

Command parse(std::vector<std::string> args) { return parseCommandLine(args, "/data/varnel"); }

TEST(AppCli, options_in_both_spellings_fill_the_command) {
    const auto run = std::get<RunOptions>(
        parse({"run", "--port", "/dev/ttyUSB0", "--host-dir=/tmp/h", "--for", "2.5", "--exec", "var 12 300",
               "--mirror-vars", "0-3", "--exec=status", "--mirror-vars=64", "--mirror-points", "1:0-7,3:0-2:invert"}));
    EXPECT_EQ(run.device, "/dev/ttyUSB0");
    EXPECT_FALSE(run.simulate);
    EXPECT_EQ(run.hostDir, "/tmp/h");
    EXPECT_EQ(run.forSeconds, 2.5);
    // --exec lines keep their order; mirror options add up.
    EXPECT_EQ(run.exec, (std::vector<std::string>{"var 12 300", "status"}));
    EXPECT_EQ(run.mirror.variables, (std::vector<int>{0, 1, 2, 3, 64}));
    EXPECT_EQ(run.mirror.units,
              (std::vector<console::UnitChoice>{{1, {0, 1, 2, 3, 4, 5, 6, 7}, false}, {3, {0, 1, 2}, true}}));

    const auto mqtt = std::get<RunOptions>(parse({"run", "--mqtt", "mqtts://broker:8884", "--mqtt-ca=/etc/ca.pem",
                                                  "--mqtt-base-topic", "house/varnel", "--mqtt-discovery-prefix=ha"}));
    EXPECT_EQ(mqtt.mqtt, "mqtts://broker:8884");
    EXPECT_EQ(mqtt.mqttCaFile, "/etc/ca.pem");
    EXPECT_EQ(mqtt.mqttBaseTopic, "house/varnel");
    EXPECT_EQ(mqtt.mqttDiscoveryPrefix, "ha");

    const auto plain = std::get<RunOptions>(
        parse({"run", "--simulate", "--no-demo", "--log-level", "Warning", "--sim-baud", "1000000"}));
    EXPECT_TRUE(plain.simulate);
    EXPECT_FALSE(plain.demo);
    EXPECT_EQ(plain.logLevel, LogLevel::Warning);
    EXPECT_EQ(plain.simBaud, 1'000'000);
    EXPECT_EQ(std::get<RunOptions>(parse({"run", "--sim-baud=300"})).simBaud, 300);
    EXPECT_EQ(plain.fromCommandLine, (std::vector<std::string_view>{"simulate", "demo", "log_level", "sim_baud"}));
    EXPECT_EQ(plain.hostDir, "/data/varnel");
    EXPECT_FALSE(plain.device || plain.forSeconds || plain.mirror.variables || plain.mqtt || plain.window);
    EXPECT_TRUE(std::get<RunOptions>(parse({"run", "--window"})).window);

    const auto sim = std::get<SimOptions>(parse({"sim", "--link", "/tmp/ocelot", "--for=1", "--demo-script", "s.txt"}));
    EXPECT_EQ(sim.link, "/tmp/ocelot");
    EXPECT_EQ(sim.forSeconds, 1.0);
    EXPECT_EQ(sim.demoScript, "s.txt");

    const auto sync =
        std::get<SyncOptions>(parse({"sync", "--from-project", "--project=/p/house.prj", "--x10", "--ir", "-y"}));
    EXPECT_TRUE(sync.fromProject && !sync.toProject && sync.yes);
    EXPECT_EQ(sync.project, "/p/house.prj");
    EXPECT_EQ((std::array{sync.variables, sync.x10, sync.io, sync.ir}), (std::array{false, true, false, true}));
    EXPECT_EQ(sync.hostDir, "/data/varnel");
    EXPECT_EQ(std::get<PortsOptions>(parse({"ports", "/dev/ttyUSB0", "/dev/ttyS1"})).devices,
              (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyS1"}));
    const auto all = std::get<SyncOptions>(parse({"sync", "--to-project", "--all", "--host-dir", "/h"}));
    EXPECT_EQ((std::array{all.variables, all.x10, all.io, all.ir}), (std::array{true, true, true, true}));
    EXPECT_FALSE(all.yes || all.project);
    EXPECT_EQ(all.hostDir, "/h");
}

TEST(AppCli, bad_command_lines_are_usage_errors_that_say_why) {
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{}, "say what to do"},
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"run", "--port"}, "--port needs a value"},
        {{"run", "--port="}, "--port: needs a device name"},
        {{"run", "--port", "rfc2217://box"}, "'rfc2217://box': needs :PORT after the host"},
        {{"run", "--simulate", "--port", "/dev/ttyS0"}, "exclude each other"},
        {{"run", "--for", "0"}, "--for: needs a number of seconds above 0"},
        {{"run", "--for", "nan"}, "--for: needs"},
        {{"run", "--simulate=1"}, "--simulate takes no value"},
        {{"run", "--log-level", "loud"}, "--log-level: needs error, warning or info"},
        {{"run", "--verbose"}, "unknown option \"--verbose\""},
        {{"sim", "--port", "x"}, "unknown option \"--port\""},
        {{"sim", "--no-demo", "--demo-script", "d.txt"}, "exclude each other"},
        {{"run", "--exec", "var 200 1"}, "--exec: 'var 200 1': "},
        {{"run", "--exec", "  "}, "--exec: needs a console command"},
        {{"run", "--mirror-vars", "0-200"}, "--mirror-vars: "},
        {{"run", "--mirror-points", "1"}, "--mirror-points: "},
        {{"sync", "--all"}, "say which side is master"},
        {{"sync", "--to-project", "--from-project", "--io"}, "say which side is master"},
        {{"sync", "--to-project"}, "say what to synchronise"},
        {{"sync", "--to-project", "--all", "--project="}, "--project needs a file"},
        {{"ports", "--all"}, "unknown option \"--all\""},
        {{"run", "--mqtt", "localhost"}, "--mqtt: the broker must be mqtt://HOST[:PORT]"},
        {{"run", "--mqtt=mqtt://u:pw@h"}, "holds credentials"},
        {{"run", "--mqtt", "mqtt://h", "--mqtt-ca", "ca.pem"}, "--mqtt-ca needs an mqtts:// broker"},
        {{"run", "--mqtt-base-topic", "a/+"}, "--mqtt-base-topic: must not hold the wildcards"},
        {{"run", "--mqtt-discovery-prefix="}, "--mqtt-discovery-prefix: needs a value"},
        {{"run", "--http", "0.0.0.0:0"}, "--http: needs [ADDRESS:]PORT"},
        {{"run", "--sim-baud", "299"}, "--sim-baud: needs bits per second from 300 to 1000000, not '299'"},
        {{"run", "--sim-baud", "1000001"}, "--sim-baud: needs bits per second from 300 to 1000000, not '1000001'"},
        {{"run", "--sim-baud=9600x"}, "--sim-baud: needs bits per second from 300 to 1000000, not '9600x'"},
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
