// bench/bench_spaces.cpp - number and string spaces against std::unordered_map.
//
// Set and get at 10^3 to 10^6 keys, each next to the same work on
// std::unordered_map; a table of time ratios (space / map) follows the run.
// The Growth benchmarks time every single set() while a space fills to 10^6
// keys and report the worst and the median: incremental rehashing keeps the
// worst case flat, where std::unordered_map rehashes everything at once.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/number_space.h"
#include "core/string_space.h"

namespace {

using bw::class_base;
using bw::cNumberSpace_VALUE_cnumberspace;
using bw::cStringSpace;

std::vector<intptr_t> numberKeys(size_t n) {
  std::mt19937_64 rng(42);
  std::vector<intptr_t> keys(n);
  for (auto& k : keys) k = static_cast<intptr_t>(rng() & 0x7FFFFFFF);
  return keys;
}

std::vector<std::string> stringKeys(size_t n) {
  std::mt19937_64 rng(43);
  std::vector<std::string> keys(n);
  for (auto& k : keys) k = "https://example.org/feed/" + std::to_string(rng() % 100000000);
  return keys;
}

std::vector<size_t> lookupOrder(size_t n) {
  std::vector<size_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937_64(7));
  return order;
}

// ---- number spaces ---------------------------------------------------------

void BM_NumberSpace_Set(benchmark::State& state) {
  auto keys = numberKeys(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    cNumberSpace_VALUE_cnumberspace s;
    for (intptr_t k : keys) s.set(k, k | 1);
    benchmark::DoNotOptimize(s.infoCount());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_UnorderedMap_Set(benchmark::State& state) {
  auto keys = numberKeys(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::unordered_map<intptr_t, intptr_t> m;
    for (intptr_t k : keys) m[k] = k | 1;
    benchmark::DoNotOptimize(m.size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_NumberSpace_Get(benchmark::State& state) {
  auto keys = numberKeys(static_cast<size_t>(state.range(0)));
  auto order = lookupOrder(keys.size());
  cNumberSpace_VALUE_cnumberspace s;
  for (intptr_t k : keys) s.set(k, k | 1);
  for (intptr_t k : keys) s.get(k);  // finish any rehash under way
  for (auto _ : state) {
    for (size_t i : order) benchmark::DoNotOptimize(s.get(keys[i]));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_UnorderedMap_Get(benchmark::State& state) {
  auto keys = numberKeys(static_cast<size_t>(state.range(0)));
  auto order = lookupOrder(keys.size());
  std::unordered_map<intptr_t, intptr_t> m;
  for (intptr_t k : keys) m[k] = k | 1;
  for (auto _ : state) {
    for (size_t i : order) {
      auto it = m.find(keys[i]);
      benchmark::DoNotOptimize(it == m.end() ? 0 : it->second);
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// ---- string spaces (case-sensitive; data: one shared object) -----------------

class_base gData;

void BM_StringSpace_Set(benchmark::State& state) {
  auto keys = stringKeys(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    cStringSpace s(false, cStringSpace::kCaseSensitive);
    for (const std::string& k : keys) s.set(k, &gData);
    benchmark::DoNotOptimize(s.gotoFirst());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_UnorderedMapStr_Set(benchmark::State& state) {
  auto keys = stringKeys(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::unordered_map<std::string, class_base*> m;
    for (const std::string& k : keys) m[k] = &gData;
    benchmark::DoNotOptimize(m.size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_StringSpace_Get(benchmark::State& state) {
  auto keys = stringKeys(static_cast<size_t>(state.range(0)));
  auto order = lookupOrder(keys.size());
  cStringSpace s(false, cStringSpace::kCaseSensitive);
  for (const std::string& k : keys) s.set(k, &gData);
  for (const std::string& k : keys) s.get(k);  // finish any rehash of the index
  for (auto _ : state) {
    for (size_t i : order) benchmark::DoNotOptimize(s.get(keys[i]).data);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_UnorderedMapStr_Get(benchmark::State& state) {
  auto keys = stringKeys(static_cast<size_t>(state.range(0)));
  auto order = lookupOrder(keys.size());
  std::unordered_map<std::string, class_base*> m;
  for (const std::string& k : keys) m[k] = &gData;
  for (auto _ : state) {
    for (size_t i : order) {
      auto it = m.find(keys[i]);
      benchmark::DoNotOptimize(it == m.end() ? nullptr : it->second);
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Worst and median time of one insert while filling to 10^6 keys.
template <class Key, class Insert>
void timeEachInsert(benchmark::State& state, const std::vector<Key>& keys, Insert insert) {
  std::vector<double> ns(keys.size());
  for (auto _ : state) {
    for (size_t i = 0; i < keys.size(); ++i) {
      auto t0 = std::chrono::steady_clock::now();
      insert(keys[i]);
      auto t1 = std::chrono::steady_clock::now();
      ns[i] = std::chrono::duration<double, std::nano>(t1 - t0).count();
    }
  }
  std::sort(ns.begin(), ns.end());
  state.counters["median_ns"] = ns[ns.size() / 2];
  state.counters["p99.9_ns"] = ns[ns.size() * 999 / 1000];
  state.counters["max_ns"] = ns.back();
  state.counters["max/median"] = ns.back() / ns[ns.size() / 2];
}

void BM_NumberSpace_Growth(benchmark::State& state) {
  cNumberSpace_VALUE_cnumberspace s;
  timeEachInsert(state, numberKeys(1'000'000), [&](intptr_t k) { s.set(k, k | 1); });
}

void BM_UnorderedMap_Growth(benchmark::State& state) {
  std::unordered_map<intptr_t, intptr_t> m;
  timeEachInsert(state, numberKeys(1'000'000), [&](intptr_t k) { m[k] = k | 1; });
}

void BM_StringSpace_Growth(benchmark::State& state) {
  cStringSpace s(false, cStringSpace::kCaseSensitive);
  timeEachInsert(state, stringKeys(1'000'000), [&](const std::string& k) { s.set(k, &gData); });
}

void BM_UnorderedMapStr_Growth(benchmark::State& state) {
  std::unordered_map<std::string, class_base*> m;
  timeEachInsert(state, stringKeys(1'000'000), [&](const std::string& k) { m[k] = &gData; });
}

}  // namespace

BENCHMARK(BM_NumberSpace_Set)->RangeMultiplier(10)->Range(1000, 1000000);
BENCHMARK(BM_UnorderedMap_Set)->RangeMultiplier(10)->Range(1000, 1000000);
BENCHMARK(BM_NumberSpace_Get)->RangeMultiplier(10)->Range(1000, 1000000);
BENCHMARK(BM_UnorderedMap_Get)->RangeMultiplier(10)->Range(1000, 1000000);
BENCHMARK(BM_StringSpace_Set)->RangeMultiplier(10)->Range(1000, 1000000);
BENCHMARK(BM_UnorderedMapStr_Set)->RangeMultiplier(10)->Range(1000, 1000000);
BENCHMARK(BM_StringSpace_Get)->RangeMultiplier(10)->Range(1000, 1000000);
BENCHMARK(BM_UnorderedMapStr_Get)->RangeMultiplier(10)->Range(1000, 1000000);
BENCHMARK(BM_NumberSpace_Growth)->Iterations(1);
BENCHMARK(BM_UnorderedMap_Growth)->Iterations(1);
BENCHMARK(BM_StringSpace_Growth)->Iterations(1);
BENCHMARK(BM_UnorderedMapStr_Growth)->Iterations(1);

namespace {

// Console output as usual, then "space / map" time ratios for each pair of
// benchmarks named BM_<Space>_<Op>/<n> and BM_UnorderedMap_<Op>/<n>.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) times_[r.benchmark_name()] = r.GetAdjustedRealTime();
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-34s %12s %12s %7s\n", "space / std::unordered_map", "space", "map", "ratio");
    for (const auto& [name, t] : times_) {
      auto under = name.find('_', 3);
      if (under == std::string::npos || name.compare(3, 12, "UnorderedMap") == 0 ||
          name.find("Growth") != std::string::npos)
        continue;
      std::string mapName = "BM_UnorderedMap" + name.substr(under);
      if (name.rfind("BM_StringSpace", 0) == 0) mapName = "BM_UnorderedMapStr" + name.substr(under);
      auto it = times_.find(mapName);
      if (it == times_.end()) continue;
      std::printf("%-34s %12.0f %12.0f %7.2f\n", name.c_str(), t, it->second, t / it->second);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
