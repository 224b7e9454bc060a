// core/sweep_test_support.h - how far a long seeded sweep (a model workload,
// a crash or kill sweep) runs: a sample in the ordinary test run, so that CI
// keeps to its time, and the full count with BRINDLEWORK_FULL_SWEEPS=1. A
// sweep's own variable, when set to a positive count, wins over both. The
// seeds stay the same, so the sample is the first part of the full sweep.
#pragma once

#include <cstdlib>
#include <string_view>

namespace bw::testing {

inline long long sweepCount(const char* ownVariable, long long sample, long long full) {
  if (ownVariable) {
    if (const char* text = std::getenv(ownVariable)) {
      if (const long long n = std::atoll(text); n > 0) return n;
    }
  }
  const char* all = std::getenv("BRINDLEWORK_FULL_SWEEPS");
  return all && std::string_view(all) == "1" ? full : sample;
}

}  // namespace bw::testing
