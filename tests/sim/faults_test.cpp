// Each way the simulated controller can be told to misbehave.
#include <gtest/gtest.h>

#include "link/frames.h"
#include "sim_tap.h"

namespace varnel::sim::test {
namespace {

TEST(Faults, silent_controller_records_but_neither_acts_nor_answers) {
    Tap t;
    t.sim.faults().silent = true;
    t.send(kSetVar);
    t.send(kIoRead);
    EXPECT_TRUE(t.out.empty());
    EXPECT_EQ(t.sim.frames().size(), 2u);
    EXPECT_EQ(t.sim.variable(5), 0);
    t.sim.faults().silent = false;
    t.send(kSetVar);
    EXPECT_EQ(t.take(), kAck);
}

TEST(Faults, dropped_replies_are_counted_and_writes_still_apply) {
    Tap t;
    t.sim.faults().dropReplies = 2;
    t.send(kSetVar);
    t.send(kIoRead);
    EXPECT_TRUE(t.out.empty());
    EXPECT_EQ(t.sim.variable(5), 300);
    EXPECT_EQ(t.sim.repliesDropped(), 2u);
    t.send(kIoRead);
    EXPECT_EQ(t.take().size(), 264u) << "the third is answered";
}

TEST(Faults, garbage_goes_out_right_before_the_next_reply_that_is_not_dropped) {
    Tap t;
    t.sim.faults().dropReplies = 1;
    t.sim.faults().garbageBeforeReply = {0x41, 0x42};
    t.send(kSetVar);
    EXPECT_TRUE(t.out.empty());
    t.send(kSetVar);
    EXPECT_EQ(toHex(t.take()), "41 42 06 00 06");
    t.send(kSetVar);
    EXPECT_EQ(t.take(), kAck);
}

TEST(Faults, bad_crc_or_wrong_buffer_spoils_only_the_next_block_reply) {
    Tap t;
    t.sim.setVariable(0, 0x4242);
    t.sim.faults().badCrcBlocks = 1;
    t.send(kSetVar);  // acks are not block replies
    t.take();
    t.send(kIoRead);
    auto r = t.take();
    ASSERT_EQ(r.size(), 264u);
    EXPECT_FALSE(blockReplyCrcOk(r));
    EXPECT_EQ(r[3], 0x8D) << "only the CRC is wrong";

    t.sim.faults().wrongBuffer = kDefaultVariableSelector;
    t.send(kIoRead);
    r = t.take();
    ASSERT_EQ(r.size(), 264u);
    EXPECT_TRUE(blockReplyCrcOk(r));
    EXPECT_EQ(r[3], kDefaultVariableSelector.first);
    EXPECT_EQ(r[4], kDefaultVariableSelector.second);
    EXPECT_EQ(r[6], 0x42) << "the other buffer's data";
    t.send(kIoRead);
    r = t.take();
    EXPECT_TRUE(blockReplyCrcOk(r));
    EXPECT_EQ(r[3], 0x8D);
}

TEST(Faults, delayed_reply_and_other_ack_bytes_apply_once) {
    Tap t;
    t.sim.faults().delayNextReplyUs = 5'000'000;
    t.sim.faults().nextAck = std::array<std::uint8_t, 3>{0x15, 0x00, 0x15};
    t.send(kSetVar);
    ASSERT_EQ(t.pieces.size(), 1u);
    EXPECT_EQ(t.pieces[0].gapUs, 5'000'000);
    EXPECT_TRUE(t.pieces[0].reply);
    EXPECT_EQ(toHex(t.take()), "15 00 15");
    t.send(kSetVar);
    EXPECT_EQ(t.pieces[0].gapUs, 0);
    EXPECT_EQ(t.take(), kAck);
}

TEST(Faults, reports_can_come_right_after_an_ack_or_inside_the_exchange) {
    Tap t;
    t.sim.faults().reportAfterAck = {0xFE, 0x00, 0x12};
    t.send(kIoRead);  // a block reply is not an acknowledgement
    EXPECT_EQ(t.take().size(), 264u);
    t.send(kSetVar);
    ASSERT_EQ(t.pieces.size(), 2u);
    EXPECT_TRUE(t.pieces[0].reply);
    EXPECT_FALSE(t.pieces[1].reply);
    EXPECT_EQ(toHex(t.take()), "06 00 06 FE 00 12");

    t.sim.faults().reportBeforeReply = {0xF0, 0x01, 0x02, 0x01};
    t.send(kIoRead);
    const auto r = t.take();
    ASSERT_EQ(r.size(), 268u);
    EXPECT_EQ(toHex(std::span(r).first(5)), "F0 01 02 01 2A");
}

TEST(Faults, split_report_goes_out_in_two_pieces_with_a_gap_inside_the_report) {
    Tap t;
    t.sim.faults().splitNextReport = Faults::Split{.at = 3, .gapUs = 1'500'000};
    t.sim.emitIoChange(3, 4, 1);
    ASSERT_EQ(t.pieces.size(), 2u);
    EXPECT_EQ(toHex(t.pieces[0].bytes), "F0 03 04");
    EXPECT_EQ(t.pieces[0].gapUs, 0);
    EXPECT_EQ(toHex(t.pieces[1].bytes), "01");
    EXPECT_EQ(t.pieces[1].gapUs, 1'500'000);
    t.take();
    t.sim.emitX10Received(0, 1);
    EXPECT_EQ(t.pieces.size(), 1u) << "only the next report is split";

    t.take();
    t.sim.faults().splitNextReport = Faults::Split{.at = 10, .gapUs = 1};
    t.sim.emitX10Received(0, 1);
    ASSERT_EQ(t.pieces.size(), 2u);
    EXPECT_EQ(t.pieces[0].bytes.size(), 2u) << "a split point past the end is kept inside";
    EXPECT_EQ(t.pieces[1].bytes.size(), 1u);
}

TEST(Override, test_can_take_over_chosen_frames_and_answer_itself) {
    Tap t;
    t.sim.overrideFrame = [&](const ReceivedFrame& f) {
        if (f.kind != FrameKind::BlockRead || f.selector() != kIoBuffer) return false;
        t.sim.sendRaw({0x2A, 0x01}, true, 7);
        return true;
    };
    t.send(kIoRead);
    ASSERT_EQ(t.pieces.size(), 1u);
    EXPECT_TRUE(t.pieces[0].reply);
    EXPECT_EQ(t.pieces[0].gapUs, 7);
    EXPECT_EQ(toHex(t.take()), "2A 01");
    t.send(kSetVar);
    EXPECT_EQ(t.take(), kAck) << "other frames keep the default behaviour";
    EXPECT_EQ(t.sim.variable(5), 300);
    EXPECT_EQ(t.sim.frames().size(), 2u) << "taken-over frames are still recorded";
    EXPECT_EQ(t.sim.reportsSent(), 0u);
}

TEST(Override, hook_sees_each_frame_in_time_to_arm_a_fault_for_it) {
    Tap t;
    t.sim.onFrameHook = [&](const ReceivedFrame& f) {
        if (f.selector() == kParameterBlock2) t.sim.faults().dropReplies = 1;
    };
    t.send("2A 00 00 00 7F 00 A5 7D");
    EXPECT_TRUE(t.take().empty());
    t.send(kIoRead);
    EXPECT_EQ(t.take().size(), 264u);
}

}  // namespace
}  // namespace varnel::sim::test
