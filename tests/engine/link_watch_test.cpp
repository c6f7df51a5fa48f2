// The link watch on virtual time: a port that goes away, a controller that falls
// silent, the pauses between tries, a user's disconnect; and stops that arrive
// while the plug-in waits.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine_rig.h"
#include "plugin/health.h"

namespace varnel {
namespace {

bool isBlockRead(const sim::ReceivedFrame& f) { return f.kind == sim::FrameKind::BlockRead; }

class LinkWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        rig.startAll();
        rig.ctx().showStartupStep = [this](const std::string& s) { steps.push_back(s); };
        rig.plugin->linkWatch().arm();
        rig.run(2000);
        ASSERT_EQ(rig.ctx().health.state, LinkHealth::State::Up);
    }
    int logCount(const std::string& prefix) const {
        const auto log = rig.hostLog();
        return static_cast<int>(
            std::count_if(log.begin(), log.end(), [&](const std::string& m) { return m.rfind(prefix, 0) == 0; }));
    }
    std::size_t x10Events() const {
        return static_cast<std::size_t>(
            std::count_if(rig.host->events().begin(), rig.host->events().end(),
                          [](const host::HostEvent& e) { return e.kind == host::HostEvent::Kind::X10; }));
    }
    void unplug() {
        rig.port.failingDevices["COM1"] = "Serial port COM1 not found";
        rig.port.fail("Serial port COM1 went away; port closed");
    }

    test::EngineRig rig;
    std::vector<std::string> steps;
};

