// Standard input as console lines: splitting, line ends, overlong lines, the last
// line without an end. Before start-up is through every line waits.
#include <gtest/gtest.h>

#include "console_feed.h"

namespace varnel::app {
namespace {

TEST(ConsoleFeed, splits_input_into_lines_as_it_comes_whatever_the_chunks) {
    std::vector<std::string> said;
    ConsoleFeed feed({}, [&](const std::string& s) { said.push_back(s); });
    const struct {
        std::string bytes;
        std::size_t waiting;
    } steps[] = {
        {"sta", 0},
        {"tus\r\nvar 1", 1},
        {" 2\n\n", 3},  // an empty line is a line (the console takes it as nothing)
        {std::string(ConsoleFeed::kMaxInputLine + 10, 'x'), 3},
        {"still the long one\nhelp\n", 4},
    };
    for (const auto& s : steps) {
        feed.take(s.bytes);
        EXPECT_EQ(feed.waiting(), s.waiting) << s.bytes.substr(0, 20);
    }
    EXPECT_EQ(said, std::vector<std::string>{"console: an input line longer than 4096 characters was dropped"});
    feed.take("quit");
    EXPECT_EQ(feed.waiting(), 4u);
    feed.endOfInput();
    EXPECT_EQ(feed.waiting(), 5u);
    EXPECT_FALSE(feed.reading());
}

}  // namespace
}  // namespace varnel::app
