// `varnel run`: the plug-in in the embedded host, on a serial device or against
// the simulator on a pseudo-terminal, until Ctrl-C or --for ends it.
#include <unistd.h>
#include <QApplication>
#include <QCoreApplication>
#include <QFileSystemWatcher>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <utility>

#include "commands.h"
#include "commands/ir_files.h"
#include "console/console.h"
#include "console/event_lines.h"
#include "console_feed.h"
#include "devices/io_timer.h"
#include "entities/plugin_view.h"
#include "files/files.h"
#include "history/console_history.h"
#include "history/recorder.h"
#include "host/embedded_callback.h"
#include "host/embedded_host.h"
#include "host_dir_lock.h"
#include "host_settings.h"
#include "installation.h"
#include "log_output.h"
#include "mqtt_bridge.h"
#include "platform/headless_prompts.h"
#include "platform/prompts_switch.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_port.h"
#include "platform/qt/qt_process_launcher.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/serial_devices.h"
#include "plugin/health.h"
#include "plugin/hspi.h"
#include "plugin/link_watch.h"
#include "port_names.h"
#include "service_notifier.h"
#include "service_status.h"
#include "signal_watcher.h"
#include "sim/demo.h"
#include "sim/pty/pty_simulator.h"
#include "sim_demo.h"
#include "support/settings.h"
#include "support/text.h"
#include "web/web_config.h"
#include "web_page.h"
#include "window_session.h"

namespace varnel::app {

namespace {

// From a change where a missing device lives to the next look at it.
constexpr int kSettleMs = 100;

// How often systemd's status line and the health file's are brought up to date (sent only when it changed).
constexpr int kStatusMs = 5000;

int portNumberSetting(Core& ctx) {
    const double n = readNumber(ctx, setting::kComport);
    return std::isfinite(n) && n >= -32768 && n <= 32767 ? static_cast<int>(std::lround(n)) : 0;
}

// Opens and closes the device once, so that a missing, forbidden or busy device ends
// the run with one clear line instead of a start-up that times out step by step; a
// serial server that cannot be reached counts as such a device. A lock left behind
// by a process that is gone is taken over first.
std::optional<std::string> probe(EventLoop& loop, const std::string& device, LogOutput& log) {
    if (!isNetworkPort(device))
        if (auto note = takeOverStaleLock(device)) log.line(LogLevel::Warning, "varnel: " + *note);
    QtPort port(loop);
    auto err = port.open(device);
    port.close();
    return err;
}

// The demo's IR names (only where the host has none) and its mirroring (unless the
// command line chose some).
void seedDemoHost(DeviceLayer& ctx, console::MirrorChoice& mirror, LogOutput& log) {
    if (!mirror.variables && mirror.units.empty()) {
        mirror = demoMirrorChoice();
        log.line(LogLevel::Info, "Demo: a new host directory mirrors variables " +
                                     console::formatNumberList(*mirror.variables) + " and points of units 1 to 3");
    }
    try {
        const auto labels = irFilePath(ctx, kIrLabelFile);
        std::error_code ec;
        if (std::filesystem::exists(labels, ec)) return;
        std::ofstream(labels, std::ios::binary) << demoIrLabels();
        log.line(LogLevel::Info, "Demo: IR names for TV, Amp and DVD in " + labels.string());
    } catch (const std::exception& e) {
        log.line(LogLevel::Error, std::string("varnel: the demo's IR names could not be written: ") + e.what());
    }
}

// Wakes `onChange` when something changes in the directory where `device` lives (or
// the nearest one that exists), so that a device plugged in again is tried at once
// rather than after the rest of a long pause. inotify: no polling.
void watchDeviceDirectory(QFileSystemWatcher& watcher, const std::string& device, std::function<void()> onChange) {
    auto watchNearest = [&watcher, device] {
        std::error_code ec;
        for (auto dir = std::filesystem::path(device).parent_path(); !dir.empty(); dir = dir.parent_path()) {
            if (std::filesystem::is_directory(dir, ec)) {
                watcher.addPath(QString::fromStdString(dir.string()));
                return;
            }
            if (dir == dir.root_path()) return;
        }
    };
    watchNearest();
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &watcher,
                     [watchNearest, onChange = std::move(onChange)] {
                         watchNearest();
                         onChange();
                     });
}

// A run that stops by itself (`--exec ... quit`) wants its answer now, not after a wait.
bool oneShot(const std::vector<std::string>& exec) {
    return std::any_of(exec.begin(), exec.end(), [](const std::string& line) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        return files::equalsNoCase(first, "quit") || files::equalsNoCase(first, "exit");
    });
}

