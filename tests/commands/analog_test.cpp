#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "commands/analog.h"
#include "commands/block_reads.h"
#include "rig.h"
#include "scripted_controller.h"

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ScriptedController;

const Bytes kValueRead{0x2A, 0x00, 0x00, 0x8B, 0xB4, 0x00, 0xA4, 0x78};

Bytes request(std::uint8_t selector) {
    return {0xC8, 0x1F, selector, 0x00, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(0xC8 + 0x1F + selector)};
}

// A value buffer whose module `unit` holds `value`.
Bytes valueReply(int unit, std::uint16_t value) {
    std::array<std::uint8_t, 256> data{};
    data[static_cast<std::size_t>(2 * (unit - 1))] = static_cast<std::uint8_t>(value & 0xFF);
    data[static_cast<std::size_t>(2 * (unit - 1) + 1)] = static_cast<std::uint8_t>(value >> 8);
    return ScriptedController::blockReply(0x8B, 0xB4, data);
}

struct Analog : ::testing::Test {
    test::Rig rig;
    ScriptedController far{rig};
    Analog() { rig.ctx.controller.connected = true; }
    std::vector<std::pair<std::string, std::string>>& log() { return rig.host->log; }
};

// ---- frames ------------------------------------------------------------------

TEST(AnalogFrames, request_selector_falls_back_to_zero_outside_a_byte) {
    struct Case {
        int selector;
        Bytes frame;
    };
    for (const Case& c : {Case{12, {0xC8, 0x1F, 0x0C, 0x00, 0x00, 0x00, 0x00, 0xF3}},
                          Case{0, {0xC8, 0x1F, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE7}},
                          Case{255, {0xC8, 0x1F, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xE6}},
                          Case{256, {0xC8, 0x1F, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE7}},
                          Case{-1, {0xC8, 0x1F, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE7}}}) {
        const auto f = requestFrame(c.selector);
        EXPECT_EQ(Bytes(f.begin(), f.end()), c.frame) << c.selector;
    }
}

TEST_F(Analog, start_get_analog_selects_point_plus_ten) {
    EXPECT_EQ(StartGetAnalog(rig.ctx, 9, 2), 0);
    ASSERT_EQ(far.frames().size(), 1u);
    EXPECT_EQ(far.frames()[0], (Bytes{0xC8, 0x1F, 0x0C, 0x00, 0x00, 0x00, 0x00, 0xF3}));
    EXPECT_EQ(rig.ctx.link.busy, 0);
}

TEST_F(Analog, nothing_goes_out_before_controller_is_found) {
    rig.ctx.controller.connected = false;
    EXPECT_EQ(StartGetAnalog(rig.ctx, 1, 2), 0);
    EXPECT_EQ(GetAnalogInputValue(rig.ctx, 1, 2), 0);
    EXPECT_EQ(GetAnalogInput(rig.ctx, 1, 2), 0);
    EXPECT_TRUE(far.frames().empty());
}

// ---- analog readings -----------------------------------------------------------

TEST_F(Analog, input_value_reads_buffer_without_request) {
    rig.ctx.controller.linkFailure = 1;
    far.reply(valueReply(5, 0x0177));
    EXPECT_EQ(GetAnalogInputValue(rig.ctx, 5, 3), 0x77);  // the low byte only
    EXPECT_EQ(far.frames(), (std::vector<Bytes>{kValueRead}));
    EXPECT_EQ(rig.ctx.controller.linkFailure, 0);
    EXPECT_EQ(rig.ctx.link.busy, 0);
}

TEST_F(Analog, analog_input_requests_waits_a_second_then_reads) {
    far.reply(ScriptedController::ack()).reply(valueReply(128, 0x00C8));
    EXPECT_EQ(GetAnalogInput(rig.ctx, 128, 2), 200);
    EXPECT_EQ(far.frames(), (std::vector<Bytes>{request(12), kValueRead}));
    EXPECT_EQ(rig.loop.tickMs(), 1000);
}

TEST_F(Analog, digital_false_point_is_read_from_controller) {
    far.reply(ScriptedController::ack()).reply(valueReply(4, 99));
    EXPECT_EQ(GetPoint(rig.ctx, 4, 1, false), 99);
    EXPECT_EQ(far.frames(), (std::vector<Bytes>{request(11), kValueRead}));
}

TEST_F(Analog, timeouts_mark_link_failed_and_give_minus_one_or_zero) {
    struct Case {
        std::int16_t logErrors;
        std::size_t warnings;
    };
    for (const Case& c : {Case{1, 2}, Case{0, 0}}) {
        test::Rig r;
        ScriptedController f{r};
        r.ctx.controller.connected = true;
        r.ctx.switches.logErrors = c.logErrors;
        f.silent(1);
        EXPECT_EQ(GetAnalogInputValue(r.ctx, 5, 0), -1);
        EXPECT_EQ(r.ctx.controller.linkFailure, 1);
        r.ctx.controller.linkFailure = 0;
        f.reply(ScriptedController::ack()).silent(1);
        EXPECT_EQ(GetAnalogInput(r.ctx, 5, 0), 0);
        EXPECT_EQ(r.ctx.controller.linkFailure, 1);
        EXPECT_EQ(r.ctx.link.busy, 0);
        ASSERT_EQ(r.host->log.size(), c.warnings) << c.logErrors;
        for (const auto& [source, message] : r.host->log) {
            EXPECT_EQ(source, "Warning");
            EXPECT_EQ(message, "Ocelot Plug-in, Timeout getting analog I/O 0 ");
        }
    }
}

