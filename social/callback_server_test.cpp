// social/callback_server_test.cpp - the sign-in callback server: ports,
// loopback only, what each request gets, idle connections and the abort.
#include "social/callback_server.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "social/sha1.h"
#include "web/http_test_support.h"

namespace bw {
namespace {

int connectTo(in_addr_t address, int port, bool nonBlocking = false) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = address;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && !(nonBlocking && errno == EINPROGRESS)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A browser: sends the segments with pauses (or, given one, each after
// pause() returns), then reads to the end.
class Client {
 public:
  Client(int port, std::vector<std::string> segments, int pauseMs = 50, std::function<void()> pause = {}) {
    thread_ = std::thread([=, this] {
      fd_ = connectTo(htonl(INADDR_LOOPBACK), port);
      for (size_t i = 0; i < segments.size(); ++i) {
        if (i > 0 && pause) pause();
        if (i > 0 && !pause) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        test::sendAll(fd_, segments[i].data(), segments[i].size());
      }
      char buffer[4096];
      for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0;) received_.append(buffer, n);
    });
  }
  ~Client() { join(); }
  const std::string& received() {
    join();
    return received_;
  }

 private:
  void join() {
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd_ = -1;
  std::thread thread_;
  std::string received_;
};

// Gives up after a number of calls.
class CountingAbort : public fTwitterLoginCallback {
 public:
  explicit CountingAbort(int limit) : limit_(limit) {}
  bool call() override { return ++calls >= limit_; }
  std::atomic<int> calls = 0;

 private:
  int limit_;
};

size_t openDescriptors() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                           std::filesystem::directory_iterator()));
}

std::string sha1Hex(const std::string& text) {
  sha1Context c;
  sha1Init(c);
  sha1Update(c, text.data(), static_cast<int32_t>(text.size()));
  uint8_t d[20];
  sha1Final(c, d);
  char hex[41];
  for (int i = 0; i < 20; ++i) std::snprintf(hex + 2 * i, 3, "%02x", d[i]);
  return hex;
}

TEST(CallbackServer, OpensOnLoopbackPortsOnly) {
  twitterWebServer server;
  int32_t port = server.open(0);
  ASSERT_GT(port, 0);
  EXPECT_EQ(server.infoURL(port), "http://localhost:" + std::to_string(port));
  EXPECT_STREQ(server.className(), "twitterWebServer");

  // A busy port gives the next free one.
  int heldPort = 0;
  int held = test::listenLoopback(1, &heldPort);
  facebookWebServer next;
  int32_t got = next.open(heldPort);
  EXPECT_GT(got, heldPort);
  ::close(held);

  // ::1 at the same port, when the host has it, reaches the same server.
  if (server.socket6() >= 0) {
    std::thread browser([port] {
      int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in6 a = {};
      a.sin6_family = AF_INET6;
      a.sin6_port = htons(static_cast<uint16_t>(port));
      a.sin6_addr = in6addr_loopback;
      if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) test::sendAll(fd, "GET /?v6 HTTP/1.1\r\n", 19);
      ::close(fd);
    });
    EXPECT_EQ(server.waitForRequest(nullptr), "v6");
    browser.join();
  }

  // Reachable from no other address of this machine.
  ifaddrs* all = nullptr;
  ::getifaddrs(&all);
  for (ifaddrs* i = all; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    in_addr_t address = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
    if ((ntohl(address) >> 24) == 127) continue;
    int fd = connectTo(address, port);
    EXPECT_LT(fd, 0) << i->ifa_name;
    if (fd >= 0) ::close(fd);
  }
  if (all) ::freeifaddrs(all);
}

