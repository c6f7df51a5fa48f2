#pragma once
// What every latency benchmark reckons with: the wire's clock and the spread of its samples.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace varnel::bench {

// Nanoseconds of the clock the paced wire stamps its bytes with.
inline std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The nearest-rank value at `p` (0 to 1); 0 for no samples.
inline double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(std::lround(p * static_cast<double>(v.size() - 1)));
    return v[std::min(i, v.size() - 1)];
}

// <prefix>median_ms, <prefix>p90_ms and <prefix>max_ms of samples in microseconds.
inline void reportLatencies(benchmark::State& state, const std::vector<double>& us, const std::string& prefix = "") {
    state.counters[prefix + "median_ms"] = percentile(us, 0.5) / 1000.0;
    state.counters[prefix + "p90_ms"] = percentile(us, 0.9) / 1000.0;
    state.counters[prefix + "max_ms"] = percentile(us, 1.0) / 1000.0;
}

}  // namespace varnel::bench