TEST_F(Analog, timed_out_reading_is_not_taken_from_an_older_reply) {
    far.reply(ScriptedController::ack()).reply(valueReply(5, 77));
    EXPECT_EQ(GetAnalogInput(rig.ctx, 5, 0), 77);
    far.reply(ScriptedController::ack()).silent(1);
    EXPECT_EQ(GetAnalogInput(rig.ctx, 5, 0), 0);
}

TEST_F(Analog, units_off_the_buffer_read_as_zero) {
    for (std::int16_t unit : {std::int16_t{0}, std::int16_t{129}, std::int16_t{-3}}) {
        far.reply(valueReply(1, 0xFFFF));
        EXPECT_EQ(GetAnalogInputValue(rig.ctx, unit, 0), 0) << unit;
        far.reply(ScriptedController::ack()).reply(valueReply(1, 0xFFFF));
        EXPECT_EQ(GetParameter(rig.ctx, unit, 1), 0) << unit;
    }
}

// ---- parameters ----------------------------------------------------------------

TEST_F(Analog, parameter_is_module_value_low_byte_first) {
    rig.ctx.controller.linkFailure = 1;
    far.reply(ScriptedController::ack()).reply(valueReply(3, 0x1234));
    EXPECT_EQ(GetParameter(rig.ctx, 3, 1), 0x1234);
    EXPECT_EQ(far.frames(), (std::vector<Bytes>{request(0x00), kValueRead}));
    EXPECT_EQ(rig.loop.tickMs(), 3000);
    EXPECT_EQ(rig.ctx.controller.linkFailure, 0);
    EXPECT_EQ(rig.ctx.link.busy, 0);
    EXPECT_TRUE(log().empty());
}

TEST_F(Analog, parameter_retries_with_warning_even_when_warnings_are_off) {
    rig.ctx.switches.logErrors = 0;
    far.reply(ScriptedController::ack()).silent(1).reply(ScriptedController::ack()).reply(valueReply(2, 0xBEEF));
    EXPECT_EQ(GetParameter(rig.ctx, 2, 7), 0xBEEF);
    EXPECT_EQ(far.frames(), (std::vector<Bytes>{request(6), kValueRead, request(6), kValueRead}));
    EXPECT_EQ(rig.loop.tickMs(), 3000 + 4000 + 3000);
    EXPECT_EQ(log(), (std::vector<std::pair<std::string, std::string>>{
                         {"Warning", "Ocelot Plug-in, Timeout getting parameter, retrying ... 0 "}}));
    EXPECT_EQ(rig.ctx.controller.linkFailure, 0);
}

TEST_F(Analog, parameter_gives_up_after_three_attempts) {
    far.ackByDefault = false;
    EXPECT_EQ(GetParameter(rig.ctx, 3, 1), -1);
    EXPECT_EQ(far.frames().size(), 6u);
    EXPECT_EQ(rig.loop.tickMs(), 3 * (4000 + 3000 + 4000));
    const std::pair<std::string, std::string> retry{"Warning",
                                                    "Ocelot Plug-in, Timeout getting parameter, retrying ... 0 "};
    EXPECT_EQ(log(), (std::vector<std::pair<std::string, std::string>>{
                         retry, retry, retry, {"Varnel", "Timeout getting parameter, retried 3 times 0 "}}));
    EXPECT_EQ(rig.ctx.controller.linkFailure, 1);
    EXPECT_EQ(rig.ctx.link.busy, 0);
}

TEST_F(Analog, busy_through_parameter_wait_keeps_polls_off_the_wire) {
    EXPECT_EQ(IsBusy(rig.ctx), kFalse);
    Bool16 busyInWait = 0;
    bool pollResult = true;
    rig.loop.postUs(1'500'000, [&] {
        busyInWait = IsBusy(rig.ctx);
        pollResult = PollIO(rig.ctx);
    });
    far.reply(ScriptedController::ack()).reply(valueReply(1, 1));
    EXPECT_EQ(GetParameter(rig.ctx, 1, 1), 1);
    EXPECT_EQ(busyInWait, kTrue);
    EXPECT_FALSE(pollResult);
    EXPECT_EQ(far.frames().size(), 2u);
    EXPECT_EQ(IsBusy(rig.ctx), kFalse);
}

TEST_F(Analog, set_timeout_changes_every_later_wait) {
    struct Case {
        std::int16_t seconds;
        std::int64_t waitedMs;
    };
    far.ackByDefault = false;
    for (const Case& c : {Case{1, 1000}, Case{0, 200}, Case{10, 10000}}) {
        SetTimeOut(rig.ctx, c.seconds);
        const auto start = rig.loop.tickMs();
        EXPECT_EQ(GetAnalogInputValue(rig.ctx, 1, 0), -1);
        EXPECT_EQ(rig.loop.tickMs() - start, c.waitedMs) << c.seconds;
    }
}

}  // namespace
}  // namespace varnel
