#include "commands/ir_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "rig.h"
#include "text_files.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

struct IrFiles : ::testing::Test {
    test::Rig rig;
    IrState& ir = rig.ctx.ir;
    fs::path config() const { return rig.dir.path() / "config"; }
    void writeLines(const std::string& name, const Lines& lines, const std::string& eol = "\r\n") const {
        fs::create_directories(config());
        std::ofstream out(config() / name, std::ios::binary);
        for (const auto& l : lines) out << l << eol;
    }
    std::string log() const { return rig.host->log.empty() ? "" : rig.host->log.back().second; }
    std::string map() const { return test::readFile(config() / "irmap.cfg"); }
};

TEST_F(IrFiles, label_lines_lose_every_quote_and_the_file_fills_1008_labels_at_most) {
    Lines lines(32);
    lines[0] = "\"TV\"", lines[1] = "A\"m\"p", lines[2] = " Spaced ";
    for (const char* l : {"\"TV Power\"", "Caf\xE9", "cr\rinside"}) lines.push_back(l);
    writeLines("irlbl.cfg", lines, "\n");
    ASSERT_TRUE(ReadIRCfg(rig.ctx));
    EXPECT_EQ((Lines{ir.groups[0], ir.groups[1], ir.groups[2], ir.labels[0], ir.labels[1], ir.labels[2], ir.labels[3]}),
              (Lines{"TV", "Amp", " Spaced ", "TV Power", "Caf\xE9", "cr\rinside", ""}));

    lines.clear();
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
}

TEST_F(IrFiles, lookup_follows_numeric_map_entries_and_map_lines_past_the_file_are_emptied) {
    const std::vector<std::tuple<int, std::string, std::int16_t>> cases{
        {3, "500", 500}, {4, "abc", 3},     {5, "\"12\"", 12}, {7, "", 6},     {8, "-3", -3},
        {9, "2.5", 2},   {11, "70000", 10}, {12, "12abc", 11}, {1008, "9", 9},
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
        {"", ""},          {" 12 ", "12"},   {"1023", "1023"},
        {"1024", nullptr}, {"-5", nullptr},  {"5\n6", nullptr},
        {"7\"8", nullptr}, {"1.5", nullptr}, {std::string(10'000, '1'), nullptr},
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

}  // namespace
}  // namespace varnel
