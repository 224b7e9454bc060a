// Benchmarks of the mega lists, each beside its standard-library peer on the
// same data:
//   - sorting 10^6 random int32 (shared default ordering vs std::list::sort),
//     with comparisons per n log2 n;
//   - mergeSortStrings of 10^5 random file names with the folded ordering vs
//     std::list<std::string>::sort with the same comparison;
//   - appends and destroys with 100 cursors parked on other nodes vs
//     std::list push_back/erase, at 10^4, 10^5 and 10^6 elements.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <list>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/mega_list_family.h"
#include "core/ordering.h"
#include "core/sort_strings.h"

namespace bw {
namespace {

void ensureModules() {
  if (!gCompareMegaNodes) initMegaListBaseModule();
  if (!gCompareMegaNodes_STRING) initMegaListStringModule();
  if (!gMergeSort_NoCase) initMegaListModule();
}

std::vector<int32_t> randomInts(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<int32_t> out(n);
  for (int32_t& v : out) v = static_cast<int32_t>(rng());
  return out;
}

std::vector<std::string> randomFileNames(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.";
  static const char* kExt[] = {".txt", ".png", ".xml", ".c", ".info", ""};
  std::vector<std::string> out;
  for (size_t i = 0; i < n; ++i) {
    std::string name;
    size_t len = 3 + rng() % 14;
    for (size_t k = 0; k < len; ++k) name += kChars[rng() % (sizeof kChars - 1)];
    name += kExt[rng() % 6];
    out.push_back(name);
  }
  return out;
}

constexpr size_t kSortN = 1000000;

// Counts the calls of the plain ordering (the array path with call()).
class fCounting : public fCompareMegaNodes {
 public:
  int32_t call(cMegaMiniListGeneric* store, MegaNode* a, MegaNode* b) override {
    ++calls;
    return fCompareMegaNodes::call(store, a, b);
  }
  int64_t calls = 0;
};

void BM_SortMegaList(benchmark::State& state) {
  ensureModules();
  std::vector<int32_t> data = randomInts(kSortN, 1);
  for (auto _ : state) {
    state.PauseTiming();
    auto list = std::make_unique<cMegaList>(false);
    for (int32_t v : data) list->infoPastEnd()->beforeInsert(list->makeFloating(v));
    state.ResumeTiming();
    list->sort();
    benchmark::DoNotOptimize(list->infoStart()->infoNode());
    state.PauseTiming();
    list.reset();
    state.ResumeTiming();
  }
  fCounting counting;
  cMegaList list(false);
  for (int32_t v : data) list.infoPastEnd()->beforeInsert(list.makeFloating(v));
  list.sort(&counting);
  double nlogn = static_cast<double>(kSortN) * std::log2(static_cast<double>(kSortN));
  state.counters["cmp_per_nlogn"] = static_cast<double>(counting.calls) / nlogn;
}
BENCHMARK(BM_SortMegaList)->Unit(benchmark::kMillisecond);

void BM_SortStdList(benchmark::State& state) {
  std::vector<int32_t> data = randomInts(kSortN, 1);
  int64_t calls = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto list = std::make_unique<std::list<int32_t>>(data.begin(), data.end());
    state.ResumeTiming();
    list->sort();
    benchmark::DoNotOptimize(list->front());
    state.PauseTiming();
    list.reset();
    state.ResumeTiming();
  }
  std::list<int32_t> list(data.begin(), data.end());
  list.sort([&](int32_t a, int32_t b) {
    ++calls;
    return a < b;
  });
  double nlogn = static_cast<double>(kSortN) * std::log2(static_cast<double>(kSortN));
  state.counters["cmp_per_nlogn"] = static_cast<double>(calls) / nlogn;
}
BENCHMARK(BM_SortStdList)->Unit(benchmark::kMillisecond);

constexpr size_t kNamesN = 100000;

void BM_MergeSortStrings(benchmark::State& state) {
  ensureModules();
  std::vector<std::string> names = randomFileNames(kNamesN, 2);
  for (auto _ : state) {
    state.PauseTiming();
    StrChain chain;
    chain.reserve(names.size());
    for (const std::string& s : names) chain.emplace_back(std::string_view(s));
    state.ResumeTiming();
    mergeSortStrings(chain, gMergeSort_NoCase);
    benchmark::DoNotOptimize(chain.data());
  }
}
BENCHMARK(BM_MergeSortStrings)->Unit(benchmark::kMillisecond);

void BM_SortStdListStrings(benchmark::State& state) {
  std::vector<std::string> names = randomFileNames(kNamesN, 2);
  for (auto _ : state) {
    state.PauseTiming();
    std::list<std::string> list(names.begin(), names.end());
    state.ResumeTiming();
    list.sort([](const std::string& a, const std::string& b) { return compareTextNoCase(a.c_str(), b.c_str()) > 0; });
    benchmark::DoNotOptimize(list.front());
  }
}
BENCHMARK(BM_SortStdListStrings)->Unit(benchmark::kMillisecond);

// Each operation appends a node at the end and destroys the element before
// it, so the list keeps its length; 100 cursors stay parked on other nodes.
void BM_AppendDestroyMegaList(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  cMegaList list(false);
  for (size_t i = 0; i < n; ++i) list.infoPastEnd()->beforeInsert(list.makeFloating(static_cast<int32_t>(i)));
  std::mt19937 rng(3);
  std::vector<std::unique_ptr<cMegaCursor>> parked;
  {
    std::vector<size_t> at;
    for (int i = 0; i < 100; ++i) at.push_back(rng() % (n - 1));
    std::sort(at.begin(), at.end());
    auto walker = list.infoStart()->clone(0, 0);
    size_t index = 0;
    for (size_t target : at) {
      while (index < target) {
        walker->gotoNext();
        ++index;
      }
      parked.push_back(walker->clone(0, 0));
    }
  }
  auto last = list.infoPastEnd()->clone(1, 0);
  last->gotoPrev();
  int32_t v = 0;
  for (auto _ : state) {
    list.infoPastEnd()->beforeInsert(list.makeFloating(v++));
    last->destroy();  // moves on to the node just appended
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendDestroyMegaList)->Arg(10000)->Arg(100000)->Arg(1000000)->Iterations(1000000);

void BM_AppendDestroyStdList(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  std::list<int32_t> list;
  for (size_t i = 0; i < n; ++i) list.push_back(static_cast<int32_t>(i));
  auto last = std::prev(list.end());
  int32_t v = 0;
  for (auto _ : state) {
    list.push_back(v++);
    last = list.erase(last);
  }
  benchmark::DoNotOptimize(list.back());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendDestroyStdList)->Arg(10000)->Arg(100000)->Arg(1000000)->Iterations(1000000);

}  // namespace
}  // namespace bw
