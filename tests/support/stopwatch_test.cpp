#include <gtest/gtest.h>

#include "support/stopwatch.h"

namespace varnel {
namespace {

TEST(StopWatch, accumulates_count_last_average_max_and_min) {
    const struct {
        std::vector<int> ms;
        const char* report;
    } cases[] = {
        {{10, 30, 20}, "Count=3, Last=20, Avg=20, Max=30, Min=10"},
        {{1, 2}, "Count=2, Last=2, Avg=2, Max=2, Min=1"},  // halves round to even: 1.5 up,
        {{1, 4}, "Count=2, Last=4, Avg=2, Max=4, Min=1"},  // 2.5 down
    };
    for (const auto& c : cases) {
        std::int64_t now = 1000;
        StopWatch sw([&] { return now; });
        for (int d : c.ms) {
            sw.StartTime();
            now += d;
            sw.StopTime();
        }
        EXPECT_EQ(sw.Report(), c.report);
    }
}

TEST(StopWatch, tick_wrap_measures_modulo_2_32) {
    std::int64_t now = 0xFFFFFFF0LL;
    StopWatch sw([&] { return now; });
    sw.StartTime();
    now += 0x20;
    sw.StopTime();
    EXPECT_EQ(sw.Last(), 0x20);
}

}  // namespace
}  // namespace varnel
