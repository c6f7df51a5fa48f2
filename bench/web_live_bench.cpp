// From an input change report leaving the controller to the browser's WebSocket
// hearing of it, in real time through the whole plug-in and the web page's server:
// the simulator on a paced pseudo-terminal puts F0 module point value on the line;
// the plug-in sets the point's host device; the server sends {"type":"point"} to
// every connected client. Reported: median, 90th percentile and worst time from the
// report's last byte to the message at the first client, with 1 and with 20 clients.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

#include "console/console.h"
#include "devices/device_model.h"
#include "live_plugin.h"
#include "measure.h"
#include "web_audience.h"

namespace varnel {
namespace {

using bench::nowNs;
using bench::reportLatencies;

void BM_InputReportToWebSocket(benchmark::State& state) {
    bench::LivePlugin live;
    live.mirror(8);
    live.settle(3000);

    console::Console console(*live.hspi, *live.host);
    // Set on the browsers' thread.
    std::atomic<std::int64_t> heardNs{0};
    bench::WebAudience web(live, console, static_cast<int>(state.range(0)), [&heardNs](const QString& text) {
        if (heardNs == 0 && text.startsWith(QLatin1String(R"({"on":)"))) heardNs = nowNs();
    });
    if (web.error()) {
        state.SkipWithError(web.error()->c_str());
        return;
    }
    live.settle(500);

    std::vector<double> latenciesUs;
    int i = 0;
    for (auto _ : state) {
        heardNs = 0;
        const auto change = live.changeInput(i++);
        if (!live.loop.waitUntil(2000, [&] { return heardNs != 0 && live.wire.reports() > change.reportsBefore; })) {
            state.SkipWithError("no point message reached the client");
            return;
        }
        const double us = static_cast<double>(heardNs.load() - live.wire.lastReportByteNs()) / 1000.0;
        latenciesUs.push_back(us);
        state.SetIterationTime(us / 1e6);
        live.settle(37 + (i * 53) % 200);
    }
    reportLatencies(state, latenciesUs);
    state.counters["dropped"] = static_cast<double>(web.dropped());
}
BENCHMARK(BM_InputReportToWebSocket)->Arg(1)->Arg(20)->UseManualTime()->Iterations(100)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace varnel
