#include <gtest/gtest.h>

#include <limits>

#include "host/device_table.h"

namespace varnel::host {
namespace {

TEST(DeviceTable, stops_at_the_16_bit_device_count_instead_of_overflowing_indexes) {
    DeviceTable t(1);
    for (std::size_t i = 0; i < DeviceTable::kMaxDevices; ++i) t.add("d");
    EXPECT_THROW(t.add("one too many"), std::length_error);
    EXPECT_EQ(t.size(), 32767u);
}

TEST(DeviceTable, never_hands_out_a_reference_at_or_below_a_loaded_one) {
    struct Case {
        std::vector<std::int32_t> loaded;
        std::int32_t savedNext;
        std::int32_t expected;
    };
    const Case cases[] = {
        {{40001, 40005}, 40003, 40006},
        {{40003}, 40003, 40004},
        {{40001}, 50000, 50000},
        {{}, 0, 40001},
        {{7}, 0, 40001},
    };
    for (const Case& c : cases) {
        DeviceTable t(40001);
        std::vector<DeviceRecord> records;
        for (auto r : c.loaded) records.push_back({.ref = r});
        t.load(records, c.savedNext);
        EXPECT_EQ(t.add("new"), c.expected);
    }
}

TEST(DeviceTable, the_last_reference_is_never_given_twice) {
    DeviceTable t(1);
    t.load({{.ref = std::numeric_limits<std::int32_t>::max()}}, 0);
    EXPECT_THROW(t.add("x"), std::length_error);
}

TEST(DeviceTable, loaded_devices_are_put_in_reference_order) {
    DeviceTable t(1);
    t.load({{.ref = 9, .name = "c"}, {.ref = 3, .name = "a"}, {.ref = 5, .name = "b"}}, 0);
    std::string names;
    for (const auto& r : t.records()) names += r.name;
    EXPECT_EQ(names, "abc");
}

TEST(DeviceTable, a_code_is_found_only_as_a_whole_and_a_house_code_by_its_first_character) {
    DeviceTable t(1);
    t.load({{.ref = 1, .hc = "Q", .dc = "12"}, {.ref = 2, .hc = "", .dc = ""}, {.ref = 3, .hc = "R1", .dc = "2"}}, 0);
    EXPECT_EQ(t.indexOfCode("Q12"), 0u);
    EXPECT_EQ(t.indexOfCode("R12"), 2u) << "a code is hc and dc joined, however they were split";
    EXPECT_EQ(t.indexOfCode("Q1"), std::nullopt);
    EXPECT_EQ(t.indexOfCode(""), std::nullopt);
    EXPECT_TRUE(t.houseCodeUsed('Q'));
    EXPECT_TRUE(t.houseCodeUsed('R'));
    EXPECT_FALSE(t.houseCodeUsed('1'));
}

}  // namespace
}  // namespace varnel::host
