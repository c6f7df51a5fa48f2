#include <algorithm>
#include <map>
#include <optional>
#include <sstream>

#include "command_rig.h"
#include "commands/ir_files.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::Lines;

struct IrFiles : test::CommandTest {
    IrState& ir = rig.ctx.ir;

    void write(const std::string& name, const std::string& bytes, const std::string& dirName = "config") const {
        fs::create_directories(rig.dir.path() / dirName);
        std::ofstream(rig.dir.path() / dirName / name, std::ios::binary) << bytes;
    }
    static std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string log() const { return rig.host->log.empty() ? "" : rig.host->log.back().second; }
};

TEST_F(IrFiles, label_lines_lose_every_quote_and_keep_everything_else_whatever_the_line_end) {
    for (const std::string eol : {"\r\n", "\n"}) {
        Lines lines(32);
        lines[0] = "\"TV\"", lines[1] = "A\"m\"p", lines[2] = " Spaced ";
        for (const char* l : {"\"TV Power\"", "Caf\xE9", "tab\there", "cr\rinside"}) lines.push_back(l);
        writeLines("irlbl.cfg", lines, eol);
        ASSERT_TRUE(ReadIRCfg(rig.ctx));
        EXPECT_EQ((Lines{ir.groups[0], ir.groups[1], ir.groups[2]}), (Lines{"TV", "Amp", " Spaced "}));
        EXPECT_EQ(Lines(ir.labels.begin(), ir.labels.begin() + 5),
                  (Lines{"TV Power", "Caf\xE9", "tab\there", "cr\rinside", ""}));
    }
}

TEST_F(IrFiles, label_file_fills_1008_labels_at_most_and_clears_what_it_does_not_reach) {
    Lines lines;
    for (int n = 1; n <= 1100; ++n) lines.push_back("L" + std::to_string(n));
    writeLines("irlbl.cfg", lines);
    ASSERT_TRUE(ReadIRCfg(rig.ctx));
    EXPECT_EQ(ir.groups[31], "L32");
    EXPECT_EQ(ir.labels[0], "L33");
    EXPECT_EQ(ir.labels[1007], "L1040");
    EXPECT_EQ(ir.labels.size(), 1008u);

    writeLines("irlbl.cfg", Lines(lines.begin(), lines.begin() + 20));
    ASSERT_TRUE(ReadIRCfg(rig.ctx));
    EXPECT_EQ(ir.groups[19], "L20");
    EXPECT_EQ(ir.groups[20], "");
    for (std::size_t l = 0; l < 1008; ++l) ASSERT_EQ(ir.labels[l], "") << l;

    ir.groups[0] = ir.labels[0] = "old";
    fs::remove(config() / "irlbl.cfg");
    EXPECT_TRUE(ReadIRCfg(rig.ctx)) << "a missing file is no failure";
    EXPECT_EQ(ir.groups[0] + ir.labels[0], "");
    EXPECT_TRUE(rig.host->log.empty());

    fs::create_directories(config() / "irlbl.cfg");  // a directory where the file should be
    EXPECT_FALSE(ReadIRCfg(rig.ctx));
    EXPECT_EQ(log(), "ReadIRCfg 3 cannot read " + (config() / "irlbl.cfg").string() + ": Is a directory");
}

TEST_F(IrFiles, lookup_follows_numeric_map_entries_only) {
    struct Case {
        int line;  // 1-based line of irmap.cfg
        std::string entry;
        std::int16_t lookup;
    };
    const std::vector<Case> cases{
        {3, "500", 500}, {4, "abc", 3},    {5, "\"12\"", 12}, {6, " 7 ", 7},     {7, "", 6},     {8, "-3", -3},
        {9, "2.5", 2},   {10, "1e2", 100}, {11, "70000", 10}, {12, "12abc", 11}, {1008, "9", 9},
    };
    Lines lines(1008);
    for (const auto& c : cases) lines[static_cast<std::size_t>(c.line - 1)] = c.entry;
    writeLines("irmap.cfg", lines);
    ReadIRMap(rig.ctx);
    BuildIRLookup(rig.ctx);
    for (const auto& c : cases) EXPECT_EQ(ir.lookup[static_cast<std::size_t>(c.line - 1)], c.lookup) << c.entry;
    EXPECT_EQ(ir.lookup[0], 0);
    for (int i = 1008; i < 1024; ++i) EXPECT_EQ(ir.lookup[static_cast<std::size_t>(i)], i);
    EXPECT_EQ(log(), "BuildIRLookup 2 Overflow");
}

