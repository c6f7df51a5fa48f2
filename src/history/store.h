#pragma once
// The history database: `history.sqlite` in the host directory, one writer (the run
// that holds the host directory's lock).
//
// Changes are gathered in memory and written in one transaction by flush(), which the
// recorder calls every few seconds: a kill loses at most what was gathered since. WAL
// with synchronous=NORMAL: a power cut loses at most the last transactions, never the
// file. Each flush also keeps a row per series and interval (minimum, maximum, last),
// so a month is read from those rows rather than from every change.
//
// maintain() keeps the bounds: changes older than rawDays go (their intervals stay),
// intervals older than keepDays go, and past the size cap the oldest day of changes
// goes first, then the oldest intervals.
//
// Nothing here stops the run. A file that cannot be opened as a history database is
// set aside ("history.sqlite.bad", numbered after the first) and a new one started,
// with one line to `log`; a flush that finds no room (a full disk) keeps what it had,
// says so once, and writes it all once there is room again.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/settings.h"

namespace varnel::history {

namespace sql {
class Db;
}

enum class SeriesKind : std::uint8_t { Value, State, Event };

[[nodiscard]] const char* kindName(SeriesKind k);
// What a series of that id holds when nobody said: var:N values, points and the link states, the rest events.
[[nodiscard]] SeriesKind kindOfId(std::string_view id);

struct Sample {
    std::string series;  // "var:12", "unit:1:point:5", "link", "x10", ...
    std::int64_t t = 0;  // ms since the epoch
    double value = 0;
    std::string text{};  // events
};

struct SeriesInfo {
    std::string id, name;
    SeriesKind kind = SeriesKind::Value;
    std::int64_t first = 0, last = 0;  // ms since the epoch
    std::int64_t count = 0;            // changes kept (intervals where the changes are gone)
};

// One series over a range: per bucket the minimum, maximum and last value, at the
// bucket's start; an event series gives each bucket's last text instead ("3 reports;
// last: ..." when it holds several).
struct Reduced {
    std::string id;
    SeriesKind kind = SeriesKind::Value;
    std::vector<std::int64_t> t{};
    std::vector<double> min{}, max{}, last{};
    std::vector<std::string> text{};
};

// One kept change (or interval, where the changes are gone: min and max differ).
struct Change {
    std::int64_t t = 0;
    double value = 0, min = 0, max = 0;
    std::string text{};
    bool interval = false;
};

struct Usage {
    std::uint64_t bytes = 0;  // pages in use
    std::int64_t changes = 0, intervals = 0;
    std::optional<std::int64_t> oldest;  // ms since the epoch
    bool paused = false;
    bool open = false;
};

struct StoreOptions {
    std::filesystem::path file;
    Settings settings{};
    std::function<void(const std::string&)> log{};
    // A copy (varnel history-backup) taken up when there is no database or it is damaged.
    std::filesystem::path restoreFrom{};
    // Tests: the most pages the database may have, read at every flush (a full disk).
    const std::int64_t* pageLimit = nullptr;
    // Changes held while the disk is full; past it the oldest go.
    std::size_t maxPending = 200'000;
};

class Store {
public:
    explicit Store(StoreOptions options);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // What a series is called and what it holds; kept with the next flush.
    void describe(const std::string& id, const std::string& name, SeriesKind kind);
    void add(Sample s);
    // Writes what was gathered in one transaction. False when it could not (kept for the next).
    bool flush();
    void maintain(std::int64_t nowMs);
    // Checkpoints the journal into the file (before a copy by other means, and at the end).
    void checkpoint();

    [[nodiscard]] std::vector<SeriesInfo> series();
    [[nodiscard]] std::optional<SeriesKind> kindOf(const std::string& id);
    // At most `points` buckets over [from, to); the value in force at `from` leads.
    [[nodiscard]] Reduced query(const std::string& id, std::int64_t from, std::int64_t to, int points);
    // The changes in [from, to), oldest first, at most `limit`.
    [[nodiscard]] std::vector<Change> changes(const std::string& id, std::int64_t from, std::int64_t to,
                                              std::size_t limit);
    [[nodiscard]] Usage usage();
    [[nodiscard]] std::size_t pending() const { return pending_.size(); }
    [[nodiscard]] const Settings& settings() const { return options_.settings; }
    [[nodiscard]] const std::filesystem::path& file() const { return options_.file; }

private:
    struct Described {
        std::string name;
        SeriesKind kind;
    };
    void open();
    void create();
    void setAside(const std::string& why);
    void restore();
    void damaged(const std::string& why);
    std::int64_t seriesRow(const std::string& id);
    void write();
    void fold(std::int64_t before);
    std::optional<std::int64_t> rowOf(const std::string& id);
    void say(const std::string& line) const;

    StoreOptions options_;
    std::unique_ptr<sql::Db> db_;
    std::deque<Sample> pending_;
    std::map<std::string, Described> described_;  // not yet written
    std::map<std::string, std::int64_t> rows_;    // series id -> row id
    bool paused_ = false;
    std::uint64_t dropped_ = 0;  // changes lost while paused
};

}  // namespace varnel::history

namespace varnel::history {
// A copy of the database at `from` as it stands at one moment, while a run writes it
// (SQLite's backup interface): written beside `to` and renamed into place. Why not, otherwise.
[[nodiscard]] std::optional<std::string> backup(const std::filesystem::path& from, const std::filesystem::path& to);
}  // namespace varnel::history
