// The I/O timer's queue: every queued command kind, the 50-record limit, the
// I/O check after the queue, and the disconnection and CMAX run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/ir.h"
#include "commands/queue.h"
#include "devices/io_timer.h"
#include "rig.h"
#include "scripted_controller.h"

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct QueueRig : test::Rig {
    QueueRig() : far(*this) {
        ctx.link.commStarted = true;
        ctx.controller.irModuleFlag = true;
        ctx.controller.irModules = {4, 9};
        ctx.controller.irModuleCount = 2;
        ctx.controller.presetDim = {12, 13, 14, 15, 2, 3, 0, 1, 4, 5, 6, 7, 10, 11, 8, 9};
        ctx.hooks.ioTick = [this] { Timer3_Timer(ctx); };
    }
    test::ScriptedController far;
};

Bytes bytes(const CommandFrame& f) { return {f.begin(), f.end()}; }

QueueRecord rec(std::int16_t command, std::int32_t brightness, std::int16_t data1 = 0, std::int16_t data2 = 0,
                std::string house = "", std::string device = "") {
    return QueueRecord{std::move(house), std::move(device), command, brightness, data1, data2};
}

struct QueuedCase {
    const char* name;
    QueueRecord record;
    std::vector<Bytes> frames;
};

class QueuedCommandTest : public testing::TestWithParam<QueuedCase> {};