TEST(CallbackServer, FailuresLeaveNoDescriptor) {
  size_t before = openDescriptors();
  callbackWebServer server;
  callbackWebServer::setBindForTesting([](int, const sockaddr*, socklen_t) {
    errno = EACCES;
    return -1;
  });
  EXPECT_EQ(server.open(5000), 0);
  // Every port from 65535 up is busy: the 16-bit field must not wrap.
  callbackWebServer::setBindForTesting([](int, const sockaddr*, socklen_t) {
    errno = EADDRINUSE;
    return -1;
  });
  EXPECT_EQ(server.open(65530), 0);
  callbackWebServer::setBindForTesting({});
  int held = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in top = {};
  top.sin_family = AF_INET;
  top.sin_port = htons(65535);
  top.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(held, reinterpret_cast<sockaddr*>(&top), sizeof top) == 0) {
    EXPECT_EQ(server.open(65535), 0);
  }
  ::close(held);
  EXPECT_EQ(server.socket(), -1);
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_EQ(server.open(65536), 0);
}

TEST(CallbackServer, WhatEachRequestGets) {
  const std::string page(callbackReplyPage());
  ASSERT_EQ(page.size(), 222u);
  EXPECT_EQ(sha1Hex(page), "12026d71f432370804960f3405c0c648c7d90389");
  struct {
    std::vector<std::string> segments;
    std::optional<std::string> query;  // none: NIL and no reply
  } cases[] = {
      {{"GET /?oauth_token=a&oauth_verifier=b HTTP/1.1\r\nHost: localhost\r\n\r\n"},
       std::string("oauth_token=a&oauth_verifier=b")},
      {{"GET /? HTTP/1.1\r\n\r\n"}, std::string()},
      {{"GET /favicon.ico HTTP/1.1\r\n\r\n"}, std::nullopt},
      // The one read takes 2,000 bytes: " HTTP/1." must end within them.
      {{"GET /?" + std::string(1986, 'q') + " HTTP/1.1\r\n"}, std::string(1986, 'q')},
      {{"GET /?" + std::string(1987, 'q') + " HTTP/1.1\r\n"}, std::nullopt},
      {{"GET /?a=b", " HTTP/1.1\r\n\r\n"}, std::nullopt},  // split: only the first read counts
      {{"PUT / HTTP/1.0 GET /?a=b\r\n\r\n"}, std::nullopt},  // markers in the wrong order
  };
  callbackWebServer server;
  int32_t port = server.open(0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.segments[0].substr(0, 40));
    Client client(port, c.segments);
    Str query = server.waitForRequest(nullptr);
    if (c.query) {
      EXPECT_EQ(query, *c.query);
      EXPECT_EQ(client.received(), page);
    } else {
      EXPECT_TRUE(query.isNil());
      EXPECT_EQ(client.received(), "");
    }
  }
}

TEST(CallbackServer, IdleConnectionsNeitherBlockNorHideTheAbort) {
  callbackWebServer server;
  int32_t port = server.open(0);
  ::close(connectTo(htonl(INADDR_LOOPBACK), port));  // closes without a byte
  // Speculative connections that send nothing, more than are kept.
  std::vector<int> idle;
  for (int i = 0; i < callbackWebServer::kMaxPending + 2; ++i)
    idle.push_back(connectTo(htonl(INADDR_LOOPBACK), port, true));
  // The request comes only once the wait has asked the abort, however late
  // the waiting thread gets to run on a loaded machine.
  CountingAbort never(1000000);
  Client late(port, {"", "GET /?state=s HTTP/1.1\r\n\r\n"}, 0, [&never] {
    for (int waited = 0; never.calls == 0 && waited < 10000; waited += 5)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  EXPECT_EQ(server.waitForRequest(&never), "state=s");
  EXPECT_GE(never.calls, 1);

  // Idle connections and an abort: the wait ends after the third poll.
  auto start = std::chrono::steady_clock::now();
  CountingAbort third(3);
  EXPECT_TRUE(server.waitForRequest(&third).isNil());
  EXPECT_EQ(third.calls, 3);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  for (int fd : idle) ::close(fd);

  // The listener stays open after a wait; close twice is harmless.
  int fd = connectTo(htonl(INADDR_LOOPBACK), port);
  EXPECT_GE(fd, 0);
  ::close(fd);
  server.close();
  server.close();
  EXPECT_LT(connectTo(htonl(INADDR_LOOPBACK), port), 0);
}

}  // namespace
}  // namespace bw
