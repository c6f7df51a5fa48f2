// The history store's rules: one transaction per batch, changes folded into intervals
// and dropped by age, the size cap, a damaged file set aside, a full disk.
#include <gtest/gtest.h>

#include <cmath>

#include "history/sqlite.h"
#include "history/store.h"
#include "rig.h"
#include "text_files.h"

namespace varnel::history {
namespace {

constexpr std::int64_t kDay = 24LL * 3600 * 1000;
constexpr std::int64_t kNow = 1'800'000'000'000;  // 2027-01-15

struct StoreRig {
    explicit StoreRig(Settings s = {}) : settings(s) {}
    Store& open() {
        store = std::make_unique<Store>(StoreOptions{.file = file(),
                                                     .settings = settings,
                                                     .log = [this](const std::string& l) { log.push_back(l); },
                                                     .pageLimit = &pageLimit});
        return *store;
    }
    [[nodiscard]] std::filesystem::path file() const { return dir.path() / "history.sqlite"; }
    // What another connection sees (a reader, a copy).
    std::int64_t rawRows() {
        sql::Db reader(file(), true);
        return reader.integer("SELECT count(*) FROM raw").value_or(-1);
    }
    test::TempDir dir;
    Settings settings;
    std::int64_t pageLimit = 1'000'000'000;
    std::vector<std::string> log;
    std::unique_ptr<Store> store;
};

TEST(HistoryStore, a_batch_is_invisible_until_its_flush_and_then_whole) {
    StoreRig r;
    Store& s = r.open();
    s.describe("var:3", "Variable 3", SeriesKind::Value);
    for (int i = 0; i < 3; ++i) s.add({.series = "var:3", .t = kNow + i * 1000, .value = double(i)});
    ASSERT_TRUE(s.flush());  // the series alone was written before
    s.add({.series = "var:3", .t = kNow + 5000, .value = 9});
    EXPECT_EQ(r.rawRows(), 3);
    ASSERT_TRUE(s.flush());
    EXPECT_EQ(r.rawRows(), 4);
    const auto list = s.series();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, "Variable 3");
    EXPECT_EQ(list[0].count, 4);
    EXPECT_EQ(list[0].first, kNow);
    EXPECT_EQ(list[0].last, kNow + 5000);
}

TEST(HistoryStore, changes_are_folded_after_the_raw_days_and_dropped_after_the_kept_days) {
    struct Row {
        const char* name;
        std::int64_t ageDays;
        std::vector<Change> want;  // t relative to the first change
    };
    const Row rows[] = {
        {"recent: every change", 1, {{.t = 0, .value = 1}, {.t = 1000, .value = 5}, {.t = 2000, .value = 3}}},
        {"past raw days: one interval", 8, {{.t = 0, .value = 3, .min = 1, .max = 5, .interval = true}}},
        {"past kept days: gone", 31, {}},
    };
    for (const Row& row : rows) {
        StoreRig r(Settings{.rawDays = 7, .keepDays = 30, .foldMinutes = 5});
        Store& s = r.open();
        const std::int64_t t0 = (kNow - row.ageDays * kDay) / 300'000 * 300'000;
        for (int i = 0; const double v : {1.0, 5.0, 3.0}) s.add({.series = "var:1", .t = t0 + 1000 * i++, .value = v});
        ASSERT_TRUE(s.flush());
        s.maintain(kNow);
        const auto got = s.changes("var:1", 0, kNow + kDay, 100);
        ASSERT_EQ(got.size(), row.want.size()) << row.name;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].t - t0, row.want[i].t) << row.name;
            EXPECT_EQ(got[i].value, row.want[i].value) << row.name;
            EXPECT_EQ(got[i].interval, row.want[i].interval) << row.name;
            if (got[i].interval) {
                EXPECT_EQ(std::pair(got[i].min, got[i].max), std::pair(1.0, 5.0)) << row.name;
            }
        }
    }
}

TEST(HistoryStore, a_reduced_range_keeps_every_spike_and_the_value_in_force_at_its_start) {
    for (const int foldMinutes : {1, 60}) {  // read from the changes, and from the intervals
        StoreRig r(Settings{.foldMinutes = foldMinutes});
        Store& s = r.open();
        s.add({.series = "var:7", .t = kNow - 1000, .value = 42});
        for (int i = 0; i < 7200; ++i)
            s.add({.series = "var:7", .t = kNow + 500 + i * 1000LL, .value = i == 4321 ? 100.0 : double(i % 2)});
        ASSERT_TRUE(s.flush());
        const Reduced q = s.query("var:7", kNow, kNow + 7201 * 1000LL, 24);
        ASSERT_FALSE(q.t.empty());
        EXPECT_LE(q.t.size(), 25u) << foldMinutes;
        EXPECT_EQ(q.t.front(), kNow);
        EXPECT_EQ(q.last.front(), 42) << foldMinutes;
        EXPECT_TRUE(std::is_sorted(q.t.begin(), q.t.end()));
        EXPECT_EQ(*std::max_element(q.max.begin(), q.max.end()), 100) << foldMinutes;
        EXPECT_EQ(*std::min_element(q.min.begin(), q.min.end()), 0) << foldMinutes;
    }
}

