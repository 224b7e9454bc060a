// bench/bench_paths.cpp - the path procedures beside the raw host calls they
// stand on: existence and expansion of existing paths against stat and
// realpath loops, and listing a 10k-entry folder against
// std::filesystem::directory_iterator (with symlink_status per entry, and
// with a sort of the names).
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_tree.h"
#include "core/ordering.h"
#include "platform/dos.h"
#include "platform/path.h"
#include "platform/path_native.h"

namespace {

namespace fs = std::filesystem;

// A folder of 10,000 entries (files, some folders and links) assigned to
// "Bench:", made once for the whole run.
bw::bench::BenchTree& tree() {
  static bw::bench::BenchTree t("paths", "Bench", [](const fs::path& root) {
    fs::create_directories(root / "big");
    for (int i = 0; i < 10000; ++i) {
      fs::path p = root / "big" / ("entry" + std::to_string(i * 7919 % 10007));
      if (i % 50 == 0)
        fs::create_directory(p);
      else if (i % 97 == 0)
        fs::create_symlink("entry1", p);
      else
        std::ofstream(p) << i;
    }
    fs::create_directories(root / "a/b/c");
    std::ofstream(root / "a/b/c/file") << "x";
    fs::create_symlink("a/b", root / "link");
  });
  return t;
}

void BM_ExistsPath(benchmark::State& state) {
  tree();
  for (auto _ : state) benchmark::DoNotOptimize(bw::cPath::ExistsPath("Bench:/a/b/c/file", false));
}
BENCHMARK(BM_ExistsPath);

void BM_RawStat(benchmark::State& state) {
  std::string host = (tree().root / "a/b/c/file").string();
  struct stat st;
  for (auto _ : state) benchmark::DoNotOptimize(::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode));
}
BENCHMARK(BM_RawStat);

// The DOS layer's own examination, for the share of ExistsPath it takes.
void BM_LayerExaminePath(benchmark::State& state) {
  tree();
  bw::dos::FileInfo info;
  for (auto _ : state)
    benchmark::DoNotOptimize(bw::dos::examinePath("Bench:a/b/c/file", true, info, bw::dos::Detail::type));
}
BENCHMARK(BM_LayerExaminePath);

void BM_ExpandPath(benchmark::State& state) {
  tree();
  for (auto _ : state) benchmark::DoNotOptimize(bw::cPath::ExpandPath("Bench:/link/c/file"));
}
BENCHMARK(BM_ExpandPath);

void BM_RawRealpath(benchmark::State& state) {
  std::string host = (tree().root / "link/c/file").string();
  for (auto _ : state) {
    char* full = ::realpath(host.c_str(), nullptr);
    benchmark::DoNotOptimize(std::string(full));
    std::free(full);
  }
}
BENCHMARK(BM_RawRealpath);

void BM_ListDirNames(benchmark::State& state) {
  tree();
  for (auto _ : state) benchmark::DoNotOptimize(bw::listDirNames("Bench:big", nullptr).list.get());
}
BENCHMARK(BM_ListDirNames)->Unit(benchmark::kMillisecond);

void BM_ListDirNamesSorted(benchmark::State& state) {
  tree();
  bw::fCompareMegaNodes_STRING byText;
  for (auto _ : state) benchmark::DoNotOptimize(bw::listDirNames("Bench:big", &byText).list.get());
}
BENCHMARK(BM_ListDirNamesSorted)->Unit(benchmark::kMillisecond);

// Names and types as the listing gives them, through std::filesystem.
std::vector<std::pair<std::string, int>> rawListing(const fs::path& folder) {
  std::vector<std::pair<std::string, int>> names;
  for (const auto& e : fs::directory_iterator(folder)) {
    fs::file_status s = e.symlink_status();
    std::string name = e.path().filename().string();
    if (fs::is_symlink(s)) {
      std::error_code ec;
      if (fs::is_directory(e.path(), ec)) name += '/';
    } else if (fs::is_directory(s)) {
      name += '/';
    }
    names.emplace_back(std::move(name), static_cast<int>(s.type()));
  }
  return names;
}

void BM_RawDirectoryIterator(benchmark::State& state) {
  fs::path big = tree().root / "big";
  for (auto _ : state) benchmark::DoNotOptimize(rawListing(big).size());
}
BENCHMARK(BM_RawDirectoryIterator)->Unit(benchmark::kMillisecond);

void BM_RawDirectoryIteratorSorted(benchmark::State& state) {
  fs::path big = tree().root / "big";
  for (auto _ : state) {
    auto names = rawListing(big);
    std::sort(names.begin(), names.end());
    benchmark::DoNotOptimize(names.size());
  }
}
BENCHMARK(BM_RawDirectoryIteratorSorted)->Unit(benchmark::kMillisecond);

}  // namespace
