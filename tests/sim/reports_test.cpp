// Unsolicited reports on demand, input changes and the infra-red learn flow.
#include <gtest/gtest.h>

#include <functional>

#include "sim_tap.h"

namespace varnel::sim::test {
namespace {

TEST(Reports, each_report_goes_out_whole_with_its_layout) {
    const std::pair<std::function<void(Controller&)>, std::string> cases[] = {
        {[](Controller& c) { c.emitX10Received(0, 18); }, "FE 00 12"},
        {[](Controller& c) { c.emitX10Transmitted(3, 2); }, "FB 03 02"},
        {[](Controller& c) { c.emitIrMatch(42); }, "FD 00 2A"},
        {[](Controller& c) { c.emitIoChange(3, 5, 1); }, "F0 03 05 01"},
        {[](Controller& c) { c.emitTouch(12); }, "F3 00 0C 00 00"},
        {[](Controller& c) { c.emitTouch(7, 0xF2, 1, 2, 3); }, "F2 01 07 02 03"},
        {[](Controller& c) { c.emitFiller(); }, "FF"},
        {[](Controller& c) { c.emitIgnored(1, 2); }, "FC 01 02"},
    };
    for (const auto& [emit, bytes] : cases) {
        Tap t;
        emit(t.sim);
        ASSERT_EQ(t.pieces.size(), 1u) << bytes;
        EXPECT_FALSE(t.pieces[0].reply) << bytes;
        EXPECT_EQ(toHex(t.take()), bytes);
        EXPECT_EQ(t.sim.reportsSent(), 1u) << bytes;
    }
}

TEST(Reports, input_change_updates_buffer_and_reports_only_real_changes) {
    Tap t;
    EXPECT_TRUE(t.sim.changeInput(3, 9, true));
    EXPECT_EQ(toHex(t.take()), "F0 03 09 01");
    EXPECT_TRUE(t.sim.memory().rawPoint(3, 9));
    t.send("2A 00 00 8D B5 00 25 E9");
    EXPECT_EQ(t.take()[6 + 5], 0x02) << "the next I/O read sees it";
    EXPECT_FALSE(t.sim.changeInput(3, 9, true));
    EXPECT_TRUE(t.take().empty());
    EXPECT_TRUE(t.sim.changeInput(3, 9, false));
    EXPECT_EQ(toHex(t.take()), "F0 03 09 00");
    EXPECT_FALSE(t.sim.changeInput(0, 0, true));
    EXPECT_FALSE(t.sim.changeInput(129, 0, true));
    EXPECT_FALSE(t.sim.changeInput(1, 16, true));
    EXPECT_TRUE(t.take().empty());
}

TEST(Learn, key_press_stores_code_reports_location_low_byte_and_matches_it_later) {
    Tap t;
    t.send("C8 5B 2C 01 78 00 00 C8");  // location 300
    EXPECT_EQ(t.take(), kAck);
    EXPECT_EQ(t.sim.pendingLearn(), 300);
    EXPECT_TRUE(t.sim.pressLearnKey(0x1234));
    EXPECT_EQ(toHex(t.take()), "FD 00 2C");
    EXPECT_FALSE(t.sim.pendingLearn());
    EXPECT_EQ(t.sim.learnedCodes().at(300), 0x1234u);
    EXPECT_FALSE(t.sim.pressLearnKey()) << "nothing pending any more";
    EXPECT_TRUE(t.take().empty());

    t.send("C8 5B 05 00 78 00 00 A0");
    t.sim.pressLearnKey();
    t.take();
    EXPECT_EQ(t.sim.receiveIr(Controller::defaultSignal(5)), 5);
    EXPECT_EQ(toHex(t.take()), "FD 00 05");
    EXPECT_FALSE(t.sim.receiveIr(0xDEAD));
    EXPECT_TRUE(t.take().empty());
}

TEST(Learn, key_is_pressed_automatically_after_the_latest_learn_start_unless_pressed_first) {
    ControllerConfig cfg;
    cfg.autoLearnDelayUs = 1'000'000;
    Tap t(cfg);
    t.send("C8 5B 05 00 78 00 00 A0");
    EXPECT_EQ(t.take(), kAck);
    t.sim.manualClock().advanceUs(999'999);
    EXPECT_TRUE(t.take().empty());
    t.sim.manualClock().advanceUs(1);
    EXPECT_EQ(toHex(t.take()), "FD 00 05");
    EXPECT_TRUE(t.sim.learnedCodes().contains(5));

    t.send("C8 5B 06 00 78 00 00 A1");
    t.sim.manualClock().advanceUs(600'000);
    t.send("C8 5B 2C 01 78 00 00 C8");
    t.take();
    t.sim.manualClock().advanceUs(600'000);
    EXPECT_TRUE(t.take().empty()) << "the first learn's timer must not fire for the second";
    t.sim.manualClock().advanceUs(400'000);
    EXPECT_EQ(toHex(t.take()), "FD 00 2C");
    EXPECT_FALSE(t.sim.learnedCodes().contains(6));

    t.send("C8 5B 05 00 78 00 00 A0");
    t.sim.pressLearnKey(77);  // a manual press before the timer wins
    t.take();
    t.sim.manualClock().advanceUs(2'000'000);
    EXPECT_TRUE(t.take().empty());
    EXPECT_EQ(t.sim.learnedCodes().at(5), 77u);
}

TEST(Learn, controller_destroyed_with_a_pending_press_is_safe) {
    ManualScheduler clock;
    {
        ControllerConfig cfg;
        cfg.autoLearnDelayUs = 1000;
        Controller c(cfg);
        c.attachScheduler(clock);
        c.feed(hex("C8 5B 05 00 78 00 00 A0"));
    }
    clock.advanceUs(5000);  // must not touch the dead controller
    EXPECT_EQ(clock.pending(), 0u);
}

}  // namespace
}  // namespace varnel::sim::test
