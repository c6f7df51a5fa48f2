#include "web/web_config_view.h"

#include <algorithm>

#include "commands/ir_files.h"
#include "support/codepage.h"
#include "support/settings.h"

namespace varnel::web {

namespace {

using nlohmann::json;
using K = ControlKind;

// The same controls, captions and tips as the desktop window, so both read alike.
std::vector<ControlSpec> buildControls() {
    std::vector<ControlSpec> out;
    const char* tab = "";
    std::string group;
    auto add = [&](std::string name, ControlKind kind, std::string caption = {}) -> ControlSpec& {
        out.push_back({.name = std::move(name),
                       .kind = kind,
                       .tab = tab,
                       .group = group,
                       .caption = std::move(caption),
                       .label = {},
                       .tip = {},
                       .digits = 0,
                       .path = false});
        return out.back();
    };
    auto frame = [&](const char* tabName, const std::string& name, const std::string& title) {
        tab = tabName;
        group = {};
        add(name, K::Frame, title);
        group = name;
    };
    auto indexed = [](const char* array, int i) { return controlName(array, i); };

    frame("general", "Frame11", "Interface Name");
    add(indexed("aInterfaceChange", 1), K::Option, "Varnel");
    add(indexed("aInterfaceChange", 0), K::Option, "Applied Digital Ocelot");
    add("aClock", K::Button, "Set Clock");
    frame("general", "Frame10", "Connectivity");
    add("aUpdateStrings", K::Check, "Send Device String Update  on Value Change");
    add("aRunAsXapNode", K::Check, "Run as XAP node,  HS is User Interface");
    add("Label3", K::Label, "Com port:");
    add("TxtComPort", K::Text).label = "Com port:";
    out.back().digits = 3;
    const std::string pollCaption = "Poll Interval (milliseconds) (for variable changes only):";
    add("Label4", K::Label, pollCaption);
    auto& poll = add("TxtPoll", K::Text);
    poll.label = pollCaption;
    poll.digits = 5;
    poll.tip = "Time between two reads of the controller's variables, " + std::to_string(setting::kPollInterval.min) +
               " to " + std::to_string(setting::kPollInterval.max) + " milliseconds";
    add("PortOpen", K::Lamp);
    add("Label7", K::Label, "Com Open");
    add("Disconnect", K::Button, "Disconnect from Ocelot");
    frame("general", "Frame3", "Logging");
    add("ChkLogErrors", K::Check, "Log checksum errors and serial timeouts");
    add("ChkLogComms", K::Check, "Log comms to ocelot.log").tip = "Log serial communications to log file";
    frame("general", "frm", "Preferences");
    add("aX10Xmit", K::Check, "Process X10 Transmit from Ocelot");
    add("showInMenu", K::Check, "Show Setup Page on Host Title Bar");
    frame("general", "Frame5", "IR Recognition");
    add("aIRRecognitionForward", K::Check, "Do Not Forward IR Recognition to Host");
    frame("general", indexed("Frame1", 1), "Variables To/From Host Devices");
    for (int half = 0; half < 2; ++half) {
        add(half == 0 ? "aVariableHouseCode1" : "aVariableHouseCode2", K::Label);
        for (int k = half * 64; k < half * 64 + 64; ++k) add(indexed("Check1", k), K::Check);
    }
    add("aCreateVariables", K::Button, "Create and Delete Variables");
    add("Command1", K::Button, "Create Leopard Device");

    frame("io", indexed("Frame1", 0), "Controller & I/O Units");
    add("Label1", K::Label, "Units discovered:");
    add("List1", K::List).label = "Units discovered:";
    add("ChkInvert", K::Check, "Invert Inputs");
    frame("io", "Frame2", "");
    add(indexed("Label9", 0), K::Label, "Invert");
    add(indexed("Label9", 1), K::Label, "Hse");
    add(indexed("Label8", 0), K::Label, "Type");
    for (int i = 1; i < 4; ++i) add(indexed("Label8", i), K::Label);
    for (int p = 0; p < 16; ++p) add(indexed("Label2", 10 + p), K::Label, std::to_string(p + 1));
    add("Line1", K::Label);
    for (int r = 0; r < 16; ++r) {
        add(indexed("aInvert", r), K::Check);
        add(indexed("aIOHouse", r), K::Label);
        for (int i : {r + 32, r + 16, r}) add(indexed("aIOUnit", i), K::Label);
        for (int p = 0; p < 16; ++p) add(indexed("IOPoint", 16 * r + p), K::Check);
    }
    add("ButCreate", K::Button, "Create and Delete  I/O Point Devices ");

    tab = "ir";
    group = {};
    add("Label10", K::Label, "IR Devce");
    add("aIRDevice", K::Choice).label = "IR Devce";
    for (int col = 0; col < 3; ++col) {
        add(indexed("Label12", col), K::Label, "Host IR Definition ");
        add(indexed("Label13", col), K::Label, "Remap to IR Loc");
        for (int r = 0; r < 12; ++r) {
            const int i = col * 12 + r;
            add(indexed("aIRLabel", i), K::Label);
            auto& remap = add(indexed("aRemap", i), K::Text);
            remap.label = "Remap to IR Loc";
            remap.digits = 4;
        }
    }

    frame("cmax", "Applications", "Applications");
    add("aIRMax", K::Button, "IRMax");
    add("aCMAX", K::Button, "CMAX");
    add("Label15", K::Label, "Script Varnel_CMAXSync.txt is called before and after CMAX execution.");
    add("Label11", K::Label,
        "Note that the host will not communicate with Ocelot while CMAX is running.  Communications will be "
        "restored when CMAX closes.");
    frame("cmax", "Include", "Include Following for Synchronization");
    add("aIncludeVariables", K::Check, "Variables");
    add("aIncludeX10", K::Check, "X10");
    add("aIncludeIO", K::Check, "I/O Units");
    add("aIncludeIR", K::Check, "IR Labels");
    add("aIncludeMessages", K::Check, "Messages");
    frame("cmax", "Synchronize", "Synchronize System Map and Host Definitions");
    add(indexed("aSyncMaster", 0), K::Option, "Host Master").tip = "Select if Host Devices contain Master Definitions";
    add(indexed("aSyncMaster", 1), K::Option, "CMAX Master").tip =
        "Select if CMAX System Map Contains the Master Definitions";
    add("aSynchronize", K::Button, "Synchronize HS/CMAX");
    frame("cmax", "CMAXFiles", "CMAX Files");
    for (auto [name, caption] :
         {std::pair{"aIRMaxExe", "IRmax.exe Path"}, std::pair{"aProjectFile", "Project File Path"},
          std::pair{"aCMAXexe", "cpuxa.exe Path"}}) {
        auto& box = add(name, K::Text);
        box.label = caption;
        box.path = true;
    }

    tab = "";
    group = {};
    add("lblver", K::Label);
    add("OKButton", K::Button, "Update");
    add("CancelButton", K::Button, "Cancel");

    return out;
}

const std::map<std::string, std::size_t, std::less<>>& controlIndex() {
    static const auto index = [] {
        std::map<std::string, std::size_t, std::less<>> m;
        const auto& all = configControls();
        for (std::size_t i = 0; i < all.size(); ++i) m.emplace(all[i].name, i);
        return m;
    }();
    return index;
}

const char* kindName(ControlKind k) {
    switch (k) {
        case K::Frame: return "frame";
        case K::Label: return "label";
        case K::Text: return "text";
        case K::Check: return "check";
        case K::Option: return "option";
        case K::Button: return "button";
        case K::List: return "list";
        case K::Choice: return "choice";
        case K::Lamp: return "lamp";
    }
    return "label";
}

}  // namespace

const std::vector<ControlSpec>& configControls() {
    static const std::vector<ControlSpec> all = buildControls();
    return all;
}

const ControlSpec* findControl(std::string_view name) {
    const auto& index = controlIndex();
    const auto it = index.find(name);
    return it == index.end() ? nullptr : &configControls()[it->second];
}

std::string optionPartner(const std::string& name) {
    if (name.size() < 2 || name[name.size() - 2] != '_') return {};
    const char last = name.back();
    if (last != '0' && last != '1') return {};
    return name.substr(0, name.size() - 1) + (last == '0' ? '1' : '0');
}

WebConfigView::WebConfigView() {
    for (const auto& spec : configControls()) {
        Control c;
        c.text = spec.caption;
        c.tip = spec.tip;
        controls_.emplace(spec.name, std::move(c));
    }
}

const WebConfigView::Control& WebConfigView::find(const std::string& control) const {
    static const Control none;
    const auto it = controls_.find(control);
    return it == controls_.end() ? none : it->second;
}

WebConfigView::Control& WebConfigView::edit(const std::string& control) { return controls_[control]; }

void WebConfigView::setText(const std::string& control, const std::string& text) {
    auto& c = edit(control);
    if (c.text == text) return;
    c.text = text;
    changed(control);
}

void WebConfigView::setChecked(const std::string& control, bool on) {
    auto& c = edit(control);
    if (c.checked == on) return;
    c.checked = on;
    changed(control);
}

void WebConfigView::setToolTip(const std::string& control, const std::string& tip) {
    auto& c = edit(control);
    if (c.tip == tip) return;
    c.tip = tip;
    changed(control);
}

void WebConfigView::setEnabled(const std::string& control, bool on) {
    auto& c = edit(control);
    if (c.enabled == on) return;
    c.enabled = on;
    changed(control);
}

void WebConfigView::setVisible(const std::string& control, bool on) {
    auto& c = edit(control);
    if (c.visible == on) return;
    c.visible = on;
    changed(control);
}

void WebConfigView::setItems(const std::string& control, const std::vector<std::string>& items) {
    auto& c = edit(control);
    if (c.items == items) return;
    c.items = items;
    changed(control);
}

void WebConfigView::setCurrentIndex(const std::string& control, int index) {
    auto& c = edit(control);
    if (c.index == index) return;
    c.index = index;
    changed(control);
}

json WebConfigView::describe(const std::string& name, const Control& c) const {
    const ControlSpec* spec = findControl(name);
    json items = json::array();
    // Texts come from settings and files: whatever their bytes, the page gets UTF-8.
    for (const auto& i : c.items) items.push_back(toUtf8(i));
    return {
        {"kind", kindName(spec ? spec->kind : K::Label)},
        {"tab", spec ? spec->tab : ""},
        {"group", spec ? spec->group : ""},
        {"order", spec ? static_cast<int>(spec - configControls().data()) : static_cast<int>(configControls().size())},
        {"label", spec ? spec->label : ""},
        {"text", toUtf8(c.text)},
        {"checked", c.checked},
        {"enabled", c.enabled},
        {"visible", c.visible},
        {"items", std::move(items)},
        {"index", c.index},
        {"tip", toUtf8(c.tip)},
    };
}

json WebConfigView::all() const {
    json out = json::object();
    for (const auto& [name, c] : controls_) out[name] = describe(name, c);
    return out;
}

json WebConfigView::takeChanged() {
    json out = json::object();
    for (const auto& name : changed_) out[name] = describe(name, find(name));
    changed_.clear();
    return out;
}

}  // namespace varnel::web
