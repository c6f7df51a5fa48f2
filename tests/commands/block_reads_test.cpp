#include <algorithm>
#include <ostream>

#include "command_rig.h"
#include "commands/block_reads.h"

namespace varnel {
namespace {

using test::Bytes;
using test::ScriptedController;
using Polls = test::CommandTest;

std::array<std::uint8_t, 256> pattern() {
    std::array<std::uint8_t, 256> d{};
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return d;
}

TEST_F(Polls, io_poll_sends_fixed_frame_and_fills_image) {
    const auto data = pattern();
    far.reply(ScriptedController::blockReply(0x8D, 0xB5, data));
    rig.ctx.controller.linkFailure = 1;
    EXPECT_TRUE(PollIO(rig.ctx));
    EXPECT_EQ(far.frames(), (std::vector<Bytes>{{0x2A, 0x00, 0x00, 0x8D, 0xB5, 0x00, 0x25, 0xE9}}));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), rig.ctx.images.io.begin()));
    EXPECT_EQ(rig.ctx.images.io[256], 0);
    EXPECT_EQ(rig.ctx.controller.linkFailure, 0);
    EXPECT_EQ(rig.ctx.gate.busy, 0);
}

TEST_F(Polls, var_poll_sends_learned_selector_and_reads_unsigned_low_byte_first) {
    std::array<std::uint8_t, 256> data{};
    data[0] = 0x2C, data[1] = 0x01, data[2] = 0xFF, data[3] = 0xFF, data[254] = 0x01, data[255] = 0x80;
    rig.ctx.controller.connected = false;  // only the I/O poll waits for the controller
    EXPECT_FALSE(PollIO(rig.ctx));
    far.reply(ScriptedController::blockReply(0x12, 0x34, data));
    EXPECT_TRUE(PollVars(rig.ctx));
    EXPECT_EQ(far.frames(), (std::vector<Bytes>{{0x2A, 0x00, 0x00, 0x12, 0x34, 0x00, 0x59, 0x48}}));
    const auto& v = rig.ctx.images.vars;
    EXPECT_EQ((std::vector<std::int32_t>{v[0], v[1], v[2], v[127], v[128]}),
              (std::vector<std::int32_t>{300, 65535, 0, 32769, 0}));
}

// ---- behaviour both polls share, and where they differ ---------------------

struct PollKind {
    const char* name;
    bool (*poll)(CommandLayer&);
    std::uint8_t sel0, sel1;
    bool clearsLinkFailure;
};
void PrintTo(const PollKind& k, std::ostream* os) { *os << k.name; }

const PollKind kIo{"PollIO", PollIO, 0x8D, 0xB5, true};
const PollKind kVars{"PollVars", PollVars, 0x12, 0x34, false};

struct EachPoll : Polls, ::testing::WithParamInterface<PollKind> {
    bool poll() { return GetParam().poll(rig.ctx); }
    Bytes good(std::span<const std::uint8_t> data = {}) const {
        return ScriptedController::blockReply(GetParam().sel0, GetParam().sel1, data);
    }
    // Image contents that a refused reply must leave alone.
    void markImages() {
        rig.ctx.images.io.fill(0xA5);
        rig.ctx.images.vars.fill(4242);
    }
    bool imagesMarked() const {
        const auto& images = rig.ctx.images;
        return images.io[0] == 0xA5 && images.io[255] == 0xA5 && images.vars[0] == 4242 && images.vars[127] == 4242;
    }
};

TEST_P(EachPoll, returns_at_once_while_busy) {
    rig.ctx.gate.busy = 1;
    EXPECT_FALSE(poll());
    EXPECT_TRUE(far.frames().empty());
    EXPECT_EQ(rig.ctx.gate.busy, 1);
}

TEST_P(EachPoll, retries_once_then_gives_up_and_marks_link_failed) {
    far.silent().reply(good(pattern()));
    EXPECT_TRUE(poll());
    ASSERT_EQ(far.frames().size(), 2u);
    EXPECT_EQ(far.frames()[0], far.frames()[1]);
    EXPECT_EQ(rig.loop.tickMs(), 4000);

    markImages();
    far.silent(2);
    EXPECT_FALSE(poll());
    EXPECT_EQ(far.frames().size(), 4u);
    EXPECT_EQ(rig.loop.tickMs(), 12000);
    EXPECT_EQ(rig.ctx.controller.linkFailure, 1);
    EXPECT_EQ(rig.ctx.gate.busy, 0);
    EXPECT_TRUE(imagesMarked());
    EXPECT_TRUE(logged("Warning").empty());
}

