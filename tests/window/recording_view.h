#pragma once
// A view without a display: keeps every control's state by name, as a widget
// would, so tests can play the user (tick, type, click) and read what is shown.
#include <map>
#include <string>
#include <vector>

#include "window/frm_config.h"
#include "window/window_view.h"

namespace varnel::test {

class RecordingView final : public WindowView {
public:
    struct Control {
        std::string text, toolTip;
        bool checked = false, enabled = true, visible = true;
        std::vector<std::string> items;
        int index = -1;
    };

    void setText(const std::string& c, const std::string& t) override { controls[c].text = t; }
    std::string text(const std::string& c) const override { return find(c).text; }
    void setChecked(const std::string& c, bool on) override { controls[c].checked = on; }
    bool checked(const std::string& c) const override { return find(c).checked; }
    void setToolTip(const std::string& c, const std::string& t) override { controls[c].toolTip = t; }
    void setEnabled(const std::string& c, bool on) override { controls[c].enabled = on; }
    void setVisible(const std::string& c, bool on) override { controls[c].visible = on; }
    void setItems(const std::string& c, const std::vector<std::string>& items) override { controls[c].items = items; }
    void setCurrentIndex(const std::string& c, int i) override { controls[c].index = i; }
    void bringToFront() override { ++raised; }
    void setBusy(bool) override {}
    std::intptr_t handle() const override { return 42; }
    void closeWindow() override { closed = true; }
    void attach(FrmConfig& m) override { model = &m; }

    // The user's side.
    void tick(const std::string& c, bool on = true) {
        controls[c].checked = on;
        model->clicked(c);
    }
    void type(const std::string& c, const std::string& t) {
        controls[c].text = t;
        model->clicked(c);
    }
    void click(const std::string& c) { model->clicked(c); }
    void choose(const std::string& c, int i) {
        controls[c].index = i;
        model->chosen(c, i);
    }

    const Control& find(const std::string& c) const {
        static const Control none;
        const auto it = controls.find(c);
        return it == controls.end() ? none : it->second;
    }

    std::map<std::string, Control> controls;
    FrmConfig* model = nullptr;
    int raised = 0;
    bool closed = false;
};

}  // namespace varnel::test
