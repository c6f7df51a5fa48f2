#pragma once
// Duration statistics in milliseconds over a tick source.
#include <cstdint>
#include <functional>
#include <string>

namespace varnel {

class StopWatch {
public:
    explicit StopWatch(std::function<std::int64_t()> tickMs) : tick_(std::move(tickMs)) {}

    [[nodiscard]] std::int32_t Average() const;
    [[nodiscard]] std::int32_t Min() const { return min_; }
    [[nodiscard]] std::int32_t Max() const { return max_; }
    [[nodiscard]] std::int32_t Last() const { return last_; }
    [[nodiscard]] std::int32_t Count() const { return count_; }
    [[nodiscard]] std::string Report() const;
    void StartTime();
    // Throws std::overflow_error when the duration or the total leaves 32 bits.
    void StopTime();

private:
    std::function<std::int64_t()> tick_;
    std::int32_t start_ = 0;
    std::int32_t count_ = 0;
    std::int32_t total_ = 0;
    std::int32_t min_ = 0;
    std::int32_t max_ = 0;
    std::int32_t last_ = 0;
};

}  // namespace varnel
