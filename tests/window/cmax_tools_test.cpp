// The CMAX tab, the Disconnect button, Synchronize and the closing prompts.
#include <gtest/gtest.h>

#include "platform/process_launcher.h"
#include "support/settings.h"
#include "window_rig.h"

namespace varnel {
namespace {

using test::WindowRig;

constexpr const char* kCmaxReminder =
    "Reminder...comm port to ocelot was disconnected and will be reconnected when CMAX is closed";

struct CmaxTab : ::testing::Test {
    WindowRig rig;
    test::RecordingView& v() { return *rig.view; }
    CmaxTab() { rig.startAndOpen(); }
    std::vector<std::string> shownTexts() const {
        std::vector<std::string> out;
        for (const auto& s : rig.engine.prompts.shown) out.push_back(s.text);
        return out;
    }
    int runExCount(const std::string& procedure) const {
        int n = 0;
        for (const auto& r : rig.engine.host->runs()) n += r.procedure == procedure ? 1 : 0;
        return n;
    }
    std::string stored(const std::string& key) { return ReadSetting(rig.ctx(), key, ""); }
    // The link as the tab and the plug-in see it.
    std::string link() {
        const auto& t = rig.ctx().timers;
        return v().text("Disconnect") + (v().find("Disconnect").enabled ? "" : " (off)") +
               (v().find("aCMAX").enabled ? "" : ", CMAX off") + (rig.ctx().link.commStarted ? ", started" : "") +
               (t.cmaxLaunch ? ", cmax" : "") + (t.disconnectRequest ? ", disconnect" : "");
    }
    // CMAX started from the window, its program running.
    void startCmax() {
        v().setText("aCMAXexe", rig.file("cpuxa.exe").string());
        v().click("aCMAX");
        rig.engine.run(400);
        ASSERT_TRUE(rig.engine.launcher.anyRunning());
    }
};

TEST_F(CmaxTab, pickers_store_the_chosen_path_and_keep_it_on_cancel) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"aProjectFile", "Project (*.prj)|*.prj", "ProjectFile"},
        {"aCMAXexe", "cpuxa.exe|cpuxa.exe", "CMAXFile"},
        {"aIRMaxExe", "IR_MAX.exe|IR_MAX.exe", "IRMAXFile"},
    };
    for (const auto& [control, filter, key] : cases) {
        rig.picker.answers = {"/data/chosen", ""};
        v().click(control);
        EXPECT_EQ(rig.picker.filters.back(), filter);
        EXPECT_EQ(stored(key), "/data/chosen");
        v().click(control);  // cancelled
        EXPECT_EQ(v().text(control), "/data/chosen") << control;
    }
    // A CMAX that is not there, the picker cancelled: nothing happens.
    v().setText("aCMAXexe", "/nowhere/cpuxa.exe");
    v().click("aCMAX");
    EXPECT_EQ(link(), "Disconnect from Ocelot, started");
    EXPECT_EQ(runExCount("BeforeCMAX"), 0);
}

TEST_F(CmaxTab, cmax_run_lets_go_of_the_port_and_reconnects_through_the_window) {
    startCmax();
    EXPECT_EQ(runExCount("BeforeCMAX"), 1);
    EXPECT_EQ(link(), "Reconnect to Ocelot (off), CMAX off, cmax, disconnect");
    EXPECT_EQ(rig.engine.launcher.started[0]->program, (rig.engine.dir.path() / "cpuxa.exe").string());
    // A second press starts nothing more; clicks run at once while CMAX runs.
    v().click("aCMAX");
    rig.engine.run(400);
    EXPECT_EQ(rig.engine.launcher.started.size(), 1u);
    v().tick("Check1_4");
    EXPECT_TRUE(rig.window().variablesChanged());
    EXPECT_EQ(rig.window().heldClicks(), 0u);
    rig.engine.launcher.end({});
    rig.engine.run(400);
    EXPECT_EQ(runExCount("AfterCMAX"), 1);
    EXPECT_EQ(link(), "Disconnect from Ocelot, started");
    EXPECT_TRUE(v().checked("PortOpen"));
}

TEST_F(CmaxTab, cancel_while_cmax_runs_reminds_and_its_end_takes_the_link_up) {
    startCmax();
    rig.engine.prompts.answer = false;
    v().click("CancelButton");
    EXPECT_TRUE(v().closed);
    EXPECT_EQ(shownTexts(), std::vector<std::string>{kCmaxReminder});
    rig.engine.launcher.end({});
    rig.engine.run(400);
    rig.open();
    EXPECT_EQ(link(), "Disconnect from Ocelot, started");
}

