#include "window_session.h"

#include <string_view>

#include "window/qt/qt_config_view.h"
#include "window/qt/qt_dialogs.h"
#include "window/window_slot.h"

namespace varnel::app {

bool displayAvailable(const std::function<const char*(const char*)>& getenv) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* v = getenv(name);
        if (v && *v) return true;
    }
    return false;
}

struct WindowSession::Parts {
    QtPrompts dialogs;
    QtFilePicker picker;
    std::unique_ptr<ConfigWindowSlot> slot;
};

WindowSession::WindowSession(Context& ctx, WindowPrompts& prompts) : parts_(std::make_unique<Parts>()) {
    parts_->slot = std::make_unique<ConfigWindowSlot>(ctx, parts_->picker, [] {
        auto view = std::make_unique<QtConfigView>();
        view->setAttribute(Qt::WA_QuitOnClose, false);
        return view;
    });
    prompts.useWindow(&ctx, &parts_->dialogs);
}

WindowSession::~WindowSession() = default;

}  // namespace varnel::app
