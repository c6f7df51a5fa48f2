// The I/O timer's guards and its reader of the controller's own reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/block_reads.h"
#include "devices/io_timer.h"
#include "devices/mappings.h"
#include "link/serial_link.h"
#include "rig.h"
#include "scripted_controller.h"

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct TickRig : test::Rig {
    TickRig() {
        (void)port.open("COM1");
        ctx.link.portOpen = true;
        ctx.link.commStarted = true;
        ctx.controller.x10Interface = true;
    }
    void arrive(Bytes b) {
        port.deliver(std::move(b));
        loop.processEvents();
    }
};

struct ReportCase {
    const char* name;
    Bytes bytes;
    bool recognition, x10Xmit;
    std::string leopardVar;
    std::vector<std::string> x10;
    std::vector<std::int16_t> ir;
    std::vector<std::pair<std::string, std::int32_t>> values;
    std::vector<std::pair<std::string, std::int16_t>> statuses;
    std::size_t left;
};

class ReadReportsTest : public testing::TestWithParam<ReportCase> {};

TEST_P(ReadReportsTest, hands_each_report_on_by_its_first_byte) {
    TickRig rig;
    const auto& c = GetParam();
    rig.ctx.link.recognition = c.recognition;
    rig.ctx.switches.x10Xmit = c.x10Xmit ? 1 : 0;
    rig.ctx.switches.leopardVar = c.leopardVar;
    buildMappings(rig.ctx, "3!11![!0,");
    rig.arrive(c.bytes);
    Timer3_Timer(rig.ctx);
    EXPECT_EQ(rig.callback->x10, c.x10);
    EXPECT_EQ(rig.callback->ir, c.ir);
    EXPECT_EQ(rig.host->values, c.values);
    EXPECT_EQ(rig.host->statuses, c.statuses);
    EXPECT_EQ(rig.port.bytesWaiting(), c.left);
    EXPECT_FALSE(rig.ctx.timers.timerBusy);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, ReadReportsTest,
    testing::Values(
        ReportCase{"two_x10_reports_in_one_tick", {0xFE, 0, 0, 0xFE, 0, 18}, false, false, "-1", {"A1|A|2|"}, {}, {}, {}, 0},
        ReportCase{"x10_sent_dropped_without_x10xmit", {0xFB, 0, 0, 0xFB, 0, 18}, false, false, "-1", {}, {}, {}, {}, 0},
        ReportCase{"x10_sent_passed_with_x10xmit", {0xFB, 1, 19}, false, true, "-1", {"|B|3|"}, {}, {}, {}, 0},
        ReportCase{"ir_match_carries_code_in_byte_2", {0xFD, 9, 42}, true, false, "-1", {}, {42}, {}, {}, 0},
        ReportCase{"ir_match_without_recognition", {0xFD, 9, 42}, false, false, "-1", {}, {}, {}, {}, 0},
        ReportCase{"leopard_touch_is_five_bytes", {0xF2, 1, 77, 3, 4, 0xFE, 0, 18}, false, false, "L", {"|A|2|"}, {},
                   {{"L1", 77}}, {}, 0},
        ReportCase{"leopard_touch_without_screen", {0xF3, 1, 77, 3, 4, 0xFD, 0, 5}, true, false, "-1", {}, {5}, {},
                   {}, 0},
        ReportCase{"io_change", {0xF0, 3, 5, 0}, false, false, "-1", {}, {}, {}, {{"[6", 2}}, 0},
        ReportCase{"ignored_report", {0xFC, 1, 2, 0xFD, 0, 6}, true, false, "-1", {}, {6}, {}, {}, 0},
        ReportCase{"filler_and_stray_bytes_dropped_alone", {0xFF, 0x41, 0xFD, 0, 6}, true, false, "-1", {}, {6}, {},
                   {}, 0},
        ReportCase{"fewer_than_three_bytes_wait", {0xFD, 0}, true, false, "-1", {}, {}, {}, {}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadReports, io_change_waits_for_its_fourth_byte) {
    TickRig rig;
    buildMappings(rig.ctx, "3!11![!0,");
    rig.arrive({0xF0, 3, 5});
    rig.port.deliver({1}, 600'000);
    Timer3_Timer(rig.ctx);
    EXPECT_EQ(rig.host->statuses, (std::vector<std::pair<std::string, std::int16_t>>{{"[6", 3}}));
    EXPECT_EQ(rig.loop.tickMs(), 600);
}

TEST(ReadReports, io_change_whose_fourth_byte_never_comes_is_dropped) {
    TickRig rig;
    buildMappings(rig.ctx, "3!11![!0,");
    rig.arrive({0xF0, 3, 5});
    Timer3_Timer(rig.ctx);
    EXPECT_TRUE(rig.host->statuses.empty());
    EXPECT_EQ(ioPointLookup(rig.ctx, 3, 5), 1);  // image untouched
    EXPECT_EQ(rig.ctx.link.discarded, 1u);
    EXPECT_EQ(rig.loop.tickMs(), kReportByteWaitMs);
}

TEST(ReadReports, endless_stream_is_read_a_bounded_amount_per_tick) {
    TickRig rig;
    Bytes flood;
    for (int i = 0; i < kMaxReportsPerTick + 10; ++i) flood.insert(flood.end(), {0xFC, 0, 0});
    rig.arrive(flood);
    Timer3_Timer(rig.ctx);
    EXPECT_EQ(rig.port.bytesWaiting(), 30u);
}

struct GuardCase {
    const char* name;
    std::int16_t busy, x10Sending;
    bool timerBusy;
};

class TickGuardTest : public testing::TestWithParam<GuardCase> {};

TEST_P(TickGuardTest, tick_does_nothing_while_something_else_runs) {
    TickRig rig;
    rig.ctx.link.busy = GetParam().busy;
    rig.ctx.timers.x10Sending = GetParam().x10Sending;
    rig.ctx.timers.timerBusy = GetParam().timerBusy;
    rig.arrive({0xFE, 0, 18});
    rig.ctx.queue.count = 1;
    rig.ctx.queue.writeIndex = 1;
    rig.ctx.queue.ring[0] = QueueRecord{"", "", 101, 1, 3, 2};
    Timer3_Timer(rig.ctx);
    EXPECT_EQ(rig.port.bytesWaiting(), 3u);
    EXPECT_EQ(rig.ctx.queue.count, 1);
    EXPECT_TRUE(rig.port.written.empty());
    EXPECT_EQ(rig.ctx.timers.timerBusy, GetParam().timerBusy);
}

INSTANTIATE_TEST_SUITE_P(Guards, TickGuardTest,
                         testing::Values(GuardCase{"command_waiting", 1, 0, false},
                                         GuardCase{"x10_sending", 0, 1, false},
                                         GuardCase{"other_tick_running", 0, 0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Timer3, queue_is_emptied_without_sending_while_comm_not_started) {
    TickRig rig;
    rig.ctx.link.commStarted = false;
    rig.ctx.queue.count = 2;
    rig.ctx.queue.readIndex = 7;
    rig.ctx.queue.writeIndex = 9;
    rig.arrive({0xFE, 0, 18});
    Timer3_Timer(rig.ctx);
    EXPECT_EQ(rig.ctx.queue.count, 0);
    EXPECT_EQ(rig.ctx.queue.readIndex, 0);
    EXPECT_EQ(rig.ctx.queue.writeIndex, 0);
    EXPECT_TRUE(rig.port.written.empty());
    EXPECT_TRUE(rig.callback->x10.empty());
    EXPECT_FALSE(rig.ctx.timers.timerBusy);
}

}  // namespace
}  // namespace varnel
