// The wire side of the polls, their retries and refusals are shown by the scenario
// commands_block_reads; here: a stored point never lands outside the I/O image.
#include "commands/block_reads.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "rig.h"

namespace varnel {
namespace {

TEST(IoImage, point_store_sets_bit_for_one_clears_it_otherwise_and_ignores_points_off_the_image) {
    test::Rig rig;
    auto& io = rig.ctx.images.io;
    for (const auto& [value, lookup] : {std::pair{1, 0}, std::pair{0, 1}, std::pair{2, 1}, std::pair{-1, 1}}) {
        io.fill(0);
        ioPointStore(rig.ctx, 7, 10, 1);
        ioPointStore(rig.ctx, 7, 10, value);
        EXPECT_EQ(ioPointLookup(rig.ctx, 7, 10), lookup) << value;
        EXPECT_EQ(io[12], 0) << "points 0..7 of module 7 untouched";
    }
    io.fill(0);
    for (auto [module, point] :
         {std::pair{0, 0}, std::pair{129, 0}, std::pair{-1, 3}, std::pair{5, 16}, std::pair{5, -1}})
        ioPointStore(rig.ctx, module, point, 1);
    EXPECT_TRUE(std::all_of(io.begin(), io.end(), [](auto b) { return b == 0; }));
    ioPointStore(rig.ctx, 1, 0, 1);
    ioPointStore(rig.ctx, 128, 15, 1);
    EXPECT_EQ(io[0], 0x01);
    EXPECT_EQ(io[255], 0x80);
}

}  // namespace
}  // namespace varnel
