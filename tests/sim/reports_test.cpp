// Unsolicited reports on demand, input changes and the infra-red learn flow.
#include <gtest/gtest.h>

#include <functional>

#include "sim_tap.h"

namespace varnel::sim::test {
namespace {

struct ReportCase {
    const char* name;
    std::function<void(Controller&)> emit;
    std::string bytes;
};

class Report : public ::testing::TestWithParam<ReportCase> {};

TEST_P(Report, report_goes_out_whole_with_its_layout) {
    Tap t;
    GetParam().emit(t.sim);
    ASSERT_EQ(t.pieces.size(), 1u);
    EXPECT_FALSE(t.pieces[0].reply);
    EXPECT_EQ(toHex(t.take()), GetParam().bytes);
    EXPECT_EQ(t.sim.reportsSent(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Report,
    ::testing::Values(ReportCase{"x10_received", [](Controller& c) { c.emitX10Received(0, 18); }, "FE 00 12"},
                      ReportCase{"x10_transmitted", [](Controller& c) { c.emitX10Transmitted(3, 2); }, "FB 03 02"},
                      ReportCase{"ir_match", [](Controller& c) { c.emitIrMatch(42); }, "FD 00 2A"},
                      ReportCase{"io_change", [](Controller& c) { c.emitIoChange(3, 5, 1); }, "F0 03 05 01"},
                      ReportCase{"touch_f3", [](Controller& c) { c.emitTouch(12); }, "F3 00 0C 00 00"},
                      ReportCase{"touch_f2_all_bytes", [](Controller& c) { c.emitTouch(7, 0xF2, 1, 2, 3); },
                                 "F2 01 07 02 03"},
                      ReportCase{"filler", [](Controller& c) { c.emitFiller(); }, "FF"},
                      ReportCase{"ignored", [](Controller& c) { c.emitIgnored(1, 2); }, "FC 01 02"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Reports, input_change_updates_buffer_and_reports_only_real_changes) {
    Tap t;
    EXPECT_TRUE(t.sim.changeInput(3, 9, true));
    EXPECT_EQ(toHex(t.take()), "F0 03 09 01");
    EXPECT_TRUE(t.sim.memory().rawPoint(3, 9));
    EXPECT_EQ(t.sim.memory().io()[5], 0x02);
    EXPECT_FALSE(t.sim.changeInput(3, 9, true));
    EXPECT_TRUE(t.take().empty());
    EXPECT_TRUE(t.sim.changeInput(3, 9, false));
    EXPECT_EQ(toHex(t.take()), "F0 03 09 00");
    EXPECT_FALSE(t.sim.changeInput(0, 0, true));
    EXPECT_FALSE(t.sim.changeInput(129, 0, true));
    EXPECT_FALSE(t.sim.changeInput(1, 16, true));
    EXPECT_TRUE(t.take().empty());
}

TEST(Reports, input_change_is_seen_by_the_next_io_read) {
    Tap t;
    t.sim.changeInput(2, 0, true);
    t.take();
    t.send("2A 00 00 8D B5 00 25 E9");
    EXPECT_EQ(t.take()[6 + 2], 0x01);
}

TEST(Learn, key_press_stores_code_and_reports_location_low_byte) {
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
}

TEST(Learn, learned_code_is_matched_when_received_again) {
    Tap t;
    t.send("C8 5B 05 00 78 00 00 A0");
    t.sim.pressLearnKey();
    t.take();
    EXPECT_EQ(t.sim.receiveIr(Controller::defaultSignal(5)), 5);
    EXPECT_EQ(toHex(t.take()), "FD 00 05");
    EXPECT_FALSE(t.sim.receiveIr(0xDEAD));
    EXPECT_TRUE(t.take().empty());
}

TEST(Learn, key_is_pressed_automatically_after_the_configured_delay) {
    ControllerConfig cfg;
    cfg.autoLearnDelayUs = 2'000'000;
    Tap t(cfg);
    t.send("C8 5B 05 00 78 00 00 A0");
    EXPECT_EQ(t.take(), kAck);
    t.sim.manualClock().advanceUs(1'999'999);
    EXPECT_TRUE(t.take().empty());
    t.sim.manualClock().advanceUs(1);
    EXPECT_EQ(toHex(t.take()), "FD 00 05");
    EXPECT_TRUE(t.sim.learnedCodes().contains(5));
}

TEST(Learn, new_learn_start_restarts_the_automatic_press) {
    ControllerConfig cfg;
    cfg.autoLearnDelayUs = 1'000'000;
    Tap t(cfg);
    t.send("C8 5B 05 00 78 00 00 A0");
    t.sim.manualClock().advanceUs(600'000);
    t.send("C8 5B 2C 01 78 00 00 C8");
    t.take();
    t.sim.manualClock().advanceUs(600'000);
    EXPECT_TRUE(t.take().empty()) << "the first learn's timer must not fire for the second";
    t.sim.manualClock().advanceUs(400'000);
    EXPECT_EQ(toHex(t.take()), "FD 00 2C");
    EXPECT_FALSE(t.sim.learnedCodes().contains(5));
}

TEST(Learn, manual_press_before_the_timer_wins_and_timer_does_nothing) {
    ControllerConfig cfg;
    cfg.autoLearnDelayUs = 1'000'000;
    Tap t(cfg);
    t.send("C8 5B 05 00 78 00 00 A0");
    t.sim.pressLearnKey(77);
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
    SUCCEED();
}

}  // namespace
}  // namespace varnel::sim::test
