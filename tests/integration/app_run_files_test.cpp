// `varnel run` and what it leaves on disk when it is killed, or given a
// host directory whose files it cannot use: every file as it was, or consistent.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <map>
#include <optional>

#include "cli.h"
#include "host/ini_text.h"
#include "varnel_process.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::q;

// The house codes that the "mappings" setting gives the modules ("unit!type!hc!invert,").
std::vector<std::string> mappedHouseCodes(const fs::path& hostDir) {
    const auto text = host::iniGet(test::readFile(hostDir / "config" / "settings.ini"), "hspi_tarnwick", "mappings");
    std::vector<std::string> out;
    if (!text) return out;
    for (std::size_t at = 0; at < text->size();) {
        const std::size_t end = std::min(text->find(',', at), text->size());
        const std::string entry = text->substr(at, end - at);
        const std::size_t first = entry.find('!'), second = entry.find('!', first + 1);
        if (second != std::string::npos) out.push_back(entry.substr(second + 1, 1));
        at = end + 1;
    }
    return out;
}

TEST(VarnelRunFiles, killed_right_after_mirroring_the_devices_the_mappings_name_are_on_disk) {
    test::TempDir dir;
    test::LiveVarnel run(
        {"run", "--simulate", "--no-demo", "--host-dir", q(dir.path()), "--exec", "mirror points 1 0-15"});
    ASSERT_NE(run.waitFor("mirror points 1 0-15: ", 0, 40'000), std::string::npos) << run.said();
    ::kill(static_cast<pid_t>(run.pid()), SIGKILL);
    ASSERT_TRUE(run.waitForExit());

    const auto codes = mappedHouseCodes(dir.path());
    ASSERT_FALSE(codes.empty()) << test::readFile(dir.path() / "config" / "settings.ini");
    const auto devices = test::savedDevices(dir.path());
    for (const std::string& hc : codes) {
        const auto n = std::count_if(devices.begin(), devices.end(), [&](const auto& d) { return d.hc == hc; });
        EXPECT_EQ(n, 16) << "house code " << hc << " of the mappings";
    }
}

struct Refusal {
    std::string what;
    std::string says;
    int exitCode = app::kExitFailure;  // kExitConfig for a settings file that is wrong
};

std::map<fs::path, std::string> filesIn(const fs::path& dir) {
    std::map<fs::path, std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
        out[e.path()] = e.is_regular_file() ? test::readFile(e.path()) : "";
    return out;
}

// Runs varnel (as `user` when given) on a host directory it must refuse: nothing in its
// config folder, and nothing in the per-user store, may change.
void expectRefused(const fs::path& hostDir, const Refusal& r, std::optional<unsigned> user = std::nullopt) {
    const auto before = filesIn(hostDir / "config");
    test::TempDir userConfig;
    const QStringList args{"run", "--simulate", "--no-demo", "--host-dir", q(hostDir)};
    const auto out =
        user ? test::runVarnelAs(*user, args, userConfig.path()) : test::runVarnel(args, userConfig.path());
    EXPECT_EQ(out.exitCode, r.exitCode) << r.what << out.err;
    EXPECT_EQ(out.err, "varnel: " + r.says + "\n") << r.what;
    EXPECT_EQ(filesIn(hostDir / "config"), before) << r.what;
    EXPECT_TRUE(fs::is_empty(userConfig.path())) << r.what << ": settings went to the per-user store";
}

TEST(VarnelRunFiles, devices_or_settings_it_cannot_use_stop_the_run_and_stay_as_they_were) {
    test::TempDir dir;
    const fs::path config = dir.path() / "config";
    fs::create_directories(config);
    test::writeFile(config / "devices.txt",
                    "varnel host devices 1\nnext\t40002\n"
                    "dev\t40001\tA\t1\tLamp\tHall\t\t0\t3\t0\t0\t\t\n");

    test::writeFile(config / "settings.ini", std::string(5 * 1024 * 1024, ';'));
    expectRefused(
        dir.path(),
        {"settings too large",
         "cannot use the settings: " + (config / "settings.ini").string() + " is larger than 4 MiB", app::kExitConfig});
    test::writeFile(config / "settings.ini", "[hspi_tarnwick]\r\ncomport=1\r\n");

    fs::permissions(config / "devices.txt", fs::perms::owner_read);
    expectRefused(dir.path(), {"read-only devices", "cannot write " + (config / "devices.txt").string() +
                                                        ": no write permission (mode 0400)"});
    fs::permissions(config / "devices.txt", fs::perms::owner_read | fs::perms::owner_write);

    // The case of a root-owned 0600 file after one run under sudo, for somebody else.
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs root and setpriv";
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        ASSERT_EQ(::chown(e.path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown(dir.path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown((config / "devices.txt").c_str(), 0, 0), 0);
    expectRefused(dir.path(),
                  {"unreadable devices", "cannot read " + (config / "devices.txt").string() + ": Permission denied"},
                  65534);
}

}  // namespace
}  // namespace varnel
