#pragma once
// The single-threaded event loop the core runs on: timers, message-pumping
// waits and the clocks. Qt and virtual-time implementations exist.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace varnel {

class Timer {
public:
    virtual ~Timer() = default;
    virtual void setInterval(int ms) = 0;
    [[nodiscard]] virtual int interval() const = 0;
    virtual void setEnabled(bool on) = 0;
    [[nodiscard]] virtual bool enabled() const = 0;
    // Runs on every expiry while enabled. Re-entrant ticks are the handler's business.
    std::function<void()> onTick;
};

class EventLoop {
public:
    virtual ~EventLoop() = default;
    [[nodiscard]] virtual std::unique_ptr<Timer> createTimer() = 0;
    // One pass over pending events (timers due, port data), without blocking.
    virtual void processEvents() = 0;
    // Lets events run until `done` holds or `ms` have passed; wakes on every event,
    // so a reply is seen as soon as it is complete. Returns done() at the end.
    virtual bool waitUntil(int ms, const std::function<bool()>& done) = 0;
    // Monotonic milliseconds (the tick count).
    [[nodiscard]] virtual std::int64_t tickMs() const = 0;
    // Local wall-clock time, for the controller's clock and the nightly clock step.
    // Its UTC calendar fields are the local fields (no time-zone work in the core).
    [[nodiscard]] virtual std::chrono::system_clock::time_point wallClock() const = 0;

    // A message-pumping wait of the full length.
    void wait(int ms) {
        waitUntil(ms, [] { return false; });
    }
};

}  // namespace varnel
