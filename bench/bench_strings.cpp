// bench/bench_strings.cpp - concatStrings, splitString and joinStrings over
// a megabyte of text.
#include <benchmark/benchmark.h>

#include <string>

#include "core/string_procs.h"

namespace {

constexpr size_t kMegabyte = 1 << 20;

// Lines of 40 to 79 bytes, "\n"-separated, one megabyte in all.
std::string megabyteOfLines() {
  std::string text;
  text.reserve(kMegabyte);
  unsigned seed = 1;
  while (text.size() < kMegabyte) {
    seed = seed * 1103515245u + 12345u;
    size_t n = 40 + (seed >> 16) % 40;
    for (size_t i = 0; i < n; ++i) text.push_back(static_cast<char>('a' + (i + seed) % 26));
    text.push_back('\n');
  }
  text.resize(kMegabyte);
  return text;
}

void BM_ConcatStrings(benchmark::State& state) {
  std::string part(kMegabyte / 19, 'x');
  const char* p = part.c_str();
  for (auto _ : state) {
    bw::Str s = bw::concatStrings(p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 19 * static_cast<int64_t>(part.size()));
}
BENCHMARK(BM_ConcatStrings);

void BM_SplitString(benchmark::State& state) {
  std::string text = megabyteOfLines();
  for (auto _ : state) {
    bw::SplitResult r = bw::splitLines(text);
    benchmark::DoNotOptimize(r.chain.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_SplitString);

void BM_JoinStrings(benchmark::State& state) {
  std::string text = megabyteOfLines();
  bw::StrChain chain = bw::splitLines(text).chain;
  for (auto _ : state) {
    bw::Str s = bw::joinLines(chain);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["strings"] = static_cast<double>(chain.size());
}
BENCHMARK(BM_JoinStrings);

}  // namespace
