#pragma once
// The composition root's state: every layer's state (DeviceLayer and the
// layers under it), the link's health, and what the plug-in hands on to the
// embedding program and the configuration window.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "devices/device_state.h"

namespace varnel {

// How the link is doing, as `status` and the service manager show it.
struct LinkHealth {
    enum class State : std::uint8_t { Starting, Up, Reconnecting };
    State state = State::Starting;
    std::int64_t downSinceMs = 0;                        // tick the outage began
    std::chrono::system_clock::time_point downSince;     // the same, on the local clock
    std::string startup;                                 // how the last start-up ended; empty before the first has
    std::chrono::system_clock::time_point startupEnded;  // when it ended, on the local clock
    bool startupRunning = false;
    std::int64_t startupBeganMs = 0;
};

struct WindowState {
    bool open = false;  // config window open flag
};

// The configuration window as the plug-in reaches it; none in a run without a display.
class ConfigWindow {
public:
    ConfigWindow() = default;
    ConfigWindow(const ConfigWindow&) = delete;
    ConfigWindow& operator=(const ConfigWindow&) = delete;
    virtual ~ConfigWindow() = default;

    // Loads the window, or brings the open one to the front.
    virtual void show(bool modal) = 0;
    // The window's port lamp.
    virtual void showPortOpen(bool on) = 0;
    // The window's Disconnect button, which reconnects after CMAX.
    virtual void clickDisconnect() = 0;
    // CMAX or IR_MAX failed: told in the window too.
    virtual void programFailed(const std::string& /*text*/) {}
};

struct PluginState : DeviceLayer {
    explicit PluginState(Platform p) : DeviceLayer(std::move(p)) {}

    LinkHealth health;
    WindowState window;
    ConfigWindow* configWindow = nullptr;
    // The embedding program's start-up step lines (none: not shown).
    std::function<void(const std::string&)> showStartupStep;
    // The xAP companion application; none when it is not installed.
    std::function<bool(const std::string& member)> xapCompanion;
};

}  // namespace varnel
