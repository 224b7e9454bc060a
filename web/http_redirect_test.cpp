// web/http_redirect_test.cpp - following redirects: methods and headers
// kept or dropped, permanent URLs, the limit, and Locations we refuse.
#include <gtest/gtest.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "web/http.h"
#include "web/http_test_support.h"
#include "web/tls_server_test_support.h"

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
  std::string why;
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
  o.why = http.infoFailureReason();
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
  EXPECT_EQ(server.requests()[1], 
            "GET /second HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nAccept: */*\r\nUser-Agent: ua\r\n\r\n");
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
  // A 307 came first: no permanent move is recorded.
  EXPECT_EQ(o.redirectedURL, "");
  server.join();
  const std::string tail = "Host: 127.0.0.1:" + std::to_string(port) + "\r\nX-Key: 1\r\nAccept: */*\r\nContent-Length: 3\r\n\r\na=b";
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

// Relative Locations resolve against the request's URL, port included;
// only an unbroken run of 301/308 from the first request is recorded.
TEST(HttpRedirect, RelativeLocationsAndRunsOfPermanentMoves) {
  struct Case {
    std::vector<std::pair<int, std::string>> hops;  // status and Location; "@" is "127.0.0.1:port"
    std::string finalPath;                          // the path the last request asked for
    std::string recorded;                           // redirectedURL; "" for none
  } cases[] = {
      {{{301, "/moved?x=1"}}, "/moved?x=1", "http://@/moved?x=1"},
      {{{301, "feed.xml"}}, "/blog/feed.xml", "http://@/blog/feed.xml"},
      {{{302, "../up/./x"}}, "/up/x", ""},
      {{{301, "//@/net"}}, "/net", "http://@/net"},
      {{{301, "http://@/a"}, {302, "/b"}}, "/b", "http://@/a"},
      {{{302, "/a"}, {301, "/b"}}, "/b", ""},
      {{{301, "/a"}, {308, "/b"}}, "/b", "http://@/b"},
      // "://" inside the query leaves the Location relative.
      {{{302, "/landing?next=http://x.invalid/y"}}, "/landing?next=http://x.invalid/y", ""},
      {{{301, "?page=2"}}, "/blog/post?page=2", "http://@/blog/post?page=2"},
  };
  for (const Case& c : cases) {
    int port = 0;
    auto at = [&](std::string text) {
      size_t p = text.find('@');
      return p == std::string::npos ? text : text.replace(p, 1, "127.0.0.1:" + std::to_string(port));
    };
    LoopbackServer server(
        [&](const std::string&, int i) {
          size_t hop = static_cast<size_t>(i < 0 ? -1 - i : i);
          if (hop < c.hops.size()) return Reply{{redirectTo(c.hops[hop].first, at(c.hops[hop].second))}};
          return Reply{{"HTTP/1.0 200 OK\r\n\r\nhere"}};
        },
        static_cast<int>(c.hops.size()) + 1);
    port = server.port();
    SCOPED_TRACE(c.hops.front().second);
    cHTTP http(nullptr);
    Outcome o = run(http, server.url("blog/post"));
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.body, "here");
    EXPECT_EQ(o.redirectedURL, c.recorded.empty() ? "" : at(c.recorded));
    server.join();
    EXPECT_EQ(server.requests().back().substr(4, c.finalPath.size() + 1), c.finalPath + " ");
  }
}

