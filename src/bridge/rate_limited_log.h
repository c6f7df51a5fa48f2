#pragma once
// Log lines about things from outside (refused messages, dropped commands): a flood
// of them must not flood the log, yet the log must say that more came.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/event_loop.h"

namespace varnel::bridge {

class RateLimitedLog {
public:
    using Sink = std::function<void(const std::string&)>;
    RateLimitedLog(const EventLoop& loop, Sink sink, int maxLines, int windowMs)
        : loop_(loop), sink_(std::move(sink)), maxLines_(maxLines), windowMs_(windowMs) {}

    void operator()(const std::string& line);
    // Says how many were left out once their window is over; call it now and then.
    void flush();

private:
    const EventLoop& loop_;
    Sink sink_;
    int maxLines_;
    int windowMs_;
    std::int64_t windowStart_ = 0;
    bool started_ = false;
    int lines_ = 0;
    std::uint64_t suppressed_ = 0;
};

}  // namespace varnel::bridge
