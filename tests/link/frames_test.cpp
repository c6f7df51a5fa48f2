#include <gtest/gtest.h>

#include <vector>

#include "link/frames.h"

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(BlockRead, frames_carry_crc_high_byte_first) {
    struct Case {
        std::uint8_t sel0, sel1;
        Bytes frame;
    };
    for (const Case& c : {Case{0x8F, 0xB7, {0x2A, 0, 0, 0x8F, 0xB7, 0, 0x2D, 0xEB}},
                          Case{0x00, 0x7F, {0x2A, 0, 0, 0x00, 0x7F, 0, 0xA5, 0x7D}},
                          Case{0x01, 0xB0, {0x2A, 0, 0, 0x01, 0xB0, 0, 0x94, 0x27}},
                          Case{0x8D, 0xB5, {0x2A, 0, 0, 0x8D, 0xB5, 0, 0x25, 0xE9}},
                          Case{0x8B, 0xB4, {0x2A, 0, 0, 0x8B, 0xB4, 0, 0xA4, 0x78}}}) {
        const auto f = blockReadFrame(c.sel0, c.sel1);
        EXPECT_EQ(Bytes(f.begin(), f.end()), c.frame);
    }
}

TEST(BlockCrc, known_check_value_and_empty_count) {
    const Bytes check{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(blockCrc(check, check.size()), 0x29B1);  // CCITT-FALSE check value
    EXPECT_EQ(blockCrc(check, 0), 0xFFFF);
}

TEST(BlockReply, crc_is_read_low_byte_first) {
    Bytes reply(264, 0);
    reply[0] = 0x2A;
    reply[10] = 0x55;
    const auto crc = blockCrc(reply, 262);
    reply[262] = static_cast<std::uint8_t>(crc & 0xFF);
    reply[263] = static_cast<std::uint8_t>(crc >> 8);
    EXPECT_TRUE(blockReplyCrcOk(reply));
    std::swap(reply[262], reply[263]);
    EXPECT_EQ(blockReplyCrcOk(reply), (crc & 0xFF) == (crc >> 8));
    EXPECT_FALSE(blockReplyCrcOk(Bytes(100, 0)));
}

TEST(Checksums, command_and_long_frames) {
    struct Case {
        Bytes frame;  // with its check byte last
    };
    for (const Case& c :
         {Case{{0xC8, 0x29, 0x05, 0x2C, 0x01, 0, 0, 0x23}}, Case{{0xC8, 0x33, 0x03, 0x02, 0x01, 0, 0, 0x01}},
          Case{{0xC8, 0x1F, 0x0C, 0, 0, 0, 0, 0xF3}}, Case{{0xC8, 0x28, 0x06, 0x00, 0x01, 0, 0, 0xF7}},
          Case{{0xC8, 0x5A, 0x2C, 0x01, 0, 0, 0, 0x4F}}}) {
        EXPECT_EQ(Checksum7(c.frame), c.frame[7]);
        const auto built = commandFrame(c.frame[1], c.frame[2], c.frame[3], c.frame[4], c.frame[5], c.frame[6]);
        EXPECT_EQ(Bytes(built.begin(), built.end()), c.frame);
    }
    Bytes longFrame(50, 255);
    EXPECT_EQ(Checksum49(longFrame), (49 * 255) % 256);  // a 16-bit sum of 49 x 255 does not overflow
    EXPECT_THROW(Checksum7(Bytes(6, 0)), std::out_of_range);
    EXPECT_THROW(Checksum49(Bytes(48, 0)), std::out_of_range);
}

}  // namespace
}  // namespace varnel