TEST_F(CmaxTab, a_stop_asks_cmax_to_end_and_kills_it_after_the_pause) {
    startCmax();
    rig.engine.plugin->ShutdownIO();
    const auto& program = *rig.engine.launcher.started[0];
    EXPECT_TRUE(program.stopped);
    EXPECT_TRUE(program.killed);  // it had not ended within the pause
    EXPECT_EQ(runExCount("AfterCMAX"), 0);
}

TEST_F(CmaxTab, closing_reminds_of_the_link_and_asks_in_order) {
    const std::tuple<bool, bool, const char*> reminders[] = {
        {true, true, kCmaxReminder},
        {false, true, "Reminder...comm port to ocelot was disconnected"},
        {false, false, nullptr},
    };
    for (const auto& [cmax, disconnected, reminder] : reminders) {
        rig.engine.prompts.shown.clear();
        rig.ctx().timers.cmaxLaunch = cmax;
        rig.ctx().timers.disconnectRequest = disconnected;
        v().click("CancelButton");
        EXPECT_EQ(shownTexts(), reminder ? std::vector<std::string>{reminder} : std::vector<std::string>{});
        rig.open();
    }
    rig.ctx().timers.cmaxLaunch = rig.ctx().timers.disconnectRequest = false;
    for (const bool yes : {true, false}) {
        rig.engine.prompts.questions.clear();
        rig.engine.prompts.answer = yes;
        rig.ctx().ir.filesPending = true;
        v().tick("Check1_3");
        v().click("CancelButton");
        ASSERT_EQ(rig.engine.prompts.questions.size(), 2u);
        EXPECT_EQ(rig.engine.prompts.questions[1],
                  "IR Label Files have been created from CMAX System Map.  Their use requires a host restart.  Do you "
                  "want them to replace existing ones after the host shuts down?");
        EXPECT_EQ(rig.ctx().ir.filesPending, yes);
        EXPECT_FALSE(rig.ctx().window.open);
        rig.open();
    }
}

TEST_F(CmaxTab, disconnect_button_toggles_the_link_and_the_messages_box_never_stays_ticked) {
    v().click("Disconnect");
    rig.engine.run(400);
    EXPECT_EQ(link(), "Reconnect to Ocelot, disconnect");
    EXPECT_FALSE(v().checked("PortOpen"));
    v().click("Disconnect");
    EXPECT_EQ(link(), "Disconnect from Ocelot, started");
    EXPECT_TRUE(v().checked("PortOpen"));

    v().tick("aIncludeMessages");
    EXPECT_FALSE(v().checked("aIncludeMessages"));
    EXPECT_EQ(shownTexts(), std::vector<std::string>{"Not Implemented"});
}

TEST_F(CmaxTab, synchronize_stores_options_asks_by_direction_and_no_leaves_everything) {
    v().setChecked("aIncludeIO", true);
    v().setChecked("aSyncMaster_1", true);
    v().setChecked("aSyncMaster_0", false);
    v().setText("aProjectFile", "/nowhere/x.prj");
    v().click("aSynchronize");  // the picker cancelled
    EXPECT_EQ(rig.stored({"IncludeIO", "IncludeVariables", "SyncMaster", "ProjectFile"}),
              "IncludeIO=1 IncludeVariables=0 SyncMaster=1 ProjectFile=/nowhere/x.prj");
    EXPECT_TRUE(rig.engine.prompts.questions.empty());

    const auto project = rig.file("house.prj", "not really a project\r\n");
    const std::tuple<bool, bool, const char*> cases[] = {
        {false, false, "Are you certain you want to overwrite CMAX System Map definitions?"},
        {true, false, "Are you certain you want to overwrite host definitions?"},
        {true, true,
         "Are you certain you want to overwrite host definitions?  Note that IR Label changes will not take "
         "effect until the host restarts."},
    };
    rig.engine.prompts.answer = false;
    const auto devicesBefore = rig.engine.host->devices();
    for (const auto& [cmaxMaster, ir, question] : cases) {
        rig.engine.prompts.questions.clear();
        v().setChecked("aSyncMaster_1", cmaxMaster);
        v().setChecked("aSyncMaster_0", !cmaxMaster);
        v().setChecked("aIncludeIR", ir);
        v().setText("aProjectFile", project.string());
        v().click("aSynchronize");
        EXPECT_EQ(rig.engine.prompts.questions, std::vector<std::string>{question});
    }
    EXPECT_EQ(rig.engine.host->devices(), devicesBefore);
    EXPECT_FALSE(std::filesystem::exists(project.parent_path() / "Copy of house.prj"));
    EXPECT_TRUE(rig.engine.prompts.shown.empty()) << "declined: nothing to say";

    rig.engine.prompts.answer = true;
    v().click("aSynchronize");
    EXPECT_EQ(shownTexts(),
              std::vector<std::string>{"Not synchronized: no System Map section found in the project file"});
}

