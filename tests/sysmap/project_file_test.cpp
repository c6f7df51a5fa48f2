#include "sysmap/project_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "text_files.h"

namespace varnel {
namespace {

using namespace std::string_literals;

struct Expected {
    LineKind kind;
    std::string level1, level2, level3, line;
};

constexpr auto L1 = LineKind::Level1;
constexpr auto L2 = LineKind::Level2;
constexpr auto L3 = LineKind::Level3;
constexpr auto Mod = LineKind::Module;
constexpr auto Txt = LineKind::Content;

TEST(ProjectFile, records_carry_kind_levels_and_line) {
    const std::pair<std::string, std::vector<Expected>> cases[] = {
        // nesting by leading tabs
        {"System Map\r\n\tLocal\r\n\t\tVariables\r\n\t\t\tHall Temp\r\n",
         {{L1, "System Map", "", "", ""},
          {L2, "System Map", "Local", "", ""},
          {L3, "System Map", "Local", "Variables", ""},
          {Txt, "System Map", "Local", "Variables", "\t\t\tHall Temp"}}},
        // an empty line is level 1 and clears the lower levels
        {"A\r\n\tB\r\n\t\tC\r\n\r\n\t\t\tD\r\n",
         {{L1, "A", "", "", ""},
          {L2, "A", "B", "", ""},
          {L3, "A", "B", "C", ""},
          {L1, "", "", "", ""},
          {Txt, "", "", "", "\t\t\tD"}}},
        // a module header gives its number and turns two-tab lines into content
        {"M\r\n\tModule #12\r\n\t\tFront Door\r\n\tOther\r\n\t\tVariables\r\n",
         {{L1, "M", "", "", ""},
          {Mod, "M", "Module #12", "12", ""},
          {Txt, "M", "Module #12", "12", "\t\tFront Door"},
          {L2, "M", "Other", "", ""},
          {Txt, "M", "Other", "", "\t\tVariables"}}},
        // the module number is three characters, trimmed
        {"\tModule #5 Kitchen\n\tModule #1234\n",
         {{Mod, "", "Module #5 Kitchen", "5 K", ""}, {Mod, "", "Module #1234", "123", ""}}},
    };
    for (const auto& [file, records] : cases) {
        SCOPED_TRACE(file);
        SystemMapImage img;
        ASSERT_FALSE(img.parse(file).has_value());
        ASSERT_EQ(img.size(), records.size());
        for (std::size_t i = 0; i < records.size(); ++i) {
            const MapRecord& r = img.records()[i];
            const Expected& e = records[i];
            EXPECT_EQ(r.ID, static_cast<std::int32_t>(i + 1));
            EXPECT_EQ(r.kind, e.kind) << "line " << i + 1;
            EXPECT_EQ((std::vector<std::string>{img.Level1(r), img.Level2(r), img.Level3(r), img.Line(r)}),
                      (std::vector<std::string>{e.level1, e.level2, e.level3, e.line}))
                << "line " << i + 1;
        }
    }
}

// Files that must come back byte for byte when nothing changed them.
TEST(ProjectFile, unchanged_file_renders_byte_identical) {
    const std::string files[] = {
        "CMAX\tV2\r\n\tPort\tCOM1\r\n\t\tA\t\tB\r\n\tModule #3\tRelay\r\n",  // inner tabs in headers
        "\r\n\r\nA\r\n\r\n\t\r\n\r\n",                                       // empty lines
        "A\r\n  B\r\n \tC\r\n\t  D\r\n",                                     // spaces as indentation
        "A\n\tB\r\n\t\tC\n\t\t\tD\r\nE",                                     // LF and mixed line ends
        "A\rB\r\n\t\t\tx\r\r\n\r",                                           // stray carriage returns
        "Caf\xe9\r\n\t\t\t\2435 \x80\r\n\t\t\tnul\0byte\r\n"s,               // single-byte code page, NUL
        "",
    };
    for (const std::string& file : files) {
        SystemMapImage img;
        ASSERT_FALSE(img.parse(file).has_value()) << file;
        EXPECT_EQ(img.render(), file);
    }
    // The sample project the demo and the runner tests rely on: CR LF throughout.
    const std::string sample = test::readFile(std::filesystem::path(VARNEL_SAMPLES_DIR) / "house.prj");
    SystemMapImage img;
    ASSERT_GT(sample.size(), 1000u);
    ASSERT_FALSE(img.parse(sample).has_value());
    EXPECT_EQ(img.render(), sample);
    for (const MapRecord& r : img.records()) EXPECT_EQ(r.end, LineEnd::CrLf) << "line " << r.ID;
}

TEST(ProjectFile, changed_line_ends_like_the_line_it_replaces_and_its_neighbours_keep_their_bytes) {
    // An LF file stays LF, a CR LF file CR LF, and a last line without an end gets none.
    const struct {
        std::string file, expected;
    } cases[] = {
        {"S\n\tLocal\n\t\tVariables\n\t\t\tOld\n\t\t\tKeep\tTab\n",
         "S\n\tLocal\n\t\tVariables\n\t\t\tHall Temp\n\t\t\tKeep\tTab\n"},
        {"S\r\n\tLocal\n\t\tVariables\r\n\t\t\tOld\r\n", "S\r\n\tLocal\n\t\tVariables\r\n\t\t\tHall Temp\r\n"},
        {"S\r\n\tLocal\r\n\t\tVariables\r\n\t\t\tOld", "S\r\n\tLocal\r\n\t\tVariables\r\n\t\t\tHall Temp"},
    };
    for (const auto& c : cases) {
        SystemMapImage img;
        ASSERT_FALSE(img.parse(c.file).has_value());
        const auto header = img.findLocalSection("Variables");
        ASSERT_TRUE(header);
        EXPECT_TRUE(img.setEntryLine(*header, *header + 1, "\t\t\tHall Temp"));
        EXPECT_EQ(img.render(), c.expected);
        ASSERT_EQ(img.changedRecords().size(), 1u);
        EXPECT_EQ(img.changedRecords()[0]->ID, *header + 1);
    }
}

TEST(ProjectFile, entries_outside_a_short_section_are_never_written) {
    // Variables has two entries; its computed lines 3 and 4 fall on the next header and
    // into the X-10 section.
    const std::string file = "S\r\n\tLocal\r\n\t\tVariables\r\n\t\t\tv0\r\n\t\t\tv1\r\n\t\tX-10\r\n\t\t\tA1 Lamp\r\n";
    SystemMapImage img;
    ASSERT_FALSE(img.parse(file).has_value());
    const std::int32_t vars = *img.findLocalSection("Variables");
    const std::int32_t x10 = *img.findLocalSection("X-10");
    EXPECT_NE(img.entry(vars, vars + 2), nullptr);
    // The X-10 header, X-10's first entry, the header itself, above the section, past the end.
    for (const std::int32_t id : {vars + 3, vars + 4, vars, 1, 99}) EXPECT_EQ(img.entry(vars, id), nullptr) << id;
    for (const std::int32_t id : {vars + 3, vars + 4, -5}) EXPECT_FALSE(img.setEntryLine(vars, id, "\t\t\tx")) << id;
    EXPECT_EQ(img.render(), file);
    EXPECT_NE(img.entry(x10, x10 + 1), nullptr);
}

TEST(ProjectFile, an_empty_line_ends_a_section_and_entry_lines_are_at_most_255_characters) {
    SystemMapImage img;
    ASSERT_FALSE(img.parse("\tLocal\n\t\tVariables\n\t\t\tv0\n\n\t\t\tv2\n").has_value());
    const std::int32_t vars = *img.findLocalSection("Variables");
    EXPECT_NE(img.entry(vars, vars + 1), nullptr);
    EXPECT_EQ(img.entry(vars, vars + 3), nullptr);
    EXPECT_NO_THROW(img.setEntryLine(vars, vars + 1, std::string(255, 'x')));
    EXPECT_THROW(img.setEntryLine(vars, vars + 1, std::string(256, 'x')), std::length_error);
}

TEST(ProjectFile, section_finders_follow_the_header_rules) {
    SystemMapImage img;
    ASSERT_FALSE(img.parse("S\n"
                           "\tRemote\n\t\tVariables\n"  // not under Local
                           "\tLocal\n\t\tVariables\n\t\tX-10\n"
                           "\tSchedules\n\t\t3\n"  // numeric level-3: not a module
                           "\tModule #3\n\t\tLamp\n"
                           "\tModule #5 Kitchen\n"
                           "\tLocal\n\t\tInfra-Red\n")  // after a module: content
                     .has_value());
    EXPECT_EQ(img.findLocalSection("Variables"), 5);
    EXPECT_EQ(img.findLocalSection("X-10"), 6);
    EXPECT_FALSE(img.findLocalSection("Infra-Red"));
    EXPECT_FALSE(img.findLocalSection("variables"));
    EXPECT_EQ(img.findModuleSection("3"), 9);
    EXPECT_FALSE(img.findModuleSection("5"));
    EXPECT_EQ(img.findModuleSection("5 K"), 11);
}

TEST(ProjectFile, overlong_line_stops_the_read_at_that_line) {
    const std::string ok(255, 'a');
    SystemMapImage img;
    const auto err = img.parse("A\r\n\t\t\t" + ok.substr(3) + "\r\n\t" + std::string(256, 'b') + "\r\nC\r\n");
    ASSERT_TRUE(err);
    EXPECT_EQ(err->line, 3);
    EXPECT_EQ(img.size(), 2u);
    // A header's length counts without its tabs, a content line's with them.
    EXPECT_FALSE(SystemMapImage{}.parse("\t\t" + std::string(255, 'h') + "\n").has_value());
    EXPECT_TRUE(SystemMapImage{}.parse(std::string(10, '\t') + std::string(250, 'c') + "\n").has_value());
}

TEST(ProjectFile, hostile_sizes_are_refused_without_exhausting_memory) {
    SystemMapImage img;
    const auto err = img.parse(std::string(kMaxProjectLines + 1, '\n'));
    ASSERT_TRUE(err);
    EXPECT_EQ(img.size(), kMaxProjectLines);
    SystemMapImage big;
    EXPECT_TRUE(big.parse(std::string(kMaxProjectBytes + 1, 'x')).has_value());
    EXPECT_TRUE(big.empty());
}

}  // namespace
}  // namespace varnel
