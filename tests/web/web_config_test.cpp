// The configuration form on the web page: the window's model driven by the page's
// requests, refusing what the window would not take and asking before it acts.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "devices/device_model.h"
#include "support/settings.h"
#include "sysmap/synchronize.h"
#include "web/web_config.h"
#include "window_rig.h"

namespace varnel {
namespace {

using nlohmann::json;
using test::WindowRig;

struct WebForm : ::testing::Test {
    // The desktop window's rig: plug-in, host and controller, and a desktop window not opened.
    WindowRig rig;
    std::unique_ptr<web::WebConfig> web;

    WebForm() {
        rig.engine.startAll();
        rig.engine.run(1000);
        web = std::make_unique<web::WebConfig>(rig.ctx(), rig.engine.promptsSwitch);
    }
    json post(const json& request) { return web->post(request); }
    json text(const std::string& control, const std::string& value) {
        return post({{"action", "text"}, {"control", control}, {"text", value}});
    }
    json check(const std::string& control, bool on = true) {
        return post({{"action", "check"}, {"control", control}, {"checked", on}});
    }
    json click(const std::string& control, json extra = json::object()) {
        extra["action"] = "click";
        extra["control"] = control;
        return post(extra);
    }
    std::string setting(const std::string& key) { return ReadSetting(rig.ctx(), key, "absent"); }
    static std::vector<std::string> texts(const json& reply) {
        std::vector<std::string> out;
        for (const auto& m : reply.at("messages")) out.push_back(m.at("text").get<std::string>());
        return out;
    }
};

TEST_F(WebForm, loading_gives_every_control_as_the_window_shows_it) {
    const json all = web->get();
    ASSERT_FALSE(all.contains("error")) << all.dump();
    const auto& controls = all.at("controls");
    // Every control the model set is one the page knows how to draw, and every one is there.
    for (const auto& [name, c] : controls.items()) EXPECT_NE(web::findControl(name), nullptr) << name;
    EXPECT_EQ(controls.size(), web::configControls().size());
    EXPECT_EQ(controls.at("TxtComPort").at("text"), "1");
    EXPECT_EQ(controls.at("TxtComPort").at("kind"), "text");
    EXPECT_EQ(controls.at("OKButton").at("text"), "Update");
    EXPECT_EQ(controls.at("aSyncMaster_0").at("checked"), true);
    EXPECT_EQ(controls.at("PortOpen").at("checked"), true);
    EXPECT_EQ(controls.at("List1").at("items").at(1), "Unit 1 SECU16");
    EXPECT_EQ(controls.at("IOPoint_0").at("visible"), false);
    EXPECT_EQ(controls.at("Check1_5").at("tab"), "general");
    EXPECT_EQ(controls.at("Label11").at("text"),
              "Note that the host will not communicate with Ocelot while CMAX is running.  Communications will be "
              "restored when CMAX closes.");
    EXPECT_EQ(all.at("busy"), false);
    // The plug-in reaches the form as its window; the desktop window cannot open beside it.
    EXPECT_TRUE(rig.ctx().window.open);
    EXPECT_EQ(rig.ctx().configWindow, web.get());
    // A second look opens nothing anew and changes nothing.
    EXPECT_EQ(web->get().at("controls"), controls);
}

TEST_F(WebForm, typed_settings_and_update_store_them_and_take_them_into_use) {
    struct Case {
        json action;
        const char* key;
        const char* stored;
    };
    const Case cases[] = {
        {{{"action", "text"}, {"control", "TxtPoll"}, {"text", "900"}}, "poll_interval", "900"},
        {{{"action", "text"}, {"control", "TxtComPort"}, {"text", "3"}}, "comport", "3"},
        {{{"action", "check"}, {"control", "ChkLogComms"}, {"checked", true}}, "log_comms", "1"},
        {{{"action", "check"}, {"control", "aSyncMaster_1"}, {"checked", true}}, "SyncMaster", "1"},
        {{{"action", "check"}, {"control", "showInMenu"}, {"checked", false}}, "showInMenu", "0"},
    };
    for (const auto& c : cases) {
        web->get();
        const std::string before = setting(c.key);
        const json r = post(c.action);
        ASSERT_FALSE(r.contains("error")) << r.dump();
        EXPECT_EQ(setting(c.key), before) << "stored before Update";
        const json done = click("OKButton");
        EXPECT_EQ(done.at("closed"), true) << c.key;
        EXPECT_TRUE(done.at("questions").empty());
        EXPECT_EQ(setting(c.key), c.stored) << c.key;
        EXPECT_FALSE(rig.ctx().window.open);
        EXPECT_EQ(rig.ctx().configWindow, rig.slot.get());
    }
    EXPECT_EQ(rig.ctx().timers.pollInterval, "900");
    EXPECT_EQ(rig.ctx().link.comport, 3);
    // Opened again, the form shows what was stored; an option pair has one member on.
    const json again = web->get();
    EXPECT_EQ(again.at("controls").at("TxtPoll").at("text"), "900");
    EXPECT_EQ(again.at("controls").at("aSyncMaster_1").at("checked"), true);
    EXPECT_EQ(again.at("controls").at("aSyncMaster_0").at("checked"), false);
}

TEST_F(WebForm, a_bad_field_is_refused_naming_it_and_nothing_is_stored) {
    web->get();
    // Out of range: the model's own check at Update, the form stays open with the edit.
    for (const char* poll : {"5", "99999", ""}) {
        ASSERT_FALSE(text("TxtPoll", poll).contains("error")) << poll;
        ASSERT_FALSE(check("ChkLogComms").contains("error"));
        const json r = click("OKButton");
        ASSERT_EQ(r.at("messages").size(), 1u) << poll;
        EXPECT_EQ(r.at("messages")[0].at("text"), "Poll interval must be a whole number from 100 to 60000");
        EXPECT_EQ(r.at("messages")[0].at("style"), "exclamation");
        EXPECT_EQ(r.at("closed"), false);
        EXPECT_EQ(setting("poll_interval"), "absent");
        EXPECT_EQ(setting("log_comms"), "absent");
        EXPECT_TRUE(web->formOpen());
    }
    // What the window's box would not take at all is refused where it enters.
    struct Case {
        const char* control;
        std::string value;
    };
    const Case refused[] = {
        {"TxtPoll", "abc"},
        {"TxtPoll", "123456"},
        {"TxtPoll", "-100"},
        {"TxtComPort", "1000"},
        {"aRemap_0", "12345"},
        {"TxtPoll", " 500"},
        {"aProjectFile", "/nowhere/x.prj"},
    };
    for (const auto& c : refused) {
        const std::string before = web->get().at("controls").at(c.control).at("text");
        const json r = text(c.control, c.value);
        ASSERT_TRUE(r.contains("error")) << c.control << " " << c.value;
        EXPECT_EQ(r.at("field"), c.control);
        EXPECT_NE(r.at("error").get<std::string>().find(c.control), std::string::npos) << r.dump();
        EXPECT_EQ(web->get().at("controls").at(c.control).at("text"), before) << c.control;
    }
}

TEST_F(WebForm, ticks_and_create_make_the_host_devices) {
    // A module with a mapping gets a row in the I/O grid.
    std::array<bool, 16> first{};
    first[0] = true;
    CreateModuleDevices(rig.ctx(), 1, first, false);
    ReadDeviceSettings(rig.ctx());
    web->get();
    ASSERT_FALSE(check("Check1_5").contains("error"));
    const json vars = click("aCreateVariables");
    ASSERT_FALSE(vars.contains("error")) << vars.dump();
    const int code = rig.ctx().devices.varsHouseCode;
    ASSERT_NE(code, 0);
    const std::string letter(1, static_cast<char>(code));
    ASSERT_NE(rig.device(letter + "6"), nullptr);
    EXPECT_EQ(rig.device(letter + "6")->name, "Variable 5");
    // The reply names the new device in the box's tip.
    EXPECT_EQ(vars.at("controls").at("Check1_5").at("tip").get<std::string>().rfind("Variable 5:", 0), 0u);

    ASSERT_FALSE(check("IOPoint_3").contains("error"));
    ASSERT_FALSE(click("ButCreate").contains("error"));
    const std::string house = web->get().at("controls").at("aIOHouse_0").at("text");
    EXPECT_NE(rig.device(house + "4"), nullptr);
    EXPECT_TRUE(pointSelected(rig.ctx(), 1, 3));
    EXPECT_TRUE(rig.engine.prompts.shown.empty()) << "the form's messages go to the page";
}

TEST_F(WebForm, an_unanswered_question_does_nothing_and_is_listed) {
    struct Case {
        bool yes;
        int variable;
        const char* poll;
    };
    for (const auto& c :
         {Case{.yes = true, .variable = 5, .poll = "700"}, Case{.yes = false, .variable = 6, .poll = "800"}}) {
        web->get();
        const std::string pollBefore = setting("poll_interval");
        check("Check1_" + std::to_string(c.variable));
        text("TxtPoll", c.poll);
        const json asked = click("OKButton");
        ASSERT_EQ(asked.at("questions"), json::array({kActOnChangesQuestion}));
        EXPECT_EQ(asked.at("closed"), false);
        EXPECT_TRUE(web->formOpen());
        EXPECT_EQ(setting("poll_interval"), pollBefore);
        EXPECT_EQ(rig.ctx().devices.varSelected[static_cast<std::size_t>(c.variable)], kFalse);
        EXPECT_TRUE(rig.engine.prompts.questions.empty());

        const json done = click("OKButton", {{"answers", {{kActOnChangesQuestion, c.yes}}}});
        EXPECT_EQ(done.at("closed"), true);
        EXPECT_EQ(setting("poll_interval"), c.poll);
        EXPECT_EQ(rig.ctx().devices.varSelected[static_cast<std::size_t>(c.variable)], c.yes ? kTrue : kFalse);
        EXPECT_TRUE(rig.engine.prompts.questions.empty());
    }
}

TEST_F(WebForm, closing_lists_every_question_it_will_ask_and_takes_each_answer) {
    web->get();
    rig.ctx().ir.filesPending = true;
    check("Check1_5");
    const json asked = click("CancelButton", {{"answers", {{kActOnChangesQuestion, false}}}});
    // Only what is still unanswered comes back.
    ASSERT_EQ(asked.at("questions"), json::array({kReplaceIrFilesQuestion}));
    const json done =
        click("CancelButton", {{"answers", {{kActOnChangesQuestion, false}, {kReplaceIrFilesQuestion, false}}}});
    EXPECT_EQ(done.at("closed"), true);
    EXPECT_FALSE(rig.ctx().ir.filesPending);
    EXPECT_EQ(rig.ctx().devices.varsHouseCode, 0);
    EXPECT_TRUE(rig.engine.prompts.questions.empty());
    // Closed, the plug-in's prompts are its usual ones again.
    rig.ctx().platform.prompts.message("after", PromptStyle::Information);
    ASSERT_EQ(rig.engine.prompts.shown.size(), 1u);
}

TEST_F(WebForm, a_form_left_open_is_closed_as_cancel_does_and_its_unread_messages_reach_the_log) {
    web->get();
    rig.ctx().ir.filesPending = true;
    text("TxtPoll", "800");
    rig.ctx().gate.exchangeDepth = 1;
    check("aIncludeMessages");  // held for the line: the form is busy
    EXPECT_FALSE(web->abandon(120'000));
    EXPECT_TRUE(web->formOpen());
    rig.ctx().gate.exchangeDepth = 0;
    rig.engine.run(100);
    web->get();  // the held click's message read

    rig.ctx().platform.prompts.message("port 1 could not be opened", PromptStyle::Critical);
    ASSERT_TRUE(rig.engine.prompts.shown.empty()) << "the form takes the plug-in's messages";
    ASSERT_TRUE(web->abandon(120'000));
    EXPECT_FALSE(web->formOpen());
    EXPECT_FALSE(rig.ctx().window.open);
    EXPECT_FALSE(rig.ctx().ir.filesPending) << "a closing question is taken as No";
    EXPECT_EQ(setting("poll_interval"), "absent") << "edits without Update are not stored";
    std::vector<std::string> shown;
    for (const auto& m : rig.engine.prompts.shown) shown.push_back(m.text);
    ASSERT_EQ(shown.size(), 3u) << testing::PrintToString(shown);
    EXPECT_EQ(shown[0], "port 1 could not be opened");
    EXPECT_EQ(shown[1], std::string("Not asked on the page, so taken as No: ") + kReplaceIrFilesQuestion);
    EXPECT_NE(shown[2].find("no page had been open for 2 minutes"), std::string::npos) << shown[2];
    // The next page finds a fresh form and is told the old one closed.
    const json next = web->get();
    EXPECT_EQ(next.at("closed"), true);
    EXPECT_EQ(next.at("controls").at("TxtPoll").at("text"), "500");
    EXPECT_TRUE(web->abandon(120'000));
}

TEST_F(WebForm, synchronize_asks_first_with_nothing_stored_then_runs) {
    const auto project = rig.file("junk.prj", "no System Map in here\r\n");
    web->get();
    check("aIncludeVariables");
    const json asked = click("aSynchronize", {{"path", project.string()}});
    ASSERT_EQ(asked.at("questions"),
              json::array({"Are you certain you want to overwrite CMAX System Map definitions?"}));
    EXPECT_EQ(setting("IncludeVariables"), "absent");
    EXPECT_EQ(setting("ProjectFile"), "absent");

    const json done = click("aSynchronize", {{"path", project.string()}, {"answers", {{asked["questions"][0], true}}}});
    EXPECT_EQ(setting("IncludeVariables"), "1");
    EXPECT_EQ(setting("ProjectFile"), project.string());
    EXPECT_EQ(texts(done),
              std::vector<std::string>{"Not synchronized: no System Map section found in the project file"});
    EXPECT_EQ(done.at("controls").at("aProjectFile").at("text"), project.string());
}

TEST_F(WebForm, a_path_is_checked_before_the_picker_takes_it) {
    const auto prj = rig.file("house.prj");
    web->get();
    struct Case {
        json extra;
        const char* problem;  // part of the refusal, nullptr when taken
    };
    const Case cases[] = {
        {json::object(), "no file at"},
        {{{"path", "/nowhere/house.prj"}}, "no file at"},
        {{{"path", rig.engine.dir.path().string()}}, "is not a regular file"},
        {{{"path", 7}}, "path must be a string"},
        {{{"path", prj.string()}}, nullptr},
    };
    for (const auto& c : cases) {
        const json r = click("aProjectFile", c.extra);
        if (c.problem == nullptr) {
            ASSERT_FALSE(r.contains("error")) << r.dump();
            EXPECT_EQ(setting("ProjectFile"), prj.string());
            continue;
        }
        ASSERT_TRUE(r.contains("error")) << c.extra.dump();
        EXPECT_EQ(r.at("field"), "aProjectFile");
        EXPECT_NE(r.at("error").get<std::string>().find(c.problem), std::string::npos) << r.dump();
        EXPECT_EQ(setting("ProjectFile"), "absent");
    }
    // Typed, it is checked the same way and stored by Update.
    ASSERT_FALSE(text("aCMAXexe", prj.string()).contains("error"));
    click("OKButton");
    EXPECT_EQ(setting("CMAXFile"), prj.string());
}

TEST_F(WebForm, requests_that_do_not_fit_are_refused_and_change_nothing) {
    const json before = web->get().at("controls");
    struct Case {
        json request;
        const char* field;
    };
    const Case cases[] = {
        {json::array({1, 2}), "request"},
        {{{"action", "fly"}}, "action"},
        {{{"action", 3}}, "action"},
        {{{"control", "OKButton"}}, "action"},
        {{{"action", "click"}, {"control", "Nope"}}, "control"},
        {{{"action", "click"}, {"control", std::string(100000, 'x')}}, "control"},
        {{{"action", "click"}, {"control", 5}}, "control"},
        {{{"action", "click"}, {"control", "OKButton"}, {"extra", 1}}, "extra"},
        {{{"action", "click"}, {"control", "OKButton"}, {"path", "/etc/hostname"}}, "path"},
        {{{"action", "click"}, {"control", "OKButton"}, {"answers", json::array({true})}}, "answers"},
        {{{"action", "click"}, {"control", "OKButton"}, {"answers", {{"Sure?", "yes"}}}}, "answers"},
        {{{"action", "click"}, {"control", "Check1_5"}}, "Check1_5"},
        {{{"action", "click"}, {"control", "lblver"}}, "lblver"},
        {{{"action", "check"}, {"control", "Check1_5"}, {"checked", "yes"}}, "Check1_5"},
        {{{"action", "check"}, {"control", "Check1_5"}}, "Check1_5"},
        {{{"action", "check"}, {"control", "TxtPoll"}, {"checked", true}}, "TxtPoll"},
        {{{"action", "check"}, {"control", "aSyncMaster_0"}, {"checked", false}}, "aSyncMaster_0"},
        {{{"action", "check"}, {"control", "PortOpen"}, {"checked", false}}, "PortOpen"},
        {{{"action", "check"}, {"control", "IOPoint_0"}, {"checked", true}}, "IOPoint_0"},  // no row shown
        {{{"action", "text"}, {"control", "TxtPoll"}, {"text", 500}}, "TxtPoll"},
        {{{"action", "text"}, {"control", "OKButton"}, {"text", "x"}}, "OKButton"},
        {{{"action", "text"}, {"control", "aProjectFile"}, {"text", std::string(5000, 'a')}}, "aProjectFile"},
        {{{"action", "text"}, {"control", "aProjectFile"}, {"text", "a\nb"}}, "aProjectFile"},
        {{{"action", "choose"}, {"control", "aIRDevice"}, {"index", 1.5}}, "aIRDevice"},
        {{{"action", "choose"}, {"control", "aIRDevice"}, {"index", 99}}, "aIRDevice"},
        {{{"action", "choose"}, {"control", "aIRDevice"}, {"index", -1}}, "aIRDevice"},
        {{{"action", "choose"}, {"control", "List1"}, {"index", 0}}, "List1"},
    };
    for (const auto& c : cases) {
        const json r = post(c.request);
        ASSERT_TRUE(r.contains("error")) << c.request.dump().substr(0, 200);
        EXPECT_EQ(r.at("field"), c.field) << r.dump().substr(0, 300);
    }
    EXPECT_EQ(web->get().at("controls"), before);
    EXPECT_EQ(setting("poll_interval"), "absent");
    EXPECT_FALSE(web->model()->variablesChanged());
}

TEST_F(WebForm, a_click_held_for_the_busy_line_reports_busy_then_its_outcome) {
    web->get();
    rig.ctx().gate.exchangeDepth = 1;  // as while a command waits for its reply
    const json held = check("aIncludeMessages");
    EXPECT_EQ(held.at("busy"), true);
    EXPECT_EQ(held.at("pending"), 1);
    EXPECT_TRUE(held.at("messages").empty());
    // A button is weighed against a settled form only: refused until the held click ran.
    const json refused = click("OKButton");
    EXPECT_EQ(refused.at("field"), "OKButton");
    EXPECT_TRUE(web->formOpen());
    rig.ctx().gate.exchangeDepth = 0;
    rig.engine.run(100);
    const json after = web->get();
    EXPECT_EQ(after.at("busy"), false);
    EXPECT_EQ(after.at("pending"), 0);
    EXPECT_EQ(texts(after), std::vector<std::string>{"Not Implemented"});
    EXPECT_EQ(after.at("controls").at("aIncludeMessages").at("checked"), false);
    // Delivered once.
    EXPECT_TRUE(web->get().at("messages").empty());
}

TEST_F(WebForm, the_desktop_window_and_the_page_never_have_the_form_at_once) {
    rig.open();
    ASSERT_TRUE(rig.ctx().window.open);
    EXPECT_EQ(web->get().at("field"), "form");
    EXPECT_EQ(post({{"action", "open"}}).at("field"), "form");
    rig.view->click("CancelButton");
    ASSERT_FALSE(web->get().contains("error"));
    EXPECT_EQ(rig.ctx().configWindow, web.get());
    // Open anew: edits are dropped, the stored state is shown.
    text("TxtPoll", "800");
    const json fresh = post({{"action", "open"}});
    EXPECT_EQ(fresh.at("controls").at("TxtPoll").at("text"), "500");
    web.reset();
    EXPECT_FALSE(rig.ctx().window.open);
    EXPECT_EQ(rig.ctx().configWindow, rig.slot.get());
}

}  // namespace
}  // namespace varnel
