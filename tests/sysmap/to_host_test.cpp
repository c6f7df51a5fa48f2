// System Map to host: device names from the project file, synchronized IR files.
#include "sysmap/to_host.h"

#include <tuple>

#include "project_builder.h"
#include "sync_fixture.h"
#include "sysmap/synchronize.h"

namespace varnel::test {
namespace {

class ToHost : public SyncFixture {
protected:
    void sync(const SyncIncludes& includes) {
        writeFile(project, layout.text());
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

TEST_F(ToHost, mirrored_variables_without_a_device_are_created_and_existing_devices_keep_all_but_their_names) {
    layout.vars[0] = "Hall Temperature";
    layout.vars[1] = "Outdoor Temperature";
    layout.x10["B4"] = "Hall Light";
    layout.vars[63] = "Ocelot Heartbeat";
    layout.vars[64] = "Cinema Lights";  // variables 64 to 127 take the next house letter
    layout.vars[127] = "Last Keypad Code";
    mirrorVariables('#', {0, 63, 64, 127});
    addDevice("#2", "Garage", "Keep Me", "Varnel");
    addDevice("B4", "Ocelot", "Lamp", "CM11A");
    host->GetDeviceByRef(host->DeviceExistsRef("B4"))->set_Status(2);
    sync({.variables = true, .x10 = true});

    const auto* d = device("#1");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->location + "|" + d->name + "|" + d->interface_ + "|" + d->dev_type_string,
              "Hall|Temperature|Varnel|Interface Variable");
    EXPECT_EQ(d->iotype, 3);
    EXPECT_EQ(d->Status, 17);
    // #2 is not mirrored: the System Map's name is not taken.
    EXPECT_EQ(named({"#2", "B4", "#64", "$1", "$64"}),
              "#2=Garage|Keep Me B4=Hall|Light #64=Ocelot|Heartbeat $1=Cinema|Lights $64=Last|Keypad Code ");
    EXPECT_EQ(device("B4")->interface_ + std::to_string(device("B4")->Status), "CM11A2");
    EXPECT_EQ(host->devices().size(), 6u);
}

TEST_F(ToHost, x10_entry_text_becomes_location_and_name_of_its_house_letter_and_unit) {
    const std::tuple<std::string, std::string, std::string> cases[] = {
        // entry text, location, name
        {"A1 Kitchen Ceiling Lamp", "Kitchen", "Ceiling Lamp"},  // code and blank stripped
        {"A1 A1 Lamp", "A1", "Lamp"},                            // only once
        {"A1x Lamp", "A1x", "Lamp"},                             // code without separator kept
        {"Porch", "Ocelot", "Porch"},
        {"A1 ", "A1", ""},  // code and blank alone are not stripped
    };
    for (const auto& [entry, location, name] : cases) {
        layout.x10["A1"] = entry;
        sync({.x10 = true});
        expectName("A1", location, name);
        host->DeleteDevice(host->DeviceExistsRef("A1"));
    }
    layout.x10["A1"] = "X-10 House A Unit 1";  // unnamed: skipped
    layout.x10["C5"] = "Garden Floods";
    layout.x10["P16"] = "Christmas Tree";
    sync({.x10 = true});
    EXPECT_EQ(device("A1"), nullptr);
    expectName("C5", "Garden", "Floods");
    expectName("P16", "Christmas", "Tree");
    EXPECT_EQ(host->devices().size(), 2u);
}

TEST_F(ToHost, a_stray_cr_never_reaches_a_name_and_a_later_sync_back_writes_every_entry) {
    // A line ended CR CR LF: the first CR would end up in the host's name, and the name,
    // written back, would break the project file's line.
    layout.x10["A1"] = "Porch Lamp1\r";
    layout.x10["A2"] = "Porch Lamp2";
    sync({.x10 = true});
    expectName("A1", "Porch", "Lamp1");
    const SyncLog back = Synchronize(ctx(), false, project.string(), {.x10 = true});
    EXPECT_TRUE(back.failedSteps.empty());
    EXPECT_EQ(lineAt(readFile(project), layout.x10Header() + 1), "\t\t\tA1 Porch Lamp1");
    EXPECT_EQ(lineAt(readFile(project), layout.x10Header() + 2), "\t\t\tA2 Porch Lamp2");
}

TEST_F(ToHost, short_x10_section_does_not_name_devices_from_the_next_section) {
    layout.x10Lines = 20;
    layout.x10["A2"] = "Kitchen Island";
    layout.ir[0] = "TV Power";  // would be "B6" in a full-size section
    sync({.x10 = true});
    expectName("A2", "Kitchen", "Island");
    EXPECT_EQ(host->devices().size(), 1u);
}

TEST_F(ToHost, module_points_are_named_from_their_own_section_lines_only) {
    layout.module(1, 24, "Input ", {{1, "Front Door"}, {2, "Back Door"}, {9, "[9 Hall Siren"}, {16, "Gate"}});
    layout.module(2, 32, "Window ");
    layout.module(3, 3, "Relay ");
    layout.module(4, 16, "IR Zone Hall ");
    addModule(1, kSecu16, "[", {1, 9, 16});
    addModule(7, kSecu16I, "]", {1});  // no section of its own
    addModule(2, kSecu16I, "^", {3});
    addModule(3, kRelay08, "_", {2, 5});
    addDevice("]1", "Study", "Window", "Varnel");
    addDevice("^1", "Loft", "Hatch", "Varnel");  // not selected
    sync({.io = true});
    // [2 and ^1 are not selected; _5, past the short section, is created by its creator
    // but not named from module 4's lines.
    EXPECT_EQ(named({"[1", "[9", "[16", "[2", "]1", "^1", "^3", "_2", "_5"}),
              "[1=Front|Door [9=Hall|Siren [16=Ocelot|Gate [2=none ]1=Study|Window ^1=Loft|Hatch ^3=Window|3 "
              "_2=Relay|2 _5=Rly08 Unit 3|Relay Output 5 ");
    EXPECT_EQ(device("[1")->iomisc, "1!11!0!0");
    EXPECT_EQ(device("[9")->iotype, 1);
}

TEST_F(ToHost, zone_names_lose_every_ir_zone_word_and_need_a_live_zone_file) {
    layout.module(4, 16, "IR Zone #", {{1, "IR Zone Living Room"}, {3, "Kitchen IR Zone Bar"}, {4, "Patio"}});
    addModule(4, kSecu16IR, "");
    sync({.io = true});
    EXPECT_FALSE(std::filesystem::exists(configFile("Synchronized irzones.cfg"))) << "no live zone file, no copy";
    EXPECT_FALSE(ctx().ir.filesPending);
    writeFile(configFile("irzones.cfg"), "\"1\"\r\n");
    sync({.io = true});
    // Unnamed zones go empty; what follows the sixteen zones comes from the live file.
    std::vector<std::string> zones(32, "\"1\"");
    std::fill(zones.begin(), zones.begin() + 16, "\"\"");
    zones[0] = "\"Living Room\"", zones[2] = "\"Kitchen Bar\"", zones[3] = "\"Patio\"";
    EXPECT_EQ(readFile(configFile("Synchronized irzones.cfg")), crlf(zones));
    EXPECT_TRUE(ctx().ir.filesPending);
    EXPECT_EQ(readFile(configFile("irzones.cfg")), "\"1\"\r\n");
}

class IrLabels : public ToHost {
protected:
    IrLabels() {
        ctx().ir.groups[0] = "TV";
        ctx().ir.groups[1] = "Amp";
        ctx().ir.groups[31] = "Last";
    }
    std::string labelLine(int i) { return lineAt(readFile(configFile("Synchronized irLbl.cfg")), 33 + i); }
};

TEST_F(IrLabels, labels_come_from_the_records_the_lookup_names) {
    writeFile(configFile("irLbl.cfg"), "\"TV\"\r\n");
    layout.ir[0] = "TV Power";
    layout.ir[2] = "TV";
    layout.ir[3] = "Mute";
    layout.ir[36] = "Amp-Cinema";
    layout.ir[37] = "TV Power";
    layout.ir[500] = "TV Input";
    ctx().ir.lookup[4] = 500;
    sync({.ir = true});

    const std::string file = readFile(configFile("Synchronized irLbl.cfg"));
    std::string lines;
    for (int n : {1, 2, 32, 33 + 0, 33 + 1, 33 + 2, 33 + 3, 33 + 4, 33 + 36, 33 + 37}) lines += lineAt(file, n) + " ";
    // "IR #1" is unnamed; another group's prefix stays.
    EXPECT_EQ(lines, "\"TV\" \"Amp\" \"Last\" \"Power\" \"\" \"TV\" \"Mute\" \"Input\" \"Cinema\" \"TV Power\" ");
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 32 + 1008);
    EXPECT_TRUE(ctx().ir.filesPending);
    EXPECT_EQ(readFile(configFile("irLbl.cfg")), "\"TV\"\r\n");
    EXPECT_TRUE(log().empty());
}

TEST_F(IrLabels, nothing_is_written_without_a_label_file_or_section_and_the_copy_takes_the_live_spelling) {
    sync({.ir = true});
    EXPECT_FALSE(std::filesystem::exists(configFile("Synchronized irLbl.cfg")));
    writeFile(configFile("irLbl.cfg"), "");
    writeFile(project, "System Map\r\n\tLocal\r\n\t\tVariables\r\n");
    Synchronize(ctx(), true, project.string(), {.ir = true});
    EXPECT_FALSE(std::filesystem::exists(configFile("Synchronized irLbl.cfg")));
    EXPECT_FALSE(ctx().ir.filesPending);
    std::filesystem::rename(configFile("irLbl.cfg"), configFile("IRLBL.CFG"));
    sync({.ir = true});
    EXPECT_TRUE(std::filesystem::exists(configFile("Synchronized IRLBL.CFG"))) << "the live file's spelling";
}

struct StripCase {
    std::string text, prefix, result;
};

}  // namespace
}  // namespace varnel::test
