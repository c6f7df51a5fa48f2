#include "platform/qt/qt_event_loop.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <stdexcept>

namespace varnel {

namespace {

class QtTimer final : public Timer {
public:
    QtTimer() : timer_(std::make_unique<QTimer>()) {
        timer_->setTimerType(Qt::PreciseTimer);
        timer_->setInterval(interval_);
        QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] {
            // A tick handler may destroy this timer (shutdown): run a copy.
            if (auto fn = onTick) fn();
        });
    }
    // Qt does not re-enter a timer's handler while it runs (a wait inside a
    // tick lets every other timer tick, not this one); handlers guard anyway.
    void setInterval(int ms) override {
        // A zero interval would make Qt fire on every idle pass: a busy loop.
        interval_ = std::max(ms, 1);
        timer_->setInterval(interval_);
    }
    [[nodiscard]] int interval() const override { return interval_; }
    void setEnabled(bool on) override {
        if (on)
            timer_->start(interval_);
        else
            timer_->stop();
    }
    [[nodiscard]] bool enabled() const override { return timer_->isActive(); }

private:
    std::unique_ptr<QTimer> timer_;
    int interval_ = 1000;
};

}  // namespace

QtEventLoop::QtEventLoop() {
    if (QCoreApplication::instance() == nullptr) throw std::logic_error("QtEventLoop needs a QCoreApplication");
}

std::unique_ptr<Timer> QtEventLoop::createTimer() { return std::make_unique<QtTimer>(); }

void QtEventLoop::processEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

bool QtEventLoop::waitUntil(int ms, const std::function<bool()>& done) {
    if (done()) return true;
    if (ms <= 0) {
        processEvents();
        return done();
    }
    const QDeadlineTimer deadline(ms, Qt::PreciseTimer);
    // Without an event at the deadline the dispatcher would sleep past it.
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    wake.start(ms);
    while (!done()) {
        if (deadline.hasExpired()) return done();
        // The wake-up may fire a hair early or inside a nested wait; re-arm for the rest.
        if (!wake.isActive()) wake.start(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

std::int64_t QtEventLoop::tickMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::chrono::system_clock::time_point QtEventLoop::wallClock() const {
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 localMs = now.toMSecsSinceEpoch() + qint64{now.offsetFromUtc()} * 1000;
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(localMs));
}

}  // namespace varnel
