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
    const auto run = std::get<RunOptions>(parse({"run",
                                                 "--port",
                                                 "/dev/ttyUSB0",
                                                 "--host-dir=/tmp/h",
                                                 "--for",
                                                 "2.5",
                                                 "--exec",
                                                 "var 12 300",
                                                 "--mirror-vars",
                                                 "0-3",
                                                 "--exec=status",
                                                 "--mirror-vars=64",
                                                 "--mirror-points",
                                                 "1:0-2,3:0-1:invert",
                                                 "--mqtt",
                                                 "mqtts://broker:8884",
                                                 "--mqtt-ca=/etc/ca.pem",
                                                 "--mqtt-base-topic",
                                                 "house/varnel",
                                                 "--mqtt-discovery-prefix=ha"}));
    EXPECT_EQ(*run.device + " " + run.hostDir.string() + " " + std::to_string(*run.forSeconds),
              "/dev/ttyUSB0 /tmp/h 2.500000");
    // --exec lines keep their order; mirror options add up.
    EXPECT_EQ(run.exec, (std::vector<std::string>{"var 12 300", "status"}));
    EXPECT_EQ(run.mirror.variables, (std::vector<int>{0, 1, 2, 3, 64}));
    EXPECT_EQ(run.mirror.units, (std::vector<console::UnitChoice>{{1, {0, 1, 2}, false}, {3, {0, 1}, true}}));
    EXPECT_EQ(*run.mqtt + " " + *run.mqttCaFile + " " + *run.mqttBaseTopic + " " + *run.mqttDiscoveryPrefix,
              "mqtts://broker:8884 /etc/ca.pem house/varnel ha");

    const auto plain = std::get<RunOptions>(
        parse({"run", "--simulate", "--no-demo", "--log-level", "Warning", "--sim-baud", "1000000", "--window"}));
    EXPECT_TRUE(plain.simulate && !plain.demo && plain.window);
    EXPECT_EQ(plain.logLevel, LogLevel::Warning);
    EXPECT_EQ(plain.simBaud, 1'000'000);
    // The file's settings give way to these keys.
    EXPECT_EQ(plain.fromCommandLine,
              (std::vector<std::string_view>{"simulate", "demo", "log_level", "sim_baud", "window"}));
    EXPECT_EQ(plain.hostDir, "/data/varnel");

    const auto sim = std::get<SimOptions>(parse({"sim", "--link", "/tmp/ocelot", "--for=1", "--demo-script", "s.txt"}));
    EXPECT_EQ(*sim.link + " " + *sim.demoScript, "/tmp/ocelot s.txt");
    const auto sync =
        std::get<SyncOptions>(parse({"sync", "--from-project", "--project=/p/house.prj", "--x10", "--ir", "-y"}));
    EXPECT_TRUE(sync.fromProject && !sync.toProject && sync.yes);
    EXPECT_EQ(sync.project, "/p/house.prj");
    EXPECT_EQ((std::array{sync.variables, sync.x10, sync.io, sync.ir}), (std::array{false, true, false, true}));
    const auto all = std::get<SyncOptions>(parse({"sync", "--to-project", "--all", "--host-dir", "/h"}));
    EXPECT_EQ((std::array{all.variables, all.x10, all.io, all.ir, all.yes}),
              (std::array{true, true, true, true, false}));
    EXPECT_EQ(std::get<PortsOptions>(parse({"ports", "/dev/ttyUSB0", "/dev/ttyS1"})).devices,
              (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyS1"}));
    EXPECT_TRUE(std::holds_alternative<HelpRequest>(parse({"run", "--port", "x", "-h"})));
    EXPECT_TRUE(std::holds_alternative<VersionRequest>(parse({"--version"})));
}

TEST(AppCli, bad_command_lines_are_usage_errors_that_say_why) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{}, "say what to do"},
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"run", "--port"}, "--port needs a value"},
        {{"run", "--port="}, "--port: needs a device name"},
        {{"run", "--port", "rfc2217://box"}, "'rfc2217://box': needs :PORT after the host"},
        {{"run", "--simulate", "--port", "/dev/ttyS0"}, "exclude each other"},
        {{"run", "--for", "nan"}, "--for: needs a number of seconds above 0"},
        {{"run", "--simulate=1"}, "--simulate takes no value"},
        {{"run", "--log-level", "loud"}, "--log-level: needs error, warning or info"},
        {{"sim", "--port", "x"}, "unknown option \"--port\""},
        {{"health", "--port", "x"}, "varnel health: unknown option \"--port\""},
        {{"health", "--host-dir="}, "--host-dir needs a directory"},
        {{"run", "--exec", "var 200 1"}, "--exec: 'var 200 1': "},
        {{"run", "--exec", "  "}, "--exec: needs a console command"},
        {{"run", "--mirror-points", "1"}, "--mirror-points: "},
        {{"sync", "--to-project", "--from-project", "--io"}, "say which side is master"},
        {{"sync", "--to-project"}, "say what to synchronise"},
        {{"run", "--mqtt", "localhost"}, "--mqtt: the broker must be mqtt://HOST[:PORT]"},
        {{"run", "--mqtt=mqtt://u:pw@h"}, "holds credentials"},
        {{"run", "--mqtt", "mqtt://h", "--mqtt-ca", "ca.pem"}, "--mqtt-ca needs an mqtts:// broker"},
        {{"run", "--mqtt-base-topic", "a/+"}, "--mqtt-base-topic: must not hold the wildcards"},
        {{"run", "--http", "0.0.0.0:0"}, "--http: needs [ADDRESS:]PORT"},
        {{"run", "--sim-baud", "299"}, "--sim-baud: needs bits per second from 300 to 1000000, not '299'"},
        {{"run", "--sim-baud=9600x"}, "--sim-baud: needs bits per second from 300 to 1000000, not '9600x'"},
    };
    for (const auto& [args, says] : cases) {
        const auto r = parse(args);
        const auto* e = std::get_if<UsageError>(&r);
        ASSERT_NE(e, nullptr) << says;
        EXPECT_NE(e->message.find(says), std::string::npos) << e->message;
    }
}

TEST(AppCli, only_y_or_yes_is_yes_and_the_host_dir_follows_the_data_home) {
    for (const char* yes : {"y", "YES", " yes \r\n", "\tY"}) EXPECT_TRUE(isYes(yes)) << yes;
    for (const char* no : {"", "n", "yes please", "ye", "1"}) EXPECT_FALSE(isYes(no)) << no;
    std::istringstream in("maybe\n"), empty;
    std::ostringstream out;
    EXPECT_FALSE(askYesNo("Go?", in, out));
    EXPECT_EQ(out.str(), "Go? [y/N] ");
    EXPECT_FALSE(askYesNo("Go?", empty, out));
    EXPECT_EQ(defaultHostDir("/x/data", "/home/u"), "/x/data/varnel");
    EXPECT_EQ(defaultHostDir("rel", "/home/u"), "/home/u/.local/share/varnel") << "a relative data home is ignored";
    EXPECT_EQ(defaultHostDir(nullptr, nullptr), "varnel-host");
}

}  // namespace
}  // namespace varnel::app
