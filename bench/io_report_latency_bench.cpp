// From an input change report leaving the controller to the host hearing of it,
// in real time through the whole plug-in: the simulator on a paced pseudo-terminal
// puts the 4-byte report F0 module point value on the line; the plug-in (port
// receive event, I/O timer tick, event delivery) calls the embedded host's
// SetDeviceStatus for the point's device. Reported: median, 90th percentile and
// worst time from the report's last byte to that call. The variable timer keeps
// polling meanwhile, so some reports land behind a block read, as they would.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <vector>

#include "devices/device_model.h"
#include "devices/mappings.h"
#include "live_plugin.h"
#include "measure.h"

namespace varnel {
namespace {

using bench::nowNs;
using bench::reportLatencies;

void BM_InputReportToSetDeviceStatus(benchmark::State& state) {
    bench::LivePlugin live;
    PluginState& ctx = live.hspi->context();
    live.mirror(8);
    const umap* mapping = mappingOfUnit(ctx, 1);
    if (!mapping) {
        state.SkipWithError("no devices for the SECU16");
        return;
    }
    const std::string hc = mapping->hc();
    live.settle(3000);

    std::string awaited;
    std::int64_t heardNs = 0;
    bool duringExchange = false;
    int duringExchanges = 0;
    live.host->onEvent = [&](const host::HostEvent& e) {
        if (e.kind != host::HostEvent::Kind::StatusSet || e.code != awaited || heardNs != 0) return;
        heardNs = nowNs();
        // The response loop of a running exchange read the report, not the port's receive event.
        duringExchange = ctx.gate.exchangeDepth > 0;
    };
    std::vector<double> latenciesUs;
    int i = 0;
    for (auto _ : state) {
        awaited = hc + std::to_string(i % 8 + 1);
        heardNs = 0;
        const auto change = live.changeInput(i++);
        if (!live.loop.waitUntil(2000, [&] { return heardNs != 0 && live.wire.reports() > change.reportsBefore; })) {
            state.SkipWithError("the host never heard of the change");
            return;
        }
        const double us = static_cast<double>(heardNs - live.wire.lastReportByteNs()) / 1000.0;
        if (duringExchange) ++duringExchanges;
        latenciesUs.push_back(us);
        state.SetIterationTime(us / 1e6);
        // Spread the reports over the variable timer's cycle.
        live.settle(37 + (i * 53) % 200);
    }
    reportLatencies(state, latenciesUs);
    state.counters["in_exchange_pct"] = 100.0 * duringExchanges / static_cast<double>(latenciesUs.size());
    state.counters["over_5ms_pct"] =
        100.0 *
        static_cast<double>(std::count_if(latenciesUs.begin(), latenciesUs.end(), [](double v) { return v > 5000; })) /
        static_cast<double>(latenciesUs.size());
}
BENCHMARK(BM_InputReportToSetDeviceStatus)->UseManualTime()->Iterations(100)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace varnel
