// bench/bench_http.cpp - the HTTP client against loopback servers in this
// process, each figure beside curl's for the same work in the same run:
// a 100 MB body into a file and into memory (client / curl, target <= 0.8
// into a file); 500 small requests through one watcher beside
// `curl --parallel` with 50 connections (target <= 1.0); the cost of an
// https request through curl (against openssl s_server when it is
// installed) beside the same small body over plain http; and https against
// nginx with a test authority the benchmark makes and trusts: 100 requests
// one after another and 8 at once beside the curl command fetching the same
// 100 (target <= 1.2), and 200 MB into a file beside curl (target <= 1.0).
// The big downloads alternate which side goes first and print both sides'
// CPU per GB beside the wall times, and the spread of the rounds' ratios.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_tls_support.h"
#include "platform/spawn.h"
#include "web/http.h"
#include "web/http_test_support.h"
#include "web/http_watcher.h"

namespace {

constexpr size_t kBigBody = 100u * 1000 * 1000;

using bw::test::listenLoopback;
using bw::test::sendAll;

void drainRequest(int fd) {
  char buf[4096];
  std::string in;
  while (in.find("\r\n\r\n") == std::string::npos) {
    pollfd p = {fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return;
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return;
    in.append(buf, static_cast<size_t>(n));
  }
}

// Serves one fixed response to every connection, one at a time, until
// stopped (polling so that it always ends by itself).
class BodyServer {
 public:
  explicit BodyServer(size_t bodySize) : body_(bodySize, 'b') {
    header_ = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(bodySize) + "\r\n\r\n";
    listener_ = listenLoopback(1024, &port_);
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd p = {listener_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        drainRequest(fd);
        sendAll(fd, header_.data(), header_.size());
        sendAll(fd, body_.data(), body_.size());
        ::close(fd);
      }
    });
  }
  ~BodyServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/body"; }

 private:
  std::string body_, header_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

double threadCpuSeconds() {
  timespec t;
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool curlInstalled(benchmark::State& state) {
  if (!bw::findExecutable("curl", bw::executableSearchPath()).empty()) return true;
  state.SkipWithError("curl is not installed");
  return false;
}

// One run of curl: its wall seconds and the CPU seconds it used.
struct CurlRun {
  double wall = 0;
  double cpu = 0;
};

double childrenCpuSeconds() {
  rusage u;
  ::getrusage(RUSAGE_CHILDREN, &u);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(u.ru_utime) + seconds(u.ru_stime);
}

// Runs curl with args to its end (the benchmark's other children, its
// servers, are reaped only after it, so the CPU counted is curl's).
CurlRun runCurlMeasured(const std::vector<std::string>& args) {
  auto t0 = std::chrono::steady_clock::now();
  const double c0 = childrenCpuSeconds();
  bw::SpawnOptions options;
  options.in = options.out = options.err = bw::SpawnStdio::kNull;
  bw::SpawnResult r = bw::spawnProcess(args, options);
  r.child.wait();
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), childrenCpuSeconds() - c0};
}

double runCurl(const std::vector<std::string>& args) { return runCurlMeasured(args).wall; }

// Prints both times and their ratio as counters.
void reportRatio(benchmark::State& state, double client, double curl) {
  const double n = static_cast<double>(state.iterations());
  state.counters["client_ms"] = client * 1000 / n;
  state.counters["curl_ms"] = curl * 1000 / n;
  state.counters["client/curl"] = curl > 0 ? client / curl : 0;
}

// The rounds of a big download by the client and by curl, the side that
// goes first alternating from round to round (the first may find the
// machine busier or the page cache fuller): both sides' wall and CPU
// seconds, and the lowest and highest ratio of a round.
class Rounds {
 public:
  bool curlFirst() const { return count_ % 2 == 1; }
  void add(double clientWall, double clientCpu, const CurlRun& curl) {
    const double ratio = curl.wall > 0 ? clientWall / curl.wall : 0;
    low_ = count_ == 0 ? ratio : std::min(low_, ratio);
    high_ = std::max(high_, ratio);
    ++count_;
    client_ += clientWall;
    clientCpu_ += clientCpu;
    curl_ += curl.wall;
    curlCpu_ += curl.cpu;
  }
  void report(benchmark::State& state, size_t bytes) const {
    reportRatio(state, client_, curl_);
    const double gb = static_cast<double>(bytes) * static_cast<double>(count_) / 1e9;
    state.counters["round_min"] = low_;
    state.counters["round_max"] = high_;
    state.counters["MB/s"] = gb * 1000.0 / client_;
    state.counters["CPU_s/GB"] = clientCpu_ / gb;
    state.counters["curl_CPU_s/GB"] = curlCpu_ / gb;
  }

