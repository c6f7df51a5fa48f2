// Number lists and the start-up mirroring options.
#include <gtest/gtest.h>

#include "console/selection.h"

namespace varnel::console {
namespace {

std::vector<int> range(int a, int b) {
    std::vector<int> v;
    for (int i = a; i <= b; ++i) v.push_back(i);
    return v;
}

std::vector<int> join(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(MirrorSelection, number_lists_read_ranges_and_write_them_back_shortest) {
    struct Case {
        const char* text;
        std::vector<int> numbers;
        const char* written;
    };
    const Case cases[] = {
        {"none", {}, "none"},
        {" NONE ", {}, "none"},
        {"5", {5}, "5"},
        {"0-9,64,127", join(range(0, 9), {64, 127}), "0-9,64,127"},
        {"127,0-2,1", {0, 1, 2, 127}, "0-2,127"},
        {"3 - 4, 10", {3, 4, 10}, "3,4,10"},
        {"7-7", {7}, "7"},
    };
    for (const auto& c : cases) {
        auto parsed = parseNumberList(c.text, 0, 127);
        ASSERT_TRUE(std::holds_alternative<std::vector<int>>(parsed))
            << c.text << ": " << std::get<std::string>(parsed);
        EXPECT_EQ(std::get<std::vector<int>>(parsed), c.numbers) << c.text;
        EXPECT_EQ(formatNumberList(c.numbers), c.written);
    }
}

TEST(MirrorSelection, bad_lists_say_which_item_is_wrong) {
    struct Case {
        const char* text;
        const char* says;
    };
    const Case cases[] = {
        {"", "empty list"},
        {"1,", "empty item"},
        {"1-", "'1-' is not a number or range"},
        {"x", "'x' is not a number"},
        {"-1", "'-1' is outside 0 to 127"},
        {"5-200", "'5-200' is outside 0 to 127"},
        {"9-3", "'9-3' runs backwards"},
        {"1.5", "'1.5' is not a number"},
        {"99999999999999999999", "is not a number"},
    };
    for (const auto& c : cases) {
        auto parsed = parseNumberList(c.text, 0, 127);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.text;
        EXPECT_NE(std::get<std::string>(parsed).find(c.says), std::string::npos)
            << c.text << " -> " << std::get<std::string>(parsed);
    }
}

TEST(MirrorSelection, points_option_reads_units_lists_and_invert) {
    struct Case {
        const char* text;
        std::vector<UnitChoice> units;
    };
    const Case cases[] = {
        {"1:0-7,3:0-3", {{1, range(0, 7), false}, {3, range(0, 3), false}}},
        {"1:0-3,5,3:0", {{1, {0, 1, 2, 3, 5}, false}, {3, {0}, false}}},
        {"1:0-7:invert", {{1, range(0, 7), true}}},
        {"2:1,invert,3:none", {{2, {1}, true}, {3, {}, false}}},
        {"1:0,2:4,1:15", {{1, {0, 15}, false}, {2, {4}, false}}},
        {" 4 : 8-9 : INVERT ", {{4, {8, 9}, true}}},
    };
    for (const auto& c : cases) {
        auto parsed = parseMirrorPoints(c.text);
        ASSERT_TRUE(std::holds_alternative<std::vector<UnitChoice>>(parsed))
            << c.text << ": " << std::get<std::string>(parsed);
        EXPECT_EQ(std::get<std::vector<UnitChoice>>(parsed), c.units) << c.text;
    }
}

TEST(MirrorSelection, bad_points_options_are_refused_with_the_reason) {
    struct Case {
        const char* text;
        const char* says;
    };
    const Case cases[] = {
        {"", "empty"},
        {"0-7", "needs a unit first"},
        {"invert,1:0", "needs a unit first"},
        {"0:1", "unit '0' is not a unit 1 to 128"},
        {"129:1", "is not a unit 1 to 128"},
        {"x:1", "unit 'x'"},
        {"1:16", "points of unit 1: '16' is outside 0 to 15"},
        {"1:", "points of unit 1: empty list"},
        {"1:0:flip", "is not UNIT:POINTS or UNIT:POINTS:invert"},
        {"1:0:invert:x", "is not UNIT:POINTS"},
        {"11:\n:", "is not UNIT:POINTS"},
        {"1:\x1b[2J", "'\\x1b[2J' is not a number or range"},
    };
    for (const auto& c : cases) {
        auto parsed = parseMirrorPoints(c.text);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.text;
        EXPECT_NE(std::get<std::string>(parsed).find(c.says), std::string::npos)
            << c.text << " -> " << std::get<std::string>(parsed);
        for (char ch : std::get<std::string>(parsed)) EXPECT_GE(static_cast<unsigned char>(ch), 0x20) << c.text;
    }
}

TEST(MirrorSelection, options_gather_into_one_choice_and_repeat_by_adding) {
    MirrorChoice choice;
    EXPECT_EQ(addMirrorOption(choice, "--mirror-vars", "0-3"), std::nullopt);
    EXPECT_EQ(addMirrorOption(choice, "--mirror-vars", "64,2"), std::nullopt);
    EXPECT_EQ(addMirrorOption(choice, "--mirror-points", "1:0-1"), std::nullopt);
    EXPECT_EQ(addMirrorOption(choice, "--mirror-points", "1:4:invert,3:2"), std::nullopt);
    ASSERT_TRUE(choice.variables);
    EXPECT_EQ(*choice.variables, (std::vector<int>{0, 1, 2, 3, 64}));
    EXPECT_EQ(choice.units, (std::vector<UnitChoice>{{1, {0, 1, 4}, true}, {3, {2}, false}}));

    MirrorChoice untouched;
    auto err = addMirrorOption(untouched, "--mirror-vars", "200");
    ASSERT_TRUE(err);
    EXPECT_EQ(err->rfind("--mirror-vars: variables: ", 0), 0u) << *err;
    EXPECT_TRUE(addMirrorOption(untouched, "--mirror-points", "1:99"));
    EXPECT_TRUE(addMirrorOption(untouched, "--mirror-all", "1"));
    EXPECT_EQ(untouched, MirrorChoice{});

    MirrorChoice none;
    EXPECT_EQ(addMirrorOption(none, "--mirror-vars", "none"), std::nullopt);
    ASSERT_TRUE(none.variables);  // an explicit empty selection, not "leave as it is"
    EXPECT_TRUE(none.variables->empty());
}

TEST(MirrorSelection, integers_are_whole_numbers_only) {
    EXPECT_EQ(parseInteger("42"), 42);
    EXPECT_EQ(parseInteger("-7"), -7);
    EXPECT_EQ(parseInteger("+7"), 7);
    for (const char* bad : {"", "-", "4 2", "0x10", "1e3", " 1", "1234567890123456789"})
        EXPECT_EQ(parseInteger(bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace varnel::console
