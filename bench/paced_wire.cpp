#include "paced_wire.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <vector>

#include "measure.h"

namespace varnel::bench {

namespace {

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
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) throw std::runtime_error("no eventfd");
    thread_ = std::thread([this] { serve(); });
}

PacedWire::~PacedWire() {
    stop_ = true;
    thread_.join();
    ::close(master_);
    ::close(wake_);
}

void PacedWire::post(std::function<void(sim::Controller&)> job) {
    {
        std::lock_guard lock(jobsMutex_);
        jobs_.push_back(std::move(job));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
}

std::int64_t PacedWire::freeAfter(std::int64_t ns) const {
    std::lock_guard lock(exchangesMutex_);
    for (const auto& [first, last] : exchanges_)
        if (first <= ns && ns < last) return last;
    return ns;
}

void PacedWire::runJobs() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wake_, &count, sizeof count);
    std::deque<std::function<void(sim::Controller&)>> jobs;
    {
        std::lock_guard lock(jobsMutex_);
        jobs.swap(jobs_);
    }
    for (auto& job : jobs) job(controller_);
}

void PacedWire::serve() {
    std::vector<sim::Emission> out;
    controller_.onOutput = [&out](const sim::Emission& e) { out.push_back(e); };
    std::array<std::uint8_t, 512> buf{};
    std::int64_t inFreeNs = 0;
    while (!stop_) {
        std::array<pollfd, 2> p{{{master_, POLLIN, 0}, {wake_, POLLIN, 0}}};
        if (::poll(p.data(), p.size(), 20) <= 0) continue;
        std::int64_t at = nowNs();
        if ((p[1].revents & POLLIN) != 0) runJobs();
        if ((p[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t n = ::read(master_, buf.data(), buf.size());
            if (n <= 0) {
                ::usleep(1000);  // nobody has the slave open yet
            } else {
                if (openSince_ == 0) openSince_ = at;
                // Frames come whole from one write; a C8 starts an 8-byte command frame.
                for (ssize_t i = 0; i + 1 < n; ++i) {
                    if (buf[static_cast<std::size_t>(i)] != 0xC8) continue;
                    commandStartNs_[buf[static_cast<std::size_t>(i) + 1]] = at + i * usPerByte_ * 1000;
                    i += 7;
                }
                // The plug-in's bytes reach us all at once; on the line they take their
                // time too, so the controller hears the last of them that much later.
                inFreeNs = std::max(nowNs(), inFreeNs) + n * usPerByte_ * 1000;
                sleepUntilNs(inFreeNs);
                at = inFreeNs;
                controller_.feed(std::span(buf.data(), static_cast<std::size_t>(n)));
            }
        }
        // A reply follows after the turnaround, a report goes out at once.
        for (const auto& e : out) {
            at += e.gapUs * 1000 + (e.reply ? turnaroundUs_ * 1000 : 0);
            for (std::size_t i = 0; i < e.bytes.size(); ++i) {
                at += usPerByte_ * 1000;
                sleepUntilNs(at);
                if (::write(master_, &e.bytes[i], 1) != 1) break;
                if (i + 1 != e.bytes.size()) continue;
                const std::int64_t last = nowNs();
                (e.reply ? lastByteNs_ : lastReportNs_) = last;
                if (e.reply && openSince_ != 0) {
                    std::lock_guard lock(exchangesMutex_);
                    exchanges_.emplace_back(openSince_, last);
                    if (exchanges_.size() > 4096) exchanges_.pop_front();
                    openSince_ = 0;
                }
            }
            ++(e.reply ? replies_ : reports_);
        }
        out.clear();
    }
}

}  // namespace varnel::bench
