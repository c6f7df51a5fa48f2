#pragma once
// The host log's last lines for the page (GET /api/log, and live as "log" messages).
// The run feeds it from the start, before the page exists, so the tail has the start-up.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <deque>
#include <functional>
#include <string>

namespace varnel::web {

struct LogLine {
    std::string time;   // as the host log writes it, "2026-12-07 19:20:00" (local time)
    std::string level;  // "info", "warning", "error"
    std::string source, text;
};

class LogBook {
public:
    static constexpr std::size_t kKept = 1000;

    void add(LogLine line);
    // The last `n` lines (at most kKept), oldest first.
    [[nodiscard]] nlohmann::json tail(std::size_t n) const;
    [[nodiscard]] static nlohmann::json toJson(const LogLine& line);
    // Called for every line added; the page's live feed.
    std::function<void(const LogLine&)> onLine;

private:
    std::deque<LogLine> lines_;
};

}  // namespace varnel::web
