// The plug-in object's own answers: identity, registration rules, entry
// points that only queue, and shutdown.
#include <gtest/gtest.h>

#include "devices/io_timer.h"
#include "engine_rig.h"

namespace varnel {
namespace {

TEST(Capabilities, max_devices_rounds_ir_size_over_36_half_to_even) {
    test::EngineRig rig;
    struct Case {
        std::int32_t irSize;
        std::int16_t devices;
    };
    for (const Case& c : {Case{0, 14}, Case{504, 14}, Case{90, 2}, Case{126, 4}, Case{1024, 28}}) {
        rig.ctx().controller.irSize = c.irSize;
        EXPECT_EQ(rig.plugin->MaxDevices(), c.devices) << c.irSize;
    }
    EXPECT_EQ(rig.plugin->MaxZones(), 0);
    EXPECT_TRUE(rig.plugin->IsMatchable(79));
    EXPECT_FALSE(rig.plugin->IsMatchable(80));
    EXPECT_EQ(rig.plugin->name(), "Varnel");
    EXPECT_EQ(rig.plugin->Capabilities(), 7);
}

// The window, when open, takes the link up again after CMAX by its Disconnect
// button; without it the plug-in starts the controller sequence itself.
TEST(CmaxRunEnds, the_open_window_or_the_plugin_reconnects) {
    struct FakeWindow final : ConfigWindow {
        std::vector<std::string> calls;
        void show(bool) override { calls.emplace_back("show"); }
        void showPortOpen(bool on) override { calls.emplace_back(on ? "port on" : "port off"); }
        void clickDisconnect() override { calls.emplace_back("disconnect click"); }
    };
    for (const bool windowOpen : {false, true}) {
        test::EngineRig rig;
        rig.registerPlugin();
        rig.startAll();
        FakeWindow window;
        auto& ctx = rig.ctx();
        ctx.configWindow = &window;
        ctx.window.open = windowOpen;
        ctx.timers.disconnectRequest = true;
        ctx.timers.cmaxLaunch = true;
        ctx.timers.cmaxExe = "/opt/cmax";
        Timer3_Timer(ctx);
        ASSERT_EQ(rig.launcher.started.size(), 1u);
        rig.launcher.end({});
        if (windowOpen) {
            EXPECT_EQ(window.calls, (std::vector<std::string>{"port off", "disconnect click"}));
            EXPECT_TRUE(ctx.timers.disconnectRequest);  // the window's button clears it
            EXPECT_FALSE(rig.port.isOpen());
        } else {
            EXPECT_TRUE(window.calls.empty());
            EXPECT_FALSE(ctx.timers.disconnectRequest);
            EXPECT_TRUE(rig.port.isOpen() && ctx.link.portOpen && ctx.controller.linkFailure == 0);
        }
        ctx.configWindow = nullptr;
    }
}

TEST(Registration, logs_version_sets_generation_and_menu) {
    struct Case {
        std::string version;
        bool newGeneration;
        std::int32_t miscBase;
    };
    for (const Case& c : {Case{"2.5.0.81", true, 32768}, Case{"1.7.44", false, 0}}) {
        test::EngineOptions o;
        o.hostVersion = c.version;
        test::EngineRig rig(o);
        rig.registerPlugin();
        EXPECT_EQ(rig.ctx().host.newGeneration, c.newGeneration) << c.version;
        EXPECT_EQ(rig.ctx().host.miscBase, c.miscBase);
        EXPECT_TRUE(rig.logged("Version 0.1.0 Registered with varnel embedded host 0 "));
        EXPECT_EQ(rig.callback->menus(), (std::vector<std::pair<std::string, std::string>>{{"Varnel", "Setup"}}));
        EXPECT_TRUE(rig.ctx().settings.iniMode);
    }
}

TEST(Registration, menu_only_for_exact_text_1) {
    for (const std::string value : {"0", "1 ", "yes"}) {
        test::EngineRig rig;
        rig.host->SaveIniSetting("hspi_tarnwick", "showInMenu", value);
        rig.registerPlugin();
        EXPECT_TRUE(rig.callback->menus().empty()) << '"' << value << '"';
    }
}

TEST(Registration, settings_move_into_host_file_once) {
    test::EngineRig rig;
    rig.userSettings.set("hspi_tarnwick", "settings", "comport", "3");
    rig.registerPlugin();
    EXPECT_EQ(rig.host->GetIniSetting("hspi_tarnwick", "comport", ""), "3");
    EXPECT_EQ(rig.host->GetIniSetting("hspi_tarnwick", "reg_moved", ""), "1");
}

TEST(Registration, a_port_number_out_of_range_is_reported_under_InitIO_and_no_other_message_carries_it) {
    test::EngineRig rig;
    rig.userSettings.set("hspi_tarnwick", "settings", "comport", "99999");
    rig.startAll();
    EXPECT_TRUE(rig.logged("InitIO 1 Overflow"));
    for (const auto& line : rig.hostLog()) {
        if (line == "InitIO 1 Overflow") continue;
        EXPECT_EQ(line.find("Overflow"), std::string::npos) << line;
    }
    EXPECT_TRUE(rig.logged("Using Comm Port 1 0 "));
}

TEST(EntryPoints, learn_ir_queues_command_103_and_status_is_reported) {
    test::EngineRig rig;
    rig.registerPlugin();
    rig.ctx().gate.busy = 1;
    rig.ctx().link.commStarted = true;
    rig.plugin->LearnIR(5);
    const auto& rec = rig.ctx().queue.ring[0];
    EXPECT_EQ((std::pair<int, int>{rec.command, rec.brightness}), (std::pair<int, int>{103, 5}));
    EXPECT_EQ(rig.plugin->GetDeviceStatus("A", "1"), 0);
    EXPECT_TRUE(rig.logged("GetDeviceStatus A1 0 "));
}

TEST(EntryPoints, config_calls_on_an_xap_node_without_companion_do_nothing) {
    test::EngineOptions o;
    o.hostSettingsFile = false;
    test::EngineRig rig(o);
    rig.userSettings.set("hspi_tarnwick", "settings", "RunAsXapNode", "1");
    rig.registerPlugin();
    const auto before = rig.hostLog().size();
    rig.plugin->ConfigIR();
    rig.plugin->SelectMenu("Setup");
    EXPECT_EQ(rig.hostLog().size(), before);
    std::vector<std::string> called;
    rig.ctx().xapCompanion = [&](const std::string& m) {
        called.push_back(m);
        return true;
    };
    rig.plugin->ConfigX10();
    EXPECT_EQ(called, (std::vector<std::string>{"ConfigX10"}));
}

TEST(Shutdown, closes_port_launches_rename_script_when_ir_files_wait_and_ends) {
    for (const bool pending : {false, true}) {
        test::EngineRig rig;
        rig.startAll();
        rig.ctx().ir.filesPending = pending;
        rig.plugin->ShutDownIR();
        EXPECT_FALSE(rig.port.isOpen());
        EXPECT_EQ(rig.processEnded, 1);
        std::size_t launches = 0;
        for (const auto& r : rig.host->runs())
            if (r.kind == host::HostRun::Kind::Launch) {
                ++launches;
                EXPECT_EQ(r.file, (rig.dir.path() / "Scripts" / "Varnel_RenameFiles.vbs").string());
                EXPECT_EQ(r.parameter, "\"" + rig.dir.path().string() + "\"");
            }
        EXPECT_EQ(launches, pending ? 1u : 0u);
        rig.plugin->ShutdownIO();  // a second shutdown call changes nothing
        EXPECT_EQ(rig.processEnded, 1);
    }
}

}  // namespace
}  // namespace varnel
