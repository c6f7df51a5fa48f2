#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <stdexcept>

namespace varnel::test {

PtyPair::PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    std::array<char, 128> name{};
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name.data(), name.size()) != 0)
        throw std::runtime_error("no pty");
    slave_ = name.data();
}

PtyPair::~PtyPair() { closeMaster(); }

void PtyPair::closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

// Tests write a few bytes at a time, which a pty always takes at once.
void PtyPair::write(std::span<const std::uint8_t> bytes) const {
    if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("pty write failed");
}

std::vector<std::uint8_t> PtyPair::read(std::size_t n, int timeoutMs) const {
    std::vector<std::uint8_t> out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n && std::chrono::steady_clock::now() < end) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) continue;
        std::array<std::uint8_t, 512> buf{};
        const ssize_t got = ::read(master_, buf.data(), std::min(buf.size(), n - out.size()));
        if (got <= 0) break;
        out.insert(out.end(), buf.begin(), buf.begin() + got);
    }
    return out;
}

}  // namespace varnel::test
