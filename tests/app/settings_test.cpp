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
    ASSERT_EQ(o.mirror.units.size(), 1u);

    // The file's lines come in the file's order when the command line has none.
    auto lines = commandLine({});
    ASSERT_EQ(fromFile(lines, "exec=var 1 2\r\nexec=status\r\n"), std::nullopt);
    EXPECT_EQ(lines.exec, (std::vector<std::string>{"var 1 2", "status"}));
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
        {{}, "simulate=on\r\ndemo_script=steps.txt\r\n", true, std::nullopt, true, true},
        // Demo settings wait in the file for its next simulated run.
        {{}, "port=/dev/ttyUSB0\r\ndemo=0\r\ndemo_script=steps.txt\r\n", false, "/dev/ttyUSB0", true, false},
        {{}, "port=rfc2217://closet-box:3002\r\n", false, "rfc2217://closet-box:3002", true, false},
    };
    for (const auto& c : cases) {
        auto o = commandLine(c.args);
        ASSERT_EQ(fromFile(o, c.file), std::nullopt) << c.file;
        EXPECT_EQ(settleDemoOptions(o), std::nullopt) << c.file;
        EXPECT_EQ(o.simulate, c.simulate) << c.file;
        EXPECT_EQ(o.device, c.device) << c.file;
        EXPECT_EQ(o.demo, c.demo) << c.file;
        EXPECT_EQ(o.demoScript.has_value(), c.demoScript) << c.file;
    }
    for (const auto& [args, says] :
         {std::pair{std::vector<std::string>{"--no-demo"}, "demo options need --simulate"},
          std::pair{std::vector<std::string>{"--sim-baud", "19200"}, "--sim-baud needs --simulate"}}) {
        auto cli = commandLine(args);
        ASSERT_EQ(fromFile(cli, "port=/dev/ttyUSB0\r\n"), std::nullopt);
        EXPECT_EQ(settleDemoOptions(cli), "varnel run: " + std::string(says));
    }
    // The file's line speed waits for a simulated run too.
    auto kept = commandLine({});
    ASSERT_EQ(fromFile(kept, "port=/dev/ttyUSB0\r\nsim_baud=19200\r\n"), std::nullopt);
    EXPECT_EQ(settleDemoOptions(kept), std::nullopt);
    EXPECT_FALSE(kept.simBaud);
}

TEST(RunSettings, a_bad_entry_is_one_line_naming_the_file_and_the_key) {
    const struct {
        std::string file, says;
    } cases[] = {
        {"for=0\r\n", "/h/config/settings.ini: [varnel] for: needs a number of seconds above 0, not '0'"},
        {"port=\r\n", "/h/config/settings.ini: [varnel] port: needs a device name"},
        {"simulate=maybe\r\n", "/h/config/settings.ini: [varnel] simulate: needs 1 or 0 (yes or no), not 'maybe'"},
        {"log_level=loud\r\n", "/h/config/settings.ini: [varnel] log_level: needs error, warning or info"},
        {"exec=var 200 1\r\n", "/h/config/settings.ini: [varnel] exec: 'var 200 1': "},
        {"mirror_vars=0-200\r\n", "/h/config/settings.ini: [varnel] mirror_vars: variables: "},
        {"prot=/dev/ttyS0\r\n", "/h/config/settings.ini: [varnel] unknown key 'prot' (known: port, simulate, "},
        {"\x1b[2J" + std::string(500, 'k') + "=1\r\n", "[varnel] unknown key '\\x1b[2Jkkkkkkkkkkkkkkkkkkkk...'"},
        {"port=/dev/a\r\nport=/dev/b\r\n", "/h/config/settings.ini: [varnel] port: given twice"},
        {"identity=abc\r\n", "[varnel] identity: needs 4 to 16 lowercase letters and digits, not 'abc'"},
        {"identity=Abcd/#\r\n", "[varnel] identity: needs lowercase letters and digits only, not 'Abcd/#'"},
        {"legacy_ids=maybe\r\n", "[varnel] legacy_ids: needs 1 or 0"},
        {"port=tcp://10.0.0.7\r\n", "[varnel] port: 'tcp://10.0.0.7': needs :PORT after the host"},
        {"port=rfc2217://box:99999\r\n", "[varnel] port: 'rfc2217://box:99999': the port must be a number from 1"},
        {"port=telnet://box:23\r\n", "[varnel] port: 'telnet://box:23': not a kind of port varnel knows"},
        {"port=/dev/a\r\nsimulate=1\r\n", "/h/config/settings.ini: [varnel] port and simulate exclude each other"},
        {"simulate=1\r\ndemo=0\r\ndemo_script=s.txt\r\n", "[varnel] demo_script and demo=0 exclude each other"},
    };
    for (const auto& c : cases) {
        auto o = commandLine({});
        const auto bad = fromFile(o, c.file);
        ASSERT_TRUE(bad) << c.file;
        EXPECT_NE(bad->find(c.says), std::string::npos) << *bad;
        EXPECT_EQ(std::count_if(bad->begin(), bad->end(), [](unsigned char ch) { return ch < 0x20; }), 0) << *bad;
        EXPECT_LT(bad->size(), 500u);  // the unknown key's line lists every known key
    }
    // A key the command line decided is not even looked at.
    auto o = commandLine({"--for", "1"});
    EXPECT_EQ(fromFile(o, "for=0\r\n"), std::nullopt);
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
    const auto run = [](const std::string& file, const std::map<std::string, std::string>& env) {
        RunOptions o;
        const auto lookup = [&env](const char* name) -> const char* {
            auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        };
        EXPECT_EQ(addHostSettings(o, "[varnel]\nsecret=" + file + "\n", "f", lookup, kWithSecret), std::nullopt);
        return o.exec;
    };
    EXPECT_EQ(run("from-file", {}), std::vector<std::string>{"from-file"});
    EXPECT_EQ(run("from-file", {{"VARNEL_SECRET", "from-env"}}), std::vector<std::string>{"from-env"});
    EXPECT_NE(runSettingsHelp(kWithSecret).find("(secret=TEXT, or $VARNEL_SECRET)"), std::string::npos);
}

