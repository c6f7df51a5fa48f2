#pragma once
// The configuration window in `varnel run`: only with a display. Its prompts are
// message boxes while it is open; everything else the plug-in says goes on to the log.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/prompts.h"
#include "plugin/plugin_state.h"

namespace varnel::app {

// True when the environment names a display (X11, Wayland, or a Qt platform chosen outright).
bool displayAvailable(const std::function<const char*(const char*)>& getenv);

class WindowPrompts final : public Prompts {
public:
    explicit WindowPrompts(Prompts& headless) : headless_(headless) {}
    // Set once the window can open; null keeps every prompt headless.
    void useWindow(const PluginState* ctx, Prompts* dialogs) {
        ctx_ = ctx;
        dialogs_ = dialogs;
    }
    void message(const std::string& text, PromptStyle style) override { pick().message(text, style); }
    bool question(const std::string& text) override { return pick().question(text); }
    void beep() override { pick().beep(); }

private:
    Prompts& pick() { return ctx_ && dialogs_ && ctx_->window.open ? *dialogs_ : headless_; }
    Prompts& headless_;
    const PluginState* ctx_ = nullptr;
    Prompts* dialogs_ = nullptr;
};

// The window's place in a run with a display: becomes the plug-in's configuration window.
class WindowSession {
public:
    WindowSession(PluginState& ctx, WindowPrompts& prompts);
    ~WindowSession();
    WindowSession(const WindowSession&) = delete;
    WindowSession& operator=(const WindowSession&) = delete;

    // Writes config-general.png, config-io.png, config-ir.png and config-cmax.png of the
    // open window into `dir`; an error text when that failed.
    std::optional<std::string> screenshots(const std::filesystem::path& dir);

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace varnel::app
