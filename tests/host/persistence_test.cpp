// What the host keeps on disk: devices and settings survive a restart, a kill, a link and a
// failing disk. The texts a damaged file makes the host say are in the host_files scenario.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>

#include "host/device_file.h"
#include "host/ini_text.h"
#include "host_fixture.h"
#include "platform/virtual/virtual_loop.h"

namespace varnel::test {
namespace {

namespace fs = std::filesystem;

TEST(DevicePersistence, a_restart_finds_every_device_with_all_members_status_and_value) {
    HostFixture fx;
    const std::int32_t ref = addDevice(*fx.host, "Variable\t0\\x\r\nnext", "#", "12");
    {
        auto d = fx.host->GetDeviceByRef(ref);
        d->set_location("Ocelot");
        d->set_interface("Varnel");
        d->set_iotype(3);
        d->set_misc(32768);
        d->set_iomisc("1!11!0!1");
        d->set_dev_type_string("Interface Variable");
    }
    fx.host->SetDeviceStatus("#12", 2);
    fx.host->SetDeviceValue("#12", -70000);
    const std::int32_t other = addDevice(*fx.host, "Input 1", "Q", "1");
    const auto before = fx.host->devices();
    const std::int32_t newest = fx.host->NewDeviceRef("deleted");
    fx.host->DeleteDevice(newest);

    EmbeddedHost& again = fx.restart();
    EXPECT_EQ(again.devices(), before);
    EXPECT_EQ(again.DeviceExistsRef("Q1"), other);
    const auto d = again.GetDeviceByRef(ref);  // every member read back through the host's calls
    EXPECT_EQ(d->name() + "|" + d->hc() + d->dc() + "|" + d->location() + "|" + d->interface_() + "|" + d->iomisc() +
                  "|" + d->dev_type_string(),
              "Variable\t0\\x\r\nnext|#12|Ocelot|Varnel|1!11!0!1|Interface Variable");
    EXPECT_EQ((std::array<std::int32_t, 4>{d->iotype(), d->Status(), d->misc(), again.DeviceValue("#12")}),
              (std::array<std::int32_t, 4>{3, 2, 32768, -70000}));
    EXPECT_GT(again.NewDeviceRef("c"), newest) << "not reused even when the newest was deleted";
}

// What a process killed at this moment would leave for the next start.
std::vector<host::DeviceRecord> onDisk(const HostFixture& fx) {
    return host::readDeviceFile(slurp(fx.path("config/devices.txt"))).records;
}

TEST(DevicePersistence, devices_made_or_changed_are_saved_when_their_calls_are_over_and_values_after_the_delay) {
    VirtualLoop loop;
    HostFixture fx({.loop = &loop, .saveDelayMs = 500});
    const std::int32_t q1 = addDevice(*fx.host, "a", "Q", "1");
    loop.advance(1);  // the next turn of the loop
    ASSERT_EQ(onDisk(fx).size(), 1u);
    EXPECT_EQ(onDisk(fx)[0].code(), "Q1") << "the code written after the creation is saved with it";

    // A setting may name the device (the unit mappings): the device is on disk first.
    fx.host->GetDeviceByRef(q1)->set_location("Hall");
    fx.host->DeleteDevice(addDevice(*fx.host, "gone", "Q", "9"));
    fx.host->SaveIniSetting("hspi_tarnwick", "mappings", "1!11!Q!0,");
    ASSERT_EQ(onDisk(fx).size(), 1u);
    EXPECT_EQ(onDisk(fx)[0].location, "Hall");

    fx.host->SetDeviceStatus("Q1", 3);
    fx.host->SetDeviceValue("Q1", 9);
    loop.advance(499);
    EXPECT_TRUE(fx.host->unsaved());
    EXPECT_EQ(onDisk(fx)[0].value, 0);
    loop.advance(1);
    EXPECT_FALSE(fx.host->unsaved());
    EXPECT_EQ(onDisk(fx)[0].value, 9);

    addDevice(*fx.host, "b", "Q", "2");
    fx.host->SetDeviceValue("Q2", 5);
    EXPECT_EQ(fx.restart().DeviceValue("Q2"), 5) << "closing the host saves what is pending";
}

// Starting without the devices or settings would save an empty file over them at the first
// change; the per-user store is shared by every host directory, so nothing may go there instead.
TEST(HostFiles, a_devices_or_settings_file_that_cannot_be_read_or_saved_stops_the_host_and_is_left_alone) {
    const auto directory = [](const fs::path& f) { fs::create_directories(f); };
    const auto readOnly = [](const fs::path& f) {
        spit(f, "varnel host devices 1\nnext\t40001\n");
        fs::permissions(f, fs::perms::owner_read);
    };
    const auto leftAlone = [](const fs::path& file) {
        EXPECT_TRUE(fs::exists(file));
        EXPECT_FALSE(fs::exists(file.string() + ".bad"));
    };
    expectHostRefuses("config/devices.txt",
                      {{"directory", directory, "cannot read {}: Is a directory"},
                       {"read-only", readOnly, "cannot write {}: no write permission (mode 0400)"}},
                      leftAlone);
    expectHostRefuses("config/settings.ini",
                      {{"too large", [](const fs::path& f) { spit(f, std::string(4 * 1024 * 1024 + 1, ';')); },
                        "cannot use the settings: {} is larger than 4 MiB"},
                       {"directory", directory, "cannot use the settings: cannot read {}: Is a directory"},
                       {"read-only", readOnly, "cannot write {}: no write permission (mode 0400)"}},
                      leftAlone);
}

TEST(HostFiles, saves_go_through_links_and_an_unchanged_settings_file_is_not_written) {
    enum Kind { Symbolic, Hard };
    for (const Kind kind : {Symbolic, Hard}) {
        SCOPED_TRACE(kind == Symbolic ? "symbolic" : "hard");
        HostFixture fx;
        fx.host.reset();
        for (const char* name : {"devices.txt", "settings.ini"}) {
            const fs::path file = fx.path("config") / name, real = fx.path("shared") / name;
            fs::remove(file);
            spit(real, name == std::string("devices.txt") ? "varnel host devices 1\nnext\t40001\n"
                                                          : "[hspi_tarnwick]\ncomport=3\n");
            if (kind == Symbolic)
                fs::create_symlink(real, file);
            else
                fs::create_hard_link(real, file);
        }
        // A killed save through a link leaves its temporary beside the target.
        const fs::path leftover = fx.path("shared/.devices.txt.2147483646.abcdef.varnel-tmp");
        spit(leftover, "half");
        addDevice(fx.start(), "lamp", "Q", "1");
        EXPECT_EQ(fs::exists(leftover), kind == Hard) << "removed only where a save through the link puts it";
        fx.host->SaveIniSetting("hspi_tarnwick", "comport", "4");
        fx.host->flush();
        for (const char* name : {"devices.txt", "settings.ini"}) {
            const fs::path file = fx.path("config") / name;
            EXPECT_EQ(fs::is_symlink(file), kind == Symbolic) << name;
            EXPECT_TRUE(fs::equivalent(file, fx.path("shared") / name)) << name;
        }
        EXPECT_EQ(slurp(fx.path("shared/settings.ini")), "[hspi_tarnwick]\ncomport=4\n");
        EXPECT_EQ(fx.restart().DeviceCount(), 1);
    }
    HostFixture fx;
    const fs::path settings = fx.path("config/settings.ini");
    spit(settings, "[hspi_tarnwick]\r\ncomport=3\r\n");
    struct stat before {};
    ::stat(settings.c_str(), &before);
    fx.host->SaveIniSetting("hspi_tarnwick", "comport", "3");
    struct stat after {};
    ::stat(settings.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino) << "not written again";
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST(HostFiles, a_save_that_fails_leaves_nothing_half_written_and_flush_does_not_claim_success) {
    HostFixture fx;
    addDevice(*fx.host, "a", "Q", "1");
    fs::remove(fx.path("config/devices.txt"));
    fs::create_directories(fx.path("config/devices.txt/blocker"));  // the rename cannot replace a directory
    fx.host->SetDeviceStatus("Q1", 3);
    EXPECT_TRUE(fx.host->unsaved());
    EXPECT_THROW(fx.host->flush(), HostError);
    EXPECT_EQ(std::distance(fs::directory_iterator(fx.path("config")), fs::directory_iterator{}), 2)
        << "no temporary left behind, only settings.ini and the directory in the way";
    fs::remove_all(fx.path("config/devices.txt"));
    fx.host->flush();
    EXPECT_FALSE(fx.host->unsaved());
    EXPECT_EQ(fx.restart().DeviceStatus("Q1"), 3);

    spit(fx.path("config/settings.ini"), "[s]\r\nk=1\r\n");
    EXPECT_THROW(fx.host->SaveIniSetting("hspi_tarnwick", "k", "a\nb"), HostError);
    EXPECT_EQ(slurp(fx.path("config/settings.ini")), "[s]\r\nk=1\r\n");
}

TEST(HostFiles, the_settings_file_is_made_empty_unless_told_otherwise) {
    HostFixture without({.createSettingsFile = false});
    EXPECT_FALSE(fs::exists(without.path("config/settings.ini")));
    without.host->SaveIniSetting("hspi_tarnwick", "reg_moved", "1");
    EXPECT_EQ(slurp(without.path("config/settings.ini")), "[hspi_tarnwick]\r\nreg_moved=1\r\n");
}

TEST(HostFiles, move_settings_copies_every_storable_per_user_key_into_the_host_section) {
    HostFixture fx;
    spit(fx.path("config/settings.ini"), "[Other]\r\ncomport=9\r\n");
    fx.userSettings.set("hspi_tarnwick", "settings", "comport", "7");
    fx.userSettings.set("hspi_tarnwick", "settings", "ProjectFile", " C:\\cmax\\house.prj");
    fx.userSettings.set("hspi_tarnwick", "settings", "bad", "two\nlines");  // skipped, the rest still moves
    fx.userSettings.set("hspi_tarnwick", "Varnel.ini", "comport", "99");
    fx.userSettings.set("other_app", "settings", "comport", "98");
    EmbeddedHost& hs = *fx.host;
    hs.MoveSettings("Software\\VB and VBA Program Settings\\hspi_tarnwick\\Settings", "settings");
    EXPECT_EQ(slurp(fx.path("config/settings.ini")),
              "[Other]\r\ncomport=9\r\n\r\n[hspi_tarnwick]\r\nProjectFile=\" C:\\cmax\\house.prj\"\r\ncomport=7\r\n");
    EXPECT_EQ(hs.GetIniSetting("hspi_tarnwick", "ProjectFile", ""), " C:\\cmax\\house.prj");
    // A path without the application's name is an error.
    EXPECT_THROW(hs.MoveSettings("Settings", "settings"), HostError);
    EXPECT_THROW(hs.MoveSettings("a\\hspi_tarnwick\\Settings", "elsewhere"), HostError);
}

}  // namespace
}  // namespace varnel::test
