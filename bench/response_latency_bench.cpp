// How soon the response loop returns once a reply is complete, in real time:
// the plug-in's link on QtSerialPort and the Qt event loop, the controller
// simulator on a pseudo-terminal at 9600-baud pacing. Reported per exchange
// kind: the median, 90th percentile and worst time from the reply's last byte
// leaving the simulator to ReadResponse returning. A loop that slept 200 ms
// between looks would show about 100 ms here.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "link/frames.h"
#include "link/serial_link.h"
#include "measure.h"
#include "paced_wire.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/virtual/memory_settings.h"
#include "platform/virtual/recording_launcher.h"
#include "platform/virtual/recording_prompts.h"

namespace varnel {
namespace {

using bench::nowNs;
using bench::reportLatencies;

struct Bench {
    Bench() {
        if (auto err = port.open(wire.slaveName())) throw std::runtime_error(*err);
        ctx.link.portOpen = true;
    }
    bench::PacedWire wire{sim::ControllerConfig::typical()};
    QtEventLoop loop;
    QtSerialPort port;
    MemorySettings settings;
    RecordingPrompts prompts;
    RecordingLauncher launcher;
    LinkLayer ctx{Platform{loop, port, settings, prompts, launcher, "/tmp", {}}};
};

template <class Frame>
void exchange(benchmark::State& state, const Frame& frame, std::int16_t length, std::int16_t first) {
    Bench b;
    std::vector<double> latenciesUs;
    for (auto _ : state) {
        b.ctx.gate.busy = 1;
        SendBytes(b.ctx, frame);
        const bool ok = ReadResponse(b.ctx, 4, length, first);
        const std::int64_t returned = nowNs();
        b.ctx.gate.busy = 0;
        if (!ok) {
            state.SkipWithError("no reply");
            return;
        }
        const double us = static_cast<double>(returned - b.wire.lastReplyByteNs()) / 1000.0;
        latenciesUs.push_back(us);
        state.SetIterationTime(us / 1e6);
    }
    reportLatencies(state, latenciesUs);
}

void BM_BlockReadReplyToReturn(benchmark::State& state) {
    exchange(state, blockReadFrame(0x8E, 0xB6), kBlockReplyLength, kBlockRead);
}
// 8 + 264 bytes on the wire: about 0.28 s per exchange.
BENCHMARK(BM_BlockReadReplyToReturn)->UseManualTime()->Iterations(25)->Unit(benchmark::kMillisecond);

void BM_CommandAckToReturn(benchmark::State& state) { exchange(state, commandFrame(0x28, 0x10, 0x00), kAckLength, 0); }
// 8 + 3 bytes: about 12.5 ms per exchange.
BENCHMARK(BM_CommandAckToReturn)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace varnel
