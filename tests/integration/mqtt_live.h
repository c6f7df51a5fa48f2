#pragma once
// The whole plug-in in real time: the simulator on a pseudo-terminal, the Qt event
// loop, programs started for real; and its MQTT bridge on libmosquitto to a real broker.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/bridge.h"
#include "bridge/mosquitto/mosquitto_transport.h"
#include "console/console.h"
#include "host/embedded_callback.h"
#include "host/embedded_host.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_process_launcher.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_socket_watcher.h"
#include "platform/virtual/memory_settings.h"
#include "platform/virtual/recording_prompts.h"
#include "plugin/hspi.h"
#include "rig.h"
#include "sim/pty/pty_simulator.h"

namespace varnel::test {

class LiveBridge {
public:
    // Starts the plug-in against the simulator and mirrors variables 0-3, all points
    // of the SECU16 at 1 and relays 0-1 of the RELAY-08 at 3.
    LiveBridge();
    ~LiveBridge();
    // Starts a bridge on `url` (a CA file for mqtts), in place of the one before.
    void connect(const std::string& url, const std::string& caFile = {});
    // Runs the event loop until `done` holds or `ms` passed (waking every few ms, since
    // what the test client receives arrives on its own thread).
    bool waitFor(int ms, const std::function<bool()>& done);
    [[nodiscard]] bool logged(const std::string& part) const;

    QtEventLoop loop;
    sim::Controller controller;
    sim::pty::PtySimulator pty{controller, sim::WireTiming{.usPerByte = 10}};  // the line's pace is not looked at
    TempDir dir;
    MemorySettings userSettings;
    RecordingPrompts prompts;
    QtProcessLauncher launcher{loop};
    std::shared_ptr<EmbeddedHost> host;
    QtSerialPort port;
    std::unique_ptr<HSPI> hspi;
    bool ended = false;  // the plug-in's shutdown ran to its end
    std::optional<console::Console> console;
    QtSocketWatcher watcher;
    std::unique_ptr<bridge::MosquittoTransport> transport;
    std::unique_ptr<entities::PluginView> view;
    std::unique_ptr<bridge::Bridge> bridge;
    std::vector<std::string> log;
};

}  // namespace varnel::test
