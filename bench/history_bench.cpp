// The history's costs.
//
// BM_HistoryRecordingCpu: the whole plug-in in real time (Qt loop, paced pseudo-terminal,
// simulator) with variables 0-127 mirrored and all of them changed every second, plus
// 288 module points each changing every second (fed to the store directly: the
// simulator has one module). Phases of 15 s alternate without and with history, twice,
// in one run; counters: the process's CPU in percent of a core for each, the
// difference, the bytes given to the file system and the write calls per minute that
// history adds (/proc/self/io), and the changes recorded per second.
//
// BM_HistoryThirtyDays: a database filled as 30 days at that rate would leave it (the
// defaults: every change 7 days, 5-minute intervals, 512 MiB cap): the intervals of
// days 30 to 2 written as a flush writes them, the last day's changes through the store
// until the cap holds; then its size, and a 30-day query of 1 and of 4 series reduced
// to 800 points (median of 20).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "console/console.h"
#include "entities/plugin_view.h"
#include "history/recorder.h"
#include "history/sqlite.h"
#include "history/store.h"
#include "live_plugin.h"
#include "measure.h"

namespace varnel {
namespace {

constexpr int kVariables = 128;
constexpr int kPoints = 288;
constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// write_bytes and syscw of /proc/self/io.
std::pair<double, double> ioWrites() {
    std::ifstream f("/proc/self/io");
    std::string key;
    double v = 0, bytes = 0, calls = 0;
    while (f >> key >> v) {
        if (key == "write_bytes:") bytes = v;
        if (key == "syscw:") calls = v;
    }
    return {bytes, calls};
}

std::int64_t epochMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string pointId(int i) { return "unit:" + std::to_string(i / 16 + 2) + ":point:" + std::to_string(i % 16); }

void BM_HistoryRecordingCpu(benchmark::State& state) {
    bench::LivePlugin live;
    live.settle(3000);
    console::Console console(*live.hspi, *live.host);
    if (console.execute("mirror vars 0-127").outcome != console::Reply::Outcome::Done) {
        state.SkipWithError("the variables could not be mirrored");
        return;
    }
    live.settle(3000);
    entities::PluginView view(*live.hspi);
    int round = 0;
    struct Phase {
        double cpu = 0, wall = 0, bytes = 0, calls = 0, changes = 0;
    };
    auto run = [&](bool history, Phase& into) {
        std::unique_ptr<history::Store> store;
        std::unique_ptr<history::Recorder> recorder;
        if (history) {
            store = std::make_unique<history::Store>(history::StoreOptions{.file = live.dir.path() / "history.sqlite"});
            recorder = std::make_unique<history::Recorder>(*store, live.loop, *live.host, view);
            for (int p = 0; p < kPoints; ++p)
                store->describe(pointId(p), "Point " + std::to_string(p), history::SeriesKind::State);
        }
        const double changesBefore = store ? static_cast<double>(store->usage().changes) : 0;
        const auto io = ioWrites();
        const double cpu = cpuSeconds(), wall = wallSeconds();
        for (int s = 0; s < 15; ++s) {
            const double secondStart = wallSeconds();
            ++round;
            live.wire.post([round](sim::Controller& c) {
                for (int v = 0; v < kVariables; ++v)
                    c.setVariable(v, static_cast<std::uint16_t>((round * 7 + v) % 1000));
            });
            if (store)
                for (int p = 0; p < kPoints; ++p)
                    store->add({.series = pointId(p), .t = epochMs(), .value = static_cast<double>((round + p) % 2)});
            live.loop.wait(static_cast<int>(std::max(0.0, 1000 - (wallSeconds() - secondStart) * 1000)));
        }
        if (store) store->flush();
        const auto io2 = ioWrites();
        into.cpu += cpuSeconds() - cpu;
        into.wall += wallSeconds() - wall;
        into.bytes += io2.first - io.first;
        into.calls += io2.second - io.second;
        if (store) into.changes += static_cast<double>(store->usage().changes) - changesBefore;
    };
    Phase off, on;
    for (auto _ : state) {
        for (int i = 0; i < 2; ++i) {
            run(false, off);
            run(true, on);
        }
    }
    state.counters["cpu_off_pct"] = 100 * off.cpu / off.wall;
    state.counters["cpu_on_pct"] = 100 * on.cpu / on.wall;
    state.counters["cpu_added_points"] = 100 * on.cpu / on.wall - 100 * off.cpu / off.wall;
    // The pseudo-terminal's writes are in both phases: what history adds is the difference.
    state.counters["write_kib_per_min_added"] = (on.bytes / on.wall - off.bytes / off.wall) * 60 / 1024;
    state.counters["write_calls_per_min_added"] = (on.calls / on.wall - off.calls / off.wall) * 60;
    state.counters["changes_per_s"] = on.changes / on.wall;
}
BENCHMARK(BM_HistoryRecordingCpu)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_HistoryThirtyDays(benchmark::State& state) {
    bench::ScratchDir dir;
    const auto file = dir.path() / "history.sqlite";
    const std::int64_t now = epochMs();
    std::vector<std::string> ids;
    for (int v = 0; v < kVariables; ++v) ids.push_back("var:" + std::to_string(v));
    for (int p = 0; p < kPoints; ++p) ids.push_back(pointId(p));
    double fillSeconds = 0;
    {
        history::Store store(history::StoreOptions{.file = file});
        for (const auto& id : ids)
            store.describe(id, id, id.starts_with("var:") ? history::SeriesKind::Value : history::SeriesKind::State);
        store.add({.series = ids[0], .t = now - 30 * kDayMs, .value = 0});
        store.flush();
        const double t0 = wallSeconds();
        {
            // 300 changes a series an interval, folded as a flush folds them.
            history::sql::Db db(file);
            db.exec("BEGIN");
            history::sql::Stmt ins(db,
                                   "INSERT OR REPLACE INTO folded(s, t, lo, hi, last, n) VALUES(?, ?, ?, ?, ?, 300)");
            for (std::int64_t t = (now - 30 * kDayMs) / 300'000 * 300'000; t < now - kDayMs; t += 300'000)
                for (std::int64_t s = 1; s <= static_cast<std::int64_t>(ids.size()); ++s) {
                    ins.bind(1, s)
                        .bind(2, t)
                        .bind(3, 0.0)
                        .bind(4, s <= kVariables ? 999.0 : 1.0)
                        .bind(5, double(t % 7));
                    ins.run();
                }
            db.exec("UPDATE series SET first=" + std::to_string(now - 30 * kDayMs) + ", n=0");
            db.exec("COMMIT");
        }
        // The last day's changes, every series every second, newest last, until the cap holds.
        const std::uint64_t cap = std::uint64_t{512} * 1024 * 1024;
        for (std::int64_t t = now - kDayMs; t < now && store.usage().bytes < cap; t += 60'000) {
            for (std::int64_t ms = t; ms < t + 60'000; ms += 1000)
                for (std::size_t i = 0; i < ids.size(); ++i)
                    store.add({.series = ids[i],
                               .t = ms,
                               .value = static_cast<double>((ms / 1000 + i) % (i < kVariables ? 1000 : 2))});
            store.flush();
        }
        store.maintain(now);
        fillSeconds = wallSeconds() - t0;
    }
    history::Store store(history::StoreOptions{.file = file});
    std::vector<double> one, four;
    for (auto _ : state) {
        for (int i = 0; i < 20; ++i) {
            double t = bench::nowNs();
            benchmark::DoNotOptimize(store.query("var:12", now - 30 * kDayMs, now, 800));
            one.push_back((bench::nowNs() - t) / 1e3);
            t = bench::nowNs();
            for (const char* id : {"var:12", "var:13", "unit:2:point:5", "unit:3:point:0"})
                benchmark::DoNotOptimize(store.query(id, now - 30 * kDayMs, now, 800));
            four.push_back((bench::nowNs() - t) / 1e3);
        }
    }
    const auto u = store.usage();
    state.counters["size_mib"] = static_cast<double>(std::filesystem::file_size(file)) / (1024.0 * 1024);
    state.counters["pages_mib"] = static_cast<double>(u.bytes) / (1024.0 * 1024);
    state.counters["changes_kept"] = static_cast<double>(u.changes);
    state.counters["fill_s"] = fillSeconds;
    state.counters["query1_median_ms"] = bench::percentile(one, 0.5) / 1000;
    state.counters["query1_max_ms"] = bench::percentile(one, 1.0) / 1000;
    state.counters["query4_median_ms"] = bench::percentile(four, 0.5) / 1000;
    state.counters["query4_max_ms"] = bench::percentile(four, 1.0) / 1000;
}
BENCHMARK(BM_HistoryThirtyDays)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace
}  // namespace varnel