TEST(HistoryStore, past_the_size_cap_the_oldest_changes_go_first) {
    StoreRig r(Settings{.rawDays = 30, .keepDays = 60, .foldMinutes = 5, .maxMb = 1});
    Store& s = r.open();
    for (int day = 10; day >= 1; --day) {
        for (int i = 0; i < 4000; ++i)
            s.add(
                {.series = "var:" + std::to_string(i % 8), .t = kNow - day * kDay + i * 10'000LL, .value = double(i)});
        ASSERT_TRUE(s.flush());
    }
    ASSERT_GT(s.usage().bytes, 1024u * 1024);
    s.maintain(kNow);
    const Usage u = s.usage();
    EXPECT_LE(u.bytes, 1024u * 1024);
    ASSERT_TRUE(u.oldest);
    EXPECT_GT(*u.oldest, kNow - 10 * kDay);
    // The newest day is whole.
    EXPECT_EQ(s.changes("var:0", kNow - kDay, kNow, 10'000).size(), 500u);
    EXPECT_LE(std::filesystem::file_size(r.file()), 2u * 1024 * 1024);
}

TEST(HistoryStore, a_file_that_is_no_history_database_is_set_aside_and_a_new_one_started) {
    struct Row {
        const char* name;
        std::function<void(const std::filesystem::path&)> make;
    };
    const Row rows[] = {
        {"garbage", [](const auto& f) { test::writeFile(f, std::string(8192, 'x')); }},
        {"another program's database", [](const auto& f) { sql::Db(f).exec("CREATE TABLE t(a)"); }},
        {"a cut database",
         [](const auto& f) {
             {
                 sql::Db db(f);
                 db.exec("CREATE TABLE t(a); INSERT INTO t VALUES(randomblob(100000))");
             }
             std::filesystem::resize_file(f, 5000);
         }},
    };
    for (const Row& row : rows) {
        StoreRig r;
        row.make(r.file());
        Store& s = r.open();
        ASSERT_EQ(r.log.size(), 1u) << row.name;
        EXPECT_NE(r.log[0].find("kept as " + r.file().string() + ".bad, a new one is started"), std::string::npos)
            << r.log[0];
        EXPECT_TRUE(std::filesystem::exists(r.file().string() + ".bad")) << row.name;
        s.add({.series = "link", .t = kNow, .value = 1});
        EXPECT_TRUE(s.flush()) << row.name;
        EXPECT_EQ(s.series().size(), 1u) << row.name;
    }
}

TEST(HistoryStore, a_full_disk_pauses_recording_once_and_resumes_with_everything_held) {
    StoreRig r;
    Store& s = r.open();
    s.add({.series = "var:1", .t = kNow, .value = 1});
    ASSERT_TRUE(s.flush());
    r.pageLimit = sql::Db(r.file(), true).integer("PRAGMA page_count").value_or(0);
    for (int batch = 0; batch < 2; ++batch) {
        for (int i = 0; i < 2000; ++i)
            s.add({.series = "var:2", .t = kNow + batch * 10'000'000LL + i, .value = 1.0 * i});
        EXPECT_FALSE(s.flush());
    }
    ASSERT_EQ(r.log.size(), 1u);
    EXPECT_NE(r.log[0].find("recording paused"), std::string::npos) << r.log[0];
    EXPECT_TRUE(s.usage().paused);
    r.pageLimit = 1'000'000;
    EXPECT_TRUE(s.flush());
    ASSERT_EQ(r.log.size(), 2u);
    EXPECT_EQ(r.log[1], "history: recording again");
    EXPECT_EQ(r.rawRows(), 4001);
}

TEST(HistoryStore, a_copy_taken_while_the_store_writes_is_taken_up_where_the_database_is_gone) {
    StoreRig r;
    Store& s = r.open();
    for (int i = 0; i < 500; ++i) s.add({.series = "var:4", .t = kNow + i, .value = double(i)});
    ASSERT_TRUE(s.flush());
    const auto copy = r.dir.path() / "history-backup.sqlite";
    ASSERT_EQ(backup(r.file(), copy), std::nullopt);
    s.add({.series = "var:4", .t = kNow + 1000, .value = 1});  // after the copy: not in it
    ASSERT_TRUE(s.flush());
    r.store.reset();
    // What a restored host directory holds when the live file was left out of the copy.
    for (const char* side : {"", "-wal", "-shm"}) std::filesystem::remove(r.file().string() + side);
    Store again(
        StoreOptions{.file = r.file(), .log = [&r](const std::string& l) { r.log.push_back(l); }, .restoreFrom = copy});
    EXPECT_EQ(again.changes("var:4", 0, kNow * 2, 1000).size(), 500u);
    EXPECT_FALSE(std::filesystem::exists(copy));
    ASSERT_FALSE(r.log.empty());
    EXPECT_NE(r.log.back().find("is taken up from the copy"), std::string::npos) << r.log.back();
}

}  // namespace
}  // namespace varnel::history
