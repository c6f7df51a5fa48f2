#pragma once
// The serial link's own state: the port's flags, the receive buffer, the
// exchange gate and the link's counters, and what the link tells the layers
// above it.
#include <array>
#include <cstdint>
#include <string>

#include "link/reports.h"
#include "support/core.h"

namespace varnel {

// Who holds the line. Work started from outside a command (a timer, the
// console, the window, MQTT) waits for idle(); timer work also waits while the
// line is in use, so no frame goes out in the middle of a read.
struct ExchangeGate {
    std::int16_t busy = 0;  // a command holds the line
    // Depth of response loops running; host work is not dispatched while above 0.
    int exchangeDepth = 0;
    bool timerBusy = false;       // a timer pass is running
    std::int16_t x10Sending = 0;  // an X10 send is running

    [[nodiscard]] bool lineInUse() const { return busy == 1 || exchangeDepth > 0; }
    [[nodiscard]] bool idle() const { return exchangeDepth == 0 && busy == 0 && !timerBusy && x10Sending == 0; }
};

struct LinkState {
    std::int16_t comport = 1;
    // The device given instead of a port number (a device path, the simulator's terminal);
    // while set, `comport` does not choose the port.
    std::string fixedDevice;
    bool commStarted = false;
    bool portOpen = false;
    std::array<std::uint8_t, 501> rx{};  // receive buffer
    std::int16_t responseTimeout = 4;    // seconds
    Bool16 learning = kFalse;
    bool recognition = false;
    // Bytes dropped by the report readers (not a report, not the awaited reply).
    std::uint64_t discarded = 0;
    // Commands whose 3-byte answer never came, since start: their callers ignore the
    // answer, the console does not.
    std::uint64_t unanswered = 0;
    // Controller reports handed on since start.
    std::uint64_t reportsHandled = 0;
    // Ticks of the last complete reply and of the first time-out after it (-1: none).
    std::int64_t lastReplyMs = -1;
    std::int64_t silentSinceMs = -1;
    // The last start-up step announced: a step every interface start repeats is shown once.
    std::string lastStep;
};

// What the link tells the layers above. The plug-in implements it; the
// defaults do nothing, for a link used alone.
class LinkEvents {
public:
    LinkEvents() = default;
    LinkEvents(const LinkEvents&) = delete;
    LinkEvents& operator=(const LinkEvents&) = delete;
    virtual ~LinkEvents() = default;

    // A controller report read by the response loop.
    virtual void report(const ControllerReport&) {}
    // Bytes arrived outside a reply wait: the I/O timer's turn to read them.
    virtual void dataArrived() {}
    // The port was opened again.
    virtual void portOpened() {}
    // A start-up step begins (each text once in a row).
    virtual void startupStep(const std::string&) {}
    // An awaited reply did not come.
    virtual void replyTimedOut() {}
};

struct LinkLayer : Core {
    explicit LinkLayer(Platform p) : Core(std::move(p)) {}

    LinkState link;
    ExchangeGate gate;
    LinkEvents* linkEvents = &noLinkEvents;

private:
    LinkEvents noLinkEvents;
};

}  // namespace varnel
