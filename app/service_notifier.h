#pragma once
// What systemd hears of a `varnel run` started as a notify service: READY=1 once the
// start-up is through, STATUS= lines, WATCHDOG=1 from the event loop while the
// watchdog is on, STOPPING=1. Without NOTIFY_SOCKET every call does nothing.
#include <QTimer>
#include <string>

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

private:
    void send(const std::string& message);
    bool active_ = false;
    bool ready_ = false;
    bool stopping_ = false;
    std::string lastStatus_;
    QTimer watchdog_;
};

}  // namespace varnel::app
