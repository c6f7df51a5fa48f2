#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "commands/ir_files.h"
#include "rig.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Dict = std::map<std::string, std::string>;

struct IrDictionary : ::testing::Test {
    test::Rig rig;
    Dict& dict = rig.ctx.ir.dictionary;

    void writeLines(const std::string& name, const Lines& lines) const {
        fs::create_directories(rig.dir.path() / "config");
        std::ofstream out(rig.dir.path() / "config" / name, std::ios::binary);
        for (const auto& l : lines) out << l << "\r\n";
    }
    // Label file: group names on lines 1.., then label `k` of group `g` on line 33 + 36(g-1) + k.
    void labels(const Lines& groups, const std::map<std::pair<int, int>, std::string>& byGroupAndIndex,
                int totalLines = 0) const {
        int last = 32;
        for (const auto& [gk, _] : byGroupAndIndex) last = std::max(last, 33 + 36 * (gk.first - 1) + gk.second);
        Lines out(static_cast<std::size_t>(std::max(last, totalLines)));
        for (std::size_t i = 0; i < groups.size(); ++i) out[i] = groups[i];
        for (const auto& [gk, text] : byGroupAndIndex)
            out[static_cast<std::size_t>(32 + 36 * (gk.first - 1) + gk.second)] = text;
        writeLines("irlbl.cfg", out);
    }
    std::vector<std::string> logTexts() const {
        std::vector<std::string> out;
        for (const auto& [source, text] : rig.host->log) out.push_back(source + ": " + text);
        return out;
    }
};

TEST_F(IrDictionary, key_is_group_and_label_upper_cased_value_is_index_and_zone) {
    labels({"TV", "amp"}, {{{1, 0}, "Power"}, {{1, 35}, "\"Last One\""}, {{2, 0}, "mute"}});
    Lines zones(14, "0");
    zones[0] = "3";
    zones[1] = "4";
    writeLines("irzones.cfg", zones);
    SetupIRDictionary(rig.ctx);
    EXPECT_EQ(dict, (Dict{{"TV POWER", "0,3"}, {"TV LAST ONE", "35,3"}, {"AMP MUTE", "36,4"}}));
    EXPECT_TRUE(rig.host->log.empty());
}

TEST_F(IrDictionary, zone_lines_that_are_17_or_not_numbers_mean_zone_0) {
    struct Case {
        std::string zoneLine;
        std::string value;
    };
    const std::vector<Case> cases{{"3", "0,3"},      {"17", "0,0"}, {"abc", "0,0"}, {"\"5\"", "0,5"},
                                  {"", "0,0"},       {"0", "0,0"},  {"-2", "0,-2"}, {"\"Living Room\"", "0,0"},
                                  {" 18 ", "0, 18 "}};
    for (const auto& c : cases) {
        dict.clear();
        labels({"G"}, {{{1, 0}, "K"}});
        writeLines("irzones.cfg", Lines(14, c.zoneLine));
        SetupIRDictionary(rig.ctx);
        EXPECT_EQ(dict["G K"], c.value) << c.zoneLine;
    }
}

TEST_F(IrDictionary, without_zone_file_every_value_ends_in_zone_0) {
    labels({"A", "B", "C"}, {{{1, 3}, "x"}, {{2, 4}, "y"}, {{3, 5}, "z"}});
    SetupIRDictionary(rig.ctx);
    EXPECT_EQ(dict, (Dict{{"A X", "3,0"}, {"B Y", "40,0"}, {"C Z", "77,0"}}));
}

TEST_F(IrDictionary, empty_labels_are_skipped_but_still_end_their_group) {
    // Label 35 (the last of group 1) is empty; label 36 must still land in group 2.
    labels({"ONE", "TWO"}, {{{1, 34}, "a"}, {{2, 0}, "b"}});
    SetupIRDictionary(rig.ctx);
    EXPECT_EQ(dict, (Dict{{"ONE A", "34,0"}, {"TWO B", "36,0"}}));
}

TEST_F(IrDictionary, only_groups_1_to_14_are_named) {
    Lines groups;
    for (int g = 1; g <= 32; ++g) groups.push_back("G" + std::to_string(g));
    labels(groups, {{{14, 35}, "last"}, {{15, 0}, "beyond"}, {{28, 0}, "far"}});
    SetupIRDictionary(rig.ctx);
    EXPECT_EQ(dict, (Dict{{"G14 LAST", "503,0"}}));
}

TEST_F(IrDictionary, duplicate_key_is_reported_once_and_first_index_kept) {
    labels({"TV"}, {{{1, 0}, "Power"}, {{1, 7}, "power"}});
    SetupIRDictionary(rig.ctx);
    EXPECT_EQ(dict, (Dict{{"TV POWER", "0,0"}}));
    EXPECT_EQ(logTexts(), (Lines{"Varnel: Duplicate IR Key TV POWER 0 "}));
}

TEST_F(IrDictionary, second_setup_keeps_old_values_and_reports_every_key) {
    labels({"TV"}, {{{1, 0}, "Power"}, {{1, 1}, "Mute"}});
    writeLines("irzones.cfg", {"3"});
    SetupIRDictionary(rig.ctx);
    writeLines("irzones.cfg", {"9"});
    rig.host->log.clear();
    SetupIRDictionary(rig.ctx);
    EXPECT_EQ(dict, (Dict{{"TV POWER", "0,3"}, {"TV MUTE", "1,3"}}));
    EXPECT_EQ(rig.host->log.size(), 2u + 13u);  // two duplicates, 13 zone lines missing
}

TEST_F(IrDictionary, short_zone_file_reports_each_missing_line_and_keeps_later_groups) {
    Lines groups;
    for (int g = 1; g <= 14; ++g) groups.push_back("G" + std::to_string(g));
    std::map<std::pair<int, int>, std::string> keys;
    for (int g = 1; g <= 14; ++g) keys[{g, 0}] = "k";
    labels(groups, keys);
    writeLines("irzones.cfg", Lines(10, "2"));
    SetupIRDictionary(rig.ctx);
    ASSERT_EQ(dict.size(), 14u);
    EXPECT_EQ(dict["G10 K"], "324,2");
    for (int g = 11; g <= 14; ++g) EXPECT_EQ(dict["G" + std::to_string(g) + " K"], std::to_string(36 * (g - 1)) + ",0");
    EXPECT_EQ(logTexts(), Lines(4, "Varnel: SetupIRDictionary 3 Input past end of file"));
}

TEST_F(IrDictionary, label_file_shorter_than_the_groups_reads_only_what_is_there) {
    writeLines("irlbl.cfg", {"A", "B"});
    writeLines("irzones.cfg", {"1", "2"});
    SetupIRDictionary(rig.ctx);
    EXPECT_TRUE(dict.empty());
    EXPECT_TRUE(rig.host->log.empty());
}

TEST_F(IrDictionary, missing_label_file_does_nothing) {
    writeLines("irzones.cfg", {"1"});
    SetupIRDictionary(rig.ctx);
    EXPECT_TRUE(dict.empty());
    EXPECT_TRUE(rig.host->log.empty());
}

// Every corrupt-file fixture kept for the fuzzers goes through all readers, as any of the files.
TEST_F(IrDictionary, corrupt_fixtures_leave_tables_within_bounds) {
    const fs::path fixtures = fs::path(__FILE__).parent_path() / "../../fuzz/fixtures";
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
