#include "support/stopwatch.h"

#include <stdexcept>

#include "support/text.h"

namespace varnel {

std::int32_t StopWatch::Average() const {
    if (count_ == 0) return 0;
    return static_cast<std::int32_t>(roundEven(static_cast<double>(total_) / count_));
}

std::string StopWatch::Report() const {
    return "Count=" + std::to_string(count_) + ", Last=" + std::to_string(last_) +
           ", Avg=" + std::to_string(Average()) + ", Max=" + std::to_string(max_) + ", Min=" + std::to_string(min_);
}

void StopWatch::StartTime() { start_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(tick_())); }

void StopWatch::StopTime() {
    // The tick count is 32 bits and wraps; the difference is taken modulo 2^32.
    const auto now = static_cast<std::uint32_t>(tick_());
    const auto duration = static_cast<std::int32_t>(now - static_cast<std::uint32_t>(start_));
    std::int64_t total = std::int64_t{total_} + duration;
    if (total > INT32_MAX || total < INT32_MIN || count_ == INT32_MAX) throw std::overflow_error("Overflow");
    last_ = duration;
    ++count_;
    total_ = static_cast<std::int32_t>(total);
    if (count_ == 1) {
        min_ = max_ = duration;
    } else {
        if (duration < min_) min_ = duration;
        if (duration > max_) max_ = duration;
    }
}

}  // namespace varnel
