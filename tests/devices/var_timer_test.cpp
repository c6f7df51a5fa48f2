// The variable timer: variable pass and its cache, early stop, interval, clock step.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "devices/device_model.h"
#include "devices/var_timer.h"
#include "devices_rig.h"

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

struct VarRig : test::DevicesRig {
    VarRig() : far(*this) {
        ctx.controller.varSelector = {0x12, 0x34};
        ctx.devices.varsHouseCode = 'R';
        ctx.hooks.syncClock = [this] { ++clockSyncs; };
        at(0, 12);
    }
    void select(int n) {
        CreateDevice(ctx, variableCode(ctx, n), static_cast<std::int16_t>(n));
        ctx.devices.varSelected[static_cast<std::size_t>(n)] = kTrue;
    }
    // One tick whose poll answers with `values` (variable number -> value).
    Strings tick(const std::vector<std::pair<int, int>>& values) {
        Bytes data(256, 0);
        for (auto [n, v] : values) {
            data[static_cast<std::size_t>(2 * n)] = static_cast<std::uint8_t>(v & 0xFF);
            data[static_cast<std::size_t>(2 * n + 1)] = static_cast<std::uint8_t>(v >> 8);
        }
        far.reply(test::ScriptedController::blockReply(0x12, 0x34, data));
        ehost->clearEvents();
        Timer2_Timer(ctx);
        return events();
    }
    void at(int day, int hour, int minute = 0) {
        using namespace std::chrono;
        loop.setWallClock(sys_days{year{2009} / 3 / (15 + day)} + hours{hour} + minutes{minute});
    }
    test::ScriptedController far;
    int clockSyncs = 0;
};

struct Step {
    int value;
    Strings events;
};

TEST(VariablePass, device_follows_a_variable_through_0_5_7_0) {
    VarRig rig;
    rig.select(0);
    const std::vector<Step> steps{
        {0, {}},
        {5, {"S R1=2", "C R1=5"}},
        {7, {"C R1=7"}},   // already on: no status
        {0, {"S R1=3", "C R1=0"}},
        {0, {}},
    };
    for (const auto& s : steps) EXPECT_EQ(rig.tick({{0, s.value}}), s.events) << "value " << s.value;
    EXPECT_TRUE(rig.ctx.timers.varsCached);
    EXPECT_TRUE(rig.ctx.timers.ioCheckRequest);
    EXPECT_FALSE(rig.ctx.timers.timerBusy);
}

TEST(VariablePass, host_values_are_read_on_the_first_complete_pass_only) {
    VarRig rig;
    rig.select(3);
    rig.ehost->SetDeviceValue("R4", 9);
    EXPECT_EQ(rig.tick({{3, 9}}), (Strings{}));
    rig.ehost->SetDeviceValue("R4", 2);  // the host's own change is not looked at again
    EXPECT_EQ(rig.tick({{3, 9}}), (Strings{}));
    EXPECT_EQ(rig.faulty->valueReads, (Strings{"R4"}));
    EXPECT_EQ(rig.ctx.timers.hostValueCache[4], 9);
}

TEST(VariablePass, variable_64_is_the_second_letter_and_cache_entry_65) {
    VarRig rig;
    rig.select(64);
    rig.select(127);
    EXPECT_EQ(rig.tick({{64, 4}, {127, 300}}), (Strings{"S S1=2", "C S1=4", "S S64=2", "C S64=300"}));
    EXPECT_EQ(rig.ctx.timers.hostValueCache[65], 4);
    EXPECT_EQ(rig.ctx.timers.hostValueCache[64], 0);
    EXPECT_EQ(rig.ctx.timers.hostValueCache[128], 300);
}

TEST(VariablePass, unselected_variable_is_neither_read_nor_written) {
    VarRig rig;
    rig.select(0);
    CreateDevice(rig.ctx, "R2", 1);
    EXPECT_EQ(rig.tick({{1, 5}}), (Strings{}));
    EXPECT_EQ(rig.faulty->valueReads, (Strings{"R1"}));
}

TEST(VariablePass, failing_host_read_skips_that_variable_only) {
    VarRig rig;
    rig.ctx.switches.logComms = 1;
    rig.select(0);
    rig.select(1);
    rig.faulty->failing = {"DeviceValue"};
    rig.faulty->onlyCode = "R1";
    EXPECT_EQ(rig.tick({{0, 5}, {1, 6}}), (Strings{"S R2=2", "C R2=6"}));
    EXPECT_EQ(rig.ctx.timers.hostValueCache[1], 0);
    const auto lines = test::commsLogLines(rig);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Error attempting to call hs.DeviceValue, skipping this var"),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Setting Var: R2 to 6"), lines.end());
}

