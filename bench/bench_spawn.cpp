// bench/bench_spawn.cpp - runCommandLine of a trivial program against
// system() of the same command (a shell starts first) and against a bare
// posix_spawnp + waitpid (the spawner's own overhead).
#include <spawn.h>
#include <sys/wait.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "platform/commands.h"

extern char** environ;

namespace {

constexpr const char* kCommand = "/bin/true";

void rawSpawn() {
  char* argv[] = {const_cast<char*>(kCommand), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, kCommand, nullptr, nullptr, argv, environ) == 0) {
    int status;
    waitpid(pid, &status, 0);
  }
}

void BM_RunCommandLine(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(bw::runCommandLine(kCommand));
}
BENCHMARK(BM_RunCommandLine)->UseRealTime();

void BM_System(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(std::system(kCommand));
}
BENCHMARK(BM_System)->UseRealTime();

void BM_RawPosixSpawnp(benchmark::State& state) {
  for (auto _ : state) rawSpawn();
}
BENCHMARK(BM_RawPosixSpawnp)->UseRealTime();

// The three side by side in every iteration, so that a busy machine slows
// them alike; the counters are ratios of the median times.
void BM_InterleavedRatios(benchmark::State& state) {
  std::vector<double> run, sys, raw;
  auto timed = [](auto&& f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  };
  for (auto _ : state) {
    run.push_back(timed([] { benchmark::DoNotOptimize(bw::runCommandLine(kCommand)); }));
    sys.push_back(timed([] { benchmark::DoNotOptimize(std::system(kCommand)); }));
    raw.push_back(timed(rawSpawn));
  }
  auto median = [](std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
  };
  state.counters["system_over_run"] = median(sys) / median(run);
  state.counters["run_over_raw"] = median(run) / median(raw);
}
BENCHMARK(BM_InterleavedRatios)->UseRealTime()->Iterations(2000);

}  // namespace
