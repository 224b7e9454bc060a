// bench/bench_files.cpp - cFile beside stdio FILE* doing the same calls:
// sequential 256 MB written then read in 64 KiB calls, 10^6 random 4-64 byte
// reads and writes on a 64 MB file (the database's pattern), flush latency
// beside a raw write + fsync, and the compact value encoding in ns/value.
//
// Each ratio benchmark runs both sides in every iteration so that machine
// load slows them alike; the counters are ratios of the median times
// (stdio / cFile for throughput, so above 1 means cFile is faster; cFile /
// raw for the flush latency, so below 1.1 meets the target).
#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_samples.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/restore_stream.h"

namespace {

namespace fs = std::filesystem;

struct Scratch {
  fs::path folder;
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "bw-bench-files-XXXXXX").string();
    folder = ::mkdtemp(pattern.data());
    bw::initTimerDevice();
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
  std::string host(const std::string& name) const { return (folder / name).string(); }
  std::string internal(const std::string& name) const { return ":" + host(name); }
};

Scratch& scratch() {
  static Scratch s;
  return s;
}

using bw::bench::median;
using bw::bench::timed;

std::unique_ptr<bw::cFile> openFile(const std::string& name) {
  auto f = std::make_unique<bw::cFile>();
  f->initialise(0);
  if (!f->open(bw::Text(scratch().internal(name)), false, false, false)) std::abort();
  return f;
}

// --- sequential -------------------------------------------------------------------

constexpr int64_t kSequentialBytes = int64_t{256} << 20;
constexpr int64_t kCall = 64 << 10;

void sequentialFile() {
  std::vector<char> buf(kCall, 'x');
  ::unlink(scratch().host("seq").c_str());
  auto f = openFile("seq");
  int64_t p = 0;
  while (p < kSequentialBytes) {
    f->setPosition(p);
    p = f->write(buf.data(), kCall, 0, false).next;
  }
  f->dropBuffers();
  p = 0;
  while (p < kSequentialBytes) {
    f->setPosition(p);
    p = f->read(buf.data(), kCall, 0, bw::kNoStop).next;
  }
  benchmark::DoNotOptimize(buf.data());
  f->dropBuffers();
  f.reset();  // closes with one fsync, as stdio's fflush at fclose does not
}

void sequentialStdio() {
  std::vector<char> buf(kCall, 'x');
  FILE* f = std::fopen(scratch().host("seq_stdio").c_str(), "w+b");
  for (int64_t p = 0; p < kSequentialBytes; p += kCall) std::fwrite(buf.data(), 1, kCall, f);
  std::fflush(f);
  std::fseek(f, 0, SEEK_SET);
  for (int64_t p = 0; p < kSequentialBytes; p += kCall) benchmark::DoNotOptimize(std::fread(buf.data(), 1, kCall, f));
  ::fsync(fileno(f));
  std::fclose(f);
}

void BM_SequentialRatio(benchmark::State& state) {
  std::vector<double> file, stdio;
  for (auto _ : state) {
    file.push_back(timed(sequentialFile));
    stdio.push_back(timed(sequentialStdio));
  }
  state.counters["cFile_MBps"] = 2.0 * kSequentialBytes / 1e6 / median(file);
  state.counters["stdio_MBps"] = 2.0 * kSequentialBytes / 1e6 / median(stdio);
  state.counters["stdio/cFile"] = median(stdio) / median(file);
}
BENCHMARK(BM_SequentialRatio)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- random small records -----------------------------------------------------------

constexpr int64_t kRandomFile = int64_t{64} << 20;
constexpr int kRandomOps = 1000000;

struct Op {
  int64_t position;
  int32_t length;
  bool write;
};

const std::vector<Op>& randomOps() {
  static const std::vector<Op> ops = [] {
    std::mt19937_64 rng(42);
    std::vector<Op> v(kRandomOps);
    for (Op& op : v) {
      op.length = 4 + static_cast<int32_t>(rng() % 61);
      op.position = static_cast<int64_t>(rng() % static_cast<uint64_t>(kRandomFile - op.length));
      op.write = rng() & 1;
    }
    return v;
  }();
  return ops;
}

void makeRandomFiles() {
  static bool made = false;
  if (made) return;
  std::vector<char> block(1 << 20, 'r');
  for (const char* name : {"rnd", "rnd_stdio"}) {
    FILE* f = std::fopen(scratch().host(name).c_str(), "wb");
    for (int64_t p = 0; p < kRandomFile; p += static_cast<int64_t>(block.size())) std::fwrite(block.data(), 1, block.size(), f);
    std::fclose(f);
  }
  made = true;
}

