// The response loop in real time: QtSerialPort on the simulator's
// pseudo-terminal, paced at 9600 baud.
#include <gtest/gtest.h>

#include "link/frames.h"
#include "link/serial_link.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/virtual/memory_settings.h"
#include "platform/virtual/recording_launcher.h"
#include "platform/virtual/recording_prompts.h"
#include "rig.h"
#include "sim/pty/pty_simulator.h"

namespace varnel {
namespace {

struct RealTimeLink {
    RealTimeLink() : controller(sim::ControllerConfig::typical()), pty(controller) {
        if (auto err = pty.start()) throw std::runtime_error(*err);
        if (auto err = port.open(pty.path())) throw std::runtime_error(*err);
        ctx.link.portOpen = true;
        // The simulator drops what it sends before it has noticed a listener.
        loop.waitUntil(2000, [&] { return pty.clientConnected(); });
    }
    QtEventLoop loop;
    sim::Controller controller;
    sim::pty::PtySimulator pty;
    QtSerialPort port;
    MemorySettings settings;
    RecordingPrompts prompts;
    RecordingLauncher launcher;
    test::TempDir dir;
    Context ctx{Platform{loop, port, settings, prompts, launcher, dir.path(), {}}};
};

TEST(PtySimulatorLink, block_read_of_the_variables_completes_with_a_good_crc) {
    RealTimeLink link;
    link.controller.setVariable(4, 0x1234);
    const auto frame = blockReadFrame(sim::kDefaultVariableSelector.first, sim::kDefaultVariableSelector.second);
    const auto t0 = link.loop.tickMs();
    SendBytes(link.ctx, frame);
    ASSERT_TRUE(ReadResponse(link.ctx, 4, kBlockReplyLength, kBlockRead));
    const auto took = link.loop.tickMs() - t0;
    const std::span<const std::uint8_t> reply(link.ctx.link.rx.data(), kBlockReplyLength);
    EXPECT_EQ(reply[0], kBlockRead);
    EXPECT_TRUE(blockReplyCrcOk(reply));
    // 272 bytes on the wire at 1.04 ms each; a loop that slept 200 ms at a time would add up to that much.
    EXPECT_GE(took, 270);
    EXPECT_LT(took, 450);
    EXPECT_EQ(link.controller.countOf(sim::FrameKind::BlockRead), 1u);
}

TEST(PtySimulatorLink, command_frame_gets_its_acknowledgement_and_reports_pass_by) {
    RealTimeLink link;
    std::vector<std::array<std::uint8_t, 4>> changes;
    link.ctx.hooks.ioChange = [&](const std::array<std::uint8_t, 4>& h) { changes.push_back(h); };
    link.controller.emitIoChange(1, 3, 1);
    const auto frame = commandFrame(0x28, 0x10, 0x00);
    SendBytes(link.ctx, frame);
    ASSERT_TRUE(ReadResponse(link.ctx, 4, kAckLength, 0));
    EXPECT_EQ(link.ctx.link.rx[0], kAck);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0][0], 0xF0);
    EXPECT_EQ(changes[0][1], 1);
    EXPECT_EQ(changes[0][2], 3);
}

TEST(PtySimulatorLink, a_silent_controller_times_out_on_time) {
    RealTimeLink link;
    link.controller.faults().silent = true;
    const auto t0 = link.loop.tickMs();
    EXPECT_FALSE(ReadResponse(link.ctx, 1, kAckLength, 0));
    const auto took = link.loop.tickMs() - t0;
    EXPECT_GE(took, 1000);
    EXPECT_LT(took, 1300);
}

TEST(PtySimulatorLink, the_simulator_going_away_closes_the_port_and_says_so) {
    RealTimeLink link;
    std::vector<std::string> errors;
    link.port.onError = [&](const std::string& text) { errors.push_back(text); };
    link.pty.stop();
    link.loop.waitUntil(1000, [&] { return !errors.empty(); });
    link.loop.wait(50);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_FALSE(link.port.isOpen());
    EXPECT_FALSE(ReadResponse(link.ctx, 0, kAckLength, 0));
}

}  // namespace
}  // namespace varnel
