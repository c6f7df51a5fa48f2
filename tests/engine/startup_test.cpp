// Finding the controller, scanning its modules and the interface starts,
// against the simulated controller on virtual time.
#include <gtest/gtest.h>

#include "engine_rig.h"
#include "plugin/startup.h"

namespace varnel {
namespace {

using sim::FrameKind;
using sim::Selector;

// The order in which the controller saw block reads and settings frames.
std::vector<std::string> discoverySequence(const sim::Controller& c) {
    std::vector<std::string> seq;
    for (const auto& f : c.frames()) {
        if (f.kind == FrameKind::BlockRead) {
            const Selector s = f.selector();
            if (s == sim::kParameterBlock1)
                seq.push_back("1");
            else if (s == sim::kParameterBlock2)
                seq.push_back("2");
            else if (s == sim::kModuleTable)
                seq.push_back("3");
        } else if (f.kind == FrameKind::Command && f.code() == 0x28) {
            seq.push_back("s" + std::to_string(f.bytes[2]) + "=" + std::to_string(f.bytes[4]));
        }
    }
    return seq;
}

std::vector<std::string> firstN(std::vector<std::string> v, std::size_t n) {
    v.resize(std::min(n, v.size()));
    return v;
}

TEST(Discovery, answering_controller_is_found_scanned_and_reset) {
    test::EngineRig rig;
    rig.registerPlugin();
    EXPECT_EQ(InitController(rig.ctx()), "");
    EXPECT_EQ(discoverySequence(rig.controller),
              (std::vector<std::string>{"1", "2", "3", "s16=0", "s15=0", "s17=0", "s18=0", "s7=0"}));
    EXPECT_EQ(rig.ctx().controller.linkFailure, 0);
    for (const char* line :
         {"Found CPU-XA/Ocelot 0 ", "Ocelot IR size:  1024 0 ", "Unit found: SECU16 Addr:  1 0 ",
          "Unit found: SECU16I Addr:  2 0 ", "Unit found: RELAY-08 Addr:  3 0 ", "Unit found: SECU16IR Addr:  4 0 "})
        EXPECT_TRUE(rig.logged(line)) << line;
    EXPECT_EQ(rig.ctx().controller.varSelector, (std::array<std::uint8_t, 2>{0x8E, 0xB6}));
    EXPECT_TRUE(rig.ctx().controller.startupIOCheck);
    EXPECT_EQ(rig.ctx().gate.busy, 0);
}

TEST(Discovery, silent_controller_is_asked_twice_then_scanned_and_reset_anyway) {
    test::EngineRig rig;
    rig.controller.faults().silent = true;
    rig.registerPlugin();
    const auto start = rig.loop.tickMs();
    EXPECT_EQ(InitController(rig.ctx()), "Timeout from CPU-XA/Ocelot");
    EXPECT_EQ(firstN(discoverySequence(rig.controller), 3), (std::vector<std::string>{"1", "1", "3"}));
    EXPECT_EQ(rig.controller.countOf(FrameKind::Command, 0x28), 5u);
    EXPECT_EQ(rig.ctx().controller.linkFailure, 1);
    const auto log = rig.hostLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Ocelot Plug-in Error, Timeout looking for CPU-XA/Ocelot 0 "), 2);
    // open 2 s, two 3 s waits, 2 s pause + 4 s scan wait, four 4 s settings waits (five frames).
    EXPECT_EQ(rig.loop.tickMs() - start, 2000 + 6000 + 6000 + 5 * 4000);
}

TEST(Discovery, second_block_timing_out_twice_repeats_the_first) {
    test::EngineRig rig;
    rig.registerPlugin();
    // Lose the replies to both second-block requests (the 2nd and 4th frames).
    int blockReads = 0;
    rig.controller.onFrameHook = [&](const sim::ReceivedFrame& f) {
        if (f.kind == FrameKind::BlockRead && f.selector() == sim::kParameterBlock2)
            rig.controller.faults().dropReplies = 1;
        ++blockReads;
    };
    EXPECT_EQ(InitController(rig.ctx()), "Timeout from CPU-XA/Ocelot");
    EXPECT_EQ(firstN(discoverySequence(rig.controller), 5), (std::vector<std::string>{"1", "2", "1", "2", "3"}));
    const auto log = rig.hostLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Found CPU-XA/Ocelot 0 "), 2);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Ocelot Plug-in Error, Timeout getting controller parameters 0 "), 2);
    EXPECT_EQ(rig.ctx().controller.linkFailure, 1);
}

TEST(Discovery, ir_modules_are_listed_in_address_order) {
    test::EngineOptions o;
    o.controller.modules = {
        {1, sim::ModuleType::Secu16Ir}, {6, sim::ModuleType::Secu16Ir}, {3, sim::ModuleType::Secu16}};
    test::EngineRig rig(o);
    rig.registerPlugin();
    InitController(rig.ctx());
    EXPECT_EQ(rig.ctx().controller.irModules, (std::vector<std::int16_t>{1, 6}));
    EXPECT_EQ(rig.ctx().controller.irModuleCount, 2);
    EXPECT_EQ(rig.plugin->MaxZones(), 33);
}

TEST(Discovery, module_table_timeout_keeps_table_and_says_nothing) {
    test::EngineRig rig;
    rig.registerPlugin();
    rig.controller.onFrameHook = [&](const sim::ReceivedFrame& f) {
        if (f.kind == FrameKind::BlockRead && f.selector() == sim::kModuleTable)
            rig.controller.faults().dropReplies = 1;
    };
    EXPECT_EQ(InitController(rig.ctx()), "");
    EXPECT_EQ(rig.ctx().controller.moduleTypes[0], 0);
    for (const auto& line : rig.hostLog()) EXPECT_EQ(line.find("Unit found"), std::string::npos) << line;
}

