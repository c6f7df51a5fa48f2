#include <gtest/gtest.h>

#include "support/text.h"

namespace varnel {
namespace {

TEST(Text, blank_before_non_negative_numbers) {
    EXPECT_EQ(blankNum(5), " 5");
    EXPECT_EQ(blankNum(0), " 0");
    EXPECT_EQ(blankNum(-3), "-3");
}

TEST(Text, numeric_reads) {
    struct Case {
        const char* in;
        double value;
        bool numeric;
    };
    for (const Case& c : {Case{"12", 12, true}, Case{" 12 ", 12, true}, Case{"12abc", 12, false}, Case{"abc", 0, false},
                          Case{"", 0, false}, Case{"-4", -4, true}, Case{"2.5", 2.5, true}, Case{"1e3", 1000, true},
                          Case{"+", 0, false}, Case{"\"17\"", 0, false}}) {
        EXPECT_EQ(numericValue(c.in), c.value) << c.in;
        EXPECT_EQ(isNumeric(c.in), c.numeric) << c.in;
    }
}

TEST(Text, narrowing_rounds_half_even_and_checks_range) {
    EXPECT_EQ(toInt16(2.5), 2);
    EXPECT_EQ(toInt16(3.5), 4);
    EXPECT_EQ(toByte(255), 255);
    EXPECT_THROW(toByte(256), std::overflow_error);
    EXPECT_THROW(toInt16(40000), std::overflow_error);
}

TEST(Text, fields_past_the_last_are_empty) {
    EXPECT_EQ(field("3!11!5!0", '!', 1), "3");
    EXPECT_EQ(field("3!11!5!0", '!', 4), "0");
    EXPECT_EQ(field("3!11!5!0", '!', 5), "");
    EXPECT_EQ(field("3!11!5!0", '!', 0), "");
    EXPECT_EQ(split("a,,b,", ',').size(), 4u);
}

}  // namespace
}  // namespace varnel
