// Finding the plug-in's devices again and creating them from the user's choice.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "devices/device_model.h"
#include "devices/mappings.h"
#include "devices_rig.h"
#include "support/settings.h"

namespace varnel {
namespace {

using Strings = std::vector<std::string>;

TEST(FindInterface, only_the_number_one_selects_the_short_name) {
    const std::pair<const char*, const char*> cases[] = {
        {"0", "Applied Digital Ocelot"}, {"1.0", "Varnel"}, {"yes", "Applied Digital Ocelot"}};
    for (auto [setting, name] : cases) {
        test::DevicesRig rig;
        WriteSetting(rig.ctx, "InterfaceName", setting);
        EXPECT_EQ(FindInterface(rig.ctx), name) << setting;
    }
}

TEST(OnBothHosts, vars_house_code_is_the_smaller_own_letter) {
    for (const bool byReference : {true, false}) {
        SCOPED_TRACE(byReference);
        test::DevicesRig rig(byReference);
        EXPECT_EQ(FindVarsHouseCode(rig.ctx), "");
        rig.addDevice("C1", 3, "", "Some other plug-in");
        rig.addDevice("D1", 3, "leopard");
        rig.addDevice("S1", 3, "");
        rig.addDevice("R2", 3, "");
        EXPECT_EQ(FindVarsHouseCode(rig.ctx), "R");
    }
}

TEST(OnBothHosts, mappings_come_from_the_first_own_point_device_of_each_unit) {
    for (const bool byReference : {true, false}) {
        SCOPED_TRACE(byReference);
        test::DevicesRig rig(byReference);
        WriteSetting(rig.ctx, "invert", "1");
        rig.addDevice("R1", 3, "");  // a variable
        rig.addDevice("[1", 0, "3!11!0!1");
        rig.addDevice("[9", 1, "3!11!0!0");  // same unit: the first one's flag stands
        rig.addDevice("]1", 1, "4!13!0");    // three fields: the invert setting
        rig.addDevice("Q1", 0, "1!12!0!0");
        rig.addDevice("U1", 0, "11!12!0!0");
        rig.addDevice("V1", 0, "5!11!0!0", "Other");
        rig.addDevice("W1", 0, "6,7!11!0!0");  // would shift every later entry
        ReadDeviceSettings(rig.ctx);
        EXPECT_EQ(ReadSetting(rig.ctx, "mappings", ""), "3!11![!1,4!13!]!1,1!12!Q!0,11!12!U!0,");
        const auto& m = rig.ctx.devices.mappings;
        ASSERT_EQ(m.size(), 4u);
        EXPECT_EQ((std::array<int, 3>{m[1].unit(), m[1].utype(), m[1].invert()}), (std::array<int, 3>{4, 13, 1}));
        EXPECT_EQ(rig.ctx.devices.mappingIndex.at("]"), 1);
        EXPECT_EQ(rig.ctx.switches.invert, 1);
    }
}

TEST(BuildMappings, lookup_keeps_the_first_of_a_house_code_and_garbage_reads_as_zero) {
    test::Rig rig;
    buildMappings(rig.ctx, "3!11![!0,,x!y!Q!z,99999!1![!1,");
    const auto& m = rig.ctx.devices.mappings;
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[1].unit(), 0);
    EXPECT_EQ(m[2].unit(), 0);  // does not fit in 16 bits
    EXPECT_EQ(rig.ctx.devices.mappingIndex.at("["), 0);
    EXPECT_FALSE(rig.ctx.error.pending);
}

TEST(OnBothHosts, discovery_fills_both_selection_tables_once) {
    for (const bool byReference : {true, false}) {
        SCOPED_TRACE(byReference);
        test::DevicesRig rig(byReference);
        rig.ctx.devices.varsHouseCode = 'R';
        rig.ctx.controller.moduleTypes[2] = 11;
        rig.ctx.controller.moduleTypes[3] = 13;
        for (const char* code : {"R1", "R64", "S1", "S64"}) rig.addDevice(code, 3, "");
        for (const char* code : {"[2", "[16", "]1", "]8", "]9", "]16"}) rig.addDevice(code, 0, "");
        // Another interface's devices at a variable's and a point's code are not the plug-in's to drive.
        rig.addDevice("R2", 3, "", "Z-Wave Bridge");
        rig.addDevice("[3", 0, "", "Z-Wave Bridge");
        buildMappings(rig.ctx, "3!11![!0,4!13!]!0,5!11!!0,");
        setPointSelected(rig.ctx, 5, 3, true);
        DiscoverDevices(rig.ctx);

        std::vector<int> vars, secu, relay;
        for (int n = 0; n < 128; ++n)
            if (rig.ctx.devices.varSelected[static_cast<std::size_t>(n)]) vars.push_back(n);
        for (int p = 0; p < 16; ++p) {
            if (pointSelected(rig.ctx, 3, p)) secu.push_back(p);
            if (pointSelected(rig.ctx, 4, p)) relay.push_back(p);
        }
        EXPECT_EQ(vars, (std::vector<int>{0, 63, 64, 127}));
        EXPECT_EQ(secu, (std::vector<int>{1, 15}));
        EXPECT_EQ(relay, (std::vector<int>{0, 7}));  // 9..16 left from earlier do not count
        EXPECT_FALSE(pointSelected(rig.ctx, 5, 3));  // no house code: cleared

        rig.addDevice("R3", 3, "");
        DiscoverDevices(rig.ctx);
        EXPECT_FALSE(rig.ctx.devices.varSelected[2]);
    }
}

TEST(DiscoverDevices, without_variable_devices_points_are_found_and_discovery_stays_open) {
    test::DevicesRig rig;
    rig.ctx.controller.moduleTypes[127] = 12;
    rig.addDevice("Q3", 0, "128!12!2!0");
    buildMappings(rig.ctx, "128!12!Q!0,");
    DiscoverDevices(rig.ctx);
    EXPECT_FALSE(rig.ctx.devices.discovered);
    EXPECT_TRUE(pointSelected(rig.ctx, 128, 2) && !pointSelected(rig.ctx, 128, 0));
}

TEST(OnBothHosts, nothing_ticked_leaves_two_variable_devices_under_hash_and_dollar) {
    for (const bool byReference : {true, false}) {
        SCOPED_TRACE(byReference);
        test::DevicesRig rig(byReference);
        rig.ehost->setFreeCodeOrder({96});
        CreateVariableDevices(rig.ctx, {});
        EXPECT_EQ(rig.codes(), (Strings{"#1", "$64"}));
        EXPECT_EQ(ReadSetting(rig.ctx, "base_var", ""), "35");
        EXPECT_TRUE(rig.ctx.devices.varSelected[0] && rig.ctx.devices.varSelected[127]);
        const auto* d = rig.device("$64");
        EXPECT_EQ((Strings{d->name, d->location, d->interface_, d->dev_type_string, d->iomisc}),
                  (Strings{"Variable 127", "Ocelot", "Applied Digital Ocelot", "Interface Variable", ""}));
        EXPECT_EQ(d->iotype, 3);
        EXPECT_EQ(d->Status, 17);
        EXPECT_EQ(d->misc, byReference ? 32768 : 0);
    }
}

TEST(CreateVariableDevices, ticks_create_and_unticks_delete_under_the_existing_letters) {
    test::DevicesRig rig;
    rig.addDevice("R1", 3, "");
    rig.addDevice("R3", 3, "");
    std::array<bool, 128> ticked{};
    ticked[2] = ticked[63] = ticked[64] = true;
    CreateVariableDevices(rig.ctx, ticked);
    EXPECT_EQ(rig.codes(), (Strings{"R3", "R64", "S1"}));
    EXPECT_EQ(rig.device("R3")->name, "pre-existing");
    EXPECT_EQ(rig.device("S1")->name, "Variable 64");
    EXPECT_FALSE(rig.ctx.devices.varSelected[0]);
    EXPECT_TRUE(rig.ctx.devices.varSelected[64]);
}

TEST(Creators, no_free_house_code_shows_the_message_and_creates_nothing) {
    for (int which = 0; which < 3; ++which) {
        test::DevicesRig rig;
        rig.ehost->setFreeCodeOrder({});
        rig.ctx.controller.moduleTypes[2] = 12;
        std::array<bool, 16> row{true};
        if (which == 0) CreateVariableDevices(rig.ctx, {});
        if (which == 1) CreateModuleDevices(rig.ctx, 3, row, false);
        if (which == 2) CreateLeopardDevice(rig.ctx);
        EXPECT_TRUE(rig.codes().empty()) << which;
        ASSERT_EQ(rig.prompts.shown.size(), 1u) << which;
        EXPECT_EQ(rig.prompts.shown[0].text, "HSPI_Tarnwick ERROR. All device codes used");
        EXPECT_EQ(rig.prompts.shown[0].style, PromptStyle::Critical);
    }
}

struct PointCase {
    const char* name;
    std::uint8_t type;
    std::vector<int> ticked;
    bool invert;
    Strings devices;  // code|name|location|iotype|misc bits|type string|descriptor
};

class CreateModuleTest : public testing::TestWithParam<PointCase> {};

TEST_P(CreateModuleTest, creates_ticked_points_with_their_descriptor) {
    test::DevicesRig rig;
    rig.ehost->setFreeCodeOrder({'['});
    rig.ctx.controller.moduleTypes[2] = GetParam().type;
    std::array<bool, 16> row{};
    for (int p : GetParam().ticked) row[static_cast<std::size_t>(p)] = true;
    CreateModuleDevices(rig.ctx, 3, row, GetParam().invert);
    Strings got;
    for (const auto& d : rig.ehost->devices())
        got.push_back(d.code() + "|" + d.name + "|" + d.location + "|" + std::to_string(d.iotype) + "|" +
                      std::to_string(d.misc - 32768) + "|" + d.dev_type_string + "|" + d.iomisc);
    EXPECT_EQ(got, GetParam().devices);
    for (int p = 0; p < 16; ++p) {
        const bool made = rig.device("[" + std::to_string(p + 1)) != nullptr;
        EXPECT_EQ(pointSelected(rig.ctx, 3, p), made) << p;
        if (GetParam().type == 13 && p >= 8) {
            EXPECT_FALSE(row[static_cast<std::size_t>(p)]);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modules, CreateModuleTest,
    testing::Values(
        PointCase{"secu16",
                  11,
                  {0, 9},
                  false,
                  {"[1|Input 1|Secu16 Unit 3|0|16|Interface I/O|3!11!0!0",
                   "[10|Relay Output 2|Secu16 Unit 3|1|0|Interface Output|3!11!1!0"}},
        PointCase{"secu16i_inverted", 12, {15}, true, {"[16|Input 16|Secu16i Unit 3|0|16|Interface I/O|3!12!15!1"}},
        PointCase{
            "relay08_cut", 13, {7, 8, 15}, false, {"[8|Relay Output 8|Rly08 Unit 3|1|0|Interface Output|3!13!7!0"}},
        PointCase{"relay08_none", 13, {}, false, {"[1|Relay Output 1|Rly08 Unit 3|1|0|Interface Output|3!13!0!0"}},
        PointCase{"ir_module_gets_nothing", 6, {0}, false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CreateModuleDevices, recreation_changes_only_the_descriptor_and_unticked_points_go) {
    test::DevicesRig rig;
    rig.ctx.controller.moduleTypes[2] = 11;
    rig.ehost->GetDeviceByRef(rig.addDevice("]1", 0, "3!11!0!0"))->set_location("Hall");
    rig.addDevice("]2", 0, "3!11!1!0");
    std::array<bool, 16> row{true};
    CreateModuleDevices(rig.ctx, 3, row, true);
    EXPECT_EQ(rig.codes(), (Strings{"]1"}));
    const auto* d = rig.device("]1");
    EXPECT_EQ((Strings{d->iomisc, d->name, d->location}), (Strings{"3!11!0!1", "pre-existing", "Hall"}));
}

TEST(CreateLeopardDevice, creates_one_screen_device_and_refuses_a_second) {
    test::DevicesRig rig;
    rig.ehost->setFreeCodeOrder({'Y', 'Z'});
    CreateLeopardDevice(rig.ctx);
    CreateLeopardDevice(rig.ctx);
    ASSERT_EQ(rig.codes(), (Strings{"Y1"}));
    const auto* d = rig.device("Y1");
    EXPECT_EQ((Strings{d->name, d->location, d->iomisc, d->dev_type_string, ReadSetting(rig.ctx, "leopard_var", "")}),
              (Strings{"Leopard Screen", "Leopard", "leopard", "Interface Variable", "Y"}));
    EXPECT_EQ(d->misc, 32768 | 16);
    ASSERT_EQ(rig.prompts.shown.size(), 1u);
    EXPECT_EQ(rig.prompts.shown[0].text, "Leopard device is already created");
}

}  // namespace
}  // namespace varnel
