// Host work never starts while the plug-in waits for the controller: the console
// refuses or keeps a line until ready(), so two exchanges never share the wire.
#include <gtest/gtest.h>

#include "console_rig.h"

namespace varnel {
namespace {

using console::Reply;
using sim::FrameKind;

struct ConsoleReady : ::testing::Test {
    test::ConsoleRig c;
    void SetUp() override { c.start(); }
};

TEST_F(ConsoleReady, each_sign_of_a_running_exchange_makes_the_console_wait) {
    struct Case {
        const char* what;
        void (*set)(PluginState&, bool);
    };
    const Case cases[] = {
        {"response loop", [](PluginState& x, bool on) { x.gate.exchangeDepth = on ? 1 : 0; }},
        {"busy flag", [](PluginState& x, bool on) { x.gate.busy = on ? 1 : 0; }},
        {"timer busy", [](PluginState& x, bool on) { x.gate.timerBusy = on; }},
        {"x10 send", [](PluginState& x, bool on) { x.gate.x10Sending = on ? 1 : 0; }},
    };
    ASSERT_TRUE(c.console.ready());
    for (const auto& k : cases) {
        const auto frames = c.rig.controller.frames().size();
        k.set(c.rig.ctx(), true);
        EXPECT_FALSE(c.console.ready()) << k.what;
        for (const char* line : {"x10 A1 on", "var 3 4", "screen 0 0 x", "mirror vars 1", "analog 2 0"}) {
            const Reply r = c.run(line);
            EXPECT_EQ(r.outcome, Reply::Outcome::NotReady) << k.what << ": " << line;
            EXPECT_NE(c.last.find("the plug-in is waiting for the controller; nothing was done"), std::string::npos);
        }
        // Views of the state are safe at any time.
        EXPECT_EQ(c.run("status").outcome, Reply::Outcome::Done) << k.what;
        EXPECT_EQ(c.run("devices").outcome, Reply::Outcome::Done) << k.what;
        k.set(c.rig.ctx(), false);
        EXPECT_EQ(c.rig.controller.frames().size(), frames) << k.what;
        EXPECT_EQ(c.rig.ctx().queue.count, 0) << k.what;
        EXPECT_EQ(c.rig.ctx().devices.varsHouseCode, 0) << k.what;
        EXPECT_TRUE(c.console.ready()) << k.what;
    }
}

TEST_F(ConsoleReady, a_line_arriving_inside_an_exchange_is_refused_without_touching_the_wire) {
    std::optional<bool> readyInside;
    std::optional<Reply::Outcome> outcome;
    c.rig.controller.onFrameHook = [&](const sim::ReceivedFrame& f) {
        if (f.kind != FrameKind::Command || f.code() != 0x1F || readyInside) return;
        readyInside = c.console.ready();
        outcome = c.console.execute("x10 A1 on").outcome;
    };
    c.ok("param 2 1");
    ASSERT_TRUE(readyInside);
    EXPECT_FALSE(*readyInside);
    EXPECT_EQ(outcome, Reply::Outcome::NotReady);
    EXPECT_TRUE(c.rig.controller.x10Sent().empty());
    EXPECT_TRUE(c.console.ready());
}

TEST_F(ConsoleReady, submitted_lines_wait_for_the_exchange_and_then_run_in_order) {
    c.rig.loop.postUs(500'000, [&] {
        c.console.submit("x10 A1 on");
        c.console.submit("var 9 77");
    });
    const auto start = c.rig.controller.frames().size();
    c.console.submit("param 2 1");  // ready now: runs at once, waiting about 3 seconds
    EXPECT_EQ(c.console.waiting(), 2u);
    EXPECT_TRUE(c.rig.controller.x10Sent().empty());

    c.console.pump();
    EXPECT_EQ(c.console.waiting(), 0u);
    EXPECT_EQ(c.rig.controller.variable(9), 77);

    // On the wire: the parameter read whole, then the X10 frames, then the variable write.
    std::vector<std::uint8_t> codes;
    const auto& frames = c.rig.controller.frames();
    for (std::size_t i = start; i < frames.size(); ++i)
        if (frames[i].kind == FrameKind::Command || frames[i].kind == FrameKind::BlockRead)
            codes.push_back(frames[i].kind == FrameKind::BlockRead ? 0x2A : frames[i].code());
    EXPECT_EQ(codes, (std::vector<std::uint8_t>{0x1F, 0x2A, 0x37, 0x37, 0x29}));
    EXPECT_EQ(c.printed.back(), "var 9 77: written");
}

TEST_F(ConsoleReady, pump_stops_at_quit_and_later_lines_are_not_run) {
    c.rig.ctx().gate.busy = 1;
    c.console.submit("quit");
    c.console.submit("x10 A1 on");
    EXPECT_EQ(c.console.waiting(), 2u);
    c.console.pump();
    EXPECT_EQ(c.console.waiting(), 2u);  // not ready: nothing ran
    c.rig.ctx().gate.busy = 0;
    EXPECT_FALSE(c.console.quitRequested());
    c.console.pump();
    EXPECT_TRUE(c.console.quitRequested());
    EXPECT_EQ(c.console.waiting(), 1u);
    c.console.submit("x10 A2 on");
    c.console.pump();
    EXPECT_TRUE(c.rig.controller.x10Sent().empty());
}

TEST_F(ConsoleReady, the_waiting_lines_are_bounded) {
    c.rig.ctx().gate.busy = 1;
    for (std::size_t i = 0; i < console::Console::kMaxWaiting; ++i) c.console.submit("var 1 " + std::to_string(i));
    c.printed.clear();
    c.console.submit("var 1 999");
    EXPECT_EQ(c.console.waiting(), console::Console::kMaxWaiting);
    ASSERT_EQ(c.printed.size(), 1u);
    EXPECT_NE(c.printed[0].find("100 lines are waiting already; 'var 1 999' was dropped"), std::string::npos);
    c.rig.ctx().gate.busy = 0;
    c.console.pump();
    EXPECT_EQ(c.rig.controller.variable(1), 99);
}

}  // namespace
}  // namespace varnel
