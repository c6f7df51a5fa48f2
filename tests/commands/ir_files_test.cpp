#include <algorithm>
#include <map>
#include <optional>

#include "command_rig.h"
#include "commands/ir_files.h"
#include "text_files.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::Lines;

struct IrFiles : test::CommandTest {
    IrState& ir = rig.ctx.ir;
    std::string log() const { return rig.host->log.empty() ? "" : rig.host->log.back().second; }
    std::string map() const { return test::readFile(config() / "irmap.cfg"); }
};

TEST_F(IrFiles, label_lines_lose_every_quote_and_keep_everything_else_whatever_the_line_end) {
    for (const std::string eol : {"\r\n", "\n"}) {
        Lines lines(32);
        lines[0] = "\"TV\"", lines[1] = "A\"m\"p", lines[2] = " Spaced ";
        for (const char* l : {"\"TV Power\"", "Caf\xE9", "tab\there", "cr\rinside"}) lines.push_back(l);
        writeLines("irlbl.cfg", lines, eol);
        ASSERT_TRUE(ReadIRCfg(rig.ctx));
        EXPECT_EQ((Lines{ir.groups[0], ir.groups[1], ir.groups[2], ir.labels[0], ir.labels[1], ir.labels[2],
                         ir.labels[3], ir.labels[4]}),
                  (Lines{"TV", "Amp", " Spaced ", "TV Power", "Caf\xE9", "tab\there", "cr\rinside", ""}));
    }
}

TEST_F(IrFiles, label_file_fills_1008_labels_at_most_and_clears_what_it_does_not_reach) {
    Lines lines;
    for (int n = 1; n <= 1100; ++n) lines.push_back("L" + std::to_string(n));
    writeLines("irlbl.cfg", lines);
    ASSERT_TRUE(ReadIRCfg(rig.ctx));
    EXPECT_EQ(ir.groups[31] + ir.labels[0] + ir.labels[1007] + std::to_string(ir.labels.size()), "L32L33L10401008");

    writeLines("irlbl.cfg", Lines(lines.begin(), lines.begin() + 20));
    ASSERT_TRUE(ReadIRCfg(rig.ctx));
    EXPECT_EQ(ir.groups[19] + ir.groups[20], "L20");
    EXPECT_EQ(ir.labels, std::vector<std::string>(1008));

    ir.groups[0] = ir.labels[0] = "old";
    fs::remove(config() / "irlbl.cfg");
    EXPECT_TRUE(ReadIRCfg(rig.ctx)) << "a missing file is no failure";
    EXPECT_EQ(ir.groups[0] + ir.labels[0], "");
    EXPECT_TRUE(rig.host->log.empty());

    fs::create_directories(config() / "irlbl.cfg");  // a directory where the file should be
    EXPECT_FALSE(ReadIRCfg(rig.ctx));
    EXPECT_EQ(log(), "ReadIRCfg 3 cannot read " + (config() / "irlbl.cfg").string() + ": Is a directory");
}

TEST_F(IrFiles, lookup_follows_numeric_map_entries_and_map_lines_past_the_file_are_emptied) {
    const std::vector<std::tuple<int, std::string, std::int16_t>> cases{
        {3, "500", 500}, {4, "abc", 3},    {5, "\"12\"", 12}, {6, " 7 ", 7},     {7, "", 6},     {8, "-3", -3},
        {9, "2.5", 2},   {10, "1e2", 100}, {11, "70000", 10}, {12, "12abc", 11}, {1008, "9", 9},
    };
    Lines lines(1200, "");  // lines past 1008 are ignored
    for (const auto& [line, entry, _] : cases) lines[static_cast<std::size_t>(line - 1)] = entry;
    lines[1100] = "5";
    writeLines("irmap.cfg", lines, "\n");
    ReadIRMap(rig.ctx);
    BuildIRLookup(rig.ctx);
    EXPECT_EQ(ir.map.size(), 1008u);
    for (const auto& [line, entry, lookup] : cases)
        EXPECT_EQ(ir.lookup[static_cast<std::size_t>(line - 1)], lookup) << entry;
    EXPECT_EQ(ir.lookup[0], 0);
    for (int i = 1008; i < 1024; ++i) EXPECT_EQ(ir.lookup[static_cast<std::size_t>(i)], i);
    EXPECT_EQ(log(), "BuildIRLookup 2 Overflow");

    for (auto& e : ir.map) e = "99";
    writeLines("irmap.cfg", {"1", "2"});
    ReadIRMap(rig.ctx);
    std::vector<std::string> expected(1008);
    expected[0] = "1", expected[1] = "2";
    EXPECT_EQ(ir.map, expected);
    fs::remove(config() / "irmap.cfg");
    ReadIRMap(rig.ctx);
    BuildIRLookup(rig.ctx);
    EXPECT_EQ(ir.map, std::vector<std::string>(1008));
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(ir.lookup[static_cast<std::size_t>(i)], i);
}