void randomFile(bw::cFile& f) {
  char buf[64] = {};
  for (const Op& op : randomOps()) {
    f.setPosition(op.position);
    if (op.write) f.write(buf, op.length, 0, false);
    else f.read(buf, op.length, 0, bw::kNoStop);
  }
  f.dropBuffers();
}

void randomStdio(FILE* f) {
  char buf[64] = {};
  for (const Op& op : randomOps()) {
    std::fseek(f, op.position, SEEK_SET);
    if (op.write) std::fwrite(buf, 1, static_cast<size_t>(op.length), f);
    else benchmark::DoNotOptimize(std::fread(buf, 1, static_cast<size_t>(op.length), f));
  }
  std::fflush(f);
}

void BM_RandomRatio(benchmark::State& state) {
  makeRandomFiles();
  auto file = openFile("rnd");
  FILE* stdio = std::fopen(scratch().host("rnd_stdio").c_str(), "r+b");
  std::vector<double> a, b;
  for (auto _ : state) {
    a.push_back(timed([&] { randomFile(*file); }));
    b.push_back(timed([&] { randomStdio(stdio); }));
  }
  std::fclose(stdio);
  state.counters["cFile_ns/op"] = median(a) * 1e9 / kRandomOps;
  state.counters["stdio_ns/op"] = median(b) * 1e9 / kRandomOps;
  state.counters["stdio/cFile"] = median(b) / median(a);
}
BENCHMARK(BM_RandomRatio)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- flush latency -------------------------------------------------------------------

void BM_FlushRatio(benchmark::State& state) {
  makeRandomFiles();
  auto file = openFile("rnd");
  int raw = ::open(scratch().host("rnd_stdio").c_str(), O_RDWR | O_CLOEXEC);
  std::vector<char> page(4096, 'f');
  std::mt19937_64 rng(7);
  std::vector<double> a, b;
  for (auto _ : state) {
    int64_t p = static_cast<int64_t>(rng() % (kRandomFile - 4096));
    a.push_back(timed([&] {
      file->setPosition(p);
      file->write(page.data(), 4096, 0, false);
      file->flush();
    }));
    b.push_back(timed([&] {
      if (::pwrite(raw, page.data(), 4096, p) != 4096) std::abort();
      ::fsync(raw);
    }));
  }
  ::close(raw);
  state.counters["cFile_us"] = median(a) * 1e6;
  state.counters["raw_us"] = median(b) * 1e6;
  state.counters["cFile/raw"] = median(a) / median(b);
}
BENCHMARK(BM_FlushRatio)->Iterations(200)->UseRealTime();

// --- compact values -------------------------------------------------------------------

struct VectorStream : bw::cRestoreStreamBase {
  std::vector<uint8_t> bytes;
  size_t at = 0;
  void write(const void* b, int32_t n) override {
    auto p = static_cast<const uint8_t*>(b);
    bytes.insert(bytes.end(), p, p + n);
  }
  void read(void* b, int32_t n) override {
    std::memcpy(b, bytes.data() + at, static_cast<size_t>(n));
    at += static_cast<size_t>(n);
  }
};

std::vector<int32_t> compactValues() {
  std::mt19937 rng(3);
  std::vector<int32_t> v(1 << 16);
  for (int32_t& x : v) x = static_cast<int32_t>(rng()) >> (rng() % 31);
  return v;
}

void BM_CompactEncode(benchmark::State& state) {
  std::vector<int32_t> values = compactValues();
  VectorStream s;
  s.bytes.reserve(values.size() * 5);
  for (auto _ : state) {
    s.bytes.clear();
    for (int32_t v : values) bw::transferCompactValue(s, true, v);
  }
  state.counters["ns/value"] =
      benchmark::Counter(static_cast<double>(values.size()) * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CompactEncode);

void BM_CompactDecode(benchmark::State& state) {
  std::vector<int32_t> values = compactValues();
  VectorStream s;
  for (int32_t v : values) bw::transferCompactValue(s, true, v);
  for (auto _ : state) {
    s.at = 0;
    for (size_t i = 0; i < values.size(); ++i) benchmark::DoNotOptimize(bw::transferCompactValue(s, false, 0));
  }
  state.counters["ns/value"] =
      benchmark::Counter(static_cast<double>(values.size()) * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CompactDecode);

}  // namespace
