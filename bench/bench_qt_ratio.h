// bench/bench_qt_ratio.h - the ratio counters of the interleaved comparisons
// with plain Qt (ours / Qt, with both medians in microseconds); the samples
// are timed with bench_samples.h.
#pragma once

#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_samples.h"

namespace bw::bench {

inline void report(benchmark::State& state, const char* name, const std::vector<double>& ours,
                   const std::vector<double>& peer) {
  state.counters[name] = median(ours) / median(peer);
  state.counters["ours_us"] = median(ours) * 1e6;
  state.counters["qt_us"] = median(peer) * 1e6;
}

}  // namespace bw::bench
