// The CMAX run in real time: the plug-in lets go of the serial port, a program
// standing in for CMAX finds it free, and the link comes back once it ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QElapsedTimer>
#include <iostream>

#include <fstream>
#include <sstream>

#include "host/embedded_callback.h"
#include "host/embedded_host.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_process_launcher.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/serial_devices.h"
#include "platform/virtual/memory_settings.h"
#include "platform/virtual/recording_file_picker.h"
#include "platform/virtual/recording_prompts.h"
#include "plugin/hspi.h"
#include "recording_view.h"
#include "rig.h"
#include "sim/pty/pty_simulator.h"
#include "window/window_slot.h"

namespace varnel {
namespace {

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(CmaxRun, port_is_free_while_cmax_runs_and_the_link_returns_after) {
    QtEventLoop loop;
    sim::Controller controller(sim::ControllerConfig::typical());
    sim::pty::PtySimulator pty(controller);
    ASSERT_FALSE(pty.start());
    test::TempDir dir;
    MemorySettings userSettings;
    RecordingPrompts prompts;
    QtProcessLauncher launcher(loop);
    EmbeddedHostOptions hostOptions;
    hostOptions.loop = &loop;
    auto host = std::make_shared<EmbeddedHost>(dir.path(), userSettings, launcher, hostOptions);
    auto callback = std::make_shared<EmbeddedCallback>(host);
    QtSerialPort port;
    const std::string device = pty.path();
    HSPI plugin(Platform{loop, port, userSettings, prompts, launcher, dir.path(), [device](int) { return device; }},
                [] {});
    RecordingFilePicker picker;
    test::RecordingView* view = nullptr;
    ConfigWindowSlot slot(plugin.context(), picker, [&] {
        auto v = std::make_unique<test::RecordingView>();
        view = v.get();
        return v;
    });
    plugin.RegisterCallback(callback);
    plugin.InitIO(1);
    auto& ctx = plugin.context();
    ASSERT_TRUE(ctx.link.commStarted);
    ASSERT_TRUE(serialLock(device).has_value());  // held while the link is up

    // The stand-in asks what the port looks like from outside while it runs.
    const auto report = dir.path() / "port.txt";
    const auto cmax = dir.path() / "cpuxa.sh";
    std::ofstream(cmax) << "#!/bin/sh\n\"" << VARNEL_EXE << "\" ports \"" << device << "\" > \"" << report.string()
                        << "\" 2>&1\n";
    ::chmod(cmax.c_str(), 0755);

    plugin.SelectMenu("Setup");
    ASSERT_NE(view, nullptr);
    view->setText("aCMAXexe", cmax.string());
    view->click("aCMAX");
    EXPECT_EQ(view->text("Disconnect"), "Reconnect to Ocelot");
    EXPECT_TRUE(loop.waitUntil(30000, [&] { return !ctx.timers.cmaxLaunch && ctx.link.commStarted; }));

    const std::string seen = slurp(report);
    EXPECT_NE(seen.find("lock:   none"), std::string::npos) << seen;
    EXPECT_TRUE(serialLock(device).has_value());
    EXPECT_EQ(view->text("Disconnect"), "Disconnect from Ocelot");
    EXPECT_TRUE(view->find("Disconnect").enabled);
    EXPECT_TRUE(view->checked("PortOpen"));
    std::vector<std::string> procedures;
    for (const auto& r : host->runs()) procedures.push_back(r.procedure);
    EXPECT_EQ(procedures, (std::vector<std::string>{"BeforeCMAX", "AfterCMAX"}));
}

// A CMAX that ignores the polite request: the window stays usable while it runs, and a
// stop of the plug-in ends it anyway, SIGKILL after the two seconds' grace.
TEST(CmaxRun, the_window_stays_usable_while_cmax_runs_and_a_stop_ends_it) {
    QtEventLoop loop;
    sim::Controller controller(sim::ControllerConfig::typical());
    sim::pty::PtySimulator pty(controller);
    ASSERT_FALSE(pty.start());
    test::TempDir dir;
    MemorySettings userSettings;
    RecordingPrompts prompts;
    QtProcessLauncher launcher(loop);
    EmbeddedHostOptions hostOptions;
    hostOptions.loop = &loop;
    auto host = std::make_shared<EmbeddedHost>(dir.path(), userSettings, launcher, hostOptions);
    auto callback = std::make_shared<EmbeddedCallback>(host);
    QtSerialPort port;
    const std::string device = pty.path();
    bool ended = false;
    HSPI plugin(Platform{loop, port, userSettings, prompts, launcher, dir.path(), [device](int) { return device; }},
                [&ended] { ended = true; });
    RecordingFilePicker picker;
    test::RecordingView* view = nullptr;
    ConfigWindowSlot slot(plugin.context(), picker, [&] {
        auto v = std::make_unique<test::RecordingView>();
        view = v.get();
        return v;
    });
    plugin.RegisterCallback(callback);
    plugin.InitIO(1);
    auto& ctx = plugin.context();
    ASSERT_TRUE(ctx.link.commStarted);

    const auto pidFile = dir.path() / "cmax.pid";
    const auto cmax = dir.path() / "cpuxa.sh";
    std::ofstream(cmax) << "#!/bin/sh\ntrap '' TERM\necho $$ > \"" << pidFile.string() << "\"\nexec sleep 60\n";
    ::chmod(cmax.c_str(), 0755);

    plugin.SelectMenu("Setup");
    ASSERT_NE(view, nullptr);
    view->setText("aCMAXexe", cmax.string());
    view->click("aCMAX");
    ASSERT_TRUE(loop.waitUntil(10000, [&] { return std::filesystem::exists(pidFile) && !slurp(pidFile).empty(); }));
    const pid_t pid = std::stoi(slurp(pidFile));
    ASSERT_EQ(::kill(pid, 0), 0);
    EXPECT_FALSE(view->find("aCMAX").enabled);

    // Clicks run while CMAX runs; Cancel closes with the CMAX reminder.
    view->tick("Check1_3");
    EXPECT_TRUE(slot.window()->variablesChanged());
    prompts.answer = false;
    view->click("CancelButton");
    EXPECT_TRUE(view->closed);
    ASSERT_FALSE(prompts.shown.empty());
    EXPECT_EQ(prompts.shown.back().text,
              "Reminder...comm port to ocelot was disconnected and will be reconnected when CMAX is closed");
    EXPECT_EQ(::kill(pid, 0), 0);

    QElapsedTimer took;
    took.start();
    plugin.ShutdownIO();
    const auto ms = took.elapsed();
    EXPECT_TRUE(ended);
    // The process is gone, not just asked: a zombie would still answer kill(0).
    ASSERT_TRUE(loop.waitUntil(1000, [&] { return ::kill(pid, 0) != 0; }));
    EXPECT_LT(ms, 3000 + 1500) << "shutdown took " << ms << " ms";  // room for a loaded machine
    std::cout << "shutdown with a stubborn CMAX took " << ms << " ms\n";
}

}  // namespace
}  // namespace varnel
