// What a serial server on the network adds, on loopback: the plug-in's link on
// QtPort, the controller simulator on a pseudo-terminal paced at 9600 baud, reached
// directly and through a real ser2net (raw TCP and RFC 2217). Exchanges start at
// random moments (0 to 150 ms apart), as commands and polls meet a line.
//
//   BM_BlockRead/<route>      frame out to ReadResponse returning with the 264-byte
//                             reply: the time a user meets for one block read
//   BM_CommandToLine/<route>  SendBytes called to the frame's first byte read at the
//                             controller's end of the line (first_byte_*), and the
//                             whole exchange with its 3-byte acknowledgement
#include <benchmark/benchmark.h>

#include <algorithm>
#include <optional>
#include <random>
#include <vector>

#include "link/frames.h"
#include "link/serial_link.h"
#include "live_plugin.h"
#include "measure.h"
#include "paced_wire.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_port.h"
#include "platform/virtual/memory_settings.h"
#include "platform/virtual/recording_launcher.h"
#include "platform/virtual/recording_prompts.h"
#include "ser2net.h"

namespace varnel {
namespace {

using bench::nowNs;
using bench::percentile;

enum class Route { LocalPty, Ser2netRaw, Ser2netRfc2217 };

struct Line {
    explicit Line(Route route) {
        std::string device = wire.slaveName();
        if (route != Route::LocalPty) {
            server.emplace(dir.path(), wire.slaveName(),
                           route == Route::Ser2netRaw ? test::Ser2net::Kind::Raw : test::Ser2net::Kind::Rfc2217);
            if (auto err = server->start()) throw std::runtime_error(*err);
            device = server->url();
        }
        if (auto err = port.open(device)) throw std::runtime_error(*err);
        ctx.link.portOpen = true;
    }
    bench::PacedWire wire{sim::ControllerConfig::typical()};
    bench::ScratchDir dir;
    std::optional<test::Ser2net> server;
    QtEventLoop loop;
    QtPort port{loop};
    MemorySettings settings;
    RecordingPrompts prompts;
    RecordingLauncher launcher;
    LinkLayer ctx{Platform{loop, port, settings, prompts, launcher, "/tmp", {}}};
    std::mt19937 rng{20240611};

    void idleBetween() {
        std::uniform_int_distribution<int> gap(0, 150);
        loop.waitUntil(gap(rng), [] { return false; });
    }
};

template <class Frame>
void run(benchmark::State& state, Route route, const Frame& frame, std::int16_t length, std::int16_t first,
         bool firstByte) {
    std::optional<Line> line;
    try {
        line.emplace(route);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    auto& ctx = line->ctx;
    std::vector<double> exchangeMs, firstByteUs;
    for (auto _ : state) {
        line->idleBetween();
        const std::int64_t sent = nowNs();
        ctx.gate.busy = 1;
        SendBytes(ctx, frame);
        const bool ok = ReadResponse(ctx, 4, length, first);
        const std::int64_t returned = nowNs();
        ctx.gate.busy = 0;
        if (!ok) {
            state.SkipWithError("no reply");
            return;
        }
        exchangeMs.push_back(static_cast<double>(returned - sent) / 1e6);
        const std::int64_t atLine = line->wire.commandStartNs(frame[1]);
        if (firstByte && atLine > sent) firstByteUs.push_back(static_cast<double>(atLine - sent) / 1e3);
        state.SetIterationTime(static_cast<double>(returned - sent) / 1e9);
    }
    state.counters["median_ms"] = percentile(exchangeMs, 0.5);
    state.counters["p90_ms"] = percentile(exchangeMs, 0.9);
    state.counters["max_ms"] = percentile(exchangeMs, 1.0);
    if (firstByte) {
        state.counters["first_byte_median_us"] = percentile(firstByteUs, 0.5);
        state.counters["first_byte_p90_us"] = percentile(firstByteUs, 0.9);
        state.counters["first_byte_max_us"] = percentile(firstByteUs, 1.0);
    }
}

void BM_BlockRead(benchmark::State& state, Route route) {
    run(state, route, blockReadFrame(0x8E, 0xB6), kBlockReplyLength, kBlockRead, false);
}
// 8 + 264 bytes on the wire: about 283 ms however the line is reached.
BENCHMARK_CAPTURE(BM_BlockRead, local_pty, Route::LocalPty)
    ->UseManualTime()
    ->Iterations(25)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BlockRead, ser2net_raw, Route::Ser2netRaw)
    ->UseManualTime()
    ->Iterations(25)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BlockRead, ser2net_rfc2217, Route::Ser2netRfc2217)
    ->UseManualTime()
    ->Iterations(25)
    ->Unit(benchmark::kMillisecond);

void BM_CommandToLine(benchmark::State& state, Route route) {
    run(state, route, commandFrame(0x28, 0x10, 0x00), kAckLength, 0, true);
}
BENCHMARK_CAPTURE(BM_CommandToLine, local_pty, Route::LocalPty)
    ->UseManualTime()
    ->Iterations(100)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CommandToLine, ser2net_raw, Route::Ser2netRaw)
    ->UseManualTime()
    ->Iterations(100)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CommandToLine, ser2net_rfc2217, Route::Ser2netRfc2217)
    ->UseManualTime()
    ->Iterations(100)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace varnel
