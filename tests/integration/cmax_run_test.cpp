// The CMAX run in real time: the plug-in lets go of the serial port, a program
// standing in for CMAX finds it free, and the link comes back once it ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QElapsedTimer>
#include <fstream>
#include <iostream>

#include "mqtt_live.h"
#include "platform/qt/serial_devices.h"
#include "platform/virtual/recording_file_picker.h"
#include "recording_view.h"
#include "text_files.h"
#include "window/window_slot.h"

namespace varnel {
namespace {

// The plug-in linked to the simulator, with its window slot; CMAX is clicked in the window.
struct CmaxRig : test::LiveBridge {
    RecordingFilePicker picker;
    test::RecordingView* view = nullptr;
    ConfigWindowSlot slot{hspi->context(), picker, [this] {
                              auto v = std::make_unique<test::RecordingView>();
                              view = v.get();
                              return v;
                          }};
    void runCmax(const std::filesystem::path& script) {
        hspi->SelectMenu("Setup");
        ASSERT_NE(view, nullptr);
        view->setText("aCMAXexe", script.string());
        view->click("aCMAX");
    }
};

void writeScript(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path) << "#!/bin/sh\n" << text;
    ::chmod(path.c_str(), 0755);
}

TEST(CmaxRun, port_is_free_while_cmax_runs_the_link_returns_after_and_a_stop_ends_a_stubborn_one) {
    CmaxRig rig;
    auto& ctx = rig.hspi->context();
    auto& view = rig.view;
    const std::string device = rig.pty.path();
    ASSERT_TRUE(serialLock(device).has_value());  // held while the link is up

    // The stand-in asks what the port looks like from outside while it runs.
    const auto report = rig.dir.path() / "port.txt";
    const auto cmax = rig.dir.path() / "cpuxa.sh";
    writeScript(cmax, "\"" VARNEL_EXE "\" ports \"" + device + "\" > \"" + report.string() + "\" 2>&1\n");

    rig.runCmax(cmax);
    EXPECT_EQ(view->text("Disconnect"), "Reconnect to Ocelot");
    EXPECT_TRUE(rig.loop.waitUntil(30000, [&] { return !ctx.timers.cmaxLaunch && ctx.link.commStarted; }));

    const std::string seen = test::readFile(report);
    EXPECT_NE(seen.find("lock:   none"), std::string::npos) << seen;
    EXPECT_TRUE(serialLock(device).has_value());
    EXPECT_EQ(view->text("Disconnect"), "Disconnect from Ocelot");
    EXPECT_TRUE(view->find("Disconnect").enabled);
    EXPECT_TRUE(view->checked("PortOpen"));
    std::vector<std::string> procedures;
    for (const auto& r : rig.host->runs()) procedures.push_back(r.procedure);
    EXPECT_EQ(procedures, (std::vector<std::string>{"BeforeCMAX", "AfterCMAX"}));

    // A CMAX that ignores the polite request: the window stays usable while it runs, and a
    // stop of the plug-in ends it anyway, SIGKILL after the two seconds' grace.
    auto& loop = rig.loop;
    const auto pidFile = rig.dir.path() / "cmax.pid";
    writeScript(cmax, "trap '' TERM\necho $$ > \"" + pidFile.string() + "\"\nexec sleep 60\n");
    rig.runCmax(cmax);
    ASSERT_TRUE(
        loop.waitUntil(10000, [&] { return std::filesystem::exists(pidFile) && !test::readFile(pidFile).empty(); }));
    const pid_t pid = std::stoi(test::readFile(pidFile));
    ASSERT_EQ(::kill(pid, 0), 0);
    EXPECT_FALSE(view->find("aCMAX").enabled);

    // Clicks run while CMAX runs; Cancel closes with the CMAX reminder.
    view->tick("Check1_3");
    EXPECT_TRUE(rig.slot.window()->variablesChanged());
    rig.prompts.answer = false;
    view->click("CancelButton");
    EXPECT_TRUE(view->closed);
    ASSERT_FALSE(rig.prompts.shown.empty());
    EXPECT_EQ(rig.prompts.shown.back().text,
              "Reminder...comm port to ocelot was disconnected and will be reconnected when CMAX is closed");
    EXPECT_EQ(::kill(pid, 0), 0);

    QElapsedTimer took;
    took.start();
    rig.hspi->ShutdownIO();
    const auto ms = took.elapsed();
    EXPECT_TRUE(rig.ended);
    // The process is gone, not just asked: a zombie would still answer kill(0).
    ASSERT_TRUE(loop.waitUntil(1000, [&] { return ::kill(pid, 0) != 0; }));
    EXPECT_LT(ms, 3000 + 1500) << "shutdown took " << ms << " ms";  // room for a loaded machine
    std::cout << "shutdown with a stubborn CMAX took " << ms << " ms\n";
}

}  // namespace
}  // namespace varnel
