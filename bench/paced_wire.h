#pragma once
// The controller simulator behind a pseudo-terminal, served from a thread of
// its own so that it can pace the line at 9600 baud both ways with exact timing
// (a frame is heard when its last byte would have arrived) and note
// the instant it puts each reply's (and each report's) last byte on the line. The
// plug-in side opens slaveName() as its serial device.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "sim/controller.h"

namespace varnel::bench {

class PacedWire {
public:
    using Clock = std::chrono::steady_clock;
    explicit PacedWire(sim::ControllerConfig cfg, std::int64_t usPerByte = 1042, std::int64_t turnaroundUs = 1000);
    ~PacedWire();
    PacedWire(const PacedWire&) = delete;
    PacedWire& operator=(const PacedWire&) = delete;

    [[nodiscard]] const std::string& slaveName() const { return slave_; }
    // When the last byte of the latest reply was written to the line (nanoseconds of Clock).
    [[nodiscard]] std::int64_t lastReplyByteNs() const { return lastByteNs_.load(); }
    [[nodiscard]] std::uint64_t replies() const { return replies_.load(); }
    // When the last byte of the latest unsolicited report was written to the line.
    [[nodiscard]] std::int64_t lastReportByteNs() const { return lastReportNs_.load(); }
    [[nodiscard]] std::uint64_t reports() const { return reports_.load(); }
    // When the plug-in put the first byte of its latest command frame (C8) with this
    // command code on the line; 0 before any.
    [[nodiscard]] std::int64_t commandStartNs(std::uint8_t code) const { return commandStartNs_[code].load(); }

    // When the line is free for a command the plug-in gets at `ns`: the end of the
    // exchange on the line then (from the plug-in's first byte to the reply's last), or
    // `ns` itself when none was. Kept for the latest 4096 exchanges.
    [[nodiscard]] std::int64_t freeAfter(std::int64_t ns) const;

    // Runs `job` on the wire's thread, where the controller lives (an input change,
    // say); what it sends goes out paced, as a report.
    void post(std::function<void(sim::Controller&)> job);

private:
    void serve();
    void runJobs();
    sim::Controller controller_;
    std::int64_t usPerByte_;
    std::int64_t turnaroundUs_;
    int master_ = -1;
    int wake_ = -1;
    std::string slave_;
    std::mutex jobsMutex_;
    std::deque<std::function<void(sim::Controller&)>> jobs_;
    std::atomic<bool> stop_{false};
    std::atomic<std::int64_t> lastByteNs_{0};
    std::atomic<std::uint64_t> replies_{0};
    std::atomic<std::int64_t> lastReportNs_{0};
    std::atomic<std::uint64_t> reports_{0};
    std::array<std::atomic<std::int64_t>, 256> commandStartNs_{};
    mutable std::mutex exchangesMutex_;
    std::deque<std::pair<std::int64_t, std::int64_t>> exchanges_;  // first byte in, last reply byte out
    std::int64_t openSince_ = 0;                                   // the wire's thread only
    std::thread thread_;
};

}  // namespace varnel::bench
