// Opening the window fills it from the settings and the plug-in; Update stores,
// Cancel does not; the interface name and the IR remap page.
#include <gtest/gtest.h>

#include <fstream>

#include "commands/ir_files.h"
#include "support/settings.h"
#include "window_rig.h"

namespace varnel {
namespace {

using test::WindowRig;

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeLabels(WindowRig& rig, const std::vector<std::string>& labels) {
    std::filesystem::create_directories(rig.configDir());
    std::ofstream out(rig.configDir() / "irlbl.cfg", std::ios::binary);
    for (int g = 0; g < 32; ++g) out << "Group" << g << "\r\n";
    for (const auto& l : labels) out << l << "\r\n";
}

TEST(WindowLoad, without_stored_settings_shows_the_defaults) {
    WindowRig rig;
    rig.startAndOpen();
    auto& v = *rig.view;
    EXPECT_EQ(v.text("TxtComPort"), "1");
    const std::pair<const char*, bool> boxes[] = {
        {"aIncludeVariables", false}, {"aIncludeX10", false},  {"aIncludeIO", false},    {"aIncludeIR", false},
        {"aIncludeMessages", false},  {"aSyncMaster_0", true}, {"aSyncMaster_1", false}, {"aInterfaceChange_0", true},
        {"showInMenu", true},         {"ChkLogErrors", true},  {"ChkLogComms", false},   {"PortOpen", true},
    };
    for (const auto& [box, on] : boxes) EXPECT_EQ(v.checked(box), on) << box;
    EXPECT_EQ(v.text("Disconnect"), "Disconnect from Ocelot");
    EXPECT_EQ(v.text("lblver").rfind("Version ", 0), 0u);
    EXPECT_EQ(v.raised, 1);
    EXPECT_TRUE(rig.ctx().window.open);
    EXPECT_TRUE(rig.window().matricesLoaded());
}

TEST(WindowLoad, stored_values_reach_their_controls) {
    WindowRig rig;
    rig.engine.startAll();
    struct Case {
        const char* key;
        const char* value;
        const char* control;
        bool checked;
    };
    const Case cases[] = {
        {"SyncMaster", "1", "aSyncMaster_1", true},
        {"SyncMaster", "2", "aSyncMaster_0", true},
        {"InterfaceName", "1", "aInterfaceChange_1", true},
        {"X10Xmit", "1", "aX10Xmit", true},
        {"invert", "5", "ChkInvert", true},
        {"showInMenu", "0", "showInMenu", false},
        {"showInMenu", "2", "showInMenu", false},  // start-up registers the menu for "1" only
        {"IncludeIR", "1", "aIncludeIR", true},
        {"Recognition", "1", "aIRRecognitionForward", true},
    };
    for (const auto& c : cases) {
        WriteSetting(rig.ctx(), c.key, c.value);
        rig.open();
        EXPECT_EQ(rig.view->checked(c.control), c.checked) << c.key << "=" << c.value;
        rig.view->click("CancelButton");
    }
    WriteSetting(rig.ctx(), "poll_interval", "  750 ");
    rig.open();
    EXPECT_EQ(rig.view->text("TxtPoll"), "750");
}

TEST(WindowLoad, unit_list_names_every_module_by_its_type) {
    WindowRig rig;
    rig.startAndOpen();
    const std::vector<std::string> expected{"Unit 0 Ocelot/CPU-XA/Leopard", "Unit 1 SECU16", "Unit 2 SECU16I",
                                            "Unit 3 RELAY-08", "Unit 4 SECU16IR"};
    EXPECT_EQ(rig.view->find("List1").items, expected);
}

TEST(WindowUpdate, stores_settings_and_takes_them_into_use) {
    WindowRig rig;
    rig.startAndOpen();
    auto& v = *rig.view;
    v.setText("TxtComPort", " 3 ");
    v.setText("TxtPoll", "0900");
    v.setChecked("ChkLogComms", true);
    v.setChecked("aX10Xmit", true);
    v.setChecked("aSyncMaster_1", true);
    v.setChecked("aSyncMaster_0", false);
    v.setText("aCMAXexe", "/opt/cmax/run");
    v.click("OKButton");
    auto& ctx = rig.ctx();
    EXPECT_EQ(ctx.link.comport, 3);
    EXPECT_EQ(ctx.timers.pollInterval, "900");
    EXPECT_EQ(ctx.switches.logComms, 1);
    EXPECT_EQ(ctx.switches.x10Xmit, 1);
    const std::pair<const char*, const char*> stored[] = {
        {"comport", "3"},    {"poll_interval", "900"},      {"log_comms", "1"},  {"X10Xmit", "1"},
        {"SyncMaster", "1"}, {"CMAXFile", "/opt/cmax/run"}, {"showInMenu", "1"}, {"IncludeIO", "0"}};
    for (const auto& [key, value] : stored) EXPECT_EQ(ReadSetting(ctx, key, "absent"), value) << key;
    EXPECT_TRUE(v.closed);
    EXPECT_FALSE(ctx.window.open);
}

TEST(WindowUpdate, a_field_in_error_stores_nothing_and_keeps_the_window_open_with_the_edits) {
    struct Case {
        const char* control;
        std::string text;
        const char* named;  // the start of the message
    };
    const Case cases[] = {
        {"TxtComPort", "99999999", "Com port must be"},
        {"TxtComPort", "COM3 \xC3\x9C\xE6\x97\xA5", "Com port must be"},
        {"TxtComPort", "0", "Com port must be"},
        {"TxtPoll", "1", "Poll interval must be"},
        {"TxtPoll", "0", "Poll interval must be"},
        {"TxtPoll", "fast", "Poll interval must be"},
        {"TxtPoll", std::string(10'000, '5'), "Poll interval must be"},
        {"aRemap_3", "5\n6", "Remap to IR Loc of label 3 must be"},
        {"aRemap_3", "7\"8", "Remap to IR Loc of label 3 must be"},
        {"aRemap_3", "-5", "Remap to IR Loc of label 3 must be"},
        {"aRemap_3", "99999999", "Remap to IR Loc of label 3 must be"},
        {"aRemap_3", std::string(10'000, '1'), "Remap to IR Loc of label 3 must be"},
    };
    WindowRig rig;
    rig.startAndOpen();
    auto& ctx = rig.ctx();
    const auto irmap = irFilePath(ctx, kIrMapFile);
    for (const auto& c : cases) {
        auto& v = *rig.view;
        rig.engine.prompts.shown.clear();
        v.setChecked("aX10Xmit", true);
        v.type("aRemap_0", "12");
        v.type(c.control, c.text);
        v.click("OKButton");
        ASSERT_EQ(rig.engine.prompts.shown.size(), 1u) << c.text.substr(0, 20);
        EXPECT_EQ(rig.engine.prompts.shown[0].text.rfind(c.named, 0), 0u) << rig.engine.prompts.shown[0].text;
        EXPECT_FALSE(v.closed);
        EXPECT_TRUE(ctx.window.open);
        EXPECT_EQ(v.text(c.control), c.text);
        EXPECT_TRUE(v.checked("aX10Xmit"));
        for (const char* key : {"comport", "poll_interval", "X10Xmit", "showInMenu"})
            EXPECT_EQ(ReadSetting(ctx, key, "absent"), "absent") << key;
        EXPECT_EQ(ctx.switches.x10Xmit, 0);
        EXPECT_EQ(ctx.link.comport, 1);
        EXPECT_FALSE(std::filesystem::exists(irmap));
        EXPECT_EQ(ctx.ir.map[0], "");
        v.click("CancelButton");
        rig.open();
    }
    // Put right, the same edits are stored whole.
    auto& v = *rig.view;
    v.setChecked("aX10Xmit", true);
    v.type("aRemap_3", " 44 ");
    v.click("OKButton");
    EXPECT_TRUE(v.closed);
    EXPECT_EQ(ReadSetting(ctx, "X10Xmit", "absent"), "1");
    EXPECT_EQ(ctx.ir.map[3], "44");
    EXPECT_EQ(readFile(irmap).substr(0, 18), "\"\"\r\n\"\"\r\n\"\"\r\n\"44\"\r\n");
}

TEST(WindowUpdate, a_remap_in_error_in_another_group_brings_its_group_up) {
    WindowRig rig;
    writeLabels(rig, std::vector<std::string>(1008, "L"));
    rig.startAndOpen();
    auto& v = *rig.view;
    v.choose("aIRDevice", 2);
    v.type("aRemap_5", "2000");
    v.choose("aIRDevice", 0);
    v.click("OKButton");
    ASSERT_EQ(rig.engine.prompts.shown.size(), 1u);
    EXPECT_EQ(rig.engine.prompts.shown[0].text,
              "Remap to IR Loc of label 77 must be empty or a whole number from 0 to 1023");
    EXPECT_EQ(rig.window().irGroupBase(), 72);
    EXPECT_EQ(v.find("aIRDevice").index, 2);
    EXPECT_EQ(v.text("aRemap_5"), "2000");
}

TEST(WindowUpdate, a_remap_the_file_had_is_kept_as_it_was) {
    WindowRig rig;
    std::filesystem::create_directories(rig.configDir());
    std::ofstream(rig.configDir() / "irmap.cfg", std::ios::binary) << "\"TV\"\r\n";
    rig.startAndOpen();
    rig.view->type("aRemap_1", "9");
    rig.view->click("OKButton");
    EXPECT_TRUE(rig.engine.prompts.shown.empty());
    EXPECT_EQ(readFile(rig.configDir() / "irmap.cfg").substr(0, 11), "\"TV\"\r\n\"9\"\r\n");
}

TEST(WindowUpdate, a_port_given_on_the_command_line_is_shown_and_the_number_setting_left_alone) {
    WindowRig rig;
    rig.ctx().link.fixedDevice = "/dev/pts/7";
    rig.startAndOpen();
    auto& v = *rig.view;
    EXPECT_EQ(v.text("TxtComPort"), "/dev/pts/7");
    EXPECT_FALSE(v.find("TxtComPort").enabled);
    v.setText("TxtPoll", "800");
    v.click("OKButton");
    EXPECT_TRUE(v.closed);
    EXPECT_EQ(ReadSetting(rig.ctx(), "comport", "absent"), "absent");
    EXPECT_EQ(ReadSetting(rig.ctx(), "poll_interval", "absent"), "800");
}

// The window shows the poll interval the plug-in runs at, so OK with nothing
// changed leaves the variable timer as it is.
TEST(WindowUpdate, ok_without_a_stored_poll_interval_keeps_the_running_interval) {
    WindowRig rig;
    rig.startAndOpen();
    const int running = rig.ctx().timers.timer2->interval();
    rig.view->click("OKButton");
    rig.engine.run(5000);
    EXPECT_EQ(rig.ctx().timers.timer2->interval(), running);
}

TEST(WindowUpdate, cancel_stores_nothing) {
    WindowRig rig;
    rig.startAndOpen();
    rig.view->setText("TxtPoll", "900");
    rig.view->setChecked("aX10Xmit", true);
    rig.view->click("CancelButton");
    EXPECT_EQ(ReadSetting(rig.ctx(), "poll_interval", "absent"), "absent");
    EXPECT_EQ(ReadSetting(rig.ctx(), "X10Xmit", "absent"), "absent");
    EXPECT_EQ(rig.ctx().switches.x10Xmit, 0);
    EXPECT_TRUE(rig.view->closed);
}

TEST(WindowUpdate, interface_change_rewrites_only_devices_of_the_old_name) {
    WindowRig rig;
    rig.startAndOpen();
    auto& hs = *rig.engine.host;
    struct Case {
        const char* code;
        const char* interface_;
        const char* after;
    };
    const Case cases[] = {
        {"q1", "Applied Digital Ocelot", "Varnel"},
        {"q2", "APPLIED digital OCELOT", "Varnel"},
        {"q3", "Varnel", "Varnel"},
        {"q4", "Other Plugin", "Other Plugin"},
        {"q5", "", ""},
    };
    for (const auto& c : cases) {
        auto dev = hs.GetDeviceByRef(hs.NewDeviceRef(c.code));
        dev->set_hc(std::string(1, c.code[0]));
        dev->set_dc(c.code + 1);
        dev->set_interface(c.interface_);
        dev->set_misc(0);
    }
    rig.view->setChecked("aInterfaceChange_1", true);
    rig.view->setChecked("aInterfaceChange_0", false);
    rig.view->click("OKButton");
    for (const auto& c : cases) {
        const auto* d = rig.device(c.code);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->interface_, c.after) << c.code;
        EXPECT_EQ(d->misc, std::string(c.after) == "Varnel" && std::string(c.interface_) != "Varnel" ? 32768 : 0)
            << c.code;
    }
    EXPECT_EQ(rig.ctx().devices.interfaceName, "Varnel");
    EXPECT_EQ(ReadSetting(rig.ctx(), "InterfaceName", ""), "1");
}

TEST(WindowUpdate, keeping_the_interface_choice_changes_no_device) {
    WindowRig rig;
    rig.startAndOpen();
    auto& hs = *rig.engine.host;
    auto dev = hs.GetDeviceByRef(hs.NewDeviceRef("x"));
    dev->set_hc("q");
    dev->set_dc("1");
    dev->set_interface("Varnel");
    rig.view->click("OKButton");
    EXPECT_EQ(rig.device("q1")->interface_, "Varnel");
    EXPECT_EQ(ReadSetting(rig.ctx(), "InterfaceName", "absent"), "absent");
}

TEST(WindowUpdate, cancel_after_a_remap_edit_asks_nothing_and_stores_nothing) {
    WindowRig rig;
    rig.startAndOpen();
    rig.view->type("aRemap_2", "44");
    rig.view->click("CancelButton");
    EXPECT_TRUE(rig.engine.prompts.questions.empty());
    EXPECT_EQ(rig.ctx().ir.map[2], "");
    EXPECT_FALSE(std::filesystem::exists(irFilePath(rig.ctx(), kIrMapFile)));
}

// A click made while a handler of the window waits (a reconnect takes seconds) runs
// once the handler is through, in the order the clicks came.
TEST(WindowClicks, clicks_during_a_handler_run_after_it_in_order) {
    WindowRig rig;
    rig.startAndOpen();
    auto& v = *rig.view;
    v.click("Disconnect");
    rig.engine.run(400);
    auto during = rig.engine.loop.createTimer();
    during->setInterval(300);
    int fired = 0;
    during->onTick = [&] {
        during->setEnabled(false);
        ++fired;
        v.tick("Check1_5");
        v.click("OKButton");
        EXPECT_FALSE(v.closed);  // held: the reconnect is still running
    };
    during->setEnabled(true);
    rig.engine.prompts.answer = true;
    v.click("Disconnect");  // reconnect: waits for the controller
    ASSERT_EQ(fired, 1);
    EXPECT_TRUE(v.closed);
    ASSERT_EQ(rig.engine.prompts.questions.size(), 1u);
    EXPECT_NE(rig.ctx().devices.varsHouseCode, 0);
    EXPECT_EQ(rig.ctx().devices.varSelected[5], kTrue);
}

TEST(WindowClicks, a_click_while_the_line_is_busy_runs_once_it_is_free) {
    WindowRig rig;
    rig.startAndOpen();
    rig.ctx().gate.exchangeDepth = 1;  // as while a command waits for its reply
    rig.view->tick("Check1_5");
    EXPECT_FALSE(rig.window().variablesChanged());
    EXPECT_EQ(rig.window().heldClicks(), 1u);
    rig.ctx().gate.exchangeDepth = 0;
    rig.engine.run(100);
    EXPECT_TRUE(rig.window().variablesChanged());
    EXPECT_EQ(rig.window().heldClicks(), 0u);
}

TEST(WindowButtons, leopard_button_creates_the_screen_device_once) {
    WindowRig rig;
    rig.startAndOpen();
    rig.view->click("Command1");
    rig.view->click("Command1");
    int screens = 0;
    for (const auto& d : rig.engine.host->devices()) screens += d.iomisc == "leopard" ? 1 : 0;
    EXPECT_EQ(screens, 1);
    ASSERT_FALSE(rig.engine.prompts.shown.empty());
    EXPECT_EQ(rig.engine.prompts.shown.back().text, "Leopard device is already created");
}

TEST(WindowButtons, set_clock_sends_the_time_to_the_controller) {
    WindowRig rig;
    rig.startAndOpen();
    // Keep the polls quiet: on virtual time each retry would meet one holding the busy flag.
    rig.ctx().timers.timer2->setEnabled(false);
    const auto before = rig.engine.controller.countOf(sim::FrameKind::Long, 0x3D);
    rig.view->click("aClock");
    rig.engine.run(2500);
    EXPECT_EQ(rig.engine.controller.countOf(sim::FrameKind::Long, 0x3D), before + 1);
}

TEST(WindowIrPage, captions_take_nineteen_characters) {
    WindowRig rig;
    std::vector<std::string> labels(1008);
    labels[0] = "Power";
    labels[7] = "A label much longer than the space";
    labels[1007] = "Last";
    writeLabels(rig, labels);
    rig.startAndOpen();
    auto& v = *rig.view;
    EXPECT_EQ(v.text("aIRLabel_0"), "0 : Power");
    EXPECT_EQ(v.text("aIRLabel_7"), "7 : A label much lo");
    EXPECT_EQ(v.find("aIRDevice").items.size(), 32u);
    EXPECT_EQ(v.find("aIRDevice").items[3], "Group3");
    v.choose("aIRDevice", 27);
    EXPECT_EQ(v.text("aIRLabel_35"), "1007 : Last");
    EXPECT_TRUE(v.find("aRemap_35").enabled);
    // Groups past the label table show their numbers but take no remaps.
    v.choose("aIRDevice", 31);
    EXPECT_EQ(v.text("aIRLabel_0"), "1116 : ");
    EXPECT_FALSE(v.find("aRemap_0").enabled);
    v.type("aRemap_0", "5");
    v.choose("aIRDevice", 99);  // not a group: nothing moves
    EXPECT_EQ(rig.window().irGroupBase(), 36 * 31);
    EXPECT_EQ(rig.window().workingMap().size(), 1008u);
}

TEST(WindowIrPage, names_from_the_windows_code_page_label_file_show_as_utf8) {
    WindowRig rig;
    std::filesystem::create_directories(rig.configDir());
    std::ofstream(rig.configDir() / "irlbl.cfg", std::ios::binary) << "Caf\xE9\r\n"
                                                                   << std::string(31, '\n') << "\xC9t\xE9 \x80\r\n"
                                                                   << std::string(30, '\xE9') << "\r\n";
    rig.startAndOpen();
    auto& v = *rig.view;
    EXPECT_EQ(v.find("aIRDevice").items[0], "Caf\xC3\xA9");
    EXPECT_EQ(v.text("aIRLabel_0"), "0 : \xC3\x89t\xC3\xA9 \xE2\x82\xAC");
    std::string fifteen;
    for (int i = 0; i < 15; ++i) fifteen += "\xC3\xA9";
    EXPECT_EQ(v.text("aIRLabel_1"), "1 : " + fifteen) << "nineteen characters, not bytes";
}

TEST(WindowIrPage, remaps_survive_group_changes_and_are_saved_by_update) {
    WindowRig rig;
    writeLabels(rig, std::vector<std::string>(1008, "L"));
    rig.startAndOpen();
    auto& v = *rig.view;
    v.type("aRemap_2", "500");
    v.choose("aIRDevice", 1);
    v.type("aRemap_0", "7");
    EXPECT_TRUE(rig.window().remapChanged());
    v.choose("aIRDevice", 0);
    EXPECT_EQ(v.text("aRemap_2"), "500");
    EXPECT_EQ(rig.window().workingMap()[36], "7");
    EXPECT_EQ(rig.ctx().ir.map[2], "");  // not in use before Update
    rig.engine.prompts.answer = false;
    v.click("OKButton");
    EXPECT_EQ(rig.ctx().ir.map[2], "500");
    EXPECT_EQ(rig.ctx().ir.lookup[2], 500);
    EXPECT_EQ(rig.ctx().ir.lookup[36], 7);
    const std::string saved = readFile(irFilePath(rig.ctx(), kIrMapFile));
    EXPECT_EQ(saved.substr(0, 15), "\"\"\r\n\"\"\r\n\"500\"\r\n");
}

TEST(WindowIrPage, unreadable_label_file_leaves_page_and_matrices_empty) {
    WindowRig rig;
    writeLabels(rig, {std::string(100'000, 'x')});  // a line over the limit: not a label file
    rig.startAndOpen();
    EXPECT_FALSE(rig.window().matricesLoaded());
    EXPECT_TRUE(rig.view->find("aIRDevice").items.empty());
    EXPECT_EQ(rig.view->text("aIRLabel_0"), "");
    rig.view->tick("Check1_5");
    rig.view->click("aCreateVariables");
    rig.view->click("OKButton");  // no closing question either
    EXPECT_TRUE(rig.engine.prompts.questions.empty());
    EXPECT_EQ(rig.ctx().devices.varsHouseCode, 0);
}

}  // namespace
}  // namespace varnel
