#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <optional>
#include <stdexcept>

#include "rig.h"
#include "support/settings.h"

namespace varnel {
namespace {

struct SettingsTest : ::testing::Test {
    test::Rig rig;
    void makeHostIni() {
        std::filesystem::create_directories(rig.dir.path() / "config");
        std::ofstream(rig.dir.path() / "config" / "settings.ini") << "[hspi_tarnwick]\r\n";
    }
};

TEST_F(SettingsTest, with_a_host_file_the_move_is_asked_once_and_values_go_through_its_section) {
    makeHostIni();
    MoveSettingsToIni(rig.ctx);
    MoveSettingsToIni(rig.ctx);
    EXPECT_TRUE(rig.ctx.settings.iniMode);
    EXPECT_EQ(rig.host->moves, (std::vector<std::pair<std::string, std::string>>{
                                   {"Software\\VB and VBA Program Settings\\hspi_tarnwick\\Settings", "settings"}}));
    EXPECT_EQ((rig.host->ini[{"hspi_tarnwick", "reg_moved"}]), "1");
    WriteSetting(rig.ctx, "poll_interval", "750");
    EXPECT_EQ((rig.host->ini[{"hspi_tarnwick", "poll_interval"}]), "750");
    EXPECT_EQ(ReadSetting(rig.ctx, "poll_interval", "500"), "750");
    EXPECT_EQ(ReadSetting(rig.ctx, "missing", "dflt"), "dflt");
}

TEST_F(SettingsTest, without_host_file_values_round_trip_through_user_store) {
    MoveSettingsToIni(rig.ctx);
    EXPECT_FALSE(rig.ctx.settings.iniMode);
    ChooseStoreName(rig.ctx);
    WriteSetting(rig.ctx, "comport", "3");
    EXPECT_EQ(ReadSetting(rig.ctx, "comport", "1"), "3");
    EXPECT_TRUE(rig.host->ini.empty());
}

TEST_F(SettingsTest, failing_host_leaves_user_store_and_reads_empty) {
    makeHostIni();
    rig.ctx.host.hs.reset();
    MoveSettingsToIni(rig.ctx);
    EXPECT_FALSE(rig.ctx.settings.iniMode);
    rig.ctx.settings.iniMode = true;  // host vanished after the decision
    EXPECT_EQ(ReadSetting(rig.ctx, "comport", "1"), "");
    EXPECT_FALSE(rig.ctx.error.pending);
}

// Whatever text a user's file holds, every reader of a key gets the same value
// from it, and a value that does not fit 16 bits fails the read instead of wrapping.
TEST_F(SettingsTest, typed_reads_of_hostile_text) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* stored;
        double number;
        std::optional<std::int16_t> int16;  // none: the read throws
        bool numberOn;                      // a Number setting's switch
        bool switchOn;                      // a Switch setting
    };
    const Case cases[] = {
        {"garbage", 0, 0, false, false},
        {"3000ms", 3000, 3000, true, false},
        {"1.0", 1, 1, true, false},
        {"1", 1, 1, true, true},
        {"32767.5", 32767.5, std::nullopt, true, false},
        {"-32768.4", -32768.4, -32768, true, false},
        {"1e999", kInf, std::nullopt, true, false},
    };
    for (const auto& c : cases) {
        WriteSetting(rig.ctx, setting::kLogErrors.key, c.stored);
        WriteSetting(rig.ctx, setting::kShowInMenu.key, c.stored);
        EXPECT_EQ(readText(rig.ctx, setting::kLogErrors), c.stored);
        EXPECT_EQ(readNumber(rig.ctx, setting::kLogErrors), c.number) << c.stored;
        if (c.int16) {
            EXPECT_EQ(readInt16(rig.ctx, setting::kLogErrors), *c.int16) << c.stored;
        } else {
            EXPECT_THROW(readInt16(rig.ctx, setting::kLogErrors), std::overflow_error) << c.stored;
        }
        EXPECT_EQ(readSwitch(rig.ctx, setting::kLogErrors), c.numberOn) << c.stored;
        EXPECT_EQ(readSwitch(rig.ctx, setting::kShowInMenu), c.switchOn) << c.stored;
    }
}

TEST(FieldChecks, com_port_and_poll_interval_take_whole_numbers_in_their_range) {
    struct Case {
        const SettingKey& setting;
        std::string text;
        std::optional<std::int32_t> value;
    };
    const Case cases[] = {
        {setting::kComport, " 3 ", 3},
        {setting::kComport, "256", 256},
        {setting::kComport, "0", std::nullopt},
        {setting::kComport, "257", std::nullopt},
        {setting::kComport, "COM3", std::nullopt},
        {setting::kComport, "-1", std::nullopt},
        {setting::kComport, "", std::nullopt},
        {setting::kComport, "3\n", std::nullopt},
        {setting::kPollInterval, "100", 100},
        {setting::kPollInterval, "60000", 60'000},
        {setting::kPollInterval, "99", std::nullopt},
        {setting::kPollInterval, "60001", std::nullopt},
        {setting::kPollInterval, "12.5", std::nullopt},
        {setting::kPollInterval, std::string(10'000, '9'), std::nullopt},
        {setting::kPollInterval, "0000000750", std::nullopt},  // ten digits: not read at all
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fieldValue(c.setting, c.text), c.value) << c.setting.key << " " << c.text.substr(0, 20);
        EXPECT_EQ(checkField(c.setting, c.text).has_value(), !c.value.has_value()) << c.text.substr(0, 20);
    }
    EXPECT_EQ(checkComPort("x"), "Com port must be a whole number from 1 to 256");
    EXPECT_EQ(checkPollInterval("x"), "Poll interval must be a whole number from 100 to 60000");
    EXPECT_EQ(checkComPort("2"), std::nullopt);
}

}  // namespace
}  // namespace varnel
