// `varnel run` given a host directory whose files it cannot use: every file stays as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <optional>

#include "cli.h"
#include "host/ini_text.h"
#include "varnel_process.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::q;

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
