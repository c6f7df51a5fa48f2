// The per-user settings store on QSettings.
#include <gtest/gtest.h>

#include "platform/qt/qt_settings_store.h"
#include "varnel_process.h"

namespace varnel {
namespace {

TEST(QtSettingsStore, values_round_trip_through_the_file_kept_apart_by_application_section_and_key) {
    test::TempDir dir;
    const struct {
        const char *app, *section, *key, *value;
    } values[] = {
        {"Varnel", "settings", "comport", "3"},
        {"Varnel", "settings", "irmax_exe", "C:\\Program Files\\IR_MAX\\irmax.exe"},
        {"Varnel", "settings", "names", "a, b,\"c\""},
        {"Varnel", "settings", "empty", ""},
        {"Varnel", "other", "comport", "900"},
        {"Tool", "settings", "comport", "100"},
        {"Varnel", "settings", "a/b", "1"},  // separators must not reach other keys
        {"Varnel", "settings/a", "b", "2"},
    };
    {
        QtSettingsStore store(dir.path());
        EXPECT_EQ(store.get("Varnel", "settings", "comport", "1"), "1");
        for (const auto& v : values) store.set(v.app, v.section, v.key, v.value);
    }
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "varnel" / "Varnel.conf"));
    const QtSettingsStore reread(dir.path());
    for (const auto& v : values) EXPECT_EQ(reread.get(v.app, v.section, v.key, "x"), v.value) << v.key;
    EXPECT_EQ(reread.keys("Varnel", "other"), std::vector<std::string>{"comport"});
    EXPECT_TRUE(reread.keys("Varnel", "none").empty());
}

TEST(QtSettingsStore, a_hand_edited_list_value_reads_as_text) {
    test::TempDir dir;
    test::writeFile(dir.path() / "varnel" / "Varnel.conf", "[settings]\nlist=1,2,3\ngarbage line\n");
    const QtSettingsStore store(dir.path());
    EXPECT_EQ(store.get("Varnel", "settings", "list", ""), "1,2,3");
}

}  // namespace
}  // namespace varnel
