// Reading the history back: the series, one series reduced to buckets, its changes,
// and a consistent copy of the whole database.
#include <algorithm>

#include "history/sqlite.h"
#include "history/store.h"

namespace varnel::history {

namespace {

// One bucket being filled.
struct Bucket {
    std::int64_t t = 0;  // its first change
    double min = 0, max = 0, last = 0;
    std::int64_t n = 0;
    std::string text;
    bool used = false;

    void take(std::int64_t at, double lo, double hi, double v, std::int64_t count, std::string_view x) {
        if (!used) {
            t = at;
            min = lo;
            max = hi;
        } else {
            min = std::min(min, lo);
            max = std::max(max, hi);
        }
        last = v;
        n += count;
        if (!x.empty()) text = x;
        used = true;
    }
};

std::string eventText(const Bucket& b) {
    if (b.n <= 1) return b.text.empty() ? "1 report" : b.text;
    return std::to_string(b.n) + " reports" + (b.text.empty() ? std::string() : "; last: " + b.text);
}

}  // namespace

std::vector<SeriesInfo> Store::series() {
    std::vector<SeriesInfo> out;
    if (!db_) return out;
    try {
        sql::Stmt q(*db_, "SELECT key, name, kind, first, last, n FROM series WHERE first IS NOT NULL ORDER BY id");
        while (q.step())
            out.push_back({.id = q.text(0),
                           .name = q.text(1),
                           .kind = static_cast<SeriesKind>(std::clamp<std::int64_t>(q.integer(2), 0, 2)),
                           .first = q.integer(3),
                           .last = q.integer(4),
                           .count = q.integer(5)});
    } catch (const sql::Error&) {
    }
    return out;
}

std::optional<SeriesKind> Store::kindOf(const std::string& id) {
    if (!db_) return std::nullopt;
    sql::Stmt q(*db_, "SELECT kind FROM series WHERE key=?");
    q.bind(1, id);
    if (!q.step()) return std::nullopt;
    return static_cast<SeriesKind>(std::clamp<std::int64_t>(q.integer(0), 0, 2));
}

Reduced Store::query(const std::string& id, std::int64_t from, std::int64_t to, int points) {
    Reduced r{.id = id};
    if (!db_ || to <= from || points < 1) return r;
    const auto row = rowOf(id);
    if (!row) return r;
    r.kind = kindOf(id).value_or(SeriesKind::Value);
    const std::int64_t foldMs = std::int64_t{options_.settings.foldMinutes} * 60'000;
    std::int64_t width = std::max<std::int64_t>(1, (to - from + points - 1) / points);
    // Wide buckets are read from the intervals alone, whole intervals to a bucket; events
    // keep their texts, so they are read as they came wherever they are kept.
    const bool wide = width >= foldMs && r.kind != SeriesKind::Event;
    if (wide) width = (width + foldMs - 1) / foldMs * foldMs;
    const auto count = static_cast<std::size_t>((to - from + width - 1) / width);
    std::vector<Bucket> buckets(count);
    auto bucketOf = [&](std::int64_t t) -> Bucket& {
        return buckets[std::min(count - 1, static_cast<std::size_t>((std::max(t, from) - from) / width))];
    };

    std::int64_t rawFrom = from;
    if (!wide) {
        sql::Stmt first(*db_, "SELECT min(t) FROM raw WHERE s=?");
        first.bind(1, *row);
        rawFrom = first.step() && !first.null(0) ? std::max(from, first.integer(0)) : to;
    }
    if (wide || rawFrom > from) {
        // An interval that began before `from` is left out: its extremes may lie outside.
        // Where changes are kept, only intervals that end before the first of them.
        sql::Stmt q(*db_, "SELECT t, lo, hi, last, n FROM folded WHERE s=? AND t>=? AND t<? ORDER BY t");
        q.bind(1, *row).bind(2, from).bind(3, wide ? to : rawFrom - foldMs + 1);
        while (q.step()) bucketOf(q.integer(0)).take(q.integer(0), q.real(1), q.real(2), q.real(3), q.integer(4), {});
    }
    if (!wide && rawFrom < to) {
        sql::Stmt q(*db_, "SELECT t, v, x FROM raw WHERE s=? AND t>=? AND t<? ORDER BY t");
        q.bind(1, *row).bind(2, rawFrom).bind(3, to);
        while (q.step()) {
            const double v = q.real(1);
            bucketOf(q.integer(0)).take(q.integer(0), v, v, v, 1, r.kind == SeriesKind::Event ? q.text(2) : "");
        }
    }

    // The value in force when the range begins, so a state that did not change shows.
    if (r.kind != SeriesKind::Event) {
        std::optional<double> before;
        sql::Stmt q(*db_, "SELECT v FROM raw WHERE s=? AND t<? ORDER BY t DESC LIMIT 1");
        q.bind(1, *row).bind(2, from);
        if (q.step()) before = q.real(0);
        if (!before) {
            sql::Stmt f(*db_, "SELECT last FROM folded WHERE s=? AND t<? ORDER BY t DESC LIMIT 1");
            f.bind(1, *row).bind(2, from);
            if (f.step()) before = f.real(0);
        }
        // A change exactly at `from` is the value in force; an interval starting there is not.
        const bool changeAtFrom = !wide && buckets[0].used && buckets[0].t == from;
        if (before && !changeAtFrom) {
            if (buckets[0].used && buckets[0].t == from) ++buckets[0].t;
            r.t.push_back(from);
            r.min.push_back(*before);
            r.max.push_back(*before);
            r.last.push_back(*before);
        }
    }
    for (const Bucket& b : buckets) {
        if (!b.used) continue;
        r.t.push_back(b.t);
        if (r.kind == SeriesKind::Event) {
            r.text.push_back(eventText(b));
        } else {
            r.min.push_back(b.min);
            r.max.push_back(b.max);
            r.last.push_back(b.last);
        }
    }
    return r;
}

std::vector<Change> Store::changes(const std::string& id, std::int64_t from, std::int64_t to, std::size_t limit) {
    std::vector<Change> out;
    if (!db_ || to <= from || limit == 0) return out;
    const auto row = rowOf(id);
    if (!row) return out;
    sql::Stmt first(*db_, "SELECT min(t) FROM raw WHERE s=?");
    first.bind(1, *row);
    const std::int64_t rawFrom = first.step() && !first.null(0) ? std::max(from, first.integer(0)) : to;
    if (rawFrom > from) {
        const std::int64_t foldMs = std::int64_t{options_.settings.foldMinutes} * 60'000;
        sql::Stmt q(*db_, "SELECT t, lo, hi, last, n FROM folded WHERE s=? AND t>=? AND t<? ORDER BY t");
        q.bind(1, *row).bind(2, from).bind(3, rawFrom - foldMs + 1);
        while (out.size() < limit && q.step())
            out.push_back({.t = q.integer(0),
                           .value = q.real(3),
                           .min = q.real(1),
                           .max = q.real(2),
                           .text = std::to_string(q.integer(4)) + " changes",
                           .interval = true});
    }
    sql::Stmt q(*db_, "SELECT t, v, x FROM raw WHERE s=? AND t>=? AND t<? ORDER BY t");
    q.bind(1, *row).bind(2, rawFrom).bind(3, to);
    while (out.size() < limit && q.step()) {
        const double v = q.real(1);
        out.push_back({.t = q.integer(0), .value = v, .min = v, .max = v, .text = q.text(2), .interval = false});
    }
    return out;
}

std::optional<std::string> backup(const std::filesystem::path& from, const std::filesystem::path& to) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::exists(from, ec)) return "there is no " + from.string();
    fs::path tmp = to;
    tmp += ".partial";
    fs::remove(tmp, ec);
    try {
        sql::Db source(from, true);
        {
            sql::Db target(tmp);
            sqlite3_backup* b = sqlite3_backup_init(target.handle(), "main", source.handle(), "main");
            if (!b) target.fail(sqlite3_extended_errcode(target.handle()), "cannot start the copy");
            // One step: the source is read in one transaction, so the copy is one moment of it.
            const int rc = sqlite3_backup_step(b, -1);
            sqlite3_backup_finish(b);
            if (rc != SQLITE_DONE) target.fail(rc, "cannot copy " + from.string());
            // A copy that stands alone: no journal beside it.
            target.exec("PRAGMA journal_mode=DELETE");
        }
    } catch (const sql::Error& e) {
        fs::remove(tmp, ec);
        return e.what();
    }
    fs::rename(tmp, to, ec);
    if (ec) return "cannot rename " + tmp.string() + " to " + to.string() + ": " + ec.message();
    return std::nullopt;
}

}  // namespace varnel::history
