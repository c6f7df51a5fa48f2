#include "platform/virtual/virtual_loop.h"

#include <algorithm>

namespace varnel {

class VirtualLoop::VTimer final : public Timer {
public:
    explicit VTimer(VirtualLoop& loop) : loop_(loop), alive_(std::make_shared<bool>(true)) {}
    ~VTimer() override {
        *alive_ = false;
        disarm();
    }
    void setInterval(int ms) override {
        interval_ = std::max(ms, 1);  // a zero interval would stall virtual time
        if (enabled_) arm();
    }
    [[nodiscard]] int interval() const override { return interval_; }
    void setEnabled(bool on) override {
        enabled_ = on;
        if (on)
            arm();
        else
            disarm();
    }
    [[nodiscard]] bool enabled() const override { return enabled_; }

private:
    void arm() {
        disarm();
        std::weak_ptr<bool> alive = alive_;
        pending_ = loop_.postUs(std::int64_t{interval_} * 1000, [this, alive] {
            if (alive.expired() || !*alive.lock()) return;
            pending_ = 0;
            arm();  // re-armed before the tick, as a periodic timer is
            if (onTick) onTick();
        });
    }
    void disarm() {
        if (pending_ != 0) loop_.cancel(pending_);
        pending_ = 0;
    }
    VirtualLoop& loop_;
    std::shared_ptr<bool> alive_;
    int interval_ = 1000;
    bool enabled_ = false;
    std::uint64_t pending_ = 0;
};

VirtualLoop::VirtualLoop()
    : wallBase_(std::chrono::sys_days{std::chrono::year{2026} / 1 / 5} + std::chrono::hours{12}) {}
VirtualLoop::~VirtualLoop() = default;

std::unique_ptr<Timer> VirtualLoop::createTimer() { return std::make_unique<VTimer>(*this); }

std::uint64_t VirtualLoop::postUs(std::int64_t delayUs, std::function<void()> fn) {
    const std::uint64_t seq = nextSeq_++;
    const std::int64_t due = nowUs_ + std::max<std::int64_t>(delayUs, 0);
    queue_.emplace(Key{due, seq}, std::move(fn));
    dueOf_.emplace(seq, due);
    return seq;
}

void VirtualLoop::cancel(std::uint64_t id) {
    auto it = dueOf_.find(id);
    if (it == dueOf_.end()) return;
    queue_.erase(Key{it->second, id});
    dueOf_.erase(it);
}

void VirtualLoop::runDue() {
    while (!queue_.empty() && queue_.begin()->first.due <= nowUs_) {
        auto node = queue_.extract(queue_.begin());
        dueOf_.erase(node.key().seq);
        ++eventsRun_;
        node.mapped()();
    }
}

void VirtualLoop::processEvents() { runDue(); }

bool VirtualLoop::waitUntil(int ms, const std::function<bool()>& done) {
    const std::int64_t deadline = nowUs_ + std::int64_t{std::max(ms, 0)} * 1000;
    runDue();
    while (!done()) {
        if (queue_.empty() || queue_.begin()->first.due > deadline) {
            nowUs_ = std::max(nowUs_, deadline);
            runDue();
            return done();
        }
        nowUs_ = std::max(nowUs_, queue_.begin()->first.due);
        runDue();
        if (nowUs_ >= deadline) return done();
    }
    return true;
}

std::chrono::system_clock::time_point VirtualLoop::wallClock() const {
    return wallBase_ + std::chrono::microseconds(nowUs_ - wallBaseUs_);
}

void VirtualLoop::setWallClock(std::chrono::system_clock::time_point t) {
    wallBase_ = t;
    wallBaseUs_ = nowUs_;
}

}  // namespace varnel
