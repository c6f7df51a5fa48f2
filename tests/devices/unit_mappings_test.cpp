#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/mappings.h"
#include "rig.h"

namespace varnel {
namespace {

struct PointDevice {
    std::string iomisc, hc;
};

struct MappingCase {
    const char* name;
    std::vector<PointDevice> devices;  // in the order the walk meets them
    std::string defaultInvert;
    std::string text;
};

class MappingsTextTest : public testing::TestWithParam<MappingCase> {};

TEST_P(MappingsTextTest, first_device_of_each_unit_and_type_decides) {
    std::string text;
    for (const auto& d : GetParam().devices) addDeviceMapping(text, d.iomisc, d.hc, GetParam().defaultInvert);
    EXPECT_EQ(text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, MappingsTextTest,
    testing::Values(
        MappingCase{"first_met_invert_flag_wins", {{"3!11!0!1", "["}, {"3!11!5!0", "["}}, "0", "3!11![!1,"},
        MappingCase{"first_met_house_code_wins", {{"3!11!0!0", "["}, {"3!11!1!0", "]"}}, "0", "3!11![!0,"},
        MappingCase{"three_fields_take_the_invert_setting", {{"4!13!2", "]"}}, "1", "4!13!]!1,"},
        MappingCase{"units_1_and_11_are_different_units", {{"1!12!0!0", "Q"}, {"11!12!0!0", "R"}}, "0",
                    "1!12!Q!0,11!12!R!0,"},
        MappingCase{"same_unit_other_type_gets_its_own_entry", {{"2!11!0!0", "Q"}, {"2!13!0!0", "R"}}, "0",
                    "2!11!Q!0,2!13!R!0,"},
        MappingCase{"one_field_is_not_a_descriptor", {{"leopard", "L"}, {"7", "Q"}}, "0", ""},
        MappingCase{"empty_descriptor_is_skipped", {{"", "Q"}}, "0", ""},
        MappingCase{"separator_inside_a_field_is_refused", {{"3,9!11!0!0", "Q"}, {"5!11!0!0", ","}}, "0", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BuildMappings, collection_order_and_lookup_keep_the_first_house_code) {
    test::Rig rig;
    buildMappings(rig.ctx, "3!11![!0,,4!13!]!1,9!12![!0,");
    const auto& m = rig.ctx.devices.mappings;
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].unit(), 3);
    EXPECT_EQ(m[0].utype(), 11);
    EXPECT_EQ(m[0].hc(), "[");
    EXPECT_EQ(m[0].invert(), 0);
    EXPECT_EQ(m[1].unit(), 4);
    EXPECT_EQ(m[1].utype(), 13);
    EXPECT_EQ(m[1].invert(), 1);
    EXPECT_EQ(rig.ctx.devices.mappingIndex.at("["), 0);
    EXPECT_EQ(rig.ctx.devices.mappingIndex.at("]"), 1);
    EXPECT_EQ(mappingOfUnit(rig.ctx, 9), &m[2]);
    EXPECT_EQ(mappingOfUnit(rig.ctx, 5), nullptr);
}

TEST(BuildMappings, garbage_fields_read_as_zero_and_never_throw) {
    test::Rig rig;
    buildMappings(rig.ctx, "x!y!Q!z,99999!1!R!1,7,");
    const auto& m = rig.ctx.devices.mappings;
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].unit(), 0);
    EXPECT_EQ(m[0].utype(), 0);
    EXPECT_EQ(m[1].unit(), 0);  // does not fit: left as it was
    EXPECT_EQ(m[1].hc(), "R");
    EXPECT_EQ(m[2].unit(), 7);
    EXPECT_EQ(m[2].hc(), "");
    EXPECT_FALSE(rig.ctx.error.pending);
}

TEST(BuildMappings, rebuilding_replaces_the_old_mappings) {
    test::Rig rig;
    buildMappings(rig.ctx, "3!11![!0,");
    buildMappings(rig.ctx, "4!13!]!1,");
    ASSERT_EQ(rig.ctx.devices.mappings.size(), 1u);
    EXPECT_FALSE(rig.ctx.devices.mappingIndex.contains("["));
}

TEST(NumText, whole_numbers_without_blank_or_point) {
    EXPECT_EQ(numText(3), "3");
    EXPECT_EQ(numText(-1), "-1");
    EXPECT_EQ(numText(2.5), "2.5");
}

}  // namespace
}  // namespace varnel
