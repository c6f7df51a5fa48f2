#include <gtest/gtest.h>

#include "host_fixture.h"

namespace varnel::test {
namespace {

namespace fs = std::filesystem;

TEST(HostLog, entries_are_one_escaped_dated_line_and_the_file_moves_aside_when_full_or_is_given_up) {
    std::tm tm{};
    tm.tm_year = 124, tm.tm_mon = 4, tm.tm_mday = 6, tm.tm_hour = 13, tm.tm_min = 5, tm.tm_sec = 9, tm.tm_isdst = -1;
    std::vector<std::string> console;
    HostFixture fx({.console = [&](const std::string& l) { console.push_back(l); },
                    .clock = [&] { return std::chrono::system_clock::from_time_t(std::mktime(&tm)); },
                    .maxLogBytes = 400});
    console.clear();
    // Text from outside (an MQTT payload, a name from a project file): escaped, not raw.
    fx.host->WriteLog("MQTT", "two\r\nlines \xff\ttab Caf\xe9 \x1b[2J K\xc3\xbc");
    const std::string line = "2024-05-06 13:05:09 MQTT: two\\r\\nlines \\xff\\ttab Caf\\xe9 \\x1b[2J K\xc3\xbc";
    EXPECT_EQ(console, std::vector<std::string>{line});
    EXPECT_TRUE(slurp(fx.path("logs/host.log")).ends_with(line + "\n"));
    EXPECT_EQ(fx.host->logEntries().back().message, "two\r\nlines \xff\ttab Caf\xe9 \x1b[2J K\xc3\xbc");

    for (int i = 0; i < 20; ++i) fx.host->WriteLog("Varnel", "entry " + std::to_string(i));
    EXPECT_LE(fs::file_size(fx.path("logs/host.log")), 400u + 60u);
    EXPECT_TRUE(fs::exists(fx.path("logs/host.log.1")));
    EXPECT_NE(slurp(fx.path("logs/host.log")).find("entry 19"), std::string::npos);

    fs::remove(fx.path("logs/host.log"));
    fs::create_directories(fx.path("logs/host.log"));
    console.clear();
    EXPECT_NO_THROW(fx.host->WriteLog("Varnel", "one"));
    EXPECT_NO_THROW(fx.host->WriteLog("Varnel", "two"));
    ASSERT_EQ(console.size(), 3u) << "the failure said once";
    EXPECT_NE(console[0].find("cannot write the host log file"), std::string::npos);
}

TEST(HostRuns, scripts_run_from_the_scripts_folder_only_and_programs_only_when_they_exist) {
    HostFixture fx;
    for (const auto& [name, perms] : {std::pair{"Varnel_CMAXSync.txt", fs::perms::owner_all},
                                      std::pair{"plain.txt", fs::perms::owner_read | fs::perms::owner_write}}) {
        spit(fx.path("scripts") / name, "#!/bin/sh\n");
        fs::permissions(fx.path("scripts") / name, perms);
    }
    // A script that is there and fails is the caller's error; a missing one is none.
    const auto failure = [&](const std::string& file, const std::string& procedure, const std::string& parameter) {
        try {
            fx.host->RunEx(file, procedure, parameter);
        } catch (const HostError& e) {
            return std::string(e.what());
        }
        return std::string("none");
    };
    fx.launcher.exitCode = 4;
    EXPECT_EQ(failure("Varnel_CMAXSync.txt", "BeforeCMAX", ""),
              "RunEx Varnel_CMAXSync.txt BeforeCMAX: the script ended with exit status 4");
    fx.launcher.exitCode = 0;
    // Script names ignore case, as on the host's own system; there is no way out of the scripts folder.
    EXPECT_EQ(failure("varnel_cmaxsync.TXT", "AfterCMAX", "a \"b\""), "none");
    EXPECT_EQ(failure("plain.txt", "Main", ""), "RunEx plain.txt Main: the script is not executable");
    EXPECT_EQ(failure("missing.txt", "Main", ""), "none");
    EXPECT_EQ(failure("../config/settings.ini", "Main", ""), "none");
    const std::string dir = fx.host->GetAppPath();
    fx.host->Launch(dir + "\\Scripts\\plain.txt", "\"" + dir + "\"");
    fx.host->Launch(dir + "\\Scripts\\Missing.vbs", "");
    fx.host->Launch("C:\\Program Files\\CMAX\\cmax.exe", "");
    std::vector<bool> started;
    for (const auto& r : fx.host->runs()) started.push_back(r.started);
    EXPECT_EQ(started, (std::vector<bool>{true, true, false, false, false, true, false, false}));
    ASSERT_EQ(fx.launcher.runs.size(), 3u);
    const auto& [cmax, after, launched] = std::tie(fx.launcher.runs[0], fx.launcher.runs[1], fx.launcher.runs[2]);
    EXPECT_EQ(cmax.program, fx.path("scripts/Varnel_CMAXSync.txt").string());
    EXPECT_EQ(cmax.arguments + " " + after.arguments, "\"BeforeCMAX\" \"\" \"AfterCMAX\" \"a \"\"\"b\"\"\"\"");
    EXPECT_TRUE(cmax.wait);
    EXPECT_EQ(launched.program + " " + launched.arguments, fx.path("scripts/plain.txt").string() + " \"" + dir + "\"");
    EXPECT_FALSE(launched.wait);
}

}  // namespace
}  // namespace varnel::test
