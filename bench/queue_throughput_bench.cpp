// Queued variable writes through the whole plug-in, in real time: 49 writes pile
// up in the command queue while a host call has the plug-in busy, then the 50th
// QExec runs the I/O timer's tick, which works the queue off, one 8-byte frame and
// its 3-byte acknowledgement each. The wire limit is 11 bytes at 9600 baud,
// 11.5 ms a write; ratio = 50 x 11.5 ms / measured time (1.0 = the wire's limit;
// the simulator's 1 ms turnaround alone caps it near 0.92).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "live_plugin.h"

namespace varnel {
namespace {

constexpr int kWrites = 50;
constexpr double kWireMsPerWrite = 11.0 * 10.0 / 9600.0 * 1000.0;  // 11 bytes, 10 bits each

double nowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// What the host's SetIO queues for a variable device: the variables house code as
// a number, the variable number, command 19 and the value as brightness.
void queueWrite(HSPI& hspi, int var, int value) {
    hspi.QExec(Variant{}, "81", std::to_string(var), 19, static_cast<std::int16_t>(value), 0, 0);
}

void BM_QueuedVariableWrites(benchmark::State& state) {
    bench::LivePlugin live;
    live.settle(3000);
    PluginState& ctx = live.hspi->context();
    std::vector<double> ratios;
    int round = 0;
    for (auto _ : state) {
        ++round;
        // An I/O comparison the variable timer asked for would run after the queue, in
        // the same tick; it is not what is measured here, so let it happen first.
        live.loop.waitUntil(3000, [&] { return !ctx.timers.ioCheckRequest && !ctx.controller.startupIOCheck; });
        ctx.gate.busy = 1;
        for (int i = 0; i + 1 < kWrites; ++i) queueWrite(*live.hspi, i, round * 100 + i);
        ctx.gate.busy = 0;
        if (ctx.queue.count != kWrites - 1) {
            state.SkipWithError("the writes did not wait in the queue");
            return;
        }
        const std::uint64_t repliesBefore = live.wire.replies();
        const double t0 = nowMs();
        queueWrite(*live.hspi, kWrites - 1, round * 100 + kWrites - 1);
        const double took = nowMs() - t0;
        live.loop.waitUntil(200, [&] { return live.wire.replies() - repliesBefore >= kWrites; });
        if (ctx.queue.count != 0 || live.wire.replies() - repliesBefore < kWrites) {
            state.SkipWithError("not every write was acknowledged");
            return;
        }
        state.SetIterationTime(took / 1000.0);
        ratios.push_back(kWrites * kWireMsPerWrite / took);
        // Let the variable timer have its poll between rounds, as it would.
        live.settle(600);
    }
    std::sort(ratios.begin(), ratios.end());
    state.counters["ratio_median"] = ratios[ratios.size() / 2];
    state.counters["ratio_worst"] = ratios.front();
    state.counters["ms_per_write"] = kWrites * kWireMsPerWrite / ratios[ratios.size() / 2] / kWrites;
}
BENCHMARK(BM_QueuedVariableWrites)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace varnel
