// X10 reports to X10Event, I/O change reports to the image and the point's device.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "commands/block_reads.h"
#include "devices/events.h"
#include "devices/mappings.h"
#include "rig.h"

namespace varnel {
namespace {

struct X10Case {
    const char* name;
    std::vector<std::pair<int, int>> reports;  // house index, key code
    std::vector<std::string> events;           // "addresses|house|command|level"
    std::string listAfter;
    bool started = true;  // the X10 side has started
};

class X10HandlerTest : public testing::TestWithParam<X10Case> {};

TEST_P(X10HandlerTest, delivers_functions_with_the_addresses_gathered_before) {
    test::Rig rig;
    rig.ctx.controller.x10Interface = GetParam().started;
    rig.ctx.controller.presetDim = {12, 13, 14, 15, 2, 3, 0, 1, 4, 5, 6, 7, 10, 11, 8, 9};
    for (auto [h, k] : GetParam().reports)
        x10Handler(rig.ctx, {0xFE, static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(k), 0});
    EXPECT_EQ(rig.callback->x10, GetParam().events);
    EXPECT_EQ(rig.ctx.x10.addressList, GetParam().listAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, X10HandlerTest,
    testing::Values(
        X10Case{"two_addresses_then_on", {{0, 0}, {0, 2}, {0, 18}}, {"A1+A3|A|2|"}, ""},
        X10Case{"function_without_address", {{0, 18}}, {"|A|2|"}, ""},
        X10Case{"addresses_without_function_stay", {{2, 15}, {3, 0}}, {}, "C16+D1"},
        X10Case{"function_keys", {{1, 16}, {1, 25}, {1, 27}, {1, 30}}, {"|B|0|", "|B|9|", "|B|12|", "|B|15|"}, ""},
        X10Case{"preset_dim_low_without_list", {{12, 26}}, {"||10|0"}, ""},
        X10Case{"preset_dim_high_takes_list_letter", {{1, 4}, {9, 31}}, {"B5|B|11|31"}, ""},
        X10Case{"unknown_key_leaves_list", {{0, 0}, {0, 40}}, {}, "A1"},
        X10Case{"level_code_outside_table_dropped", {{0, 0}, {16, 26}}, {}, "A1"},
        X10Case{"dropped_before_the_x10_side_starts", {{0, 2}, {0, 18}}, {}, "", false}),
    [](const auto& info) { return std::string(info.param.name); });

struct IoCase {
    const char* name;
    std::string mappings;
    std::array<std::uint8_t, 3> report;  // module, point, raw value
    std::string event;                   // "code status value", "" for none
    std::int16_t lookupAfter;
};

class IoChangeTest : public testing::TestWithParam<IoCase> {};

TEST_P(IoChangeTest, stores_the_value_and_sets_the_mapped_device) {
    test::Rig rig;
    buildMappings(rig.ctx, GetParam().mappings);
    const auto [m, p, v] = GetParam().report;
    HandleIOPointChange(rig.ctx, {0xF0, m, p, v});
    std::string event;
    if (!rig.host->statuses.empty()) {
        ASSERT_EQ(rig.host->statuses.size(), 1u);
        ASSERT_EQ(rig.callback->changes.size(), 1u);
        EXPECT_EQ(rig.callback->changes[0].first, rig.host->statuses[0].first);
        event = rig.host->statuses[0].first + " " + std::to_string(rig.host->statuses[0].second) + " " +
                std::to_string(rig.callback->changes[0].second);
    }
    EXPECT_EQ(event, GetParam().event);
    EXPECT_EQ(ioPointLookup(rig.ctx, m, p), GetParam().lookupAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, IoChangeTest,
    testing::Values(IoCase{"closed_input_is_on", "3!11![!0,", {3, 5, 0}, "[6 2 1", 1},
                    IoCase{"open_input_is_off", "3!11![!0,", {3, 5, 1}, "[6 3 0", 0},
                    IoCase{"inverted_closed_is_off", "3!11![!1,", {3, 5, 0}, "[6 3 0", 1},
                    IoCase{"inverted_open_is_on", "3!11![!1,", {3, 5, 1}, "[6 2 1", 0},
                    IoCase{"first_mapping_of_the_module", "3!12!Q!0,3!13!]!0,", {3, 15, 0}, "Q16 2 1", 1},
                    IoCase{"no_mapping_only_the_image", "4!11![!0,", {3, 5, 1}, "", 0},
                    IoCase{"mapping_without_house_code", "3!11!!0,", {3, 5, 1}, "", 0},
                    IoCase{"point_beyond_sixteen", "3!11![!0,", {3, 16, 1}, "", 1},
                    IoCase{"secu16_output_set_bit_is_on", "3!11![!0,", {3, 8, 1}, "[9 2 0", 0},
                    IoCase{"secu16_output_ignores_invert", "3!11![!1,", {3, 15, 0}, "[16 3 1", 1},
                    IoCase{"relay_clear_bit_is_off", "3!13![!0,", {3, 2, 0}, "[3 3 1", 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace varnel
