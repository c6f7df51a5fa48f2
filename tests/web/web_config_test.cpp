// The configuration form on the web page: the window's model driven by the page's
// requests, refusing what the window would not take and asking before it acts.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "web/web_config.h"
#include "window_rig.h"

namespace varnel {
namespace {

using nlohmann::json;

const std::string kActOnChanges =
    "Changes were made to Variables or IO Point Devices.  Should these changes be acted upon?";
const std::string kReplaceIrFiles =
    "IR Label Files have been created from CMAX System Map.  Their use requires a host restart.  Do you want them to "
    "replace existing ones after the host shuts down?";

struct WebForm : ::testing::Test {
    // The desktop window's rig: plug-in, host and controller, and a desktop window not opened.
    test::WindowRig rig;
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
    json control(const std::string& name) { return web->get().at("controls").at(name); }
    static std::string texts(const json& reply) {
        std::string out;
        for (const auto& m : reply.at("messages")) out += m.at("text").get<std::string>() + "\n";
        return out;
    }
};

TEST_F(WebForm, loading_gives_the_controls_as_the_window_shows_them_and_update_stores_the_edits) {
    const json all = web->get();
    const auto& c = all.at("controls");
    EXPECT_EQ(c.at("TxtComPort"), json::parse(R"({"checked":false,"enabled":true,"group":"Frame10","index":-1,
        "items":[],"kind":"text","label":"Com port:","order":8,"tab":"general","text":"1","tip":"","visible":true})"));
    EXPECT_EQ(c.at("OKButton").at("text"), "Update");
    EXPECT_EQ(c.at("Label11").at("text"),
              "Note that the host will not communicate with Ocelot while CMAX is running.  Communications will be "
              "restored when CMAX closes.");
    EXPECT_EQ(all.at("busy"), false);
    // The plug-in reaches the form as its window; the desktop window cannot open beside it.
    EXPECT_TRUE(rig.ctx().window.open);
    EXPECT_EQ(rig.ctx().configWindow, web.get());

    ASSERT_FALSE(text("TxtPoll", "900").contains("error"));
    ASSERT_FALSE(check("aSyncMaster_1").contains("error"));
    EXPECT_EQ(rig.stored({"poll_interval"}), "poll_interval=-") << "stored by Update";
    const json done = click("OKButton");
    EXPECT_EQ(done.at("closed"), true);
    EXPECT_TRUE(done.at("questions").empty());
    EXPECT_EQ(rig.stored({"poll_interval", "SyncMaster"}), "poll_interval=900 SyncMaster=1");
    EXPECT_FALSE(rig.ctx().window.open);
    EXPECT_EQ(rig.ctx().configWindow, rig.slot.get());
}

TEST_F(WebForm, a_bad_field_is_refused_naming_it_and_nothing_is_stored) {
    web->get();
    // Out of range: the model's own check at Update, the form stays open with the edit.
    ASSERT_FALSE(text("TxtPoll", "5").contains("error"));
    const json r = click("OKButton");
    EXPECT_EQ(
        r.at("messages"),
        json::array({{{"style", "exclamation"}, {"text", "Poll interval must be a whole number from 100 to 60000"}}}));
    EXPECT_EQ(r.at("closed"), false);
    EXPECT_TRUE(web->formOpen());
    // What the window's box would not take at all is refused where it enters.
    const std::pair<const char*, std::string> refused[] = {
        {"TxtPoll", "abc"},
        {"TxtPoll", "123456"},
        {"TxtPoll", "-100"},
        {"TxtComPort", "1000"},
        {"aRemap_0", "12345"},
        {"TxtPoll", " 500"},
        {"aProjectFile", "/nowhere/x.prj"},
    };
    for (const auto& [name, value] : refused) {
        const json before = control(name);
        const json r = text(name, value);
        EXPECT_EQ(r.value("field", ""), name) << value;
        EXPECT_NE(r.value("error", "").find(name), std::string::npos) << r.dump();
        EXPECT_EQ(control(name), before) << name;
    }
}

TEST_F(WebForm, create_goes_to_the_model_and_its_messages_to_the_page) {
    web->get();
    ASSERT_FALSE(check("Check1_5").contains("error"));
    const json vars = click("aCreateVariables");
    const int code = rig.ctx().devices.varsHouseCode;
    ASSERT_NE(code, 0);
    EXPECT_EQ(vars.at("controls").at("Check1_5").at("tip"),
              "Variable 5:" + std::string(1, static_cast<char>(code)) + "6 Ocelot Variable 5");
    click("Command1");
    EXPECT_EQ(texts(click("Command1")), "Leopard device is already created\n");
    EXPECT_TRUE(rig.engine.prompts.shown.empty()) << "the form's messages go to the page";
}

TEST_F(WebForm, an_unanswered_question_does_nothing_and_is_listed_then_the_answer_is_taken) {
    web->get();
    check("Check1_5");
    text("TxtPoll", "700");
    const json asked = click("OKButton");
    ASSERT_EQ(asked.at("questions"), json::array({kActOnChanges}));
    EXPECT_EQ(asked.at("closed"), false);
    EXPECT_TRUE(web->formOpen());
    EXPECT_EQ(rig.stored({"poll_interval"}), "poll_interval=-");
    EXPECT_EQ(rig.ctx().devices.varSelected[5], kFalse);
    const json done = click("OKButton", {{"answers", {{kActOnChanges, true}}}});
    EXPECT_EQ(done.at("closed"), true);
    EXPECT_EQ(rig.stored({"poll_interval"}), "poll_interval=700");
    EXPECT_EQ(rig.ctx().devices.varSelected[5], kTrue);
    EXPECT_TRUE(rig.engine.prompts.questions.empty());
    // Closing lists only what is still unanswered, and takes each answer.
    web->get();
    rig.ctx().ir.filesPending = true;
    check("Check1_7");
    ASSERT_EQ(click("CancelButton", {{"answers", {{kActOnChanges, false}}}}).at("questions"),
              json::array({kReplaceIrFiles}));
    EXPECT_EQ(click("CancelButton", {{"answers", {{kActOnChanges, false}, {kReplaceIrFiles, false}}}}).at("closed"),
              true);
    EXPECT_FALSE(rig.ctx().ir.filesPending);
    EXPECT_EQ(rig.ctx().devices.varSelected[7], kFalse);
    // Closed, the plug-in's prompts are its usual ones again.
    rig.ctx().platform.prompts.message("after", PromptStyle::Information);
    EXPECT_EQ(rig.shown(), "after\n");
}

TEST_F(WebForm, a_form_left_open_is_closed_as_cancel_does_and_its_unread_messages_reach_the_log) {
    web->get();
    rig.ctx().ir.filesPending = true;
    text("TxtPoll", "800");
    rig.ctx().gate.exchangeDepth = 1;
    const json held = check("aIncludeMessages");  // held for the line: the form is busy
    EXPECT_EQ(held.at("busy"), true);
    EXPECT_EQ(held.at("pending"), 1);
    // A button is weighed against a settled form only: refused until the held click ran.
    EXPECT_EQ(click("OKButton").at("field"), "OKButton");
    EXPECT_FALSE(web->abandon(120'000));
    EXPECT_TRUE(web->formOpen());
    rig.ctx().gate.exchangeDepth = 0;
    rig.engine.run(100);
    const json after = web->get();
    EXPECT_EQ(after.at("pending"), 0);
    EXPECT_EQ(texts(after), "Not Implemented\n");
    EXPECT_EQ(after.at("controls").at("aIncludeMessages").at("checked"), false);
    EXPECT_TRUE(web->get().at("messages").empty()) << "delivered once";

    rig.ctx().platform.prompts.message("port 1 could not be opened", PromptStyle::Critical);
    ASSERT_TRUE(rig.engine.prompts.shown.empty()) << "the form takes the plug-in's messages";
    ASSERT_TRUE(web->abandon(120'000));
    EXPECT_FALSE(web->formOpen());
    EXPECT_FALSE(rig.ctx().window.open);
    EXPECT_FALSE(rig.ctx().ir.filesPending) << "a closing question is taken as No";
    EXPECT_EQ(rig.stored({"poll_interval"}), "poll_interval=-") << "edits without Update are not stored";
    const std::string shown = rig.shown();
    EXPECT_EQ(shown.substr(0, shown.find("no page had been open")),
              std::string("port 1 could not be opened\nNot asked on the page, so taken as No: ") + kReplaceIrFiles +
                  "\nThe configuration form on the web page was closed: ");
    EXPECT_NE(shown.find("no page had been open for 2 minutes"), std::string::npos) << shown;
    // The next page finds a fresh form and is told the old one closed.
    const json next = web->get();
    EXPECT_EQ(next.at("closed"), true);
    EXPECT_EQ(next.at("controls").at("TxtPoll").at("text"), "500");
}

TEST_F(WebForm, synchronize_asks_first_and_a_path_is_checked_before_the_picker_takes_it) {
    const auto prj = rig.file("junk.prj", "no System Map in here\r\n");
    web->get();
    const std::pair<json, const char*> cases[] = {
        {json::object(), "no file at"},
        {{{"path", "/nowhere/house.prj"}}, "no file at"},
        {{{"path", rig.engine.dir.path().string()}}, "is not a regular file"},
        {{{"path", 7}}, "path must be a string"},
        {{{"path", std::string(web::kMaxTextBytes, 'a')}}, "no file at"},
        {{{"path", std::string(web::kMaxTextBytes + 1, 'a')}}, "longer than 4096 bytes"},
    };
    for (const auto& [extra, problem] : cases) {
        const json r = click("aProjectFile", extra);
        EXPECT_EQ(r.value("field", ""), "aProjectFile") << extra.dump();
        EXPECT_NE(r.value("error", "").find(problem), std::string::npos) << r.dump();
    }
    EXPECT_EQ(rig.stored({"ProjectFile"}), "ProjectFile=-");
    ASSERT_FALSE(click("aProjectFile", {{"path", prj.string()}}).contains("error"));
    EXPECT_EQ(rig.stored({"ProjectFile"}), "ProjectFile=" + prj.string());
    // Typed, it is checked the same way and stored by Update.
    ASSERT_FALSE(text("aCMAXexe", prj.string()).contains("error"));

    check("aIncludeVariables");
    const json asked = click("aSynchronize", {{"path", prj.string()}});
    ASSERT_EQ(asked.at("questions"),
              json::array({"Are you certain you want to overwrite CMAX System Map definitions?"}));
    EXPECT_EQ(rig.stored({"IncludeVariables"}), "IncludeVariables=-");
    const json done = click("aSynchronize", {{"path", prj.string()}, {"answers", {{asked["questions"][0], true}}}});
    EXPECT_EQ(rig.stored({"IncludeVariables"}), "IncludeVariables=1");
    EXPECT_EQ(texts(done), "Not synchronized: no System Map section found in the project file\n");
    click("OKButton");
    EXPECT_EQ(rig.stored({"CMAXFile"}), "CMAXFile=" + prj.string());
}

TEST_F(WebForm, requests_that_do_not_fit_are_refused_and_change_nothing) {
    const json before = web->get().at("controls");
    const std::pair<json, const char*> cases[] = {
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
    for (const auto& [request, field] : cases) {
        const json r = post(request);
        ASSERT_TRUE(r.contains("error")) << request.dump().substr(0, 200);
        EXPECT_EQ(r.at("field"), field) << r.dump().substr(0, 300);
    }
    EXPECT_EQ(web->get().at("controls"), before);
    EXPECT_EQ(rig.stored({"poll_interval"}), "poll_interval=-");
    EXPECT_FALSE(web->model()->variablesChanged());
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
    EXPECT_EQ(post({{"action", "open"}}).at("controls").at("TxtPoll").at("text"), "500");
    web.reset();
    EXPECT_FALSE(rig.ctx().window.open);
    EXPECT_EQ(rig.ctx().configWindow, rig.slot.get());
}

}  // namespace
}  // namespace varnel
