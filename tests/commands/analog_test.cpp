#include "commands/analog.h"
#include "command_rig.h"
#include "commands/block_reads.h"

namespace varnel {
namespace {

using test::Bytes;
using Log = std::vector<std::pair<std::string, std::string>>;
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

using Analog = test::CommandTest;

TEST_F(Analog, start_get_analog_selects_point_plus_ten_only_once_controller_is_found) {
    rig.ctx.controller.connected = false;
    EXPECT_EQ(StartGetAnalog(rig.ctx, 1, 2), 0);
    EXPECT_EQ(GetAnalogInputValue(rig.ctx, 1, 2), 0);
    EXPECT_EQ(GetAnalogInput(rig.ctx, 1, 2), 0);
    EXPECT_TRUE(far.frames().empty());
    rig.ctx.controller.connected = true;
    EXPECT_EQ(StartGetAnalog(rig.ctx, 9, 2), 0);
    EXPECT_EQ(far.frames(), (std::vector<Bytes>{{0xC8, 0x1F, 0x0C, 0x00, 0x00, 0x00, 0x00, 0xF3}}));
    EXPECT_EQ(rig.ctx.gate.busy, 0);
}

TEST_F(Analog, readings_take_their_module_bytes_from_the_value_buffer) {
    rig.ctx.controller.linkFailure = 1;
    far.reply(valueReply(5, 0x0177));
    EXPECT_EQ(GetAnalogInputValue(rig.ctx, 5, 3), 0x77);  // no request first
    EXPECT_EQ(rig.ctx.controller.linkFailure, 0);
    far.reply(ScriptedController::ack()).reply(valueReply(128, 0x00C8));
    EXPECT_EQ(GetAnalogInput(rig.ctx, 128, 2), 200);
    EXPECT_EQ(rig.loop.tickMs(), 1000);
    far.reply(ScriptedController::ack()).reply(valueReply(4, 99));
    EXPECT_EQ(GetPoint(rig.ctx, 4, 1, false), 99);  // a non-digital point asks the controller
    rig.ctx.controller.linkFailure = 1;
    far.reply(ScriptedController::ack()).reply(valueReply(3, 0x1234));
    EXPECT_EQ(GetParameter(rig.ctx, 3, 1), 0x1234) << "a parameter is both bytes, low first";
    EXPECT_EQ(rig.ctx.controller.linkFailure, 0);
    EXPECT_EQ(rig.loop.tickMs(), 2000 + 3000);
    EXPECT_EQ(far.frames(), (std::vector<Bytes>{kValueRead, request(12), kValueRead, request(11), kValueRead,
                                                request(0x00), kValueRead}));
    EXPECT_EQ(rig.ctx.gate.busy, 0);
    EXPECT_TRUE(rig.host->log.empty());
}

TEST_F(Analog, a_timeout_marks_the_link_failed_and_gives_minus_one_or_zero_never_an_older_value) {
    far.reply(ScriptedController::ack()).reply(valueReply(5, 77));
    EXPECT_EQ(GetAnalogInput(rig.ctx, 5, 0), 77);
    far.silent(1);
    EXPECT_EQ(GetAnalogInputValue(rig.ctx, 5, 0), -1);
    EXPECT_EQ(rig.ctx.controller.linkFailure, 1);
    far.reply(ScriptedController::ack()).silent(1);
    EXPECT_EQ(GetAnalogInput(rig.ctx, 5, 0), 0);
    EXPECT_EQ(rig.ctx.gate.busy, 0);
    EXPECT_EQ(rig.host->log, Log(2, {"Warning", "Ocelot Plug-in, Timeout getting analog I/O 0 "}));
}

TEST_F(Analog, units_off_the_buffer_read_as_zero) {
    for (std::int16_t unit : {0, 129, -3}) {
        far.reply(valueReply(1, 0xFFFF));
        EXPECT_EQ(GetAnalogInputValue(rig.ctx, unit, 0), 0) << unit;
        far.reply(ScriptedController::ack()).reply(valueReply(1, 0xFFFF));
        EXPECT_EQ(GetParameter(rig.ctx, unit, 1), 0) << unit;
    }
}

TEST_F(Analog, parameter_retries_with_warning_even_when_warnings_are_off_and_gives_up_after_three) {
    const Log::value_type retry{"Warning", "Ocelot Plug-in, Timeout getting parameter, retrying ... 0 "};
    rig.ctx.switches.logErrors = 0;
    far.reply(ScriptedController::ack()).silent(1).reply(ScriptedController::ack()).reply(valueReply(2, 0xBEEF));
    EXPECT_EQ(GetParameter(rig.ctx, 2, 7), 0xBEEF);
    EXPECT_EQ(far.frames(), (std::vector<Bytes>{request(6), kValueRead, request(6), kValueRead}));
    EXPECT_EQ(rig.loop.tickMs(), 3000 + 4000 + 3000);
    EXPECT_EQ(rig.host->log, Log{retry});
    EXPECT_EQ(rig.ctx.controller.linkFailure, 0);

    test::Rig r;
    ScriptedController f{r};
    f.ackByDefault = false;
    EXPECT_EQ(GetParameter(r.ctx, 3, 1), -1);
    EXPECT_EQ(f.frames().size(), 6u);
    EXPECT_EQ(r.loop.tickMs(), 3 * (4000 + 3000 + 4000));
    EXPECT_EQ(r.host->log, (Log{retry, retry, retry, {"Varnel", "Timeout getting parameter, retried 3 times 0 "}}));
    EXPECT_EQ(r.ctx.controller.linkFailure, 1);
    EXPECT_EQ(r.ctx.gate.busy, 0);
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

}  // namespace
}  // namespace varnel
