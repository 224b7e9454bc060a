// bench/bench_http.cpp - the HTTP client against loopback servers in this
// process, each figure beside curl's for the same work in the same run:
// a 100 MB body into a file and into memory (client / curl, target <= 0.8
// into a file); 500 small requests through one watcher beside
// `curl --parallel` with 50 connections (target <= 1.0); and the cost of
// an https request through curl (against openssl s_server when it is
// installed) beside the same small body over plain http.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
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

void reportThroughput(benchmark::State& state, double wallSeconds, double cpuSeconds, size_t bytes) {
  double gb = static_cast<double>(bytes) * static_cast<double>(state.iterations()) / 1e9;
  state.counters["MB/s"] = gb * 1000.0 / wallSeconds;
  state.counters["CPU_s/GB"] = cpuSeconds / gb;
}

bool curlInstalled(benchmark::State& state) {
  if (!bw::findExecutable("curl", bw::executableSearchPath()).empty()) return true;
  state.SkipWithError("curl is not installed");
  return false;
}

// Runs curl with args to its end; its wall seconds.
double runCurl(const std::vector<std::string>& args) {
  auto t0 = std::chrono::steady_clock::now();
  bw::SpawnOptions options;
  options.in = options.out = options.err = bw::SpawnStdio::kNull;
  bw::SpawnResult r = bw::spawnProcess(args, options);
  r.child.wait();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Prints both times and their ratio as counters.
void reportRatio(benchmark::State& state, double client, double curl) {
  const double n = static_cast<double>(state.iterations());
  state.counters["client_ms"] = client * 1000 / n;
  state.counters["curl_ms"] = curl * 1000 / n;
  state.counters["client/curl"] = curl > 0 ? client / curl : 0;
}

// The 100 MB body, by the client and by curl, into intoFile ? a file :
// memory (curl: /dev/null).
void bigBodyAgainstCurl(benchmark::State& state, bool intoFile) {
  if (!curlInstalled(state)) return;
  BodyServer server(kBigBody);
  const std::string ours = (std::filesystem::temp_directory_path() / "bw_bench_http.bin").string();
  const std::string theirs = (std::filesystem::temp_directory_path() / "bw_bench_curl.bin").string();
  bw::cHTTP http(nullptr);
  double client = 0, curl = 0, cpu = 0;
  for (auto _ : state) {
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
    cpu += threadCpuSeconds() - c0;
    client += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (result != 0) state.SkipWithError("download failed");
    curl += runCurl({"curl", "-q", "-s", "-o", intoFile ? theirs : "/dev/null", server.url()});
  }
  std::filesystem::remove(ours);
  std::filesystem::remove(theirs);
  reportRatio(state, client, curl);
  reportThroughput(state, client, cpu, kBigBody);
}

void BM_BigBodyIntoFileAgainstCurl(benchmark::State& state) { bigBodyAgainstCurl(state, true); }
BENCHMARK(BM_BigBodyIntoFileAgainstCurl)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_BigBodyIntoMemoryAgainstCurl(benchmark::State& state) { bigBodyAgainstCurl(state, false); }
BENCHMARK(BM_BigBodyIntoMemoryAgainstCurl)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

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

}  // namespace
