// A flood of commands from MQTT: the plug-in's polls and reports keep their share of
// the line while it drains.
#include <gtest/gtest.h>

#include <functional>

#include "bridge_rig.h"

namespace varnel {
namespace {

using sim::FrameKind;

struct Floods : ::testing::Test {
    test::BridgeRig b;
    sim::Controller& sim() { return b.c.rig.controller; }
    void SetUp() override { b.start(); }
    // Messages that come in while the line is busy, as a broker delivers a burst.
    void whileBusy(const std::function<void()>& send) {
        b.c.rig.ctx().gate.busy = 1;
        send();
        b.c.rig.ctx().gate.busy = 0;
    }
};

// The change is made a second into the drain, on the loop's own time, and watched from
// a timer, since a drain's commands run inside the loop's waits.
TEST_F(Floods, an_input_change_during_a_flood_is_published_within_one_poll_cycle) {
    const auto before = b.state("unit/1/point/4/state");
    ASSERT_TRUE(before == "ON" || before == "OFF") << before.value_or("none");
    const std::string after = before == "ON" ? "OFF" : "ON";
    auto& loop = b.c.rig.loop;
    // Actions: nothing to merge, many seconds of line time.
    whileBusy([&] {
        for (int i = 0; i < 500; ++i) b.send("ir/play", std::to_string(i % 8));
    });
    const auto quiet = b.state("unit/1/point/5/state");
    const std::string quietAfter = quiet == "ON" ? "OFF" : "ON";
    std::int64_t changedAt = -1, inputAt = -1, quietAt = -1, variableAt = -1;
    std::size_t waitingThen = 0;
    auto change = loop.createTimer();
    change->setInterval(1000);
    change->onTick = [&] {
        change->setEnabled(false);
        changedAt = loop.tickMs();
        waitingThen = b.bridge->waiting();
        sim().changeInput(1, 4, before == "ON");          // a stored bit that is set reads as 0: off
        sim().memory().setRawPoint(1, 5, quiet == "ON");  // no report: only the I/O poll finds it
        sim().setVariable(1, 4321);
    };
    auto watch = loop.createTimer();
    watch->setInterval(5);
    watch->onTick = [&] {
        if (changedAt < 0) return;
        if (inputAt < 0 && b.state("unit/1/point/4/state") == after) inputAt = loop.tickMs();
        if (quietAt < 0 && b.state("unit/1/point/5/state") == quietAfter) quietAt = loop.tickMs();
        if (variableAt < 0 && b.state("var/1/state") == "4321") variableAt = loop.tickMs();
    };
    change->setEnabled(true);
    watch->setEnabled(true);
    b.run(30'000);
    ASSERT_GE(changedAt, 0);
    EXPECT_GT(waitingThen, 100u);  // the flood was still draining
    ASSERT_GE(inputAt, 0);
    EXPECT_LE(inputAt - changedAt, 500);
    ASSERT_GE(quietAt, 0);
    EXPECT_LE(quietAt - changedAt, 1000);
    // The variables' poll goes on too: the next one that starts after the change brings it.
    ASSERT_GE(variableAt, 0);
    EXPECT_LE(variableAt - changedAt, 1500);
    EXPECT_EQ(b.bridge->waiting(), 0u);
}

}  // namespace
}  // namespace varnel
