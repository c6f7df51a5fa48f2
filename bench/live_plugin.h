#pragma once
// The whole plug-in as the host runs it, in real time: HSPI on the Qt event loop and
// QtSerialPort, registered with an embedded host in a scratch host directory, started
// (controller found, modules scanned, devices found, timers running) against the
// simulator on a paced pseudo-terminal.
#include <filesystem>
#include <functional>
#include <memory>

#include "host/embedded_callback.h"
#include "host/embedded_host.h"
#include "paced_wire.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/virtual/memory_settings.h"
#include "platform/virtual/recording_launcher.h"
#include "platform/virtual/recording_prompts.h"
#include "plugin/hspi.h"

namespace varnel::bench {

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

class LivePlugin {
public:
    // Throws std::runtime_error when the start-up does not find the controller.
    LivePlugin();
    ~LivePlugin();
    LivePlugin(const LivePlugin&) = delete;
    LivePlugin& operator=(const LivePlugin&) = delete;

    // Lets the timers run for `ms` (the start-up's own I/O check, the first polls).
    void settle(int ms);
    // A usual installation: variables 0-7 mirrored (without any, every variable poll asks
    // for an I/O comparison) and the first `points` points of the SECU16 at bus address 1.
    void mirror(int points);

    // The simulator reports the `n`th input change of a round that sets inputs 0-7 of the
    // SECU16 at 1 one by one, then clears them (a set input reads as OFF).
    struct InputChange {
        int point;
        bool set;
        std::uint64_t reportsBefore;  // the wire's report count before it
    };
    InputChange changeInput(int n);

    PacedWire wire;
    QtEventLoop loop;
    ScratchDir dir;
    MemorySettings userSettings;
    RecordingPrompts prompts;
    RecordingLauncher launcher;
    std::shared_ptr<EmbeddedHost> host;
    QtSerialPort port;
    std::unique_ptr<HSPI> hspi;
};

}  // namespace varnel::bench