TEST(WebPageSettings, the_address_and_the_password_hash_are_checked_where_they_are_read) {
    const std::string hash = web::hashPassword("pw", 1000);
    RunOptions o;
    ASSERT_EQ(fromFile(o, "http=0.0.0.0:8099\r\nhttp_password=" + hash + "\r\n"), std::nullopt);
    ASSERT_TRUE(o.http);
    EXPECT_EQ(o.http->host, "0.0.0.0");
    EXPECT_EQ(o.http->port, 8099);
    EXPECT_EQ(o.httpPasswordHash, hash);
    EXPECT_FALSE(o.httpPassword);

    RunOptions env;
    ASSERT_EQ(fromFile(env, "http=8099\r\n", {{"VARNEL_HTTP_PASSWORD", "from env"}}), std::nullopt);
    EXPECT_EQ(env.httpPassword, "from env");

    const struct {
        std::string file;
        std::map<std::string, std::string> env;
        std::string says;
    } bad[] = {
        {"http=99999\r\n", {}, "[varnel] http: needs [ADDRESS:]PORT with a port from 1 to 65535, not '99999'"},
        {"http=example.org:80\r\n", {}, "[varnel] http: needs an IP address before the port"},
        {"http_password=hunter2\r\n", {}, "[varnel] http_password: is not a password hash made by varnel web-password"},
        {"http=8099\r\n", {{"VARNEL_HTTP_PASSWORD", ""}}, "$VARNEL_HTTP_PASSWORD: needs a password"},
    };
    for (const auto& c : bad) {
        RunOptions b;
        const auto problem = fromFile(b, c.file, c.env);
        ASSERT_TRUE(problem) << c.file;
        EXPECT_NE(problem->find(c.says), std::string::npos) << *problem;
    }

    // A page other machines can reach is not served without a password.
    EXPECT_EQ(webPageProblem(o), std::nullopt);
    o.httpPasswordHash.reset();
    ASSERT_TRUE(webPageProblem(o));
    EXPECT_NE(webPageProblem(o)->find("needs a password: set one with varnel web-password"), std::string::npos);
    o.httpPassword = "from env";
    EXPECT_EQ(webPageProblem(o), std::nullopt);
    env.httpPassword.reset();
    EXPECT_EQ(webPageProblem(env), std::nullopt) << "a port alone is on loopback";
}

}  // namespace
}  // namespace varnel::app
