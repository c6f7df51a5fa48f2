#include "window_session.h"

#include <QPixmap>
#include <QTabWidget>
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

WindowSession::WindowSession(PluginState& ctx, WindowPrompts& prompts) : parts_(std::make_unique<Parts>()) {
    parts_->slot = std::make_unique<ConfigWindowSlot>(ctx, parts_->picker, [] {
        auto view = std::make_unique<QtConfigView>();
        view->setAttribute(Qt::WA_QuitOnClose, false);
        return view;
    });
    prompts.useWindow(&ctx, &parts_->dialogs);
}

WindowSession::~WindowSession() = default;

std::optional<std::string> WindowSession::screenshots(const std::filesystem::path& dir) {
    auto* view = dynamic_cast<QtConfigView*>(parts_->slot->view());
    if (!view) return "the configuration window is not open";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const char* names[] = {"config-general.png", "config-io.png", "config-ir.png", "config-cmax.png"};
    // At the size it asks for, whatever screen (the off-screen one is 800x600) is there.
    view->resize(view->sizeHint());
    for (int i = 0; i < view->tabs()->count() && i < 4; ++i) {
        view->tabs()->setCurrentIndex(i);
        const auto file = dir / names[i];
        if (!view->grab().save(QString::fromStdString(file.string()), "PNG")) return "could not write " + file.string();
    }
    view->tabs()->setCurrentIndex(0);
    return std::nullopt;
}

}  // namespace varnel::app
