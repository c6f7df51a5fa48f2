// Choosing mirrored variables and points from the console and from the start-up options.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "console_rig.h"
#include "devices/device_model.h"
#include "text_files.h"

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
    EXPECT_NE(c.ok("mirror points 1 none").find("point 0 kept"), std::string::npos) << c.last;
    EXPECT_EQ(names("Secu16 Unit 1"), (std::set<std::string>{"Input 1"}));
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

// Another interface's devices, as a hand-edited or older host directory holds them.
struct ForeignDevices : ConsoleMirror {
    std::vector<host::DeviceRecord> foreign;

    void addForeign(const std::string& code, const std::string& name) {
        c.addDevice(code, name, "Hall", "Z-Wave Bridge", 1);
        foreign = foreignNow();
    }
    std::vector<host::DeviceRecord> foreignNow() const {
        std::vector<host::DeviceRecord> now;
        for (const auto& r : c.rig.host->devices())
            if (r.interface_ == "Z-Wave Bridge") now.push_back(r);
        return now;
    }
    // The plug-in's own codes on the letters Q to T, in order.
    std::string ownCodes() const {
        std::set<std::string> out;
        for (const auto& r : c.rig.host->devices())
            if (r.interface_ != "Z-Wave Bridge" && !r.hc.empty() && r.hc[0] >= 'Q' && r.hc[0] <= 'T')
                out.insert(r.code());
        std::string joined;
        for (const auto& code : out) joined += code + " ";
        return joined;
    }
};

TEST_F(ForeignDevices, a_new_pair_of_variable_letters_skips_letters_another_interface_uses) {
    addForeign("R1", "Porch lamp");
    addForeign("R5", "Hall lamp");
    // Q is free but R is not: the pair is S and T.
    const std::pair<const char*, const char*> steps[] = {
        {"mirror vars 0", "S1 T64 "},
        {"mirror vars 64", "S1 T1 "},
        {"mirror vars 0-1,65", "S1 S2 T2 "},
        {"mirror vars none", "S1 T64 "},
    };
    for (const auto& [line, own] : steps) {
        c.ok(line);
        EXPECT_EQ(c.rig.ctx().devices.varsHouseCode, 'S') << line;
        EXPECT_EQ(ownCodes(), own) << line;
    }
    EXPECT_EQ(foreignNow(), foreign);
}

TEST_F(ForeignDevices, devices_of_another_interface_on_our_letters_are_never_taken_over) {
    c.ok("mirror vars 0,64");     // Q1 and R1
    c.ok("mirror points 1 0,1");  // S1 and S2
    addForeign("Q5", "Porch lamp");
    addForeign("R5", "Hall lamp");
    addForeign("S5", "Garage door");
    const struct {
        const char* line;
        bool done;
        const char* says;
        const char* own;
    } steps[] = {
        {"mirror vars 0-2,64-68", false, "no device for variables 68", "Q1 Q2 Q3 R1 R2 R3 R4 S1 S2 "},
        {"mirror points 1 add 4", false, "no device for points 4 of unit 1", "Q1 Q2 Q3 R1 R2 R3 R4 S1 S2 "},
        {"mirror vars none", true, "", "Q1 R64 S1 S2 "},
        {"mirror points 1 none", true, "", "Q1 R64 S1 "},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(c.run(s.line).outcome == console::Reply::Outcome::Done, s.done) << s.line << " -> " << c.last;
        EXPECT_NE(c.last.find(s.says), std::string::npos) << s.line << " -> " << c.last;
        EXPECT_EQ(ownCodes(), s.own) << s.line;
    }
    EXPECT_EQ(foreignNow(), foreign);
}

