// `varnel sync` end to end: the executable on a copy of the sample project and a host
// directory that a run of the plug-in has left with mirrored variables and points.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QProcess>
#include <algorithm>
#include <thread>

#include "devices/device_model.h"
#include "host/embedded_callback.h"
#include "host/embedded_host.h"
#include "host_dir_lock.h"
#include "plugin/hspi.h"
#include "pty_pair.h"
#include "rig.h"
#include "sysmap/system_map.h"
#include "varnel_process.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::q;
using test::readFile;
using test::runVarnel;
using test::writeFile;

const fs::path kSample = fs::path(VARNEL_SAMPLES_DIR) / "house.prj";

std::string lineAt(const std::string& text, int id) {
    std::size_t pos = 0;
    for (int i = 1; i < id; ++i) pos = text.find('\n', pos) + 1;
    const auto end = text.find('\n', pos);
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

bool hasLine(const std::string& text, const std::string& line) { return text.find(line + "\n") != std::string::npos; }

class VarnelSync : public ::testing::Test {
protected:
    VarnelSync() {
        fs::copy_file(kSample, project);
        seed();
        devicesBefore = readFile(hostDir / "config" / "devices.txt");
    }

    // What a run that mirrors variable 0, points 1 and 9 of the SECU16 at unit 1 and
    // point 3 of the RELAY-08 at unit 3 leaves behind, plus an X10 device of the user's.
    void seed() {
        test::Rig rig;
        auto host = std::make_shared<EmbeddedHost>(hostDir, rig.userSettings, rig.launcher);
        HSPI hspi(Platform{rig.loop, rig.port, rig.userSettings, rig.prompts, rig.launcher, hostDir, {}}, [] {});
        hspi.RegisterCallback(std::make_shared<EmbeddedCallback>(host));
        Context& ctx = hspi.context();
        FindInterface(ctx);
        GetHSDevice(ctx, CreateDevice(ctx, "#1", 0))->set_location("Study");
        GetHSDevice(ctx, hsDeviceExists(ctx, "#1"))->set_name("Heater Setpoint");
        CreateInput16(ctx, "[1", 1, 0);
        CreateOutput16(ctx, "[9", 1, 0);
        CreateOutputRly(ctx, "]3", 3, 1);
        auto lamp = host->GetDeviceByRef(host->NewDeviceRef("Ceiling"));
        lamp->set_hc("A");
        lamp->set_dc("1");
        lamp->set_location("Kitchen");
        writeFile(hostDir / "config" / "irlbl.cfg", "\"TV\"\r\n\"Amp\"\r\n");
        host->flush();
    }

    // The devices as the host finds them at its next start.
    std::vector<host::DeviceRecord> devices() const {
        test::Rig rig;
        EmbeddedHost host(hostDir, rig.userSettings, rig.launcher);
        return host.devices();
    }
    std::optional<host::DeviceRecord> device(const std::string& code) const {
        for (const auto& d : devices())
            if (d.code() == code) return d;
        return std::nullopt;
    }

    test::Outcome sync(QStringList args, std::optional<std::string> stdinFile = std::nullopt) {
        args.prepend("sync");
        args << "--host-dir" << q(hostDir);
        return runVarnel(test::VarnelRun{args, config.path(), std::move(stdinFile), 30'000});
    }

    void expectNothingChanged() {
        EXPECT_EQ(readFile(project), readFile(kSample));
        EXPECT_FALSE(fs::exists(backupPathFor(project)));
        EXPECT_EQ(readFile(hostDir / "config" / "devices.txt"), devicesBefore);
        EXPECT_FALSE(fs::exists(hostDir / "config" / "Synchronized irlbl.cfg"));
    }

    test::TempDir dir;
    test::TempDir config;
    fs::path hostDir = dir.path() / "host";
    fs::path project = dir.path() / "house.prj";
    std::string devicesBefore;
};

TEST_F(VarnelSync, host_names_go_into_only_their_lines_of_the_project_file) {
    const auto r = sync({"--to-project", "--all", "--yes", "--project", q(project)});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    const std::string before = readFile(kSample);
    const std::string after = readFile(project);
    EXPECT_EQ(readFile(backupPathFor(project)), before);
    const std::map<int, std::string> expected = {
        {8, "\t\t\tStudy Heater Setpoint"},
        {137, "\t\t\tA1 Kitchen Ceiling"},
        {1428, "\t\t[1 Secu16 Unit 1 Input 1"},
        {1444, "\t\t[1 Secu16 Unit 1 Input 1"},
        {1436, "\t\t[9 Secu16 Unit 1 Relay Output 1"},
        {1488, "\t\t]3 Rly08 Unit 3 Relay Output 3"},
    };
    const int lines = static_cast<int>(std::count(before.begin(), before.end(), '\n'));
    ASSERT_EQ(std::count(after.begin(), after.end(), '\n'), lines);
    for (int id = 1; id <= lines; ++id) {
        const auto it = expected.find(id);
        EXPECT_EQ(lineAt(after, id), it == expected.end() ? lineAt(before, id) : it->second) << "line " << id;
    }
    EXPECT_TRUE(hasLine(r.out, "Line 137: \"Kitchen Ceiling\" -> \"A1 Kitchen Ceiling\"")) << r.out;
    EXPECT_TRUE(hasLine(r.out, "Wrote the project file")) << r.out;
    EXPECT_EQ(readFile(hostDir / "config" / "devices.txt"), devicesBefore);
}

TEST_F(VarnelSync, system_map_names_reach_the_host_devices_and_the_ir_files) {
    // The host's rename script gets the host directory, as at a host shutdown.
    writeFile(hostDir / "scripts" / "Varnel_RenameFiles.vbs", "#!/bin/sh\necho \"$1\" > \"$1/renamed\"\n");
    fs::permissions(hostDir / "scripts" / "Varnel_RenameFiles.vbs", fs::perms::owner_all);
    const auto r = sync({"--from-project", "--all", "--yes", "--project", q(project)});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    const struct {
        const char* code;
        const char* location;
        const char* name;
    } expected[] = {
        {"#1", "Hall", "Thermostat Setpoint"},
        {"A1", "Kitchen", "Ceiling"},
        {"A2", "Kitchen", "Island"},
        {"B3", "Caf\xe9", "Lamp"},
        {"[1", "Front", "Door Contact"},
        {"[9", "Garage", "Door Relay"},
        {"]3", "Hot", "Water"},
    };
    for (const auto& e : expected) {
        const auto d = device(e.code);
        ASSERT_TRUE(d) << e.code;
        EXPECT_EQ(d->location, e.location) << e.code;
        EXPECT_EQ(d->name, e.name) << e.code;
    }
    EXPECT_EQ(readFile(project), readFile(kSample));
    EXPECT_TRUE(hasLine(r.out, "Device A2 created: location \"Kitchen\", name \"Island\"")) << r.out;
    EXPECT_TRUE(hasLine(r.out,
                        "Device #1: location \"Study\" -> \"Hall\", name \"Heater Setpoint\" -> "
                        "\"Thermostat Setpoint\""))
        << r.out;
    EXPECT_TRUE(fs::exists(hostDir / "config" / "Synchronized irlbl.cfg"));
    for (int i = 0; i < 50 && !fs::exists(hostDir / "renamed"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(readFile(hostDir / "renamed"), hostDir.string() + "\n");
}

TEST_F(VarnelSync, answering_no_on_the_terminal_changes_nothing_in_either_direction) {
    for (const char* direction : {"--to-project", "--from-project"}) {
        test::PtyPair terminal;
        terminal.write({'n', '\n'});
        const auto r = sync({direction, "--all", "--project", q(project)}, terminal.slaveName());
        EXPECT_EQ(r.exitCode, 1) << direction << r.err;
        EXPECT_NE(r.err.find("Are you certain you want to overwrite"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("[y/N]"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "Not synchronized: the confirmation was declined\n");
        expectNothingChanged();
    }
}

TEST_F(VarnelSync, yes_on_the_terminal_synchronises) {
    test::PtyPair terminal;
    terminal.write({'Y', 'e', 's', '\n'});
    const auto r = sync({"--to-project", "--variables", "--project", q(project)}, terminal.slaveName());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(lineAt(readFile(project), 8), "\t\t\tStudy Heater Setpoint");
    // Only the variables were asked for.
    EXPECT_EQ(lineAt(readFile(project), 137), lineAt(readFile(kSample), 137));
}

TEST_F(VarnelSync, the_project_file_setting_is_the_default) {
    writeFile(hostDir / "config" / "settings.ini", "[hspi_tarnwick]\r\nProjectFile=" + project.string() + "\r\n");
    const auto r = sync({"--to-project", "--x10", "--yes"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(lineAt(readFile(project), 137), "\t\t\tA1 Kitchen Ceiling");
}

TEST_F(VarnelSync, refusals_are_one_line_and_change_nothing) {
    writeFile(dir.path() / "long.prj", "System Map\r\n\t" + std::string(300, 'x') + "\r\n");
    fs::create_directories(dir.path() / "folder.prj");
    app::HostDirLock other;
    const struct {
        QStringList args;
        int exitCode;
        std::string says;
        bool holdLock = false;
    } cases[] = {
        {{"--to-project", "--all", "--project", q(project)},
         2,
         "nobody to confirm (standard input is not a terminal); add --yes to synchronise without asking"},
        {{"--to-project", "--all", "--yes", "--project", q(dir.path() / "none.prj")},
         1,
         "the project file " + (dir.path() / "none.prj").string() + " does not exist"},
        {{"--to-project", "--all", "--yes", "--project", q(dir.path() / "folder.prj")},
         1,
         (dir.path() / "folder.prj").string() + " is not a file"},
        {{"--to-project", "--all", "--yes", "--project", q(dir.path() / "long.prj")},
         1,
         "cannot read the project file " + (dir.path() / "long.prj").string() +
             ": line 2: Line longer than 255 characters"},
        {{"--to-project", "--all", "--yes"},
         1,
         "no project file: give --project FILE or set ProjectFile in the settings"},
        {{"--from-project", "--to-project", "--all"}, 2, "say which side is master: --from-project or --to-project"},
        {{"--from-project"}, 2, "say what to synchronise: --variables, --x10, --io, --ir or --all"},
        {{"--to-project", "--all", "--yes", "--project", q(project)},
         1,
         "host directory " + hostDir.string() + " is in use by another varnel process (" + std::to_string(::getpid()) +
             ")",
         true},
    };
    for (const auto& c : cases) {
        if (c.holdLock) {
            ASSERT_EQ(other.take(hostDir), std::nullopt);
        }
        const auto r = sync(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.says;
        EXPECT_EQ(r.err, "varnel sync: " + c.says + "\n");
        EXPECT_EQ(r.out, "");
        expectNothingChanged();
    }
}

TEST_F(VarnelSync, a_missing_host_directory_is_not_created) {
    const auto missing = dir.path() / "nohost";
    const auto r = runVarnel(
        test::VarnelRun{{"sync", "--to-project", "--all", "--yes", "--project", q(project), "--host-dir", q(missing)},
                        config.path(),
                        std::nullopt,
                        30'000});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "varnel sync: no host directory at " + missing.string() + "; give --host-dir DIR\n");
    EXPECT_FALSE(fs::exists(missing));
}

}  // namespace
}  // namespace varnel
