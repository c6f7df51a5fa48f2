#pragma once
// What systemd hears of a `varnel run` started as a notify service: READY=1 once the
// start-up is through, STATUS= lines, WATCHDOG=1 from the event loop while the
// watchdog is on, STOPPING=1. Without NOTIFY_SOCKET every call does nothing. The same
// state goes to the host directory's health file (health.h) once it is kept.
#include <QTimer>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "health.h"

namespace varnel::app {

class ServiceNotifier {
public:
    ServiceNotifier();
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    [[nodiscard]] bool active() const { return active_; }
    // Pings at half the watchdog's interval from now on. Waits run the event loop, so
    // a long start-up keeps pinging; only a loop that hangs stops it.
    void startWatchdog();
    // Once: a run that waits for its port is ready before its start-up.
    void ready();
    // Sent only when it differs from the last one, and not once stopping.
    void status(const std::string& text);
    // Once, however often a stop is asked for.
    void stopping();
    // The run is over: the health file says so rather than going stale.
    void stopped();

    // Rewrites the health file from the event loop from now on, so that a loop that hangs
    // lets it go stale. `warn` hears once when it cannot be written (and again after it could).
    void keepHealthFile(const std::filesystem::path& hostDir, std::function<void(const std::string&)> warn);

private:
    void send(const std::string& message);
    void writeHealthFile();
    std::optional<std::filesystem::path> healthDir_;
    std::function<void(const std::string&)> healthWarn_;
    HealthRecord health_;
    bool healthFailing_ = false;
    QTimer healthTimer_;
    bool active_ = false;
    bool ready_ = false;
    bool stopping_ = false;
    std::string lastStatus_;
    QTimer watchdog_;
};

}  // namespace varnel::app
