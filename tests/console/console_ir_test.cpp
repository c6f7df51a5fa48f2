// Playing IR by number and by name, zones, learning and the name list.
#include <gtest/gtest.h>

#include "console_rig.h"

namespace varnel {
namespace {

using P = sim::IrPlay;

P local(std::uint16_t loc) { return {.remote = false, .module = 0, .output = 0, .location = loc}; }
P remote(std::uint8_t module, std::uint8_t output, std::uint16_t loc) {
    return {.remote = true, .module = module, .output = output, .location = loc};
}

// Group 1 "TV" (no zone): labels 0 Power, 1 Mute. Group 2 "Amp" on zone 3: label 36 Volume.
// The map sends label 2 to code location 500.
void irFiles(test::ConsoleRig& c) {
    std::vector<std::string> labels(69);
    labels[0] = "TV";
    labels[1] = "Amp";
    labels[32] = "\"Power\"";
    labels[33] = "Mute";
    labels[68] = "Volume";
    c.configFile("irlbl.cfg", labels);
    c.configFile("irzones.cfg", {"0", "3", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0"});
    c.configFile("irmap.cfg", {"", "", "500"});
}

struct ConsoleIr : ::testing::Test {
    test::ConsoleRig c;
    void SetUp() override {
        irFiles(c);
        c.start();
    }
};

TEST_F(ConsoleIr, plays_by_number_name_and_zone_where_the_plugin_sends_them) {
    struct Case {
        const char* line;
        P played;
    };
    const Case cases[] = {
        {"ir play 5", local(5)},
        {"ir play 2", local(500)},                 // through the map
        {"ir play tv mute", local(1)},             // a group without a zone
        {"ir play Amp Volume", remote(4, 3, 36)},  // the group's zone on the SECU16IR at 4
        {"ir play --zone 1 5", remote(4, 1, 5)},
        {"ir play --zone 0 TV Power", local(0)},
        {"ir play 7 --zone 17", remote(4, 17, 7)},
    };
    for (const auto& k : cases) {
        const std::size_t before = c.rig.controller.irPlays().size();
        const std::string said = c.ok(k.line);
        EXPECT_NE(said.find(": sent"), std::string::npos) << said;
        ASSERT_EQ(c.rig.controller.irPlays().size(), before + 1) << k.line;
        EXPECT_EQ(c.rig.controller.irPlays().back(), k.played) << k.line;
    }
}

TEST_F(ConsoleIr, unknown_names_and_zones_are_refused_and_nothing_plays) {
    EXPECT_NE(c.refused("ir play TV Volume").find("ir: no IR code named 'TV Volume' (ir list shows the names)"),
              std::string::npos)
        << c.last;
    EXPECT_NE(c.refused("ir play --zone 18 5").find("ir: zone must be 0 to 17, not 18"), std::string::npos) << c.last;
    EXPECT_TRUE(c.rig.controller.irPlays().empty());
}

TEST_F(ConsoleIr, list_shows_the_playable_names) {
    const auto r = c.run("ir list");
    ASSERT_EQ(r.lines.size(), 3u);
    std::string all;
    for (const auto& l : r.lines) all += l + "\n";
    EXPECT_NE(all.find("AMP VOLUME"), std::string::npos) << all;
    EXPECT_NE(all.find("label 36, zone 3"), std::string::npos) << all;
    EXPECT_NE(all.find("TV POWER"), std::string::npos) << all;
}

TEST(ConsoleIrNames, names_in_the_windows_code_page_answer_to_utf8_in_any_case) {
    test::ConsoleRig c;
    irFiles(c);
    std::vector<std::string> labels(69);
    labels[0] = "K\374che";  // Küche, as a Windows tool writes it
    labels[33] =
        "T\xDC"
        "R \xE9t\xE9";  // TÜR été
    c.configFile("irlbl.cfg", labels);
    c.start();
    const std::string said = c.ok("ir play küche tür ÉTÉ");
    EXPECT_NE(said.find(": sent"), std::string::npos) << said;
    ASSERT_EQ(c.rig.controller.irPlays().size(), 1u);
    EXPECT_EQ(c.rig.controller.irPlays().back(), local(1));

    const auto listed = c.run("ir list").lines;
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].rfind("KÜCHE TÜR ÉTÉ", 0), 0u) << listed[0];
}

TEST(ConsoleIrLearn, learn_waits_for_the_key_and_the_controller_stores_it) {
    auto cfg = sim::ControllerConfig::typical();
    cfg.autoLearnDelayUs = 2'000'000;  // the operator presses the key two seconds in
    test::ConsoleRig c(test::withController(cfg));
    c.start();
    EXPECT_NE(c.ok("ir learn 20").find("ir learn 20: finished"), std::string::npos) << c.last;
    EXPECT_TRUE(c.rig.controller.learnedCodes().contains(20));
    EXPECT_FALSE(c.rig.prompts.shown.empty());
    EXPECT_TRUE(c.console.ready());
}

}  // namespace
}  // namespace varnel
