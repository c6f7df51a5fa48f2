#pragma once
// The virtual-time platform wired into a PluginState, for tests of the lower layers.
#include <filesystem>
#include <memory>

#include "platform/virtual/memory_settings.h"
#include "platform/virtual/recording_launcher.h"
#include "platform/virtual/recording_prompts.h"
#include "platform/virtual/virtual_loop.h"
#include "platform/virtual/virtual_serial_port.h"
#include "plugin/plugin_state.h"
#include "stub_host.h"

namespace varnel::test {

// A fresh empty directory under the system temp dir, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A process number that no process holds.
int deadProcess();

struct Rig {
    Rig();
    VirtualLoop loop;
    VirtualSerialPort port{loop};
    MemorySettings userSettings;
    RecordingPrompts prompts;
    RecordingLauncher launcher;
    TempDir dir;
    std::shared_ptr<StubHost> host = std::make_shared<StubHost>();
    std::shared_ptr<StubCallback> callback = std::make_shared<StubCallback>(host);
    PluginState ctx;
};

}  // namespace varnel::test
