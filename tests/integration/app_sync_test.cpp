// `varnel sync` end to end: the executable on a copy of the sample project and a host
// directory that a run of the plug-in has left with mirrored variables and points.
// What each direction writes line by line is pinned in the sysmap tests.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "devices/device_model.h"
#include "host/embedded_callback.h"
#include "host/embedded_host.h"
#include "host_dir_lock.h"
#include "plugin/hspi.h"
#include "pty_pair.h"
#include "sysmap/system_map.h"
#include "varnel_process.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::lineAt;
using test::q;
using test::readFile;
using test::writeFile;

const fs::path kSample = fs::path(VARNEL_SAMPLES_DIR) / "house.prj";

class VarnelSync : public ::testing::Test {
protected:
    // What a run that mirrors variable 0, points 1 and 9 of the SECU16 at unit 1 and
    // point 3 of the RELAY-08 at unit 3 leaves behind, plus an X10 device of the user's.
    VarnelSync() {
        fs::copy_file(kSample, project);
        test::Rig rig;
        auto host = std::make_shared<EmbeddedHost>(hostDir, rig.userSettings, rig.launcher);
        HSPI hspi(Platform{rig.loop, rig.port, rig.userSettings, rig.prompts, rig.launcher, hostDir, {}}, [] {});
        hspi.RegisterCallback(std::make_shared<EmbeddedCallback>(host));
        PluginState& ctx = hspi.context();
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
        devicesBefore = readFile(hostDir / "config" / "devices.txt");
    }

    test::Outcome sync(QStringList args, const std::optional<std::string>& terminal = std::nullopt) {
        args.prepend("sync");
        args.insert(1, "--host-dir");
        args.insert(2, q(hostDir));
        return test::runVarnel(args, config.path(), terminal);
    }

    // A SECU16IR at unit 4 (the sample's zone module), known to the host by a device
    // of the plug-in's that says so, and a live zone file to synchronize.
    void addZoneModule() {
        test::Rig rig;
        auto host = std::make_shared<EmbeddedHost>(hostDir, rig.userSettings, rig.launcher);
        const auto point = test::savedDevice(hostDir, "[1");
        ASSERT_TRUE(point);
        auto dv = host->GetDeviceByRef(host->NewDeviceRef("Zones"));
        dv->set_hc("{");
        dv->set_dc("1");
        dv->set_interface(point->interface_);
        dv->set_iotype(kIoInput);
        dv->set_iomisc("4!6");
        host->flush();
        writeFile(hostDir / "config" / "irzones.cfg", "\"1\"\r\n");
    }

