// bench/bench_qt_ratio.h - the interleaved comparisons with plain Qt: a
// sample's time, the median of samples, and the ratio counters (ours / Qt
// with both medians in microseconds).
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace bw::bench {

template <class F>
double timed(F&& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

inline double median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

inline void report(benchmark::State& state, const char* name, const std::vector<double>& ours,
                   const std::vector<double>& peer) {
  state.counters[name] = median(ours) / median(peer);
  state.counters["ours_us"] = median(ours) * 1e6;
  state.counters["qt_us"] = median(peer) * 1e6;
}

}  // namespace bw::bench
