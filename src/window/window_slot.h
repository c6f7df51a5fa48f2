#pragma once
// Where the configuration window lives while it is open: the plug-in's hooks
// open it (or bring it to the front), let the I/O timer reach it, and it is
// dropped once it has closed.
#include <functional>
#include <memory>

#include "platform/file_picker.h"
#include "support/context.h"
#include "window/frm_config.h"
#include "window/window_view.h"

namespace varnel {

class ConfigWindowSlot {
public:
    using ViewFactory = std::function<std::unique_ptr<WindowView>()>;
    // Installs the plug-in's window hooks; they are removed again on destruction.
    ConfigWindowSlot(Context& ctx, FilePicker& picker, ViewFactory makeView);
    ~ConfigWindowSlot();
    ConfigWindowSlot(const ConfigWindowSlot&) = delete;
    ConfigWindowSlot& operator=(const ConfigWindowSlot&) = delete;

    // Loads the window, or brings the open one to the front.
    void show();
    // The open window, null when there is none.
    [[nodiscard]] FrmConfig* window() const { return model_.get(); }
    [[nodiscard]] WindowView* view() const { return view_.get(); }

private:
    void retire();

    Context& ctx_;
    FilePicker& picker_;
    ViewFactory makeView_;
    std::unique_ptr<WindowView> view_;
    std::unique_ptr<FrmConfig> model_;
    // A closed window is destroyed only on the next opening: it closes from inside its own handlers.
    std::unique_ptr<WindowView> retiredView_;
    std::unique_ptr<FrmConfig> retiredModel_;
};

}  // namespace varnel