// A device missing at start (an adapter plugged in later, a wrong by-id name) is
// waited for as a lost link is: the same growing pauses, a change where it lives tried
// at once, a line when the wait begins and when its reason changes. systemd hears
// READY=1 now, so that a long wait is not a failed start. False when a stop ended it.
bool waitForDevice(EventLoop& loop, const std::string& device, std::string why, LogOutput& log,
                   ServiceNotifier& notifier, const bool& stopRequested) {
    const auto tell = [&] {
        log.line(LogLevel::Warning, "varnel: " + why + "; waiting for it, trying again every " +
                                        std::to_string(LinkWatch::kFirstPauseMs / 1000) + " to " +
                                        std::to_string(LinkWatch::kLongestPauseMs / 1000) + " s");
        notifier.status("waiting for the port: " + why);
    };
    tell();
    notifier.ready();
    bool woken = false;
    QFileSystemWatcher dirs;
    if (!isNetworkPort(device)) watchDeviceDirectory(dirs, device, [&woken] { woken = true; });
    for (int pauseMs = LinkWatch::kFirstPauseMs;; pauseMs = std::min(pauseMs * 2, LinkWatch::kLongestPauseMs)) {
        loop.waitUntil(pauseMs, [&] { return stopRequested || woken; });
        // udev gives a new node its group a moment after it appears.
        if (std::exchange(woken, false)) loop.waitUntil(kSettleMs, [&] { return stopRequested; });
        if (stopRequested) return false;
        auto err = probe(loop, device, log);
        if (!err) {
            log.line(LogLevel::Info, "varnel: " + device + " is there now");
            return true;
        }
        if (*err != why) {
            why = *err;
            tell();
        }
    }
}

}  // namespace

