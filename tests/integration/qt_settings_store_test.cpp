// The per-user settings store on QSettings.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "platform/qt/qt_settings_store.h"
#include "rig.h"

namespace varnel {
namespace {

TEST(QtSettingsStore, values_round_trip_through_the_file_and_missing_keys_give_the_fallback) {
    test::TempDir dir;
    {
        QtSettingsStore store(dir.path());
        EXPECT_EQ(store.get("Varnel", "settings", "comport", "1"), "1");
        store.set("Varnel", "settings", "comport", "3");
        store.set("Varnel", "settings", "irmax_exe", "C:\\Program Files\\IR_MAX\\irmax.exe");
        store.set("Varnel", "settings", "names", "a, b,\"c\"");
        store.set("Varnel", "settings", "empty", "");
    }
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "varnel" / "Varnel.conf"));
    const QtSettingsStore reread(dir.path());
    EXPECT_EQ(reread.get("Varnel", "settings", "comport", "1"), "3");
    EXPECT_EQ(reread.get("Varnel", "settings", "irmax_exe", ""), "C:\\Program Files\\IR_MAX\\irmax.exe");
    EXPECT_EQ(reread.get("Varnel", "settings", "names", ""), "a, b,\"c\"");
    EXPECT_EQ(reread.get("Varnel", "settings", "empty", "x"), "");
}

TEST(QtSettingsStore, applications_and_sections_are_kept_apart) {
    test::TempDir dir;
    QtSettingsStore store(dir.path());
    store.set("Varnel", "settings", "poll_interval", "500");
    store.set("Varnel", "other", "poll_interval", "900");
    store.set("Tool", "settings", "poll_interval", "100");
    EXPECT_EQ(store.get("Varnel", "settings", "poll_interval", ""), "500");
    EXPECT_EQ(store.get("Varnel", "other", "poll_interval", ""), "900");
    EXPECT_EQ(store.get("Tool", "settings", "poll_interval", ""), "100");
}

TEST(QtSettingsStore, separators_in_names_do_not_reach_other_keys) {
    test::TempDir dir;
    QtSettingsStore store(dir.path());
    store.set("Varnel", "settings", "a/b", "1");
    store.set("Varnel", "settings/a", "b", "2");
    EXPECT_EQ(store.get("Varnel", "settings", "a/b", ""), "1");
    EXPECT_EQ(store.get("Varnel", "settings/a", "b", ""), "2");
}

TEST(QtSettingsStore, a_hand_edited_list_value_reads_as_text) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.path() / "varnel");
    std::ofstream(dir.path() / "varnel" / "Varnel.conf") << "[settings]\nlist=1,2,3\ngarbage line\n";
    const QtSettingsStore store(dir.path());
    EXPECT_EQ(store.get("Varnel", "settings", "list", ""), "1,2,3");
}

TEST(QtSettingsStore, keys_lists_one_section_of_one_application) {
    test::TempDir dir;
    QtSettingsStore store(dir.path());
    EXPECT_TRUE(store.keys("Varnel", "settings").empty());
    store.set("Varnel", "settings", "comport", "2");
    store.set("Varnel", "settings", "log_comms", "1");
    store.set("Varnel", "other", "x", "1");
    store.set("Tool", "settings", "y", "1");
    auto keys = store.keys("Varnel", "settings");
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"comport", "log_comms"}));
}

}  // namespace
}  // namespace varnel