TEST(HttpRedirect, UnusableLocationsFail) {
  LoopbackServer server(
      [](const std::string&, int i) {
        switch (i) {
          case 0: return Reply{{redirectTo(302, "http://a b/")}};
          case 1: return Reply{{"HTTP/1.0 302 Found\r\nX: 1\r\n\r\n"}};
          case 2: return Reply{{redirectTo(302, "file:///etc/passwd")}};
          case 3: return Reply{{redirectTo(301, "ftp://h/x")}};
          default: return Reply{{"HTTP/1.0 200 OK\r\n\r\n"}};
        }
      },
      5);
  cHTTP http(nullptr);
  EXPECT_EQ(run(http, server.url()).result, -1);  // no usable host
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

// Credentials stay with the scheme, host and port they were given for. An
// origin server redirects once; a second server on another port records
// what reaches it. Every request carries an Authorization line and user
// information.
TEST(HttpRedirect, CredentialsNeverFollowARedirectElsewhere) {
  test::TlsStreams tls;
  ASSERT_TRUE(tls.ready());
  test::CurlCaBundle trusted(tls.certificate());
  test::StuckLookup names("nothing.test");  // "localhost" is 127.0.0.1
  enum Where { kSame, kOtherHost, kHttp, kHttps };
  const struct Case {
    bool https;
    int status;
    Where where;
    bool post;
    bool followed;        // else it fails with the signed request's reason
    bool authorization;   // the Authorization line reaches the target
    bool recorded;        // the target becomes the permanent address
  } cases[] = {
      {false, 307, kSame, false, true, true, false},
      {false, 307, kHttp, false, true, false, false},
      {false, 308, kOtherHost, false, true, false, true},
      {false, 302, kHttp, true, true, false, false},     // becomes a plain GET
      {false, 307, kHttp, true, false, false, false},    // the body would go elsewhere
      {false, 308, kSame, true, true, true, true},
      {true, 307, kSame, false, true, true, false},
      {true, 307, kHttps, false, true, false, false},
      {true, 301, kHttps, false, true, false, true},
      {true, 301, kHttp, false, true, false, false},     // followed, never recorded
      {true, 308, kHttp, false, true, false, false},
      {true, 308, kHttp, true, false, false, false},     // to http: refused
      {true, 307, kHttps, true, false, false, false},
  };
  for (const Case& c : cases) {
    const bool toRecorder = c.followed && (c.where == kHttp || c.where == kHttps);
    const bool toOrigin = c.followed && !toRecorder;
    LoopbackServer recorder(Reply{{"HTTP/1.0 200 OK\r\n\r\nthere"}}, toRecorder ? 1 : 0, false,
                            c.where == kHttps ? tls.maker() : test::StreamMaker());
    // A target that must not be reached is a port nobody listens on.
    int closedPort = 0;
    ::close(test::listenLoopback(1, &closedPort));
    const std::string targetPort = std::to_string(toRecorder ? recorder.port() : closedPort);
    std::string location;
    int originPort = 0;
    LoopbackServer origin(
        [&](const std::string&, int i) {
          if (i != 0 && i != -1) return Reply{{"HTTP/1.0 200 OK\r\n\r\nhere"}};
          return Reply{{redirectTo(c.status, location)}};
        },
        toOrigin ? 2 : 1, false, c.https ? tls.maker() : test::StreamMaker());
    originPort = origin.port();
    location = c.where == kSame      ? "/next"
               : c.where == kOtherHost ? "http://localhost:" + std::to_string(originPort) + "/next"
               : c.where == kHttp      ? "http://127.0.0.1:" + targetPort + "/next"
                                       : "https://127.0.0.1:" + targetPort + "/next";
    SCOPED_TRACE(std::string(c.https ? "https " : "http ") + std::to_string(c.status) + (c.post ? " POST to " : " to ") +
                 location);
    cHTTP http(nullptr);
    const std::string from = std::string(c.https ? "https://user:pw@" : "http://user:pw@") + "127.0.0.1:" +
                             std::to_string(originPort) + "/first";
    Outcome o = run(http, from, "\nAuthorization: Bearer secret\nX-Key: 1", c.post ? Text("a=b") : Text(nullptr));
    if (!c.followed) {
      EXPECT_EQ(o.result, -1);
      EXPECT_EQ(o.why, "the server redirected a signed request to another host");
      continue;
    }
    EXPECT_EQ(o.result, 0) << o.why;
    EXPECT_EQ(o.body, toRecorder ? "there" : "here");
    const std::string target = c.where == kSame ? (c.https ? "https://user:pw@127.0.0.1:" : "http://user:pw@127.0.0.1:") +
                                                      std::to_string(originPort) + "/next"
                                                : location;
    EXPECT_EQ(o.redirectedURL, c.recorded ? target : "");
    recorder.join();
    origin.join();
    const std::string request = toRecorder ? recorder.requests().at(0) : origin.requests().at(1);
    EXPECT_EQ(request.find("Authorization") != std::string::npos, c.authorization) << request;
    const bool keepsLines = c.status == 307 || c.status == 308;
    EXPECT_EQ(request.find("\r\nX-Key: 1\r\n") != std::string::npos, keepsLines) << request;
  }
}

}  // namespace
}  // namespace bw
