#include "sim/scheduler.h"

#include <algorithm>
#include <utility>

namespace varnel::sim {

void ManualScheduler::after(std::int64_t delayUs, std::function<void()> fn) {
    queue_.emplace(Key{nowUs_ + std::max<std::int64_t>(delayUs, 0), nextSeq_++}, std::move(fn));
}

void ManualScheduler::advanceUs(std::int64_t us) {
    const std::int64_t target = nowUs_ + std::max<std::int64_t>(us, 0);
    while (!queue_.empty() && queue_.begin()->first.due <= target) {
        auto node = queue_.extract(queue_.begin());
        nowUs_ = std::max(nowUs_, node.key().due);
        node.mapped()();
    }
    nowUs_ = target;
}

void ManualScheduler::handOver(Scheduler& other) {
    auto waiting = std::exchange(queue_, {});
    for (auto& [key, fn] : waiting) other.after(key.due - nowUs_, std::move(fn));
}

}  // namespace varnel::sim
