#pragma once
// The history's routes, Qt-free: the series that exist, the values of chosen series
// over a range reduced on the server, and the same as CSV. Every parameter is checked
// here and a bad one answered 400 naming it.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace varnel::history {
class Store;
}

namespace varnel::web {

struct HistoryAnswer {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
};

inline constexpr int kDefaultPoints = 800;
inline constexpr int kMaxPoints = 5000;
inline constexpr std::size_t kMaxSeries = 8;
inline constexpr std::size_t kMaxCsvRows = 1'000'000;

// "2026-12-08T19:20:00Z", with optional fractions of a second and a zone "Z" or
// "+01:00" (none: UTC); ms since the epoch.
[[nodiscard]] std::optional<std::int64_t> parseIsoTime(std::string_view text);

using Query = std::map<std::string, std::string>;

// `what`: "series" (GET /api/history/series), "values" (GET /api/history), "csv"
// (GET /api/history.csv). A null store: 503.
[[nodiscard]] HistoryAnswer historyRoute(history::Store* store, std::string_view what, const Query& query,
                                         std::int64_t nowMs);

}  // namespace varnel::web
