#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "commands/ir_files.h"
#include "rig.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

struct IrFiles : ::testing::Test {
    test::Rig rig;
    IrState& ir = rig.ctx.ir;

    fs::path config(const std::string& dirName = "config") const { return rig.dir.path() / dirName; }
    void write(const std::string& name, const std::string& bytes, const std::string& dirName = "config") const {
        fs::create_directories(config(dirName));
        std::ofstream(config(dirName) / name, std::ios::binary) << bytes;
    }
    void writeLines(const std::string& name, const Lines& lines, const std::string& eol = "\r\n") const {
        std::string bytes;
        for (const auto& l : lines) bytes += l + eol;
        write(name, bytes);
    }
    std::string read(const fs::path& p) const {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::vector<std::string> logTexts() const {
        std::vector<std::string> out;
        for (const auto& [source, text] : rig.host->log) out.push_back(source + ": " + text);
        return out;
    }
    // A label file: the given group names (rest blank), then `labels` from label index 0.
    static Lines labelFile(const Lines& groups, const Lines& labels) {
        Lines out(32);
        for (std::size_t i = 0; i < groups.size(); ++i) out[i] = groups[i];
        out.insert(out.end(), labels.begin(), labels.end());
        return out;
    }
};

TEST_F(IrFiles, label_lines_lose_every_quote_and_keep_everything_else_whatever_the_line_end) {
    for (const std::string eol : {"\r\n", "\n"}) {
        Lines groups{"\"TV\"", "A\"m\"p", " Spaced "};
        writeLines("irlbl.cfg", labelFile(groups, {"\"TV Power\"", "Caf\xE9", "tab\there", "cr\rinside"}), eol);
        ASSERT_TRUE(ReadIRCfg(rig.ctx));
        EXPECT_EQ(ir.groups[0], "TV");
        EXPECT_EQ(ir.groups[1], "Amp");
        EXPECT_EQ(ir.groups[2], " Spaced ");
        EXPECT_EQ(ir.labels[0], "TV Power");
        EXPECT_EQ(ir.labels[1], "Caf\xE9");
        EXPECT_EQ(ir.labels[2], "tab\there");
        EXPECT_EQ(ir.labels[3], "cr\rinside");
        EXPECT_EQ(ir.labels[4], "");
    }
}

TEST_F(IrFiles, short_label_file_clears_what_it_does_not_reach) {
    ir.groups[25] = "old group";
    ir.labels[5] = "old label";
    Lines twenty;
    for (int i = 1; i <= 20; ++i) twenty.push_back("G" + std::to_string(i));
    writeLines("irlbl.cfg", twenty);
    ASSERT_TRUE(ReadIRCfg(rig.ctx));
    EXPECT_EQ(ir.groups[19], "G20");
    for (std::size_t g = 20; g < 32; ++g) EXPECT_EQ(ir.groups[g], "") << g;
    for (std::size_t l = 0; l < 1008; ++l) ASSERT_EQ(ir.labels[l], "") << l;
}

TEST_F(IrFiles, missing_label_file_empties_tables_and_counts_as_success) {
    ir.groups[0] = "old";
    ir.labels[0] = "old";
    EXPECT_TRUE(ReadIRCfg(rig.ctx));
    EXPECT_EQ(ir.groups[0], "");
    EXPECT_EQ(ir.labels[0], "");
    EXPECT_TRUE(rig.host->log.empty());
}

TEST_F(IrFiles, label_file_past_label_1007_is_not_read_further) {
    Lines lines;
    for (int n = 1; n <= 1100; ++n) lines.push_back("L" + std::to_string(n));
    writeLines("irlbl.cfg", lines);
    ASSERT_TRUE(ReadIRCfg(rig.ctx));
    EXPECT_EQ(ir.groups[31], "L32");
    EXPECT_EQ(ir.labels[0], "L33");
    EXPECT_EQ(ir.labels[1007], "L1040");
    EXPECT_EQ(ir.labels.size(), 1008u);
}

TEST_F(IrFiles, unreadable_label_file_is_reported_and_read_fails) {
    fs::create_directories(config() / "irlbl.cfg");  // a directory where the file should be
    EXPECT_FALSE(ReadIRCfg(rig.ctx));
    EXPECT_EQ(logTexts(), (Lines{"Varnel: ReadIRCfg 3 Path/File access error"}));
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
    EXPECT_EQ(logTexts(), (Lines{"Varnel: BuildIRLookup 2 Overflow"}));
}

TEST_F(IrFiles, map_entries_past_the_file_are_emptied_and_extra_lines_ignored) {
    for (auto& e : ir.map) e = "99";
    writeLines("irmap.cfg", {"1", "2"}, "\n");
    ReadIRMap(rig.ctx);
    EXPECT_EQ(ir.map[0], "1");
    EXPECT_EQ(ir.map[1], "2");
    for (std::size_t i = 2; i < 1008; ++i) ASSERT_EQ(ir.map[i], "") << i;

    Lines long_(1200, "5");
    writeLines("irmap.cfg", long_);
    ReadIRMap(rig.ctx);
    EXPECT_EQ(ir.map.size(), 1008u);
    EXPECT_EQ(ir.map[1007], "5");

    fs::remove(config() / "irmap.cfg");
    ReadIRMap(rig.ctx);
    for (std::size_t i = 0; i < 1008; ++i) ASSERT_EQ(ir.map[i], "") << i;
    BuildIRLookup(rig.ctx);
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(ir.lookup[static_cast<std::size_t>(i)], i);
}

TEST_F(IrFiles, saved_map_is_1008_quoted_crlf_lines_replacing_the_old_file_whole) {
    write("irmap.cfg", "\"old\"\r\n");
    ir.map[0] = "500";
    ir.map[1007] = "Caf\xE9";
    SaveIRMap(rig.ctx);
    const std::string bytes = read(config() / "irmap.cfg");
    std::string expected = "\"500\"\r\n";
    for (int i = 1; i < 1007; ++i) expected += "\"\"\r\n";
    expected += "\"Caf\xE9\"\r\n";
    EXPECT_EQ(bytes, expected);
    // Nothing but the map itself is left in the directory.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(config())) ++entries;
    EXPECT_EQ(entries, 1);

    for (auto& e : ir.map) e = "x";
    ReadIRMap(rig.ctx);
    EXPECT_EQ(ir.map[0], "500");
    EXPECT_EQ(ir.map[1], "");
    EXPECT_EQ(ir.map[1007], "Caf\xE9");
}

TEST_F(IrFiles, failed_save_keeps_the_old_map_and_is_reported) {
    write("irmap.cfg", "\"7\"\r\n");
    // A directory in the way of the temporary file makes the write fail before any rename.
    fs::create_directories(config() / "~irmap.cfg.tmp");
    SaveIRMap(rig.ctx);
    EXPECT_EQ(read(config() / "irmap.cfg"), "\"7\"\r\n");
    ASSERT_EQ(rig.host->log.size(), 1u);
    EXPECT_EQ(rig.host->log[0].second.rfind("SaveIRMap 1 ", 0), 0u);
}

TEST_F(IrFiles, file_names_are_matched_without_regard_to_letter_case) {
    struct Case {
        std::string dir;
        std::vector<std::string> present;
        std::string asked;
        std::string expected;  // relative to the host dir
    };
    const std::vector<Case> cases{
        {"config", {"irlbl.cfg"}, "irLbl.cfg", "config/irlbl.cfg"},
        {"Config", {"irLbl.cfg"}, "irlbl.cfg", "Config/irLbl.cfg"},
        {"CONFIG", {"IRMAP.CFG", "IrMap.cfg"}, "irmap.cfg", "CONFIG/IRMAP.CFG"},
        {"config", {"IRZONES.CFG", "irZones.cfg"}, "irZones.cfg", "config/irZones.cfg"},
        {"config", {}, "IRMap.cfg", "config/IRMap.cfg"},
    };
    for (const auto& c : cases) {
        fs::remove_all(rig.dir.path());
        fs::create_directories(rig.dir.path() / c.dir);
        for (const auto& p : c.present) std::ofstream(rig.dir.path() / c.dir / p) << "x";
        EXPECT_EQ(irFilePath(rig.ctx, c.asked), rig.dir.path() / c.expected) << c.asked;
    }
}

TEST_F(IrFiles, readers_and_writer_reach_a_file_spelled_in_other_letters) {
    write("IRLBL.CFG", "\"TV\"\r\n", "Config");
    ASSERT_TRUE(ReadIRCfg(rig.ctx));
    EXPECT_EQ(ir.groups[0], "TV");

    write("IRMap.cfg", "\"old\"\r\n", "Config");
    ir.map[0] = "42";
    SaveIRMap(rig.ctx);
    EXPECT_FALSE(fs::exists(config("Config") / "irmap.cfg"));
    EXPECT_EQ(read(config("Config") / "IRMap.cfg").substr(0, 6), "\"42\"\r\n");
}

}  // namespace
}  // namespace varnel