int runPlugin(const RunOptions& o) {
    LogOutput log(o.logLevel, logStyleFromEnvironment(), std::cout, std::cerr);
    ServiceNotifier notifier;
    notifier.startWatchdog();
    notifier.status("starting");
    QtEventLoop loop;
    QtSettingsStore userSettings;
    QtProcessLauncher launcher(loop);
    SignalWatcher watcher;

    std::unique_ptr<sim::Controller> controller;
    std::unique_ptr<sim::pty::PtySimulator> simulator;
    std::unique_ptr<sim::Demo> demo;
    DemoPlan demoPlan;
    if (o.simulate) {
        auto plan = planDemo(o.demoScript, o.demo);
        if (auto* err = std::get_if<std::string>(&plan)) {
            log.line(LogLevel::Error, "varnel: " + *err);
            return kExitUsage;
        }
        demoPlan = std::get<DemoPlan>(std::move(plan));
    }

    if (auto bad = webPageProblem(o)) {
        log.line(LogLevel::Error, "varnel: " + *bad);
        return kExitConfig;
    }
    // Before the host, so that the page's log tail has every line of the run.
    std::unique_ptr<WebPage> webPage = WebPage::configure(o);

    HostDirLock lock;
    {
        std::error_code ec;
        std::filesystem::create_directories(o.hostDir, ec);  // a failure is the host's to report
        if (auto busy = lock.take(o.hostDir)) {
            log.line(LogLevel::Error, "varnel: " + *busy);
            return kExitFailure;
        }
    }
    notifier.keepHealthFile(o.hostDir,
                            [&log](const std::string& line) { log.line(LogLevel::Warning, "varnel: " + line); });
    struct HealthEnd {
        ServiceNotifier& notifier;
        ~HealthEnd() { notifier.stopped(); }
    } healthEnd{notifier};

    if (o.simulate) {
        controller = std::make_unique<sim::Controller>(demoController());
        sim::WireTiming timing;
        // Ten bits a byte: start, eight data bits, stop.
        if (o.simBaud) timing.usPerByte = (10'000'000 + *o.simBaud / 2) / *o.simBaud;
        simulator = std::make_unique<sim::pty::PtySimulator>(*controller, timing);
        if (auto err = simulator->start()) {
            log.line(LogLevel::Error, "varnel: the simulator could not start: " + *err);
            return kExitFailure;
        }
        demo = std::make_unique<sim::Demo>(*controller);
        demo->onStep = [&log](const std::string& step) { log.line(LogLevel::Info, "Simulator: " + step); };
        log.line(LogLevel::Info, "Simulated controller on " + simulator->path());
    }

    std::shared_ptr<EmbeddedHost> host;
    try {
        EmbeddedHostOptions options;
        options.loop = &loop;
        options.consoleLine = [&log, &webPage](const host::ConsoleLine& line) {
            log.hostLine(line);
            if (webPage) webPage->hostLine(line);
        };
        host = std::make_shared<EmbeddedHost>(o.hostDir, userSettings, launcher, std::move(options));
    } catch (const HostDirError& e) {
        log.line(LogLevel::Error, std::string("varnel: ") + e.what());
        return kExitFailure;
    }
    bridge::Installation installation;
    try {
        installation = installationOf(o, *host);
    } catch (const std::exception& e) {
        log.line(LogLevel::Error, std::string("varnel: cannot keep this installation's id: ") + e.what());
        return kExitFailure;
    }
    auto mqtt = MqttBridge::configure(o, installation);
    if (const auto* err = std::get_if<std::string>(&mqtt)) {
        log.line(LogLevel::Error, "varnel: " + *err);
        return kExitConfig;
    }
    host->onEvent = [&host, &log](const host::HostEvent& e) {
        log.line(LogLevel::Info, "Event: " + console::describeEvent(e, host.get()));
    };
    // A simulated run in a host directory never used before gets the demo's IR names and
    // mirroring, so that it shows everything at once.
    const bool demoHost = o.simulate && o.demo && host->devices().empty();
    auto callback = std::make_shared<EmbeddedCallback>(host);
    HeadlessPrompts headlessPrompts([&host](const std::string& text) { host->WriteLog("Message", text); });
    WindowPrompts prompts(headlessPrompts);
    // The web page's configuration form takes the plug-in's prompts while it is open.
    PromptsSwitch switched(prompts);

    // --port wins; the simulator's pseudo-terminal stands in for it; otherwise the setting.
    std::optional<std::string> fixedDevice = o.device;
    if (simulator) fixedDevice = simulator->path();
    auto portDevice = [fixedDevice](int number) { return fixedDevice ? *fixedDevice : serialDeviceForPort(number); };

    QtPort port(loop);
    bool ended = false;
    HSPI hspi(Platform{loop, port, userSettings, switched, launcher, o.hostDir, portDevice}, [&ended] {
        ended = true;
        QCoreApplication::exit(kExitOk);
    });
    // A reconnect's start-up stays in the host log file; the outage is told by its own lines.
    log.quietWhile([&hspi] { return hspi.context().health.state == LinkHealth::State::Reconnecting; });
    struct Unhook {
        LogOutput& log;
        ~Unhook() { log.quietWhile(nullptr); }
    } unhook{log};
    // Without a display the plug-in has no configuration window: `config` then names the headless ways.
    std::optional<WindowSession> window;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        window.emplace(hspi.context(), prompts);
    else if (o.window)
        log.line(LogLevel::Warning,
                 "varnel: --window needs a display; running without the window (the console's mirror "
                 "command and varnel sync do its work)");
    // After the window, so that it goes first; it outlives the page, which serves it.
    std::optional<web::WebConfig> webConfig;
    if (webPage) webConfig.emplace(hspi.context(), switched);
    hspi.context().link.fixedDevice = fixedDevice.value_or("");
    hspi.RegisterCallback(callback);
    if (auto why = settingsElsewhere(hspi, *host)) {
        log.line(LogLevel::Error, "varnel: " + *why);
        return kExitFailure;
    }
    console::MirrorChoice mirror = o.mirror;
    if (demoHost) seedDemoHost(hspi.context(), mirror, log);

    const int portNumber = portNumberSetting(hspi.context());
    const std::string device = portDevice(portNumber);
    if (device.empty()) {
        log.line(LogLevel::Error, "varnel: port number setting " + std::to_string(portNumber) +
                                      " names no serial device; use --port DEVICE");
        return kExitConfig;
    }
    // The console exists from the start for the MQTT bridge, which connects now rather
    // than after the start-up, so that the broker hears at once that varnel runs and
    // that the controller is not found yet. Both refuse host work until it is.
    console::Console operatorConsole(hspi, *host, [](const std::string& line) { std::cout << line << std::endl; });
    // History from the start, so that the start-up's link and commands are in it; it
    // never stops the run (a store that cannot be written says so once and waits).
    std::unique_ptr<history::Store> historyStore;
    std::unique_ptr<entities::PluginView> historyView;
    std::unique_ptr<history::Recorder> recorder;
    if (o.history.enabled) {
        historyStore = std::make_unique<history::Store>(history::StoreOptions{
            .file = o.hostDir / "history.sqlite",
            .settings = o.history,
            .log =
                [&host](const std::string& line) {
                    // The log names the source itself.
                    const std::string_view prefix = "history: ";
                    host->WriteLog("History", line.starts_with(prefix) ? line.substr(prefix.size()) : line);
                },
            .restoreFrom = o.hostDir / "history-backup.sqlite"});
        historyView = std::make_unique<entities::PluginView>(hspi);
        recorder = std::make_unique<history::Recorder>(*historyStore, loop, *host, *historyView);
        operatorConsole.onCommand = [&recorder](const std::string& line, const console::Reply& reply,
                                                std::string_view origin) {
            if (recorder) recorder->command(line, reply.lines.empty() ? std::string() : reply.lines.front(), origin);
        };
        operatorConsole.setHistory([&](const console::cmd::History& h) {
            return history::historyReply(*historyStore, *host, *historyView, h, recorder->now());
        });
        operatorConsole.addStatus([&] { return std::vector<std::string>{history::statusLine(*historyStore)}; });
    }
    std::unique_ptr<MqttBridge> bridge = std::move(std::get<std::unique_ptr<MqttBridge>>(mqtt));
    if (bridge) {
        bridge->start(hspi, *host, operatorConsole, loop);
        operatorConsole.addStatus([&bridge] {
            return std::vector<std::string>{"mqtt: " + (bridge ? bridge->stateText() : std::string("stopped"))};
        });
    }
    const auto withBroker = [&bridge](std::string status) {
        return bridge ? std::move(status) + "; MQTT " + bridge->stateText() : status;
    };
    // A stop ends every wait at once (a start-up against a silent controller, a command
    // waiting for its reply); the shutdown runs as soon as the waiting step has unwound.
    // Asked for again while that runs, it ends the process at once (devices saved first,
    // and the port closed, which removes its lock file).
    bool starting = true;
    bool stopRequested = false;
    int exitCode = kExitOk;
    auto stop = [&] {
        if (ended) return;
        if (stopRequested) {
            try {
                host->flush();
            } catch (const std::exception&) {
            }
            endStartedPrograms(hspi.context());  // CMAX must not outlive us
            port.close();
            std::_Exit(kExitFailure);
        }
        stopRequested = true;
        notifier.stopping();
        if (demo) demo->stop();  // the shutdown's own wait would show activity nobody mirrors
        if (starting) {
            hspi.endWaits();
            return;
        }
        hspi.ShutdownIO();
    };
    watcher.onSignal = [&](int) { stop(); };
    ConsoleFeed feed([&] { stop(); }, [](const std::string& line) { std::cout << line << std::endl; });
    feed.readFrom(STDIN_FILENO);
    QTimer forTimer;
    forTimer.setSingleShot(true);
    QObject::connect(&forTimer, &QTimer::timeout, &forTimer, [&] { stop(); });
    if (o.forSeconds) forTimer.start(static_cast<int>(std::min(*o.forSeconds * 1000.0, 2.0e9)));

    if (auto err = probe(loop, device, log)) {
        // Something that is there but is no serial device will not become one: waiting
        // for it would only restart the wait forever.
        if (!isNetworkPort(device) && kindProblem(device)) {
            log.line(LogLevel::Error, "varnel: " + *err);
            return kExitConfig;
        }
        if (o.forSeconds || oneShot(o.exec)) {
            log.line(LogLevel::Error, "varnel: " + *err);
            return kExitFailure;
        }
        if (!waitForDevice(loop, device, *err, log, notifier, stopRequested)) {
            host->flush();
            return kExitOk;
        }
    }

    PluginState& ctx = hspi.context();
    ctx.showStartupStep = [&log, &notifier, &starting, &withBroker](const std::string& step) {
        log.line(LogLevel::Info, "Start-up: " + step);
        if (starting) notifier.status(withBroker("starting: " + step));
    };
    startupBegins(ctx);
    hspi.InitIO(portNumber);
    if (!stopRequested) hspi.InitX10(portNumber);
    if (!stopRequested) hspi.InitIR(portNumber);
    starting = false;
    if (stopRequested) {
        hspi.ShutdownIO();
    } else {
        startupEnds(ctx);
        hspi.linkWatch().arm();
    }
    QFileSystemWatcher deviceDirs;
    if (!ended && !isNetworkPort(device))
        watchDeviceDirectory(deviceDirs, device, [&] { hspi.linkWatch().deviceMayHaveAppeared(); });
    bool shotsTaken = false;  // the screenshot run ends once they are written
    if (!ended) {
        if (mirror.variables || !mirror.units.empty()) operatorConsole.applyMirrorChoice(mirror);
        // Activity starts once the plug-in is up, so that the start-up log stays readable.
        if (demo) startDemo(*demo, demoPlan);
        if (window && (o.window || o.windowScreenshots)) hspi.SelectMenu("Setup");
        if (window && o.windowScreenshots) {
            if (auto err = window->screenshots(*o.windowScreenshots))
                log.line(LogLevel::Error, "varnel: " + *err);
            else
                log.line(LogLevel::Info, "Wrote the configuration window's tabs to " + *o.windowScreenshots);
            shotsTaken = true;
        }
        if (webPage) {
            auto mqttState = [&bridge] { return bridge ? bridge->state() : std::string("off"); };
            if (auto err = webPage->start(hspi, *host, operatorConsole, mqttState, *webConfig, historyStore.get())) {
                log.line(LogLevel::Error, "varnel: " + *err);
                exitCode = kExitFailure;
                stop();
            } else {
                log.line(LogLevel::Info, "Web page " + webPage->url());
                operatorConsole.addStatusLine("web page " + webPage->url());
            }
        }
        if (!stopRequested) {
            feed.attach(operatorConsole, o.exec);
            if (bridge) bridge->lookAgain();  // what the start-up found is announced now
        }
    }
    QTimer statusTimer;
    if (!ended) {
        const auto report = [&] {
            const std::string page = webPage ? webPage->url() : std::string();
            notifier.status(withBroker(serviceStatus(hspi.context(), host->devices().size()) +
                                       (page.empty() ? "" : ", web page " + page)));
        };
        report();
        notifier.ready();
        // The health file hears it too, with or without systemd.
        QObject::connect(&statusTimer, &QTimer::timeout, &statusTimer, report);
        statusTimer.start(kStatusMs);
    }

    if (shotsTaken && !stopRequested) stop();
    if (!ended) QCoreApplication::exec();
    if (webPage) webPage->stop();  // it uses the console, the host and the plug-in
    bridge.reset();                // so does the bridge
    operatorConsole.onCommand = nullptr;
    recorder.reset();
    historyStore.reset();  // its last batch, and the journal checkpointed into the file
    demo.reset();
    host->flush();
    return exitCode;
}

}  // namespace varnel::app
