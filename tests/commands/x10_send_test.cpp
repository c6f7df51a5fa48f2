#include "commands/x10_send.h"
#include "command_rig.h"

namespace varnel {
namespace {

using test::Bytes;

constexpr std::array<std::int16_t, 16> kPresetDim{12, 13, 14, 15, 2, 3, 0, 1, 4, 5, 6, 7, 10, 11, 8, 9};

// A frame without its checksum byte; the literal frames below show the checksum.
Bytes frame(std::uint8_t code, std::uint8_t b2, std::uint8_t b3, std::uint8_t b4, std::uint8_t b5 = 0) {
    return {0xC8, code, b2, b3, b4, b5, 0x00};
}
Bytes address(std::uint8_t house, std::uint8_t unit) {
    return frame(0x37, house, static_cast<std::uint8_t>(unit - 1), 1);
}
Bytes function(std::uint8_t houseOrLevel, std::uint8_t code, std::uint8_t value = 1) {
    return frame(0x37, houseOrLevel, code, value);
}
Bytes extended(std::uint8_t house, std::uint8_t unit, std::uint8_t d1, std::uint8_t d2) {
    return frame(0x61, house, static_cast<std::uint8_t>(unit - 1), d1, d2);
}

template <typename Frames>
std::vector<Bytes> withoutChecksums(const Frames& frames) {
    std::vector<Bytes> out;
    for (const auto& f : frames) out.emplace_back(f.begin(), f.end() - 1);
    return out;
}

struct PlanCase {
    const char* what;
    const char* house;
    const char* device;
    std::int16_t command, brightness;
    std::vector<Bytes> frames;
    std::int16_t data1 = 0, data2 = 0;
};

void expectPlans(const std::vector<PlanCase>& cases) {
    for (const PlanCase& c : cases) {
        const auto plan = planX10(c.house, c.device, c.command, c.brightness, c.data1, c.data2, kPresetDim);
        ASSERT_TRUE(plan.has_value()) << c.what;
        EXPECT_EQ(withoutChecksums(plan->frames), c.frames) << c.what;
    }
}

TEST(X10Plan, on_off_address_each_listed_unit_dim_and_bright_send_steps_of_22) {
    const auto a5 = planX10("A", "5", 2, 0, 0, 0, kPresetDim);
    const auto p16 = planX10("P", "16", 7, 0, 0x31, 0xFF, kPresetDim);
    ASSERT_TRUE(a5 && p16);
    EXPECT_EQ(test::bytes(a5->frames.at(0)), (Bytes{0xC8, 0x37, 0x00, 0x04, 0x01, 0x00, 0x00, 0x04}));
    EXPECT_EQ(test::bytes(a5->frames.at(1)), (Bytes{0xC8, 0x37, 0x00, 0x12, 0x01, 0x00, 0x00, 0x12}));
    EXPECT_EQ(test::bytes(p16->frames.at(0)), (Bytes{0xC8, 0x61, 0x0F, 0x0F, 0x31, 0xFF, 0x00, 0x77}));
    expectPlans({
        {"B1+3 off", "B", "1+3", 3, 0, {address(1, 1), address(1, 3), function(1, 0x13)}},
        {"no device: function only", "A", "", 3, 0, {function(0, 0x13)}},
        {"units outside 1..16 skipped", "A", "0+17+3", 2, 0, {address(0, 3), function(0, 0x12)}},
        {"house Q still goes out", "Q", "1", 2, 0, {address(16, 1), function(16, 0x12)}},
        {"dim 50", "A", "1", 4, 50, {address(0, 1), function(0, 0x14, 11)}},
        {"bright 100", "A", "1", 5, 100, {address(0, 1), function(0, 0x15, 22)}},
        {"5.5 rounds to even", "A", "1", 4, 25, {address(0, 1), function(0, 0x14, 6)}},
        {"too bright for a byte", "A", "1", 5, 2000, {address(0, 1), function(0, 0x15, 0)}},
    });
}

TEST(X10Plan, other_commands_address_one_unit_and_extended_ones_each_unit_until_empty_field) {
    expectPlans({
        {"all units off", "D", "1", 0, 0, {address(3, 1), function(3, 16)}},
        {"command 18", "D", "1", 18, 0, {address(3, 1), function(3, 33)}},
        {"no list here", "D", "1+3", 1, 0, {address(3, 1), function(3, 17)}},
        {"unit 0 goes out as 0", "D", "0", 6, 0, {frame(0x37, 3, 0, 1), function(3, 22)}},
        {"two units", "A", "3+5", 7, 0, {extended(0, 3, 0x31, 0x42), extended(0, 5, 0x31, 0x42)}, 0x31, 0x42},
        {"stops at empty field", "A", "3++5", 7, 0, {extended(0, 3, 1, 2)}, 1, 2},
        {"no device", "A", "", 7, 0, {}, 1, 2},
        {"data off a byte", "A", "3", 7, 0, {extended(0, 3, 0, 0)}, -1, 256},
    });
}

TEST(X10Plan, preset_dim_puts_level_code_in_house_byte_and_rewrites_command) {
    struct Case {
        std::int16_t brightness;
        std::int16_t command, reduced;
        std::uint8_t level;
    };
    for (const Case& c : {Case{20, 31, 4, 2}, Case{5, 26, 5, 3}, Case{16, 31, 0, 12}, Case{40, 31, 15, 9}}) {
        const auto plan = planX10("C", "2+4", 10, c.brightness, 0, 0, kPresetDim);
        ASSERT_TRUE(plan.has_value());
        EXPECT_EQ(
            withoutChecksums(plan->frames),
            (std::vector<Bytes>{address(2, 2), address(2, 4), function(c.level, static_cast<std::uint8_t>(c.command))}))
            << c.brightness;
        EXPECT_EQ(plan->command, c.command) << c.brightness;
        EXPECT_EQ(plan->brightness, c.reduced) << c.brightness;
    }
}

TEST(X10Plan, houses_that_are_no_x10_house_and_command_minus_one_send_nothing) {
    for (const char* house : {"R", "[", "", "\xC1"})
        EXPECT_FALSE(planX10(house, "1", 2, 0, 0, 0, kPresetDim).has_value()) << house;
    expectPlans({{"command -1", "A", "5", -1, 0, {}}});
}

// ---- on the wire -----------------------------------------------------------------

struct X10Send : test::CommandTest {
    X10Send() { rig.ctx.controller.presetDim = kPresetDim; }
};

TEST_F(X10Send, each_frame_waits_for_its_answer_under_the_send_flag) {
    far.delayUs = 20'000;
    std::vector<std::int16_t> flagSeen, busySeen;
    for (std::int64_t at : {10'000, 30'000})
        rig.loop.postUs(at, [&] {
            flagSeen.push_back(rig.ctx.gate.x10Sending);
            busySeen.push_back(rig.ctx.gate.busy);
        });
    std::int16_t command = 10, brightness = 20;
    EXPECT_EQ(x10Send(rig.ctx, "C", "2", command, brightness, 0, 0), 0);
    EXPECT_EQ(withoutChecksums(far.frames()), (std::vector<Bytes>{address(2, 2), function(2, 31)}));
    EXPECT_EQ(rig.loop.tickMs(), 40);  // the second frame left only after the first answer
    EXPECT_EQ(flagSeen, (std::vector<std::int16_t>{1, 1}));
    EXPECT_EQ(busySeen, (std::vector<std::int16_t>{0, 0}));
    EXPECT_EQ(rig.ctx.gate.x10Sending, 0);
    EXPECT_EQ(command, 31);
    EXPECT_EQ(brightness, 4);
}

TEST_F(X10Send, unanswered_frames_each_wait_the_response_timeout_and_house_r_sends_nothing) {
    far.ackByDefault = false;
    std::int16_t command = 10, brightness = 20;
    EXPECT_EQ(x10Send(rig.ctx, "R", "1", command, brightness, 0, 0), 0);
    EXPECT_EQ((std::pair{command, brightness}), (std::pair<std::int16_t, std::int16_t>{10, 20}));
    command = 2;
    x10Send(rig.ctx, "A", "1+2", command, brightness, 0, 0);
    EXPECT_EQ(far.frames().size(), 3u);
    EXPECT_EQ(rig.loop.tickMs(), 3 * 4000);
    EXPECT_EQ(rig.ctx.gate.x10Sending, 0);
    EXPECT_EQ(command, 2);
}

}  // namespace
}  // namespace varnel
