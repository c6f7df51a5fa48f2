// Creating and deleting devices from the user's choice in the window.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "devices/device_model.h"
#include "devices_rig.h"
#include "support/settings.h"

namespace varnel {
namespace {

class CreationOnBothHosts : public testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Hosts, CreationOnBothHosts, testing::Values(true, false),
                         [](const auto& info) { return info.param ? "by_reference" : "by_index"; });

TEST_P(CreationOnBothHosts, nothing_ticked_leaves_two_variable_devices_under_hash_and_dollar) {
    test::DevicesRig rig(GetParam());
    rig.ehost->setFreeCodeOrder({96});
    CreateVariableDevices(rig.ctx, {});
    EXPECT_EQ(rig.codes(), (std::vector<std::string>{"#1", "$64"}));
    EXPECT_EQ(rig.ctx.devices.varsHouseCode, '#');
    EXPECT_EQ(ReadSetting(rig.ctx, "base_var", ""), "35");
    EXPECT_TRUE(rig.ctx.devices.varSelected[0]);
    EXPECT_TRUE(rig.ctx.devices.varSelected[127]);

    const auto* d = rig.device("$64");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->name, "Variable 127");
    EXPECT_EQ(d->location, "Ocelot");
    EXPECT_EQ(d->interface_, "Applied Digital Ocelot");
    EXPECT_EQ(d->iotype, 3);
    EXPECT_EQ(d->Status, 17);
    EXPECT_EQ(d->misc, GetParam() ? 32768 : 0);
    EXPECT_EQ(d->dev_type_string, "Interface Variable");
    EXPECT_EQ(d->iomisc, "");
}

TEST(CreateVariableDevices, ticks_create_and_unticks_delete_under_the_existing_letters) {
    test::DevicesRig rig;
    rig.addDevice("R1", 3, "");
    rig.addDevice("R3", 3, "");
    std::array<bool, 128> ticked{};
    ticked[2] = ticked[63] = ticked[64] = true;
    CreateVariableDevices(rig.ctx, ticked);
    EXPECT_EQ(rig.codes(), (std::vector<std::string>{"R3", "R64", "S1"}));
    EXPECT_EQ(rig.ctx.devices.varsHouseCode, 'R');
    EXPECT_EQ(rig.device("S1")->name, "Variable 64");
    EXPECT_EQ(rig.device("R3")->name, "pre-existing");  // kept, not re-made
    EXPECT_FALSE(rig.ctx.devices.varSelected[0]);
    EXPECT_TRUE(rig.ctx.devices.varSelected[2]);
    EXPECT_TRUE(rig.ctx.devices.varSelected[64]);
    EXPECT_FALSE(rig.ctx.devices.varSelected[127]);
}

TEST(CreateVariableDevices, no_free_house_code_says_so_and_creates_nothing) {
    test::DevicesRig rig;
    rig.ehost->setFreeCodeOrder({});
    CreateVariableDevices(rig.ctx, {});
    EXPECT_TRUE(rig.codes().empty());
    ASSERT_EQ(rig.prompts.shown.size(), 1u);
    EXPECT_EQ(rig.prompts.shown[0].text, "HSPI_Tarnwick ERROR. All device codes used");
    EXPECT_EQ(rig.prompts.shown[0].style, PromptStyle::Critical);
}

TEST(CreateVariableDevices, last_free_code_used_up_stops_before_the_second_letter) {
    test::DevicesRig rig;
    rig.ehost->setFreeCodeOrder({'R'});
    CreateVariableDevices(rig.ctx, {});
    EXPECT_EQ(rig.codes(), (std::vector<std::string>{"R1"}));
    ASSERT_EQ(rig.prompts.shown.size(), 1u);
}

struct PointCase {
    const char* name;
    std::uint8_t type;
    std::vector<int> ticked;
    bool invert;
    // code, name, location, iotype, misc bits, type string, descriptor
    std::vector<std::vector<std::string>> devices;
    std::vector<int> selected;
};

class CreateModuleTest : public testing::TestWithParam<PointCase> {};