TEST(VariablePass, queued_command_stops_the_pass_and_leaves_the_cache_unfinished) {
    VarRig rig;
    rig.select(0);
    rig.select(1);
    rig.ehost->onEvent = [&](const host::HostEvent& e) {
        if (e.kind == host::HostEvent::Kind::ValueChange) rig.ctx.queue.count = 1;
    };
    EXPECT_EQ(rig.tick({{0, 5}, {1, 6}}), (Strings{"S R1=2", "C R1=5"}));
    EXPECT_FALSE(rig.ctx.timers.varsCached);
    EXPECT_FALSE(rig.ctx.timers.ioCheckRequest);
    EXPECT_FALSE(rig.ctx.timers.timerBusy);
}

TEST(VariablePass, without_variables_house_code_only_the_check_is_requested) {
    VarRig rig;
    rig.select(0);
    rig.ctx.devices.varsHouseCode = 0;
    EXPECT_EQ(rig.tick({{0, 5}}), (Strings{}));
    EXPECT_TRUE(rig.ctx.timers.ioCheckRequest);
    EXPECT_FALSE(rig.ctx.timers.varsCached);
    EXPECT_TRUE(rig.faulty->valueReads.empty());
}

TEST(VariablePass, failed_poll_touches_no_variable_but_requests_the_check) {
    VarRig rig;
    rig.select(0);
    rig.far.silent(2);
    rig.ehost->clearEvents();
    Timer2_Timer(rig.ctx);
    EXPECT_EQ(rig.events(), (Strings{}));
    EXPECT_TRUE(rig.ctx.timers.ioCheckRequest);
    EXPECT_TRUE(rig.faulty->valueReads.empty());
}

struct GuardCase {
    const char* name;
    std::int16_t busy, x10Sending;
    bool timerBusy;
    int queued;
};

class VarTickGuardTest : public testing::TestWithParam<GuardCase> {};

TEST_P(VarTickGuardTest, tick_ends_at_once_without_clock_step) {
    VarRig rig;
    rig.at(0, 1);
    rig.ctx.link.busy = GetParam().busy;
    rig.ctx.timers.x10Sending = GetParam().x10Sending;
    rig.ctx.timers.timerBusy = GetParam().timerBusy;
    rig.ctx.queue.count = GetParam().queued;
    Timer2_Timer(rig.ctx);
    EXPECT_TRUE(rig.port.written.empty());
    EXPECT_EQ(rig.clockSyncs, 0);
    EXPECT_FALSE(rig.ctx.timers.ioCheckRequest);
}

INSTANTIATE_TEST_SUITE_P(Guards, VarTickGuardTest,
                         testing::Values(GuardCase{"command_waiting", 1, 0, false, 0},
                                         GuardCase{"x10_sending", 0, 1, false, 0},
                                         GuardCase{"other_tick_running", 0, 0, true, 0},
                                         GuardCase{"command_queued", 0, 0, false, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VarTimer, new_poll_interval_takes_effect_at_the_end_of_the_tick) {
    VarRig rig;
    rig.ctx.timers.timer2 = rig.loop.createTimer();
    Timer& t = *rig.ctx.timers.timer2;
    t.setInterval(500);
    t.setEnabled(true);
    rig.ctx.timers.pollInterval = "1000";
    rig.tick({});
    EXPECT_EQ(t.interval(), 1000);
    EXPECT_TRUE(t.enabled());
    rig.ctx.timers.pollInterval = "0";  // a timer cannot run at 0: kept
    rig.tick({});
    EXPECT_EQ(t.interval(), 1000);
}

TEST(VarTimer, tick_without_a_timer_object_still_runs) {
    VarRig rig;
    rig.ctx.timers.pollInterval = "750";
    rig.tick({});
    EXPECT_TRUE(rig.ctx.timers.ioCheckRequest);
}

TEST(ClockStep, runs_once_in_the_hour_after_one_and_never_again) {
    VarRig rig;
    struct At {
        int day, hour, minute, syncs;
    };
    const std::vector<At> ticks{{0, 0, 59, 0}, {0, 1, 0, 1}, {0, 1, 30, 1}, {1, 1, 5, 1}, {2, 2, 0, 1}};
    for (const auto& a : ticks) {
        rig.at(a.day, a.hour, a.minute);
        rig.tick({});
        EXPECT_EQ(rig.clockSyncs, a.syncs) << "day " << a.day << " " << a.hour << ":" << a.minute;
    }
    EXPECT_EQ(rig.ctx.timers.clockSynced, 1);
}

TEST(ClockStep, also_after_a_failed_poll) {
    VarRig rig;
    rig.at(0, 1, 15);
    rig.far.silent(2);
    Timer2_Timer(rig.ctx);
    EXPECT_EQ(rig.clockSyncs, 1);
}

}  // namespace
}  // namespace varnel