TEST_F(IrFiles, saved_map_is_1008_quoted_crlf_lines_replacing_the_old_file_whole) {
    writeLines("irmap.cfg", {"\"old\""});
    ir.map[0] = "500";
    ir.map[1007] = "Caf\xE9";
    SaveIRMap(rig.ctx);
    std::string expected = "\"500\"\r\n";
    for (int i = 1; i < 1007; ++i) expected += "\"\"\r\n";
    EXPECT_EQ(map(), expected + "\"Caf\xE9\"\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(config()), fs::directory_iterator{}), 1) << "no temporary left";
    for (auto& e : ir.map) e = "x";
    ReadIRMap(rig.ctx);
    EXPECT_EQ(ir.map[0] + "|" + ir.map[1] + "|" + ir.map[1007], "500||Caf\xE9");
}

TEST_F(IrFiles, a_map_that_cannot_be_saved_or_read_back_keeps_the_old_file_and_is_reported) {
    const std::string readOnly =
        "cannot write " + (config() / "irmap.cfg").string() + ": no write permission (mode 0440)";
    for (const std::string& bad :
         {std::string("5\n6"), std::string("5\r"), std::string("7\"8"), std::string(4095, '1'), std::string("7")}) {
        writeLines("irmap.cfg", {"\"7\""});
        if (bad == "7") fs::permissions(config() / "irmap.cfg", fs::perms::owner_read | fs::perms::group_read);
        rig.host->log.clear();
        for (auto& e : ir.map) e.clear();
        ir.map[2] = bad;
        SaveIRMap(rig.ctx);
        EXPECT_EQ(map(), "\"7\"\r\n") << bad.size();
        ASSERT_EQ(rig.host->log.size(), 1u);
        EXPECT_EQ(log().rfind(bad == "7" ? "SaveIRMap 1 " + readOnly : "SaveIRMap 1 IR map entry 2 ", 0), 0u) << log();
    }
    fs::permissions(config() / "irmap.cfg", fs::perms::owner_read | fs::perms::owner_write);
    ir.map[2] = std::string(4094, '1');  // the longest line the reader takes, quotes included
    SaveIRMap(rig.ctx);
    ReadIRMap(rig.ctx);
    EXPECT_EQ(ir.map[2].size(), 4094u);
    EXPECT_EQ(ir.map[3], "");
}

TEST(IrRemapField, is_empty_or_a_code_location) {
    const std::pair<std::string, const char*> cases[] = {
        {"", ""},
        {"   ", ""},
        {"0", "0"},
        {" 12 ", "12"},
        {"1023", "1023"},
        {"1024", nullptr},
        {"-5", nullptr},
        {"99999999", nullptr},
        {"5\n6", nullptr},
        {"7\"8", nullptr},
        {"0x10", nullptr},
        {"1.5", nullptr},
        {std::string(10'000, '1'), nullptr},
    };
    for (const auto& [text, stored] : cases) {
        const auto problem = checkIrRemap(text, 37);
        if (stored) {
            EXPECT_FALSE(problem.has_value()) << text;
            EXPECT_EQ(irRemapValue(text), stored);
        } else {
            EXPECT_EQ(problem.value_or("accepted"),
                      "Remap to IR Loc of label 37 must be empty or a whole number from 0 to 1023")
                << text.substr(0, 20);
        }
    }
}

TEST_F(IrFiles, a_line_past_the_bound_is_reported_by_each_reader_and_never_held_whole) {
    Lines lines(40, "name");
    lines[33] = std::string(5000, 'x');
    for (const char* name : {"irlbl.cfg", "irmap.cfg", "irzones.cfg"}) writeLines(name, lines);
    const std::string says = ": line 34 is longer than 4 KiB";
    EXPECT_FALSE(ReadIRCfg(rig.ctx));
    EXPECT_EQ(log(), "ReadIRCfg 3 " + (config() / "irlbl.cfg").string() + says);
    ReadIRMap(rig.ctx);
    EXPECT_EQ(log(), "ReadIRMap 1 " + (config() / "irmap.cfg").string() + says);
    EXPECT_EQ(ir.map[32] + "|" + ir.map[33], "name|") << "lines before the long one are kept, none after";
    SetupIRDictionary(rig.ctx);
    EXPECT_EQ(log(), "SetupIRDictionary 3 " + (config() / "irlbl.cfg").string() + says);
}

TEST_F(IrFiles, files_are_found_whatever_their_letter_case_and_rewritten_in_place) {
    const fs::path dir = rig.dir.path() / "Config";
    test::writeFile(dir / "IRLBL.CFG", "\"TV\"\r\n");
    test::writeFile(dir / "IRMap.cfg", "\"old\"\r\n");
    ASSERT_TRUE(ReadIRCfg(rig.ctx));
    EXPECT_EQ(ir.groups[0], "TV");
    ir.map[0] = "42";
    SaveIRMap(rig.ctx);
    EXPECT_FALSE(fs::exists(dir / "irmap.cfg"));
    EXPECT_EQ(test::readFile(dir / "IRMap.cfg").substr(0, 6), "\"42\"\r\n");
}

// ---- the IR dictionary --------------------------------------------------------

using Dict = std::map<std::string, std::string>;
using Labels = std::map<std::pair<int, int>, std::string>;  // (group 1.., index in group) -> text

struct IrDictionary : test::CommandTest {
    Dict& dict = rig.ctx.ir.dictionary;

    // Label file: group names on lines 1.., then label `k` of group `g` on line 33 + 36(g-1) + k.
    void labels(const Lines& groups, const Labels& byGroupAndIndex) const {
        int last = 32;
        for (const auto& [gk, _] : byGroupAndIndex) last = std::max(last, 33 + 36 * (gk.first - 1) + gk.second);
        Lines out(static_cast<std::size_t>(last));
        std::copy(groups.begin(), groups.end(), out.begin());
        for (const auto& [gk, text] : byGroupAndIndex)
            out[static_cast<std::size_t>(32 + 36 * (gk.first - 1) + gk.second)] = text;
        writeLines("irlbl.cfg", out);
    }
    static Lines numbered(int n) {
        Lines out;
        for (int g = 1; g <= n; ++g) out.push_back("G" + std::to_string(g));
        return out;
    }
};

TEST_F(IrDictionary, key_is_group_and_label_upper_cased_value_is_index_and_zone) {
    struct Case {
        const char* what;
        std::optional<Lines> groups;  // none: no label file
        Labels labels;
        std::optional<Lines> zones;  // none: no zone file
        Dict expected;
    };
    const std::vector<Case> cases{
        {"zones per group",
         Lines{"TV", "amp"},
         {{{1, 0}, "Power"}, {{1, 35}, "\"Last One\""}, {{2, 0}, "mute"}},
         Lines{"3", "4", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0"},
         {{"TV POWER", "0,3"}, {"TV LAST ONE", "35,3"}, {"AMP MUTE", "36,4"}}},
        {"no zone file",
         Lines{"A", "B", "C"},
         {{{1, 3}, "x"}, {{2, 4}, "y"}, {{3, 5}, "z"}},
         std::nullopt,
         {{"A X", "3,0"}, {"B Y", "40,0"}, {"C Z", "77,0"}}},
        // Label 35 (the last of group 1) is empty; label 36 must still land in group 2.
        {"empty label ends its group",
         Lines{"ONE", "TWO"},
         {{{1, 34}, "a"}, {{2, 0}, "b"}},
         std::nullopt,
         {{"ONE A", "34,0"}, {"TWO B", "36,0"}}},
        {"only groups 1 to 14",
         numbered(32),
         {{{14, 35}, "last"}, {{15, 0}, "beyond"}, {{28, 0}, "far"}},
         std::nullopt,
         {{"G14 LAST", "503,0"}}},
        {"no label file", std::nullopt, {}, Lines{"1", "2"}, {}},
        {"label file shorter than the group names", Lines{"A", "B"}, {}, Lines{"1", "2"}, {}},
    };
    for (const auto& c : cases) {
        fs::remove_all(config());
        dict.clear();
        if (c.groups) c.labels.empty() ? writeLines("irlbl.cfg", *c.groups) : labels(*c.groups, c.labels);
        if (c.zones) writeLines("irzones.cfg", *c.zones);
        SetupIRDictionary(rig.ctx);
        EXPECT_EQ(dict, c.expected) << c.what;
    }
    EXPECT_TRUE(rig.host->log.empty());
}

TEST_F(IrDictionary, zone_lines_that_are_17_or_not_numbers_mean_zone_0) {
    const std::pair<std::string, std::string> cases[]{{"3", "0,3"},
                                                      {"17", "0,0"},
                                                      {"abc", "0,0"},
                                                      {"\"5\"", "0,5"},
                                                      {"", "0,0"},
                                                      {"-2", "0,-2"},
                                                      {"\"Living Room\"", "0,0"},
                                                      {" 18 ", "0, 18 "}};
    labels({"G"}, {{{1, 0}, "K"}});
    for (const auto& [zoneLine, value] : cases) {
        dict.clear();
        writeLines("irzones.cfg", Lines(14, zoneLine));
        SetupIRDictionary(rig.ctx);
        EXPECT_EQ(dict["G K"], value) << zoneLine;
    }
}

TEST_F(IrDictionary, duplicate_keys_are_reported_and_first_value_kept) {
    labels({"TV"}, {{{1, 0}, "Power"}, {{1, 7}, "power"}, {{1, 1}, "Mute"}});
    writeLines("irzones.cfg", {"3"});
    SetupIRDictionary(rig.ctx);
    const Dict expected{{"TV POWER", "0,3"}, {"TV MUTE", "1,3"}};
    EXPECT_EQ(dict, expected);
    const auto log = logged();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Varnel: Duplicate IR Key TV POWER 0 "), 1);
    writeLines("irzones.cfg", {"9"});
    rig.host->log.clear();
    SetupIRDictionary(rig.ctx);  // a second setup keeps the old values
    EXPECT_EQ(dict, expected);
    EXPECT_EQ(rig.host->log.size(), 3u + 13u);  // three duplicates, 13 zone lines missing
}

TEST_F(IrDictionary, short_zone_file_reports_each_missing_line_and_keeps_later_groups) {
    Labels keys;
    for (int g = 1; g <= 14; ++g) keys[{g, 0}] = "k";
    labels(numbered(14), keys);
    writeLines("irzones.cfg", Lines(10, "2"));
    SetupIRDictionary(rig.ctx);
    ASSERT_EQ(dict.size(), 14u);
    EXPECT_EQ(dict["G10 K"] + " " + dict["G11 K"] + " " + dict["G14 K"], "324,2 360,0 468,0");
    EXPECT_EQ(logged(), Lines(4, "Varnel: SetupIRDictionary 3 Input past end of file"));
}

}  // namespace
}  // namespace varnel
