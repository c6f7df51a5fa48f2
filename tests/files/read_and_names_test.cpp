// Bounded reads that say which bound was hit, line ends, the case-blind name
// lookup and the rotating append.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "files/files.h"
#include "rig.h"
#include "text_files.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

using test::writeFile;

std::vector<std::string> readLines(const fs::path& p, const files::Limits& limits = {}) {
    files::LineReader in(p, limits);
    std::vector<std::string> out;
    std::string line;
    while (in.next(line)) out.push_back(line);
    return out;
}

TEST(BoundedRead, says_which_limit_was_hit) {
    test::TempDir dir;
    const fs::path f = dir.path() / "f";
    const struct Case {
        std::string bytes;
        files::Limits limits;
        files::Limit hit;
        std::string says;
    } cases[] = {
        // 600,000 empty lines are far below the byte limit: the line count is what is too many.
        {std::string(600'000, '\n'),
         {.maxBytes = 16u << 20, .maxLines = 500'000},
         files::Limit::Lines,
         " has more than 500000 lines"},
        {std::string(3000, 'x'), {.maxBytes = 2048}, files::Limit::Bytes, " is larger than 2 KiB"},
        {"ok\r\n" + std::string(11, 'x') + "\r\n",
         {.maxLineBytes = 10},
         files::Limit::LineLength,
         ": line 2 is longer than 10 bytes"},
    };
    for (const Case& c : cases) {
        writeFile(f, c.bytes);
        for (const bool byLine : {false, true}) {
            try {
                if (byLine)
                    readLines(f, c.limits);
                else
                    files::readFile(f, c.limits);
                ADD_FAILURE() << c.says << " was not refused";
            } catch (const files::TooLarge& e) {
                EXPECT_EQ(e.limit, c.hit);
                EXPECT_EQ(std::string(e.what()), f.string() + c.says);
            }
        }
    }
    // Exactly at the limits is fine; a CR LF end does not count against the line length.
    writeFile(f, std::string(10, 'x') + "\r\n" + std::string(10, 'y'));
    const files::Limits exact{.maxBytes = 22, .maxLines = 2, .maxLineBytes = 10};
    EXPECT_EQ(files::readFile(f, exact)->size(), 22u);
    EXPECT_EQ(readLines(f, exact), (std::vector<std::string>{std::string(10, 'x'), std::string(10, 'y')}));
}

TEST(BoundedRead, line_reader_takes_lf_or_cr_lf_and_keeps_every_other_byte) {
    test::TempDir dir;
    const fs::path f = dir.path() / "f";
    writeFile(f, std::string("a\r\nb\n\r\nc\rd\n\xE9\0z\nlast\r", 20));
    EXPECT_EQ(readLines(f), (std::vector<std::string>{"a", "b", "", "c\rd", std::string("\xE9\0z", 3), "last"}));
}

TEST(BoundedRead, absent_files_directories_and_fifos) {
    test::TempDir dir;
    EXPECT_EQ(files::readFile(dir.path() / "none", {}), std::nullopt);
    EXPECT_THROW(files::LineReader(dir.path() / "none", {}), files::FileError);
    ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0644), 0);
    const struct {
        fs::path path;
        std::string says;
    } refused[] = {
        {dir.path(), "cannot read " + dir.path().string() + ": Is a directory"},
        // Nobody writes into it: a blocking read would hang for good.
        {dir.path() / "fifo", "cannot read " + (dir.path() / "fifo").string() + ": not a regular file"},
    };
    for (const auto& r : refused) {
        try {
            files::readFile(r.path, {});
            ADD_FAILURE() << r.says;
        } catch (const files::FileError& e) {
            EXPECT_EQ(std::string(e.what()), r.says);
        }
        EXPECT_THROW(files::LineReader(r.path, {}), files::FileError);
    }
}

TEST(NamesNoCase, the_exact_spelling_wins_then_the_first_in_alphabetical_order) {
    test::TempDir dir;
    const fs::path config = dir.path() / "Config";
    writeFile(config / "irLbl.cfg", "");
    writeFile(config / "IRLBL.CFG", "");
    EXPECT_EQ(files::findNoCase(config, "irLbl.cfg"), config / "irLbl.cfg");
    EXPECT_EQ(files::findNoCase(config, "irlbl.cfg"), config / "IRLBL.CFG");
    EXPECT_EQ(files::findNoCase(config, "irzones.cfg"), config / "irzones.cfg") << "a miss keeps the spelling asked";
    EXPECT_EQ(files::findNoCase(dir.path(), "config"), config);

    writeFile(dir.path() / "Scripts" / "Run.vbs", "");
    EXPECT_EQ(files::resolveNoCase(dir.path(), "scripts\\run.VBS"), dir.path() / "Scripts" / "Run.vbs");
    for (const char* refused : {"", "/etc/passwd", "\\x", "scripts/../Scripts/Run.vbs", "c:run.vbs", "scripts/none"})
        EXPECT_EQ(files::resolveNoCase(dir.path(), refused), std::nullopt) << refused;
}

TEST(AppendRotating, a_full_file_moves_aside_once_and_the_line_starts_a_new_one) {
    test::TempDir dir;
    const fs::path log = dir.path() / "ocelot.log";
    ASSERT_TRUE(files::appendRotating(log, "1234", 8));
    ASSERT_TRUE(files::appendRotating(log, "5678", 8));
    ASSERT_TRUE(files::appendRotating(log, "9", 8));
    ASSERT_TRUE(files::appendRotating(log, "0", 8));
    EXPECT_EQ(test::readFile(dir.path() / "ocelot.log.1") + "|" + test::readFile(log), "12345678|90");
    EXPECT_FALSE(files::appendRotating(dir.path() / "no" / "dir.log", "x", 8));
}

}  // namespace
}  // namespace varnel
