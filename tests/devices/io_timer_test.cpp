// The I/O timer: guards, the report reader, the queue, the point check, the CMAX run.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "commands/block_reads.h"
#include "commands/ir.h"
#include "commands/queue.h"
#include "devices/device_model.h"
#include "devices/io_timer.h"
#include "devices/mappings.h"
#include "devices_rig.h"
#include "link/serial_link.h"
#include "test_events.h"

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

struct TickRig : test::Rig {
    TickRig() : far(*this) {
        ctx.link.commStarted = true;
        ctx.controller.x10Interface = true;
        ctx.controller.irModuleFlag = true;
        ctx.controller.irModules = {4, 9};
        ctx.controller.irModuleCount = 2;
        events.onWork = [this] { Timer3_Timer(ctx); };
        buildMappings(ctx, "3!11![!0,");
    }
    void arrive(Bytes b) {
        port.deliver(std::move(b));
        loop.processEvents();
    }
    test::ScriptedController far;
    test::TestEvents events{ctx};
};

QueueRecord rec(std::int16_t command, std::int32_t brightness, std::int16_t data1 = 0, std::int16_t data2 = 0,
                std::string house = "", std::string device = "") {
    return QueueRecord{std::move(house), std::move(device), command, brightness, data1, data2};
}

// The kinds and what each makes of the host: the dispatch tests; here what a tick reads.
TEST(ReadReports, a_tick_reads_every_whole_report_waiting_and_drops_stray_bytes_alone) {
    struct Case {
        Bytes bytes;
        Strings seen;  // X10 events
        std::size_t left;
    };
    const Case cases[] = {{{0xFE, 0, 0, 0xFF, 0x41, 0xFE, 0, 18}, {"X A1|A|2|"}, 0},
                          {{0xFD, 0}, {}, 2}};  // fewer than three bytes wait
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        TickRig rig;
        rig.ctx.link.recognition = true;
        rig.arrive(c.bytes);
        Timer3_Timer(rig.ctx);
        Strings seen;
        for (const auto& x : rig.callback->x10) seen.push_back("X " + x);
        EXPECT_EQ(seen, c.seen);
        EXPECT_EQ(rig.port.bytesWaiting(), c.left);
        EXPECT_FALSE(rig.ctx.gate.timerBusy);
    }
}

