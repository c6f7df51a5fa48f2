#include <gtest/gtest.h>

#include "support/stopwatch.h"

namespace varnel {
namespace {

struct Durations {
    std::vector<int> ms;
    int count, last, avg, max, min;
};

class StopWatchStats : public ::testing::TestWithParam<Durations> {};

TEST_P(StopWatchStats, accumulate) {
    std::int64_t now = 1000;
    StopWatch sw([&] { return now; });
    for (int d : GetParam().ms) {
        sw.StartTime();
        now += d;
        sw.StopTime();
    }
    const auto& p = GetParam();
    EXPECT_EQ(sw.Count(), p.count);
    EXPECT_EQ(sw.Last(), p.last);
    EXPECT_EQ(sw.Average(), p.avg);
    EXPECT_EQ(sw.Max(), p.max);
    EXPECT_EQ(sw.Min(), p.min);
    EXPECT_EQ(sw.Report(), "Count=" + std::to_string(p.count) + ", Last=" + std::to_string(p.last) +
                               ", Avg=" + std::to_string(p.avg) + ", Max=" + std::to_string(p.max) +
                               ", Min=" + std::to_string(p.min));
}

INSTANTIATE_TEST_SUITE_P(Cases, StopWatchStats,
                         ::testing::Values(Durations{{}, 0, 0, 0, 0, 0}, Durations{{10, 30, 20}, 3, 20, 20, 30, 10},
                                           Durations{{1, 2}, 2, 2, 2, 2, 1}, Durations{{1, 4}, 2, 4, 2, 4, 1},
                                           Durations{{5}, 1, 5, 5, 5, 5}));

TEST(StopWatch, tick_wrap_measures_modulo_2_32) {
    std::int64_t now = 0xFFFFFFF0LL;
    StopWatch sw([&] { return now; });
    sw.StartTime();
    now += 0x20;
    sw.StopTime();
    EXPECT_EQ(sw.Last(), 0x20);
}

TEST(StopWatch, total_overflow_throws_and_keeps_stats) {
    std::int64_t now = 0;
    StopWatch sw([&] { return now; });
    sw.StartTime();
    now += 0x7FFFFFF0;
    sw.StopTime();
    sw.StartTime();
    now += 0x7FFFFFF0;
    EXPECT_THROW(sw.StopTime(), std::overflow_error);
    EXPECT_EQ(sw.Count(), 1);
}

}  // namespace
}  // namespace varnel
