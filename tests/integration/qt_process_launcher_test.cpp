// Starting programs: exit codes, programs that cannot start, and waits that
// keep the event loop turning.
#include <gtest/gtest.h>

#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_process_launcher.h"

namespace varnel {
namespace {

TEST(QtProcessLauncher, waited_run_returns_the_exit_code_and_quoted_arguments_stay_whole) {
    QtEventLoop loop;
    QtProcessLauncher launcher(loop);
    EXPECT_EQ(launcher.run("/bin/sh", "-c \"exit 3\"", true), 3);
    EXPECT_EQ(launcher.run("/bin/sh", "-c \"test 'a b' = 'a b'\"", true), 0);
}

TEST(QtProcessLauncher, a_program_that_cannot_start_gives_minus_one) {
    QtEventLoop loop;
    QtProcessLauncher launcher(loop);
    EXPECT_EQ(launcher.run("/nonexistent/cmax.exe", "", true), -1);
    EXPECT_EQ(launcher.run("/nonexistent/cmax.exe", "", false), -1);
    EXPECT_EQ(launcher.run("", "", true), -1);
}

TEST(QtProcessLauncher, a_crashed_program_gives_minus_one) {
    QtEventLoop loop;
    QtProcessLauncher launcher(loop);
    EXPECT_EQ(launcher.run("/bin/sh", "-c \"kill -9 $$\"", true), -1);
}

TEST(QtProcessLauncher, timers_keep_ticking_while_a_run_is_awaited) {
    QtEventLoop loop;
    QtProcessLauncher launcher(loop);
    auto timer = loop.createTimer();
    int ticks = 0;
    timer->onTick = [&] { ++ticks; };
    timer->setInterval(20);
    timer->setEnabled(true);
    EXPECT_EQ(launcher.run("/bin/sleep", "0.3", true), 0);
    EXPECT_GE(ticks, 10);
}

TEST(QtProcessLauncher, detached_run_returns_at_once) {
    QtEventLoop loop;
    QtProcessLauncher launcher(loop);
    const auto t0 = loop.tickMs();
    EXPECT_EQ(launcher.run("/bin/sleep", "1", false), 0);
    EXPECT_LT(loop.tickMs() - t0, 500);
}

}  // namespace
}  // namespace varnel
