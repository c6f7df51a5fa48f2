#include "history/store.h"

#include <algorithm>
#include <cmath>

#include "files/files.h"
#include "history/sqlite.h"

namespace varnel::history {

namespace {

constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;
constexpr std::int64_t kHourMs = 3600LL * 1000;
// The cap is met an hour of the oldest rows at a time, at most this many hours per
// pass, so that one pass never holds the loop for long; the next pass goes on.
constexpr int kCapStepsPerPass = 48;
constexpr int kSchemaVersion = 1;

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS series(id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE, name TEXT NOT NULL,
  kind INTEGER NOT NULL, first INTEGER, last INTEGER, n INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS raw(s INTEGER NOT NULL, t INTEGER NOT NULL, v REAL, x TEXT,
  PRIMARY KEY(s, t)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS folded(s INTEGER NOT NULL, t INTEGER NOT NULL, lo REAL, hi REAL, last REAL,
  n INTEGER NOT NULL, PRIMARY KEY(s, t)) WITHOUT ROWID;
)";

struct Transaction {
    explicit Transaction(sql::Db& db) : db(db) { db.exec("BEGIN IMMEDIATE"); }
    ~Transaction() {
        if (!done) try {
                db.exec("ROLLBACK");
            } catch (const sql::Error&) {
            }
    }
    void commit() {
        db.exec("COMMIT");
        done = true;
    }
    sql::Db& db;
    bool done = false;
};

}  // namespace

SeriesKind kindOfId(std::string_view id) {
    if (id.starts_with("var:")) return SeriesKind::Value;
    if (id.starts_with("unit:") || id == "link") return SeriesKind::State;
    return SeriesKind::Event;
}

const char* kindName(SeriesKind k) {
    switch (k) {
        case SeriesKind::State: return "state";
        case SeriesKind::Event: return "event";
        case SeriesKind::Value: break;
    }
    return "value";
}

Store::Store(StoreOptions options) : options_(std::move(options)) { open(); }

Store::~Store() {
    flush();
    if (db_) try {
            checkpoint();
        } catch (const sql::Error&) {
        }
}

void Store::say(const std::string& line) const {
    if (options_.log) options_.log(line);
}

void Store::restore() {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (options_.restoreFrom.empty() || fs::exists(options_.file, ec) || !fs::exists(options_.restoreFrom, ec)) return;
    fs::rename(options_.restoreFrom, options_.file, ec);
    if (ec)
        say("history: cannot take up the copy " + options_.restoreFrom.string() + ": " + ec.message());
    else
        say("history: " + options_.file.string() + " is taken up from the copy " + options_.restoreFrom.string());
}

void Store::open() {
    rows_.clear();
    restore();
    std::string why;
    try {
        db_ = std::make_unique<sql::Db>(options_.file);
        create();
        return;
    } catch (const sql::Error& e) {
        db_.reset();
        if (!e.damaged()) {
            say("history: " + std::string(e.what()) + "; history is not kept in this run");
            return;
        }
        why = std::string("is damaged (") + e.what() + ")";
    } catch (const std::runtime_error& e) {
        db_.reset();
        why = e.what();
    }
    try {
        setAside(why);
        restore();
        db_ = std::make_unique<sql::Db>(options_.file);
        create();
    } catch (const files::FileError&) {
        db_.reset();  // said by setAside
    } catch (const std::exception& e) {
        db_.reset();
        say("history: cannot start a new " + options_.file.string() + ": " + e.what() +
            "; history is not kept in this run");
    }
}

void Store::create() {
    // Reading the header is what finds a file that is not a database at all.
    const auto version = db_->integer("PRAGMA user_version").value_or(0);
    const auto tables = db_->integer("SELECT count(*) FROM sqlite_schema").value_or(0);
    if (version != kSchemaVersion && (version != 0 || tables != 0))
        throw std::runtime_error("is not a history database of this varnel");
    // Freed pages go back to the file system at each maintenance.
    if (tables == 0) db_->exec("PRAGMA auto_vacuum=INCREMENTAL");
    db_->exec("PRAGMA journal_mode=WAL");
    db_->exec("PRAGMA synchronous=NORMAL");
    db_->exec("PRAGMA journal_size_limit=16777216");
    db_->exec(kSchema);
    db_->exec("PRAGMA user_version=" + std::to_string(kSchemaVersion));
}

void Store::setAside(const std::string& why) {
    namespace fs = std::filesystem;
    const fs::path& file = options_.file;
    try {
        const fs::path copy = files::setAsideMove(file, ".bad");
        // The journal of the old file belongs to it, not to the new one.
        for (const char* side : {"-wal", "-shm"}) {
            fs::path p = file;
            p += side;
            std::error_code ec;
            if (fs::exists(p, ec)) {
                fs::path to = copy;
                to += side;
                fs::rename(p, to, ec);
                if (ec) fs::remove(p, ec);
            }
        }
        say("history: " + file.string() + " " + why + "; kept as " + copy.string() + ", a new one is started");
    } catch (const files::FileError& e) {
        say("history: " + file.string() + " " + why + " and cannot be set aside (" + e.what() +
            "); history is not kept in this run");
        throw;
    }
}

void Store::damaged(const std::string& why) {
    db_.reset();
    try {
        setAside("is damaged (" + why + ")");
    } catch (const files::FileError&) {
        return;
    }
    open();
}

void Store::describe(const std::string& id, const std::string& name, SeriesKind kind) { described_[id] = {name, kind}; }

void Store::add(Sample s) {
    if (pending_.size() >= options_.maxPending) {
        pending_.pop_front();
        ++dropped_;
    }
    pending_.push_back(std::move(s));
}

std::optional<std::int64_t> Store::rowOf(const std::string& id) {
    if (auto it = rows_.find(id); it != rows_.end()) return it->second;
    sql::Stmt s(*db_, "SELECT id FROM series WHERE key=?");
    s.bind(1, id);
    if (!s.step()) return std::nullopt;
    return rows_[id] = s.integer(0);
}

std::int64_t Store::seriesRow(const std::string& id) {
    if (auto row = rowOf(id)) return *row;
    const auto d = described_.find(id);
    sql::Stmt s(*db_, "INSERT INTO series(key, name, kind) VALUES(?, ?, ?)");
    s.bind(1, id).bind(2, d == described_.end() ? id : d->second.name);
    s.bind(3, std::int64_t{static_cast<int>(d == described_.end() ? kindOfId(id) : d->second.kind)});
    s.run();
    return rows_[id] = sqlite3_last_insert_rowid(db_->handle());
}

void Store::write() {
    if (options_.pageLimit) db_->exec("PRAGMA max_page_count=" + std::to_string(*options_.pageLimit));
    Transaction tx(*db_);
    {
        sql::Stmt up(*db_,
                     "INSERT INTO series(key, name, kind) VALUES(?, ?, ?) ON CONFLICT(key) DO UPDATE SET "
                     "name=excluded.name, kind=excluded.kind");
        for (const auto& [id, d] : described_) {
            up.bind(1, id).bind(2, d.name).bind(3, std::int64_t{static_cast<int>(d.kind)});
            up.run();
        }
    }
    struct Interval {
        double lo, hi, last;
        std::int64_t n;
    };
    struct Span {
        std::int64_t first, last, n;
    };
    std::map<std::pair<std::int64_t, std::int64_t>, Interval> intervals;
    std::map<std::int64_t, Span> spans;
    const std::int64_t foldMs = std::int64_t{options_.settings.foldMinutes} * 60'000;
    sql::Stmt ins(*db_, "INSERT OR REPLACE INTO raw(s, t, v, x) VALUES(?, ?, ?, ?)");
    for (const Sample& p : pending_) {
        const std::int64_t row = seriesRow(p.series);
        ins.bind(1, row).bind(2, p.t).bind(3, p.value);
        if (p.text.empty())
            ins.bindNull(4);
        else
            ins.bind(4, p.text);
        ins.run();
        const std::int64_t bucket = p.t - ((p.t % foldMs) + foldMs) % foldMs;
        auto [it, fresh] = intervals.try_emplace({row, bucket}, Interval{p.value, p.value, p.value, 1});
        if (!fresh) {
            it->second.lo = std::min(it->second.lo, p.value);
            it->second.hi = std::max(it->second.hi, p.value);
            it->second.last = p.value;
            ++it->second.n;
        }
        auto [sp, made] = spans.try_emplace(row, Span{p.t, p.t, 1});
        if (!made) {
            sp->second.first = std::min(sp->second.first, p.t);
            sp->second.last = std::max(sp->second.last, p.t);
            ++sp->second.n;
        }
    }
    sql::Stmt fold(*db_,
                   "INSERT INTO folded(s, t, lo, hi, last, n) VALUES(?, ?, ?, ?, ?, ?) ON CONFLICT(s, t) DO UPDATE "
                   "SET lo=min(lo, excluded.lo), hi=max(hi, excluded.hi), last=excluded.last, n=n+excluded.n");
    for (const auto& [key, i] : intervals) {
        fold.bind(1, key.first).bind(2, key.second).bind(3, i.lo).bind(4, i.hi).bind(5, i.last).bind(6, i.n);
        fold.run();
    }
    sql::Stmt span(*db_,
                   "UPDATE series SET first=min(coalesce(first, ?1), ?1), last=max(coalesce(last, ?2), ?2), "
                   "n=n+?3 WHERE id=?4");
    for (const auto& [row, s] : spans) {
        span.bind(1, s.first).bind(2, s.last).bind(3, s.n).bind(4, row);
        span.run();
    }
    tx.commit();
}

bool Store::flush() {
    if (!db_ || (pending_.empty() && described_.empty())) return true;
    try {
        write();
    } catch (const sql::Error& e) {
        rows_.clear();  // rows made in the failed transaction are gone
        if (e.damaged()) {
            damaged(e.what());
            return false;
        }
        if (!paused_)
            say("history: cannot write " + options_.file.string() + " (" + e.what() + "); recording paused, " +
                std::to_string(pending_.size()) + " changes held and written when there is room");
        paused_ = true;
        return false;
    }
    pending_.clear();
    described_.clear();
    if (paused_) {
        say("history: recording again" +
            (dropped_ ? "; " + std::to_string(dropped_) + " changes were lost while it could not write"
                      : std::string()));
        paused_ = false;
        dropped_ = 0;
    }
    return true;
}

void Store::maintain(std::int64_t nowMs) {
    if (!db_) return;
    const Settings& s = options_.settings;
    try {
        std::vector<std::int64_t> rows;
        {
            sql::Stmt all(*db_, "SELECT id FROM series");
            while (all.step()) rows.push_back(all.integer(0));
        }
        // Per series, so each delete is a range of the primary key, not a scan.
        auto dropBefore = [&](const char* table, std::int64_t before) {
            Transaction tx(*db_);
            sql::Stmt del(*db_, std::string("DELETE FROM ") + table + " WHERE s=? AND t<?");
            sql::Stmt n(*db_, "UPDATE series SET n=max(0, n-?) WHERE id=?");
            for (std::int64_t row : rows) {
                del.bind(1, row).bind(2, before);
                del.run();
                const int gone = sqlite3_changes(db_->handle());
                if (gone && std::string_view(table) == "raw") {
                    n.bind(1, std::int64_t{gone}).bind(2, row);
                    n.run();
                }
            }
            tx.commit();
        };
        auto oldest = [&](const char* table) {
            std::optional<std::int64_t> t;
            sql::Stmt q(*db_, std::string("SELECT min(t) FROM ") + table + " WHERE s=?");
            for (std::int64_t row : rows) {
                q.bind(1, row);
                if (q.step() && !q.null(0)) t = std::min(t.value_or(q.integer(0)), q.integer(0));
                q.reset();
            }
            return t;
        };
        dropBefore("raw", nowMs - std::int64_t{s.rawDays} * kDayMs);
        dropBefore("folded", nowMs - std::int64_t{s.keepDays} * kDayMs);
        const std::uint64_t cap = std::uint64_t(s.maxMb) * 1024 * 1024;
        for (int step = 0; step < kCapStepsPerPass && usage().bytes > cap; ++step) {
            if (auto t = oldest("raw"))
                dropBefore("raw", *t + kHourMs);
            else if (auto f = oldest("folded"))
                dropBefore("folded", *f + kHourMs);
            else
                break;
        }
        db_->exec(
            "UPDATE series SET first=coalesce((SELECT min(t) FROM raw WHERE s=series.id), "
            "(SELECT min(t) FROM folded WHERE s=series.id))");
        db_->exec("PRAGMA incremental_vacuum");
    } catch (const sql::Error& e) {
        rows_.clear();
        if (e.damaged()) damaged(e.what());
        // No room: the next flush says so; the rows go at the next pass.
    }
}

void Store::checkpoint() {
    if (db_) db_->exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

Usage Store::usage() {
    Usage u;
    u.paused = paused_;
    if (!db_) return u;
    u.open = true;
    try {
        const auto pages = db_->integer("PRAGMA page_count").value_or(0);
        const auto freePages = db_->integer("PRAGMA freelist_count").value_or(0);
        const auto size = db_->integer("PRAGMA page_size").value_or(0);
        u.bytes = static_cast<std::uint64_t>(std::max<std::int64_t>(0, pages - freePages) * size);
        u.changes = db_->integer("SELECT sum(n) FROM series").value_or(0);
        u.oldest = db_->integer("SELECT min(first) FROM series");
    } catch (const sql::Error&) {
    }
    return u;
}

}  // namespace varnel::history
