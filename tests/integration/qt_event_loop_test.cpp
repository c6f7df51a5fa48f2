// The Qt event loop: waits wake on the first event, keep their deadlines when
// nested, and let timers tick meanwhile.
#include <gtest/gtest.h>

#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_serial_port.h"
#include "pty_pair.h"

namespace varnel {
namespace {

using Clock = std::chrono::steady_clock;

std::int64_t msSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

TEST(QtEventLoop, wait_wakes_within_a_few_ms_of_a_pty_byte) {
    QtEventLoop loop;
    test::PtyPair pty;
    QtSerialPort port;
    ASSERT_EQ(port.open(pty.slaveName()), std::nullopt);
    // Written from another thread so that nothing but the port can wake the wait.
    Clock::time_point written;
    std::thread far([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        written = Clock::now();
        pty.write({0x06});
    });
    const auto start = Clock::now();
    const bool got = loop.waitUntil(2000, [&] { return port.bytesWaiting() > 0; });
    const auto returned = Clock::now();
    far.join();
    ASSERT_TRUE(got);
    EXPECT_GE(msSince(start), 90);
    // A wait that polled in 200 ms slices would be about 100 ms late here.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returned - written).count(), 60);
}

TEST(QtEventLoop, wait_gives_up_at_its_deadline) {
    QtEventLoop loop;
    const auto start = Clock::now();
    EXPECT_FALSE(loop.waitUntil(120, [] { return false; }));
    const auto took = msSince(start);
    EXPECT_GE(took, 120);
    EXPECT_LT(took, 220);
}

TEST(QtEventLoop, wait_returns_at_once_when_the_condition_already_holds) {
    QtEventLoop loop;
    const auto start = Clock::now();
    EXPECT_TRUE(loop.waitUntil(5000, [] { return true; }));
    EXPECT_LT(msSince(start), 5);
}

TEST(QtEventLoop, zero_length_wait_and_process_events_run_pending_events_once) {
    QtEventLoop loop;
    int ran = 0;
    QTimer::singleShot(0, [&] { ++ran; });
    EXPECT_FALSE(loop.waitUntil(0, [&] { return false; }));
    EXPECT_EQ(ran, 1);
    QTimer::singleShot(0, [&] { ++ran; });
    loop.processEvents();
    EXPECT_EQ(ran, 2);
}

TEST(QtEventLoop, timers_tick_during_a_wait_and_stop_when_disabled) {
    QtEventLoop loop;
    auto timer = loop.createTimer();
    int ticks = 0;
    timer->onTick = [&] { ++ticks; };
    timer->setInterval(20);
    timer->setEnabled(true);
    EXPECT_TRUE(timer->enabled());
    loop.wait(210);
    EXPECT_GE(ticks, 5);
    EXPECT_LE(ticks, 11);
    timer->setEnabled(false);
    const int before = ticks;
    loop.wait(60);
    EXPECT_EQ(ticks, before);
}

TEST(QtEventLoop, zero_or_negative_interval_does_not_spin) {
    QtEventLoop loop;
    auto timer = loop.createTimer();
    int ticks = 0;
    timer->onTick = [&] { ++ticks; };
    timer->setInterval(0);
    EXPECT_EQ(timer->interval(), 1);
    timer->setInterval(-5);
    EXPECT_EQ(timer->interval(), 1);
    timer->setEnabled(true);
    loop.wait(30);
    EXPECT_LE(ticks, 40);
}

TEST(QtEventLoop, nested_wait_in_a_tick_keeps_both_deadlines_and_other_timers_tick) {
    QtEventLoop loop;
    auto outerTimer = loop.createTimer();
    auto fast = loop.createTimer();
    int fastTicks = 0, fastTicksInside = 0;
    std::int64_t innerMs = -1;
    fast->onTick = [&] { ++fastTicks; };
    fast->setInterval(10);
    outerTimer->setInterval(30);
    outerTimer->onTick = [&] {
        outerTimer->setEnabled(false);
        const int before = fastTicks;
        const auto t = Clock::now();
        loop.wait(100);
        innerMs = msSince(t);
        fastTicksInside = fastTicks - before;
    };
    fast->setEnabled(true);
    outerTimer->setEnabled(true);
    const auto start = Clock::now();
    loop.wait(300);
    const auto outerMs = msSince(start);
    EXPECT_GE(innerMs, 100);
    EXPECT_LT(innerMs, 200);
    EXPECT_GE(fastTicksInside, 4);
    // The outer wait neither ended with the inner one nor overran its own deadline.
    EXPECT_GE(outerMs, 300);
    EXPECT_LT(outerMs, 400);
}

TEST(QtEventLoop, outer_wait_ends_when_an_inner_wait_outlasts_its_deadline) {
    QtEventLoop loop;
    auto timer = loop.createTimer();
    timer->setInterval(10);
    timer->onTick = [&] {
        timer->setEnabled(false);
        loop.wait(200);
    };
    timer->setEnabled(true);
    const auto start = Clock::now();
    EXPECT_FALSE(loop.waitUntil(50, [] { return false; }));
    const auto took = msSince(start);
    EXPECT_GE(took, 200);
    EXPECT_LT(took, 320);
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

TEST(QtEventLoop, tick_count_is_monotonic_milliseconds) {
    QtEventLoop loop;
    const auto a = loop.tickMs();
    loop.wait(50);
    const auto b = loop.tickMs();
    EXPECT_GE(b - a, 50);
    EXPECT_LT(b - a, 150);
}

TEST(QtEventLoop, wall_clock_carries_the_local_fields_as_utc) {
    // A zone far from UTC, so that mixing up local and UTC shows.
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    ::setenv("TZ", "XST-5:30", 1);
    ::tzset();
    QtEventLoop loop;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    const std::time_t localAsUtc = ::timegm(&local);
    const std::time_t shown = std::chrono::system_clock::to_time_t(loop.wallClock());
    if (old)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
    EXPECT_NE(localAsUtc, now);
    EXPECT_LE(std::abs(shown - localAsUtc), 1);
}

}  // namespace
}  // namespace varnel
