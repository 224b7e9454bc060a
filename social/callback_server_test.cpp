// social/callback_server_test.cpp - the sign-in callback server: ports,
// 127.0.0.1 only beside a squatter on ::1, what each request gets, idle
// connections, the abort and the time limit on an injected clock.
#include "social/callback_server.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <fcntl.h>
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

// Sends each request on its own connection, one after the other, and keeps
// each answer's status line ("" when the connection closed unanswered).
class Browser {
 public:
  Browser(int port, std::vector<std::vector<std::string>> requests) {
    thread_ = std::thread([=, this] {
      for (const auto& segments : requests) {
        int fd = connectTo(htonl(INADDR_LOOPBACK), port);
        for (size_t i = 0; i < segments.size(); ++i) {
          if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
          test::sendAll(fd, segments[i].data(), segments[i].size());
        }
        std::string answer;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, n);
        ::close(fd);
        answers_.push_back(answer);
      }
    });
  }
  ~Browser() { join(); }
  std::vector<std::string> statusLines() {
    join();
    std::vector<std::string> lines;
    for (const std::string& a : answers_) lines.push_back(a.substr(0, a.find("\r\n")));
    return lines;
  }
  const std::vector<std::string>& answers() {
    join();
    return answers_;
  }

 private:
  void join() {
    if (thread_.joinable()) thread_.join();
  }
  std::thread thread_;
  std::vector<std::string> answers_;
};

CallbackVerdict acceptsGood(Text query) {
  if (query.view() == "state=good&error=access_denied") return CallbackVerdict::kRefusal;
  return query.view() == "state=good&access_token=T" ? CallbackVerdict::kAnswer : CallbackVerdict::kNotOurs;
}

