#include <gtest/gtest.h>

#include <sys/stat.h>

#include "host_fixture.h"

namespace varnel::test {
namespace {

namespace fs = std::filesystem;

// 2024-05-06 13:05:09 local time.
std::chrono::system_clock::time_point fixedTime() {
    std::tm tm{};
    tm.tm_year = 124, tm.tm_mon = 4, tm.tm_mday = 6, tm.tm_hour = 13, tm.tm_min = 5, tm.tm_sec = 9, tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

TEST(HostLog, each_entry_is_one_dated_line_in_the_file_and_on_the_console) {
    std::vector<std::string> console;
    HostFixture fx({.console = [&](const std::string& l) { console.push_back(l); }, .clock = fixedTime});
    console.clear();
    fx.host->WriteLog("Varnel", "Found CPU-XA/Ocelot 0 ");
    fx.host->WriteLog("Warning", "two\r\nlines");
    // Text from outside (an MQTT payload, a name from a project file): escaped, not raw.
    fx.host->WriteLog("MQTT",
                      "payload \xff\xfe\ttab Caf\xe9 \x1b[2J K\xc3\xbc"
                      "che");
    const std::vector<std::string> lines{
        "2024-05-06 13:05:09 Varnel: Found CPU-XA/Ocelot 0 ", "2024-05-06 13:05:09 Warning: two\\r\\nlines",
        "2024-05-06 13:05:09 MQTT: payload \\xff\\xfe\\ttab Caf\\xe9 \\x1b[2J K\xc3\xbc"
        "che"};
    EXPECT_EQ(console, lines);
    const std::string file = slurp(fx.path("logs/host.log"));
    EXPECT_TRUE(file.ends_with(lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n")) << file;
    ASSERT_EQ(fx.host->logEntries().size(), 3u) << "the host's own remarks are not plug-in entries";
    EXPECT_EQ(fx.host->logEntries()[1].message, "two\r\nlines");
}

TEST(HostLog, a_full_log_file_moves_aside_and_a_new_one_starts) {
    HostFixture fx({.maxLogBytes = 200});
    for (int i = 0; i < 20; ++i) fx.host->WriteLog("Varnel", "entry " + std::to_string(i));
    EXPECT_LE(fs::file_size(fx.path("logs/host.log")), 200u + 60u);
    EXPECT_TRUE(fs::exists(fx.path("logs/host.log.1")));
    EXPECT_NE(slurp(fx.path("logs/host.log")).find("entry 19"), std::string::npos);
}

TEST(HostLog, an_unwritable_log_file_never_fails_the_caller_and_is_said_once_on_the_console) {
    std::vector<std::string> console;
    HostFixture fx({.console = [&](const std::string& l) { console.push_back(l); }});
    fs::remove(fx.path("logs/host.log"));
    fs::create_directories(fx.path("logs/host.log"));
    console.clear();
    EXPECT_NO_THROW(fx.host->WriteLog("Varnel", "one"));
    EXPECT_NO_THROW(fx.host->WriteLog("Varnel", "two"));
    ASSERT_EQ(console.size(), 3u);
    EXPECT_NE(console[0].find("cannot write the host log file"), std::string::npos);
    EXPECT_EQ(fx.host->logEntries().size(), 2u);
}

void makeScript(const fs::path& p, bool executable) {
    spit(p, "#!/bin/sh\n");
    fs::permissions(p, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
}

TEST(HostRuns, run_ex_runs_an_executable_script_from_the_scripts_folder_and_records_every_call) {
    HostFixture fx;
    makeScript(fx.path("scripts/Varnel_CMAXSync.txt"), true);
    makeScript(fx.path("scripts/plain.txt"), false);
    fx.launcher.exitCode = 4;
    // A script that is there and fails is the caller's error; a missing one is none.
    const auto failure = [&](const std::string& file, const std::string& procedure, const std::string& parameter) {
        try {
            fx.host->RunEx(file, procedure, parameter);
        } catch (const HostError& e) {
            return std::string(e.what());
        }
        return std::string("none");
    };
    EXPECT_EQ(failure("Varnel_CMAXSync.txt", "BeforeCMAX", ""),
              "RunEx Varnel_CMAXSync.txt BeforeCMAX: the script ended with exit status 4");
    fx.launcher.exitCode = 0;
    EXPECT_EQ(failure("varnel_cmaxsync.TXT", "AfterCMAX", "a \"b\""), "none");
    EXPECT_EQ(failure("plain.txt", "Main", ""), "RunEx plain.txt Main: the script is not executable");
    EXPECT_EQ(failure("missing.txt", "Main", ""), "none");
    EXPECT_EQ(failure("../config/settings.ini", "Main", ""), "none");
    fx.launcher.exitCode = -1;
    EXPECT_EQ(failure("Varnel_CMAXSync.txt", "BeforeCMAX", ""),
              "RunEx Varnel_CMAXSync.txt BeforeCMAX: the script could not be run");

    const auto& runs = fx.host->runs();
    std::vector<bool> started;
    for (const auto& r : runs) started.push_back(r.started);
    // Script names ignore case, as on the host's own system; there is no way out of the scripts folder.
    EXPECT_EQ(started, (std::vector<bool>{true, true, false, false, false, true}));
    EXPECT_EQ(runs[0].result, 4);
    EXPECT_EQ(runs[1].file, "varnel_cmaxsync.TXT");
    ASSERT_EQ(fx.launcher.runs.size(), 3u);
    EXPECT_EQ(fx.launcher.runs[0].program, fx.path("scripts/Varnel_CMAXSync.txt").string());
    EXPECT_EQ(fx.launcher.runs[0].arguments, "\"BeforeCMAX\" \"\"");
    EXPECT_EQ(fx.launcher.runs[1].arguments, "\"AfterCMAX\" \"a \"\"\"b\"\"\"\"");
    EXPECT_TRUE(fx.launcher.runs[0].wait);
}

TEST(HostRuns, launch_starts_an_existing_program_given_with_windows_separators) {
    HostFixture fx;
    spit(fx.path("scripts/Varnel_RenameFiles.vbs"), "x");
    const std::string dir = fx.host->GetAppPath();
    fx.host->Launch(dir + "\\Scripts\\Varnel_RenameFiles.vbs", "\"" + dir + "\"");
    fx.host->Launch(dir + "\\Scripts\\Missing.vbs", "");
    fx.host->Launch("C:\\Program Files\\CMAX\\cmax.exe", "");
    std::vector<bool> started;
    for (const auto& r : fx.host->runs()) started.push_back(r.started);
    EXPECT_EQ(started, (std::vector<bool>{true, false, false}));
    ASSERT_EQ(fx.launcher.runs.size(), 1u);
    EXPECT_EQ(fx.launcher.runs[0].program, fx.path("scripts/Varnel_RenameFiles.vbs").string());
    EXPECT_EQ(fx.launcher.runs[0].arguments, "\"" + dir + "\"");
    EXPECT_FALSE(fx.launcher.runs[0].wait);
}

}  // namespace
}  // namespace varnel::test
