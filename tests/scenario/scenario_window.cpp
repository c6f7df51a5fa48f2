// window ... directives: the configuration window on a view without a display, played as
// the user would (tick, type, click, choose) and read back as it shows itself.
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "devices/device_model.h"
#include "platform/virtual/recording_file_picker.h"
#include "recording_view.h"
#include "scenario_parts.h"
#include "support/settings.h"
#include "web/web_config.h"
#include "window/window_slot.h"

namespace varnel::test {
namespace {

class Window final : public ScenarioPart {
public:
    bool directive(Scenario& s, const std::vector<std::string>& w, const std::string& line) override;
    void ending() override {
        web_.reset();
        slot_.reset();
        view_ = nullptr;
    }

private:
    std::string shown(const std::string& name) const;
    std::string state(Scenario& s) const;
    bool webform(Scenario& s, const std::vector<std::string>& w, const std::string& line);
    void reply(Scenario& s, const nlohmann::json& r, const std::vector<std::string>& controls);
    std::unique_ptr<web::WebConfig> web_;
    RecordingFilePicker picker_;
    std::unique_ptr<ConfigWindowSlot> slot_;
    RecordingView* view_ = nullptr;
};

// A control as it shows: only what differs from an empty, enabled, visible one.
std::string Window::shown(const std::string& name) const {
    const auto& c = view_->find(name);
    std::string out = name + ":";
    if (!c.text.empty()) out += " \"" + c.text + "\"";
    if (c.checked) out += " ticked";
    if (!c.enabled) out += " disabled";
    if (!c.visible) out += " hidden";
    if (!c.toolTip.empty()) out += " tip \"" + c.toolTip + "\"";
    if (!c.items.empty()) out += " " + std::to_string(c.items.size()) + " items from \"" + c.items[0] + "\"";
    if (c.index >= 0) out += " at " + std::to_string(c.index);
    return out;
}

// What the plug-in took from the window.
std::string Window::state(Scenario& s) const {
    auto& c = s.rig->ctx();
    std::string ir;
    for (std::size_t i = 0; i < c.ir.map.size(); ++i)
        if (!c.ir.map[i].empty()) ir += " " + std::to_string(i) + "=" + c.ir.map[i];
    std::string vars;
    for (std::size_t i = 0; i < c.devices.varSelected.size(); ++i)
        if (c.devices.varSelected[i] == kTrue) vars += " " + std::to_string(i);
    const auto* m = slot_ ? slot_->window() : nullptr;
    return std::string(c.window.open ? "open" : "closed") + (m && m->heldClicks() ? ", clicks held" : "") +
           (m && m->variablesChanged() ? ", variables changed" : "") + "; port " + std::to_string(c.link.comport) +
           ", poll " + c.timers.pollInterval + " (running " + std::to_string(c.timers.timer2->interval()) +
           "), log comms " + std::to_string(c.switches.logComms) + ", x10 sent " + std::to_string(c.switches.x10Xmit) +
           ", interface " + c.devices.interfaceName + ", variables house " +
           (c.devices.varsHouseCode ? std::string(1, static_cast<char>(c.devices.varsHouseCode)) : "-") + ", selected" +
           (vars.empty() ? " none" : vars) + ", remaps" + (ir.empty() ? " none" : ir) +
           (c.ir.filesPending ? ", IR files pending" : "") + (c.link.commStarted ? ", link started" : "") +
           (c.timers.cmaxLaunch ? ", cmax" : "") + (c.timers.disconnectRequest ? ", disconnect asked" : "");
}

// A reply of the page's form: everything but the controls, then the controls asked for
// (all those the reply carries when it carries a few).
void Window::reply(Scenario& s, const nlohmann::json& r, const std::vector<std::string>& controls) {
    nlohmann::json rest = r;
    rest.erase("controls");
    s.transcript.line("  " + rest.dump());
    if (!r.contains("controls")) return;
    const auto& c = r.at("controls");
    std::vector<std::string> names = controls;
    if (names.empty() && c.size() <= 4)
        for (const auto& [name, _] : c.items()) names.push_back(name);
    if (names.empty()) s.transcript.line("  " + std::to_string(c.size()) + " controls");
    for (const auto& name : names)
        s.transcript.line("  " + name + " " + (c.contains(name) ? c.at(name).dump() : std::string("absent")));
}

// webform ... directives: the configuration form of the web page, as the page's requests
// reach it. In a request, <C*N> stands for N times the character C.
bool Window::webform(Scenario& s, const std::vector<std::string>& w, const std::string& line) {
    const std::string& what = w.at(1);
    if (what == "close") return web_.reset(), true;
    if (what == "state") {
        auto& c = s.rig->ctx();
        const bool open = web_ && web_->formOpen();
        return s.transcript.line(std::string("  form ") + (open ? "open" : "closed") + ", window " +
                                 (c.window.open ? "open" : "closed") + ", the plug-in reaches " +
                                 (web_ && c.configWindow == web_.get() ? "the form"
                                  : c.configWindow == slot_.get()      ? "the desktop window"
                                                                       : "no window") +
                                 (open && web_->model()->variablesChanged() ? ", variables changed" : "")),
               true;
    }
    if (!web_) web_ = std::make_unique<web::WebConfig>(s.rig->ctx(), s.rig->promptsSwitch);
    if (what == "get") return reply(s, web_->get(), {w.begin() + 2, w.end()}), true;
    if (what == "prompt")  // the plug-in tells the user something while the form is open
        return s.rig->ctx().platform.prompts.message(restOf(line, 2), PromptStyle::Critical), true;
    if (what == "abandon")
        return s.transcript.line(std::string("  ") + (web_->abandon(std::stoi(w.at(2))) ? "closed" : "kept")), true;
    if (what != "post") throw std::invalid_argument("webform: " + what);
    std::string text = restOf(line, 2);
    for (auto at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
        const auto end = text.find('>', at);
        if (end == std::string::npos || end < at + 4 || text[at + 2] != '*') continue;
        const std::string n = text.substr(at + 3, end - at - 3);
        if (n.find_first_not_of("0123456789") != std::string::npos) continue;
        text.replace(at, end - at + 1, std::string(std::stoul(n), text[at + 1]));
    }
    for (auto at = text.find("<host>"); at != std::string::npos; at = text.find("<host>"))
        text.replace(at, 6, s.dir->path().string());
    return reply(s, web_->post(nlohmann::json::parse(text)), {}), true;
}

bool Window::directive(Scenario& s, const std::vector<std::string>& w, const std::string& line) {
    const bool form = w[0] == "webform";
    if ((!form && w[0] != "window") || w.size() < 2) return false;
    s.build();
    if (!slot_)
        slot_ = std::make_unique<ConfigWindowSlot>(s.rig->ctx(), picker_, [this] {
            auto v = std::make_unique<RecordingView>();
            view_ = v.get();
            return v;
        });
    if (form) return webform(s, w, line);
    const std::string& what = w[1];
    // <host> in a text stands for the host directory.
    const auto text = [&](std::string t) {
        for (auto at = t.find("<host>"); at != std::string::npos; at = t.find("<host>"))
            t.replace(at, 6, s.dir->path().string());
        return t;
    };
    if (what == "open") return s.rig->plugin->SelectMenu("Setup"), true;
    if (what == "pick") {  // window pick PATH|- ...: the picker's next answers, "-" cancelled
        for (std::size_t i = 2; i < w.size(); ++i) picker_.answers.push_back(w[i] == "-" ? "" : text(w[i]));
        return true;
    }
    if (what == "state") return s.transcript.line("  " + state(s)), true;
    if (what == "stored") {  // window stored KEY...: the settings as stored, "-" for one not stored
        std::string out;
        for (std::size_t i = 2; i < w.size(); ++i) out += " " + w[i] + "=" + ReadSetting(s.rig->ctx(), w[i], "-");
        return s.transcript.line(" " + out), true;
    }
    if (what == "executable")  // window executable PATH: a script of the host directory may run
        return std::filesystem::permissions(s.dir->path() / w.at(2), std::filesystem::perms::owner_all), true;
    if (what == "program-ends") {  // window program-ends exit N | crashed | unstartable WHY
        ProgramEnd end;
        if (w.at(2) == "exit") end.exitCode = std::stoi(w.at(3));
        if (w[2] == "crashed") end.crashed = true;
        if (w[2] == "unstartable") end = ProgramEnd{.started = false, .error = restOf(line, 3)};
        return s.rig->launcher.end(end), true;
    }
    if (!view_) throw std::invalid_argument("window: not opened");
    auto& v = *view_;
    if (what == "show") {
        for (std::size_t i = 2; i < w.size(); ++i) s.transcript.line("  " + shown(w[i]));
    } else if (what == "rows") {
        std::string out;
        for (int unit = 1; unit <= 17; ++unit) out += " " + std::to_string(slot_->window()->rowOfUnit(unit));
        s.transcript.line("  rows of units 1-17:" + out);
    } else if (what == "click") {
        v.click(w.at(2));
    } else if (what == "tick" || what == "untick") {
        v.tick(w.at(2), what == "tick");
    } else if (what == "type") {
        v.type(w.at(2), text(restOf(line, 3)));
    } else if (what == "set") {  // text or tick changed without a click, as a box is edited
        v.controls[w.at(2)].text = text(restOf(line, 3));
    } else if (what == "check") {
        v.controls[w.at(2)].checked = w.at(3) == "on";
    } else if (what == "choose") {
        v.choose(w.at(2), std::stoi(w.at(3)));
    } else {
        throw std::invalid_argument("window: " + what);
    }
    return true;
}

const bool registered = registerPart([] { return std::make_unique<Window>(); });

}  // namespace
}  // namespace varnel::test
