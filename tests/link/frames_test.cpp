#include <gtest/gtest.h>

#include <vector>

#include "link/frames.h"

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Frames, known_vectors_of_each_frame_kind_and_its_check) {
    for (const Bytes& want :
         {Bytes{0x2A, 0, 0, 0x8F, 0xB7, 0, 0x2D, 0xEB}, Bytes{0x2A, 0, 0, 0x00, 0x7F, 0, 0xA5, 0x7D}}) {
        const auto f = blockReadFrame(want[3], want[4]);  // CRC high byte first
        EXPECT_EQ(Bytes(f.begin(), f.end()), want);
    }
    for (const Bytes& want :
         {Bytes{0xC8, 0x29, 0x05, 0x2C, 0x01, 0, 0, 0x23}, Bytes{0xC8, 0x1F, 0x0C, 0, 0, 0, 0, 0xF3},
          Bytes{0xC8, 0x5A, 0x2C, 0x01, 0, 0, 0, 0x4F}}) {
        EXPECT_EQ(Checksum7(want), want[7]);
        const auto f = commandFrame(want[1], want[2], want[3], want[4], want[5], want[6]);
        EXPECT_EQ(Bytes(f.begin(), f.end()), want);
    }
    const Bytes check{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(blockCrc(check, check.size()), 0x29B1);  // CCITT-FALSE check value
    EXPECT_EQ(blockCrc(check, 0), 0xFFFF);
    EXPECT_EQ(Checksum49(Bytes(50, 255)), 0xCF);  // 49 x 255 does not overflow the sum
    EXPECT_THROW(Checksum7(Bytes(6, 0)), std::out_of_range);
    EXPECT_THROW(Checksum49(Bytes(48, 0)), std::out_of_range);
}

TEST(Frames, block_reply_carries_its_crc_low_byte_first) {
    Bytes reply(264, 0);
    reply[0] = 0x2A;
    reply[10] = 0x55;
    reply[262] = 0x06;
    reply[263] = 0x2F;
    EXPECT_TRUE(blockReplyCrcOk(reply));
    std::swap(reply[262], reply[263]);
    EXPECT_FALSE(blockReplyCrcOk(reply));
    EXPECT_FALSE(blockReplyCrcOk(Bytes(100, 0)));
}

}  // namespace
}  // namespace varnel