TEST(InterfaceStarts, first_start_discovers_later_ones_only_send_their_setting) {
    test::EngineRig rig;
    rig.registerPlugin();
    EXPECT_EQ(rig.plugin->InitIO(1), "");
    const auto afterIO = discoverySequence(rig.controller);
    EXPECT_EQ(firstN(afterIO, 3), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(afterIO.back(), "s16=2");  // the I/O interface's own setting

    rig.controller.clearRecords();
    EXPECT_EQ(rig.plugin->InitX10(1), "");
    EXPECT_EQ(discoverySequence(rig.controller), (std::vector<std::string>{"s15=1"}));

    rig.controller.clearRecords();
    EXPECT_EQ(rig.plugin->InitIR(1), "");
    // Recognition setting 0 (off) sends 1 to setting 0x11.
    EXPECT_EQ(discoverySequence(rig.controller), (std::vector<std::string>{"s17=1", "s18=0"}));
    EXPECT_TRUE(rig.ctx().link.recognition);

    rig.controller.clearRecords();
    EXPECT_EQ(rig.plugin->InitIO(1), "");
    EXPECT_EQ(rig.plugin->InitIR(1), "");
    EXPECT_TRUE(rig.controller.frames().empty());
}

TEST(InterfaceStarts, an_xap_node_starts_nothing_unless_the_host_is_the_setup_one) {
    for (const char* callbackType : {"EmbeddedHost", "Setup"}) {
        SCOPED_TRACE(callbackType);
        test::EngineOptions o;
        o.hostSettingsFile = false;  // the per-user store holds RunAsXapNode
        o.callbackType = callbackType;
        test::EngineRig rig(o);
        rig.userSettings.set("hspi_tarnwick", "settings", "RunAsXapNode", "1");
        rig.registerPlugin();
        const bool setup = std::string(callbackType) == "Setup";
        EXPECT_EQ(rig.ctx().host.setupHost, setup);
        EXPECT_FALSE(rig.ctx().host.hostMode);
        EXPECT_EQ(rig.plugin->InitX10(1) + rig.plugin->InitIO(1) + rig.plugin->InitIR(1), "");
        EXPECT_EQ(rig.controller.frames().empty(), !setup);
        EXPECT_TRUE(rig.ctx().controller.connected);
        EXPECT_TRUE(rig.ctx().link.recognition);
    }
}

TEST(Clock, frame_carries_digits_last_to_third_and_weekday) {
    test::EngineRig rig;
    rig.startAll();
    using namespace std::chrono;
    rig.loop.setWallClock(sys_days{year{2009} / 3 / 15} + hours{21} + minutes{47} + seconds{8});
    rig.controller.clearRecords();
    SetClock(rig.ctx());
    const auto frames = rig.controller.framesOf(FrameKind::Long, 0x3D);
    ASSERT_EQ(frames.size(), 1u);
    const std::vector<std::uint8_t> digits(frames[0].bytes.begin() + 2, frames[0].bytes.begin() + 15);
    EXPECT_EQ(digits, (std::vector<std::uint8_t>{8, 0, 7, 4, 1, 2, 5, 1, 3, 0, 9, 0, 0}));
    ASSERT_TRUE(rig.controller.clock());
    EXPECT_TRUE(rig.controller.clock()->valid);
}

TEST(Clock, setting_while_busy_waits_two_seconds) {
    test::EngineRig rig;
    rig.startAll();
    // Keep the polls quiet: they would hold the busy flag at the moment of the retry.
    rig.ctx().timers.timer2->setEnabled(false);
    rig.controller.clearRecords();
    rig.ctx().gate.busy = 1;
    SetClock(rig.ctx());
    EXPECT_TRUE(rig.controller.framesOf(FrameKind::Long, 0x3D).empty());
    rig.ctx().gate.busy = 0;
    SyncClock(rig.ctx());  // a second request merges into the pending one
    rig.run(2100);
    EXPECT_EQ(rig.controller.framesOf(FrameKind::Long, 0x3D).size(), 1u);
    rig.run(5000);
    EXPECT_EQ(rig.controller.framesOf(FrameKind::Long, 0x3D).size(), 1u);
}

TEST(Clock, no_frame_goes_out_while_a_report_is_half_read) {
    test::EngineRig rig;
    rig.startAll();
    rig.ctx().timers.timer2->setEnabled(false);
    rig.controller.clearRecords();
    SyncClock(rig.ctx());  // the clock frame is due in 2 s
    rig.run(1500);
    const std::int64_t restDueUs = rig.wire.nowUs() + 900'000;
    // Three bytes of an I/O report, the fourth 900 ms later: the clock falls due in between.
    rig.controller.faults().splitNextReport = sim::Faults::Split{.at = 3, .gapUs = 900'000};
    rig.controller.emitIoChange(1, 3, 1);
    rig.run(3000);
    const auto frames = rig.controller.framesOf(FrameKind::Long, 0x3D);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_GT(frames[0].atUs, restDueUs);
    EXPECT_EQ(rig.ctx().images.io[0] & 0x08, 0x08);  // the report was read whole
    EXPECT_EQ(rig.ctx().link.discarded, 0u);
}

}  // namespace
}  // namespace varnel
