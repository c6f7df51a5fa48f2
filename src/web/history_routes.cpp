#include "web/history_routes.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <vector>

#include "history/console_history.h"
#include "history/store.h"
#include "support/text.h"
#include "web/live_state.h"

namespace varnel::web {

namespace {

using nlohmann::json;

constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;
constexpr std::int64_t kMaxRangeMs = 3660 * kDayMs;

HistoryAnswer refusal(int status, const std::string& text) {
    return {.status = status, .contentType = "application/json", .body = dumpJson({{"error", text}})};
}

std::optional<int> digits(std::string_view s, std::size_t at, std::size_t n) {
    if (at + n > s.size()) return std::nullopt;
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

std::string isoOf(std::int64_t ms) {
    return isoTime(std::chrono::system_clock::time_point(std::chrono::milliseconds(ms)));
}

struct Range {
    std::vector<std::string> series;
    std::int64_t from = 0, to = 0;
    int points = kDefaultPoints;
};

// The request's series, range and points; the refusal naming the field otherwise.
std::optional<HistoryAnswer> readRange(const Query& q, std::int64_t nowMs, Range& r) {
    const auto s = q.find("series");
    if (s == q.end() || s->second.empty()) return refusal(400, "series: needs one or more series ids, comma-separated");
    for (const auto& id : split(s->second, ',')) {
        if (!history::isSeriesId(id))
            return refusal(400, "series: \"" + id.substr(0, 40) +
                                    "\" is not a series (var:N, unit:U:point:P, link, x10, ir, touch, command)");
        r.series.push_back(id);
    }
    if (r.series.size() > kMaxSeries) return refusal(400, "series: at most " + std::to_string(kMaxSeries));
    r.to = nowMs;
    if (const auto t = q.find("to"); t != q.end()) {
        const auto v = parseIsoTime(t->second);
        if (!v) return refusal(400, "to: needs a time such as 2026-12-08T19:20:00Z");
        r.to = *v;
    }
    r.from = r.to - kDayMs;
    if (const auto f = q.find("from"); f != q.end()) {
        const auto v = parseIsoTime(f->second);
        if (!v) return refusal(400, "from: needs a time such as 2026-12-08T19:20:00Z");
        r.from = *v;
    }
    if (r.from >= r.to) return refusal(400, "from: needs to be before to");
    if (r.to - r.from > kMaxRangeMs) return refusal(400, "from: the range is longer than 3660 days");
    if (const auto p = q.find("points"); p != q.end()) {
        const auto n = digits(p->second, 0, p->second.size());
        if (p->second.empty() || p->second.size() > 5 || !n || *n < 1 || *n > kMaxPoints)
            return refusal(400, "points: needs a number from 1 to " + std::to_string(kMaxPoints));
        r.points = *n;
    }
    return std::nullopt;
}

// A CSV field: quoted when it must be, and never read as a formula by a spreadsheet.
std::string csvField(const std::string& text) {
    std::string t = text;
    if (!t.empty() && (t[0] == '=' || t[0] == '+' || t[0] == '-' || t[0] == '@')) t.insert(0, "'");
    if (t.find_first_of(",\"\r\n") == std::string::npos) return t;
    std::string out = "\"";
    for (char c : t) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::optional<std::int64_t> parseIsoTime(std::string_view s) {
    using namespace std::chrono;
    const auto y = digits(s, 0, 4), mo = digits(s, 5, 2), d = digits(s, 8, 2);
    const auto h = digits(s, 11, 2), mi = digits(s, 14, 2), se = digits(s, 17, 2);
    if (!y || !mo || !d || !h || !mi || !se || s[4] != '-' || s[7] != '-' || (s[10] != 'T' && s[10] != ' ') ||
        s[13] != ':' || s[16] != ':')
        return std::nullopt;
    const year_month_day ymd{year(*y), month(static_cast<unsigned>(*mo)), day(static_cast<unsigned>(*d))};
    if (!ymd.ok() || *h > 23 || *mi > 59 || *se > 60) return std::nullopt;
    std::int64_t ms =
        duration_cast<milliseconds>(sys_days(ymd).time_since_epoch()).count() + ((*h * 60LL + *mi) * 60 + *se) * 1000;
    std::size_t i = 19;
    if (i < s.size() && s[i] == '.') {
        std::size_t n = 0;
        int frac = 0;
        for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++n)
            if (n < 3) frac = frac * 10 + (s[i] - '0');
        if (n == 0 || n > 9) return std::nullopt;
        for (std::size_t k = n; k < 3; ++k) frac *= 10;
        ms += frac;
    }
    if (i == s.size()) return ms;
    if (s[i] == 'Z' && i + 1 == s.size()) return ms;
    if ((s[i] == '+' || s[i] == '-') && i + 6 == s.size() && s[i + 3] == ':') {
        const auto oh = digits(s, i + 1, 2), om = digits(s, i + 4, 2);
        if (!oh || !om || *oh > 23 || *om > 59) return std::nullopt;
        const std::int64_t offset = (*oh * 60LL + *om) * 60'000;
        return s[i] == '+' ? ms - offset : ms + offset;
    }
    return std::nullopt;
}

HistoryAnswer historyRoute(history::Store* store, std::string_view what, const Query& q, std::int64_t nowMs) {
    if (!store) return refusal(503, "this run keeps no history (history=off in [varnel])");
    store->flush();  // what was gathered since the last batch shows too
    if (what == "series") {
        json list = json::array();
        for (const auto& s : store->series())
            list.push_back({{"id", s.id},
                            {"name", s.name},
                            {"kind", history::kindName(s.kind)},
                            {"first", s.first},
                            {"last", s.last},
                            {"count", s.count}});
        const auto u = store->usage();
        const auto& set = store->settings();
        return {.status = 200,
                .contentType = "application/json",
                .body = dumpJson({{"series", std::move(list)},
                                  {"kept",
                                   {{"bytes", u.bytes},
                                    {"maxBytes", std::uint64_t(set.maxMb) * 1024 * 1024},
                                    {"changes", u.changes},
                                    {"oldest", u.oldest ? json(*u.oldest) : json(nullptr)},
                                    {"rawDays", set.rawDays},
                                    {"days", set.keepDays},
                                    {"paused", u.paused},
                                    {"text", history::statusLine(*store)}}}})};
    }
    Range r;
    if (auto bad = readRange(q, nowMs, r)) return *bad;
    if (what == "values") {
        json out = json::array();
        for (const auto& id : r.series) {
            const auto red = store->query(id, r.from, r.to, r.points);
            json s = {{"id", id}, {"kind", history::kindName(red.kind)}, {"t", red.t}};
            if (red.kind == history::SeriesKind::Event)
                s["text"] = red.text;
            else {
                s["min"] = red.min;
                s["max"] = red.max;
                s["last"] = red.last;
            }
            out.push_back(std::move(s));
        }
        return {.status = 200,
                .contentType = "application/json",
                .body = dumpJson({{"series", std::move(out)}, {"from", r.from}, {"to", r.to}})};
    }
    std::string csv = "series,time,value,min,max,text\r\n";
    std::size_t rows = 0;
    for (const auto& id : r.series) {
        for (const auto& c : store->changes(id, r.from, r.to, kMaxCsvRows - rows)) {
            csv += id + "," + isoOf(c.t) + "," + history::valueText(c.value) + "," + history::valueText(c.min) + "," +
                   history::valueText(c.max) + "," + csvField(c.text) + "\r\n";
            ++rows;
        }
    }
    return {.status = 200, .contentType = "text/csv; charset=utf-8", .body = std::move(csv)};
}

}  // namespace varnel::web
