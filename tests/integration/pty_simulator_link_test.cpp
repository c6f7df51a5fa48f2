// The response loop in real time: QtSerialPort on the simulator's
// pseudo-terminal, paced at 9600 baud.
#include <gtest/gtest.h>

#include "link/frames.h"
#include "link/serial_link.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_serial_port.h"
#include "rig.h"
#include "sim/pty/pty_simulator.h"
#include "test_events.h"

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
    test::Rig rig;  // settings, prompts, launcher and a folder; its virtual loop and port stay unused
    PluginState ctx{Platform{loop, port, rig.userSettings, rig.prompts, rig.launcher, rig.dir.path(), {}}};
};

TEST(PtySimulatorLink, block_read_and_command_complete_at_line_speed_and_reports_pass_by) {
    RealTimeLink link;
    int wakeUps = 0;
    link.port.onDataReceived = [&] { ++wakeUps; };
    const auto t0 = link.loop.tickMs();
    SendBytes(link.ctx, blockReadFrame(sim::kDefaultVariableSelector.first, sim::kDefaultVariableSelector.second));
    ASSERT_TRUE(ReadResponse(link.ctx, 4, kBlockReplyLength, kBlockRead));
    const auto took = link.loop.tickMs() - t0;
    // The bytes come a serial port's receive FIFO at a time, as a PC's port hands them over, not one by one.
    EXPECT_LE(wakeUps, static_cast<int>(kBlockReplyLength) / 4);
    const std::span<const std::uint8_t> reply(link.ctx.link.rx.data(), kBlockReplyLength);
    EXPECT_EQ(reply[0], kBlockRead);
    EXPECT_TRUE(blockReplyCrcOk(reply));
    // 272 bytes on the wire at 1.04 ms each; a loop that slept 200 ms at a time would add up to that much.
    EXPECT_GE(took, 270);
    EXPECT_LT(took, 450);

    std::vector<std::array<std::uint8_t, 4>> changes;
    test::TestEvents events(link.ctx);
    events.onReport = [&](const ControllerReport& r) {
        if (r.kind == ReportKind::IoChange) changes.push_back(r.head());
    };
    link.controller.emitIoChange(1, 3, 1);
    SendBytes(link.ctx, commandFrame(0x28, 0x10, 0x00));
    ASSERT_TRUE(ReadResponse(link.ctx, 4, kAckLength, 0));
    EXPECT_EQ(link.ctx.link.rx[0], kAck);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ((std::array{changes[0][0], changes[0][1], changes[0][2]}), (std::array<std::uint8_t, 3>{0xF0, 1, 3}));
}

}  // namespace
}  // namespace varnel
