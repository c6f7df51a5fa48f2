#pragma once
// A state that goes on (a lost link, a broker that is down) is logged when it begins
// and when it ends; in between only reminders, ever further apart, so that a day of
// outage is a handful of lines rather than one per try.
#include <algorithm>
#include <cstdint>
#include <string>

namespace varnel {

class Reminder {
public:
    static constexpr std::int64_t kFirstMs = std::int64_t{10} * 60'000;
    static constexpr std::int64_t kLongestMs = std::int64_t{24} * 60 * 60'000;

    void begin(std::int64_t nowMs) {
        sinceMs_ = nowMs;
        nextMs_ = nowMs + kFirstMs;
        gapMs_ = kFirstMs;
    }
    // True once each time a reminder is due; the next comes twice as late.
    bool due(std::int64_t nowMs) {
        if (nowMs < nextMs_) return false;
        gapMs_ = std::min(gapMs_ * 2, kLongestMs);
        nextMs_ = nowMs + gapMs_;
        return true;
    }
    // How long the state has lasted: "10 min", "3 h", "2 days".
    [[nodiscard]] std::string lasted(std::int64_t nowMs) const {
        const std::int64_t minutes = (nowMs - sinceMs_) / 60'000;
        if (minutes < 120) return std::to_string(minutes) + " min";
        if (minutes < std::int64_t{48} * 60) return std::to_string(minutes / 60) + " h";
        return std::to_string(minutes / (std::int64_t{24} * 60)) + " days";
    }

private:
    std::int64_t sinceMs_ = 0;
    std::int64_t nextMs_ = 0;
    std::int64_t gapMs_ = kFirstMs;
};

}  // namespace varnel