 private:
  int count_ = 0;
  double client_ = 0, clientCpu_ = 0, curl_ = 0, curlCpu_ = 0, low_ = 0, high_ = 0;
};

// The 100 MB body, by the client and by curl, into intoFile ? a file :
// memory (curl: /dev/null).
void bigBodyAgainstCurl(benchmark::State& state, bool intoFile) {
  if (!curlInstalled(state)) return;
  BodyServer server(kBigBody);
  const std::string ours = (std::filesystem::temp_directory_path() / "bw_bench_http.bin").string();
  const std::string theirs = (std::filesystem::temp_directory_path() / "bw_bench_curl.bin").string();
  const std::vector<std::string> curlArgs = {"curl", "-q", "-s", "-o", intoFile ? theirs : "/dev/null", server.url()};
  bw::cHTTP http(nullptr);
  Rounds rounds;
  for (auto _ : state) {
    CurlRun curl;
    if (rounds.curlFirst()) curl = runCurlMeasured(curlArgs);
    auto t0 = std::chrono::steady_clock::now();
    double c0 = threadCpuSeconds();
    http.openURL(bw::Str(server.url()), nullptr, nullptr, nullptr, 30, false, nullptr, false);
    int32_t result;
    if (intoFile) {
      bw::httpSaveToFile file;
      file.open(bw::Str(":" + ours.substr(1)));
      result = http.save(&file, nullptr, 256 * 1024).result;
    } else {
      bw::httpSaveToBuffer memory;
      memory.setMemoryLimit(static_cast<int64_t>(kBigBody) + 1);
      result = http.save(&memory, nullptr, 256 * 1024).result;
      benchmark::DoNotOptimize(memory.getBuffer());
    }
    http.close();
    const double cpu = threadCpuSeconds() - c0;
    const double client = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (result != 0) state.SkipWithError("download failed");
    if (!rounds.curlFirst()) curl = runCurlMeasured(curlArgs);
    rounds.add(client, cpu, curl);
  }
  std::filesystem::remove(ours);
  std::filesystem::remove(theirs);
  rounds.report(state, kBigBody);
}

void BM_BigBodyIntoFileAgainstCurl(benchmark::State& state) { bigBodyAgainstCurl(state, true); }
BENCHMARK(BM_BigBodyIntoFileAgainstCurl)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

void BM_BigBodyIntoMemoryAgainstCurl(benchmark::State& state) { bigBodyAgainstCurl(state, false); }
BENCHMARK(BM_BigBodyIntoMemoryAgainstCurl)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

// Accepts any number of connections at once and answers each delayMs after
// it was accepted.
class DelayServer {
 public:
  explicit DelayServer(int delayMs) : delayMs_(delayMs) {
    listener_ = listenLoopback(1024, &port_);
    ::fcntl(listener_, F_SETFL, ::fcntl(listener_, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { run(); });
  }
  ~DelayServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/slow"; }

 private:
  struct Conn {
    int fd;
    std::chrono::steady_clock::time_point due;
  };
  void run() {
    const std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: 1024\r\n\r\n" + std::string(1024, 'd');
    std::vector<Conn> conns;
    while (!stop_) {
      pollfd p = {listener_, POLLIN, 0};
      ::poll(&p, 1, 2);
      for (;;) {
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) break;
        conns.push_back({fd, std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs_)});
      }
      auto now = std::chrono::steady_clock::now();
      std::erase_if(conns, [&](Conn& c) {
        if (now < c.due) return false;
        char buf[4096];
        while (::recv(c.fd, buf, sizeof buf, 0) > 0) {
        }
        int flags = ::fcntl(c.fd, F_GETFL);
        ::fcntl(c.fd, F_SETFL, flags & ~O_NONBLOCK);
        sendAll(c.fd, reply.data(), reply.size());
        ::close(c.fd);
        return true;
      });
    }
    for (Conn& c : conns) ::close(c.fd);
  }
  int delayMs_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// 500 requests at once through one watcher beside curl --parallel with at
