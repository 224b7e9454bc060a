// web/http_resolver_test.cpp - name lookups off the watcher's thread: a
// lookup that never answers holds no other request, no close and no end of
// the module, over http and https; answers are shared and cached per host,
// failures are not.
#include "web/http_resolver.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "web/http.h"
#include "web/http_test_support.h"
#include "web/http_watcher.h"
#include "web/tls_server_test_support.h"

namespace bw {
namespace {

using test::LoopbackServer;
using test::Reply;

TEST(HostResolver, SlowLookupHoldsNoOtherRequestAndAnswersAreShared) {
  std::atomic<int> goodLookups{0}, badLookups{0};
  setHostResolveFunction([&](const std::string& host, std::vector<sockaddr_storage>* found) {
    if (host == "stall.test") {
      std::this_thread::sleep_for(std::chrono::milliseconds(4000));  // a server that never answers
      return EHOSTUNREACH;
    }
    if (host == "bad.test") {
      ++badLookups;
      return EHOSTUNREACH;
    }
    ++goodLookups;
    found->push_back(test::loopbackAddress("127.0.0.1"));
    return 0;
  });
  constexpr int kGood = 20;
  LoopbackServer server(Reply{{"HTTP/1.0 200 OK\r\n\r\nok"}}, kGood + 1);
  const std::string port = std::to_string(server.port());

  cHTTPwatcher watcher;
  std::vector<std::unique_ptr<cHTTP>> requests;
  std::vector<std::unique_ptr<httpSaveToBuffer>> bodies;
  for (int i = 0; i <= kGood; ++i) {
    requests.push_back(std::make_unique<cHTTP>(nullptr));
    bodies.push_back(std::make_unique<httpSaveToBuffer>());
    watcher.add(requests.back().get(), false);
    const std::string host = i == 0 ? "stall.test" : "good.test";
    ASSERT_EQ(requests.back()->openURL(Str("http://" + host + ":" + port + "/"), nullptr, nullptr, nullptr, 1, true,
                                       nullptr, false).result,
              0);
    requests.back()->saveInit(bodies.back().get(), nullptr, 512);
  }
  const auto start = std::chrono::steady_clock::now();
  int finished = 0;
  double goodDone = 0;
  int32_t stalled = 0;
  while (finished <= kGood) {
    cHTTP* ready = watcher.isReady(1000);
    if (!ready) continue;
    cHTTP::Step s = ready->saveAppend(nullptr, nullptr);
    if (s.result == 0 && !s.finished) continue;
    ++finished;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (ready == requests[0].get()) {
      stalled = ready->infoProtocolError();
      EXPECT_EQ(s.result, -1);
      EXPECT_GE(seconds, 0.9);
      EXPECT_LT(seconds, 3.5);  // at its 1 s deadline, while the lookup still runs
    } else {
      EXPECT_EQ(s.result, 0);
      goodDone = std::max(goodDone, seconds);
    }
    ready->close();
    watcher.remove(ready, false);
  }
  EXPECT_EQ(stalled, ETIMEDOUT);
  EXPECT_LT(goodDone, 3.5);  // not held by the 4 s lookup
  EXPECT_EQ(goodLookups.load(), 1);  // one lookup for 20 requests

  // A blocking request uses the cached answer; a failed lookup is asked
  // again every time.
  cHTTP http(nullptr);
  httpSaveToBuffer memory;
  ASSERT_EQ(http.openURL(Str("http://good.test:" + port + "/"), nullptr, nullptr, nullptr, 5, false, nullptr, false)
                .result,
            0);
  EXPECT_EQ(http.save(&memory, nullptr, 512).result, 0);
  http.close();
  EXPECT_EQ(goodLookups.load(), 1);
  for (int i = 0; i < 2; ++i) {
    cHTTP::OpenResult o =
        http.openURL("http://bad.test/", nullptr, nullptr, nullptr, 5, false, nullptr, false);
    EXPECT_EQ(o.result, -1);
    EXPECT_EQ(o.protocolError, EHOSTUNREACH);
  }
  EXPECT_EQ(badLookups.load(), 2);
  setHostResolveFunction({});
  stopHostResolver();
}

}  // namespace
}  // namespace bw

namespace bw {
namespace {

using test::loopbackAddress;

// A host with three addresses: one refuses, one never answers the connect
// (its listener's queue is full), the last serves. Each is tried in turn,
// each with the time-out of 1 s.
TEST(HostResolver, AddressesAreTriedInTurnEachWithTheTimeout) {
  LoopbackServer server(Reply{{"HTTP/1.0 200 OK\r\n\r\nthird"}}, 2);
  const int port = server.port();
  int full = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_storage hanging = loopbackAddress("127.0.0.2");
  reinterpret_cast<sockaddr_in&>(hanging).sin_port = htons(static_cast<uint16_t>(port));
  ASSERT_EQ(::bind(full, reinterpret_cast<sockaddr*>(&hanging), sizeof(sockaddr_in)), 0);
  ASSERT_EQ(::listen(full, 0), 0);
  std::vector<int> fillers;
  for (int i = 0; i < 8; ++i) {
    fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&hanging), sizeof(sockaddr_in));
  }
  // The listener drops every new handshake only once a filler sits in its
  // accept queue (a listener's TCP_INFO gives the queue's length as
  // tcpi_unacked); before that, a connection may still be answered by a
  // SYN cookie and then wait for a reply that never comes.
  for (int waited = 0;; waited += 10) {
    tcp_info info{};
    socklen_t size = sizeof info;
    ASSERT_EQ(::getsockopt(full, IPPROTO_TCP, TCP_INFO, &info, &size), 0);
    if (info.tcpi_unacked > info.tcpi_sacked) break;
    ASSERT_LT(waited, 5000) << "the listener's accept queue never filled";
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  setHostResolveFunction([](const std::string&, std::vector<sockaddr_storage>* found) {
    *found = {loopbackAddress("127.0.0.3"), loopbackAddress("127.0.0.2"), loopbackAddress("127.0.0.1")};
    return 0;
  });
  for (bool nonBlocking : {false, true}) {
    SCOPED_TRACE(nonBlocking);
    const auto start = std::chrono::steady_clock::now();
    cHTTP http(nullptr);
    ASSERT_EQ(http.openURL(Str("http://three.test:" + std::to_string(port) + "/"), nullptr, nullptr, nullptr, 1,
                           nonBlocking, nullptr, false)
                  .result,
              0);
    httpSaveToBuffer memory;
    http.saveInit(&memory, nullptr, 512);
    cHTTP::Step s = test::runToEnd(http, nonBlocking);
    EXPECT_EQ(s.result, 0);
    http.close();
    httpSaveToBuffer::Buffer body = memory.getBuffer();
    EXPECT_EQ(body.data ? std::string(body.data.get()) : "", "third");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, 0.9);
    // Without a time-out of its own the hanging address would hold the
    // request for the kernel's whole SYN retry schedule (minutes); a loose
    // bound keeps a loaded machine from failing the test.
    EXPECT_LT(seconds, 10.0);
  }
  setHostResolveFunction({});
  stopHostResolver();
  for (int fd : fillers) ::close(fd);
  ::close(full);
}

}  // namespace
}  // namespace bw