TEST_F(IrFiles, map_entries_past_the_file_are_emptied_and_extra_lines_ignored) {
    for (auto& e : ir.map) e = "99";
    writeLines("irmap.cfg", {"1", "2"}, "\n");
    ReadIRMap(rig.ctx);
    EXPECT_EQ(ir.map[0] + ir.map[1], "12");
    for (std::size_t i = 2; i < 1008; ++i) ASSERT_EQ(ir.map[i], "") << i;

    writeLines("irmap.cfg", Lines(1200, "5"));
    ReadIRMap(rig.ctx);
    EXPECT_EQ(ir.map.size(), 1008u);
    EXPECT_EQ(ir.map[1007], "5");

    fs::remove(config() / "irmap.cfg");
    ReadIRMap(rig.ctx);
    BuildIRLookup(rig.ctx);
    for (std::size_t i = 0; i < 1008; ++i) ASSERT_EQ(ir.map[i], "") << i;
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(ir.lookup[static_cast<std::size_t>(i)], i);
}

TEST_F(IrFiles, saved_map_is_1008_quoted_crlf_lines_replacing_the_old_file_whole) {
    write("irmap.cfg", "\"old\"\r\n");
    ir.map[0] = "500";
    ir.map[1007] = "Caf\xE9";
    SaveIRMap(rig.ctx);
    std::string expected = "\"500\"\r\n";
    for (int i = 1; i < 1007; ++i) expected += "\"\"\r\n";
    EXPECT_EQ(read(config() / "irmap.cfg"), expected + "\"Caf\xE9\"\r\n");
    // Nothing but the map itself is left in the directory.
    EXPECT_EQ(std::distance(fs::directory_iterator(config()), fs::directory_iterator{}), 1);

    for (auto& e : ir.map) e = "x";
    ReadIRMap(rig.ctx);
    EXPECT_EQ(ir.map[0] + "|" + ir.map[1] + "|" + ir.map[1007], "500||Caf\xE9");
}

