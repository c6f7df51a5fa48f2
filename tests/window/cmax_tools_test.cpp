// The CMAX tab, the Disconnect button, Synchronize and the closing prompts.
#include <gtest/gtest.h>

#include "support/settings.h"
#include "window_rig.h"

namespace varnel {
namespace {

using test::WindowRig;

constexpr const char* kCmaxReminder =
    "Reminder...comm port to ocelot was disconnected and will be reconnected when CMAX is closed";
constexpr const char* kPlainReminder = "Reminder...comm port to ocelot was disconnected";
constexpr const char* kIrQuestion =
    "IR Label Files have been created from CMAX System Map.  Their use requires a Homeseer restart.  Do you want "
    "them to replace existing ones after homeseer shuts down?";

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
    // Closing while CMAX runs reminds of the reconnection.
    bool portWasClosed = false;
    rig.engine.launcher.exitCode = 0;
    rig.engine.run(400);
    for (const auto& r : rig.engine.launcher.runs)
        if (r.program == cmax.string() && r.wait) portWasClosed = true;
    EXPECT_TRUE(portWasClosed);
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
        {true, false, "Are you certain you want to overwrite Homeseer definitions?"},
        {true, true,
         "Are you certain you want to overwrite Homeseer definitions?  Note that IR Label changes will not take "
         "effect until Homeseer restart."},
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
    ASSERT_FALSE(rig.engine.launcher.runs.empty());
    EXPECT_EQ(rig.engine.launcher.runs.back().program, irmax.string());
    EXPECT_FALSE(rig.engine.launcher.runs.back().wait);
    EXPECT_FALSE(rig.ctx().timers.disconnectRequest);
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
