#pragma once
// The serial port, the frame sender and the response loop.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "link/link_state.h"
#include "link/reports.h"

namespace varnel {

// Opens the configured port at 9600,N,8,1; retries a failing open a few times, reporting each.
void OpenCommPort(LinkLayer& ctx);
// Writes `buf` whole while the port open flag is set. Always 0.
std::int16_t SendBytes(LinkLayer& ctx, std::span<const std::uint8_t> buf);
// Waits up to `timeout` seconds for `expectedLength` bytes starting with `expectedFirst`
// (0 = any) into the receive buffer, handing on the controller's own reports meanwhile.
bool ReadResponse(LinkLayer& ctx, std::int16_t timeout, std::int16_t expectedLength, std::int16_t expectedFirst);
// Tells the embedding program that a start-up step begins (a line on its log).
void startupStep(LinkLayer& ctx, const std::string& text);
// The port's event handler; event 2 is data received.
void MSComm1_OnComm(LinkLayer& ctx, int event);
// Closes the port (the control's PortOpen = false).
void ClosePort(LinkLayer& ctx);
// Busy flag 1 while alive, 0 afterwards: a throwing step cannot leave the
// timers locked out for good.
class BusyGuard {
public:
    explicit BusyGuard(ExchangeGate& gate) : gate_(gate) { gate_.busy = 1; }
    ~BusyGuard() { gate_.busy = 0; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    ExchangeGate& gate_;
};

// Longest wait for the rest of a report whose first byte has arrived, milliseconds.
inline constexpr int kReportByteWaitMs = 1000;

// Marks an exchange with the controller in progress: host work is not started
// meanwhile, so two exchanges never interleave on the wire.
class ExchangeScope {
public:
    explicit ExchangeScope(ExchangeGate& gate) : gate_(gate) { ++gate_.exchangeDepth; }
    ~ExchangeScope() { --gate_.exchangeDepth; }
    ExchangeScope(const ExchangeScope&) = delete;
    ExchangeScope& operator=(const ExchangeScope&) = delete;

private:
    ExchangeGate& gate_;
};

// The next byte of a report whose first byte has arrived, waiting up to
// kReportByteWaitMs for it; nothing when it does not come.
std::optional<std::uint8_t> nextReportByte(LinkLayer& ctx);
// Feeds the port's waiting bytes to `reader` until one completes a report or
// the reply, or is dropped. The rest of a begun report or reply is waited for
// as nextReportByte does; when it does not come the part is dropped (a Cut
// step). Nothing when no byte waited. What the reader drops is added to the
// link's discard count.
std::optional<ReportReader::Step> pullReport(LinkLayer& ctx, ReportReader& reader);

}  // namespace varnel