    void writeRenameScript(fs::perms perms = fs::perms::owner_all) {
        writeFile(hostDir / "scripts" / "Varnel_RenameFiles.vbs", "#!/bin/sh\necho \"$1\" > \"$1/renamed\"\n");
        fs::permissions(hostDir / "scripts" / "Varnel_RenameFiles.vbs", perms);
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

// Line by line both directions are pinned in tests/sysmap (SampleRound); here what the
// command adds: the report on standard output, the backup, the rename script.
TEST_F(VarnelSync, the_report_is_escaped_and_the_rename_script_gets_the_host_directory) {
    {
        test::Rig rig;
        EmbeddedHost host(hostDir, rig.userSettings, rig.launcher);
        host.GetDeviceByRef(host.DeviceExistsRef("A1"))->set_name("Ceil\ning\x1b[31m red");
        host.flush();
    }
    writeRenameScript();
    const auto r = sync({"--from-project", "--all", "--yes", "--replace-ir-files", "--project", q(project)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Device A1: location \"Kitchen\" -> \"Kitchen\", name \"Ceil\\ning\\x1b[31m red\" -> "
                         "\"Ceiling\"\n"),
              std::string::npos)
        << r.out;
    // The sample's one name in the Windows code page is no raw byte either.
    EXPECT_EQ(r.out.find_first_of("\x1b\xe9"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(project), readFile(kSample));
    QtEventLoop loop;
    loop.waitUntil(5000, [&] { return fs::exists(hostDir / "renamed"); });
    EXPECT_EQ(readFile(hostDir / "renamed"), hostDir.string() + "\n");
}

TEST_F(VarnelSync, the_terminal_is_asked_and_only_yes_synchronises) {
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
    // Into the project file the settings name.
    writeFile(hostDir / "config" / "settings.ini", "[hspi_tarnwick]\r\nProjectFile=" + project.string() + "\r\n");
    test::PtyPair terminal;
    terminal.write({'Y', 'e', 's', '\n'});
    const auto r = sync({"--to-project", "--variables"}, terminal.slaveName());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Wrote the project file\n"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(backupPathFor(project)), readFile(kSample));
    EXPECT_EQ(lineAt(readFile(project), 8), "\t\t\tStudy Heater Setpoint");
    EXPECT_EQ(lineAt(readFile(project), 137), lineAt(readFile(kSample), 137));
}

TEST_F(VarnelSync, a_project_of_a_group_the_user_is_not_in_keeps_its_group_and_mode) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs root and setpriv";
    // The user owns the project; the group that shares it is one the user is not in.
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        ASSERT_EQ(::lchown(e.path().c_str(), 65534, 65534), 0);
    for (const fs::path& p : {dir.path(), config.path()}) ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown(project.c_str(), 65534, 0), 0);
    ASSERT_EQ(::chmod(project.c_str(), 0664), 0);
    const auto r = test::runVarnelAs(
        65534, {"sync", "--host-dir", q(hostDir), "--to-project", "--all", "--yes", "--project", q(project)},
        config.path());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Wrote the project file"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("rewritten in place: a new file could not keep its owner and group"), std::string::npos)
        << r.err;
    struct stat after {};
    ::stat(project.c_str(), &after);
    EXPECT_EQ(after.st_gid, 0u) << "the group keeps its access";
    EXPECT_EQ(after.st_uid, 65534u);
    EXPECT_EQ(after.st_mode & 07777, 0664u);
    EXPECT_NE(readFile(project), readFile(kSample));
    EXPECT_EQ(readFile(backupPathFor(project)), readFile(kSample));
}

TEST_F(VarnelSync, live_ir_files_are_replaced_only_when_asked_and_a_script_that_fails_fails_the_run) {
    const std::string script = (hostDir / "Scripts" / "Varnel_RenameFiles.vbs").string();
    const std::string stay = "; the synchronized IR files stay beside the live ones\n";
    const struct {
        std::optional<fs::perms> script;  // none: not there
        bool replace;
        int exitCode;
        std::string ends;
    } cases[] = {
        {std::nullopt, true, 1, "IR files not replaced: the rename script " + script + " is not there" + stay},
        {fs::perms::owner_read | fs::perms::owner_write, true, 1,
         "IR files not replaced: the rename script " + script + " could not be started" + stay},
        // Without its own flag --yes does not replace them, and nobody is asked.
        {fs::perms::owner_all, false, 0, "The synchronized IR files stay beside the live ones and are not used\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ends);
        if (c.script) writeRenameScript(*c.script);
        QStringList args{"--from-project", "--ir", "--yes", "--project", q(project)};
        if (c.replace) args << "--replace-ir-files";
        const auto r = sync(args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(r.out.ends_with(c.ends)) << r.out;
        EXPECT_EQ(r.out.find("Started the rename script"), std::string::npos) << r.out;
        EXPECT_EQ(r.err.find("Do you want them to replace"), std::string::npos);
        EXPECT_TRUE(fs::exists(hostDir / "config" / "Synchronized irlbl.cfg"));
        EXPECT_FALSE(fs::exists(hostDir / "renamed"));
    }
}

TEST_F(VarnelSync, a_failed_step_stays_the_last_line_when_ir_files_wait) {
    addZoneModule();
    // The zone step fails; the label file is still made and waits to be swapped in.
    fs::create_directories(hostDir / "config" / "Synchronized irzones.cfg");
    writeRenameScript();
    const char* const says = "Not fully synchronized: DefineHSIO failed (see the host log)\n";
    for (const bool replace : {false, true}) {
        QStringList args{"--from-project", "--all", "--yes", "--project", q(project)};
        if (replace) args << "--replace-ir-files";
        const auto r = sync(args);
        EXPECT_EQ(r.exitCode, 1) << replace;
        EXPECT_TRUE(fs::exists(hostDir / "config" / "Synchronized irlbl.cfg"));
        EXPECT_TRUE(r.out.ends_with(says)) << r.out;
        EXPECT_NE(r.out.find(replace ? "Started the rename script" : "stay beside the live ones and are not used"),
                  std::string::npos)
            << r.out;
    }
    QtEventLoop loop;
    EXPECT_TRUE(loop.waitUntil(5000, [&] { return fs::exists(hostDir / "renamed"); }));
}

TEST_F(VarnelSync, refusals_are_one_line_and_change_nothing) {
    const fs::path junk = dir.path() / "junk.prj";
    std::string junkBytes;
    for (int i = 0; i < 3000; ++i) junkBytes += i % 50 == 49 ? '\n' : static_cast<char>((i * 7919) % 251);
    writeFile(junk, junkBytes);
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
        {{"--to-project", "--all", "--yes"},
         1,
         "no project file: give --project FILE or set ProjectFile in the settings"},
        {{"--to-project", "--all", "--yes", "--project", q(junk)},
         1,
         "no System Map section found in " + junk.string() + ": not a CMAX project file"},
        {{"--from-project", "--all", "--yes", "--project", q(junk)},
         1,
         "no System Map section found in " + junk.string() + ": not a CMAX project file"},
        {{"--to-project", "--all", "--yes", "--project", q(project), "--host-dir", q(dir.path() / "nohost")},
         1,
         "no host directory at " + (dir.path() / "nohost").string() + "; give --host-dir DIR"},
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
    EXPECT_FALSE(fs::exists(dir.path() / "nohost"));
    EXPECT_EQ(readFile(junk), junkBytes);
    EXPECT_FALSE(fs::exists(backupPathFor(junk)));
}

}  // namespace
}  // namespace varnel