TEST(ReadReports, io_change_waits_up_to_a_second_for_its_fourth_byte) {
    for (const bool comes : {true, false}) {
        TickRig rig;
        rig.arrive({0xF0, 3, 5});
        if (comes) rig.port.deliver({1}, 600'000);
        Timer3_Timer(rig.ctx);
        EXPECT_EQ(rig.host->statuses.size(), comes ? 1u : 0u);
        EXPECT_EQ(ioPointLookup(rig.ctx, 3, 5), comes ? 0 : 1);
        EXPECT_EQ(rig.ctx.link.discarded, comes ? 0u : 1u);
        EXPECT_EQ(rig.loop.tickMs(), comes ? 600 : kReportByteWaitMs);
    }
}

TEST(Timer3, does_nothing_while_a_command_an_x10_send_or_another_tick_runs) {
    for (int guard = 0; guard < 3; ++guard) {
        TickRig rig;
        rig.ctx.gate.busy = guard == 0 ? 1 : 0;
        rig.ctx.gate.x10Sending = guard == 1 ? 1 : 0;
        rig.ctx.gate.timerBusy = guard == 2;
        rig.arrive({0xFE, 0, 18});
        QExec(rig.ctx, rec(101, 1, 3, 2));
        EXPECT_EQ(rig.port.bytesWaiting(), 3u);
        EXPECT_EQ(rig.ctx.queue.count, 1);
        EXPECT_TRUE(rig.port.written.empty());
    }
}

TEST(Timer3, queue_is_emptied_without_sending_while_comm_not_started) {
    TickRig rig;
    rig.ctx.link.commStarted = false;
    rig.ctx.queue = {.ring = {}, .writeIndex = 9, .readIndex = 7, .count = 2};
    rig.arrive({0xFE, 0, 18});
    Timer3_Timer(rig.ctx);
    EXPECT_EQ(rig.ctx.queue.count + rig.ctx.queue.readIndex + rig.ctx.queue.writeIndex, 0);
    EXPECT_TRUE(rig.port.written.empty() && rig.callback->x10.empty());
}

TEST(QueuedCommand, runs_at_once_and_leaves_the_queue_empty) {
    struct Case {
        QueueRecord record;
        std::vector<Bytes> frames;
    };
    const Case cases[] = {
        // x10 on
        {rec(2, 0, 0, 0, "A", "5"),
         {{0xC8, 0x37, 0x00, 0x04, 0x01, 0x00, 0x00, 0x04}, {0xC8, 0x37, 0x00, 0x12, 0x01, 0x00, 0x00, 0x12}}},
        // variable write
        {rec(19, 300, 0, 0, "35", "5"), {{0xC8, 0x29, 0x05, 0x2C, 0x01, 0x00, 0x00, 0x23}}},
        // point write
        {rec(101, 1, 3, 2), {{0xC8, 0x33, 0x03, 0x02, 0x01, 0x00, 0x00, 0x01}}},
        // zone 35 of two modules is the first
        {rec(100, 300, 35), {{0xC8, 0x5C, 0x04, 0x01, 0x2C, 0x01, 0x00, 0x56}}},
        // remote play
        {rec(102, 9, 3, 300), {{0xC8, 0x5C, 0x09, 0x03, 0x2C, 0x01, 0x00, 0x5D}}},
        // commands 20 and 104 send nothing
        {rec(20, 1), {}},
        {rec(104, 1), {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        TickRig rig;
        QExec(rig.ctx, c.record);
        EXPECT_EQ(rig.far.frames(), c.frames);
        EXPECT_EQ(rig.ctx.queue.count, 0);
        EXPECT_TRUE(rig.host->log.empty());
    }
}

TEST(QueuedCommand, learn_prompt_asks_for_the_location) {
    TickRig rig;
    QExec(rig.ctx, rec(103, 5));
    ASSERT_EQ(rig.prompts.shown.size(), 1u);
    EXPECT_NE(rig.prompts.shown[0].text.find("location:  5\r\n"), std::string::npos) << rig.prompts.shown[0].text;
}

TEST(Queue, fifty_wait_the_fifty_first_is_dropped_and_a_failure_does_not_stop_the_rest) {
    TickRig rig;
    rig.ctx.gate.busy = 1;
    QExec(rig.ctx, rec(2, 70000, 0, 0, "A", "1"));  // brightness too large for the X10 send
    for (int i = 2; i <= 51; ++i) QExec(rig.ctx, rec(101, i, 1, 0));
    EXPECT_EQ(rig.ctx.queue.count, 50);
    rig.ctx.gate.busy = 0;
    Timer3_Timer(rig.ctx);
    ASSERT_EQ(rig.far.frames().size(), 49u);
    EXPECT_EQ(rig.far.frames().back()[4], 50);
    EXPECT_EQ(rig.ctx.queue.readIndex, 0);
    EXPECT_EQ(rig.host->log, (std::vector<std::pair<std::string, std::string>>{{"Varnel", "Timer3 Line  5 Overflow"}}));
}

struct CompareRig : test::DevicesRig {
    CompareRig() : far(*this) {
        ctx.link.commStarted = true;
        ctx.controller.connected = true;
    }
    // A check against an image where module 3 has `low` (points 0..7) and `high` (8..15).
    Strings check(std::uint8_t low, std::uint8_t high) {
        Bytes data(256, 0);
        data[4] = low;
        data[5] = high;
        far.reply(test::ScriptedController::blockReply(0x8D, 0xB5, data));
        ehost->clearEvents();
        ctx.timers.ioCheckRequest = true;
        Timer3_Timer(ctx);
        return events();
    }
    test::ScriptedController far;
};

TEST(Compare, sets_status_and_value_of_points_that_differ) {
    struct Case {
        std::string mapping;
        std::vector<int> selected;
        std::uint8_t low, high;
        std::string events;  // "S code=status C code=value ..."
    };
    const Case cases[] = {
        // secu16
        {"3!11![!0,", {0, 1, 8, 9}, 0x02, 0x01, "S [1=2 C [1=1 S [2=3 C [2=0 S [9=2 C [9=0 S [10=3 C [10=1"},
        // secu16 inverted leaves outputs alone
        {"3!11![!1,", {0, 1, 8, 9}, 0x02, 0x01, "S [1=3 C [1=0 S [2=2 C [2=1 S [9=2 C [9=0 S [10=3 C [10=1"},
        // secu16i sixteen inputs
        {"3!12!Q!0,", {0, 15}, 0x00, 0x80, "S Q1=2 C Q1=1 S Q16=3 C Q16=0"},
        // relay08 only eight points
        {"3!13!]!0,", {0, 8, 15}, 0x00, 0x00, "S ]1=3 C ]1=1"},
        // unselected points untouched
        {"3!11![!0,", {}, 0x00, 0x00, ""},
        // mapping without house code skipped
        {"3!11!!0,", {0}, 0x00, 0x00, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        CompareRig rig;
        buildMappings(rig.ctx, c.mapping);
        for (int p : c.selected) setPointSelected(rig.ctx, 3, p, true);
        std::string got;
        for (const auto& e : rig.check(c.low, c.high)) got += (got.empty() ? "" : " ") + e;
        EXPECT_EQ(got, c.events);
        EXPECT_TRUE(rig.ehost->logEntries().empty());
        EXPECT_FALSE(rig.ctx.timers.ioCheckRequest);
    }
}

TEST(Compare, point_already_in_step_is_left_alone) {
    CompareRig rig;
    buildMappings(rig.ctx, "3!11![!0,");
    setPointSelected(rig.ctx, 3, 0, true);
    rig.addDevice("[1", 0, "3!11!0!0");
    EXPECT_EQ(rig.check(0x00, 0x00), (Strings{"S [1=2", "C [1=1"}));
    EXPECT_EQ(rig.check(0x00, 0x00), (Strings{}));
}

TEST(Compare, an_output_report_and_the_check_agree_so_the_host_sees_one_change) {
    struct Case {
        const char* name;
        std::string mapping;
        std::uint8_t point, raw, low, high;  // the report; the image the check reads
        Strings fromReport;
    };
    for (const Case& c : {Case{"secu16 output on", "3!11![!0,", 8, 1, 0x00, 0x01, {"S [9=2", "C [9=0"}},
                          Case{"secu16 output on, unit inverted", "3!11![!1,", 8, 1, 0x00, 0x01, {"S [9=2", "C [9=0"}},
                          Case{"relay off", "3!13![!0,", 2, 0, 0x00, 0x00, {"S [3=3", "C [3=1"}}}) {
        CompareRig rig;
        buildMappings(rig.ctx, c.mapping);
        setPointSelected(rig.ctx, 3, c.point, true);
        rig.addDevice("[" + std::to_string(c.point + 1), 1, "3!11!" + std::to_string(c.point) + "!0");
        rig.port.deliver({0xF0, 3, c.point, c.raw});
        rig.loop.processEvents();
        Timer3_Timer(rig.ctx);
        EXPECT_EQ(rig.events(), c.fromReport) << c.name;
        EXPECT_EQ(rig.check(c.low, c.high), Strings{}) << c.name;
    }
}

TEST(Compare, command_queued_during_the_poll_goes_first_and_the_check_waits) {
    CompareRig rig;
    buildMappings(rig.ctx, "3!11![!0,");
    setPointSelected(rig.ctx, 3, 0, true);
    rig.far.delayUs = 200'000;
    rig.loop.postUs(100'000, [&] { QExec(rig.ctx, rec(101, 1, 5, 0)); });  // a host call during the wait
    EXPECT_EQ(rig.check(0x00, 0x00), (Strings{}));
    ASSERT_EQ(rig.far.frames().size(), 2u);
    EXPECT_EQ(rig.far.frames()[1][1], 0x33);
    EXPECT_EQ(rig.ctx.queue.count, 0);
}

// CMAX runs beside the plug-in; the reconnect and the script wait for its end.
TEST(Disconnect, closes_the_port_and_asks_for_a_reconnect_after_a_cmax_run) {
    for (const bool cmax : {false, true}) {
        SCOPED_TRACE(cmax);
        test::DevicesRig rig;
        test::ScriptedController far(rig);
        test::TestEvents events(rig.ctx);
        auto& t = rig.ctx.timers;
        for (auto* timer : {&t.timer2, &t.timer3}) (*timer = rig.loop.createTimer())->setEnabled(true);
        t.disconnectRequest = true;
        t.cmaxLaunch = cmax;
        t.cmaxExe = "C:\\CMAX\\cmax.exe";
        rig.ctx.link.commStarted = true;
        Timer3_Timer(rig.ctx);
        EXPECT_FALSE(t.timer2->enabled() || t.timer3->enabled() || rig.port.isOpen() || rig.ctx.link.commStarted);
        EXPECT_EQ(t.cmaxLaunch, cmax);
        EXPECT_TRUE(rig.ehost->runs().empty());
        ASSERT_EQ(rig.launcher.started.size(), cmax ? 1u : 0u);
        Timer3_Timer(rig.ctx);  // the tick finds the port closed and starts nothing more
        ASSERT_EQ(rig.launcher.started.size(), cmax ? 1u : 0u);
        if (cmax) rig.launcher.end({});
        EXPECT_EQ(events.calls, (cmax ? Strings{"port closed", "reconnect"} : Strings{"port closed"}));
        EXPECT_FALSE(t.cmaxLaunch);
        std::string ran;  // the script is absent: not an error
        for (const auto& r : rig.ehost->runs())
            ran += rig.launcher.started.at(0)->program + " " + r.file + "|" + r.procedure;
        EXPECT_EQ(ran, cmax ? "C:\\CMAX\\cmax.exe Varnel_CMAXSync.txt|AfterCMAX" : "");
        EXPECT_TRUE(rig.ehost->logEntries().empty());
    }
}

}  // namespace
}  // namespace varnel
