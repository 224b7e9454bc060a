// bench/bench_spawn.cpp - runCommandLine of a trivial program against
// system() of the same command (a shell starts first) and against a bare
// posix_spawnp + waitpid (the spawner's own overhead).
#include <spawn.h>
#include <sys/wait.h>

#include <benchmark/benchmark.h>

#include <cstdlib>

#include "platform/commands.h"

extern char** environ;

namespace {

constexpr const char* kCommand = "/bin/true";

void BM_RunCommandLine(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(bw::runCommandLine(kCommand));
}
BENCHMARK(BM_RunCommandLine)->UseRealTime();

void BM_System(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(std::system(kCommand));
}
BENCHMARK(BM_System)->UseRealTime();

void BM_RawPosixSpawnp(benchmark::State& state) {
  char* argv[] = {const_cast<char*>(kCommand), nullptr};
  for (auto _ : state) {
    pid_t pid;
    if (posix_spawnp(&pid, kCommand, nullptr, nullptr, argv, environ) == 0) {
      int status;
      waitpid(pid, &status, 0);
    }
  }
}
BENCHMARK(BM_RawPosixSpawnp)->UseRealTime();

}  // namespace
