#include <gtest/gtest.h>

#include "support/codepage.h"
#include "support/text.h"

namespace varnel {
namespace {

TEST(Text, numeric_reads) {
    struct Case {
        const char* in;
        double value;
        bool numeric;
    };
    for (const Case& c : {Case{" 12 ", 12, true}, Case{"12abc", 12, false}, Case{"", 0, false}, Case{"-4", -4, true},
                          Case{"1e3", 1000, true}, Case{"\"17\"", 0, false}}) {
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

TEST(Text, capitals_of_windows_1252_letters) {
    const std::pair<std::string, std::string> cases[] = {
        {"tv power", "TV POWER"},
        {"k\xFC"
         "che \xE9t\xE9",
         "K\xDC"
         "CHE \xC9T\xC9"},                                 // ü é
        {"\x9A\x9C\x9E\xFF", "\x8A\x8C\x8E\x9F"},          // š œ ž ÿ
        {"\xF7\xB5\xDF\xD7 1-2", "\xF7\xB5\xDF\xD7 1-2"},  // ÷ µ ß × have none
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(upper(in), out) << in;
}

TEST(Text, code_page_and_utf8_convert_both_ways) {
    struct Case {
        std::string utf8, codePage;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"K\xC3\xBC"
         "che \xE2\x82\xAC",
         "K\xFC"
         "che \x80"},
        {"\xE2\x80\x9Equote\xE2\x80\x9C \xC5\xB8", "\x84quote\x93 \x9F"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toCodePage(c.utf8), c.codePage) << c.utf8;
        EXPECT_EQ(toUtf8(c.codePage), c.utf8) << c.utf8;
        EXPECT_EQ(toCodePage(c.codePage), c.codePage) << "single-byte text stays";
    }
    const CodePageText marked = toCodePage(
        "K\xC3\xBC"
        "che \xE6\x97\xA5\xE2\x88\x9E",
        '?');
    EXPECT_EQ(marked.bytes,
              "K\xFC"
              "che ??");
    EXPECT_FALSE(marked.complete);
}

}  // namespace
}  // namespace varnel
