// Finding the plug-in's own devices again: interface name, variables house
// code, unit mappings, discovery of the selection tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/device_model.h"
#include "devices_rig.h"
#include "support/settings.h"

namespace varnel {
namespace {

struct InterfaceCase {
    std::string setting;
    std::string name;
};

class FindInterfaceTest : public testing::TestWithParam<InterfaceCase> {};

TEST_P(FindInterfaceTest, only_the_number_one_selects_the_short_name) {
    test::DevicesRig rig;
    if (!GetParam().setting.empty()) WriteSetting(rig.ctx, "InterfaceName", GetParam().setting);
    EXPECT_EQ(FindInterface(rig.ctx), GetParam().name);
    EXPECT_EQ(rig.ctx.devices.interfaceName, GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Settings, FindInterfaceTest,
                         testing::Values(InterfaceCase{"", "Applied Digital Ocelot"},
                                         InterfaceCase{"1", "Varnel"}, InterfaceCase{"1.0", "Varnel"},
                                         InterfaceCase{"2", "Applied Digital Ocelot"},
                                         InterfaceCase{"yes", "Applied Digital Ocelot"}));

class DiscoveryOnBothHosts : public testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Hosts, DiscoveryOnBothHosts, testing::Values(true, false),
                         [](const auto& info) { return info.param ? "by_reference" : "by_index"; });

TEST_P(DiscoveryOnBothHosts, vars_house_code_is_the_smaller_letter_whatever_the_order) {
    test::DevicesRig rig(GetParam());
    rig.addDevice("S1", 3, "");
    rig.addDevice("R1", 3, "");
    rig.addDevice("R2", 3, "");
    EXPECT_EQ(FindVarsHouseCode(rig.ctx), "R");
}

TEST(FindVarsHouseCode, ignores_foreign_devices_points_and_the_leopard_screen) {
    test::DevicesRig rig;
    EXPECT_EQ(FindVarsHouseCode(rig.ctx), "");
    rig.addDevice("C1", 3, "", "Some other plug-in");
    rig.addDevice("D1", 0, "3!11!0!0");
    rig.addDevice("E1", 3, "leopard");
    EXPECT_EQ(FindVarsHouseCode(rig.ctx), "");
    rig.addDevice("T5", 3, "", "APPLIED digital ocelot");
    EXPECT_EQ(FindVarsHouseCode(rig.ctx), "T");
}

TEST(FindVarsHouseCode, failing_walk_is_reported_and_gives_nothing) {
    test::DevicesRig rig;
    rig.addDevice("R1", 3, "");
    rig.faulty->failing = {"GetDeviceEnumerator"};
    EXPECT_EQ(FindVarsHouseCode(rig.ctx), "");
    ASSERT_FALSE(rig.ehost->logEntries().empty());
}

TEST_P(DiscoveryOnBothHosts, unit_mappings_come_from_own_point_devices) {
    test::DevicesRig rig(GetParam());
    WriteSetting(rig.ctx, "invert", "1");
    rig.addDevice("R1", 3, "");                       // a variable
    rig.addDevice("[1", 0, "3!11!0!1");
    rig.addDevice("[9", 1, "3!11!0!0");               // same unit, other flag: first wins
    rig.addDevice("]1", 1, "4!13!0");                 // three fields: the invert setting
    rig.addDevice("Q1", 0, "1!12!0!0");
    rig.addDevice("U1", 0, "11!12!0!0");
    rig.addDevice("V1", 0, "5!11!0!0", "Other");      // not ours
    EXPECT_EQ(FindUnitMappings(rig.ctx), "3!11![!1,4!13!]!1,1!12!Q!0,11!12!U!0,");
}

TEST(ReadDeviceSettings, reads_switches_and_rebuilds_and_records_mappings) {
    test::DevicesRig rig;
    WriteSetting(rig.ctx, "leopard_var", "L");
    WriteSetting(rig.ctx, "log_errors", "0");
    WriteSetting(rig.ctx, "X10Xmit", "1");
    WriteSetting(rig.ctx, "UpdateStrings", "abc");
    rig.ctx.devices.mappings.emplace_back();  // left from before
    rig.addDevice("[1", 0, "3!11!0!0");
    rig.addDevice("]2", 1, "4!13!1!1");
    ReadDeviceSettings(rig.ctx);
    EXPECT_EQ(rig.ctx.switches.leopardVar, "L");
    EXPECT_EQ(rig.ctx.switches.logErrors, 0);
    EXPECT_EQ(rig.ctx.switches.x10Xmit, 1);
    EXPECT_EQ(rig.ctx.switches.updateStrings, "abc");
    ASSERT_EQ(rig.ctx.devices.mappings.size(), 2u);
    EXPECT_EQ(rig.ctx.devices.mappings[1].unit(), 4);
    EXPECT_EQ(rig.ctx.devices.mappings[1].invert(), 1);
    EXPECT_EQ(rig.ctx.devices.mappingIndex.at("]"), 1);
    EXPECT_EQ(ReadSetting(rig.ctx, "mappings", ""), "3!11![!0,4!13!]!1,");
}

TEST(ReadDeviceSettings, oversized_setting_keeps_the_old_switch) {
    test::DevicesRig rig;
    rig.ctx.switches.logComms = 0;
    WriteSetting(rig.ctx, "log_comms", "70000");
    ReadDeviceSettings(rig.ctx);
    EXPECT_EQ(rig.ctx.switches.logComms, 0);
    EXPECT_FALSE(rig.ctx.error.pending);
}

TEST_P(DiscoveryOnBothHosts, discovery_fills_both_selection_tables_once) {
    test::DevicesRig rig(GetParam());
    rig.ctx.devices.varsHouseCode = 'R';
    rig.ctx.controller.moduleTypes[3] = 13;  // unit 4: RELAY-08
    rig.ctx.controller.moduleTypes[2] = 11;  // unit 3: SECU16
    for (const char* code : {"R1", "R64", "S1", "S64", "[2", "[16", "]1", "]8", "]9", "]16"}) rig.addDevice(code, 0, "");
    rig.ctx.devices.mappings.clear();
    umap secu, relay;
    secu.set_unit(3), secu.set_utype(11), secu.set_hc("[");
    relay.set_unit(4), relay.set_utype(13), relay.set_hc("]");
    rig.ctx.devices.mappings = {secu, relay};

    DiscoverDevices(rig.ctx);
    const auto& dm = rig.ctx.devices;
    EXPECT_TRUE(dm.discovered);
    std::vector<int> vars;
    for (int n = 0; n < 128; ++n)
        if (dm.varSelected[static_cast<std::size_t>(n)]) vars.push_back(n);
    EXPECT_EQ(vars, (std::vector<int>{0, 63, 64, 127}));
    std::vector<int> secuPoints, relayPoints;
    for (int p = 0; p < 16; ++p) {
        if (pointSelected(rig.ctx, 3, p)) secuPoints.push_back(p);
        if (pointSelected(rig.ctx, 4, p)) relayPoints.push_back(p);
    }
    EXPECT_EQ(secuPoints, (std::vector<int>{1, 15}));
    EXPECT_EQ(relayPoints, (std::vector<int>{0, 7}));  // 9..16 left from earlier do not count

    rig.addDevice("R2", 3, "");
    DiscoverDevices(rig.ctx);
    EXPECT_FALSE(dm.varSelected[1]);
}

TEST(DiscoverDevices, without_variable_devices_points_are_still_found) {
    test::DevicesRig rig;
    rig.ctx.controller.moduleTypes[2] = 12;
    rig.addDevice("Q3", 0, "3!12!2!0");
    rig.addDevice("R1", 3, "", "Other");
    umap m;
    m.set_unit(3), m.set_utype(12), m.set_hc("Q");
    rig.ctx.devices.mappings = {m};
    DiscoverDevices(rig.ctx);
    EXPECT_FALSE(rig.ctx.devices.discovered);
    for (bool v : rig.ctx.devices.varSelected) EXPECT_FALSE(v);
    EXPECT_TRUE(pointSelected(rig.ctx, 3, 2));
    EXPECT_FALSE(pointSelected(rig.ctx, 3, 0));
}

TEST(DiscoverDevices, mapping_without_house_code_clears_its_unit_and_unit_128_has_a_row) {
    test::DevicesRig rig;
    rig.ctx.devices.varsHouseCode = 'R';
    rig.ctx.controller.moduleTypes[127] = 11;
    setPointSelected(rig.ctx, 5, 3, true);
    rig.addDevice("Z1", 0, "128!11!0!0");
    umap empty, last;
    empty.set_unit(5), empty.set_utype(11);
    last.set_unit(128), last.set_utype(11), last.set_hc("Z");
    rig.ctx.devices.mappings = {empty, last};
    DiscoverDevices(rig.ctx);
    EXPECT_FALSE(pointSelected(rig.ctx, 5, 3));
    EXPECT_TRUE(pointSelected(rig.ctx, 128, 0));
}

TEST(HostCalls, failing_exists_call_is_reported_and_means_no_device) {
    test::DevicesRig rig;
    rig.addDevice("R1", 3, "");
    rig.faulty->failing = {"DeviceExists"};
    EXPECT_EQ(hsDeviceExists(rig.ctx, "R1"), -1);
    ASSERT_EQ(rig.ehost->logEntries().size(), 1u);
    EXPECT_NE(rig.ehost->logEntries().back().message.find("hsDeviceExists R1 1 DeviceExists failed"), std::string::npos);
}

TEST_P(DiscoveryOnBothHosts, delete_removes_only_an_existing_device) {
    test::DevicesRig rig(GetParam());
    rig.addDevice("R1", 3, "");
    rig.addDevice("R2", 3, "");
    DeleteHSDevice(rig.ctx, "R9");
    DeleteHSDevice(rig.ctx, "R1");
    EXPECT_EQ(rig.codes(), (std::vector<std::string>{"R2"}));
}

}  // namespace
}  // namespace varnel
