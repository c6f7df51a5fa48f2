// Text from outside as it is shown and logged: one line, valid UTF-8, nothing a
// terminal would act on; and escaping twice is escaping once.
#include <gtest/gtest.h>

#include "support/escape.h"

namespace varnel {
namespace {

using namespace std::string_literals;

TEST(Escaped, control_characters_and_bytes_that_are_not_utf8_become_escapes) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"Küche 日本 ok", "Küche 日本 ok"},
        {"has\ta tab", "has\\ta tab"},
        {"two\nlines\r\n", "two\\nlines\\r\\n"},
        {"nul\0bell\a esc\x1b[2J del\x7f"s, "nul\\x00bell\\x07 esc\\x1b[2J del\\x7f"},
        {"Caf\xe9", "Caf\\xe9"},                   // Windows-1252
        {"\xc0\xaf", "\\xc0\\xaf"},                // overlong '/'
        {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},  // U+1F600
        {"csi\xc2\x9b"
         "2J",
         "csi\\u009b2J"},                                  // C1 control
        {"C:\\Program Files\\x", "C:\\Program Files\\x"},  // backslashes stay
    };
    for (const auto& c : cases) {
        EXPECT_EQ(escaped(c.in), c.out) << c.out;
        EXPECT_EQ(escaped(escaped(c.in)), escaped(c.in)) << "escaping twice changed " << c.out;
    }
}

TEST(Escaped, a_cut_keeps_whole_characters_and_says_so) {
    EXPECT_EQ(escaped("abcdef", 3), "abc...");
    EXPECT_EQ(escaped("ab\xc3\xbc", 3), "ab...");
}

}  // namespace
}  // namespace varnel