TEST_F(IrFiles, a_map_that_cannot_be_saved_or_read_back_keeps_the_old_file_and_is_reported) {
    const std::string readOnly =
        "cannot write " + (config() / "irmap.cfg").string() + ": no write permission (mode 0440)";
    for (const std::string& bad :
         {std::string("5\n6"), std::string("5\r"), std::string("7\"8"), std::string(4095, '1'), std::string("7")}) {
        write("irmap.cfg", "\"7\"\r\n");
        if (bad == "7") fs::permissions(config() / "irmap.cfg", fs::perms::owner_read | fs::perms::group_read);
        rig.host->log.clear();
        for (auto& e : ir.map) e.clear();
        ir.map[2] = bad;
        SaveIRMap(rig.ctx);
        EXPECT_EQ(read(config() / "irmap.cfg"), "\"7\"\r\n") << bad.size();
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
    struct Case {
        std::string text;
        bool ok;
        const char* stored;
    };
    const Case cases[] = {
        {"", true, ""},
        {"   ", true, ""},
        {"0", true, "0"},
        {" 12 ", true, "12"},
        {"1023", true, "1023"},
        {"1024", false, ""},
        {"-5", false, ""},
        {"99999999", false, ""},
        {"5\n6", false, ""},
        {"7\"8", false, ""},
        {"0x10", false, ""},
        {"1.5", false, ""},
        {std::string(10'000, '1'), false, ""},
    };
    for (const auto& c : cases) {
        const auto problem = checkIrRemap(c.text, 37);
        EXPECT_EQ(!problem.has_value(), c.ok) << c.text.substr(0, 20);
        if (problem) {
            EXPECT_EQ(*problem, "Remap to IR Loc of label 37 must be empty or a whole number from 0 to 1023");
        } else {
            EXPECT_EQ(irRemapValue(c.text), c.stored);
        }
    }
}

TEST_F(IrFiles, a_line_past_the_bound_is_reported_by_each_reader_and_never_held_whole) {
    // A label of 5000 bytes is not a label; a 300 MB one must not take 300 MB to refuse.
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
    write("IRLBL.CFG", "\"TV\"\r\n", "Config");
    ASSERT_TRUE(ReadIRCfg(rig.ctx));
    EXPECT_EQ(ir.groups[0], "TV");

    write("IRMap.cfg", "\"old\"\r\n", "Config");
    ir.map[0] = "42";
    SaveIRMap(rig.ctx);
    EXPECT_FALSE(fs::exists(rig.dir.path() / "Config" / "irmap.cfg"));
    EXPECT_EQ(read(rig.dir.path() / "Config" / "IRMap.cfg").substr(0, 6), "\"42\"\r\n");
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
        for (std::size_t i = 0; i < groups.size(); ++i) out[i] = groups[i];
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
    };
    for (const auto& c : cases) {
        fs::remove_all(rig.dir.path() / "config");
        dict.clear();
        if (c.groups) labels(*c.groups, c.labels);
        if (c.zones) writeLines("irzones.cfg", *c.zones);
        SetupIRDictionary(rig.ctx);
        EXPECT_EQ(dict, c.expected) << c.what;
    }
    writeLines("irlbl.cfg", {"A", "B"});  // shorter than the group names, zones for two
    SetupIRDictionary(rig.ctx);
    EXPECT_TRUE(dict.empty());
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
    EXPECT_EQ(dict, (Dict{{"TV POWER", "0,3"}, {"TV MUTE", "1,3"}}));
    const auto log = logged();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Varnel: Duplicate IR Key TV POWER 0 "), 1);
    writeLines("irzones.cfg", {"9"});
    rig.host->log.clear();
    SetupIRDictionary(rig.ctx);  // a second setup keeps the old values
    EXPECT_EQ(dict, (Dict{{"TV POWER", "0,3"}, {"TV MUTE", "1,3"}}));
    EXPECT_EQ(rig.host->log.size(), 3u + 13u);  // three duplicates, 13 zone lines missing
}

TEST_F(IrDictionary, short_zone_file_reports_each_missing_line_and_keeps_later_groups) {
    Labels keys;
    for (int g = 1; g <= 14; ++g) keys[{g, 0}] = "k";
    labels(numbered(14), keys);
    writeLines("irzones.cfg", Lines(10, "2"));
    SetupIRDictionary(rig.ctx);
    ASSERT_EQ(dict.size(), 14u);
    EXPECT_EQ(dict["G10 K"], "324,2");
    for (int g = 11; g <= 14; ++g) EXPECT_EQ(dict["G" + std::to_string(g) + " K"], std::to_string(36 * (g - 1)) + ",0");
    EXPECT_EQ(logged(), Lines(4, "Varnel: SetupIRDictionary 3 Input past end of file"));
}

// Every corrupt-file fixture kept for the fuzzers goes through all readers, as any of the files.
TEST_F(IrDictionary, corrupt_fixtures_leave_tables_within_bounds) {
    const fs::path fixtures = VARNEL_FUZZ_FIXTURES;
    ASSERT_TRUE(fs::is_directory(fixtures)) << fixtures;
    int seen = 0;
    for (const auto& entry : fs::recursive_directory_iterator(fixtures)) {
        if (!entry.is_regular_file()) continue;
        ++seen;
        fs::create_directories(rig.dir.path() / "config");
        for (const char* name : {"irlbl.cfg", "irmap.cfg", "irzones.cfg"})
            fs::copy_file(entry.path(), rig.dir.path() / "config" / name, fs::copy_options::overwrite_existing);
        rig.ctx.ir = IrState{};
        ReadIRCfg(rig.ctx);
        ReadIRMap(rig.ctx);
        BuildIRLookup(rig.ctx);
        SetupIRDictionary(rig.ctx);
        EXPECT_EQ(rig.ctx.ir.labels.size(), 1008u) << entry.path();
        EXPECT_EQ(rig.ctx.ir.map.size(), 1008u) << entry.path();
        EXPECT_LE(dict.size(), 504u) << entry.path();
    }
    EXPECT_GT(seen, 0);
}

}  // namespace
}  // namespace varnel