TEST_P(QueuedCommandTest, runs_on_the_next_tick_and_leaves_the_queue_empty) {
    QueueRig rig;
    QExec(rig.ctx, GetParam().record);
    EXPECT_EQ(rig.far.frames(), GetParam().frames);
    EXPECT_EQ(rig.ctx.queue.count, 0);
    EXPECT_EQ(rig.ctx.queue.readIndex, 1);
    EXPECT_TRUE(rig.host->log.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, QueuedCommandTest,
    testing::Values(
        QueuedCase{"x10_on",
                   rec(2, 0, 0, 0, "A", "5"),
                   {{0xC8, 0x37, 0x00, 0x04, 0x01, 0x00, 0x00, 0x04}, {0xC8, 0x37, 0x00, 0x12, 0x01, 0x00, 0x00, 0x12}}},
        QueuedCase{"variable_write",
                   rec(19, 300, 0, 0, "35", "5"),
                   {{0xC8, 0x29, 0x05, 0x2C, 0x01, 0x00, 0x00, 0x23}}},
        QueuedCase{"point_write",
                   rec(101, 1, 3, 2),
                   {{0xC8, 0x33, 0x03, 0x02, 0x01, 0x00, 0x00, 0x01}}},
        QueuedCase{"zone_35_of_two_modules_falls_back_to_the_first",
                   rec(100, 300, 35, 0),
                   {bytes(remotePlayFrame(4, 1, 300))}},
        QueuedCase{"zone_17_plays_on_the_controller", rec(100, 300, 17, 0),
                   {bytes(localPlayFrame(300))}},
        QueuedCase{"remote_play", rec(102, 9, 3, 300),
                   {bytes(remotePlayFrame(9, 3, 300))}},
        QueuedCase{"command_20_does_nothing", rec(20, 1, 0, 0), {}},
        QueuedCase{"command_99_does_nothing", rec(99, 1, 0, 0), {}},
        QueuedCase{"command_104_does_nothing", rec(104, 1, 0, 0), {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QueuedCommand, learn_prompt_asks_the_user_for_the_location) {
    QueueRig rig;
    QExec(rig.ctx, rec(103, 5, 0, 0));
    ASSERT_EQ(rig.prompts.shown.size(), 1u);
    EXPECT_EQ(rig.prompts.shown[0].text, learnPromptText(5));
    EXPECT_EQ(rig.ctx.queue.count, 0);
}

TEST(QueuedCommand, failure_is_reported_and_the_queue_moves_on) {
    QueueRig rig;
    rig.ctx.link.busy = 1;  // hold the tick while both are queued
    QExec(rig.ctx, rec(2, 70000, 0, 0, "A", "1"));
    QExec(rig.ctx, rec(101, 1, 3, 2));
    rig.ctx.link.busy = 0;
    Timer3_Timer(rig.ctx);
    ASSERT_EQ(rig.host->log.size(), 1u);
    EXPECT_EQ(rig.host->log[0].second, "Timer3 Line  5 Overflow");
    EXPECT_EQ(rig.far.frames(), (std::vector<Bytes>{{0xC8, 0x33, 0x03, 0x02, 0x01, 0x00, 0x00, 0x01}}));
}

TEST(Queue, fifty_wait_and_the_fifty_first_is_dropped) {
    QueueRig rig;
    rig.ctx.link.busy = 1;
    for (int i = 1; i <= 51; ++i)
        QExec(rig.ctx, rec(101, i, 1, 0));
    EXPECT_EQ(rig.ctx.queue.count, 50);
    rig.ctx.link.busy = 0;
    Timer3_Timer(rig.ctx);
    ASSERT_EQ(rig.far.frames().size(), 50u);
    EXPECT_EQ(rig.far.frames().front()[4], 1);
    EXPECT_EQ(rig.far.frames().back()[4], 50);
    EXPECT_EQ(rig.ctx.queue.count, 0);
    EXPECT_EQ(rig.ctx.queue.readIndex, 0);  // wrapped from 49
}

TEST(CheckLoop, requested_check_polls_the_io_buffer_once_and_clears_both_flags) {
    QueueRig rig;
    rig.ctx.controller.connected = true;
    rig.ctx.timers.ioCheckRequest = true;
    rig.ctx.controller.startupIOCheck = true;
    rig.far.reply(test::ScriptedController::blockReply(0x8D, 0xB5));
    Timer3_Timer(rig.ctx);
    ASSERT_EQ(rig.far.frames().size(), 1u);
    EXPECT_EQ(rig.far.frames()[0][0], 0x2A);
    EXPECT_FALSE(rig.ctx.timers.ioCheckRequest);
    EXPECT_FALSE(rig.ctx.controller.startupIOCheck);
    Timer3_Timer(rig.ctx);
    EXPECT_EQ(rig.far.frames().size(), 1u);
}

TEST(CheckLoop, queue_runs_before_the_poll) {
    QueueRig rig;
    rig.ctx.controller.connected = true;
    rig.ctx.timers.ioCheckRequest = true;
    rig.ctx.link.busy = 1;
    QExec(rig.ctx, rec(101, 1, 3, 2));
    rig.ctx.link.busy = 0;
    rig.far.reply(test::ScriptedController::ack()).reply(test::ScriptedController::blockReply(0x8D, 0xB5));
    Timer3_Timer(rig.ctx);
    ASSERT_EQ(rig.far.frames().size(), 2u);
    EXPECT_EQ(rig.far.frames()[0][1], 0x33);
    EXPECT_EQ(rig.far.frames()[1][0], 0x2A);
}

struct DisconnectRig : QueueRig {
    DisconnectRig() {
        ctx.timers.timer2 = loop.createTimer();
        ctx.timers.timer3 = loop.createTimer();
        ctx.timers.timer2->setInterval(500);
        ctx.timers.timer3->setInterval(200);
        ctx.timers.timer2->setEnabled(true);
        ctx.timers.timer3->setEnabled(true);
        ctx.timers.disconnectRequest = true;
        ctx.timers.cmaxExe = "C:\\CMAX\\cmax.exe";
        ctx.hooks.windowPortOpen = [this](bool on) { calls.push_back(on ? "port on" : "port off"); };
        ctx.hooks.windowDisconnectClick = [this] { calls.push_back("disconnect click"); };
        ctx.hooks.startCommunications = [this] { calls.push_back("start"); };
    }
    std::vector<std::string> calls;
};

struct DisconnectCase {
    const char* name;
    bool cmax, windowOpen;
    std::vector<std::string> calls;
    bool requestAfter, portOpenAfter;
    std::size_t launches;
};

class DisconnectTest : public testing::TestWithParam<DisconnectCase> {};

TEST_P(DisconnectTest, closes_the_port_and_reconnects_after_a_cmax_run) {
    DisconnectRig rig;
    const auto& c = GetParam();
    rig.ctx.timers.cmaxLaunch = c.cmax;
    rig.ctx.window.open = c.windowOpen;
    Timer3_Timer(rig.ctx);
    EXPECT_FALSE(rig.ctx.timers.timer2->enabled());
    EXPECT_FALSE(rig.ctx.timers.timer3->enabled());
    EXPECT_FALSE(rig.port.isOpen());
    EXPECT_FALSE(rig.ctx.link.commStarted);
    EXPECT_EQ(rig.calls, c.calls);
    EXPECT_EQ(rig.ctx.timers.disconnectRequest, c.requestAfter);
    EXPECT_EQ(rig.ctx.link.portOpen, c.portOpenAfter);
    EXPECT_FALSE(rig.ctx.timers.cmaxLaunch);
    ASSERT_EQ(rig.launcher.runs.size(), c.launches);
    if (c.launches) {
        EXPECT_EQ(rig.launcher.runs[0].program, "C:\\CMAX\\cmax.exe");
        EXPECT_TRUE(rig.launcher.runs[0].wait);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, DisconnectTest,
    testing::Values(DisconnectCase{"disconnect_only", false, false, {}, true, true, 0},
                    DisconnectCase{"disconnect_with_window", false, true, {"port off"}, true, true, 0},
                    DisconnectCase{"cmax_without_window_restarts", true, false, {"start"}, false, false, 1},
                    DisconnectCase{"cmax_with_window_clicks_disconnect", true, true, {"port off", "disconnect click"},
                                   true, true, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Disconnect, without_timers_it_still_disconnects) {
    QueueRig rig;
    rig.ctx.timers.disconnectRequest = true;
    Timer3_Timer(rig.ctx);
    EXPECT_FALSE(rig.port.isOpen());
    EXPECT_TRUE(rig.host->log.empty());
}

}  // namespace
}  // namespace varnel
