#pragma once
// Where the configuration window lives while it is open: the plug-in opens it
// (or brings it to the front) and reaches it from the I/O timer through this
// slot, and it is dropped once it has closed.
#include <functional>
#include <memory>

#include "platform/file_picker.h"
#include "plugin/plugin_state.h"
#include "window/frm_config.h"
#include "window/window_view.h"

namespace varnel {

class ConfigWindowSlot final : public ConfigWindow {
public:
    using ViewFactory = std::function<std::unique_ptr<WindowView>()>;
    // Becomes the plug-in's configuration window until destroyed.
    ConfigWindowSlot(PluginState& ctx, FilePicker& picker, ViewFactory makeView);
    ~ConfigWindowSlot() override;
    ConfigWindowSlot(const ConfigWindowSlot&) = delete;
    ConfigWindowSlot& operator=(const ConfigWindowSlot&) = delete;

    // Loads the window, or brings the open one to the front.
    void show();
    void show(bool /*modal*/) override { show(); }
    void showPortOpen(bool on) override;
    void clickDisconnect() override;
    void programFailed(const std::string& text) override;
    // The open window, null when there is none.
    [[nodiscard]] FrmConfig* window() const { return model_.get(); }
    [[nodiscard]] WindowView* view() const { return view_.get(); }

private:
    void retire();

    PluginState& ctx_;
    FilePicker& picker_;
    ViewFactory makeView_;
    std::unique_ptr<WindowView> view_;
    std::unique_ptr<FrmConfig> model_;
    // A closed window is destroyed only on the next opening: it closes from inside its own handlers.
    std::unique_ptr<WindowView> retiredView_;
    std::unique_ptr<FrmConfig> retiredModel_;
};

}  // namespace varnel
