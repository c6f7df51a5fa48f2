// The variable timer: variable pass and its cache, early stop, interval, clock step.
#include <gtest/gtest.h>
#include <algorithm>

#include <chrono>
#include <string>
#include <vector>

#include "devices/device_model.h"
#include "devices/var_timer.h"
#include "devices_rig.h"
#include "test_events.h"

namespace varnel {
namespace {

using Strings = std::vector<std::string>;

struct VarRig : test::DevicesRig {
    VarRig() : far(*this) {
        ctx.controller.varSelector = {0x12, 0x34};
        ctx.devices.varsHouseCode = 'R';
        at(0, 12);
    }
    void select(int n) {
        CreateDevice(ctx, variableCode(ctx, n), static_cast<std::int16_t>(n));
        ctx.devices.varSelected[static_cast<std::size_t>(n)] = kTrue;
    }
    // One tick whose poll answers with `values` (variable number, value).
    Strings tick(const std::vector<std::pair<int, int>>& values) {
        std::vector<std::uint8_t> data(256, 0);
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
    test::TestEvents upward{ctx};
    [[nodiscard]] long clockSyncs() const { return std::count(upward.calls.begin(), upward.calls.end(), "sync clock"); }
};

TEST(VariablePass, device_follows_a_variable_through_0_5_7_0) {
    VarRig rig;
    rig.select(0);
    CreateDevice(rig.ctx, "R2", 1);  // not selected: never read nor written
    const std::vector<std::pair<int, Strings>> steps{
        {0, {}}, {5, {"S R1=2", "C R1=5"}}, {7, {"C R1=7"}}, {0, {"S R1=3", "C R1=0"}}, {0, {}}};
    for (const auto& [value, events] : steps) EXPECT_EQ(rig.tick({{0, value}, {1, value + 1}}), events) << value;
    EXPECT_TRUE(rig.ctx.timers.varsCached);
    EXPECT_TRUE(rig.ctx.timers.ioCheckRequest);
    EXPECT_FALSE(rig.ctx.gate.timerBusy);
}

TEST(VariablePass, first_pass_starts_from_the_host_value) {
    VarRig rig;
    rig.select(3);
    rig.ehost->SetDeviceValue("R4", 9);
    EXPECT_EQ(rig.tick({{3, 9}}), (Strings{}));
    rig.ehost->SetDeviceValue("R4", 2);
    EXPECT_EQ(rig.tick({{3, 9}}), (Strings{}));
}

TEST(VariablePass, variable_64_is_the_second_letter_and_cache_entry_65) {
    VarRig rig;
    rig.select(64);
    rig.select(127);
    EXPECT_EQ(rig.tick({{64, 4}, {127, 300}}), (Strings{"S S1=2", "C S1=4", "S S64=2", "C S64=300"}));
    // The cache holds 1..128; the last variable must land inside it.
    EXPECT_EQ((std::vector<std::int32_t>{rig.ctx.timers.hostValueCache[64], rig.ctx.timers.hostValueCache[65],
                                         rig.ctx.timers.hostValueCache[128]}),
              (std::vector<std::int32_t>{0, 4, 300}));
}

TEST(VariablePass, queued_command_stops_the_pass_and_leaves_the_cache_unfinished) {
    VarRig rig;
    rig.select(0);
    rig.select(1);
    rig.ehost->onEvent = [&](const host::HostEvent& e) {
        if (e.kind == host::HostEvent::Kind::ValueChange) rig.ctx.queue.count = 1;
    };
    EXPECT_EQ(rig.tick({{0, 5}, {1, 6}}), (Strings{"S R1=2", "C R1=5"}));
    EXPECT_FALSE(rig.ctx.timers.varsCached || rig.ctx.timers.ioCheckRequest || rig.ctx.gate.timerBusy);
}

TEST(VariablePass, failed_poll_or_no_variables_only_requests_the_check) {
    for (const bool noVariables : {true, false}) {
        VarRig rig;
        rig.select(0);
        if (noVariables) {
            rig.ctx.devices.varsHouseCode = 0;
            EXPECT_EQ(rig.tick({{0, 5}}), (Strings{}));
        } else {
            rig.far.silent(2);
            Timer2_Timer(rig.ctx);
        }
        EXPECT_TRUE(rig.ctx.timers.ioCheckRequest);
        EXPECT_FALSE(rig.ctx.timers.varsCached);
    }
}

TEST(VarTimer, does_nothing_while_anything_else_is_under_way) {
    for (int guard = 0; guard < 4; ++guard) {
        VarRig rig;
        rig.at(0, 1);
        rig.ctx.gate.busy = guard == 0 ? 1 : 0;
        rig.ctx.gate.x10Sending = guard == 1 ? 1 : 0;
        rig.ctx.gate.timerBusy = guard == 2;
        rig.ctx.queue.count = guard == 3 ? 1 : 0;
        Timer2_Timer(rig.ctx);
        EXPECT_TRUE(rig.port.written.empty()) << guard;
        EXPECT_EQ(rig.clockSyncs(), 0);
        EXPECT_FALSE(rig.ctx.timers.ioCheckRequest);
    }
}

TEST(VarTimer, new_poll_interval_takes_effect_at_the_end_of_the_tick) {
    VarRig rig;
    rig.tick({});  // no timer object yet: nothing to change
    rig.ctx.timers.timer2 = rig.loop.createTimer();
    Timer& t = *rig.ctx.timers.timer2;
    t.setInterval(700);
    t.setEnabled(true);
    // The same reading as at start-up: text the start-up takes as 500 is 500 here too.
    struct Case {
        const char* text;
        int ms;
    };
    for (const Case& c :
         {Case{"1000", 1000}, Case{"3000ms", 500}, Case{" 250 ", 250}, Case{"0", 500}, Case{"1", 500}, Case{"99", 500},
          Case{"100", 100}, Case{"60000", 60000}, Case{"60001", 500}, Case{"12.5", 500}, Case{"", 500}}) {
        rig.ctx.timers.pollInterval = c.text;
        rig.tick({});
        EXPECT_EQ(t.interval(), c.ms) << c.text;
        EXPECT_EQ(pollIntervalMs(c.text), c.ms) << c.text;
        EXPECT_TRUE(t.enabled());
    }
}

TEST(ClockStep, runs_once_in_the_hour_after_one_and_never_again) {
    VarRig rig;
    struct At {
        int day, hour, minute, syncs;
    };
    for (const auto& a : {At{0, 0, 59, 0}, At{0, 1, 0, 1}, At{0, 1, 30, 1}, At{1, 1, 5, 1}}) {
        rig.at(a.day, a.hour, a.minute);
        rig.far.silent(2);  // also after a failed poll
        Timer2_Timer(rig.ctx);
        EXPECT_EQ(rig.clockSyncs(), a.syncs) << a.day << " " << a.hour << ":" << a.minute;
    }
}

}  // namespace
}  // namespace varnel
