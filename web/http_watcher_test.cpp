// web/http_watcher_test.cpp - the request watcher: order, readiness by
// state, https beside http in one poll, its rules, many sockets and
// fairness.
#include "web/http_watcher.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "core/raise_test_support.h"
#include "web/http.h"
#include "web/http_save.h"
#include "web/http_test_support.h"
#include "web/tls_server_test_support.h"

namespace bw {
namespace {

using test::LoopbackServer;
using test::Reply;

// A non-blocking request over one end of a socket pair; the other end is
// kept by the test.
struct PairedRequest {
  cHTTP http{nullptr};
  int peer = -1;
  PairedRequest() {
    int fds[2];
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
    peer = fds[1];
    http.openConnected(fds[0], "h", "", true);
  }
  ~PairedRequest() {
    http.close();
    ::close(peer);
  }
};

TEST(HttpWatcher, HandsOutReadyRequestsInTurn) {
  PairedRequest a, b;
  cHTTPwatcher watcher;
  watcher.add(&a.http, false);
  watcher.add(&b.http, false);
  ASSERT_EQ(a.http.sendRequest(), 0);
  ASSERT_EQ(b.http.sendRequest(), 0);
  EXPECT_EQ(watcher.isReady(0), nullptr);  // sent, nothing to read yet
  ASSERT_EQ(::send(a.peer, "x", 1, 0), 1);
  ASSERT_EQ(::send(b.peer, "y", 1, 0), 1);
  EXPECT_EQ(watcher.isReady(1000), &a.http);
  EXPECT_EQ(watcher.last(), &a.http);
  EXPECT_EQ(watcher.isReady(1000), &b.http);
  EXPECT_EQ(watcher.isReady(1000), &a.http);
}

// The polling steps answer nothing until their part of the answer is whole,
// keeping what came; the pieces arrive apart.
TEST(HttpWatcher, PollingStepsAnswerOnceTheirPartIsWhole) {
  PairedRequest r;
  ASSERT_EQ(r.http.sendRequest(), 0);
  auto arrive = [&](const std::string& piece) {
    ASSERT_EQ(::send(r.peer, piece.data(), piece.size(), 0), static_cast<ssize_t>(piece.size()));
  };
  expectRaise([&] { r.http.pollRedirect(256); }, "EMU", "cHTTP.pollRedirect(); previous method call was not pollStatus()");
  EXPECT_FALSE(r.http.pollStatus());
  arrive("HTTP/1.0 30");
  EXPECT_FALSE(r.http.pollStatus());
  arrive("8 Moved\r\nLoca");
  std::optional<cHTTP::Status> status = r.http.pollStatus();
  ASSERT_TRUE(status);
  EXPECT_EQ(status->status, 308);
  EXPECT_TRUE(status->redirect);
  EXPECT_FALSE(r.http.pollRedirect(256));
  arrive("tion: http://example.org/x\r\n");
  EXPECT_FALSE(r.http.pollRedirect(256));
  arrive("\r\n");
  std::optional<cHTTP::Redirect> redirect = r.http.pollRedirect(256);
  ASSERT_TRUE(redirect);
  EXPECT_EQ(redirect->result, 0);
  EXPECT_EQ(redirect->location, "http://example.org/x");
  EXPECT_TRUE(redirect->permanent);
}

// The server keeps the connection after the whole answer, so nothing more
// becomes readable: a body read ahead with the header is ready to begin,
// and the step that brings the last announced byte finishes.
TEST(HttpWatcher, AWholeAnswerNeedsNoMoreInput) {
  for (const char* late : {"", "dy"}) {
    SCOPED_TRACE(late);
    PairedRequest r;
    cHTTPwatcher watcher;
    watcher.add(&r.http, false);
    r.http.saveInit(nullptr, nullptr, 1500);
    const std::string early = "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbo" + std::string(*late ? "" : "dy");
    ASSERT_EQ(::send(r.peer, early.data(), early.size(), 0), static_cast<ssize_t>(early.size()));
    cHTTP::Step step;
    while (!step.finished && step.result == 0) step = r.http.saveAppend(nullptr, nullptr);
    ASSERT_EQ(r.http.state(), cHTTP::kBodyReady);
    EXPECT_TRUE(r.http.isReady(0));
    EXPECT_EQ(watcher.isReady(0), &r.http);
    httpSaveToBuffer body;
    step = r.http.saveAppend(&body, nullptr);
    if (*late) {
      EXPECT_FALSE(step.finished);
      EXPECT_EQ(watcher.isReady(0), nullptr);
      ASSERT_EQ(::send(r.peer, late, 2, 0), 2);
      EXPECT_EQ(watcher.isReady(1000), &r.http);
      step = r.http.saveAppend(nullptr, nullptr);
    }
    EXPECT_TRUE(step.finished);
    EXPECT_EQ(step.result, 0);
    EXPECT_EQ(watcher.isReady(0), nullptr);
  }
}

TEST(HttpWatcher, ConnectingRequestIsReadyWhenWritable) {
  LoopbackServer server(Reply{{"HTTP/1.0 200 OK\r\n\r\n"}}, 1);
  cHTTP http(nullptr);
  cHTTPwatcher watcher;
  watcher.add(&http, false);  // not open: no socket noted
  EXPECT_EQ(watcher.infoMaxSocket(), -1);
  ASSERT_EQ(http.openURL(Str(server.url()), nullptr, nullptr, nullptr, 5, true, nullptr, false).result, 0);
  EXPECT_EQ(watcher.infoMaxSocket(), http.socket());
  EXPECT_EQ(http.state(), cHTTP::kOpened);
  EXPECT_EQ(watcher.isReady(2000), &http);
  http.close();
  EXPECT_EQ(watcher.infoMaxSocket(), -1);
}

TEST(HttpWatcher, RulesOfAddingAndRemoving) {
  cHTTP a(nullptr), b(nullptr);
  cHTTPwatcher watcher, other;
  watcher.add(&a, false);
  expectRaise([&] { watcher.add(&a, false); }, "EMU", "cHTTPwatcher.add(); http object was already added (1)");
  expectRaise([&] { other.remove(&a, false); }, "EMU",
              "cHTTPwatcher.remove(); http object was not added to this object");
  watcher.remove(&a, false);  // the only member
  expectRaise([&] { watcher.remove(&a, false); }, "EMU",
              "cHTTPwatcher.remove(); http object was not added to this object");
  EXPECT_EQ(watcher.isReady(100), nullptr);  // empty: at once

  // A blocking request may not be watched once it is open.
  LoopbackServer server(Reply{{"HTTP/1.0 200 OK\r\n\r\n"}}, 1);
  watcher.add(&b, false);
  expectRaise([&] { b.openURL(Str(server.url()), nullptr, nullptr, nullptr, 5, false, nullptr, false); }, "EMU",
              "cHTTPwatcher.add()/cHTTP.open(); http was not opened with nonBlocking=TRUE");
  b.close();
  watcher.remove(&b, false);
  {
    cHTTP c(nullptr);
    ASSERT_EQ(c.openURL(Str(server.url()), nullptr, nullptr, nullptr, 5, false, nullptr, false).result, 0);
    expectRaise([&] { watcher.add(&c, false); }, "EMU",
                "cHTTPwatcher.add()/cHTTP.open(); http was not opened with nonBlocking=TRUE");
    c.close();
    watcher.remove(&c, true);
  }
  // Ending a request takes it out of its watcher.
  {
    cHTTP d(nullptr);
    watcher.add(&d, false);
  }
  EXPECT_EQ(watcher.first(), nullptr);
}

// https transfers wait in the same poll as http sockets: fifty of them
// beside an http request whose server stays silent all finish at once,
// none waits for the silent one's time-out.
TEST(HttpWatcher, HttpsTransfersShareThePollWithASilentHttpRequest) {
  constexpr int kCount = 50;
  test::TlsStreams tls;
  ASSERT_TRUE(tls.ready());
  test::CurlCaBundle trusted(tls.certificate());
  LoopbackServer secure(Reply{{"HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecure"}}, kCount, false,
                        tls.maker());
  LoopbackServer silent(Reply{{}, 0, true, 2500}, 1);
  std::vector<std::unique_ptr<httpSaveToBuffer>> bodies;  // outlive the requests, which close them
  cHTTPwatcher watcher;
  std::vector<std::unique_ptr<cHTTP>> requests;
  for (int i = 0; i <= kCount; ++i) {
    requests.push_back(std::make_unique<cHTTP>(nullptr));
    bodies.push_back(std::make_unique<httpSaveToBuffer>());
    watcher.add(requests.back().get(), false);
    const std::string url = i == 0 ? silent.url() : secure.url();
    ASSERT_EQ(requests.back()->openURL(Str(url), nullptr, nullptr, nullptr, 5, true, nullptr, false).result, 0);
    requests.back()->saveInit(bodies.back().get(), nullptr, 4096);
  }
  const auto start = std::chrono::steady_clock::now();
  int done = 0;
  while (done < kCount) {
    cHTTP* h = watcher.isReady(1000);
    ASSERT_NE(h, nullptr);
    cHTTP::Step s = h->saveAppend(nullptr, nullptr);
    if (h == requests[0].get()) {
      ASSERT_EQ(s.result, 0);  // connected and sent, then nothing comes
      continue;
    }
    if (s.result != 0 || s.finished) {
      EXPECT_EQ(s.result, 0) << h->infoFailureReason();
      ++done;
      watcher.remove(h, false);
      h->close();
    }
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  for (int i = 1; i <= kCount; ++i) EXPECT_EQ(std::string(bodies[i]->getBuffer().data.get()), "secure");
}

TEST(HttpWatcher, ThreeHundredRequestsAtOnce) {
  constexpr int kCount = 300;
  LoopbackServer server(Reply{{"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\ndone"}}, kCount);
  std::vector<std::unique_ptr<cHTTP>> requests;
  std::vector<std::unique_ptr<httpSaveToBuffer>> bodies;
  cHTTPwatcher watcher;
  int highest = -1;
  for (int i = 0; i < kCount; ++i) {
    requests.push_back(std::make_unique<cHTTP>(nullptr));
    bodies.push_back(std::make_unique<httpSaveToBuffer>());
    watcher.add(requests.back().get(), false);
    ASSERT_EQ(requests.back()->openURL(Str(server.url()), nullptr, nullptr, nullptr, 10, true, nullptr, false).result,
              0);
    requests.back()->saveInit(bodies.back().get(), nullptr, 512);
    highest = std::max(highest, requests.back()->socket());
  }
  EXPECT_GE(highest, 256);
  int finished = 0;
  for (int rounds = 0; finished < kCount && rounds < 100000; ++rounds) {
    cHTTP* ready = watcher.isReady(1000);
    if (!ready) continue;
    cHTTP::Step s = ready->saveAppend(nullptr, nullptr);
    ASSERT_EQ(s.result, 0);
    if (s.finished) {
      ++finished;
      ready->close();
      watcher.remove(ready, false);
    }
  }
  EXPECT_EQ(finished, kCount);
  for (auto& b : bodies) EXPECT_EQ(b->getBuffer().total, 5);
}

TEST(HttpWatcher, ReadyRequestsShareOneThousandRoundsEvenly) {
  PairedRequest ready[3];
  PairedRequest idle;
  cHTTPwatcher watcher;
  watcher.add(&idle.http, false);
  for (PairedRequest& r : ready) watcher.add(&r.http, false);
  ASSERT_EQ(idle.http.sendRequest(), 0);  // waits for data that never comes
  std::map<cHTTP*, int> picks;
  for (int i = 0; i < 1000; ++i) ++picks[watcher.isReady(100)];
  EXPECT_EQ(picks.count(&idle.http), 0u);
  EXPECT_EQ(picks.count(nullptr), 0u);
  for (PairedRequest& r : ready) {
    EXPECT_GE(picks[&r.http], 333);
    EXPECT_LE(picks[&r.http], 334);
  }
}

}  // namespace
}  // namespace bw

namespace bw {
namespace {

// Runs the watched requests until each has finished or failed; the time
// each one ended, in seconds from the start.
std::map<cHTTP*, std::pair<int32_t, double>> runAll(cHTTPwatcher& watcher, size_t count) {
  std::map<cHTTP*, std::pair<int32_t, double>> ended;
  const auto start = std::chrono::steady_clock::now();
  while (ended.size() < count) {
    cHTTP* ready = watcher.isReady(1000);
    if (!ready) continue;
    cHTTP::Step s = ready->saveAppend(nullptr, nullptr);
    if (s.result == 0 && !s.finished) continue;
    ended[ready] = {s.result, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
    ready->close();
    watcher.remove(ready, false);
  }
  return ended;
}

// Five servers dripping a byte every 300 ms (never idle for the time-out of
// 1 s) share the watcher with 200 requests to a good server: the 200 end
// as if the drips were absent, the drips fail at the whole-request limit.
TEST(HttpWatcher, DripServersStallNothingAndFailAtTheirDeadline) {
  constexpr int kGood = 200, kDrips = 5;
  Reply drip{{"HTTP/1.0 200 OK\r\n\r\n"}, 300};
  for (int i = 0; i < 50; ++i) drip.segments.push_back("d");
  std::vector<std::unique_ptr<LoopbackServer>> dripServers;
  for (int i = 0; i < kDrips; ++i) dripServers.push_back(std::make_unique<LoopbackServer>(drip, 1));
  LoopbackServer good(Reply{{"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\ngood"}}, kGood);

  cHTTPwatcher watcher;
  std::vector<std::unique_ptr<cHTTP>> requests;
  std::vector<std::unique_ptr<httpSaveToBuffer>> bodies;
  auto start = [&](const std::string& url, int32_t timeout) {
    requests.push_back(std::make_unique<cHTTP>(nullptr));
    bodies.push_back(std::make_unique<httpSaveToBuffer>());
    watcher.add(requests.back().get(), false);
    ASSERT_EQ(requests.back()->openURL(Str(url), nullptr, nullptr, nullptr, timeout, true, nullptr, false).result,
              0);
    requests.back()->saveInit(bodies.back().get(), nullptr, 512);
  };
  for (auto& d : dripServers) start(d->url(), 1);
  for (int i = 0; i < kGood; ++i) start(good.url(), 5);
  auto ended = runAll(watcher, requests.size());

  double lastGood = 0;
  for (int i = 0; i < kDrips + kGood; ++i) {
    auto [result, seconds] = ended[requests[static_cast<size_t>(i)].get()];
    if (i < kDrips) {
      EXPECT_EQ(result, -1);
      EXPECT_GE(seconds, 9.5);
    } else {
      EXPECT_EQ(result, 0);
      lastGood = std::max(lastGood, seconds);
    }
  }
  EXPECT_LT(lastGood, 6.0);  // far from the drips' 10 s, even on a loaded machine
  for (int i = kDrips; i < kDrips + kGood; ++i) EXPECT_EQ(bodies[static_cast<size_t>(i)]->getBuffer().total, 5);
}

// Time held by the caller counts toward neither deadline: a request whose
// server stays silent outlives its 1 s time-out by the time held, then
// fails at it.
TEST(HttpWatcher, HeldTimeCountsTowardNoDeadline) {
  LoopbackServer silent(Reply{{}, 0, true, 3000}, 1);
  cHTTP http(nullptr);
  cHTTPwatcher watcher;
  watcher.add(&http, false);
  ASSERT_EQ(http.openURL(Str(silent.url()), nullptr, nullptr, nullptr, 1, true, nullptr, false).result, 0);
  http.saveInit(nullptr, nullptr, 512);
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  watcher.holdDeadlines(std::chrono::steady_clock::now() - start);
  EXPECT_FALSE(http.infoPastDeadline());
  cHTTP::Step step;
  while (step.result == 0 && !step.finished) {
    if (watcher.isReady(2000) == &http) step = http.saveAppend(nullptr, nullptr);
  }
  EXPECT_EQ(step.result, -1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2100));
  http.close();
}

}  // namespace
}  // namespace bw
