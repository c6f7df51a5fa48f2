#include <gtest/gtest.h>

#include <array>

#include "host/device_file.h"
#include "host_fixture.h"
#include "platform/virtual/virtual_loop.h"

namespace varnel::test {
namespace {

namespace fs = std::filesystem;

bool logMentions(const HostFixture& fx, const std::string& text) {
    return slurp(fx.path("logs/host.log")).find(text) != std::string::npos;
}

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
    EXPECT_EQ(again.DeviceExistsRef("#12"), ref);
    EXPECT_EQ(again.DeviceExistsRef("Q1"), other);
    EXPECT_TRUE(again.ison("#12"));
    const auto d = again.GetDeviceByRef(ref);  // every member read back through the host's calls
    EXPECT_EQ(d->name() + "|" + d->hc() + d->dc() + "|" + d->location() + "|" + d->interface_() + "|" + d->iomisc() +
                  "|" + d->dev_type_string(),
              "Variable\t0\\x\r\nnext|#12|Ocelot|Varnel|1!11!0!1|Interface Variable");
    EXPECT_EQ((std::array<std::int32_t, 3>{d->iotype(), d->Status(), d->misc()}),
              (std::array<std::int32_t, 3>{3, 2, 32768}));
    EXPECT_EQ(again.DeviceValue("#12"), -70000);
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
    EXPECT_TRUE(fx.host->unsaved());
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

TEST(DevicePersistence, a_leftover_temp_file_of_a_killed_save_is_removed_and_the_real_file_used) {
    HostFixture fx;
    addDevice(*fx.host, "a", "Q", "1");
    fx.host.reset();
    // No process has a number this high: the writer is gone.
    spit(fx.path("config/.devices.txt.2147483646.abcdef.varnel-tmp"), "varnel host devices 1\nnext\t5\ndev\t1\thalf");
    spit(fx.path("config/.settings.ini.2147483646.abcdef.varnel-tmp"), "[half");
    EmbeddedHost& hs = fx.start();
    EXPECT_EQ(hs.DeviceCount(), 1);
    EXPECT_NE(hs.DeviceExistsRef("Q1"), -1);
    EXPECT_FALSE(fs::exists(fx.path("config/.devices.txt.2147483646.abcdef.varnel-tmp")));
    EXPECT_FALSE(fs::exists(fx.path("config/.settings.ini.2147483646.abcdef.varnel-tmp")));
    EXPECT_TRUE(logMentions(fx, "removed " + fx.path("config/.devices.txt.2147483646.abcdef.varnel-tmp").string() +
                                    " left by an interrupted save"));
}

// Each damaged file is kept for the user, never over an earlier one.
TEST(DevicePersistence, a_file_that_is_not_a_device_file_is_set_aside_and_the_host_starts_empty) {
    HostFixture fx;
    const std::pair<std::string, const char*> cases[] = {
        {"", ""},
        {std::string("\x7f"
                     "ELF\0\0\xff",
                     7),
         ".2"},
        {"[hspi]\r\n", ".3"},
        {"varnel host devices 2\nnext\t1\n", ".4"},
    };
    for (const auto& [garbage, suffix] : cases) {
        fx.host.reset();
        spit(fx.path("config/devices.txt"), garbage);
        EmbeddedHost& hs = fx.start();
        EXPECT_EQ(hs.DeviceCount(), 0);
        const fs::path bad = fx.path("config/devices.txt.bad" + std::string(suffix));
        EXPECT_EQ(slurp(bad), garbage);
        EXPECT_TRUE(logMentions(fx, "is not a device file"));
        EXPECT_TRUE(logMentions(fx, "the original is kept as " + bad.string()));
        addDevice(hs, "new", "Q", "1");
        EXPECT_EQ(fx.restart().DeviceCount(), 1);
    }
    EXPECT_EQ(slurp(fx.path("config/devices.txt.bad")), "") << "the first copy stays";
}

TEST(DevicePersistence, bad_lines_are_skipped_and_reported_while_good_ones_load) {
    HostFixture fx;
    fx.host.reset();
    const std::string text =
        "varnel host devices 1\n"
        "next\t40010\n"
        "dev\t40001\tQ\t1\tgood one\tOcelot\tVarnel\t3\t2\t5\t32768\t\tInterface Variable\n"
        "dev\t40002\tQ\t2\tfew fields\n"
        "dev\t40003\tQ\t3\tbad number\tl\ti\tx\t2\t5\t0\t\tt\n"
        "dev\t40004\tQ\t4\tbig\tl\ti\t99999\t2\t5\t0\t\tt\n"
        "dev\t40001\tQ\t5\trepeated ref\tl\ti\t0\t2\t5\t0\t\tt\n"
        "dev\t-4\tQ\t6\tnegative ref\tl\ti\t0\t2\t5\t0\t\tt\n"
        "dev\t40007\tQ\t7\tbad \\q escape\tl\ti\t0\t2\t5\t0\t\tt\n"
        "what is this\n"
        "dev\t40008\tR\t1\ttrailing backslash\\\tl\ti\t0\t2\t5\t0\t\tt\n"
        "dev\t40010\tQ\t1\tsame code as line 3\tl\ti\t0\t2\t5\t0\t\tt\n"
        "dev\t2147450881\tR\t3\tref beyond what the table hands out\tl\ti\t0\t2\t5\t0\t\tt\n"
        "dev\t40011\tR\t4\tbad escape in the descriptor only\tl\ti\t0\t2\t5\t0\t\\q\tt\n"
        "dev\t40009\tR\t2\tlast, cut off\tl\ti\t0\t2";
    spit(fx.path("config/devices.txt"), text);
    EmbeddedHost& hs = fx.start();
    ASSERT_EQ(hs.DeviceCount(), 1);
    EXPECT_EQ(hs.GetDevice(1)->name(), "good one");
    EXPECT_EQ(hs.DeviceValue("Q1"), 5);
    EXPECT_EQ(slurp(fx.path("config/devices.txt.bad")), text);
    EXPECT_TRUE(logMentions(fx, "has 12 unreadable lines"));
    EXPECT_TRUE(logMentions(fx, "line 4: expected 13 fields"));
    EXPECT_TRUE(logMentions(fx, "line 12: device code Q1 repeated (first on line 3)"));
    EXPECT_TRUE(logMentions(fx, "line 13: reference 2147450881 out of range"));
    EXPECT_GE(hs.NewDeviceRef("next"), 40010);
    fx.restart();
    fx.restart();
    EXPECT_EQ(slurp(fx.path("config/devices.txt.bad")), text) << "set aside once, not at every start";
    EXPECT_FALSE(fs::exists(fx.path("config/devices.txt.bad.2")));
    EXPECT_EQ(slurp(fx.path("config/devices.txt")).find("what is this"), std::string::npos);
    EXPECT_EQ(fx.host->GetDevice(1)->name(), "good one");
}

TEST(DevicePersistence, a_next_reference_out_of_range_is_repaired_from_the_highest_in_use_and_reported) {
    HostFixture fx;
    fx.host.reset();
    spit(fx.path("config/devices.txt"),
         "varnel host devices 1\nnext\t2147483647\n"
         "dev\t40005\tQ\t1\tlamp\tl\ti\t0\t2\t5\t0\t\tt\n");
    EmbeddedHost& hs = fx.start();
    EXPECT_EQ(hs.NewDeviceRef("new"), 40006) << "every later creation would fail at the top of the range";
    EXPECT_TRUE(logMentions(fx,
                            "device file: next reference 2147483647 is out of range; new devices get "
                            "references from 40006 on"));
    EXPECT_FALSE(fs::exists(fx.path("config/devices.txt.bad"))) << "nothing of the file was lost";
}

TEST(DevicePersistence, a_file_that_cannot_be_read_or_saved_stops_the_host_and_is_left_alone) {
    // Starting without the devices would save an empty file over them at the first change.
    expectHostRefuses(
        "config/devices.txt",
        {
            {"directory", [](const fs::path& f) { fs::create_directories(f); }, "cannot read {}: Is a directory"},
            {"read-only",
             [](const fs::path& f) {
                 spit(f, "varnel host devices 1\nnext\t40001\n");
                 fs::permissions(f, fs::perms::owner_read);
             },
             "cannot write {}: no write permission (mode 0400)"},
        },
        [](const fs::path& file) {
            EXPECT_TRUE(fs::exists(file));
            EXPECT_FALSE(fs::exists(file.parent_path() / "devices.txt.bad"));
        });
}

TEST(DevicePersistence, a_device_file_that_is_a_link_is_saved_through_it) {
    for (const bool symbolic : {true, false}) {
        HostFixture fx;
        fx.host.reset();
        const fs::path file = fx.path("config/devices.txt");
        const fs::path other = fx.path("shared/devices.txt");
        spit(other, "varnel host devices 1\nnext\t40001\n");
        // A killed save through the link leaves its temporary beside the target.
        const fs::path leftover = fx.path("shared/.devices.txt.2147483646.abcdef.varnel-tmp");
        spit(leftover, "half");
        if (symbolic)
            fs::create_symlink(other, file);
        else
            fs::create_hard_link(other, file);
        addDevice(fx.start(), "lamp", "Q", "1");
        EXPECT_EQ(fs::exists(leftover), !symbolic) << "removed only where a save through the link puts it";
        fx.host->flush();
        EXPECT_EQ(fs::is_symlink(file), symbolic);
        EXPECT_TRUE(fs::equivalent(file, other)) << (symbolic ? "symbolic" : "hard") << " link kept";
        EXPECT_NE(slurp(other).find("\tlamp\t"), std::string::npos);
        EXPECT_EQ(fx.restart().DeviceCount(), 1);
    }
}

TEST(DevicePersistence, a_save_that_fails_is_reported_once_and_flush_does_not_claim_success) {
    HostFixture fx;
    addDevice(*fx.host, "a", "Q", "1");
    fs::remove(fx.path("config/devices.txt"));
    fs::create_directories(fx.path("config/devices.txt/blocker"));  // the rename cannot replace a directory
    fx.host->SetDeviceStatus("Q1", 2);
    fx.host->SetDeviceStatus("Q1", 3);
    EXPECT_TRUE(fx.host->unsaved());
    EXPECT_THROW(fx.host->flush(), HostError);
    EXPECT_EQ(std::distance(fs::directory_iterator(fx.path("config")), fs::directory_iterator{}), 2)
        << "no half-written file left behind, only settings.ini and the directory in the way";
    const std::string log = slurp(fx.path("logs/host.log"));
    const auto first = log.find("cannot save the devices");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(log.find("cannot save the devices", first + 1), std::string::npos) << "said once, not per change";

    fs::remove_all(fx.path("config/devices.txt"));
    fx.host->flush();
    EXPECT_FALSE(fx.host->unsaved());
    EXPECT_EQ(fx.restart().DeviceStatus("Q1"), 3);
}

TEST(HostDirectory, an_unusable_directory_is_a_one_line_error_naming_the_path) {
    TempDir dir;
    spit(dir.path() / "plain-file", "x");
    const fs::path bad = dir.path() / "plain-file" / "host";
    MemorySettings settings;
    RecordingLauncher launcher;
    try {
        EmbeddedHost hs(bad, settings, launcher);
        FAIL() << "constructed on an unusable directory";
    } catch (const HostDirError& e) {
        const std::string msg = e.what();
        EXPECT_NE(msg.find(bad.string()), std::string::npos) << msg;
        EXPECT_EQ(msg.find('\n'), std::string::npos) << msg;
    }
}

TEST(HostDirectory, app_path_is_the_absolute_host_directory_without_a_trailing_separator) {
    HostFixture fx;
    const std::string p = fx.host->GetAppPath();
    EXPECT_EQ(fs::path(p), fs::absolute(fx.dir.path()).lexically_normal());
    EXPECT_NE(p.back(), '/');
}

}  // namespace
}  // namespace varnel::test
