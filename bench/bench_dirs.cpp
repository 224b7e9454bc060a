// bench/bench_dirs.cpp - the directory layer beside the raw host calls:
// makeEntryList on 10k and 100k entries against directory_iterator and a
// sort in the same order, deleteDirTree of 10k files in 100 folders against
// std::filesystem::remove_all, and copyFile of 100 MB against
// std::filesystem::copy_file followed by fsync.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_tree.h"
#include "platform/clock.h"
#include "platform/dir.h"
#include "platform/dir_entry_list.h"
#include "platform/dir_walk.h"
#include "platform/file_procs.h"

namespace {

namespace fs = std::filesystem;

void touch(const fs::path& p) {
  int fd = ::open(p.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  if (fd >= 0) ::close(fd);
}

// Folders of 10k and 100k entries (files and some folders) under
// "BenchDirs:", made once for the whole run.
bw::bench::BenchTree& tree() {
  static bw::bench::BenchTree t("dirs", "BenchDirs", [](const fs::path& root) {
    for (int n : {10000, 100000}) {
      fs::path folder = root / ("e" + std::to_string(n));
      fs::create_directories(folder);
      for (int i = 0; i < n; ++i) {
        fs::path p = folder / ((i % 3 ? "Entry" : "entry") + std::to_string(i * 7919 % 100003));
        if (i % 50 == 0)
          fs::create_directory(p);
        else
          touch(p);
      }
    }
  });
  return t;
}

void BM_MakeEntryList(benchmark::State& state) {
  std::string path = "BenchDirs:/e" + std::to_string(state.range(0)) + "/";
  tree();
  bw::cHostDir dir;
  dir.open(bw::Text(path), true, false);
  for (auto _ : state) {
    std::unique_ptr<bw::cDirEntryList> list = dir.makeEntryList();
    benchmark::DoNotOptimize(list->count());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_MakeEntryList)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_DirectoryIteratorSorted(benchmark::State& state) {
  fs::path folder = tree().root / ("e" + std::to_string(state.range(0)));
  for (auto _ : state) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
      names.push_back(e.path().filename().string() + (e.is_directory() ? "/" : ""));
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return bw::compareEntryNames(a, b) < 0; });
    benchmark::DoNotOptimize(names.size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DirectoryIteratorSorted)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// 10k files in 100 folders, made again before each round (not timed).
fs::path makeDeletionTree(const char* name) {
  fs::path top = tree().root / name;
  for (int d = 0; d < 100; ++d) {
    fs::path folder = top / ("dir" + std::to_string(d));
    fs::create_directories(folder);
    for (int f = 0; f < 100; ++f) touch(folder / ("file" + std::to_string(f)));
  }
  return top;
}

void BM_DeleteDirTree(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    makeDeletionTree("del");
    state.ResumeTiming();
    benchmark::DoNotOptimize(bw::deleteDirTree("BenchDirs:/del/", false));
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_DeleteDirTree)->Unit(benchmark::kMillisecond);

void BM_RemoveAll(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    fs::path top = makeDeletionTree("rm");
    state.ResumeTiming();
    benchmark::DoNotOptimize(fs::remove_all(top));
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_RemoveAll)->Unit(benchmark::kMillisecond);

// A 100 MB file to copy, made once.
fs::path bigFile() {
  fs::path p = tree().root / "big";
  if (!fs::exists(p)) {
    std::string block(1 << 20, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + (i >> 9));
    int fd = ::open(p.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    for (int i = 0; i < 100; ++i) benchmark::DoNotOptimize(::write(fd, block.data(), block.size()));
    ::fsync(fd);
    ::close(fd);
  }
  return p;
}

void BM_CopyFile(benchmark::State& state) {
  bw::initTimerDevice();
  bigFile();
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(tree().root / "copy");
    state.ResumeTiming();
    benchmark::DoNotOptimize(bw::copyFile("BenchDirs:/big", "BenchDirs:/copy"));
  }
  state.SetBytesProcessed(state.iterations() * (100 << 20));
}
BENCHMARK(BM_CopyFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CopyFileStd(benchmark::State& state) {
  fs::path source = bigFile();
  fs::path target = tree().root / "copystd";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(target);
    state.ResumeTiming();
    fs::copy_file(source, target);
    int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    ::fsync(fd);
    ::close(fd);
    int dir = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::fsync(dir);
    ::close(dir);
  }
  state.SetBytesProcessed(state.iterations() * (100 << 20));
}
BENCHMARK(BM_CopyFileStd)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
