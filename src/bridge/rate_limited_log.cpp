#include "bridge/rate_limited_log.h"

namespace varnel::bridge {

void RateLimitedLog::flush() {
    if (!started_ || loop_.tickMs() - windowStart_ < windowMs_) return;
    if (suppressed_ > 0 && sink_)
        sink_(std::to_string(suppressed_) + " more like these in " + std::to_string(windowMs_ / 1000) +
              " s were not logged");
    started_ = false;
    lines_ = 0;
    suppressed_ = 0;
}

void RateLimitedLog::operator()(const std::string& line) {
    flush();
    if (!started_) {
        started_ = true;
        windowStart_ = loop_.tickMs();
    }
    if (lines_ >= maxLines_) {
        ++suppressed_;
        return;
    }
    ++lines_;
    if (sink_) sink_(line);
}

}  // namespace varnel::bridge
