// Choosing mirrored variables and points from the console and from the start-up options.
#include <gtest/gtest.h>

#include <set>

#include "console_rig.h"
#include "devices/device_model.h"

namespace varnel {
namespace {

using console::Reply;

struct ConsoleMirror : ::testing::Test {
    test::ConsoleRig c;
    void SetUp() override { c.start(); }

    std::set<std::string> names(const std::string& location) const {
        std::set<std::string> out;
        for (const auto& d : c.rig.host->devices())
            if (d.location == location) out.insert(d.name);
        return out;
    }
    std::set<int> selectedVars() {
        std::set<int> out;
        for (int n = 0; n < 128; ++n)
            if (c.rig.ctx().devices.varSelected[static_cast<std::size_t>(n)] != kFalse) out.insert(n);
        return out;
    }
};

std::set<std::string> variables(std::initializer_list<int> ns) {
    std::set<std::string> out;
    for (int n : ns) out.insert("Variable " + std::to_string(n));
    return out;
}

TEST_F(ConsoleMirror, vars_replace_add_and_remove_the_selection_like_the_window) {
    struct Step {
        const char* line;
        std::set<std::string> devices;
        const char* says;
    };
    const Step steps[] = {
        {"mirror vars 0-2,64,127", variables({0, 1, 2, 64, 127}), "created 5"},
        {"mirror vars add 10", variables({0, 1, 2, 10, 64, 127}), "created 1"},
        {"mirror vars remove 1", variables({0, 2, 10, 64, 127}), "deleted 1"},
        {"mirror vars 3", variables({3, 127}), "mirrored now 3,127"},
        {"mirror vars 3", variables({3, 127}), "no devices created or deleted"},
        {"mirror vars none", variables({0, 127}), "variable 0 kept: it holds the first house code"},
    };
    for (const auto& s : steps) {
        const std::string said = c.ok(s.line);
        EXPECT_NE(said.find(s.says), std::string::npos) << s.line << " -> " << said;
        EXPECT_EQ(names("Ocelot"), s.devices) << s.line;
    }
    EXPECT_EQ(selectedVars(), (std::set<int>{0, 127}));
}

TEST_F(ConsoleMirror, points_create_the_module_devices_and_rebuild_the_mappings) {
    const std::string said = c.ok("mirror points 1 0-1,8 invert");
    EXPECT_NE(said.find("created 3"), std::string::npos) << said;
    EXPECT_NE(said.find("unit 1 (SECU16, house "), std::string::npos) << said;
    EXPECT_NE(said.find("mirrors 0,1,8, inverted"), std::string::npos) << said;
    EXPECT_EQ(names("Secu16 Unit 1"), (std::set<std::string>{"Input 1", "Input 2", "Relay Output 1"}));
    const auto* in2 = c.device("Input 2", "Secu16 Unit 1");
    ASSERT_NE(in2, nullptr);
    EXPECT_EQ(in2->iomisc, "1!11!1!1");
    ASSERT_EQ(c.rig.ctx().devices.mappings.size(), 1u);
    EXPECT_EQ(c.rig.ctx().devices.mappings[0].invert(), 1);

    // Without invert/no-invert the unit keeps its inversion.
    c.ok("mirror points 1 add 2");
    EXPECT_EQ(c.device("Input 3", "Secu16 Unit 1")->iomisc, "1!11!2!1");
    c.ok("mirror points 1 remove 0,8 no-invert");
    EXPECT_EQ(names("Secu16 Unit 1"), (std::set<std::string>{"Input 2", "Input 3"}));
    EXPECT_EQ(c.device("Input 2", "Secu16 Unit 1")->iomisc, "1!11!1!0");
}

TEST_F(ConsoleMirror, emptying_a_unit_keeps_its_first_point) {
    c.ok("mirror points 3 0-7");
    EXPECT_EQ(names("Rly08 Unit 3").size(), 8u);
    const std::string said = c.ok("mirror points 3 none");
    EXPECT_NE(said.find("point 0 kept"), std::string::npos) << said;
    EXPECT_EQ(names("Rly08 Unit 3"), (std::set<std::string>{"Relay Output 1"}));
}

TEST_F(ConsoleMirror, points_of_units_without_devices_are_refused_and_nothing_changes) {
    const auto before = c.deviceCount();
    struct Case {
        const char* line;
        const char* says;
    };
    const Case cases[] = {
        {"mirror points 9 0", "mirror: no module at unit 9 (status lists the modules)"},
        {"mirror points 4 0", "mirror: unit 4 is a SECU16IR; it plays IR and has no devices"},
        {"mirror points 3 0,8", "mirror: unit 3 is a RELAY-08; its points are 0 to 7"},
    };
    for (const auto& k : cases) EXPECT_NE(c.refused(k.line).find(k.says), std::string::npos) << c.last;
    EXPECT_EQ(c.deviceCount(), before);
}

TEST_F(ConsoleMirror, listing_gives_the_lines_that_make_the_selection_again) {
    EXPECT_EQ(c.run("mirror").lines.front(), "# no variables mirrored (no variables house code)");
    c.ok("mirror vars 0-9,64");
    c.ok("mirror points 1 0-7 invert");
    c.ok("mirror points 3 2");
    const auto listing = c.run("mirror").lines;
    std::vector<std::string> commands;
    for (const auto& l : listing)
        if (l.rfind("mirror ", 0) == 0) commands.push_back(l.substr(0, l.find("    #")));
    EXPECT_EQ(commands, (std::vector<std::string>{"mirror vars 0-9,64", "mirror points 1 0-7 invert",
                                                  "mirror points 3 2 no-invert"}));
    EXPECT_NE(std::find(listing.begin(), listing.end(), "# unit 2 (SECU16I): no points mirrored"), listing.end());

    const auto devices = c.rig.host->devices();
    for (const auto& line : commands) {
        const std::string said = c.ok(line);
        EXPECT_NE(said.find("no devices created or deleted"), std::string::npos) << said;
    }
    EXPECT_EQ(c.rig.host->devices(), devices);
}

TEST_F(ConsoleMirror, start_up_options_apply_the_same_selection) {
    console::MirrorChoice choice;
    ASSERT_EQ(console::addMirrorOption(choice, "--mirror-vars", "0-3"), std::nullopt);
    ASSERT_EQ(console::addMirrorOption(choice, "--mirror-points", "1:0-1:invert,3:0"), std::nullopt);
    const Reply r = c.console.applyMirrorChoice(choice);
    EXPECT_EQ(r.outcome, Reply::Outcome::Done);
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[0].rfind("mirror vars 0-3: created", 0), 0u) << r.lines[0];
    EXPECT_EQ(r.lines[1].rfind("mirror points 1 0,1 invert: created 2", 0), 0u) << r.lines[1];
    EXPECT_EQ(names("Ocelot"), variables({0, 1, 2, 3, 127}));
    EXPECT_EQ(names("Secu16 Unit 1"), (std::set<std::string>{"Input 1", "Input 2"}));
    EXPECT_EQ(names("Rly08 Unit 3"), (std::set<std::string>{"Relay Output 1"}));

    console::MirrorChoice bad;
    ASSERT_EQ(console::addMirrorOption(bad, "--mirror-points", "4:0"), std::nullopt);
    EXPECT_EQ(c.console.applyMirrorChoice(bad).outcome, Reply::Outcome::Error);
    EXPECT_EQ(c.console.applyMirrorChoice({}).outcome, Reply::Outcome::Empty);
}

TEST(ConsoleMirrorHost, no_free_house_code_is_said_and_nothing_is_created) {
    test::ConsoleRig c;
    c.start();
    c.rig.host->setFreeCodeOrder({});  // every house code taken
    const auto before = c.deviceCount();
    EXPECT_NE(c.refused("mirror vars 1").find("no free house code for the variables"), std::string::npos) << c.last;
    EXPECT_NE(c.refused("mirror points 1 0").find("no free house code for unit 1"), std::string::npos) << c.last;
    EXPECT_EQ(c.deviceCount(), before);
}

}  // namespace
}  // namespace varnel
