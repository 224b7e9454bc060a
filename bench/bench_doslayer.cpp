// bench/bench_doslayer.cpp - the cost of the DOS layer over the host:
// examining a path through the layer against a raw lstat, and native to
// host path translation.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/assigns.h"
#include "platform/dos.h"
#include "platform/native_path.h"

namespace {

struct Fixture {
  std::string folder;
  std::string host;
  std::string native;
  Fixture() {
    std::string pattern = std::string(P_tmpdir) + "/bw-bench-XXXXXX";
    folder = ::mkdtemp(pattern.data());
    host = folder + "/feeds/item.xml";
    ::mkdir((folder + "/feeds").c_str(), 0755);
    if (FILE* f = std::fopen(host.c_str(), "w")) {
      std::fputs("<rss/>", f);
      std::fclose(f);
    }
    bw::dos::assignAdd("Bench", folder);
    native = "Bench:feeds/item.xml";
  }
  ~Fixture() {
    ::unlink(host.c_str());
    ::rmdir((folder + "/feeds").c_str());
    ::rmdir(folder.c_str());
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_RawLstat(benchmark::State& state) {
  const std::string& host = fixture().host;
  struct stat st{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(::lstat(host.c_str(), &st));
    benchmark::DoNotOptimize(st.st_mtime);
  }
}
BENCHMARK(BM_RawLstat);

void BM_ExaminePath(benchmark::State& state) {
  const std::string& native = fixture().native;
  bw::dos::FileInfo info;
  for (auto _ : state) {
    benchmark::DoNotOptimize(bw::dos::examinePath(native, false, info, bw::dos::Detail::full));
    benchmark::DoNotOptimize(info.date);
  }
}
BENCHMARK(BM_ExaminePath);

void BM_ExaminePathWithComment(benchmark::State& state) {
  const std::string& native = fixture().native;
  bw::dos::FileInfo info;
  for (auto _ : state) benchmark::DoNotOptimize(bw::dos::examinePath(native, false, info));
}
BENCHMARK(BM_ExaminePathWithComment);

void BM_NativeToHost(benchmark::State& state) {
  const std::string& native = fixture().native;
  std::string host;
  for (auto _ : state) {
    benchmark::DoNotOptimize(bw::dos::nativeToHost(native, host));
    benchmark::DoNotOptimize(host.data());
  }
}
BENCHMARK(BM_NativeToHost);

void BM_HostToNative(benchmark::State& state) {
  const std::string& host = fixture().host;
  for (auto _ : state) benchmark::DoNotOptimize(bw::dos::hostToNative(host));
}
BENCHMARK(BM_HostToNative);

}  // namespace

namespace {
void BM_LocalTimeR(benchmark::State& state) {
  time_t t = 1700000000;
  tm local{};
  for (auto _ : state) {
    ::localtime_r(&t, &local);
    benchmark::DoNotOptimize(local.tm_gmtoff);
  }
}
BENCHMARK(BM_LocalTimeR);
}  // namespace
