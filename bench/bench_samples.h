// bench/bench_samples.h - what the benchmarks that time their own samples
// share: a sample's wall-clock seconds and the median of samples.
#pragma once

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

// The middle sample (the upper of the two middle ones for an even count).
inline double median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

}  // namespace bw::bench
