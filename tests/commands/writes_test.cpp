#include <functional>
#include <stdexcept>
#include <tuple>

#include "command_rig.h"
#include "commands/analog.h"
#include "commands/ir.h"
#include "commands/screen.h"
#include "commands/writes.h"

namespace varnel {
namespace {

using test::Bytes;
using test::bytes;
using Writes = test::CommandTest;

// Values go low byte first; a byte that cannot hold its value goes out as 0.
TEST(CommandFrames, values_go_low_byte_first_and_bytes_that_cannot_hold_them_stay_zero) {
    const std::vector<std::tuple<const char*, CommandFrame, Bytes>> cases{
        {"variable 5 = 300", varWriteFrame(5, 300), {0xC8, 0x29, 0x05, 0x2C, 0x01, 0x00, 0x00, 0x23}},
        {"variable 255 = 65535", varWriteFrame(255, 65535), {0xC8, 0x29, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xEE}},
        {"point value 256", pointWriteFrame(3, 2, 256), {0xC8, 0x33, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00}},
        {"module and point off a byte", pointWriteFrame(300, -4, 1), {0xC8, 0x33, 0, 0, 0x01, 0, 0, 0xFC}},
        {"analog request 255", requestFrame(255), {0xC8, 0x1F, 0xFF, 0, 0, 0, 0, 0xE6}},
        {"analog request -1", requestFrame(-1), {0xC8, 0x1F, 0, 0, 0, 0, 0, 0xE7}},
        {"local play 300", localPlayFrame(300), {0xC8, 0x5A, 0x2C, 0x01, 0, 0, 0, 0x4F}},
        {"local play past 16 bits", localPlayFrame(70000), {0xC8, 0x5A, 0x70, 0, 0, 0, 0, 0x92}},
        {"remote play 300", remotePlayFrame(5, 3, 300), {0xC8, 0x5C, 5, 3, 0x2C, 0x01, 0, 0x59}},
        {"remote module too big", remotePlayFrame(300, 3, 256), {0xC8, 0x5C, 0, 3, 0, 0x01, 0, 0x28}},
        {"learn 300", learnStartFrame(300), {0xC8, 0x5B, 0x2C, 0x01, 0x78, 0, 0, 0xC8}},
    };
    for (const auto& [name, frame, expected] : cases) EXPECT_EQ(bytes(frame), expected) << name;
}

TEST_F(Writes, each_write_holds_busy_until_its_answer_is_in) {
    far.delayUs = 50'000;
    std::vector<std::int16_t> busyDuringWait;
    for (std::int64_t at : {10'000, 60'000}) rig.loop.postUs(at, [&] { busyDuringWait.push_back(rig.ctx.gate.busy); });
    EXPECT_EQ(SetVar(rig.ctx, 5, 300), 0);
    EXPECT_EQ(rig.loop.tickMs(), 50);  // returned when the answer was complete
    pointWrite(rig.ctx, 3, 2, 1000);   // even a value that cannot be formed goes out
    EXPECT_EQ(far.frames(), (std::vector<Bytes>{{0xC8, 0x29, 0x05, 0x2C, 0x01, 0x00, 0x00, 0x23},
                                                {0xC8, 0x33, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00}}));
    EXPECT_EQ(rig.port.bytesWaiting(), 0u);
    EXPECT_EQ(busyDuringWait, (std::vector<std::int16_t>{1, 1}));
    EXPECT_EQ(rig.ctx.gate.busy, 0);
}

TEST_F(Writes, set_var_out_of_range_throws_before_anything_is_sent) {
    for (const auto& [vnum, data] : {std::pair{-1, 0}, std::pair{256, 0}, std::pair{0, -1}, std::pair{0, 65536}}) {
        EXPECT_THROW(SetVar(rig.ctx, vnum, data), std::overflow_error) << vnum << "=" << data;
        EXPECT_EQ(rig.ctx.gate.busy, 0);
    }
    EXPECT_TRUE(far.frames().empty());
    EXPECT_EQ(rig.loop.tickMs(), 0);
}

// Every command that waits for an answer gives up after the response time-out.
TEST_F(Writes, unanswered_commands_wait_out_the_response_timeout_and_go_on) {
    far.ackByDefault = false;
    rig.ctx.link.responseTimeout = 2;
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"SetVar", [&] { EXPECT_EQ(SetVar(rig.ctx, 1, 1), 0); }},
        {"pointWrite", [&] { pointWrite(rig.ctx, 3, 2, 1); }},
        {"WriteScreen", [&] { EXPECT_EQ(WriteScreen(rig.ctx, 1, 1, "x", false, 0, false, false), 0); }},
        {"remotePlay", [&] { remotePlay(rig.ctx, 0x0A, 1, 300); }},
    };
    for (const auto& [name, call] : calls) {
        const auto start = rig.loop.tickMs();
        call();
        EXPECT_EQ(rig.loop.tickMs() - start, 2000) << name;
        EXPECT_EQ(rig.ctx.gate.busy, 0) << name;
    }
    EXPECT_EQ(far.frames().size(), 4u);
    EXPECT_TRUE(rig.host->log.empty());
}

}  // namespace
}  // namespace varnel
