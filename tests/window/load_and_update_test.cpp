// Opening the window fills it from the settings and the plug-in; Update stores,
// Cancel does not; the interface name and the IR remap page.
#include <gtest/gtest.h>

#include "commands/ir_files.h"
#include "support/settings.h"
#include "text_files.h"
#include "window_rig.h"

namespace varnel {
namespace {

using test::readFile;
using test::WindowRig;

// A label file: 32 group names, then the labels.
void writeLabels(WindowRig& rig, const std::vector<std::string>& labels) {
    std::string text;
    for (int g = 0; g < 32; ++g) text += "Group" + std::to_string(g) + "\r\n";
    for (const auto& l : labels) text += l + "\r\n";
    test::writeFile(rig.configDir() / "irlbl.cfg", text);
}

TEST(WindowLoad, shows_defaults_the_units_and_stored_values) {
    WindowRig rig;
    rig.startAndOpen();
    auto& v = *rig.view;
    EXPECT_EQ(v.text("TxtComPort"), "1");
    const std::pair<const char*, bool> boxes[] = {
        {"aIncludeVariables", false}, {"aIncludeIR", false},        {"aSyncMaster_0", true},
        {"aSyncMaster_1", false},     {"aInterfaceChange_0", true}, {"showInMenu", true},
        {"ChkLogErrors", true},       {"ChkLogComms", false},       {"PortOpen", true},
    };
    for (const auto& [box, on] : boxes) EXPECT_EQ(v.checked(box), on) << box;
    EXPECT_EQ(v.text("Disconnect"), "Disconnect from Ocelot");
    EXPECT_EQ(v.text("lblver").rfind("Version ", 0), 0u);
    EXPECT_EQ(v.raised, 1);
    EXPECT_EQ(v.find("List1").items,
              (std::vector<std::string>{"Unit 0 Ocelot/CPU-XA/Leopard", "Unit 1 SECU16", "Unit 2 SECU16I",
                                        "Unit 3 RELAY-08", "Unit 4 SECU16IR"}));
    v.click("CancelButton");

    const std::tuple<const char*, const char*, const char*, bool> cases[] = {
        {"SyncMaster", "1", "aSyncMaster_1", true},
        {"SyncMaster", "2", "aSyncMaster_0", true},
        {"InterfaceName", "1", "aInterfaceChange_1", true},
        {"X10Xmit", "1", "aX10Xmit", true},
        {"invert", "5", "ChkInvert", true},
        {"showInMenu", "0", "showInMenu", false},
        {"showInMenu", "2", "showInMenu", false},  // start-up registers the menu for "1" only
        {"Recognition", "1", "aIRRecognitionForward", true},
    };
    for (const auto& [key, value, control, on] : cases) {
        WriteSetting(rig.ctx(), key, value);
        rig.open();
        EXPECT_EQ(rig.view->checked(control), on) << key << "=" << value;
        rig.view->click("CancelButton");
    }
    WriteSetting(rig.ctx(), "poll_interval", "  750 ");
    rig.open();
    EXPECT_EQ(rig.view->text("TxtPoll"), "750");
}

TEST(WindowUpdate, stores_settings_and_takes_them_into_use_and_cancel_stores_nothing) {
    WindowRig rig;
    rig.startAndOpen();
    const int running = rig.ctx().timers.timer2->interval();
    rig.view->type("aRemap_2", "44");
    rig.view->setText("TxtPoll", "900");
    rig.view->setChecked("aX10Xmit", true);
    rig.view->click("CancelButton");
    EXPECT_TRUE(rig.view->closed);
    EXPECT_TRUE(rig.engine.prompts.questions.empty());
    EXPECT_EQ(rig.ctx().ir.map[2], "");
    EXPECT_FALSE(std::filesystem::exists(irFilePath(rig.ctx(), kIrMapFile)));
    EXPECT_EQ(rig.ctx().switches.x10Xmit, 0);
    EXPECT_EQ(rig.stored({"poll_interval", "X10Xmit"}), "poll_interval=- X10Xmit=-");

    // OK with nothing changed leaves the running poll interval as it is.
    rig.open();
    rig.view->click("OKButton");
    rig.engine.run(5000);
    EXPECT_EQ(rig.ctx().timers.timer2->interval(), running);
    EXPECT_EQ(rig.stored({"InterfaceName"}), "InterfaceName=-");

    rig.open();
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
    EXPECT_EQ(std::to_string(ctx.link.comport) + " " + ctx.timers.pollInterval + " " +
                  std::to_string(ctx.switches.logComms) + std::to_string(ctx.switches.x10Xmit),
              "3 900 11");
    EXPECT_EQ(rig.stored({"comport", "poll_interval", "log_comms", "X10Xmit", "SyncMaster", "CMAXFile", "showInMenu",
                          "IncludeIO"}),
              "comport=3 poll_interval=900 log_comms=1 X10Xmit=1 SyncMaster=1 CMAXFile=/opt/cmax/run showInMenu=1 "
              "IncludeIO=0");
    EXPECT_TRUE(v.closed);
    EXPECT_FALSE(ctx.window.open);
}

TEST(WindowUpdate, a_field_in_error_stores_nothing_and_keeps_the_window_open_with_the_edits) {
    const std::pair<const char*, std::string> cases[] = {
        {"TxtComPort", "99999999"}, {"TxtComPort", "COM3 Ü"}, {"TxtComPort", "0"},
        {"TxtPoll", "1"},           {"TxtPoll", "fast"},      {"TxtPoll", std::string(10'000, '5')},
        {"aRemap_3", "5\n6"},       {"aRemap_3", "7\"8"},     {"aRemap_3", "-5"},
        {"aRemap_3", "99999999"},
    };
    WindowRig rig;
    rig.startAndOpen();
    auto& ctx = rig.ctx();
    const auto irmap = irFilePath(ctx, kIrMapFile);
    for (const auto& [control, text] : cases) {
        SCOPED_TRACE(text.substr(0, 20));
        auto& v = *rig.view;
        rig.engine.prompts.shown.clear();
        v.setChecked("aX10Xmit", true);
        v.type("aRemap_0", "12");
        v.type(control, text);
        v.click("OKButton");
        const std::string named = control == std::string("TxtComPort") ? "Com port must be"
                                  : control == std::string("TxtPoll")  ? "Poll interval must be"
                                                                       : "Remap to IR Loc of label 3 must be";
        EXPECT_EQ(rig.shown().rfind(named, 0), 0u) << rig.shown();
        EXPECT_EQ(rig.engine.prompts.shown.size(), 1u);
        EXPECT_TRUE(!v.closed && ctx.window.open && v.checked("aX10Xmit") && v.text(control) == text);
        EXPECT_EQ(rig.stored({"comport", "poll_interval", "X10Xmit", "showInMenu"}),
                  "comport=- poll_interval=- X10Xmit=- showInMenu=-");
        EXPECT_TRUE(ctx.switches.x10Xmit == 0 && ctx.link.comport == 1 && ctx.ir.map[0].empty());
        EXPECT_FALSE(std::filesystem::exists(irmap));
        v.click("CancelButton");
        rig.open();
    }
    // Put right, the same edits are stored whole.
    auto& v = *rig.view;
    v.setChecked("aX10Xmit", true);
    v.type("aRemap_3", " 44 ");
    v.click("OKButton");
    EXPECT_TRUE(v.closed);
    EXPECT_EQ(rig.stored({"X10Xmit"}) + " " + ctx.ir.map[3], "X10Xmit=1 44");
    EXPECT_EQ(readFile(irmap).substr(0, 18), "\"\"\r\n\"\"\r\n\"\"\r\n\"44\"\r\n");
}

TEST(WindowUpdate, a_port_given_on_the_command_line_is_shown_and_the_number_setting_left_alone) {
    WindowRig rig;
    rig.ctx().link.fixedDevice = "/dev/pts/7";
    rig.startAndOpen();
    EXPECT_EQ(rig.view->text("TxtComPort"), "/dev/pts/7");
    EXPECT_FALSE(rig.view->find("TxtComPort").enabled);
    rig.view->setText("TxtPoll", "800");
    rig.view->click("OKButton");
    EXPECT_TRUE(rig.view->closed);
    EXPECT_EQ(rig.stored({"comport", "poll_interval"}), "comport=- poll_interval=800");
}

TEST(WindowUpdate, interface_change_rewrites_only_devices_of_the_old_name) {
    WindowRig rig;
    rig.startAndOpen();
    auto& hs = *rig.engine.host;
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"q1", "Applied Digital Ocelot", "Varnel"},
        {"q2", "APPLIED digital OCELOT", "Varnel"},
        {"q3", "Varnel", "Varnel"},
        {"q4", "Other Plugin", "Other Plugin"},
        {"q5", "", ""},
    };
    for (const auto& [code, interface_, after] : cases) {
        auto dev = hs.GetDeviceByRef(hs.NewDeviceRef(code));
        dev->set_hc(std::string(1, code[0]));
        dev->set_dc(code + 1);
        dev->set_interface(interface_);
        dev->set_misc(0);
    }
    rig.view->setChecked("aInterfaceChange_1", true);
    rig.view->setChecked("aInterfaceChange_0", false);
    rig.view->click("OKButton");
    for (const auto& [code, interface_, after] : cases) {
        const auto* d = rig.device(code);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->interface_, after) << code;
        EXPECT_EQ(d->misc, std::string(after) == "Varnel" && std::string(interface_) != "Varnel" ? 32768 : 0) << code;
    }
    EXPECT_EQ(rig.ctx().devices.interfaceName, "Varnel");
    EXPECT_EQ(rig.stored({"InterfaceName"}), "InterfaceName=1");
}

// A click made while a handler of the window waits (a reconnect takes seconds) runs
// once the handler is through, in the order the clicks came; so does one made while
// the line is busy.
TEST(WindowClicks, clicks_during_a_handler_or_a_busy_line_run_after_in_order) {
    WindowRig rig;
    rig.startAndOpen();
    auto& v = *rig.view;
    rig.ctx().gate.exchangeDepth = 1;  // as while a command waits for its reply
    v.tick("Check1_5");
    EXPECT_FALSE(rig.window().variablesChanged());
    EXPECT_EQ(rig.window().heldClicks(), 1u);
    rig.ctx().gate.exchangeDepth = 0;
    rig.engine.run(100);
    EXPECT_TRUE(rig.window().variablesChanged());
    EXPECT_EQ(rig.window().heldClicks(), 0u);

    v.click("Disconnect");
    rig.engine.run(400);
    auto during = rig.engine.loop.createTimer();
    during->setInterval(300);
    int fired = 0;
    during->onTick = [&] {
        during->setEnabled(false);
        ++fired;
        v.tick("Check1_6");
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
    EXPECT_EQ(rig.ctx().devices.varSelected[6], kTrue);
}

TEST(WindowButtons, leopard_makes_the_screen_device_once_and_set_clock_sends_the_time) {
    WindowRig rig;
    rig.startAndOpen();
    rig.view->click("Command1");
    rig.view->click("Command1");
    EXPECT_EQ(rig.shown(), "Leopard device is already created\n");

    // Keep the polls quiet: on virtual time each retry would meet one holding the busy flag.
    rig.ctx().timers.timer2->setEnabled(false);
    const auto before = rig.engine.controller.countOf(sim::FrameKind::Long, 0x3D);
    rig.view->click("aClock");
    rig.engine.run(2500);
    EXPECT_EQ(rig.engine.controller.countOf(sim::FrameKind::Long, 0x3D), before + 1);
}

TEST(WindowIrPage, captions_groups_and_remaps_survive_group_changes_and_are_saved_by_update) {
    WindowRig rig;
    std::vector<std::string> labels(1008, "L");
    labels[0] = "Power";
    labels[7] = "A label much longer than the space";
    labels[1007] = "Last";
    writeLabels(rig, labels);
    rig.startAndOpen();
    auto& v = *rig.view;
    EXPECT_EQ(v.text("aIRLabel_0") + "|" + v.text("aIRLabel_7"), "0 : Power|7 : A label much lo");
    EXPECT_EQ(v.find("aIRDevice").items.size(), 32u);
    EXPECT_EQ(v.find("aIRDevice").items[3], "Group3");
    v.choose("aIRDevice", 27);
    EXPECT_EQ(v.text("aIRLabel_35"), "1007 : Last");
    EXPECT_TRUE(v.find("aRemap_35").enabled);
    // Groups past the label table show their numbers but take no remaps.
    v.choose("aIRDevice", 31);
    EXPECT_EQ(v.text("aIRLabel_0"), "1116 : ");
    EXPECT_FALSE(v.find("aRemap_0").enabled);
    v.choose("aIRDevice", 99);  // not a group: nothing moves
    EXPECT_EQ(rig.window().irGroupBase(), 36 * 31);

    v.choose("aIRDevice", 0);
    v.type("aRemap_2", "500");
    v.choose("aIRDevice", 1);
    v.type("aRemap_0", "7");
    EXPECT_TRUE(rig.window().remapChanged());
    v.choose("aIRDevice", 0);
    EXPECT_EQ(v.text("aRemap_2"), "500");
    EXPECT_EQ(rig.window().workingMap()[36], "7");
    EXPECT_EQ(rig.ctx().ir.map[2], "");  // not in use before Update
    // A remap in error in another group brings its group up.
    v.choose("aIRDevice", 2);
    v.type("aRemap_5", "2000");
    v.choose("aIRDevice", 0);
    v.click("OKButton");
    EXPECT_EQ(rig.shown(), "Remap to IR Loc of label 77 must be empty or a whole number from 0 to 1023\n");
    EXPECT_EQ(rig.window().irGroupBase(), 72);
    EXPECT_EQ(v.find("aIRDevice").index, 2);
    v.type("aRemap_5", "");
    rig.engine.prompts.answer = false;
    v.click("OKButton");
    EXPECT_EQ(rig.ctx().ir.map[2] + " " + std::to_string(rig.ctx().ir.lookup[2]) + " " +
                  std::to_string(rig.ctx().ir.lookup[36]),
              "500 500 7");
    EXPECT_EQ(readFile(irFilePath(rig.ctx(), kIrMapFile)).substr(0, 15), "\"\"\r\n\"\"\r\n\"500\"\r\n");
}

TEST(WindowIrPage, a_remap_the_file_had_is_kept_and_code_page_labels_show_as_utf8) {
    WindowRig rig;
    test::writeFile(rig.configDir() / "irmap.cfg", "\"TV\"\r\n");
    test::writeFile(rig.configDir() / "irlbl.cfg",
                    "Caf\xE9\r\n" + std::string(31, '\n') + "\xC9t\xE9 \x80\r\n" + std::string(30, '\xE9') + "\r\n");
    rig.startAndOpen();
    auto& v = *rig.view;
    EXPECT_EQ(v.find("aIRDevice").items[0], "Café");
    EXPECT_EQ(v.text("aIRLabel_0"), "0 : Été €");
    std::string fifteen;
    for (int i = 0; i < 15; ++i) fifteen += "é";
    EXPECT_EQ(v.text("aIRLabel_1"), "1 : " + fifteen) << "nineteen characters, not bytes";
    v.type("aRemap_1", "9");
    v.click("OKButton");
    EXPECT_TRUE(rig.engine.prompts.shown.empty());
    EXPECT_EQ(readFile(rig.configDir() / "irmap.cfg").substr(0, 11), "\"TV\"\r\n\"9\"\r\n");
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
