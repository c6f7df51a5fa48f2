// System Map to host: device names from the project file, synchronized IR files.
#include "sysmap/to_host.h"

#include "project_builder.h"
#include "sync_fixture.h"
#include "sysmap/synchronize.h"

namespace varnel::test {
namespace {

class ToHost : public SyncFixture {
protected:
    void sync(const SyncIncludes& includes) {
        spit(project, layout.text());
        Synchronize(ctx(), true, project.string(), includes);
    }
    void expectName(const std::string& code, const std::string& location, const std::string& name) {
        const auto* d = device(code);
        ASSERT_NE(d, nullptr) << code;
        EXPECT_EQ(d->location, location) << code;
        EXPECT_EQ(d->name, name) << code;
    }
    ProjectBuilder layout;
};

TEST_F(ToHost, mirrored_variable_without_a_device_is_created_as_an_interface_variable) {
    layout.vars[0] = "Hall Temperature";
    layout.vars[1] = "Outdoor Temperature";
    mirrorVariables('#', {0});
    addDevice("#2", "Garage", "Keep Me", "Varnel");
    sync({.variables = true});

    const auto* d = device("#1");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->location, "Hall");
    EXPECT_EQ(d->name, "Temperature");
    EXPECT_EQ(d->interface_, "Varnel");
    EXPECT_EQ(d->iotype, 3);
    EXPECT_EQ(d->Status, 17);
    EXPECT_EQ(d->dev_type_string, "Interface Variable");
    // Not mirrored: the System Map's name is not taken.
    expectName("#2", "Garage", "Keep Me");
}

TEST_F(ToHost, variables_64_and_127_take_the_next_house_letter) {
    layout.vars[63] = "Ocelot Heartbeat";
    layout.vars[64] = "Cinema Lights";
    layout.vars[127] = "Last Keypad Code";
    mirrorVariables('#', {63, 64, 127});
    sync({.variables = true});
    expectName("#64", "Ocelot", "Heartbeat");
    expectName("$1", "Cinema", "Lights");
    expectName("$64", "Last", "Keypad Code");
    EXPECT_EQ(host->devices().size(), 3u);
}

TEST_F(ToHost, existing_device_takes_location_and_name_and_keeps_everything_else) {
    layout.x10["B4"] = "Hall Light";
    addDevice("B4", "Ocelot", "Lamp", "CM11A");
    host->GetDeviceByRef(host->DeviceExistsRef("B4"))->set_Status(2);
    sync({.x10 = true});
    const auto* d = device("B4");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->location, "Hall");
    EXPECT_EQ(d->name, "Light");
    EXPECT_EQ(d->interface_, "CM11A");
    EXPECT_EQ(d->Status, 2);
}

struct X10Case {
    const char* name;
    std::string entry;  // A1's text after the three tabs
    bool named;
    std::string location, deviceName;
};

class X10Entries : public ToHost, public ::testing::WithParamInterface<X10Case> {};

TEST_P(X10Entries, entry_text_becomes_location_and_name) {
    const X10Case& c = GetParam();
    layout.x10["A1"] = c.entry;
    sync({.x10 = true});
    if (!c.named) {
        EXPECT_EQ(device("A1"), nullptr);
        return;
    }
    expectName("A1", c.location, c.deviceName);
}