TEST_F(CmaxTab, irmax_starts_without_waiting_and_keeps_the_link) {
    const auto irmax = rig.file("IR_MAX.exe");
    v().setText("aIRMaxExe", "/nowhere");
    rig.picker.answers = {irmax.string()};
    v().click("aIRMax");
    ASSERT_EQ(rig.engine.launcher.started.size(), 1u);
    EXPECT_EQ(rig.engine.launcher.started[0]->program, irmax.string());
    EXPECT_EQ(link(), "Disconnect from Ocelot, started");
}

TEST_F(CmaxTab, failures_of_cmax_irmax_and_before_cmax_are_reported_in_the_log_and_the_window) {
    ProgramEnd notStarted;
    notStarted.started = false;
    notStarted.error = "Permission denied";
    ProgramEnd exit3;
    exit3.exitCode = 3;
    ProgramEnd crashed;
    crashed.crashed = true;
    const std::tuple<const char*, ProgramEnd, const char*> cases[] = {
        {"aCMAX", notStarted, "aCMAX_Click 1 CMAX could not be started (Permission denied)"},
        {"aCMAX", exit3, "aCMAX_Click 1 CMAX ended with exit status 3"},
        {"aIRMax", crashed, "aIRMax_Click 1 IR_MAX was killed or crashed"},
        {"aIRMax", exit3, "aIRMax_Click 1 IR_MAX ended with exit status 3"},
    };
    v().setText("aCMAXexe", rig.file("cpuxa.exe").string());
    v().setText("aIRMaxExe", rig.file("IR_MAX.exe").string());
    for (const auto& [button, end, logged] : cases) {
        rig.engine.prompts.shown.clear();
        v().click(button);
        rig.engine.run(400);
        rig.engine.launcher.end(end);
        rig.engine.run(400);
        EXPECT_TRUE(rig.engine.logged(logged)) << logged;
        EXPECT_EQ(shownTexts(),
                  std::vector<std::string>{std::string(logged).substr(std::string(logged).find(" 1 ") + 3)});
        EXPECT_TRUE(rig.ctx().link.commStarted) << logged;
    }

    // A BeforeCMAX script that fails stops the run and keeps the link.
    const auto script = rig.engine.dir.path() / "scripts" / "Varnel_CMAXSync.txt";
    test::writeFile(script, "#!/bin/sh\nexit 3\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    rig.engine.launcher.exitCode = 3;
    const auto startedBefore = rig.engine.launcher.started.size();
    rig.engine.prompts.shown.clear();
    v().click("aCMAX");
    rig.engine.run(400);
    EXPECT_EQ(rig.engine.launcher.started.size(), startedBefore);
    EXPECT_EQ(link(), "Disconnect from Ocelot, started");
    const std::string why = "RunEx Varnel_CMAXSync.txt BeforeCMAX: the script ended with exit status 3";
    EXPECT_TRUE(rig.engine.logged("aCMAX_Click 1 " + why));
    EXPECT_EQ(shownTexts(), std::vector<std::string>{why});
}

TEST(WindowEntryPoints, menu_and_config_calls_open_one_window) {
    WindowRig rig;
    rig.engine.startAll();
    rig.engine.plugin->ConfigIO();
    ASSERT_NE(rig.slot->window(), nullptr);
    auto* first = rig.view;
    rig.engine.plugin->ConfigX10();
    rig.engine.plugin->ConfigIR();
    rig.engine.plugin->SelectMenu("Setup");
    EXPECT_EQ(rig.view, first);
    EXPECT_EQ(first->raised, 4);
    for (const auto& line : rig.engine.hostLog()) EXPECT_EQ(line.find("not available"), std::string::npos) << line;
}

}  // namespace
}  // namespace varnel
