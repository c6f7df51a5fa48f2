#pragma once
// Who is logged in to the page, and who has guessed wrong too often. Time is an input
// (milliseconds of a steady clock), so both are tested without waiting.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace varnel::web {

// A random token of `bytes` bytes, in hex.
[[nodiscard]] std::string randomToken(std::size_t bytes = 32);

class Sessions {
public:
    struct Session {
        std::string csrf;
        std::int64_t lastUseMs = 0;
    };
    static constexpr std::int64_t kIdleMs = std::int64_t{7} * 24 * 3600 * 1000;
    // Beyond this many the least recently used is forgotten, so logins cannot fill memory.
    static constexpr std::size_t kMaxSessions = 64;

    // A new session: its cookie token, and the session.
    std::pair<std::string, Session> open(std::int64_t nowMs);
    // The live session of `token` (used now), or nothing.
    std::optional<Session> use(std::string_view token, std::int64_t nowMs);
    void close(std::string_view token);
    [[nodiscard]] std::size_t size() const { return sessions_.size(); }

private:
    std::map<std::string, Session, std::less<>> sessions_;
};

class LoginLimiter {
public:
    static constexpr int kAttempts = 5;
    static constexpr std::int64_t kWindowMs = 60'000;
    static constexpr std::size_t kMaxAddresses = 1024;

    // Seconds to wait before `address` may try again; nothing when it may now.
    [[nodiscard]] std::optional<int> wait(const std::string& address, std::int64_t nowMs) const;
    // A wrong password from `address`.
    void failed(const std::string& address, std::int64_t nowMs);

private:
    struct Window {
        std::int64_t startMs = 0;
        int count = 0;
    };
    std::map<std::string, Window> windows_;
};

}  // namespace varnel::web