TEST_F(ForeignDevices, input_changes_never_drive_another_interfaces_device_on_a_unit_letter) {
    c.ok("mirror vars 0,64");     // Q1 and R1
    c.ok("mirror points 1 0,1");  // S1 and S2
    ASSERT_EQ(c.codeOf("Input 1", "Secu16 Unit 1"), "S1");
    addForeign("S5", "Garage lamp");
    c.rig.host->clearEvents();
    const auto s1 = c.rig.host->DeviceStatus("S1");
    // Point 4 of unit 1 would be S5; point 0 is the plug-in's S1. Heard by the timer's
    // reader, by the response loop (a command waits) and by the timer's comparison.
    const auto flip = [&](int point) {
        if (!c.rig.controller.changeInput(1, point, true)) c.rig.controller.changeInput(1, point, false);
    };
    flip(4);
    flip(0);
    c.rig.run(1000);
    flip(4);
    c.ok("var 3 8");
    c.rig.run(5000);
    EXPECT_EQ(foreignNow(), foreign);
    std::vector<std::string> touched;
    for (const auto& e : c.rig.host->events())
        if (e.code == "S5") touched.push_back(host::describe(e));
    EXPECT_EQ(touched, std::vector<std::string>{});
    EXPECT_NE(c.rig.host->DeviceStatus("S1"), s1) << "the plug-in's own device must still follow";
}

TEST(ConsoleMirrorHost, a_full_disk_is_said_on_the_line_and_the_run_saves_once_there_is_room) {
    bool full = false;
    files::WriteFaults faults;
    faults.write = [&full](int fd, const char* data, std::size_t size) -> long {
        if (!full) return ::write(fd, data, size);
        errno = ENOSPC;
        return -1;
    };
    test::EngineOptions options;
    options.hostSavesLater = true;
    options.hostWriteFaults = &faults;
    test::ConsoleRig c(options);
    c.start();
    const auto logCount = [&](const std::string& text) {
        return test::occurrences(test::readFile(c.rig.dir.path() / "logs" / "host.log"), text);
    };
    full = true;
    const std::string said = c.ok("mirror points 1 0-3");
    EXPECT_NE(said.find("created 4"), std::string::npos) << said;
    EXPECT_NE(said.find("; NOT SAVED: cannot save the devices: "), std::string::npos) << said;
    EXPECT_NE(said.find("No space left on device; cannot save the settings: "), std::string::npos) << said;
    c.rig.run(30'000);
    EXPECT_EQ(logCount("cannot save the devices"), 1u);
    EXPECT_EQ(logCount("cannot save the settings"), 1u);
    EXPECT_EQ(logCount("saved again"), 0u);

    full = false;
    c.rig.run(6'000);
    EXPECT_EQ(logCount("devices saved again"), 1u);
    EXPECT_EQ(logCount("settings saved again"), 1u);
    EXPECT_EQ(c.ok("mirror points 1 add 4").find("NOT SAVED"), std::string::npos) << c.last;
}

TEST(ConsoleMirrorHost, a_creation_the_host_refuses_is_said_and_nothing_is_selected_or_written) {
    // A host that takes one device: the unit's first point.
    test::EngineOptions options;
    options.hostMaxDevices = 1;
    test::ConsoleRig c(options);
    c.start();
    c.ok("mirror points 1 0");
    c.rig.host->clearEvents();
    struct Case {
        const char* line;
        const char* says;
    };
    const Case cases[] = {
        {"mirror vars 0-2,127", "mirror vars 0-2,127: the host has no device for variables 0-2,127"},
        {"mirror points 1 add 3", "the host has no device for points 3 of unit 1"},
    };
    for (const auto& k : cases) {
        const std::string said = c.refused(k.line);
        EXPECT_NE(said.find(k.says), std::string::npos) << said;
        EXPECT_EQ(said.find("mirrored now"), std::string::npos) << said;
    }
    EXPECT_EQ(std::count(c.rig.ctx().devices.varSelected.begin(), c.rig.ctx().devices.varSelected.end(), kFalse), 128);
    EXPECT_TRUE(pointSelected(c.rig.ctx(), 1, 0));
    EXPECT_FALSE(pointSelected(c.rig.ctx(), 1, 3));

    // The timers then write to no device that is not there.
    c.rig.run(20000);
    for (const auto& e : c.rig.host->events()) EXPECT_TRUE(e.known) << host::describe(e);
}

}  // namespace
}  // namespace varnel
