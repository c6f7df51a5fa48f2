#include "service_notifier.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace varnel::app {

ServiceNotifier::ServiceNotifier() : active_(std::getenv("NOTIFY_SOCKET") != nullptr) {
    QObject::connect(&watchdog_, &QTimer::timeout, &watchdog_, [this] { send("WATCHDOG=1"); });
}

void ServiceNotifier::startWatchdog() {
    std::uint64_t usec = 0;
    if (!active_ || sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) return;
    watchdog_.start(static_cast<int>(std::clamp<std::uint64_t>(usec / 2000, 1, std::uint64_t{3600} * 1000)));
    send("WATCHDOG=1");
}

void ServiceNotifier::ready() {
    if (std::exchange(ready_, true)) return;
    send("READY=1");
}

void ServiceNotifier::status(const std::string& text) {
    // After STOPPING=1 the status line stays as systemd shows a stop.
    if (!active_ || stopping_ || text == lastStatus_) return;
    lastStatus_ = text;
    send("STATUS=" + text);
}

void ServiceNotifier::stopping() {
    // The watchdog keeps hearing from the loop: a shutdown that hangs is as bad as a run.
    if (stopping_) return;
    stopping_ = true;
    send("STOPPING=1");
}

void ServiceNotifier::send(const std::string& message) {
    if (active_) sd_notify(0, message.c_str());
}

}  // namespace varnel::app
