// A flood of commands from MQTT: a later command for the same target replaces the one
// still waiting, actions keep their order and their bound, and the plug-in's polls and
// reports keep their share of the line while the flood drains.
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

TEST_F(Floods, the_last_value_of_a_flood_on_one_variable_is_the_one_written) {
    constexpr int kMessages = 10'000;
    const std::size_t before = sim().countOf(FrameKind::Command, 0x29);
    whileBusy([&] {
        for (int i = 1; i <= kMessages; ++i) b.send("var/3/set", std::to_string(i));
    });
    EXPECT_EQ(b.bridge->waiting(), 1u);
    b.run(2000);
    EXPECT_EQ(sim().variable(3), kMessages);
    EXPECT_EQ(b.state("var/3/state"), std::to_string(kMessages));
    EXPECT_EQ(sim().countOf(FrameKind::Command, 0x29), before + 1);
    EXPECT_EQ(b.bridge->counters().dropped, 0u);
}

// Each target keeps the place of its first waiting command and takes the last value;
// actions (X10 sends, IR plays, screen writes) are never merged.
TEST_F(Floods, different_targets_all_run_and_actions_are_never_merged) {
    const std::size_t pointsBefore = sim().countOf(FrameKind::Command, 0x33);
    const std::size_t varsBefore = sim().countOf(FrameKind::Command, 0x29);
    const std::size_t irBefore = sim().irPlays().size();
    b.addLeopard();
    whileBusy([&] {
        for (int round = 0; round < 50; ++round) {
            for (int v = 0; v < 4; ++v) b.send("var/" + std::to_string(v) + "/set", std::to_string(round * 10 + v));
            for (int p = 8; p < 16; ++p)
                b.send("unit/1/output/" + std::to_string(p - 7) + "/set", round % 2 ? "ON" : "OFF");
            b.send("unit/3/output/1/set", round % 2 ? "OFF" : "ON");
        }
        b.send("ir/play", "7");
        b.send("ir/play", "7");
        b.send("screen/set", "one");
        b.send("screen/set", "two");
    });
    EXPECT_EQ(b.bridge->waiting(), 4u + 9u + 4u);
    b.run(5000);
    for (int v = 0; v < 4; ++v) EXPECT_EQ(sim().variable(v), 490 + v) << v;
    EXPECT_EQ(sim().countOf(FrameKind::Command, 0x29), varsBefore + 4);
    const auto points = sim().framesOf(FrameKind::Command, 0x33);
    // First come, first run: outputs 8-15 (counted from 0 on the line) on, then the relay off.
    std::vector<std::vector<std::uint8_t>> writes;
    for (std::size_t k = pointsBefore; k < points.size(); ++k)
        writes.emplace_back(points[k].bytes.begin() + 2, points[k].bytes.begin() + 5);
    std::vector<std::vector<std::uint8_t>> expected;
    for (std::uint8_t p = 0; p < 8; ++p) expected.push_back({1, p, 1});
    expected.push_back({3, 0, 0});
    EXPECT_EQ(writes, expected);
    EXPECT_EQ(sim().irPlays().size(), irBefore + 2);
    EXPECT_EQ(b.screen(), "one@0,0+clear two@0,0+clear");
    EXPECT_EQ(b.bridge->counters().dropped, 0u);
}

// The change is made a second into the drain, on the loop's own time, and watched from
// a timer, since a drain's commands run inside the loop's waits.
TEST_F(Floods, an_input_change_during_a_flood_is_published_within_one_poll_cycle) {
    const auto before = b.state("unit/1/input/5/state");
    ASSERT_TRUE(before == "ON" || before == "OFF") << before.value_or("none");
    const std::string after = before == "ON" ? "OFF" : "ON";
    auto& loop = b.c.rig.loop;
    // Actions: nothing to merge, many seconds of line time.
    whileBusy([&] {
        for (int i = 0; i < 500; ++i) b.send("ir/play", std::to_string(i % 8));
    });
    const auto quiet = b.state("unit/1/input/6/state");
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
        if (inputAt < 0 && b.state("unit/1/input/5/state") == after) inputAt = loop.tickMs();
        if (quietAt < 0 && b.state("unit/1/input/6/state") == quietAfter) quietAt = loop.tickMs();
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
