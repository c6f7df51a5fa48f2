// Lines that come in while the plug-in is not at the operator's service: during the
// shutdown's pause and during a reconnect's start-up. They get their answer at once
// and reach neither the controller nor the host.
#include <gtest/gtest.h>

#include <algorithm>

#include "console_rig.h"
#include "plugin/health.h"

namespace varnel {
namespace {

using console::Reply;

// Hands `lines` to the console one per tick of `everyMs` while `when` holds, as the
// run's standard input would while a wait lets events through.
struct TypedLater {
    TypedLater(test::ConsoleRig& c, std::vector<std::string> lines, int everyMs, std::function<bool()> when)
        : lines(std::move(lines)), timer(c.rig.loop.createTimer()) {
        timer->setInterval(everyMs);
        timer->onTick = [this, &c, when = std::move(when)] {
            if (next >= this->lines.size() || !when()) return;
            answeredAtOnce.push_back(c.console.answersNow());
            replies.push_back(c.console.execute(this->lines[next++]));
        };
        timer->setEnabled(true);
    }
    std::vector<std::string> lines;
    std::unique_ptr<Timer> timer;
    std::size_t next = 0;
    std::vector<Reply> replies;
    std::vector<bool> answeredAtOnce;
};

TEST(ConsoleWhileStopping, nothing_typed_once_the_stop_has_begun_is_run) {
    test::ConsoleRig c;
    c.start();
    c.ok("mirror vars 0");
    const auto devices = c.rig.host->devices();
    TypedLater typed(c, {"var 1 5", "mirror vars 0-9", "set Q1 on", "quit"}, 400, [] { return true; });
    c.rig.controller.clearRecords();
    c.rig.plugin->ShutdownIO();  // its pause lets the ticks through
    typed.timer->setEnabled(false);
    ASSERT_EQ(typed.replies.size(), 4u);
    for (std::size_t i = 0; i < typed.replies.size(); ++i) {
        const std::string word = typed.lines[i].substr(0, typed.lines[i].find(' '));
        EXPECT_EQ(typed.replies[i].outcome, Reply::Outcome::Error) << typed.lines[i];
        EXPECT_EQ(typed.replies[i].lines, std::vector<std::string>{word + ": the run is stopping; nothing was done"});
        EXPECT_TRUE(typed.answeredAtOnce[i]) << typed.lines[i];
    }
    EXPECT_TRUE(c.rig.controller.frames().empty()) << "the controller was written during the shutdown";
    EXPECT_EQ(c.rig.host->devices(), devices);
    EXPECT_FALSE(c.console.quitRequested()) << "a second stop would cut the shutdown short";
    EXPECT_EQ(c.rig.processEnded, 1);
}

TEST(ConsoleWhileReconnecting, a_line_during_a_reconnect_start_up_is_answered_at_once) {
    test::ConsoleRig c;
    c.start();
    c.rig.plugin->linkWatch().arm();
    c.rig.controller.faults().silent = true;
    c.rig.run(90'000);
    ASSERT_EQ(c.rig.ctx().health.state, LinkHealth::State::Reconnecting);
    // The next try opens the port and runs the start-up against the silent controller.
    std::int64_t askedAt = -1;
    TypedLater typed(c, {"var 1 5", "status"}, 100, [&] {
        if (!c.rig.ctx().health.startupRunning) return false;
        if (askedAt < 0) askedAt = c.rig.loop.tickMs();
        return true;
    });
    c.rig.controller.clearRecords();
    c.rig.run(60'000);
    ASSERT_EQ(typed.replies.size(), 2u) << "no start-up ran";
    EXPECT_EQ(typed.answeredAtOnce, (std::vector<bool>{true, true}));
    EXPECT_EQ(typed.replies[0].outcome, Reply::Outcome::Error);
    EXPECT_EQ(typed.replies[0].lines,
              std::vector<std::string>{"var: the controller link is starting (a reconnect runs); nothing was done "
                                       "(status says when it is up)"});
    EXPECT_EQ(typed.replies[1].outcome, Reply::Outcome::Done);
    EXPECT_TRUE(std::ranges::any_of(typed.replies[1].lines,
                                    [](const std::string& l) { return l.starts_with("link: reconnecting since"); }));
    EXPECT_TRUE(c.rig.controller.framesOf(sim::FrameKind::Command, 0x29).empty()) << "the variable write went out";
}

}  // namespace
}  // namespace varnel