// most 50 connections fetching the same 500 URLs; the argument is the
// server's delay in ms (0 gives the transfer time alone).
void BM_FiveHundredThroughOneWatcherAgainstCurlParallel(benchmark::State& state) {
  if (!curlInstalled(state)) return;
  constexpr int kCount = 500;
  const int delayMs = static_cast<int>(state.range(0));
  DelayServer server(delayMs);
  const std::string config = (std::filesystem::temp_directory_path() / "bw_bench_http_parallel.txt").string();
  {
    std::ofstream out(config);
    for (int i = 0; i < kCount; ++i) out << "url = \"" << server.url() << "\"\noutput = \"/dev/null\"\n";
  }
  double client = 0, curl = 0, cpu = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    double c0 = threadCpuSeconds();
    std::vector<std::unique_ptr<bw::cHTTP>> requests;
    std::vector<std::unique_ptr<bw::httpSaveToBuffer>> bodies;
    bw::cHTTPwatcher watcher;
    for (int i = 0; i < kCount; ++i) {
      requests.push_back(std::make_unique<bw::cHTTP>(nullptr));
      bodies.push_back(std::make_unique<bw::httpSaveToBuffer>());
      watcher.add(requests.back().get(), false);
      requests.back()->openURL(bw::Str(server.url()), nullptr, nullptr, nullptr, 10, true, nullptr, false);
      requests.back()->saveInit(bodies.back().get(), nullptr, 8192);
    }
    int finished = 0;
    for (int rounds = 0; finished < kCount && rounds < 1000000; ++rounds) {
      bw::cHTTP* ready = watcher.isReady(1000);
      if (!ready) continue;
      bw::cHTTP::Step s = ready->saveAppend(nullptr, nullptr);
      if (s.result != 0 || s.finished) {
        if (s.result != 0) state.SkipWithError("a request failed");
        ++finished;
        ready->close();
        watcher.remove(ready, false);
      }
    }
    cpu += threadCpuSeconds() - c0;
    client += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    curl += runCurl({"curl", "-q", "-s", "--parallel", "--parallel-immediate", "--parallel-max", "50", "-K", config});
  }
  std::filesystem::remove(config);
  reportRatio(state, client, curl);
  state.counters["client_cpu_ms"] = cpu * 1000 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FiveHundredThroughOneWatcherAgainstCurlParallel)
    ->Arg(0)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

