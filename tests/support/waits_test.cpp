#include <gtest/gtest.h>

#include "rig.h"
#include "support/waits.h"

namespace varnel {
namespace {

TEST(Waits, pause_lets_timers_tick_and_takes_its_time) {
    test::Rig rig;
    auto t = rig.loop.createTimer();
    int ticks = 0;
    t->onTick = [&] { ++ticks; };
    t->setInterval(50);
    t->setEnabled(true);
    PauseMs(rig.ctx, 200);
    EXPECT_EQ(rig.loop.tickMs(), 200);
    EXPECT_EQ(ticks, 4);
}

TEST(Waits, seconds_above_32_overflow) {
    test::Rig rig;
    PauseSeconds(rig.ctx, 32);
    EXPECT_EQ(rig.loop.tickMs(), 32000);
    EXPECT_THROW(PauseSeconds(rig.ctx, 33), std::overflow_error);
}

TEST(Waits, nested_wait_inside_tick_keeps_time_monotonic) {
    test::Rig rig;
    auto t = rig.loop.createTimer();
    int depth = 0, maxDepth = 0, ticks = 0;
    t->onTick = [&] {
        ++ticks;
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        if (depth == 1) Pause(rig.ctx, 300);  // the timer fires again inside this wait
        --depth;
    };
    t->setInterval(100);
    t->setEnabled(true);
    Pause(rig.ctx, 250);
    EXPECT_GE(rig.loop.tickMs(), 250);
    EXPECT_EQ(maxDepth, 2);
    EXPECT_GE(ticks, 3);
}

TEST(VirtualLoop, same_instant_events_run_in_posting_order) {
    VirtualLoop loop;
    std::string order;
    loop.postUs(500, [&] { order += 'b'; });
    loop.postUs(100, [&] { order += 'a'; });
    loop.postUs(500, [&] { order += 'c'; });
    loop.advance(1);
    EXPECT_EQ(order, "abc");
}

}  // namespace
}  // namespace varnel