TEST_P(EachPoll, bad_crc_refuses_data_wrong_buffer_echo_ignores_it_but_succeeds) {
    markImages();
    rig.ctx.controller.linkFailure = 1;
    rig.ctx.switches.logComms = 1;
    far.reply(ScriptedController::withBadCrc(good(pattern())));
    EXPECT_FALSE(poll());
    EXPECT_EQ(far.frames().size(), 1u);  // a bad answer is not retried
    EXPECT_EQ(rig.ctx.controller.linkFailure, 1);
    far.reply(ScriptedController::blockReply(GetParam().sel1, GetParam().sel0, pattern()));
    EXPECT_TRUE(poll());
    EXPECT_TRUE(imagesMarked());
    EXPECT_EQ(rig.ctx.controller.linkFailure, GetParam().clearsLinkFailure ? 0 : 1);
    EXPECT_EQ(rig.ctx.gate.busy, 0);
    EXPECT_NE(test::commsLogLines(rig).back().find("wrong buffer"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(BlockReads, EachPoll, ::testing::Values(kIo, kVars),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- answers from the images -----------------------------------------------

TEST_F(Polls, unit_and_var_answers_stay_inside_their_tables) {
    rig.ctx.controller.moduleTypes[0] = 11;
    rig.ctx.controller.moduleTypes[127] = 13;
    rig.ctx.controller.moduleTypes[128] = 99;  // never a real address
    const std::pair<std::int16_t, std::optional<std::int16_t>> units[] = {
        {0, 11}, {1, 0}, {127, 13}, {128, 0}, {32767, 0}, {-1, std::nullopt}, {-32768, std::nullopt}};
    for (const auto& [unit, type] : units) EXPECT_EQ(GetUnit(rig.ctx, unit), type) << unit;

    rig.ctx.images.vars[127] = 63500;
    EXPECT_EQ(GetVar(rig.ctx, 127), 63500);
    EXPECT_EQ(GetVar(rig.ctx, 128), 0);
    for (std::int16_t bad : {129, -1, 32767}) EXPECT_THROW(GetVar(rig.ctx, bad), std::out_of_range) << bad;
}

TEST_F(Polls, digital_point_reads_one_for_clear_bit) {
    auto& io = rig.ctx.images.io;
    io[4] = 0x20;    // module 3, point 5
    io[5] = 0x01;    // module 3, point 8
    io[255] = 0x80;  // module 128, point 15
    struct Case {
        std::int16_t unit, point, value;
    };
    for (const Case& c : {Case{3, 5, 0}, Case{3, 4, 1}, Case{3, 8, 0}, Case{128, 15, 0}, Case{129, 0, 0},
                          Case{3, 16, 1}, Case{3, -1, 1}, Case{0, 0, 1}})
        EXPECT_EQ(GetPoint(rig.ctx, c.unit, c.point, true), c.value) << c.unit << "/" << c.point;
    EXPECT_TRUE(far.frames().empty());
}

TEST_F(Polls, point_store_sets_bit_for_one_clears_it_otherwise_and_ignores_points_off_the_image) {
    for (const auto& [value, lookup] : {std::pair{1, 0}, std::pair{0, 1}, std::pair{2, 1}, std::pair{-1, 1}}) {
        rig.ctx.images.io.fill(0);
        ioPointStore(rig.ctx, 7, 10, 1);
        ioPointStore(rig.ctx, 7, 10, value);
        EXPECT_EQ(ioPointLookup(rig.ctx, 7, 10), lookup) << value;
        EXPECT_EQ(rig.ctx.images.io[12], 0) << "points 0..7 of module 7 untouched";
    }
    rig.ctx.images.io.fill(0);
    for (auto [module, point] :
         {std::pair{0, 0}, std::pair{129, 0}, std::pair{-1, 3}, std::pair{5, 16}, std::pair{5, -1}})
        ioPointStore(rig.ctx, module, point, 1);
    EXPECT_TRUE(std::all_of(rig.ctx.images.io.begin(), rig.ctx.images.io.end(), [](auto b) { return b == 0; }));
    ioPointStore(rig.ctx, 1, 0, 1);
    ioPointStore(rig.ctx, 128, 15, 1);
    EXPECT_EQ(rig.ctx.images.io[0], 0x01);
    EXPECT_EQ(rig.ctx.images.io[255], 0x80);
}

}  // namespace
}  // namespace varnel
