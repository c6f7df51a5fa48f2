// The options of `varnel run` from the host directory's settings file and the
// environment, under the command line's.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "run_settings.h"
#include "web/password.h"
#include "web_page.h"

namespace varnel::app {
namespace {

RunOptions commandLine(std::vector<std::string> args) {
    args.insert(args.begin(), "run");
    return std::get<RunOptions>(parseCommandLine(args, "/h"));
}

std::optional<std::string> fromFile(RunOptions& o, const std::string& section,
                                    const std::map<std::string, std::string>& env = {}) {
    const auto lookup = [&env](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    };
    return addHostSettings(o, "[hspi_tarnwick]\r\ncomport=3\r\n[varnel]\r\n" + section, "/h/config/settings.ini",
                           lookup);
}

TEST(RunSettings, the_file_fills_what_the_command_line_left_open) {
    auto o = commandLine({"--for", "5", "--exec", "status"});
    ASSERT_EQ(fromFile(o,
                       "port = /dev/serial/by-id/usb-FTDI-if00\r\nFOR=99\r\nexec=var 1 2\r\nlog_level=warning\r\n"
                       "mirror_vars=0-3\r\nmirror_vars=64\r\nmirror_points=1:0-1\r\n; simulate=1\r\n"
                       "identity=3f9a1c2b7e4d\r\nlegacy_ids=1\r\n"),
              std::nullopt);
    EXPECT_EQ(o.identity, "3f9a1c2b7e4d");
    EXPECT_TRUE(o.legacyIds);
    EXPECT_EQ(o.device, "/dev/serial/by-id/usb-FTDI-if00");
    EXPECT_FALSE(o.simulate);
    EXPECT_EQ(o.forSeconds, 5.0) << "the command line wins";
    EXPECT_EQ(o.exec, std::vector<std::string>{"status"}) << "command-line lines replace the file's";
    EXPECT_EQ(o.logLevel, LogLevel::Warning);
    EXPECT_EQ(o.mirror.variables, (std::vector<int>{0, 1, 2, 3, 64})) << "a repeated key adds up";
    EXPECT_EQ(o.mirror.units.size(), 1u);
    auto lines = commandLine({});
    ASSERT_EQ(fromFile(lines, "exec=var 1 2\r\nexec=status\r\n"), std::nullopt);
    EXPECT_EQ(lines.exec, (std::vector<std::string>{"var 1 2", "status"})) << "in the file's order";
}

TEST(RunSettings, a_choice_made_on_the_command_line_overrides_the_whole_group_in_the_file) {
    const struct {
        std::vector<std::string> args;
        std::string file;
        bool simulate;
        std::optional<std::string> device;
        bool demo, demoScript;
    } cases[] = {
        {{"--simulate"}, "port=/dev/ttyUSB0\r\n", true, std::nullopt, true, false},
        {{"--port", "/dev/ttyS1"}, "simulate=yes\r\ndemo=0\r\n", false, "/dev/ttyS1", true, false},
        {{"--no-demo"}, "simulate=1\r\ndemo_script=steps.txt\r\n", true, std::nullopt, false, false},
        // Demo settings and the line speed wait in the file for its next simulated run.
        {{},
         "port=/dev/ttyUSB0\r\ndemo=0\r\ndemo_script=steps.txt\r\nsim_baud=19200\r\n",
         false,
         "/dev/ttyUSB0",
         true,
         false},
    };
    for (const auto& c : cases) {
        auto o = commandLine(c.args);
        ASSERT_EQ(fromFile(o, c.file), std::nullopt) << c.file;
        EXPECT_EQ(settleDemoOptions(o), std::nullopt) << c.file;
        EXPECT_EQ(std::tuple(o.simulate, o.device, o.demo, o.demoScript.has_value(), o.simBaud.has_value()),
                  std::tuple(c.simulate, c.device, c.demo, c.demoScript, false))
            << c.file;
    }
    auto cli = commandLine({"--sim-baud", "19200"});
    ASSERT_EQ(fromFile(cli, "port=/dev/ttyUSB0\r\n"), std::nullopt);
    EXPECT_EQ(settleDemoOptions(cli), "varnel run: --sim-baud needs --simulate");
}

TEST(RunSettings, a_bad_entry_is_one_line_naming_the_file_and_the_key) {
    const std::pair<std::string, std::string> cases[] = {
        {"for=0\r\n", "/h/config/settings.ini: [varnel] for: needs a number of seconds above 0, not '0'"},
        {"port=\r\n", "/h/config/settings.ini: [varnel] port: needs a device name"},
        {"simulate=maybe\r\n", "[varnel] simulate: needs 1 or 0 (yes or no), not 'maybe'"},
        {"log_level=loud\r\n", "[varnel] log_level: needs error, warning or info"},
        {"exec=var 200 1\r\n", "[varnel] exec: 'var 200 1': "},
        {"mirror_vars=0-200\r\n", "[varnel] mirror_vars: variables: "},
        {"prot=/dev/ttyS0\r\n", "[varnel] unknown key 'prot' (known: port, simulate, "},
        {"\x1b[2J" + std::string(500, 'k') + "=1\r\n", "[varnel] unknown key '\\x1b[2Jkkkkkkkkkkkkkkkkkkkk...'"},
        {"port=/dev/a\r\nport=/dev/b\r\n", "[varnel] port: given twice"},
        {"identity=Abcd/#\r\n", "[varnel] identity: needs lowercase letters and digits only, not 'Abcd/#'"},
        {"port=rfc2217://box:99999\r\n", "[varnel] port: 'rfc2217://box:99999': the port must be a number from 1"},
        {"port=/dev/a\r\nsimulate=1\r\n", "[varnel] port and simulate exclude each other"},
        {"http=example.org:80\r\n", "[varnel] http: needs an IP address before the port"},
        {"http_password=hunter2\r\n", "[varnel] http_password: is not a password hash made by varnel web-password"},
        {"history_raw_days=0\r\n", "[varnel] history_raw_days: needs a whole number from 1 to 3650, not '0'"},
        {"history_max_mb=5\x1b\r\n", "[varnel] history_max_mb: needs a whole number from 1 to 1000000, not '5\\x1b'"},
        {"history_days=3\r\n", "[varnel] history_days (3) is shorter than history_raw_days (7)"},
        {"history=some\r\n", "[varnel] history: needs 1 or 0 (yes or no), not 'some'"},
    };
    for (const auto& [file, says] : cases) {
        auto o = commandLine({});
        const auto bad = fromFile(o, file);
        ASSERT_TRUE(bad) << file;
        EXPECT_NE(bad->find(says), std::string::npos) << *bad;
        EXPECT_EQ(std::count_if(bad->begin(), bad->end(), [](unsigned char ch) { return ch < 0x20; }), 0) << *bad;
        EXPECT_LT(bad->size(), 500u);  // the unknown key's line lists every known key
    }
    auto o = commandLine({"--for", "1"});
    EXPECT_EQ(fromFile(o, "for=0\r\n"), std::nullopt) << "a key the command line decided is not even looked at";
}

// Credentials come from the file or the environment, never from the command line
// (where every user of the machine could read them).
std::optional<std::string> applySecret(RunOptions& o, std::string_view v) {
    o.exec.emplace_back(v);
    return std::nullopt;
}
constexpr RunSetting kWithSecret[] = {
    {.key = "secret", .arg = "TEXT", .env = "VARNEL_SECRET", .apply = applySecret},
};

TEST(RunSettings, the_environment_wins_over_the_file_for_rows_that_name_a_variable) {
    for (const auto& [env, expected] : {std::pair{"", "from-file"}, std::pair{"from-env", "from-env"}}) {
        RunOptions o;
        const auto lookup = [env](const char* name) -> const char* {
            return *env && std::string(name) == "VARNEL_SECRET" ? env : nullptr;
        };
        EXPECT_EQ(addHostSettings(o, "[varnel]\nsecret=from-file\n", "f", lookup, kWithSecret), std::nullopt);
        EXPECT_EQ(o.exec, std::vector<std::string>{expected});
    }
    EXPECT_NE(runSettingsHelp(kWithSecret).find("(secret=TEXT, or $VARNEL_SECRET)"), std::string::npos);
}

TEST(WebPageSettings, a_page_other_machines_can_reach_needs_a_password) {
    const std::string hash = web::hashPassword("pw", 1000);
    RunOptions o;
    ASSERT_EQ(fromFile(o, "http=0.0.0.0:8099\r\nhttp_password=" + hash + "\r\n"), std::nullopt);
    EXPECT_EQ(o.http->host + ":" + std::to_string(o.http->port), "0.0.0.0:8099");
    EXPECT_EQ(o.httpPasswordHash, hash);
    EXPECT_EQ(webPageProblem(o), std::nullopt);
    o.httpPasswordHash.reset();
    ASSERT_TRUE(webPageProblem(o));
    EXPECT_NE(webPageProblem(o)->find("needs a password: set one with varnel web-password"), std::string::npos);
    RunOptions env;
    ASSERT_EQ(fromFile(env, "http=0.0.0.0:8099\r\n", {{"VARNEL_HTTP_PASSWORD", "from env"}}), std::nullopt);
    EXPECT_EQ(env.httpPassword, "from env");
    EXPECT_EQ(webPageProblem(env), std::nullopt);
    RunOptions local;
    ASSERT_EQ(fromFile(local, "http=8099\r\n"), std::nullopt);
    EXPECT_EQ(webPageProblem(local), std::nullopt) << "a port alone is on loopback";
    RunOptions emptyEnv;
    EXPECT_NE(fromFile(emptyEnv, "http=8099\r\n", {{"VARNEL_HTTP_PASSWORD", ""}})
                  .value_or("")
                  .find("$VARNEL_HTTP_PASSWORD: needs a password"),
              std::string::npos);
}

}  // namespace
}  // namespace varnel::app
