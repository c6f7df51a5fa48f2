// Starting programs: exit codes, programs that cannot start, and waits that
// keep the event loop turning.
#include <gtest/gtest.h>

#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_process_launcher.h"

namespace varnel {
namespace {

TEST(QtProcessLauncher, a_waited_run_gives_the_exit_code_or_minus_one_if_it_never_ended_normally) {
    QtEventLoop loop;
    QtProcessLauncher launcher(loop);
    const struct {
        const char *program, *args;
        bool wait;
        int result;
    } cases[] = {
        {"/bin/sh", "-c \"exit 3\"", true, 3},
        {"/bin/sh", "-c \"test 'a b' = 'a b'\"", true, 0},  // quoted arguments stay whole
        {"/bin/sh", "-c \"kill -9 $$\"", true, -1},
        {"/nonexistent/cmax.exe", "", true, -1},
        {"/nonexistent/cmax.exe", "", false, -1},
        {"", "", true, -1},
    };
    for (const auto& c : cases) EXPECT_EQ(launcher.run(c.program, c.args, c.wait), c.result) << c.args;
}

TEST(QtProcessLauncher, timers_tick_while_a_run_is_awaited_and_a_detached_run_returns_at_once) {
    QtEventLoop loop;
    QtProcessLauncher launcher(loop);
    auto timer = loop.createTimer();
    int ticks = 0;
    timer->onTick = [&] { ++ticks; };
    timer->setInterval(20);
    timer->setEnabled(true);
    // Bounds with room for a loaded machine: a wait that blocked the loop would give no
    // tick, and a detached run that was awaited would take its 2 s.
    EXPECT_EQ(launcher.run("/bin/sleep", "0.3", true), 0);
    EXPECT_GE(ticks, 3);
    const auto t0 = loop.tickMs();
    EXPECT_EQ(launcher.run("/bin/sleep", "2", false), 0);
    EXPECT_LT(loop.tickMs() - t0, 1500);
}

}  // namespace
}  // namespace varnel
