#include "service_notifier.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace varnel::app {

ServiceNotifier::ServiceNotifier() : active_(std::getenv("NOTIFY_SOCKET") != nullptr) {
    QObject::connect(&watchdog_, &QTimer::timeout, &watchdog_, [this] { send("WATCHDOG=1"); });
    QObject::connect(&healthTimer_, &QTimer::timeout, &healthTimer_, [this] { writeHealthFile(); });
}

void ServiceNotifier::keepHealthFile(const std::filesystem::path& hostDir,
                                     std::function<void(const std::string&)> warn) {
    healthDir_ = hostDir;
    healthWarn_ = std::move(warn);
    writeHealthFile();
    healthTimer_.start(kHealthEveryMs);
}

void ServiceNotifier::writeHealthFile() {
    if (!healthDir_) return;
    health_.writtenSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    const auto err = writeHealth(*healthDir_, health_);
    if (err && !healthFailing_ && healthWarn_)
        healthWarn_("the health file cannot be written (varnel health will say the run hangs): " + *err);
    if (!err && healthFailing_ && healthWarn_) healthWarn_("the health file is written again");
    healthFailing_ = err.has_value();
}

void ServiceNotifier::stopped() {
    health_.state = RunState::Stopped;
    healthTimer_.stop();
    writeHealthFile();
}

void ServiceNotifier::startWatchdog() {
    std::uint64_t usec = 0;
    if (!active_ || sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) return;
    watchdog_.start(static_cast<int>(std::clamp<std::uint64_t>(usec / 2000, 1, std::uint64_t{3600} * 1000)));
    send("WATCHDOG=1");
}

void ServiceNotifier::ready() {
    if (std::exchange(ready_, true)) return;
    if (health_.state == RunState::Starting) health_.state = RunState::Running;
    writeHealthFile();
    send("READY=1");
}

void ServiceNotifier::status(const std::string& text) {
    // After STOPPING=1 the status line stays as systemd shows a stop.
    if (stopping_ || text == lastStatus_) return;
    if (health_.status != text) {
        health_.status = text;
        writeHealthFile();
    }
    if (!active_) return;
    lastStatus_ = text;
    send("STATUS=" + text);
}

void ServiceNotifier::stopping() {
    // The watchdog keeps hearing from the loop: a shutdown that hangs is as bad as a run.
    if (stopping_) return;
    stopping_ = true;
    health_.state = RunState::Stopping;
    writeHealthFile();
    send("STOPPING=1");
}

void ServiceNotifier::send(const std::string& message) {
    if (active_) sd_notify(0, message.c_str());
}

}  // namespace varnel::app
