#pragma once
// Time for the simulator: what the controller does "later" (a learned key after
// a delay, a demo step, giving up on half a frame) goes through this, so the same
// model runs on virtual time in tests and on the wall clock behind a pty.
#include <cstdint>
#include <functional>
#include <map>

namespace varnel::sim {

class Scheduler {
public:
    virtual ~Scheduler() = default;
    [[nodiscard]] virtual std::int64_t nowUs() const = 0;
    // Runs `fn` once, `delayUs` from now (0 or less: as soon as possible, never inline).
    virtual void after(std::int64_t delayUs, std::function<void()> fn) = 0;
};

// A clock that moves only when told to; what is due runs in time order, ties in
// the order they were scheduled. The default clock of a bare Controller.
class ManualScheduler final : public Scheduler {
public:
    [[nodiscard]] std::int64_t nowUs() const override { return nowUs_; }
    void after(std::int64_t delayUs, std::function<void()> fn) override;
    // Moves the clock by `us`, running everything that falls due on the way.
    void advanceUs(std::int64_t us);
    // Runs what is due now without moving the clock.
    void runDue() { advanceUs(0); }
    [[nodiscard]] std::size_t pending() const { return queue_.size(); }
    // Moves everything still waiting to `other`, each with the time it had left.
    void handOver(Scheduler& other);

private:
    struct Key {
        std::int64_t due;
        std::uint64_t seq;
        auto operator<=>(const Key&) const = default;
    };
    std::int64_t nowUs_ = 0;
    std::uint64_t nextSeq_ = 0;
    std::map<Key, std::function<void()>> queue_;
};

}  // namespace varnel::sim
