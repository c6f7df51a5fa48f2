#pragma once
// The event loop on Qt: timers are QTimers, waits pump the thread's Qt events
// (port notifiers, timers, posted events) until their condition holds.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/event_loop.h"

namespace varnel {

class QtEventLoop final : public EventLoop {
public:
    // Needs a QCoreApplication (or QApplication) on this thread; throws std::logic_error otherwise.
    QtEventLoop();

    [[nodiscard]] std::unique_ptr<Timer> createTimer() override;
    void processEvents() override;
    // Sleeps in the event dispatcher, so it wakes for the first event that arrives
    // (a port byte, a timer) rather than on a polling slice. Nested calls each keep
    // their own deadline.
    bool waitUntil(int ms, const std::function<bool()>& done) override;
    [[nodiscard]] std::int64_t tickMs() const override;
    [[nodiscard]] std::chrono::system_clock::time_point wallClock() const override;
};

}  // namespace varnel
