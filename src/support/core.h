#pragma once
// What every layer stands on: the platform, the host connection, the error of
// the running procedure, the settings store and the switches read from it.
// Each layer above extends this with the state it owns (link/link_state.h,
// commands/command_state.h, devices/device_state.h); the plug-in layer's
// PluginState is the composition root holding them all. A function takes the
// lowest layer that has what it needs, so lower code cannot reach upper state.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/event_loop.h"
#include "platform/host_api.h"
#include "platform/process_launcher.h"
#include "platform/prompts.h"
#include "platform/serial_port.h"
#include "platform/settings_store.h"

namespace varnel {

// 16-bit host Boolean: true is -1.
using Bool16 = std::int16_t;
inline constexpr Bool16 kTrue = -1;
inline constexpr Bool16 kFalse = 0;
inline constexpr Bool16 toBool16(bool b) { return b ? kTrue : kFalse; }

// What the core is given to talk to the world.
struct Platform {
    EventLoop& loop;
    SerialPort& port;
    SettingsStore& userSettings;
    Prompts& prompts;
    ProcessLauncher& launcher;
    // Directory of the plug-in's own program file: the comms log lives here.
    std::filesystem::path programDir;
    // Maps a port number to the device to open ("3" -> "/dev/ttyS2" on Linux).
    std::function<std::string(int)> portDevice;
};

// The error of the running procedure, as the error reporter sees it.
struct PendingError {
    bool pending = false;
    int step = 0;
    std::string description;
};

struct HostState {
    std::shared_ptr<Callback> callback;
    std::shared_ptr<Host> hs;
    bool setupHost = false;      // callback type name is "Setup"
    bool hostMode = true;        // RunAsXapNode is not 1
    bool newGeneration = false;  // host Version major > 1: by-reference calls
    std::int32_t miscBase = 0;   // 32768 on the newer host generation
};

struct SettingsState {
    bool iniMode = false;
    std::string storeName = "settings";
};

// Switches read from the settings at start-up and changed by the window.
struct Switches {
    std::int16_t logErrors = 1;
    std::int16_t logComms = 0;
    std::int16_t x10Xmit = 0;
    std::int16_t invert = 0;
    std::string updateStrings = "0";
    std::string leopardVar = "-1";  // house code of the Leopard screen device
};

struct Core {
    explicit Core(Platform p) : platform(std::move(p)) {}
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;
    ~Core() = default;

    Platform platform;
    PendingError error;
    HostState host;
    SettingsState settings;
    Switches switches;
    // The run is ending: every wait returns at once, nothing more is sent or opened.
    bool ending = false;
};

}  // namespace varnel
