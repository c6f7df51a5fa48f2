#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "commands/writes.h"
#include "rig.h"
#include "scripted_controller.h"

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ScriptedController;

Bytes bytesOf(const CommandFrame& f) { return Bytes(f.begin(), f.end()); }

struct Writes : ::testing::Test {
    test::Rig rig;
    ScriptedController far{rig};
    // The busy flag as seen by whatever runs while the command waits for its answer.
    std::int16_t busyDuringWait = -99;
    void watchBusy() {
        far.delayUs = 50'000;
        rig.loop.postUs(10'000, [this] { busyDuringWait = rig.ctx.link.busy; });
    }
};

TEST(WriteFrames, variable_write_puts_value_low_byte_first) {
    struct Case {
        std::uint8_t vnum;
        std::uint16_t data;
        Bytes frame;
    };
    for (const Case& c : {
             Case{5, 300, {0xC8, 0x29, 0x05, 0x2C, 0x01, 0x00, 0x00, 0x23}},
             Case{0, 0, {0xC8, 0x29, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF1}},
             Case{255, 65535, {0xC8, 0x29, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xEE}},
             Case{127, 256, {0xC8, 0x29, 0x7F, 0x00, 0x01, 0x00, 0x00, 0x71}},
         })
        EXPECT_EQ(bytesOf(varWriteFrame(c.vnum, c.data)), c.frame) << int{c.vnum} << "=" << c.data;
}

TEST(WriteFrames, point_write_leaves_bytes_that_cannot_hold_their_value_at_zero) {
    struct Case {
        std::int32_t module, point, value;
        Bytes frame;
    };
    for (const Case& c : {
             Case{3, 2, 1, {0xC8, 0x33, 0x03, 0x02, 0x01, 0x00, 0x00, 0x01}},
             Case{3, 2, 255, {0xC8, 0x33, 0x03, 0x02, 0xFF, 0x00, 0x00, 0xFF}},
             Case{3, 2, 256, {0xC8, 0x33, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00}},
             Case{3, 2, -1, {0xC8, 0x33, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00}},
             Case{300, -4, 1, {0xC8, 0x33, 0x00, 0x00, 0x01, 0x00, 0x00, 0xFC}},
         })
        EXPECT_EQ(bytesOf(pointWriteFrame(c.module, c.point, c.value)), c.frame)
            << c.module << "/" << c.point << "=" << c.value;
}

TEST_F(Writes, set_var_sends_frame_and_waits_for_answer) {
    watchBusy();
    EXPECT_EQ(SetVar(rig.ctx, 5, 300), 0);
    ASSERT_EQ(far.frames().size(), 1u);
    EXPECT_EQ(far.frames()[0], (Bytes{0xC8, 0x29, 0x05, 0x2C, 0x01, 0x00, 0x00, 0x23}));
    EXPECT_EQ(rig.loop.tickMs(), 50);  // returned when the answer was complete
    EXPECT_EQ(rig.port.bytesWaiting(), 0u);
    EXPECT_EQ(busyDuringWait, 1);
    EXPECT_EQ(rig.ctx.link.busy, 0);
}

TEST_F(Writes, set_var_out_of_range_throws_before_anything_is_sent) {
    struct Case {
        std::int32_t vnum, data;
    };
    for (const Case& c : {Case{-1, 0}, Case{256, 0}, Case{0, -1}, Case{0, 65536}, Case{70000, 70000}}) {
        EXPECT_THROW(SetVar(rig.ctx, c.vnum, c.data), std::overflow_error) << c.vnum << "=" << c.data;
        EXPECT_EQ(rig.ctx.link.busy, 0);
    }
    EXPECT_TRUE(far.frames().empty());
    EXPECT_EQ(rig.loop.tickMs(), 0);
}

TEST_F(Writes, unanswered_writes_wait_out_the_response_timeout_and_go_on) {
    far.ackByDefault = false;
    rig.ctx.link.responseTimeout = 2;
    EXPECT_EQ(SetVar(rig.ctx, 1, 1), 0);
    EXPECT_EQ(rig.loop.tickMs(), 2000);
    pointWrite(rig.ctx, 3, 2, 1);
    EXPECT_EQ(rig.loop.tickMs(), 4000);
    EXPECT_EQ(far.frames().size(), 2u);
    EXPECT_EQ(rig.ctx.link.busy, 0);
}

TEST_F(Writes, point_write_sends_even_unformable_value) {
    watchBusy();
    pointWrite(rig.ctx, 3, 2, 1000);
    ASSERT_EQ(far.frames().size(), 1u);
    EXPECT_EQ(far.frames()[0], (Bytes{0xC8, 0x33, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(busyDuringWait, 1);
    EXPECT_EQ(rig.ctx.link.busy, 0);
}

}  // namespace
}  // namespace varnel
