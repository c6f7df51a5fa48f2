#include "web/sessions.h"

#include <QRandomGenerator>
#include <algorithm>
#include <vector>

namespace varnel::web {

std::string randomToken(std::size_t bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::vector<std::uint32_t> words((bytes + 3) / 4);
    QRandomGenerator::system()->generate(words.begin(), words.end());
    std::string out;
    out.reserve(bytes * 2);
    for (std::size_t i = 0; i < bytes; ++i) {
        const auto byte = static_cast<unsigned>(words[i / 4] >> (8 * (i % 4))) & 0xFFU;
        out += kHex[byte >> 4];
        out += kHex[byte & 0xFU];
    }
    return out;
}

std::pair<std::string, Sessions::Session> Sessions::open(std::int64_t nowMs) {
    while (sessions_.size() >= kMaxSessions) {
        auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](const auto& a, const auto& b) {
            return a.second.lastUseMs < b.second.lastUseMs;
        });
        sessions_.erase(oldest);
    }
    std::string token = randomToken();
    Session s{.csrf = randomToken(), .lastUseMs = nowMs};
    sessions_[token] = s;
    return {std::move(token), std::move(s)};
}

std::optional<Sessions::Session> Sessions::use(std::string_view token, std::int64_t nowMs) {
    const auto it = sessions_.find(token);
    if (it == sessions_.end()) return std::nullopt;
    if (nowMs - it->second.lastUseMs > kIdleMs) {
        sessions_.erase(it);
        return std::nullopt;
    }
    it->second.lastUseMs = nowMs;
    return it->second;
}

void Sessions::close(std::string_view token) {
    if (const auto it = sessions_.find(token); it != sessions_.end()) sessions_.erase(it);
}

std::optional<int> LoginLimiter::wait(const std::string& address, std::int64_t nowMs) const {
    const auto it = windows_.find(address);
    if (it == windows_.end() || it->second.count < kAttempts) return std::nullopt;
    const std::int64_t left = it->second.startMs + kWindowMs - nowMs;
    if (left <= 0) return std::nullopt;
    return static_cast<int>((left + 999) / 1000);
}

void LoginLimiter::failed(const std::string& address, std::int64_t nowMs) {
    auto it = windows_.find(address);
    if (it == windows_.end()) {
        if (windows_.size() >= kMaxAddresses)
            std::erase_if(windows_, [&](const auto& w) { return nowMs - w.second.startMs >= kWindowMs; });
        // Still full of live windows: the stalest goes, which at worst lets one address
        // try again a little sooner.
        if (windows_.size() >= kMaxAddresses)
            windows_.erase(std::min_element(windows_.begin(), windows_.end(), [](const auto& a, const auto& b) {
                return a.second.startMs < b.second.startMs;
            }));
        it = windows_.emplace(address, Window{.startMs = nowMs, .count = 0}).first;
    }
    if (nowMs - it->second.startMs >= kWindowMs) it->second = Window{.startMs = nowMs, .count = 0};
    ++it->second.count;
}

}  // namespace varnel::web