INSTANTIATE_TEST_SUITE_P(Texts, X10Entries,
                         ::testing::Values(X10Case{"unnamed_address_is_skipped", "X-10 House A Unit 1", false, "", ""},
                                           X10Case{"bare_x10_house_is_a_name", "X-10 House", true, "X-10", "House"},
                                           X10Case{"code_and_blank_stripped", "A1 Kitchen Ceiling Lamp", true,
                                                   "Kitchen", "Ceiling Lamp"},
                                           X10Case{"prefix_stripped_only_once", "A1 A1 Lamp", true, "A1", "Lamp"},
                                           X10Case{"code_and_dash_stripped", "A1-Porch Light", true, "Porch", "Light"},
                                           X10Case{"code_without_separator_kept", "A1x Lamp", true, "A1x", "Lamp"},
                                           X10Case{"single_word_goes_to_ocelot", "Porch", true, "Ocelot", "Porch"},
                                           X10Case{"tabs_only_gives_an_empty_name", "", true, "Ocelot", ""},
                                           X10Case{"code_and_blank_alone_are_not_stripped", "A1 ", true, "A1", ""},
                                           X10Case{"leading_blank_gives_empty_location", " Lamp", true, "", "Lamp"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ToHost, x10_entries_map_to_their_house_letter_and_unit) {
    layout.x10["C5"] = "Garden Floods";
    layout.x10["P16"] = "Christmas Tree";
    sync({.x10 = true});
    expectName("C5", "Garden", "Floods");
    expectName("P16", "Christmas", "Tree");
    EXPECT_EQ(host->devices().size(), 2u);
}

TEST_F(ToHost, short_x10_section_does_not_name_devices_from_the_next_section) {
    layout.x10Lines = 20;
    layout.x10["A2"] = "Kitchen Island";
    layout.ir[0] = "TV Power";  // would be "B6" in a full-size section
    sync({.x10 = true});
    expectName("A2", "Kitchen", "Island");
    EXPECT_EQ(host->devices().size(), 1u);
}

TEST_F(ToHost, module_points_are_named_from_their_section_lines) {
    layout.module(1, 24, "Input ", {{1, "Front Door"}, {2, "Back Door"}, {9, "[9 Hall Siren"}, {16, "Gate"}});
    addModule(1, kSecu16, "[", {1, 9, 16});
    sync({.io = true});
    expectName("[1", "Front", "Door");
    expectName("[9", "Hall", "Siren");
    expectName("[16", "Ocelot", "Gate");
    EXPECT_EQ(device("[1")->iomisc, "1!11!0!0");
    EXPECT_EQ(device("[9")->iotype, 1);
    EXPECT_EQ(device("[2"), nullptr);  // not selected
}

TEST_F(ToHost, module_without_a_section_and_unselected_points_keep_their_names) {
    layout.module(2, 32, "Window ");
    addModule(7, kSecu16I, "]", {1});
    addModule(2, kSecu16I, "^", {3});
    addDevice("]1", "Study", "Window", "Varnel");
    addDevice("^1", "Loft", "Hatch", "Varnel");
    sync({.io = true});
    expectName("]1", "Study", "Window");
    expectName("^1", "Loft", "Hatch");
    expectName("^3", "Window", "3");
}

TEST_F(ToHost, short_module_section_leaves_points_past_its_end_unnamed) {
    layout.module(3, 3, "Relay ");
    layout.module(4, 16, "IR Zone Hall ");
    addModule(3, kRelay08, "_", {2, 5});
    sync({.io = true});
    expectName("_2", "Relay", "2");
    // Created by its creator but not named from module 4's lines.
    expectName("_5", "Rly08 Unit 3", "Relay Output 5");
}

TEST_F(ToHost, two_ir_modules_write_the_zone_file_and_the_second_wins) {
    spit(configFile("irzones.cfg"), "\"1\"\r\n");
    layout.module(4, 16, "IR Zone #", {{1, "IR Zone Living Room"}, {3, "Kitchen IR Zone Bar"}});
    layout.module(5, 3, "IR Zone #", {{1, "IR Zone Cinema"}});
    addModule(4, kSecu16IR, "");
    addModule(5, kSecu16IR, "");
    sync({.io = true});
    std::vector<std::string> expected(16, "\"\"");
    expected[0] = "\"Cinema\"";
    for (int i = 0; i < 16; ++i) expected.push_back("\"1\"");
    EXPECT_EQ(slurp(configFile("Synchronized irzones.cfg")), crlf(expected));
    EXPECT_TRUE(ctx().ir.filesPending);
    EXPECT_EQ(slurp(configFile("irzones.cfg")), "\"1\"\r\n");
}

TEST_F(ToHost, zone_names_lose_every_ir_zone_word) {
    spit(configFile("irzones.cfg"), "");
    layout.module(4, 16, "IR Zone #", {{1, "IR Zone Living Room"}, {3, "Kitchen IR Zone Bar"}, {4, "Patio"}});
    addModule(4, kSecu16IR, "");
    sync({.io = true});
    const std::string file = slurp(configFile("Synchronized irzones.cfg"));
    EXPECT_EQ(lineAt(file, 1), "\"Living Room\"");
    EXPECT_EQ(lineAt(file, 2), "\"\"");
    EXPECT_EQ(lineAt(file, 3), "\"Kitchen Bar\"");
    EXPECT_EQ(lineAt(file, 4), "\"Patio\"");
}

TEST_F(ToHost, no_live_zone_file_means_no_synchronized_one) {
    layout.module(4, 16, "IR Zone #");
    addModule(4, kSecu16IR, "");
    sync({.io = true});
    EXPECT_FALSE(std::filesystem::exists(configFile("Synchronized irzones.cfg")));
    EXPECT_FALSE(ctx().ir.filesPending);
}

class IrLabels : public ToHost {
protected:
    IrLabels() {
        ctx().ir.groups[0] = "TV";
        ctx().ir.groups[1] = "Amp";
        ctx().ir.groups[31] = "Last";
    }
    std::string labelLine(int i) { return lineAt(slurp(configFile("Synchronized irLbl.cfg")), 33 + i); }
};

TEST_F(IrLabels, labels_come_from_the_records_the_lookup_names) {
    spit(configFile("irLbl.cfg"), "\"TV\"\r\n");
    layout.ir[0] = "TV Power";
    layout.ir[2] = "TV";
    layout.ir[3] = "Mute";
    layout.ir[36] = "Amp-Cinema";
    layout.ir[37] = "TV Power";
    layout.ir[500] = "TV Input";
    ctx().ir.lookup[4] = 500;
    sync({.ir = true});

    const std::string file = slurp(configFile("Synchronized irLbl.cfg"));
    EXPECT_EQ(lineAt(file, 1), "\"TV\"");
    EXPECT_EQ(lineAt(file, 2), "\"Amp\"");
    EXPECT_EQ(lineAt(file, 32), "\"Last\"");
    EXPECT_EQ(labelLine(0), "\"Power\"");
    EXPECT_EQ(labelLine(1), "\"\"");  // "IR #1": unnamed
    EXPECT_EQ(labelLine(2), "\"TV\"");
    EXPECT_EQ(labelLine(3), "\"Mute\"");
    EXPECT_EQ(labelLine(4), "\"Input\"");
    EXPECT_EQ(labelLine(36), "\"Cinema\"");
    EXPECT_EQ(labelLine(37), "\"TV Power\"");  // another group's prefix stays
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 32 + 1008);
    EXPECT_TRUE(ctx().ir.filesPending);
    EXPECT_EQ(slurp(configFile("irLbl.cfg")), "\"TV\"\r\n");
    EXPECT_TRUE(log().empty());
}

TEST_F(IrLabels, records_missing_from_the_image_are_logged_and_left_empty) {
    spit(configFile("irLbl.cfg"), "");
    layout.irLines = 1000;
    layout.module(1, 24, "Input ");  // right after the short Infra-Red section
    sync({.ir = true});
    EXPECT_EQ(labelLine(999), "\"\"");
    EXPECT_EQ(labelLine(1000), "\"\"");
    std::vector<std::string> expected;
    for (int i = 1000; i < 1008; ++i)
        expected.push_back("Varnel: IR Record " + std::to_string(i) +
                           " not in system map image, label deleted from irlbl.cfg 0 ");
    EXPECT_EQ(log(), expected);
}

TEST_F(IrLabels, synchronized_file_takes_the_live_files_spelling) {
    spit(configFile("IRLBL.CFG"), "");
    sync({.ir = true});
    EXPECT_TRUE(std::filesystem::exists(configFile("Synchronized IRLBL.CFG")));
}

TEST_F(IrLabels, nothing_is_written_without_a_label_file_or_an_infra_red_section) {
    sync({.ir = true});
    EXPECT_FALSE(std::filesystem::exists(configFile("Synchronized irLbl.cfg")));
    spit(configFile("irLbl.cfg"), "");
    spit(project, "System Map\r\n\tLocal\r\n\t\tVariables\r\n");
    Synchronize(ctx(), true, project.string(), {.ir = true});
    EXPECT_FALSE(std::filesystem::exists(configFile("Synchronized irLbl.cfg")));
    EXPECT_FALSE(ctx().ir.filesPending);
}

TEST_F(ToHost, system_map_to_host_never_writes_the_project_file) {
    layout.vars[0] = "Hall Temperature";
    mirrorVariables('#', {0});
    sync({.variables = true, .x10 = true, .io = true, .ir = true});
    EXPECT_EQ(slurp(project), layout.text());
    EXPECT_FALSE(std::filesystem::exists(backupPathFor(project)));
}

struct StripCase {
    std::string text, prefix, result;
};

TEST(StripPrefix, removes_prefix_and_one_separator_only_from_longer_texts) {
    const std::vector<StripCase> cases{
        {"A1 Lamp", "A1", "Lamp"},    {"A1-Lamp", "A1", "Lamp"},    {"A1  Lamp", "A1", " Lamp"},
        {"A1 ", "A1", "A1 "},         {"A1 x", "A1", "x"},          {"A1", "A1", "A1"},
        {"A1xLamp", "A1", "A1xLamp"}, {"a1 Lamp", "A1", "a1 Lamp"}, {"TV Power", "", "TV Power"},
        {" Power", "", "Power"},      {"TV", "TV", "TV"},           {"[12 Gate", "[12", "Gate"},
    };
    for (const auto& c : cases) EXPECT_EQ(StripPrefix(c.text, c.prefix), c.result) << c.text << " / " << c.prefix;
}

}  // namespace
}  // namespace varnel::test
