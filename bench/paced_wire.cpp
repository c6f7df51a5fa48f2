#include "paced_wire.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <stdexcept>
#include <vector>

namespace varnel::bench {

namespace {

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(PacedWire::Clock::now().time_since_epoch()).count();
}

// Sleeps until an absolute instant of the monotonic clock (steady_clock on Linux).
void sleepUntilNs(std::int64_t ns) {
    timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
    }
}

}  // namespace

PacedWire::PacedWire(sim::ControllerConfig cfg, std::int64_t usPerByte, std::int64_t turnaroundUs)
    : controller_(std::move(cfg)), usPerByte_(usPerByte), turnaroundUs_(turnaroundUs) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) throw std::runtime_error("no pty");
    std::array<char, 128> name{};
    if (::ptsname_r(master_, name.data(), name.size()) != 0) throw std::runtime_error("no pty name");
    slave_ = name.data();
    thread_ = std::thread([this] { serve(); });
}

PacedWire::~PacedWire() {
    stop_ = true;
    thread_.join();
    ::close(master_);
}

void PacedWire::serve() {
    std::vector<sim::Emission> out;
    controller_.onOutput = [&out](const sim::Emission& e) { out.push_back(e); };
    std::array<std::uint8_t, 512> buf{};
    while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const ssize_t n = ::read(master_, buf.data(), buf.size());
        if (n <= 0) {
            ::usleep(1000);  // nobody has the slave open yet
            continue;
        }
        const std::int64_t heardNs = nowNs();
        controller_.feed(std::span(buf.data(), static_cast<std::size_t>(n)));
        // The frame's own bytes took their time on the wire before we saw them all.
        std::int64_t at = heardNs + turnaroundUs_ * 1000;
        for (const auto& e : out) {
            at += e.gapUs * 1000;
            for (std::size_t i = 0; i < e.bytes.size(); ++i) {
                at += usPerByte_ * 1000;
                sleepUntilNs(at);
                if (e.reply && i + 1 == e.bytes.size()) lastByteNs_ = nowNs();
                if (::write(master_, &e.bytes[i], 1) != 1) break;
            }
            if (e.reply) ++replies_;
        }
        out.clear();
    }
}

}  // namespace varnel::bench
