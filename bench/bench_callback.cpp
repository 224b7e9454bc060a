// bench/bench_callback.cpp - the sign-in callback server against the
// schedule it replaces: a non-blocking accept polled every 5 ticks (100 ms),
// then a blocking read of the first connection. Both serve the same
// sign-in-shaped requests on loopback, with and without 8 idle connections
// opened first (as browsers open speculative ones).
//
// Figures: connect-to-query latency p50 and p95, and the time from an
// injected Cancel to the wait's return. The idle connections of the
// "with idle" runs close 300 ms after the request is sent, or the old
// schedule would never return. BRINDLEWORK_CALLBACK_RUNS sets the number of
// requests (default 1,000 without idle connections, a fifth of that with).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "social/callback_server.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kRequest =
    "GET /callback?oauth_token=Z6eEdO8MOmk394WozF5oKyuAv855l4Mlqo7hhlSLik&oauth_verifier=Kd75W4OQfb2oJTV0vzGzeXftVAwgMnEK9M"
    " HTTP/1.1\r\nHost: localhost\r\nUser-Agent: Mozilla/5.0\r\nAccept: text/html\r\n\r\n";

int runs(bool idle) {
  const char* text = std::getenv("BRINDLEWORK_CALLBACK_RUNS");
  int n = text ? std::atoi(text) : 1000;
  return idle ? std::max(1, n / 5) : n;
}

int connectLoopback(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return fd;
}

// The query of a callback request line read at once, or NIL.
bw::Str queryOf(const char* data, ssize_t n) {
  bw::CallbackRequest request = bw::parseCallbackRequest(std::string_view(data, n > 0 ? static_cast<size_t>(n) : 0));
  return request.kind == bw::CallbackRequest::Kind::kCallback ? bw::Str(request.query) : bw::Str();
}

bool anyQuery(bw::Text) { return true; }

// The old schedule on the same listener: accept polled every 100 ms, then
// one blocking read of whatever connection came first.
bw::Str referenceWait(int listener, bw::fLoginCallback* abort) {
  int fd;
  while ((fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) < 0) {
    if (errno != EAGAIN || abort->call()) return bw::Str();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ::fcntl(fd, F_SETFL, 0);
  char buffer[2000];
  ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
  bw::Str query = queryOf(buffer, n);
  if (!query.isNil()) ::send(fd, bw::callbackReplyPage().data(), bw::callbackReplyPage().size(), MSG_NOSIGNAL);
  ::close(fd);
  return query;
}

class Never : public bw::fLoginCallback {
 public:
  bool call() override { return false; }
};

// Cancel pressed at a moment another thread sets.
class CancelAt : public bw::fLoginCallback {
 public:
  bool call() override { return pressed.load(); }
  std::atomic<bool> pressed{false};
};

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

void latency(benchmark::State& state, bool reference, bool idle) {
  std::vector<double> ms;
  for (auto _ : state) {
    bw::callbackWebServer server;
    int port = server.open(0);
    Never never;
    for (int i = 0; i < runs(idle); ++i) {
      std::vector<int> idleFds;
      Clock::time_point sent;
      std::thread browser([&] {
        if (idle)
          for (int k = 0; k < 8; ++k) idleFds.push_back(connectLoopback(port));
        // A random phase against the old schedule's 100 ms cadence.
        std::this_thread::sleep_for(std::chrono::microseconds(std::rand() % 100000));
        int fd = connectLoopback(port);
        sent = Clock::now();
        ::send(fd, kRequest.data(), kRequest.size(), MSG_NOSIGNAL);
        if (idle) {
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
          for (int k : idleFds) ::close(k);
        }
        char buffer[512];
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        ::close(fd);
      });
      bw::Str query;
      while (query.isNil()) query = reference ? referenceWait(server.socket(), &never) : server.waitForCallback(&never, anyQuery).query;
      Clock::time_point got = Clock::now();
      browser.join();
      ms.push_back(std::chrono::duration<double, std::milli>(got - sent).count());
    }
  }
  state.counters["p50_ms"] = percentile(ms, 0.50);
  state.counters["p95_ms"] = percentile(ms, 0.95);
  state.counters["requests"] = static_cast<double>(ms.size());
}

void BM_CallbackLatencyOurs(benchmark::State& s) { latency(s, false, false); }
void BM_CallbackLatencyReference(benchmark::State& s) { latency(s, true, false); }
void BM_CallbackLatencyOursIdle(benchmark::State& s) { latency(s, false, true); }
void BM_CallbackLatencyReferenceIdle(benchmark::State& s) { latency(s, true, true); }
BENCHMARK(BM_CallbackLatencyOurs)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CallbackLatencyReference)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CallbackLatencyOursIdle)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CallbackLatencyReferenceIdle)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CallbackAbortReaction(benchmark::State& state) {
  std::vector<double> ms;
  for (auto _ : state) {
    bw::callbackWebServer server;
    server.open(0);
    for (int i = 0; i < 50; ++i) {
      CancelAt cancel;
      Clock::time_point pressed;
      std::thread user([&] {
        std::this_thread::sleep_for(std::chrono::microseconds(50000 + std::rand() % 100000));
        pressed = Clock::now();
        cancel.pressed = true;
      });
      server.waitForCallback(&cancel, anyQuery);
      Clock::time_point back = Clock::now();
      user.join();
      ms.push_back(std::chrono::duration<double, std::milli>(back - pressed).count());
    }
  }
  state.counters["p50_ms"] = percentile(ms, 0.50);
  state.counters["p95_ms"] = percentile(ms, 0.95);
}
BENCHMARK(BM_CallbackAbortReaction)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