// A small body over plain http, the baseline for the https figure.
void BM_SmallBodyPlainHttp(benchmark::State& state) {
  BodyServer server(1024);
  bw::cHTTP http(nullptr);
  for (auto _ : state) {
    http.openURL(bw::Str(server.url()), nullptr, nullptr, nullptr, 10, false, nullptr, false);
    bw::httpSaveToBuffer memory;
    if (http.save(&memory, nullptr, 8192).result != 0) state.SkipWithError("download failed");
    http.close();
  }
}
BENCHMARK(BM_SmallBodyPlainHttp)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same small body over https through curl and openssl s_server.
void BM_SmallBodyHttpsThroughCurl(benchmark::State& state) {
  const std::string searchPath = bw::executableSearchPath();
  if (bw::findExecutable("curl", searchPath).empty() || bw::findExecutable("openssl", searchPath).empty()) {
    state.SkipWithError("curl or openssl is not installed");
    return;
  }
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "bw_bench_https";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "small.txt") << std::string(1024, 's');
  bw::SpawnOptions quiet;
  quiet.in = quiet.out = quiet.err = bw::SpawnStdio::kNull;
  quiet.workingDirectory = dir.string();
  bw::spawnProcess({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out",
                    "cert.pem", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
                   quiet)
      .child.wait();
  bw::SpawnOptions piped = quiet;
  piped.out = bw::SpawnStdio::kPipe;
  bw::SpawnResult server = bw::spawnProcess(
      {"openssl", "s_server", "-accept", "127.0.0.1:0", "-WWW", "-cert", "cert.pem", "-key", "key.pem"}, piped);
  std::string text;
  char buf[256];
  while (text.find('\n', text.find("ACCEPT")) == std::string::npos) {
    pollfd p = {server.child.stdoutFd(), POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) break;
    ssize_t n = ::read(server.child.stdoutFd(), buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  size_t colon = text.find(':', text.find("ACCEPT"));
  const std::string url =
      "https://127.0.0.1:" + std::to_string(colon == std::string::npos ? 0 : std::atoi(text.c_str() + colon + 1)) +
      "/small.txt";
  // Keep the server's output from filling its pipe.
  std::thread drain([fd = server.child.stdoutFd()] {
    char b[4096];
    while (::read(fd, b, sizeof b) > 0) {
    }
  });
  bw::initHTTPModule();
  // Certificates are always checked: the test certificate is the store.
  ::setenv("CURL_CA_BUNDLE", (dir / "cert.pem").c_str(), 1);
  bw::cHTTP http(nullptr);
  for (auto _ : state) {
    http.openURL(bw::Str(url), nullptr, nullptr, nullptr, 10, false, nullptr, false);
    bw::httpSaveToBuffer memory;
    if (http.save(&memory, nullptr, 8192).result != 0) state.SkipWithError("https download failed");
    http.close();
  }
  ::unsetenv("CURL_CA_BUNDLE");
  server.child.terminate(SIGTERM);
  server.child.wait();
  drain.join();
  bw::endHTTPModule();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SmallBodyHttpsThroughCurl)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// --- https against nginx.

// The https benchmarks' scratch folder: the certificates, nginx serving
// www/ with them, and the files; removed with the object.
class HttpsSite {
 public:
  // files: name and size (bytes of 'f'; a size from 1 MB up is left
  // sparse, read back as zeros).
  explicit HttpsSite(const std::vector<std::pair<std::string, size_t>>& files)
      : dir_(std::filesystem::temp_directory_path() / ("bw_bench_https_" + std::to_string(::getpid()))) {
    namespace fs = std::filesystem;
    if (bw::findExecutable("curl", bw::executableSearchPath()).empty() || !fs::exists(bw::bench::kNginx) ||
        !fs::exists("/usr/bin/openssl")) {
      skipped_ = "curl, nginx or openssl is not installed (scripts/deps.sh bench)";
      return;
    }
    fs::create_directories(dir_ / "www");
    for (const auto& [name, size] : files) {
      if (size >= 1000000) {
        std::ofstream(dir_ / "www" / name).close();
        fs::resize_file(dir_ / "www" / name, size);
      } else {
        std::ofstream(dir_ / "www" / name, std::ios::binary) << std::string(size, 'f');
      }
    }
    if (!bw::bench::makeTestCertificates(dir_ / "certs")) {
      skipped_ = "openssl could not make the test certificates";
      return;
    }
    nginx_ = std::make_unique<bw::bench::Nginx>(dir_, dir_ / "certs");
    if (!nginx_->ready()) skipped_ = "nginx did not start";
    bw::initHTTPModule();
    // Certificates are always checked: the test authority is the store.
    ::setenv("CURL_CA_BUNDLE", ca().c_str(), 1);
  }
  ~HttpsSite() {
    ::unsetenv("CURL_CA_BUNDLE");
    nginx_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  HttpsSite(const HttpsSite&) = delete;
  HttpsSite& operator=(const HttpsSite&) = delete;

  // Empty when ready, else why the benchmark skips.
  const std::string& skipped() const { return skipped_; }
  std::string url(const std::string& name) const { return nginx_->url("/" + name); }
  std::string ca() const { return (dir_ / "certs/ca.pem").string(); }
  std::string scratch(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
  std::unique_ptr<bw::bench::Nginx> nginx_;
  std::string skipped_;
};

// Fetches url count times into memory, atOnce requests at a time through
// one watcher (1: blocking, one after another); false when one failed.
bool fetchMany(const std::string& url, int count, int atOnce) {
  bool ok = true;
  if (atOnce == 1) {
    bw::cHTTP http(nullptr);
    for (int i = 0; i < count; ++i) {
      http.openURL(bw::Str(url), nullptr, nullptr, nullptr, 30, false, nullptr, false);
      bw::httpSaveToBuffer memory;
      ok = http.save(&memory, nullptr, 65536).result == 0 && ok;
      http.close();
    }
    return ok;
  }
  bw::cHTTPwatcher watcher;
  std::vector<std::unique_ptr<bw::cHTTP>> slots;
  std::vector<std::unique_ptr<bw::httpSaveToBuffer>> bodies(static_cast<size_t>(atOnce));
  int started = 0, finished = 0;
  auto start = [&](size_t slot) {
    bodies[slot] = std::make_unique<bw::httpSaveToBuffer>();
    watcher.add(slots[slot].get(), false);
    slots[slot]->openURL(bw::Str(url), nullptr, nullptr, nullptr, 30, true, nullptr, false);
    slots[slot]->saveInit(bodies[slot].get(), nullptr, 65536);
    ++started;
  };
  for (int i = 0; i < atOnce && i < count; ++i) {
    slots.push_back(std::make_unique<bw::cHTTP>(nullptr));
    start(slots.size() - 1);
  }
  while (finished < count) {
    bw::cHTTP* ready = watcher.isReady(1000);
    if (!ready) continue;
    bw::cHTTP::Step s = ready->saveAppend(nullptr, nullptr);
    if (s.result == 0 && !s.finished) continue;
    ok = s.result == 0 && ok;
    ++finished;
    ready->close();
    watcher.remove(ready, false);
    if (started < count) {
      for (size_t slot = 0; slot < slots.size(); ++slot)
        if (slots[slot].get() == ready) start(slot);
    }
  }
  return ok;
}

// 100 requests for a 16 KB file over https, one after another or 8 at once
// (the argument), beside the curl command fetching the same 100 URLs with
// the same certificate (`curl -K`, with --parallel --parallel-max 8 for 8
// at once; it keeps its connections alive between requests).
void BM_HundredHttpsAgainstCurl(benchmark::State& state) {
  constexpr int kCount = 100;
  const int atOnce = static_cast<int>(state.range(0));
  HttpsSite site({{"feed.xml", 16 * 1024}});
  if (!site.skipped().empty()) return state.SkipWithError(site.skipped().c_str());
  const std::string url = site.url("feed.xml");
  const std::string config = site.scratch("curl.txt");
  {
    std::ofstream out(config);
    for (int i = 0; i < kCount; ++i) out << "url = \"" << url << "\"\noutput = \"/dev/null\"\n";
  }
  std::vector<std::string> curlArgs = {"curl", "-q", "-s", "-f", "--cacert", site.ca(), "-K", config};
  if (atOnce > 1) {
    for (const char* a : {"--parallel", "--parallel-immediate", "--parallel-max"}) curlArgs.push_back(a);
    curlArgs.push_back(std::to_string(atOnce));
  }
  double client = 0, curl = 0, cpu = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    double c0 = threadCpuSeconds();
    if (!fetchMany(url, kCount, atOnce)) state.SkipWithError("an https request failed");
    cpu += threadCpuSeconds() - c0;
    client += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    curl += runCurl(curlArgs);
  }
  reportRatio(state, client, curl);
  state.counters["client_cpu_ms"] = cpu * 1000 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_HundredHttpsAgainstCurl)
    ->ArgName("at_once")
    ->Arg(1)
    ->Arg(8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

// 200 MB over https into a file, beside `curl -o` with the same certificate.
void BM_TwoHundredMBHttpsIntoFileAgainstCurl(benchmark::State& state) {
  constexpr size_t kSize = 200u * 1000 * 1000;
  HttpsSite site({{"big.bin", kSize}});
  if (!site.skipped().empty()) return state.SkipWithError(site.skipped().c_str());
  const std::string url = site.url("big.bin");
  const std::string ours = site.scratch("ours.bin"), theirs = site.scratch("curl.bin");
  const std::vector<std::string> curlArgs = {"curl", "-q", "-s", "-f", "--cacert", site.ca(), "-o", theirs, url};
  // nginx serves the new file slower the first time (its pages come into
  // the cache): one download first, measured for neither side.
  runCurl({"curl", "-q", "-s", "-f", "--cacert", site.ca(), "-o", "/dev/null", url});
  bw::cHTTP http(nullptr);
  Rounds rounds;
  for (auto _ : state) {
    CurlRun curl;
    if (rounds.curlFirst()) curl = runCurlMeasured(curlArgs);
    auto t0 = std::chrono::steady_clock::now();
    double c0 = threadCpuSeconds();
    http.openURL(bw::Str(url), nullptr, nullptr, nullptr, 30, false, nullptr, false);
    bw::httpSaveToFile file;
    file.open(bw::Str(":" + ours.substr(1)));
    const int32_t result = http.save(&file, nullptr, 256 * 1024).result;
    http.close();
    const double cpu = threadCpuSeconds() - c0;
    const double client = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (result != 0 || std::filesystem::file_size(ours) != kSize) state.SkipWithError("the https download failed");
    if (!rounds.curlFirst()) curl = runCurlMeasured(curlArgs);
    rounds.add(client, cpu, curl);
  }
  rounds.report(state, kSize);
}
BENCHMARK(BM_TwoHundredMBHttpsIntoFileAgainstCurl)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(6);

}  // namespace
