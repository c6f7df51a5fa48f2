// The 264-byte replies to block reads: layout, CRC and the contents of each buffer.
#include <gtest/gtest.h>

#include <tuple>

#include "link/frames.h"
#include "sim_tap.h"

namespace varnel::sim::test {
namespace {

ControllerConfig configured() {
    ControllerConfig cfg;
    cfg.modules = {
        {1, ModuleType::Secu16}, {2, ModuleType::Secu16I}, {6, ModuleType::Secu16Ir}, {128, ModuleType::Relay08}};
    cfg.irSize = 0x1F8;  // 504
    cfg.variableSelector = {0x12, 0x34};
    cfg.variables[0] = 0x0102;
    cfg.variables[5] = 300;
    cfg.variables[127] = 0xFFFF;
    cfg.io[0] = 0x05;    // module 1, points 0 and 2 set
    cfg.io[255] = 0x80;  // module 128, point 15 set
    return cfg;
}

TEST(BlockReads, reply_echoes_selector_carries_buffer_and_crc_low_byte_first) {
    struct Case {
        std::string request;
        std::vector<std::pair<int, std::uint8_t>> bytes;  // data index -> value
    };
    const Case cases[] = {
        {"2A 00 00 8F B7 00 2D EB", {{12, 0x12}, {13, 0x34}, {0, 0}}},                         // first parameter block
        {"2A 00 00 00 7F 00 A5 7D", {{244, 0xF8}, {245, 0x01}}},                               // second parameter block
        {"2A 00 00 01 B0 00 94 27", {{0, 11}, {1, 12}, {2, 0}, {5, 6}, {127, 13}, {128, 0}}},  // module table
        {"2A 00 00 8D B5 00 25 E9", {{0, 0x05}, {1, 0}, {255, 0x80}}},                         // I/O
        {"2A 00 00 12 34 00 59 48", {{0, 0x02}, {1, 0x01}, {10, 0x2C}, {11, 0x01}, {254, 0xFF}, {255, 0xFF}}},
        {"2A 00 00 8B B4 00 A4 78", {{0, 0}, {1, 0}}},   // value buffer
        {"2A 00 00 8E B6 00 29 EA", {{0, 0}, {12, 0}}},  // unknown buffers read as zeros
    };
    Tap t(configured());
    for (const auto& c : cases) {
        const auto request = hex(c.request);
        t.send(request);
        const auto r = t.take();
        ASSERT_EQ(r.size(), 264u);
        EXPECT_EQ(r[0], 0x2A);
        EXPECT_EQ(r[3], request[3]) << c.request;
        EXPECT_EQ(r[4], request[4]) << c.request;
        EXPECT_TRUE(blockReplyCrcOk(r)) << c.request;
        for (const auto& [i, v] : c.bytes) EXPECT_EQ(r[6 + i], v) << c.request << " data byte " << i;
    }
}

TEST(BlockReads, default_variable_selector_is_reported_and_served) {
    Tap t;
    t.sim.setVariable(3, 0xABCD);
    t.send("2A 00 00 8F B7 00 2D EB");
    const auto block1 = t.take();
    t.sim.feed(blockReadFrame(block1[6 + 12], block1[6 + 13]));
    const auto vars = t.take();
    ASSERT_EQ(vars.size(), 264u);
    EXPECT_EQ(vars[6 + 6], 0xCD);
    EXPECT_EQ(vars[6 + 7], 0xAB);
}

TEST(BlockReads, variable_selector_cannot_shadow_a_fixed_buffer) {
    Memory m(ControllerConfig{});
    EXPECT_FALSE(m.setVariableSelector(kIoBuffer));
    EXPECT_EQ(m.variableSelector(), kDefaultVariableSelector);
    EXPECT_TRUE(m.setVariableSelector({0x01, 0x02}));
}

TEST(BlockReads, request_fills_value_buffer_for_every_module_and_keeps_it_until_the_next) {
    const std::tuple<std::string, std::uint16_t, std::uint16_t> cases[] = {
        {"C8 1F 0C 00 00 00 00 F3", 0x0155, 7},   // analog channel 2
        {"C8 1F 00 00 00 00 00 E7", 0x1234, 0},   // parameter 1
        {"C8 1F 01 00 00 00 00 E8", 0, 0xBEEF}};  // parameter 2
    ControllerConfig cfg;
    cfg.analog[{3, 2}] = 0x0155;
    cfg.analog[{128, 2}] = 7;
    cfg.parameters[{3, 1}] = 0x1234;
    cfg.parameters[{128, 2}] = 0xBEEF;
    Tap t(cfg);
    for (const auto& [request, module3, module128] : cases) {
        t.send(request);
        EXPECT_EQ(t.take(), kAck);
        t.sim.memory().setAnalog(3, 2, 1);  // a reading is taken when requested, not when read
        t.send("2A 00 00 8B B4 00 A4 78");
        const auto r = t.take();
        ASSERT_EQ(r.size(), 264u);
        EXPECT_EQ(r[6 + 4] | r[6 + 5] << 8, module3) << request;
        EXPECT_EQ(r[6 + 254] | r[6 + 255] << 8, module128) << request;
        EXPECT_EQ(r[6 + 0] | r[6 + 1] << 8, 0) << "module 1 has no such value";
        t.sim.memory().setAnalog(3, 2, 0x0155);
    }
}

TEST(BlockReads, reply_echoes_request_bytes_1_2_and_5) {
    Tap t;
    t.send("2A 11 00 8D B5 22 8F C2");
    const auto r = t.take();
    ASSERT_EQ(r.size(), 264u);
    EXPECT_EQ(toHex(std::span(r).first(6)), "2A 11 00 8D B5 22");
    EXPECT_TRUE(blockReplyCrcOk(r));
}

}  // namespace
}  // namespace varnel::sim::test
