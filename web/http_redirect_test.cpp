// web/http_redirect_test.cpp - following redirects: methods and headers
// kept or dropped, permanent URLs, the limit, and Locations we refuse.
#include <gtest/gtest.h>

#include <cerrno>

#include "web/http.h"
#include "web/http_test_support.h"

namespace bw {
namespace {

using test::LoopbackServer;
using test::Reply;

struct Outcome {
  int32_t result = 0;
  bool finished = false;
  std::string body;
  std::string redirectedURL;
  int32_t error = 0;
  int32_t status = 0;
};

Outcome run(cHTTP& http, const std::string& url, Text extra = nullptr, Text post = nullptr) {
  Outcome o;
  cHTTP::OpenResult opened = http.openURL(Str(url), nullptr, extra, post, 5, false, nullptr, false);
  if (opened.result != 0) {
    o.result = opened.result;
    return o;
  }
  httpSaveToBuffer memory;
  cHTTP::Step s = http.save(&memory, nullptr, 512);
  o.result = s.result;
  o.finished = s.finished;
  if (http.infoIsOpen()) {
    o.redirectedURL = http.infoRedirectedURL().str();
    o.error = http.infoProtocolError();
    o.status = http.infoStatus().status;
    http.close();
  }
  httpSaveToBuffer::Buffer b = memory.getBuffer();
  if (b.data) o.body.assign(b.data.get(), static_cast<size_t>(b.total - 1));
  return o;
}

std::string redirectTo(int status, const std::string& location) {
  return "HTTP/1.0 " + std::to_string(status) + " Moved\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n";
}

TEST(HttpRedirect, TemporaryRedirectBecomesAPlainGet) {
  int port = 0;
  LoopbackServer server(
      [&](const std::string&, int i) {
        if (i == 0) return Reply{{redirectTo(302, "http://127.0.0.1:" + std::to_string(port) + "/second")}};
        return Reply{{"HTTP/1.0 200 OK\r\n\r\nfinal"}};
      },
      2);
  port = server.port();
  cHTTP http("ua");
  Outcome o = run(http, server.url("first"), "X-Key: 1", "k=v");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.body, "final");
  EXPECT_EQ(o.redirectedURL, "");
  server.join();
  EXPECT_EQ(server.requests()[1], "GET /second HTTP/1.0\r\nHost: 127.0.0.1\r\nAccept: */*\r\nUser-Agent: ua\r\n\r\n");
}

TEST(HttpRedirect, Status307And308KeepMethodHeadersAndBody) {
  int port = 0;
  LoopbackServer server(
      [&](const std::string&, int i) {
        if (i == 0) return Reply{{redirectTo(307, "http://127.0.0.1:" + std::to_string(port) + "/again")}};
        if (i == 1) return Reply{{redirectTo(308, "http://127.0.0.1:" + std::to_string(port) + "/last")}};
        return Reply{{"HTTP/1.0 200 OK\r\n\r\ndone"}};
      },
      3);
  port = server.port();
  cHTTP http(nullptr);
  Outcome o = run(http, server.url("p"), "X-Key: 1", "a=b");
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.body, "done");
  // The redirect followed last (308) is permanent.
  EXPECT_EQ(o.redirectedURL, "http://127.0.0.1:" + std::to_string(port) + "/last");
  server.join();
  const std::string tail = "Host: 127.0.0.1\r\nX-Key: 1\r\nAccept: */*\r\nContent-Length: 3\r\n\r\na=b";
  EXPECT_EQ(server.requests()[1], "POST /again HTTP/1.0\r\n" + tail);
  EXPECT_EQ(server.requests()[2], "POST /last HTTP/1.0\r\n" + tail);
}

TEST(HttpRedirect, PermanentRedirectRecordsTheAbsoluteURL) {
  int port = 0;
  LoopbackServer server(
      [&](const std::string&, int i) {
        if (i == 0) return Reply{{redirectTo(301, "http://127.0.0.1:" + std::to_string(port) + "/new")}};
        return Reply{{"HTTP/1.0 200 OK\r\n\r\nnew"}};
      },
      2);
  port = server.port();
  cHTTP http(nullptr);
  Outcome o = run(http, server.url("old"));
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.redirectedURL, "http://127.0.0.1:" + std::to_string(port) + "/new");
}

TEST(HttpRedirect, RootRelativeLocationUsesSchemeAndHostWithoutPort) {
  LoopbackServer server(Reply{{redirectTo(301, "/moved?x=1")}}, 1);
  cHTTP http(nullptr);
  ASSERT_EQ(http.openURL(Str(server.url()), nullptr, nullptr, nullptr, 5, false, nullptr, false).result, 0);
  httpSaveToBuffer memory;
  http.saveInit(&memory, nullptr, 256);
  EXPECT_EQ(http.saveAppend(nullptr, nullptr).result, 0);  // send
  EXPECT_EQ(http.saveAppend(nullptr, nullptr).result, 0);  // status 301
  EXPECT_EQ(http.state(), cHTTP::kRedirectPending);
  http.saveAppend(nullptr, nullptr);  // follows to 127.0.0.1:80, whatever listens there
  EXPECT_EQ(http.infoRedirectedURL(), Str("http://127.0.0.1/moved?x=1"));
  if (http.infoIsOpen()) http.close();
}

TEST(HttpRedirect, UnusableLocationsFail) {
  LoopbackServer server(
      [](const std::string&, int i) {
        switch (i) {
          case 0: return Reply{{redirectTo(302, "nowhere")}};
          case 1: return Reply{{"HTTP/1.0 302 Found\r\nX: 1\r\n\r\n"}};
          case 2: return Reply{{redirectTo(302, "file:///etc/passwd")}};
          case 3: return Reply{{redirectTo(301, "ftp://h/x")}};
          default: return Reply{{"HTTP/1.0 200 OK\r\n\r\n"}};
        }
      },
      5);
  cHTTP http(nullptr);
  Outcome noScheme = run(http, server.url());
  EXPECT_EQ(noScheme.result, -1);
  EXPECT_EQ(noScheme.error, EHOSTDOWN);
  Outcome noLocation = run(http, server.url());
  EXPECT_EQ(noLocation.result, -1);
  Outcome toFile = run(http, server.url());
  EXPECT_EQ(toFile.result, -5);  // a remote server may not point at local files
  Outcome otherScheme = run(http, server.url());
  EXPECT_EQ(otherScheme.result, -5);
  // getRedirect on a plain 200 fails the request.
  ASSERT_EQ(http.openURL(Str(server.url()), nullptr, nullptr, nullptr, 5, false, nullptr, false).result, 0);
  ASSERT_EQ(http.sendRequest(), 0);
  ASSERT_EQ(http.getStatus().status, 200);
  EXPECT_EQ(http.getRedirect(256).result, -1);
  EXPECT_EQ(http.state(), cHTTP::kFailed);
  http.close();
}

TEST(HttpRedirect, TenInARowAreFollowedTheEleventhFails) {
  int port = 0;
  int served = 0;
  LoopbackServer server(
      [&](const std::string&, int i) {
        if (i >= 0) served = i + 1;
        return Reply{{redirectTo(302, "http://127.0.0.1:" + std::to_string(port) + "/loop")}};
      },
      11);
  port = server.port();
  cHTTP http(nullptr);
  Outcome o = run(http, server.url("loop"));
  EXPECT_EQ(o.result, -1);
  EXPECT_EQ(o.error, ELOOP);
  server.join();
  EXPECT_EQ(served, 11);
}

}  // namespace
}  // namespace bw