TEST_F(LinkWatchTest, an_unplugged_port_is_tried_again_quietly_and_events_flow_once_it_is_back) {
    unplug();
    EXPECT_FALSE(rig.ctx().link.portOpen);
    EXPECT_FALSE(rig.ctx().link.commStarted) << "the flags follow the port";
    rig.controller.clearRecords();
    rig.run(11 * 60'000);  // a reminder 10 min after the loss
    EXPECT_EQ(rig.ctx().health.state, LinkHealth::State::Reconnecting);
    EXPECT_EQ(logCount("Controller link lost: Serial port COM1 went away"), 1);
    EXPECT_EQ(logCount("Controller link lost 10 min ago; still trying every 30 s"), 1)
        << testing::PrintToString(rig.hostLog());
    EXPECT_EQ(rig.port.writesWhileClosed, 0u);
    EXPECT_TRUE(rig.controller.frames().empty());
    EXPECT_EQ(linkStateText(rig.ctx()).rfind("reconnecting since ", 0), 0u) << linkStateText(rig.ctx());

    rig.port.failingDevices.clear();
    steps.clear();
    rig.run(40'000);  // the pause has grown to 30 s; then the start-up
    EXPECT_EQ(rig.ctx().health.state, LinkHealth::State::Up);
    EXPECT_EQ(logCount("Controller link back after "), 1);
    EXPECT_EQ(logCount("Controller link lost"), 2);
    EXPECT_TRUE(std::any_of(rig.controller.frames().begin(), rig.controller.frames().end(), isBlockRead));
    EXPECT_TRUE(steps.empty()) << "the link back is one line, not the try's start-up told again";

    const auto before = x10Events();
    rig.controller.emitX10Received(0, 0);
    rig.controller.emitX10Received(0, 18);
    rig.run(1000);
    EXPECT_EQ(x10Events(), before + 1);
}

TEST_F(LinkWatchTest, pauses_between_tries_grow_from_one_second_to_thirty) {
    unplug();
    const std::size_t base = rig.port.openAttempts;
    // Tries 1, 3, 7, 15, 31, 61, 91 s after the loss.
    const struct {
        int atMs;
        std::size_t tries;
    } table[] = {{900, 0},    {1'100, 1},  {3'100, 2},  {7'100, 3},  {15'100, 4},
                 {31'100, 5}, {60'900, 5}, {61'100, 6}, {91'100, 7}, {120'000, 7}};
    int now = 0;
    for (const auto& row : table) {
        rig.run(row.atMs - now);
        now = row.atMs;
        EXPECT_EQ(rig.port.openAttempts - base, row.tries) << "at " << row.atMs << " ms";
    }
}

TEST_F(LinkWatchTest, a_change_where_the_device_lives_cuts_a_long_pause_short) {
    unplug();
    rig.run(40'000);  // tries at 1, 3, 7, 15 and 31 s: the next waits 30 s
    const std::size_t tries = rig.port.openAttempts;
    rig.plugin->linkWatch().deviceMayHaveAppeared();  // something else appeared: still missing
    rig.run(200);
    EXPECT_EQ(rig.port.openAttempts, tries + 1);
    rig.port.failingDevices.clear();  // udev was not through yet; a second later it is
    rig.run(1'000);
    EXPECT_EQ(rig.port.openAttempts, tries + 3) << "the probe and the start-up's own open";
    rig.run(10'000);
    EXPECT_EQ(rig.ctx().health.state, LinkHealth::State::Up);
}

// A long outage is a line at its start and end and reminders ever further apart.
TEST_F(LinkWatchTest, a_controller_silent_for_a_minute_is_reconnected_and_a_shorter_silence_is_not) {
    rig.controller.faults().silent = true;
    rig.run(50'000);
    EXPECT_EQ(rig.ctx().health.state, LinkHealth::State::Up) << "not yet a minute of time-outs";
    rig.run(30'000);
    EXPECT_EQ(rig.ctx().health.state, LinkHealth::State::Reconnecting);
    EXPECT_EQ(logCount("Controller link lost: no answer from the controller for 60 s"), 1);

    steps.clear();
    rig.run(120'000);  // tries open the port, the start-up meets silence: not logged again
    EXPECT_EQ(logCount("Controller link lost"), 1);
    EXPECT_EQ(rig.ctx().health.state, LinkHealth::State::Reconnecting);
    EXPECT_EQ(rig.ctx().health.startup.rfind("failed, no answer from the controller", 0), 0u)
        << rig.ctx().health.startup;
    // Reminders 10, 30, 70 and 150 min after the loss, told as "2 h".
    rig.run(3 * 60 * 60'000);
    EXPECT_EQ(logCount("Controller link lost"), 5);
    EXPECT_EQ(logCount("Controller link lost 2 h ago; still trying every 30 s"), 1)
        << testing::PrintToString(rig.hostLog());
    EXPECT_LE(steps.size(), 1u) << "a failed try's summary, once";

    rig.controller.faults().silent = false;
    rig.run(120'000);
    EXPECT_EQ(rig.ctx().health.state, LinkHealth::State::Up);
    EXPECT_EQ(logCount("Controller link back after "), 1);
}

TEST_F(LinkWatchTest, a_disconnect_the_user_asked_for_is_never_undone) {
    rig.ctx().timers.disconnectRequest = true;
    rig.run(1000);
    ASSERT_FALSE(rig.ctx().link.commStarted);
    const std::size_t opens = rig.port.openAttempts;
    rig.run(120'000);
    EXPECT_EQ(rig.port.openAttempts, opens);
    EXPECT_FALSE(rig.port.isOpen());
    EXPECT_EQ(logCount("Controller link lost"), 0);
    EXPECT_EQ(linkStateText(rig.ctx()), "disconnected by the user");
}

// A stop that arrives while the plug-in waits ends the wait at once; nothing goes out afterwards.
TEST(StopInsideAWait, the_wait_ends_and_nothing_is_sent_on_the_closed_port) {
    const struct {
        const char* name;
        bool startUp;  // stopped during the start-up, else during a command's wait
    } cases[] = {{"start-up against a silent controller", true}, {"a variable write nobody answers", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::EngineRig rig;
        rig.controller.faults().silent = true;
        rig.registerPlugin();
        std::int64_t stoppedAt = -1;
        if (c.startUp) {
            rig.loop.postUs(5'000'000, [&] {
                stoppedAt = rig.loop.tickMs();
                rig.plugin->endWaits();
            });
            rig.plugin->InitIO(1);
            rig.plugin->ShutdownIO();
        } else {
            rig.plugin->InitIO(1);  // its time-outs, then the port is open
            rig.loop.postUs(1'000'000, [&] {
                stoppedAt = rig.loop.tickMs();
                rig.plugin->ShutdownIO();
            });
            rig.plugin->SetVar(5, 300);
        }
        ASSERT_GE(stoppedAt, 0);
        EXPECT_LE(rig.loop.tickMs() - stoppedAt, 2'500);  // the shutdown's own 2 s included
        EXPECT_EQ(rig.processEnded, 1);
        EXPECT_EQ(rig.port.writesWhileClosed, 0u);
        const auto sent = rig.port.written.size();
        rig.run(60'000);
        EXPECT_EQ(rig.port.written.size(), sent);
        EXPECT_FALSE(rig.ctx().link.portOpen);
        EXPECT_FALSE(rig.ctx().link.commStarted);
    }
}

TEST(StartupSummary, says_how_the_start_up_ended) {
    const struct {
        bool silent;
        bool portMissing;
        const char* result;
    } cases[] = {{false, false, "ok, 4 modules"},
                 {true, false, "failed, no answer from the controller"},
                 {false, true, "failed, the port is not open"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        test::EngineRig rig;
        rig.controller.faults().silent = c.silent;
        if (c.portMissing) rig.port.failingDevices["COM1"] = "Serial port COM1 not found";
        std::vector<std::string> steps;
        rig.ctx().showStartupStep = [&](const std::string& s) { steps.push_back(s); };
        startupBegins(rig.ctx());
        rig.startAll();
        startupEnds(rig.ctx());
        EXPECT_EQ(rig.ctx().health.startup.rfind(std::string(c.result) + " (", 0), 0u) << rig.ctx().health.startup;
        ASSERT_GE(steps.size(), 3u);
        EXPECT_EQ(steps.front(), "opening COM1");
        EXPECT_EQ(std::adjacent_find(steps.begin(), steps.end()), steps.end()) << "a step each interface start repeats";
        EXPECT_EQ(steps.back().rfind("done in ", 0), 0u);
        EXPECT_NE(steps.back().find(std::string(": ") + c.result), std::string::npos) << steps.back();
        const auto lines = healthLines(rig.ctx());
        EXPECT_EQ(lines.back(), "start-up: " + rig.ctx().health.startup);
    }
}

}  // namespace
}  // namespace varnel
