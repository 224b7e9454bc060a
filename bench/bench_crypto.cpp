// bench/bench_crypto.cpp - SHA-1, HMAC-SHA1 and base64 against OpenSSL's
// libcrypto, and signatures per second of a timeline request.
//
// OpenSSL's SHA-1 uses the CPU's SHA extensions where it can; the scalar
// comparison masks them with OPENSSL_ia32cap, which libcrypto reads only
// when it loads, so that case runs in a child of this program started with
// the variable set, which measures and prints its figures. The ratios are
// printed after the table, all from this one run.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>
#include <unistd.h>

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/spawn.h"
#include "social/base64.h"
#include "social/oauth1.h"
#include "social/sha1.h"

namespace {

constexpr char kChildVariable[] = "BRINDLEWORK_CRYPTO_MASKED_CHILD";
constexpr int kSizes[] = {16 << 10, 1 << 20};

std::string bytes(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 131 + 7);
  return s;
}

double cpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// MB/s of OpenSSL's SHA1() over size bytes, in CPU time (as Google
// Benchmark counts bytes_per_second), measured for about 0.5 s.
double opensslSha1Rate(int size) {
  std::string data = bytes(static_cast<size_t>(size));
  unsigned char digest[20];
  double start = cpuSeconds(), seconds = 0;
  long rounds = 0;
  while (seconds < 0.5) {
    SHA1(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
    benchmark::DoNotOptimize(digest);
    ++rounds;
    seconds = cpuSeconds() - start;
  }
  return static_cast<double>(rounds) * size / seconds / 1e6;
}

// The masked figures, from a child started with the SHA extensions masked.
std::map<int, double> maskedRates() {
  ::setenv("OPENSSL_ia32cap", ":~0x20000000", 1);
  ::setenv(kChildVariable, "1", 1);
  bw::SpawnOptions options;
  options.out = bw::SpawnStdio::kPipe;
  bw::SpawnResult run = bw::spawnProcess({"/proc/self/exe"}, options);
  ::unsetenv("OPENSSL_ia32cap");
  ::unsetenv(kChildVariable);
  std::map<int, double> rates;
  if (run.error != 0) return rates;
  std::string out;
  char buffer[256];
  for (ssize_t n; (n = ::read(run.child.stdoutFd(), buffer, sizeof buffer)) > 0;) out.append(buffer, n);
  run.child.wait();
  int size = 0;
  double rate = 0;
  for (const char* p = out.c_str(); std::sscanf(p, "%d %lf", &size, &rate) == 2; p = std::strchr(p, '\n') + 1) {
    rates[size] = rate;
    if (!std::strchr(p, '\n')) break;
  }
  return rates;
}

void BM_CryptoSha1Ours(benchmark::State& state) {
  std::string data = bytes(static_cast<size_t>(state.range(0)));
  uint8_t digest[20];
  for (auto _ : state) {
    bw::sha1Context c;
    bw::sha1Init(c);
    bw::sha1Update(c, data.data(), static_cast<int32_t>(data.size()));
    bw::sha1Final(c, digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_CryptoSha1Ours)->Arg(kSizes[0])->Arg(kSizes[1]);

void BM_CryptoSha1OpenSSL(benchmark::State& state) {
  std::string data = bytes(static_cast<size_t>(state.range(0)));
  unsigned char digest[20];
  for (auto _ : state) {
    SHA1(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_CryptoSha1OpenSSL)->Arg(kSizes[0])->Arg(kSizes[1]);

const std::string kKey = "kAcSOqF21Fu85e7zjz7ZN2U4ZRhfV3WpwPAoE3Z7kBw&LswwdoUaIvS8ltyTt5jkRh4J50vUPVVHtR2YPi5kE";

void BM_CryptoHmacOurs(benchmark::State& state) {
  std::string text = bytes(300);
  uint8_t digest[20];
  for (auto _ : state) {
    bw::hmacSha1(kKey.data(), static_cast<int32_t>(kKey.size()), text.data(), 300, digest);
    benchmark::DoNotOptimize(digest);
  }
}
BENCHMARK(BM_CryptoHmacOurs);

void BM_CryptoHmacOpenSSL(benchmark::State& state) {
  std::string text = bytes(300);
  unsigned char digest[20];
  unsigned int length = 0;
  for (auto _ : state) {
    HMAC(EVP_sha1(), kKey.data(), static_cast<int>(kKey.size()), reinterpret_cast<const unsigned char*>(text.data()),
         300, digest, &length);
    benchmark::DoNotOptimize(digest);
  }
}
BENCHMARK(BM_CryptoHmacOpenSSL);

void BM_CryptoBase64Ours(benchmark::State& state) {
  std::string data = bytes(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(bw::base64encode(data.data(), static_cast<int32_t>(data.size())));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_CryptoBase64Ours)->Arg(20)->Arg(1 << 20);

void BM_CryptoBase64OpenSSL(benchmark::State& state) {
  std::string data = bytes(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    // Like ours, each call makes its own output string.
    std::string out((data.size() + 2) / 3 * 4 + 1, '\0');
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), reinterpret_cast<const unsigned char*>(data.data()),
                    static_cast<int>(data.size()));
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_CryptoBase64OpenSSL)->Arg(20)->Arg(1 << 20);

void BM_CryptoSignTimelineRequest(benchmark::State& state) {
  bw::initTimerDevice();
  std::string url = "https://api.twitter.com/1.1/statuses/user_timeline.json?user_id=370773112&count=200"
                    "&since_id=1234567890123456789&include_rts=true";
  for (auto _ : state) {
    benchmark::DoNotOptimize(bw::oauth1_authorizationHeader(url, "xvz1evFS4wEEPTGEFPHBog", "consumer-secret",
                                                            "370773112-token", "token-secret", {}, nullptr, nullptr));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  bw::closeTimerDevice();
}
BENCHMARK(BM_CryptoSignTimelineRequest);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto bytesPerSecond = r.counters.find("bytes_per_second");
      rate_[r.benchmark_name()] = bytesPerSecond == r.counters.end() ? 0 : bytesPerSecond->second.value / 1e6;
      time_[r.benchmark_name()] = r.GetAdjustedCPUTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (rate_.count("BM_CryptoSha1Ours/16384")) {
      std::map<int, double> masked = maskedRates();
      std::printf("\nSHA-1 MB/s      ours   OpenSSL scalar (masked)   ratio   OpenSSL SHA-NI   ratio\n");
      for (int size : kSizes) {
        std::string arg = "/" + std::to_string(size);
        double ours = rate_["BM_CryptoSha1Ours" + arg], ni = rate_["BM_CryptoSha1OpenSSL" + arg];
        double scalar = masked.count(size) ? masked[size] : 0;
        std::printf("%8d %10.0f %20.0f %12.2f %16.0f %7.2f\n", size, ours, scalar, scalar > 0 ? ours / scalar : 0,
                    ni, ni > 0 ? ours / ni : 0);
      }
    }
    ratio("HMAC-SHA1 of 300 bytes (OpenSSL time / ours)", "BM_CryptoHmacOpenSSL", "BM_CryptoHmacOurs");
    ratio("base64 of 20 bytes (OpenSSL time / ours)", "BM_CryptoBase64OpenSSL/20", "BM_CryptoBase64Ours/20");
    ratio("base64 of 1 MiB (OpenSSL time / ours)", "BM_CryptoBase64OpenSSL/1048576", "BM_CryptoBase64Ours/1048576");
  }

 private:
  void ratio(const char* what, const std::string& theirs, const std::string& ours) {
    if (time_.count(theirs) && time_.count(ours))
      std::printf("%-48s %10.1f ns %10.1f ns %6.2f\n", what, time_[theirs], time_[ours], time_[theirs] / time_[ours]);
  }
  std::map<std::string, double> rate_, time_;
};

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv(kChildVariable)) {
    for (int size : kSizes) std::printf("%d %.1f\n", size, opensslSha1Rate(size));
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
