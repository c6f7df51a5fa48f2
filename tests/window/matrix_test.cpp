// The variables and I/O grids show the devices that exist and hand the user's
// ticks to the device creation.
#include <gtest/gtest.h>

#include "devices/device_model.h"
#include "window_rig.h"

namespace varnel {
namespace {

using test::EngineOptions;
using test::WindowRig;

void mirrorPoints(WindowRig& rig, std::int16_t unit, std::initializer_list<int> points) {
    std::array<bool, 16> ticked{};
    for (int p : points) ticked[static_cast<std::size_t>(p)] = true;
    CreateModuleDevices(rig.ctx(), unit, ticked, false);
    ReadDeviceSettings(rig.ctx());
}

EngineOptions withModules(std::map<int, sim::ModuleType> modules) {
    EngineOptions o;
    o.controller.modules = std::move(modules);
    return o;
}

TEST(VariablesGrid, ticking_and_update_creates_devices_after_yes) {
    for (const bool yes : {true, false}) {
        WindowRig rig;
        rig.startAndOpen();
        EXPECT_EQ(rig.view->text("aVariableHouseCode1"), "No House Code");
        EXPECT_EQ(rig.view->find("Check1_0").toolTip, "");
        rig.engine.prompts.answer = yes;
        rig.view->tick("Check1_5");
        EXPECT_TRUE(rig.window().variablesChanged());
        rig.view->click("OKButton");
        ASSERT_EQ(rig.engine.prompts.questions.size(), 1u);
        EXPECT_EQ(rig.engine.prompts.questions[0],
                  "Changes were made to Variables or IO Point Devices.  Should these changes be acted upon?");
        const int code = rig.ctx().devices.varsHouseCode;
        EXPECT_EQ(code != 0, yes);
        if (!yes) continue;
        EXPECT_NE(rig.device(std::string(1, static_cast<char>(code)) + "6"), nullptr);
        EXPECT_EQ(std::pair(rig.ctx().devices.varSelected[4], rig.ctx().devices.varSelected[5]),
                  std::pair(kFalse, kTrue));
    }
}

TEST(VariablesGrid, shows_existing_devices_with_their_codes) {
    WindowRig rig;
    rig.startAndOpen();
    rig.view->tick("Check1_5");
    rig.view->tick("Check1_64");
    rig.view->click("aCreateVariables");
    EXPECT_FALSE(rig.window().variablesChanged());
    const int code = rig.ctx().devices.varsHouseCode;
    ASSERT_NE(code, 0);
    const std::string first(1, static_cast<char>(code)), second(1, static_cast<char>(code + 1));
    EXPECT_EQ(rig.view->text("aVariableHouseCode1"), "House Code = " + first);
    EXPECT_EQ(rig.view->text("aVariableHouseCode2"), "House Code = " + second);
    rig.view->click("CancelButton");
    EXPECT_TRUE(rig.engine.prompts.questions.empty());

    // A device dropped by the host shows unticked and is no longer selected.
    rig.engine.host->DeleteDevice(rig.device(first + "6")->ref);
    rig.ctx().devices.varSelected[7] = kTrue;  // selected, but never created
    rig.open();
    const auto& v = *rig.view;
    EXPECT_TRUE(v.checked("Check1_64") && !v.checked("Check1_5"));
    EXPECT_EQ(v.find("Check1_64").toolTip + "|" + v.find("Check1_5").toolTip,
              "Variable 64:" + second + "1 Ocelot Variable 64|Variable 5");
    EXPECT_EQ(std::pair(rig.ctx().devices.varSelected[5], rig.ctx().devices.varSelected[7]), std::pair(kFalse, kFalse));
}

TEST(IOGrid, rows_show_mapped_modules_with_tags_and_relay_width) {
    WindowRig rig;
    rig.engine.startAll();
    rig.open();
    for (const char* c : {"Line1", "Label8_0", "Label2_25", "Label9_1", "IOPoint_0", "IOPoint_255", "aInvert_0"})
        EXPECT_FALSE(rig.view->find(c).visible) << "nothing mapped: " << c;
    rig.view->click("CancelButton");
    mirrorPoints(rig, 1, {0, 9});
    mirrorPoints(rig, 3, {2});
    rig.open();
    const auto& v = *rig.view;
    const std::string house0 = rig.view->text("aIOHouse_0");
    EXPECT_FALSE(house0.empty());
    for (const auto& [row, tag] : {std::pair{0, " 16"}, std::pair{1, "RLY"}})
        EXPECT_EQ(v.text(controlName("aIOUnit", row + 32)) + v.text(controlName("aIOUnit", row + 16)) +
                      v.text(controlName("aIOUnit", row)),
                  tag)
            << row;
    EXPECT_EQ(std::to_string(v.checked("IOPoint_0")) + std::to_string(v.checked("IOPoint_1")) +
                  std::to_string(v.checked("IOPoint_9")),
              "101");
    // Tool tips number the points as the heads do, from 1.
    EXPECT_EQ(v.find("IOPoint_9").toolTip.rfind("IO Point 10:" + house0 + "10 Secu16 Unit 1 Relay Output ", 0), 0u);
    EXPECT_EQ(v.find("IOPoint_1").toolTip, "IO Point 2");
    int relayShown = 0;
    for (int p = 0; p < 16; ++p) relayShown += v.find(controlName("IOPoint", 16 + p)).visible ? 1 : 0;
    EXPECT_EQ(relayShown, 8);
    for (int r = 2; r < 16; ++r) {
        EXPECT_FALSE(v.find(controlName("IOPoint", 16 * r)).visible) << r;
        EXPECT_FALSE(v.find(controlName("aInvert", r)).enabled) << r;
    }
    EXPECT_TRUE(v.find("Line1").visible);
}

TEST(IOGrid, create_reads_the_row_the_grid_showed_for_each_unit) {
    // The IR module comes first on the bus and gets a row, so the SECU16 sits on row 1.
    WindowRig rig(withModules({{1, sim::ModuleType::Secu16Ir}, {2, sim::ModuleType::Secu16}}));
    rig.engine.startAll();
    mirrorPoints(rig, 2, {0});
    // The IR module's row comes from a mapping of its own, as a synchronisation makes it.
    CreateInput16(rig.ctx(), "z1", 1, 0);
    rig.engine.host->GetDeviceByRef(rig.engine.host->DeviceExistsRef("z1"))->set_iomisc("1!6");
    ReadDeviceSettings(rig.ctx());
    rig.open();
    ASSERT_EQ(rig.window().rowOfUnit(1), 0);
    ASSERT_EQ(rig.window().rowOfUnit(2), 1);
    rig.view->tick("IOPoint_19");  // row 1, point 3
    rig.view->click("ButCreate");
    const std::string letter = rig.view->text("aIOHouse_1");
    EXPECT_NE(rig.device(letter + "4"), nullptr);
    EXPECT_NE(rig.device(letter + "1"), nullptr);
    EXPECT_TRUE(pointSelected(rig.ctx(), 2, 3));
}

TEST(IOGrid, a_seventeenth_module_gets_no_row_and_keeps_its_devices) {
    std::map<int, sim::ModuleType> modules;
    for (int a = 1; a <= 17; ++a) modules[a] = sim::ModuleType::Secu16;
    WindowRig rig(withModules(modules));
    rig.engine.startAll();
    for (std::int16_t u = 1; u <= 16; ++u) mirrorPoints(rig, u, {0});
    mirrorPoints(rig, 17, {0, 1, 2, 3});
    const auto unit17 = [&] {
        int n = 0;
        for (const auto& d : rig.engine.host->devices()) n += d.location == "Secu16 Unit 17" ? 1 : 0;
        return n;
    };
    rig.open();
    EXPECT_EQ(rig.window().rowOfUnit(16), 15);
    EXPECT_EQ(rig.window().rowOfUnit(17), -1);
    EXPECT_TRUE(rig.view->checked("IOPoint_240"));
    rig.view->click("ButCreate");
    EXPECT_EQ(unit17(), 4);
    rig.view->tick("IOPoint_5");
    rig.engine.prompts.answer = true;
    rig.view->click("CancelButton");  // Yes to the closing question
    ASSERT_EQ(rig.engine.prompts.questions.size(), 1u);
    EXPECT_EQ(unit17(), 4);
    EXPECT_TRUE(pointSelected(rig.ctx(), 1, 5));
    for (int p = 0; p < 4; ++p) EXPECT_TRUE(pointSelected(rig.ctx(), 17, p)) << p;
}

TEST(IOGrid, a_first_create_shows_the_rows_it_made) {
    WindowRig rig(withModules({{1, sim::ModuleType::Secu16}, {2, sim::ModuleType::Relay08}}));
    rig.startAndOpen();
    auto& v = *rig.view;
    ASSERT_FALSE(v.find("IOPoint_0").visible);
    v.click("ButCreate");
    EXPECT_EQ(rig.window().rowOfUnit(2), 1);
    for (const char* c : {"IOPoint_0", "IOPoint_16", "Line1", "Label2_10", "aInvert_1"})
        EXPECT_TRUE(v.find(c).visible) << c;
    EXPECT_FALSE(v.find("IOPoint_24").visible);  // a RELAY-08 has eight points
    EXPECT_TRUE(v.checked("IOPoint_0"));
    EXPECT_EQ(v.find("IOPoint_0").toolTip.rfind("IO Point 1:" + v.text("aIOHouse_0") + "1 ", 0), 0u);
    // The new row takes ticks at once.
    v.tick("IOPoint_3");
    v.click("ButCreate");
    EXPECT_NE(rig.device(v.text("aIOHouse_0") + "4"), nullptr);
}

TEST(IOGrid, create_without_io_started_warns_about_the_host_options) {
    WindowRig rig;
    rig.engine.registerPlugin();
    rig.engine.plugin->InitX10(1);
    rig.engine.run(1000);
    rig.open();
    rig.view->click("ButCreate");
    ASSERT_FALSE(rig.engine.prompts.shown.empty());
    EXPECT_EQ(rig.engine.prompts.shown.back().text,
              "To use variables and I/O inputs/outputs, make sure the Ocelot is added as an I/O device in the "
              "host options");
    EXPECT_EQ(rig.engine.prompts.shown.back().style, PromptStyle::Exclamation);
}

TEST(CreateButtons, the_wait_cursor_is_on_while_devices_are_made_and_off_after) {
    for (const auto& [tick, button] :
         {std::pair{"Check1_5", "aCreateVariables"}, std::pair{"IOPoint_3", "ButCreate"}}) {
        SCOPED_TRACE(button);
        WindowRig rig;
        rig.engine.startAll();
        mirrorPoints(rig, 1, {0});
        rig.open();
        rig.view->devicesNow = [&rig] { return rig.engine.host->devices().size(); };
        rig.view->tick(tick);
        rig.view->click(button);
        const auto& trail = rig.view->busyTrail;
        ASSERT_FALSE(trail.empty());
        EXPECT_FALSE(trail.back().first);
        bool madeWhileBusy = false;
        for (std::size_t i = 0; i + 1 < trail.size(); i += 2) {
            EXPECT_TRUE(trail[i].first);
            EXPECT_FALSE(trail[i + 1].first);
            madeWhileBusy = madeWhileBusy || trail[i + 1].second > trail[i].second;
        }
        EXPECT_TRUE(madeWhileBusy);
    }
}

}  // namespace
}  // namespace varnel