TEST_P(CreateModuleTest, creates_ticked_points_with_their_descriptor) {
    test::DevicesRig rig;
    rig.ehost->setFreeCodeOrder({'['});
    rig.ctx.controller.moduleTypes[2] = GetParam().type;
    std::array<bool, 16> row{};
    for (int p : GetParam().ticked) row[static_cast<std::size_t>(p)] = true;
    CreateModuleDevices(rig.ctx, 3, row, GetParam().invert);

    std::vector<std::vector<std::string>> got;
    for (const auto& d : rig.ehost->devices())
        got.push_back({d.code(), d.name, d.location, std::to_string(d.iotype), std::to_string(d.misc - 32768),
                       d.dev_type_string, d.iomisc});
    EXPECT_EQ(got, GetParam().devices);
    std::vector<int> selected;
    for (int p = 0; p < 16; ++p)
        if (pointSelected(rig.ctx, 3, p)) selected.push_back(p);
    EXPECT_EQ(selected, GetParam().selected);
    for (const auto& d : rig.ehost->devices()) {
        EXPECT_EQ(d.Status, 17);
        EXPECT_EQ(d.interface_, "Applied Digital Ocelot");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modules, CreateModuleTest,
    testing::Values(
        PointCase{"secu16_inputs_and_outputs", 11, {0, 5, 9}, false,
                  {{"[1", "Input 1", "Secu16 Unit 3", "0", "16", "Interface I/O", "3!11!0!0"},
                   {"[6", "Input 6", "Secu16 Unit 3", "0", "16", "Interface I/O", "3!11!5!0"},
                   {"[10", "Relay Output 2", "Secu16 Unit 3", "1", "0", "Interface Output", "3!11!1!0"}},
                  {0, 5, 9}},
        PointCase{"secu16i_sixteen_inputs_inverted", 12, {15}, true,
                  {{"[16", "Input 16", "Secu16i Unit 3", "0", "16", "Interface I/O", "3!12!15!1"}},
                  {15}},
        PointCase{"relay08_loses_points_above_eight", 13, {7, 8, 15}, false,
                  {{"[8", "Relay Output 8", "Rly08 Unit 3", "1", "0", "Interface Output", "3!13!7!0"}},
                  {7}},
        PointCase{"nothing_ticked_keeps_point_one", 13, {}, false,
                  {{"[1", "Relay Output 1", "Rly08 Unit 3", "1", "0", "Interface Output", "3!13!0!0"}},
                  {0}},
        PointCase{"ir_module_gets_nothing", 6, {0, 1}, false, {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CreateModuleDevices, relay_row_is_unticked_above_eight) {
    test::DevicesRig rig;
    rig.ctx.controller.moduleTypes[2] = 13;
    std::array<bool, 16> row{};
    row.fill(true);
    CreateModuleDevices(rig.ctx, 3, row, false);
    for (int p = 0; p < 16; ++p) EXPECT_EQ(row[static_cast<std::size_t>(p)], p < 8) << p;
}

TEST(CreateModuleDevices, recreation_changes_only_the_descriptor_and_unticked_points_go) {
    test::DevicesRig rig;
    rig.ctx.controller.moduleTypes[2] = 11;
    const auto ref = rig.addDevice("]1", 0, "3!11!0!0");
    rig.ehost->GetDeviceByRef(ref)->set_location("Hall");
    rig.addDevice("]2", 0, "3!11!1!0");
    std::array<bool, 16> row{};
    row[0] = true;
    CreateModuleDevices(rig.ctx, 3, row, true);  // the letter of the unit's devices is found again
    EXPECT_EQ(rig.codes(), (std::vector<std::string>{"]1"}));
    const auto* d = rig.device("]1");
    EXPECT_EQ(d->iomisc, "3!11!0!1");
    EXPECT_EQ(d->name, "pre-existing");
    EXPECT_EQ(d->location, "Hall");
}

TEST(CreateModuleDevices, no_free_house_code_says_so) {
    test::DevicesRig rig;
    rig.ehost->setFreeCodeOrder({});
    rig.ctx.controller.moduleTypes[2] = 12;
    std::array<bool, 16> row{};
    row[1] = true;
    CreateModuleDevices(rig.ctx, 3, row, false);
    EXPECT_TRUE(rig.codes().empty());
    ASSERT_EQ(rig.prompts.shown.size(), 1u);
    EXPECT_EQ(rig.prompts.shown[0].text, "HSPI_Tarnwick ERROR. All device codes used");
}

TEST(PointCreators, descriptor_point_index_counts_outputs_from_zero) {
    test::DevicesRig rig;
    CreateOutput16(rig.ctx, "Q16", 7, 0);
    CreateInput16(rig.ctx, "Q8", 7, 1);
    EXPECT_EQ(rig.device("Q16")->iomisc, "7!11!7!0");
    EXPECT_EQ(rig.device("Q16")->name, "Relay Output 8");
    EXPECT_EQ(rig.device("Q8")->iomisc, "7!11!7!1");
}

TEST(CreateDevice, existing_code_returns_its_reference) {
    test::DevicesRig rig;
    const auto ref = rig.addDevice("R5", 3, "");
    EXPECT_EQ(CreateDevice(rig.ctx, "R5", 4), ref);
    EXPECT_EQ(rig.codes().size(), 1u);
}

TEST(CreateLeopardDevice, creates_one_screen_device_and_refuses_a_second) {
    test::DevicesRig rig;
    rig.ehost->setFreeCodeOrder({'Y', 'Z'});
    CreateLeopardDevice(rig.ctx);
    const auto* d = rig.device("Y1");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->name, "Leopard Screen");
    EXPECT_EQ(d->location, "Leopard");
    EXPECT_EQ(d->iotype, 3);
    EXPECT_EQ(d->Status, 17);
    EXPECT_EQ(d->misc, 32768 | 16);
    EXPECT_EQ(d->iomisc, "leopard");
    EXPECT_EQ(d->dev_type_string, "Interface Variable");
    EXPECT_EQ(rig.ctx.switches.leopardVar, "Y");
    EXPECT_EQ(ReadSetting(rig.ctx, "leopard_var", ""), "Y");

    CreateLeopardDevice(rig.ctx);
    EXPECT_EQ(rig.codes().size(), 1u);
    ASSERT_EQ(rig.prompts.shown.size(), 1u);
    EXPECT_EQ(rig.prompts.shown[0].text, "Leopard device is already created");
    EXPECT_EQ(rig.prompts.shown[0].style, PromptStyle::Exclamation);
}

TEST(CreateLeopardDevice, no_free_house_code_creates_nothing) {
    test::DevicesRig rig;
    rig.ehost->setFreeCodeOrder({});
    CreateLeopardDevice(rig.ctx);
    EXPECT_TRUE(rig.codes().empty());
    EXPECT_EQ(rig.ctx.switches.leopardVar, "-1");
    ASSERT_EQ(rig.prompts.shown.size(), 1u);
}

}  // namespace
}  // namespace varnel
