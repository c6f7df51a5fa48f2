// The Qt event loop: waits end at once when done, keep their deadlines when nested,
// and let timers tick meanwhile. How soon a port's byte wakes one is in qt_serial_port_test.
#include <gtest/gtest.h>

#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <ctime>

#include "platform/qt/qt_event_loop.h"

namespace varnel {
namespace {

TEST(QtEventLoop, wait_ends_at_once_when_done_or_at_its_deadline_and_runs_pending_events) {
    QtEventLoop loop;
    auto t0 = loop.tickMs();
    EXPECT_TRUE(loop.waitUntil(5000, [] { return true; }));
    EXPECT_LT(loop.tickMs() - t0, 5);
    t0 = loop.tickMs();
    EXPECT_FALSE(loop.waitUntil(120, [] { return false; }));
    EXPECT_GE(loop.tickMs() - t0, 120);
    EXPECT_LT(loop.tickMs() - t0, 220);
    int ran = 0;
    QTimer::singleShot(0, [&] { ++ran; });
    EXPECT_FALSE(loop.waitUntil(0, [&] { return false; }));
    EXPECT_EQ(ran, 1);
}

TEST(QtEventLoop, timers_tick_during_a_wait_stop_when_disabled_and_never_spin) {
    QtEventLoop loop;
    auto timer = loop.createTimer();
    int ticks = 0;
    timer->onTick = [&] { ++ticks; };
    timer->setInterval(20);
    timer->setEnabled(true);
    loop.wait(210);
    EXPECT_GE(ticks, 5);
    EXPECT_LE(ticks, 11);
    timer->setEnabled(false);
    const int before = ticks;
    loop.wait(60);
    EXPECT_EQ(ticks, before);
    timer->setInterval(-5);
    EXPECT_EQ(timer->interval(), 1);
    timer->setEnabled(true);
    loop.wait(30);
    EXPECT_LE(ticks - before, 40);
}

TEST(QtEventLoop, nested_wait_in_a_tick_keeps_both_deadlines_and_other_timers_tick) {
    QtEventLoop loop;
    auto outer = loop.createTimer();
    auto fast = loop.createTimer();
    int fastTicks = 0, fastTicksInside = 0;
    std::int64_t innerMs = -1;
    fast->onTick = [&] { ++fastTicks; };
    fast->setInterval(10);
    outer->setInterval(30);
    outer->onTick = [&] {
        outer->setEnabled(false);
        const int before = fastTicks;
        const auto t = loop.tickMs();
        loop.wait(100);
        innerMs = loop.tickMs() - t;
        fastTicksInside = fastTicks - before;
    };
    fast->setEnabled(true);
    outer->setEnabled(true);
    const auto start = loop.tickMs();
    loop.wait(300);
    const auto outerMs = loop.tickMs() - start;
    EXPECT_GE(innerMs, 100);
    EXPECT_LT(innerMs, 200);
    EXPECT_GE(fastTicksInside, 4);
    // The outer wait neither ended with the inner one nor overran its own deadline.
    EXPECT_GE(outerMs, 300);
    EXPECT_LT(outerMs, 400);
    // An inner wait that outlasts the outer deadline ends the outer wait with it.
    outer->onTick = [&] {
        outer->setEnabled(false);
        loop.wait(200);
    };
    outer->setEnabled(true);
    const auto t1 = loop.tickMs();
    EXPECT_FALSE(loop.waitUntil(50, [] { return false; }));
    EXPECT_GE(loop.tickMs() - t1, 200);
    EXPECT_LT(loop.tickMs() - t1, 320);
}

TEST(QtEventLoop, a_timer_destroyed_by_its_own_tick_is_safe) {
    QtEventLoop loop;
    auto timer = loop.createTimer();
    int ticks = 0;
    timer->onTick = [&] {
        ++ticks;
        timer.reset();
    };
    timer->setInterval(5);
    timer->setEnabled(true);
    loop.wait(50);
    EXPECT_EQ(ticks, 1);
}

TEST(QtEventLoop, wall_clock_carries_the_local_fields_as_utc) {
    // A zone far from UTC, so that mixing up local and UTC shows.
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    ::setenv("TZ", "XST-5:30", 1);
    ::tzset();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    const std::time_t shown = std::chrono::system_clock::to_time_t(QtEventLoop().wallClock());
    old ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
    EXPECT_NE(::timegm(&local), now);
    EXPECT_LE(std::abs(shown - ::timegm(&local)), 1);
}

}  // namespace
}  // namespace varnel