namespace bw {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Two downloads that take 12 s (a byte a second, within their 5 s time-out)
// and two requests whose lookup never answers, one of each over http and
// https, in one watcher: the stuck ones fail at their 2 s deadline saying
// why and close at once; the others are whole. So do blocking requests on
// another thread, and the resolver stops at once with the lookup stuck (as
// at the program's end).
TEST(HostResolver, ALookupThatNeverAnswersHoldsNothingPastItsDeadline) {
  test::TlsStreams tls;
  ASSERT_TRUE(tls.ready());
  test::CurlCaBundle trusted(tls.certificate());
  test::StuckLookup stuck("stuck.test");
  Reply drip{{"HTTP/1.0 200 OK\r\n\r\n"}, 1000};
  for (int i = 0; i < 12; ++i) drip.segments.push_back("x");
  LoopbackServer plain(drip, 1), secure(drip, 1, false, tls.maker());
  const std::string stuckWhy = "the name stuck.test did not resolve within 2 s";

  std::thread blocking([&] {
    for (const char* url : {"http://stuck.test/", "https://stuck.test/"}) {
      const auto start = Clock::now();
      cHTTP http(nullptr);
      cHTTP::OpenResult o = http.openURL(url, nullptr, nullptr, nullptr, 2, false, nullptr, false);
      EXPECT_EQ(o.result, -1) << url;
      EXPECT_EQ(o.protocolError, ETIMEDOUT) << url;
      EXPECT_EQ(http.infoFailureReason(), stuckWhy) << url;
      EXPECT_GE(secondsSince(start), 1.9) << url;
      EXPECT_LT(secondsSince(start), 5.0) << url;
    }
  });

  struct Watched {
    Watched(std::string u, int32_t t) : url(std::move(u)), timeout(t) {}
    std::string url;
    int32_t timeout;
    std::unique_ptr<cHTTP> http = std::make_unique<cHTTP>(nullptr);
    httpSaveToBuffer body;
    int32_t result = 1;
    std::string why;
    double seconds = 0;
  };
  Watched requests[] = {{"http://good.test:" + std::to_string(plain.port()) + "/", 5},
                        {secure.url(), 5},
                        {"http://stuck.test:" + std::to_string(plain.port()) + "/", 2},
                        {"https://stuck.test:" + std::to_string(secure.port()) + "/", 2}};
  cHTTPwatcher watcher;
  const auto start = Clock::now();
  for (Watched& w : requests) {
    watcher.add(w.http.get(), false);
    ASSERT_EQ(w.http->openURL(Str(w.url), nullptr, nullptr, nullptr, w.timeout, true, nullptr, false).result, 0);
    w.http->saveInit(&w.body, nullptr, 512);
  }
  for (int finished = 0; finished < 4 && secondsSince(start) < 60;) {
    cHTTP* ready = watcher.isReady(1000);
    if (!ready) continue;
    cHTTP::Step s = ready->saveAppend(nullptr, nullptr);
    if (s.result == 0 && !s.finished) continue;
    ++finished;
    for (Watched& w : requests) {
      if (w.http.get() != ready) continue;
      w.seconds = secondsSince(start);
      w.result = s.result;
      const auto closing = Clock::now();
      ready->close();
      EXPECT_LT(secondsSince(closing), 0.5) << w.url;
      w.why = ready->infoFailureReason();
      watcher.remove(ready, false);
    }
  }
  for (int i = 0; i < 4; ++i) {
    const Watched& w = requests[i];
    SCOPED_TRACE(w.url);
    if (i < 2) {
      EXPECT_EQ(w.result, 0) << w.why;
      httpSaveToBuffer::Buffer b = requests[i].body.getBuffer();
      EXPECT_EQ(b.data ? std::string(b.data.get()) : "", std::string(12, 'x'));
    } else {
      EXPECT_EQ(w.result, -1);
      EXPECT_EQ(w.why, stuckWhy);
      EXPECT_GE(w.seconds, 1.9);
      EXPECT_LT(w.seconds, 5.0);
    }
  }
  blocking.join();
  const auto stopping = Clock::now();
  stopHostResolver();
  EXPECT_LT(secondsSince(stopping), 0.5);
}

}  // namespace
}  // namespace bw