TEST(CallbackServer, ListensOnExactlyTheAddressItNamesBesideASquatterOnV6) {
  // Another program holds ::1 at some port; the server takes the same port
  // on 127.0.0.1 and its address names 127.0.0.1, never a host name.
  int squatPort = 0;
  int squatter = test::listenLoopback(4, &squatPort, true);
  twitterWebServer server;
  int32_t port = server.open(squatter >= 0 ? squatPort : 0);
  ASSERT_GT(port, 0);
  EXPECT_EQ(server.infoURL(port), "http://127.0.0.1:" + std::to_string(port) + "/callback");
  EXPECT_STREQ(server.className(), "twitterWebServer");
  sockaddr_in bound = {};
  socklen_t length = sizeof bound;
  ::getsockname(server.socket(), reinterpret_cast<sockaddr*>(&bound), &length);
  EXPECT_EQ(bound.sin_family, AF_INET);
  EXPECT_EQ(ntohl(bound.sin_addr.s_addr), INADDR_LOOPBACK);

  Browser browser(port, {{"GET /callback?state=good&access_token=T HTTP/1.1\r\n\r\n"}});
  CallbackWait wait = server.waitForCallback(nullptr, acceptsGood);
  EXPECT_EQ(wait.end, CallbackWait::End::kAnswered);
  EXPECT_EQ(browser.statusLines(), std::vector<std::string>{"HTTP/1.0 200 OK"});
  if (squatter >= 0) {
    // The squatter saw nothing.
    ::fcntl(squatter, F_SETFL, O_NONBLOCK);
    EXPECT_LT(::accept(squatter, nullptr, nullptr), 0);
    ::close(squatter);
  }

  // A busy port gives the next free one.
  int heldPort = 0;
  int held = test::listenLoopback(1, &heldPort);
  facebookWebServer next;
  EXPECT_GT(next.open(heldPort), heldPort);
  ::close(held);

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

TEST(CallbackServer, RequestLines) {
  using K = CallbackRequest::Kind;
  struct {
    const char* data;
    K kind;
    const char* query;
  } cases[] = {
      {"GET /callback?oauth_token=a&oauth_verifier=b HTTP/1.1\r\nHost: x\r\n", K::kCallback, "oauth_token=a&oauth_verifier=b"},
      {"GET /callback? HTTP/1.0\n", K::kCallback, ""},
      {"GET /callback HTTP/1.1\r\n", K::kBare, ""},
      {"GET /callback?a=b HTTP/1.1", K::kIncomplete, ""},  // the line has not ended yet
      {"", K::kIncomplete, ""},
      {"GET /favicon.ico HTTP/1.1\r\n", K::kOther, ""},
      {"GET /?state=s HTTP/1.1\r\n", K::kOther, ""},
      {"GET /callbackX?state=s HTTP/1.1\r\n", K::kOther, ""},
      {"GET /callback/?state=s HTTP/1.1\r\n", K::kOther, ""},
      {"POST /callback?state=s HTTP/1.1\r\n", K::kOther, ""},
      {"get /callback?state=s HTTP/1.1\r\n", K::kOther, ""},
      {"GET /callback?state=s HTTP/2.0\r\n", K::kOther, ""},
      {"GET /callback?state=s  HTTP/1.1\r\n", K::kOther, ""},
      {"GET /callback?state=s\r\n", K::kOther, ""},
      {"PUT / HTTP/1.0 GET /callback?a=b HTTP/1.1\r\n", K::kOther, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.data);
    CallbackRequest r = parseCallbackRequest(c.data);
    EXPECT_EQ(r.kind, c.kind);
    EXPECT_EQ(r.query, c.query);
  }
}

TEST(CallbackServer, StrayAndForgedRequestsLeaveTheWaitGoing) {
  const std::string page(callbackReplyPage());
  ASSERT_EQ(page.size(), 247u);
  EXPECT_EQ(sha1Hex(page), "bf88bf01dd2a7364ec996a1cddc70d4841a6fc9d");
  callbackWebServer server;
  int32_t port = server.open(0);
  struct {
    std::vector<std::string> segments;
    const char* status;
  } requests[] = {
      {{"GET /favicon.ico HTTP/1.1\r\n\r\n"}, "HTTP/1.0 404 Not Found"},
      {{"POST /callback?state=good&access_token=T HTTP/1.1\r\n\r\n"}, "HTTP/1.0 404 Not Found"},
      {{"GET /?state=good&access_token=T HTTP/1.1\r\n\r\n"}, "HTTP/1.0 404 Not Found"},
      {{"GET /callback?" + std::string(callbackWebServer::kRequestBufferSize, 'q')}, "HTTP/1.0 404 Not Found"},
      {{"GET /callback HTTP/1.1\r\n\r\n"}, "HTTP/1.0 400 Bad Request"},  // no landing page here
      {{"GET /callback?state=forged&access_token=X HTTP/1.1\r\n\r\n"}, "HTTP/1.0 400 Bad Request"},
      {{"GET /callback?access_token=X HTTP/1.1\r\n\r\n"}, "HTTP/1.0 400 Bad Request"},
      {{"GET /callback?state=go", "od&access_token=T HTT", "P/1.1\r\nHost: 127.0.0.1\r\n\r\n"}, "HTTP/1.0 200 OK"},
  };
  std::vector<std::vector<std::string>> sent;
  std::vector<std::string> want;
  for (const auto& r : requests) {
    sent.push_back(r.segments);
    want.push_back(r.status);
  }
  Browser browser(port, sent);
  CountingAbort never(1000000);
  CallbackWait wait = server.waitForCallback(&never, acceptsGood);
  EXPECT_EQ(wait.end, CallbackWait::End::kAnswered);
  EXPECT_EQ(wait.query, "state=good&access_token=T");
  EXPECT_EQ(browser.statusLines(), want);
  EXPECT_EQ(browser.answers().back(), page);
  EXPECT_EQ(browser.answers()[5].find("access_token"), std::string::npos);

  // With a landing page, a GET of the path without a query gets it.
  server.setLandingPage("<html>landing</html>");
  Browser second(port, {{"GET /callback HTTP/1.1\r\n\r\n"}, {"GET /callback?state=good&access_token=T HTTP/1.1\r\n\r\n"}});
  EXPECT_EQ(server.waitForCallback(&never, acceptsGood).end, CallbackWait::End::kAnswered);
  const std::string landing = second.answers().at(0);
  EXPECT_EQ(landing.substr(landing.find("\r\n\r\n") + 4), "<html>landing</html>");

  // A refusal ends the wait too, told as such; neither page, whose address
  // may hold a token, is kept by the browser.
  Browser third(port, {{"GET /callback?state=good&error=access_denied HTTP/1.1\r\n\r\n"}});
  CallbackWait refused = server.waitForCallback(&never, acceptsGood);
  EXPECT_EQ(refused.end, CallbackWait::End::kAnswered);
  EXPECT_TRUE(refused.refused);
  EXPECT_FALSE(wait.refused);
  const std::string refusal = third.answers().at(0);
  EXPECT_EQ(refusal, callbackRefusalPage());
  for (const std::string& answer : {refusal, page}) {
    const std::string head = answer.substr(0, answer.find("\r\n\r\n") + 2);
    EXPECT_NE(head.find("\r\nCache-Control: no-store\r\n"), std::string::npos) << head;
  }
  EXPECT_NE(refusal.find("The sign-in was refused in the browser; you can close this window."), std::string::npos);
  EXPECT_EQ(refusal.find("Success"), std::string::npos);
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
  Client late(port, {"", "GET /callback?state=good&access_token=T HTTP/1.1\r\n\r\n"}, 0, [&never] {
    for (int waited = 0; never.calls == 0 && waited < 10000; waited += 5)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  EXPECT_EQ(server.waitForCallback(&never, acceptsGood).query, "state=good&access_token=T");
  EXPECT_GE(never.calls, 1);

  // Idle connections and an abort: the wait ends after the third poll.
  CountingAbort third(3);
  CallbackWait gaveUp = server.waitForCallback(&third, acceptsGood);
  EXPECT_EQ(gaveUp.end, CallbackWait::End::kGaveUp);
  EXPECT_TRUE(gaveUp.query.isNil());
  EXPECT_EQ(third.calls, 3);
  for (int fd : idle) ::close(fd);

  // The listener stays open after a wait; close twice is harmless.
  int fd = connectTo(htonl(INADDR_LOOPBACK), port);
  EXPECT_GE(fd, 0);
  ::close(fd);
  server.close();
  server.close();
  EXPECT_LT(connectTo(htonl(INADDR_LOOPBACK), port), 0);
  EXPECT_EQ(server.waitForCallback(nullptr, acceptsGood).end, CallbackWait::End::kFailed);
}

// Each poll of the abort moves the injected clock on by a minute.
class MinutePerPoll : public fLoginCallback {
 public:
  bool call() override {
    ++calls;
    now += std::chrono::minutes(1);
    return false;
  }
  int calls = 0;
  callbackWebServer::Clock::time_point now{};
};

TEST(CallbackServer, TheWaitEndsAfterTenMinutesWithoutAnAnswer) {
  MinutePerPoll clock;
  callbackWebServer::setClockForTesting([&clock] { return clock.now; });
  callbackWebServer server;
  int32_t port = server.open(0);
  // A stray request on the way does not restart the time.
  Browser stray(port, {{"GET /favicon.ico HTTP/1.1\r\n\r\n"}});
  CallbackWait wait = server.waitForCallback(&clock, acceptsGood);
  callbackWebServer::setClockForTesting({});
  EXPECT_EQ(wait.end, CallbackWait::End::kTimedOut);
  EXPECT_TRUE(wait.query.isNil());
  EXPECT_EQ(clock.calls, 10);  // not a poll short of ten minutes, nor one past
}

}  // namespace
}  // namespace bw
