// web/http_resolver_test.cpp - name lookups off the watcher's thread: a
// lookup that never answers holds no other request, answers are shared
// and cached per host, failures are not.
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
    sockaddr_storage s = {};
    auto& a = reinterpret_cast<sockaddr_in&>(s);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    found->push_back(s);
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

sockaddr_storage loopbackAddress(const char* dotted) {
  sockaddr_storage s = {};
  auto& a = reinterpret_cast<sockaddr_in&>(s);
  a.sin_family = AF_INET;
  ::inet_pton(AF_INET, dotted, &a.sin_addr);
  return s;
}

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
