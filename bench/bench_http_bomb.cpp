// bench/bench_http_bomb.cpp - the memory a compressed bomb takes: a 1 GiB
// gzip body (some 6.5 MB on the wire) served over http and https, as a
// transfer coding and as a content coding, into memory. Prints the peak
// the request added (VmHWM, reset before it) beside the document limit,
// and the seconds until the refusal.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <string>

#include "web/http.h"
#include "web/http_test_support.h"
#include "web/tls_server_test_support.h"

namespace {

// A "Vm...:" line of /proc/self/status in MiB.
double statusMiB(const std::string& field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.starts_with(field + ":")) return std::stod(line.substr(field.size() + 1)) / 1024;
  return -1;
}

void BM_GzipBombPeakMemory(benchmark::State& state) {
  const bool https = state.range(0) != 0, transfer = state.range(1) != 0;
  const std::string bomb = bw::test::gzipOf(bw::test::deflateBomb(int64_t{1} << 30));
  const std::string head = "HTTP/1.1 200 OK\r\n" + std::string(transfer ? "Transfer-Encoding: gzip\r\n\r\n"
                                                                         : "Content-Encoding: gzip\r\n\r\n");
  const bw::test::Reply reply{{head, bomb}, 0, true, 0};
  bw::test::TlsStreams tls;
  if (https && !tls.ready()) {
    state.SkipWithError("openssl cannot make a test certificate");
    return;
  }
  bw::test::CurlCaBundle trusted(tls.certificate());
  double peak = 0, seconds = 0;
  std::string why;
  for (auto _ : state) {
    bw::test::LoopbackServer server(reply, 1, false, https ? tls.maker() : bw::test::StreamMaker());
    std::ofstream("/proc/self/clear_refs") << "5";  // VmHWM from here
    const double before = statusMiB("VmRSS");
    const auto start = std::chrono::steady_clock::now();
    bw::cHTTP http(nullptr);
    http.openURL(bw::Str(server.url()), nullptr, nullptr, nullptr, 10, false, nullptr, false);
    bw::httpSaveToBuffer memory;
    http.save(&memory, nullptr, 64 * 1024);
    why = http.infoFailureReason();
    http.close();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    peak = std::max(peak, statusMiB("VmHWM") - before);
  }
  state.counters["peak_MiB"] = peak;
  state.counters["limit_MiB"] = static_cast<double>(bw::httpSaveToBuffer::kDefaultMemoryLimit >> 20);
  state.counters["seconds"] = seconds / static_cast<double>(state.iterations());
  state.SetLabel(why);
}
BENCHMARK(BM_GzipBombPeakMemory)
    ->ArgsProduct({{0, 1}, {1, 0}})
    ->ArgNames({"https", "transfer"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
