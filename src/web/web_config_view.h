#pragma once
// The configuration window as the web page sees it: every control the desktop
// window has, by the same name, with its state kept here instead of in widgets.
// The page draws the form from this and sends the user's actions by name.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "window/window_view.h"

namespace varnel::web {

enum class ControlKind : std::uint8_t { Frame, Label, Text, Check, Option, Button, List, Choice, Lamp };

struct ControlSpec {
    std::string name;
    ControlKind kind = ControlKind::Label;
    const char* tab = "";  // "general", "io", "ir", "cmax"; "" for the buttons under the tabs
    std::string group;     // the frame it sits in ("" for none)
    std::string caption;   // what it shows before the model sets anything
    std::string label;     // a text box's or list's caption, for the page's <label>
    std::string tip;
    int digits = 0;     // a box that takes digits only: how many at most
    bool path = false;  // a file path box: typed or chosen, always an existing file
};

// Every control, in the order the window shows them.
const std::vector<ControlSpec>& configControls();
const ControlSpec* findControl(std::string_view name);
// The other button of an option pair ("aSyncMaster_0" for "aSyncMaster_1").
std::string optionPartner(const std::string& name);

class WebConfigView final : public WindowView {
public:
    struct Control {
        std::string text, tip;
        bool checked = false, enabled = true, visible = true;
        std::vector<std::string> items;
        int index = -1;
        bool operator==(const Control&) const = default;
    };

    WebConfigView();

    void setText(const std::string& control, const std::string& text) override;
    [[nodiscard]] std::string text(const std::string& control) const override { return find(control).text; }
    void setChecked(const std::string& control, bool on) override;
    [[nodiscard]] bool checked(const std::string& control) const override { return find(control).checked; }
    void setToolTip(const std::string& control, const std::string& tip) override;
    void setEnabled(const std::string& control, bool on) override;
    void setVisible(const std::string& control, bool on) override;
    void setItems(const std::string& control, const std::vector<std::string>& items) override;
    void setCurrentIndex(const std::string& control, int index) override;
    void bringToFront() override {}
    // Device creation runs inside one request: the page shows its own wait while that lasts.
    void setBusy(bool /*busy*/) override {}
    [[nodiscard]] std::intptr_t handle() const override { return 0; }
    void closeWindow() override { closed_ = true; }
    void attach(FrmConfig& /*model*/) override {}

    [[nodiscard]] const Control& find(const std::string& control) const;
    [[nodiscard]] bool closed() const { return closed_; }
    // Every control, or those changed since the last takeChanged; the changes are then forgotten.
    [[nodiscard]] nlohmann::json all() const;
    nlohmann::json takeChanged();

private:
    Control& edit(const std::string& control);
    void changed(const std::string& control) { changed_.insert(control); }
    [[nodiscard]] nlohmann::json describe(const std::string& name, const Control& c) const;

    std::map<std::string, Control, std::less<>> controls_;
    std::set<std::string> changed_;
    bool closed_ = false;
};

}  // namespace varnel::web
