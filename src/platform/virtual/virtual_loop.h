#pragma once
// Deterministic virtual time: the clock moves only while someone waits, and
// everything due runs in timestamp order (ties in the order they were scheduled).
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "platform/event_loop.h"

namespace varnel {

class VirtualLoop final : public EventLoop {
public:
    VirtualLoop();
    ~VirtualLoop() override;
    VirtualLoop(const VirtualLoop&) = delete;
    VirtualLoop& operator=(const VirtualLoop&) = delete;

    [[nodiscard]] std::unique_ptr<Timer> createTimer() override;
    void processEvents() override;
    bool waitUntil(int ms, const std::function<bool()>& done) override;
    [[nodiscard]] std::int64_t tickMs() const override { return nowUs_ / 1000; }
    [[nodiscard]] std::chrono::system_clock::time_point wallClock() const override;

    [[nodiscard]] std::int64_t nowUs() const { return nowUs_; }
    // Runs `fn` once, `delayUs` from now. Returns an id for cancel().
    std::uint64_t postUs(std::int64_t delayUs, std::function<void()> fn);
    void cancel(std::uint64_t id);
    // Sets the local wall-clock time that corresponds to the current instant.
    void setWallClock(std::chrono::system_clock::time_point t);
    // Advances virtual time by `ms`, running everything due (a plain wait).
    void advance(int ms) { wait(ms); }
    // Number of events run so far (timers and posted calls); for runaway checks.
    [[nodiscard]] std::uint64_t eventsRun() const { return eventsRun_; }

private:
    class VTimer;
    friend class VTimer;
    struct Key {
        std::int64_t due;
        std::uint64_t seq;
        auto operator<=>(const Key&) const = default;
    };
    void runDue();
    std::int64_t nowUs_ = 0;
    std::uint64_t nextSeq_ = 1;
    std::uint64_t eventsRun_ = 0;
    std::map<Key, std::function<void()>> queue_;
    std::map<std::uint64_t, std::int64_t> dueOf_;  // seq -> due, to cancel
    std::chrono::system_clock::time_point wallBase_;
    std::int64_t wallBaseUs_ = 0;
};

}  // namespace varnel
