// The I/O timer bringing host devices of mirrored points in step with the
// polled I/O image, per module type; and its host script call after CMAX.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "commands/queue.h"
#include "devices/device_model.h"
#include "devices/io_timer.h"
#include "devices/mappings.h"
#include "devices_rig.h"

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

struct CompareRig : test::DevicesRig {
    CompareRig() : far(*this) {
        ctx.link.commStarted = true;
        ctx.controller.connected = true;
    }
    // Polls an image where module 3 has `low` (points 0..7) and `high` (8..15) bit patterns.
    void check(std::uint8_t low, std::uint8_t high) {
        Bytes data(256, 0);
        data[4] = low;
        data[5] = high;
        far.reply(test::ScriptedController::blockReply(0x8D, 0xB5, data));
        ehost->clearEvents();
        ctx.timers.ioCheckRequest = true;
        Timer3_Timer(ctx);
    }
    void select(std::initializer_list<int> points) {
        for (int p : points) setPointSelected(ctx, 3, p, true);
    }
    test::ScriptedController far;
};

struct CompareCase {
    const char* name;
    std::string mapping;
    std::vector<int> selected;
    std::uint8_t low, high;
    Strings events;
};

class CompareTest : public testing::TestWithParam<CompareCase> {};

TEST_P(CompareTest, sets_status_and_value_of_points_that_differ) {
    CompareRig rig;
    buildMappings(rig.ctx, GetParam().mapping);
    for (int p : GetParam().selected) setPointSelected(rig.ctx, 3, p, true);
    rig.check(GetParam().low, GetParam().high);
    EXPECT_EQ(rig.events(), GetParam().events);
    EXPECT_TRUE(rig.ehost->logEntries().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Types, CompareTest,
    testing::Values(
        CompareCase{"secu16",
                    "3!11![!0,",
                    {0, 1, 8, 9},
                    0x02,
                    0x01,
                    {"S [1=2", "C [1=1", "S [2=3", "C [2=0", "S [9=2", "C [9=0", "S [10=3", "C [10=1"}},
        CompareCase{"secu16_inverted_leaves_outputs_alone",
                    "3!11![!1,",
                    {0, 1, 8, 9},
                    0x02,
                    0x01,
                    {"S [1=3", "C [1=0", "S [2=2", "C [2=1", "S [9=2", "C [9=0", "S [10=3", "C [10=1"}},
        CompareCase{"secu16i_sixteen_inputs", "3!12!Q!0,", {0, 15}, 0x00, 0x80, {"S Q1=2", "C Q1=1", "S Q16=3", "C Q16=0"}},
        CompareCase{"secu16i_inverted", "3!12!Q!1,", {0}, 0x00, 0x00, {"S Q1=3", "C Q1=0"}},
        CompareCase{"relay08_only_eight_points",
                    "3!13!]!0,",
                    {0, 7, 8, 15},
                    0x00,
                    0x00,
                    {"S ]1=3", "C ]1=1", "S ]8=3", "C ]8=1"}},
        CompareCase{"unselected_points_untouched", "3!11![!0,", {}, 0x00, 0x00, {}},
        CompareCase{"mapping_without_house_code_skipped", "3!11!!0,", {0}, 0x00, 0x00, {}},
        CompareCase{"ir_module_has_nothing_to_compare", "3!6!W!0,", {0}, 0x00, 0x00, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Compare, point_already_in_step_is_left_alone) {
    CompareRig rig;
    buildMappings(rig.ctx, "3!11![!0,");
    rig.select({0, 1});
    rig.addDevice("[1", 0, "3!11!0!0");
    rig.addDevice("[2", 0, "3!11!1!0");
    rig.ehost->SetDeviceStatus("[1", 2);
    rig.check(0x02, 0x00);
    EXPECT_EQ(rig.events(), (Strings{"S [2=3", "C [2=0"}));
    rig.check(0x02, 0x00);
    EXPECT_EQ(rig.events(), (Strings{}));
}

TEST(Compare, secu16_input_whose_status_cannot_be_read_is_skipped_quietly) {
    CompareRig rig;
    rig.ctx.switches.logComms = 1;
    buildMappings(rig.ctx, "3!11![!0,");
    rig.select({0, 1});
    rig.faulty->failing = {"DeviceStatus"};
    rig.faulty->onlyCode = "[1";
    rig.check(0x00, 0x00);
    EXPECT_EQ(rig.events(), (Strings{"S [2=2", "C [2=1"}));
    EXPECT_TRUE(rig.ehost->logEntries().empty());
    const auto lines = test::commsLogLines(rig);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Error calling hs.DeviceStatus, skipping check of IO point"),
              lines.end());
}

TEST(Compare, other_types_report_a_failing_status_read_and_go_on) {
    CompareRig rig;
    buildMappings(rig.ctx, "3!12!Q!0,");
    rig.select({0, 1});
    rig.faulty->failing = {"DeviceStatus"};
    rig.faulty->onlyCode = "Q1";
    rig.check(0x00, 0x00);
    EXPECT_EQ(rig.events(), (Strings{"S Q2=2", "C Q2=1"}));
    ASSERT_EQ(rig.ehost->logEntries().size(), 1u);
    EXPECT_EQ(rig.ehost->logEntries()[0].message, "Timer3 Line  5 DeviceStatus failed");
}

TEST(Compare, comms_log_names_the_output_settings) {
    CompareRig rig;
    rig.ctx.switches.logComms = 1;
    buildMappings(rig.ctx, "3!11![!0,4!12!Q!0,5!13!]!0,");
    rig.select({8});
    setPointSelected(rig.ctx, 4, 0, true);
    setPointSelected(rig.ctx, 5, 0, true);
    rig.check(0x00, 0x00);
    Strings settings;
    for (const auto& l : test::commsLogLines(rig))
        if (l.find("Setting device") != std::string::npos) settings.push_back(l);
    EXPECT_EQ(settings, (Strings{"SECU16 Setting device [9 to 3", "SECU16I Setting device Q1 to 2",
                                 "RLY8 Setting device ]1 to 3"}));
}

TEST(Compare, command_queued_during_the_poll_goes_first_and_the_check_waits) {
    CompareRig rig;
    buildMappings(rig.ctx, "3!11![!0,");
    rig.select({0});
    // A host call arriving while the poll waits only queues its command.
    rig.far.delayUs = 200'000;
    rig.loop.postUs(100'000, [&] { QExec(rig.ctx, QueueRecord{"", "", 101, 1, 5, 0}); });
    rig.check(0x00, 0x00);
    EXPECT_EQ(rig.events(), (Strings{}));
    ASSERT_EQ(rig.far.frames().size(), 2u);
    EXPECT_EQ(rig.far.frames()[1][1], 0x33);
    EXPECT_EQ(rig.ctx.queue.count, 0);
    EXPECT_FALSE(rig.ctx.timers.ioCheckRequest);
}

TEST(Compare, failed_poll_compares_nothing) {
    CompareRig rig;
    buildMappings(rig.ctx, "3!11![!0,");
    rig.select({0});
    rig.far.silent(2);
    rig.ehost->clearEvents();
    rig.ctx.timers.ioCheckRequest = true;
    Timer3_Timer(rig.ctx);
    EXPECT_EQ(rig.events(), (Strings{}));
    EXPECT_FALSE(rig.ctx.timers.ioCheckRequest);
}

TEST(CmaxRun, host_script_runs_afterwards_and_its_failure_is_ignored) {
    test::DevicesRig rig;
    rig.ctx.link.commStarted = true;
    rig.ctx.timers.disconnectRequest = true;
    rig.ctx.timers.cmaxLaunch = true;
    rig.faulty->failing = {"RunEx"};
    Timer3_Timer(rig.ctx);
    EXPECT_EQ(rig.faulty->runs, (Strings{"Varnel_CMAXSync.txt|AfterCMAX|"}));
    EXPECT_TRUE(rig.ehost->logEntries().empty());
    EXPECT_FALSE(rig.ctx.error.pending);
}

}  // namespace
}  // namespace varnel
