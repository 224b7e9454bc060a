// bench/bench_template.cpp - parses per second of the program's own template
// and of a ten-item template (reported only).
#include <benchmark/benchmark.h>

#include "platform/shell_template.h"

namespace {

void BM_ParseUpdateAll(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(bw::parseShellTemplate("UpdateAll/S", "UpdateAll", true));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseUpdateAll);

void BM_ParseTenItems(benchmark::State& state) {
  const char* tmpl = "FROM/A,TO/K,ALL/S,QUIET/S,BUF=BUFFER/K/N,PAT/K,NOREQ/S,CLONE/S,DATES/S,COM/F";
  const char* args = "from.txt TO dest ALL QUIET BUFFER 20 PAT #?.c CLONE DATES";
  for (auto _ : state) benchmark::DoNotOptimize(bw::parseShellTemplate(tmpl, args, true));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseTenItems);

}  // namespace
