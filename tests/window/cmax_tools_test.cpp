// The CMAX tab, the Disconnect button, Synchronize and the closing prompts.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/process_launcher.h"
#include "support/settings.h"
#include "sysmap/synchronize.h"
#include "window_rig.h"

namespace varnel {
namespace {

using test::WindowRig;

constexpr const char* kCmaxReminder =
    "Reminder...comm port to ocelot was disconnected and will be reconnected when CMAX is closed";
constexpr const char* kPlainReminder = "Reminder...comm port to ocelot was disconnected";
constexpr const char* kIrQuestion =
    "IR Label Files have been created from CMAX System Map.  Their use requires a host restart.  Do you want them "
    "to replace existing ones after the host shuts down?";

struct CmaxTab : ::testing::Test {
    WindowRig rig;
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
};

TEST_F(CmaxTab, pickers_store_the_chosen_path_and_keep_it_on_cancel) {
    struct Case {
        const char* control;
        const char* filter;
        const char* key;
    };
    const Case cases[] = {
        {"aProjectFile", "Project (*.prj)|*.prj", "ProjectFile"},
        {"aCMAXexe", "cpuxa.exe|cpuxa.exe", "CMAXFile"},
        {"aIRMaxExe", "IR_MAX.exe|IR_MAX.exe", "IRMAXFile"},
    };
    for (const auto& c : cases) {
        rig.picker.answers = {"/data/chosen", ""};
        rig.view->click(c.control);
        EXPECT_EQ(rig.picker.filters.back(), c.filter);
        EXPECT_EQ(rig.view->text(c.control), "/data/chosen");
        EXPECT_EQ(ReadSetting(rig.ctx(), c.key, ""), "/data/chosen");
        rig.view->click(c.control);  // cancelled
        EXPECT_EQ(rig.view->text(c.control), "/data/chosen") << c.control;
    }
}

TEST_F(CmaxTab, cmax_with_invalid_path_and_cancelled_picker_changes_nothing) {
    rig.view->setText("aCMAXexe", "/nowhere/cpuxa.exe");
    rig.view->click("aCMAX");
    EXPECT_EQ(rig.picker.filters.size(), 1u);
    EXPECT_FALSE(rig.ctx().timers.cmaxLaunch);
    EXPECT_FALSE(rig.ctx().timers.disconnectRequest);
    EXPECT_EQ(runExCount("BeforeCMAX"), 0);
    EXPECT_TRUE(rig.view->find("Disconnect").enabled);
}

TEST_F(CmaxTab, cmax_run_lets_go_of_the_port_and_reconnects_through_the_window) {
    const auto cmax = rig.file("cpuxa.exe");
    rig.view->setText("aCMAXexe", cmax.string());
    rig.view->click("aCMAX");
    EXPECT_EQ(runExCount("BeforeCMAX"), 1);
    EXPECT_EQ(rig.view->text("Disconnect"), "Reconnect to Ocelot");
    EXPECT_FALSE(rig.view->find("Disconnect").enabled);
    rig.engine.run(400);
    ASSERT_EQ(rig.engine.launcher.started.size(), 1u);
    EXPECT_EQ(rig.engine.launcher.started[0]->program, cmax.string());
    EXPECT_FALSE(rig.ctx().link.commStarted);
    rig.engine.launcher.end({});
    rig.engine.run(400);
    EXPECT_EQ(runExCount("AfterCMAX"), 1);
    EXPECT_FALSE(rig.ctx().timers.cmaxLaunch);
    EXPECT_FALSE(rig.ctx().timers.disconnectRequest);
    EXPECT_EQ(rig.view->text("Disconnect"), "Disconnect from Ocelot");
    EXPECT_TRUE(rig.view->find("Disconnect").enabled);
    EXPECT_TRUE(rig.ctx().link.commStarted);
    EXPECT_TRUE(rig.view->checked("PortOpen"));
}

TEST_F(CmaxTab, closing_reminders_follow_the_link_state) {
    struct Case {
        bool cmax, disconnected;
        const char* reminder;  // null: none
    };
    for (const Case& c :
         {Case{true, true, kCmaxReminder}, Case{false, true, kPlainReminder}, Case{false, false, nullptr}}) {
        rig.engine.prompts.shown.clear();
        rig.ctx().timers.cmaxLaunch = c.cmax;
        rig.ctx().timers.disconnectRequest = c.disconnected;
        rig.view->click("CancelButton");
        const auto texts = shownTexts();
        if (c.reminder) {
            ASSERT_EQ(texts.size(), 1u);
            EXPECT_EQ(texts[0], c.reminder);
        } else {
            EXPECT_TRUE(texts.empty());
        }
        rig.open();
    }
}

TEST_F(CmaxTab, closing_asks_in_order_and_declined_ir_files_stay_out) {
    for (const bool yes : {true, false}) {
        rig.engine.prompts.questions.clear();
        rig.engine.prompts.answer = yes;
        rig.ctx().ir.filesPending = true;
        rig.view->tick("Check1_3");
        rig.view->click("CancelButton");
        ASSERT_EQ(rig.engine.prompts.questions.size(), 2u);
        EXPECT_EQ(rig.engine.prompts.questions[1], kIrQuestion);
        EXPECT_EQ(rig.ctx().ir.filesPending, yes);
        EXPECT_FALSE(rig.ctx().window.open);
        rig.open();
    }
}

TEST_F(CmaxTab, disconnect_button_toggles_the_link) {
    rig.view->click("Disconnect");
    EXPECT_EQ(rig.view->text("Disconnect"), "Reconnect to Ocelot");
    rig.engine.run(400);
    EXPECT_FALSE(rig.ctx().link.commStarted);
    EXPECT_FALSE(rig.view->checked("PortOpen"));
    rig.view->click("Disconnect");
    EXPECT_EQ(rig.view->text("Disconnect"), "Disconnect from Ocelot");
    EXPECT_TRUE(rig.ctx().link.commStarted);
    EXPECT_TRUE(rig.view->checked("PortOpen"));
}

TEST_F(CmaxTab, synchronize_stores_options_even_when_the_picker_is_cancelled) {
    rig.view->setChecked("aIncludeIO", true);
    rig.view->setChecked("aSyncMaster_1", true);
    rig.view->setChecked("aSyncMaster_0", false);
    rig.view->setText("aProjectFile", "/nowhere/x.prj");
    rig.view->click("aSynchronize");
    EXPECT_EQ(ReadSetting(rig.ctx(), "IncludeIO", ""), "1");
    EXPECT_EQ(ReadSetting(rig.ctx(), "IncludeVariables", ""), "0");
    EXPECT_EQ(ReadSetting(rig.ctx(), "SyncMaster", ""), "1");
    EXPECT_EQ(ReadSetting(rig.ctx(), "ProjectFile", ""), "/nowhere/x.prj");
    EXPECT_TRUE(rig.engine.prompts.questions.empty());
}

TEST_F(CmaxTab, synchronize_asks_by_direction_and_no_leaves_everything) {
    const auto project = rig.file("house.prj", "not really a project\r\n");
    struct Case {
        bool cmaxMaster, ir;
        const char* question;
    };
    const Case cases[] = {
        {false, false, "Are you certain you want to overwrite CMAX System Map definitions?"},
        {true, false, "Are you certain you want to overwrite host definitions?"},
        {true, true,
         "Are you certain you want to overwrite host definitions?  Note that IR Label changes will not take "
         "effect until the host restarts."},
    };
    rig.engine.prompts.answer = false;
    const auto devicesBefore = rig.engine.host->devices();
    for (const auto& c : cases) {
        rig.engine.prompts.questions.clear();
        rig.view->setChecked("aSyncMaster_1", c.cmaxMaster);
        rig.view->setChecked("aSyncMaster_0", !c.cmaxMaster);
        rig.view->setChecked("aIncludeIR", c.ir);
        rig.view->setText("aProjectFile", project.string());
        rig.view->click("aSynchronize");
        ASSERT_EQ(rig.engine.prompts.questions.size(), 1u);
        EXPECT_EQ(rig.engine.prompts.questions[0], c.question);
    }
    EXPECT_EQ(rig.engine.host->devices(), devicesBefore);
    EXPECT_FALSE(std::filesystem::exists(project.parent_path() / "Copy of house.prj"));
}

TEST_F(CmaxTab, synchronize_shows_what_it_did) {
    const auto project = rig.file("junk.prj", "no System Map in here\r\n");
    rig.view->setChecked("aIncludeVariables", true);
    rig.view->setText("aProjectFile", project.string());
    rig.engine.prompts.answer = true;
    rig.view->click("aSynchronize");
    ASSERT_EQ(rig.engine.prompts.shown.size(), 1u);
    EXPECT_FALSE(rig.engine.prompts.shown[0].text.empty());
    // The same lines `varnel sync` prints.
    SyncRequest request;
    request.projectFile = project.string();
    request.includes.variables = true;
    request.assumeYes = true;
    std::string expected;
    for (const auto& line : describeSync(runSync(rig.ctx(), request)))
        expected += (expected.empty() ? "" : "\n") + line;
    EXPECT_EQ(rig.engine.prompts.shown[0].text, expected);
    // Declined: nothing more to say.
    rig.engine.prompts.answer = false;
    rig.view->click("aSynchronize");
    EXPECT_EQ(rig.engine.prompts.shown.size(), 1u);
}

TEST_F(CmaxTab, messages_box_never_stays_ticked) {
    rig.view->tick("aIncludeMessages");
    EXPECT_FALSE(rig.view->checked("aIncludeMessages"));
    ASSERT_EQ(rig.engine.prompts.shown.size(), 1u);
    EXPECT_EQ(rig.engine.prompts.shown[0].text, "Not Implemented");
}

TEST_F(CmaxTab, irmax_starts_without_waiting_and_keeps_the_link) {
    const auto irmax = rig.file("IR_MAX.exe");
    rig.view->setText("aIRMaxExe", "/nowhere");
    rig.picker.answers = {irmax.string()};
    rig.view->click("aIRMax");
    ASSERT_EQ(rig.engine.launcher.started.size(), 1u);
    EXPECT_EQ(rig.engine.launcher.started[0]->program, irmax.string());
    EXPECT_FALSE(rig.ctx().timers.disconnectRequest);
    EXPECT_TRUE(rig.ctx().link.commStarted);
}

TEST_F(CmaxTab, while_cmax_runs_the_window_takes_clicks_and_cancel_reminds) {
    const auto cmax = rig.file("cpuxa.exe");
    rig.view->setText("aCMAXexe", cmax.string());
    rig.view->click("aCMAX");
    EXPECT_FALSE(rig.view->find("aCMAX").enabled);
    rig.engine.run(400);
    ASSERT_TRUE(rig.engine.launcher.anyRunning());
    // A second press starts nothing more.
    rig.view->click("aCMAX");
    rig.engine.run(400);
    EXPECT_EQ(rig.engine.launcher.started.size(), 1u);
    EXPECT_EQ(runExCount("BeforeCMAX"), 1);
    // Clicks run at once while CMAX runs.
    rig.view->tick("Check1_4");
    EXPECT_TRUE(rig.window().variablesChanged());
    EXPECT_EQ(rig.window().heldClicks(), 0u);
    rig.engine.prompts.answer = false;
    rig.view->click("CancelButton");
    EXPECT_TRUE(rig.view->closed);
    EXPECT_EQ(shownTexts(), std::vector<std::string>{kCmaxReminder});
    EXPECT_TRUE(rig.engine.launcher.anyRunning());
    // Its end, with the window closed, takes the link up again.
    rig.engine.launcher.end({});
    rig.engine.run(400);
    EXPECT_TRUE(rig.ctx().link.commStarted);
    EXPECT_FALSE(rig.ctx().timers.cmaxLaunch);
    rig.open();
    EXPECT_TRUE(rig.view->find("aCMAX").enabled);
}

TEST_F(CmaxTab, a_stop_asks_cmax_to_end_and_kills_it_after_the_pause) {
    const auto cmax = rig.file("cpuxa.exe");
    rig.view->setText("aCMAXexe", cmax.string());
    rig.view->click("aCMAX");
    rig.engine.run(400);
    ASSERT_TRUE(rig.engine.launcher.anyRunning());
    rig.engine.plugin->ShutdownIO();
    const auto& program = *rig.engine.launcher.started[0];
    EXPECT_TRUE(program.stopped);
    EXPECT_TRUE(program.killed);  // it had not ended within the pause
    EXPECT_EQ(runExCount("AfterCMAX"), 0);
}

TEST_F(CmaxTab, failures_of_cmax_irmax_and_before_cmax_are_reported_in_the_log_and_the_window) {
    const auto cmax = rig.file("cpuxa.exe");
    const auto irmax = rig.file("IR_MAX.exe");
    struct Case {
        const char* button;
        ProgramEnd end;
        const char* logged;
    };
    ProgramEnd notStarted;
    notStarted.started = false;
    notStarted.error = "Permission denied";
    ProgramEnd exit3;
    exit3.exitCode = 3;
    ProgramEnd crashed;
    crashed.crashed = true;
    const Case cases[] = {
        {"aCMAX", notStarted, "aCMAX_Click 1 CMAX could not be started (Permission denied)"},
        {"aCMAX", exit3, "aCMAX_Click 1 CMAX ended with exit status 3"},
        {"aIRMax", crashed, "aIRMax_Click 1 IR_MAX was killed or crashed"},
        {"aIRMax", exit3, "aIRMax_Click 1 IR_MAX ended with exit status 3"},
    };
    rig.view->setText("aCMAXexe", cmax.string());
    rig.view->setText("aIRMaxExe", irmax.string());
    for (const auto& c : cases) {
        rig.engine.prompts.shown.clear();
        rig.view->click(c.button);
        rig.engine.run(400);
        rig.engine.launcher.end(c.end);
        rig.engine.run(400);
        EXPECT_TRUE(rig.engine.logged(c.logged)) << c.logged;
        const std::string text = std::string(c.logged).substr(std::string(c.logged).find(" 1 ") + 3);
        EXPECT_EQ(shownTexts(), std::vector<std::string>{text});
        EXPECT_TRUE(rig.ctx().link.commStarted) << c.logged;
    }
}

TEST_F(CmaxTab, a_failing_before_cmax_script_stops_the_run_and_keeps_the_link) {
    const auto cmax = rig.file("cpuxa.exe");
    const auto script = rig.engine.dir.path() / "scripts" / "Varnel_CMAXSync.txt";
    std::filesystem::create_directories(script.parent_path());
    std::ofstream(script) << "#!/bin/sh\nexit 3\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    rig.engine.launcher.exitCode = 3;
    rig.view->setText("aCMAXexe", cmax.string());
    rig.view->click("aCMAX");
    rig.engine.run(400);
    EXPECT_TRUE(rig.engine.launcher.started.empty());
    EXPECT_FALSE(rig.ctx().timers.cmaxLaunch);
    EXPECT_FALSE(rig.ctx().timers.disconnectRequest);
    EXPECT_TRUE(rig.ctx().link.commStarted);
    EXPECT_TRUE(rig.view->find("aCMAX").enabled);
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
