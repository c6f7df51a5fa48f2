#pragma once
// The whole plug-in on virtual time: HSPI + embedded host + simulated controller
// on a 9600-baud virtual line. What the host saw and what the controller received
// are both there to assert on.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/embedded_callback.h"
#include "host/embedded_host.h"
#include "platform/prompts_switch.h"
#include "platform/virtual/memory_settings.h"
#include "platform/virtual/recording_launcher.h"
#include "platform/virtual/recording_prompts.h"
#include "platform/virtual/virtual_loop.h"
#include "platform/virtual/virtual_serial_port.h"
#include "plugin/hspi.h"
#include "rig.h"
#include "sim/controller.h"
#include "sim/virtual_wire.h"

namespace varnel::test {

struct EngineOptions {
    sim::ControllerConfig controller = sim::ControllerConfig::typical();
    std::string hostVersion = "2.5.0.81";
    std::string callbackType = "EmbeddedHost";
    bool hostSettingsFile = true;
    std::size_t hostMaxDevices = host::DeviceTable::kMaxDevices;
    // The host gathers its saves on the loop, as in a run, instead of saving each change.
    bool hostSavesLater = false;
    const files::WriteFaults* hostWriteFaults = nullptr;
    // A host directory that outlives the rig (a restart); empty: a fresh one of the rig's own.
    std::filesystem::path hostDir{};
    // Every host log line as it is written.
    std::function<void(const host::ConsoleLine&)> hostLogSink{};
};

class EngineRig {
public:
    explicit EngineRig(const EngineOptions& options = {});
    ~EngineRig();

    // RegisterCallback, then the host's interface starts in its usual order.
    void registerPlugin();
    void startAll();
    // Lets virtual time run.
    void run(int ms) { loop.advance(ms); }
    // Host log messages (without the source), oldest first.
    [[nodiscard]] std::vector<std::string> hostLog() const;
    [[nodiscard]] bool logged(const std::string& message) const;
    [[nodiscard]] PluginState& ctx() { return plugin->context(); }

    VirtualLoop loop;
    VirtualSerialPort port{loop};
    MemorySettings userSettings;
    RecordingPrompts prompts;
    // What the plug-in prompts through: `prompts` unless a web form takes them.
    PromptsSwitch promptsSwitch{prompts};
    RecordingLauncher launcher;
    TempDir dir;
    std::filesystem::path hostDir;
    sim::Controller controller;
    sim::VirtualWire wire;
    std::shared_ptr<EmbeddedHost> host;
    std::shared_ptr<EmbeddedCallback> callback;
    std::unique_ptr<HSPI> plugin;
    int processEnded = 0;
};

}  // namespace varnel::test
