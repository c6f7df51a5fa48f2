// The configuration window where a scenario cannot reach: a port fixed by the command line,
// a unit's row read back by Create, the IR remap page and its label file. The rest of the
// window (settings, grids, CMAX and IR_MAX) is in the window_* scenarios.
#include <gtest/gtest.h>

#include "commands/ir_files.h"
#include "devices/device_model.h"
#include "text_files.h"
#include "window_rig.h"

namespace varnel {
namespace {

using test::readFile;
using test::WindowRig;

TEST(WindowUpdate, a_port_given_on_the_command_line_is_shown_and_the_number_setting_left_alone) {
    WindowRig rig;
    rig.ctx().link.fixedDevice = "/dev/pts/7";
    rig.startAndOpen();
    EXPECT_EQ(rig.view->text("TxtComPort"), "/dev/pts/7");
    rig.view->setText("TxtPoll", "800");
    rig.view->click("OKButton");
    EXPECT_TRUE(rig.view->closed);
    EXPECT_EQ(rig.stored({"comport", "poll_interval"}), "comport=- poll_interval=800");
}

TEST(IOGrid, create_reads_the_row_the_grid_showed_for_each_unit) {
    // The IR module comes first on the bus and gets a row, so the SECU16 sits on row 1.
    test::EngineOptions options;
    options.controller.modules = {{1, sim::ModuleType::Secu16Ir}, {2, sim::ModuleType::Secu16}};
    WindowRig rig(options);
    rig.engine.startAll();
    std::array<bool, 16> first{};
    first[0] = true;
    CreateModuleDevices(rig.ctx(), 2, first, false);
    // The IR module's row comes from a mapping of its own, as a synchronisation makes it.
    CreateInput16(rig.ctx(), "z1", 1, 0);
    rig.engine.host->GetDeviceByRef(rig.engine.host->DeviceExistsRef("z1"))->set_iomisc("1!6");
    ReadDeviceSettings(rig.ctx());
    rig.open();
    ASSERT_EQ(rig.window().rowOfUnit(2), 1);
    rig.view->tick("IOPoint_19");  // row 1, point 3
    rig.view->click("ButCreate");
    const std::string letter = rig.view->text("aIOHouse_1");
    EXPECT_NE(rig.device(letter + "4"), nullptr);
    EXPECT_NE(rig.device(letter + "1"), nullptr);
    EXPECT_TRUE(pointSelected(rig.ctx(), 2, 3));
}

TEST(WindowIrPage, remaps_survive_group_changes_and_are_saved_by_update_with_those_the_file_had) {
    WindowRig rig;
    std::string labels = "Caf\xE9\r\n";  // group names in the controller's code page, then the labels
    for (int g = 1; g < 32; ++g) labels += "Group" + std::to_string(g) + "\r\n";
    for (int l = 0; l < 1008; ++l) labels += (l == 1007 ? "Last" : "L") + std::string("\r\n");
    test::writeFile(rig.configDir() / "irlbl.cfg", labels);
    test::writeFile(rig.configDir() / "irmap.cfg", "\"TV\"\r\n");
    rig.startAndOpen();
    auto& v = *rig.view;
    EXPECT_EQ(v.find("aIRDevice").items.size(), 32u);
    EXPECT_EQ(v.find("aIRDevice").items[0], "Café");
    v.choose("aIRDevice", 27);
    EXPECT_EQ(v.text("aIRLabel_35"), "1007 : Last");
    // Groups past the label table take no remaps.
    v.choose("aIRDevice", 31);
    EXPECT_FALSE(v.find("aRemap_0").enabled);
    v.choose("aIRDevice", 99);  // not a group: nothing moves
    EXPECT_EQ(rig.window().irGroupBase(), 36 * 31);

    v.choose("aIRDevice", 0);
    v.type("aRemap_2", "500");
    v.choose("aIRDevice", 1);
    v.type("aRemap_0", "7");
    v.choose("aIRDevice", 0);
    EXPECT_EQ(v.text("aRemap_2"), "500");
    EXPECT_EQ(rig.ctx().ir.map[2], "");  // not in use before Update
    // A remap in error in another group brings its group up.
    v.choose("aIRDevice", 2);
    v.type("aRemap_5", "2000");
    v.choose("aIRDevice", 0);
    v.click("OKButton");
    EXPECT_EQ(rig.shown(), "Remap to IR Loc of label 77 must be empty or a whole number from 0 to 1023\n");
    EXPECT_EQ(v.find("aIRDevice").index, 2);
    v.type("aRemap_5", "");
    rig.engine.prompts.answer = false;
    v.click("OKButton");
    EXPECT_EQ(rig.ctx().ir.map[2] + " " + std::to_string(rig.ctx().ir.lookup[2]) + " " +
                  std::to_string(rig.ctx().ir.lookup[36]),
              "500 500 7");
    EXPECT_EQ(readFile(irFilePath(rig.ctx(), kIrMapFile)).substr(0, 17), "\"TV\"\r\n\"\"\r\n\"500\"\r\n");
}

TEST(WindowIrPage, unreadable_label_file_leaves_page_and_matrices_empty) {
    WindowRig rig;
    test::writeFile(rig.configDir() / "irlbl.cfg", std::string(100'000, 'x'));  // a line over the limit
    rig.startAndOpen();
    EXPECT_FALSE(rig.window().matricesLoaded());
    EXPECT_TRUE(rig.view->find("aIRDevice").items.empty());
    rig.view->tick("Check1_5");
    rig.view->click("aCreateVariables");
    rig.view->click("OKButton");  // no closing question either
    EXPECT_TRUE(rig.engine.prompts.questions.empty());
    EXPECT_EQ(rig.ctx().devices.varsHouseCode, 0);
}

}  // namespace
}  // namespace varnel
