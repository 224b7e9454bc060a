// web/http_test.cpp - cHTTP over plain http against scripted loopback
// servers: request bytes, status and header reading, bodies, redirects and
// the driver's rules.
#include "web/http.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cerrno>
#include <csignal>

#include "core/raise_test_support.h"
#include "web/http_test_support.h"

namespace bw {
namespace {

using test::LoopbackServer;
using test::Reply;

struct Fetched {
  int32_t result = 0;
  bool finished = false;
  int32_t status = 0;
  std::string statusText;
  std::string body;
  int32_t error = 0;
  int64_t bodyCount = 0;
  int64_t bodyLength = 0;
};

// Runs one request to its end into memory, the way the downloaders do.
Fetched fetch(cHTTP& http, const std::string& url, Text extra = nullptr, Text post = nullptr,
              bool nonBlocking = false, int32_t bufSize = 1024) {
  Fetched f;
  cHTTP::OpenResult o = http.openURL(Str(url), nullptr, extra, post, 5, nonBlocking, nullptr, false);
  f.result = o.result;
  f.error = o.protocolError;
  if (o.result != 0) return f;
  httpSaveToBuffer memory;
  http.saveInit(&memory, nullptr, bufSize);
  cHTTP::Step step;
  for (int guard = 0; guard < 100000; ++guard) {
    if (nonBlocking && http.infoIsOpen()) http.isReady(1000);
    step = http.saveAppend(nullptr, nullptr);
    if (step.result != 0 || step.finished) break;
  }
  f.result = step.result;
  f.finished = step.finished;
  if (http.infoIsOpen()) {
    f.status = http.infoStatus().status;
    f.statusText = http.infoStatusText().str();
    f.error = http.infoProtocolError();
    f.bodyCount = http.infoProgress().bodyCount;
    f.bodyLength = http.infoProgress().bodyLength;
    http.close();
  }
  if (step.result == 0 && step.finished) {
    httpSaveToBuffer::Buffer b = memory.getBuffer();
    if (b.data) f.body.assign(b.data.get(), static_cast<size_t>(b.total - 1));
  }
  return f;
}

Reply ok(const std::string& body, const std::string& extraHeaders = "") {
  return Reply{{"HTTP/1.0 200 OK\r\n" + extraHeaders + "\r\n" + body}};
}

TEST(HttpRequest, SendsExactGetAndPostBytes) {
  LoopbackServer server(ok("x"), 2);
  cHTTP http("Brindlework/0.9");
  EXPECT_EQ(fetch(http, server.url("a/b?c=d")).body, "x");
  EXPECT_EQ(fetch(http, server.url("p"), "X-One: 1\naccept: text/xml", "a b&c=d/é").body, "x");
  server.join();
  std::vector<std::string> r = server.requests();
  ASSERT_EQ(r.size(), 2u);
  // The Host line carries the port, which is not http's own.
  const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
  EXPECT_EQ(r[0],
            "GET /a/b?c=d HTTP/1.0\r\n" + host + "Accept: */*\r\n"
            "User-Agent: Brindlework/0.9\r\n\r\n");
  EXPECT_EQ(r[1],
            "POST /p HTTP/1.0\r\n" + host + "X-One: 1\r\naccept: text/xml\r\n"
            "User-Agent: Brindlework/0.9\r\nContent-Length: 16\r\n\r\na%20b&c=d/%C3%A9");
}

// Callers give header lines each beginning with "\n": the empty pieces
// never reach the wire, where they would end the header block early.
TEST(HttpRequest, EmptyHeaderPiecesAreDropped) {
  LoopbackServer server(ok("x"), 1);
  cHTTP http(nullptr);
  EXPECT_EQ(fetch(http, server.url("a"), "\nAuthorization: OAuth k=\"v\"\n\nX-Two: 2\n").body, "x");
  server.join();
  EXPECT_EQ(server.requests().at(0),
            "GET /a HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\nAuthorization: OAuth k=\"v\"\r\nX-Two: 2\r\n"
            "Accept: */*\r\n\r\n");
}

TEST(HttpRequest, RefusesHostLinesSchemesHostsAndPorts) {
  cHTTP http(nullptr);
  expectRaise([&] { http.openURL("http://127.0.0.1:1/", nullptr, "X: 1\nhOsT: evil", nullptr, 0, false, nullptr, false); },
              "EMU", "cHTTP.open(); headers cannot contain a Host: line");
  http.close();
  EXPECT_EQ(http.openURL("ftp://h/x", nullptr, nullptr, nullptr, 0, false, nullptr, false).result, -5);
  EXPECT_EQ(http.openURL("no-scheme", nullptr, nullptr, nullptr, 0, false, nullptr, false).result, -5);
  EXPECT_FALSE(http.infoIsOpen());
  EXPECT_FALSE(http.infoIsActive());

  // Bytes that would inject request lines or re-route the request.
  for (const char* host : {"a b", "a\r\nX: y", "h/x", "h?x", "h#x", "u@h", "h\\x", "h\x7F", "h\t"}) {
    cHTTP::OpenResult o = http.open("http", host, "x", -1, nullptr, nullptr, 0, false, nullptr, false);
    EXPECT_EQ(o.result, -1) << host;
    EXPECT_EQ(o.protocolError, EINVAL) << host;
    EXPECT_FALSE(http.infoIsOpen());
  }
  EXPECT_TRUE(isUsableHost("my_host.example"));
  EXPECT_TRUE(isUsableHost("127.0.0.1:80"));

  // A port outside 1..65535 never wraps to another one.
  for (const char* url : {"http://127.0.0.1:65616/", "http://127.0.0.1:0/", "http://127.0.0.1:-5/",
                          "http://127.0.0.1:4294967376/", "http://127.0.0.1:$100000050/"}) {
    cHTTP::OpenResult o = http.openURL(url, nullptr, nullptr, nullptr, 0, false, nullptr, false);
    EXPECT_EQ(o.result, -1) << url;
    EXPECT_EQ(o.protocolError, EINVAL) << url;
  }
}

TEST(HttpRequest, EscapesRequestLinePathBytes) {
  EXPECT_EQ(escapeRequestPath("a b\r\nX:\x7F\xC3\xA9?q=1&r=%41"), "a%20b%0D%0AX:%7F%C3%A9?q=1&r=%41");
  LoopbackServer server(ok("y"), 1);
  cHTTP http(nullptr);
  ASSERT_EQ(http.open("http", "127.0.0.1", "a b\r\nInjected: 1", server.port(), nullptr, nullptr, 5, false, nullptr,
                      false).result,
            0);
  httpSaveToBuffer memory;
  EXPECT_EQ(http.save(&memory, nullptr, 512).result, 0);
  http.close();
  server.join();
  EXPECT_EQ(server.requests()[0], 
            "GET /a%20b%0D%0AInjected:%201 HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                "\r\nAccept: */*\r\n\r\n");
}

TEST(HttpRequest, ReadsStatusLines) {
  LoopbackServer server(
      [](const std::string&, int i) {
        static const char* lines[] = {"HTTP/1.0 200 OK\r\n\r\nb", "HTTP/1.1 404 Not Found\r\n\r\n",
                                      "HTTP/2 200 OK\r\n\r\nb", "HTTP/1.0 204\r\n\r\n", "HTTP/1"};
        return Reply{{lines[i < 0 ? 0 : i]}};
      },
      5);
  cHTTP http(nullptr);
  struct Case {
    int32_t status;
    const char* text;
    cHTTP::State state;
  } cases[] = {{200, "OK", cHTTP::kStatusRead},
               {404, "Not Found", cHTTP::kStatusRead},
               {-1, "", cHTTP::kFailed},
               {204, "", cHTTP::kStatusRead},
               {-1, "", cHTTP::kFailed}};
  for (const Case& c : cases) {
    ASSERT_EQ(http.openURL(Str(server.url()), nullptr, nullptr, nullptr, 5, false, nullptr, false).result, 0);
    ASSERT_EQ(http.sendRequest(), 0);
    EXPECT_EQ(http.getStatus().status, c.status);
    EXPECT_EQ(http.state(), c.state);
    if (c.state == cHTTP::kStatusRead) {
      cHTTP::Header h = http.getHeader(64);
      EXPECT_EQ(http.infoStatusText(), Str(c.text));
    }
    http.close();
  }
}

TEST(HttpRequest, HeaderSplitAtEveryOffsetGivesTheSameLinesAndBody) {
  const std::string response = "HTTP/1.0 200 Fine\r\nA: 1\r\nB-Long: two\nC: three\r\n\r\nBODY";
  const int offsets = static_cast<int>(response.size()) - 1;
  LoopbackServer server(
      [&](const std::string&, int i) {
        size_t k = static_cast<size_t>(i < 0 ? 1 : i + 1);
        return Reply{{response.substr(0, k), response.substr(k)}, 15};
      },
      offsets);
  cHTTP http(nullptr);
  for (int i = 0; i < offsets; ++i) {
    SCOPED_TRACE(i + 1);
    ASSERT_EQ(http.openURL(Str(server.url()), nullptr, nullptr, nullptr, 5, false, nullptr, false).result, 0);
    ASSERT_EQ(http.sendRequest(), 0);
    ASSERT_EQ(http.getStatus().status, 200);
    cHTTP::Header h = http.getHeader(256);
    ASSERT_EQ(h.result, 0);
    // A bare "\n" ends a line.
    EXPECT_EQ(h.lines, (StrChain{Str("A: 1"), Str("B-Long: two"), Str("C: three")}));
    EXPECT_EQ(http.infoStatusText(), Str("Fine"));
    std::string body = h.earlyBody;
    char buf[64];
    for (int64_t n; (n = http.get(buf, sizeof buf)) > 0;) body.append(buf, static_cast<size_t>(n));
    EXPECT_EQ(body, "BODY");
    http.close();
  }
}

TEST(HttpRequest, EmptyLineEndingAtAReadBoundaryLeavesNoEarlyBody) {
  const std::string header = "HTTP/1.0 200 OK\r\nA: 1\r\n\r\n";
  LoopbackServer server(Reply{{header + "xyz"}}, 1);
  cHTTP http(nullptr);
  ASSERT_EQ(http.openURL(Str(server.url()), nullptr, nullptr, nullptr, 5, false, nullptr, false).result, 0);
  ASSERT_EQ(http.sendRequest(), 0);
  ASSERT_EQ(http.getStatus().status, 200);
  // Give the whole reply time to arrive, then read exactly the header (the
  // status step took the status line).
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  cHTTP::Header h = http.getHeader(static_cast<int32_t>(header.size() - 17));
  EXPECT_EQ(h.lines, StrChain{Str("A: 1")});
  EXPECT_EQ(h.earlyBody, "");
  char buf[16];
  EXPECT_EQ(http.get(buf, sizeof buf), 3);
  http.close();
}

TEST(HttpRequest, BodiesWithAndWithoutLength) {
  LoopbackServer server(
      [](const std::string&, int i) {
        if (i == 0) return Reply{{"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(60, 'a')}};
        if (i == 1) return Reply{{"HTTP/1.0 200 OK\r\n\r\n", std::string(3000, 'b')}, 10};
        return Reply{{"HTTP/1.0 200 OK\r\ncontent-length: 5\r\n\r\nhello"}};
      },
      3);
  cHTTP http(nullptr);
  Fetched shortBody = fetch(http, server.url());
  EXPECT_EQ(shortBody.result, -1);
  Fetched counted = fetch(http, server.url());
  EXPECT_EQ(counted.result, 0);
  EXPECT_EQ(counted.body, std::string(3000, 'b'));
  EXPECT_EQ(counted.bodyCount, 3000);
  EXPECT_EQ(counted.bodyLength, -1);
  Fetched exact = fetch(http, server.url());
  EXPECT_EQ(exact.body, "hello");
  EXPECT_EQ(exact.bodyCount, 0);
  EXPECT_EQ(exact.bodyLength, 5);
}

TEST(HttpRequest, HostileContentLengthsAreUnknownOrChecked) {
  LoopbackServer server(
      [&](const std::string&, int i) {
        if (i == 1) return Reply{{"HTTP/1.0 200 OK\r\nContent-Length: 2000000000\r\n\r\nsmall"}};
        if (i == 2) return Reply{{"HTTP/1.0 200 OK\r\nContent-Length: 99999999999\r\n\r\nsmall"}};
        return Reply{{"HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nbody"}};
      },
      3);
  cHTTP http(nullptr);
  // Past 2^63 - 1 the length is unknown: the body ends with the connection
  // (one that is no number is refused: the header tables).
  Fetched unknown = fetch(http, server.url());
  EXPECT_EQ(unknown.result, 0);
  EXPECT_EQ(unknown.body, "body");
  EXPECT_EQ(unknown.bodyLength, -1);
  // Short of what was announced: nothing reserved for it, and a failure.
  Fetched announced = fetch(http, server.url());
  EXPECT_EQ(announced.result, -1);
  Fetched beyond32Bits = fetch(http, server.url());
  EXPECT_EQ(beyond32Bits.result, -1);
  EXPECT_EQ(beyond32Bits.bodyLength, 99999999999);
}

TEST(HttpRequest, DriverRaisesOnCallsOutOfOrder) {
  LoopbackServer server(ok("body"), 2);
  cHTTP http(nullptr);
  expectRaise([&] { http.saveAppend(nullptr, nullptr); }, "EMU", "cHTTP.saveAppend(); not open");
  expectRaise([&] { http.get(nullptr, 0); }, "EMU", "cHTTP.get(); not open");
  expectRaise([&] { http.infoStatus(); }, "EMU", "cHTTP.infoStatus(); not open");
  ASSERT_EQ(http.openURL(Str(server.url()), nullptr, nullptr, nullptr, 5, false, nullptr, false).result, 0);
  expectRaise([&] { http.getStatus(); }, "EMU", "cHTTP.getStatus(); previous method call was not sendRequest()");
  expectRaise([&] { http.openURL("http://x/", nullptr, nullptr, nullptr, 0, false, nullptr, false); }, "EMU",
              "cHTTP.open(); already open");
  expectRaise([&] { http.saveInit(nullptr, nullptr, 0); }, "EMU", "cHTTP.saveInit(); bufSize<=0");
  expectRaise([&] { http.isReady(0); }, "EMU", "cHTTP.isReady(); was not opened with nonBlocking=TRUE");
  http.saveInit(nullptr, nullptr, 256);
  EXPECT_EQ(http.saveAppend(nullptr, nullptr).result, 0);  // send
  EXPECT_EQ(http.saveAppend(nullptr, nullptr).result, 0);  // status
  cHTTP::Step header = http.saveAppend(nullptr, nullptr);
  EXPECT_EQ(header.result, 0);
  EXPECT_TRUE(header.finished);  // the dest is wanted now
  expectRaise([&] { http.saveAppend(nullptr, nullptr); }, "EMU",
              "cHTTP.saveAppend(); dest is required now, but has not yet been supplied");
  httpSaveToBuffer memory, other;
  fHttpSaveCallback callback;
  cHTTP::Step step = http.saveAppend(&memory, &callback);
  expectRaise([&] { http.saveAppend(&other, nullptr); }, "EMU", "cHTTP.saveAppend(); too late to supply dest");
  expectRaise([&] { http.saveAppend(nullptr, &callback); }, "EMU", "cHTTP.saveAppend(); too late to supply callback");
  while (step.result == 0 && !step.finished) step = http.saveAppend(nullptr, nullptr);
  EXPECT_TRUE(step.finished);
  expectRaise([&] { http.saveAppend(nullptr, nullptr); }, "EMU",
              "cHTTP.saveAppend(); called after previously returned finished=TRUE");
  http.close();

  ASSERT_EQ(http.openURL(Str(server.url()), nullptr, nullptr, nullptr, 5, false, nullptr, false).result, 0);
  http.saveInit(&memory, nullptr, 256);
  expectRaise([&] { http.saveAppend(&other, nullptr); }, "EMU", "cHTTP.saveAppend(); dest has already been supplied");
  http.close();
}

class StopAfter : public fHttpSaveCallback {
 public:
  explicit StopAfter(int64_t limit) : limit_(limit) {}
  bool call(int64_t count) override {
    counts.push_back(count);
    return count >= limit_;
  }
  std::vector<int64_t> counts;

 private:
  int64_t limit_;
};

TEST(HttpRequest, CallbackSeesCountsAndCanStop) {
  LoopbackServer server(
      [](const std::string&, int) {
        return Reply{{"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n01234", "56789"}, 20};
      },
      2);
  cHTTP http(nullptr);
  StopAfter never(1000);
  ASSERT_EQ(http.openURL(Str(server.url()), nullptr, nullptr, nullptr, 5, false, nullptr, false).result, 0);
  httpSaveToBuffer memory;
  cHTTP::Step s = http.save(&memory, &never, 64);
  EXPECT_TRUE(s.finished);
  // The two pieces come 20 ms apart, so {10, 5, 0} is usual; a loaded
  // machine may read both at once and see {10, 0}.
  ASSERT_GE(never.counts.size(), 2u);
  EXPECT_EQ(never.counts.front(), 10);
  EXPECT_EQ(never.counts.back(), 0);
  EXPECT_TRUE(std::is_sorted(never.counts.rbegin(), never.counts.rend()));
  if (never.counts.size() == 3) {
    EXPECT_EQ(never.counts[1], 5);
  }
  http.close();

  StopAfter early(-1000);  // stops at once
  ASSERT_EQ(http.openURL(Str(server.url()), nullptr, nullptr, nullptr, 5, false, nullptr, false).result, 0);
  httpSaveToBuffer memory2;
  EXPECT_EQ(http.save(&memory2, &early, 64).result, -4);
  EXPECT_EQ(http.state(), cHTTP::kFailed);
  http.close();
}

TEST(HttpRequest, ServerClosingBeforeReadingAPostFailsCleanly) {
  LoopbackServer server(
      [](const std::string&, int) {
        Reply r;
        r.readRequest = false;
        return r;
      },
      1);
  cHTTP http(nullptr);
  std::string big(4 << 20, 'p');
  Fetched f = fetch(http, server.url(), nullptr, Str(big));
  EXPECT_EQ(f.result, -1);
  EXPECT_NE(f.error, 0);
}

TEST(HttpRequest, NonBlockingRequestSurvivesStatusHeaderAndBodyPauses) {
  LoopbackServer server(
      [](const std::string&, int) {
        return Reply{{"HTT", "P/1.0 200 OK\r\nA:", " 1\r\n", "\r\nbo", "dy", "more"}, 40};
      },
      1);
  cHTTP http("ua");
  Fetched f = fetch(http, server.url(), nullptr, nullptr, true);
  EXPECT_EQ(f.result, 0);
  EXPECT_TRUE(f.finished);
  EXPECT_EQ(f.body, "bodymore");
}

// "No data yet" inside a body of unknown length is neither a failure nor
// its end: the step answers 0, unfinished, and counts nothing.
TEST(HttpRequest, NonBlockingBodyPauseIsNotTheEnd) {
  LoopbackServer server(Reply{{"HTTP/1.0 200 OK\r\n\r\nab", "cd"}, 800}, 1);
  cHTTP http(nullptr);
  ASSERT_EQ(http.openURL(Str(server.url()), nullptr, nullptr, nullptr, 5, true, nullptr, false).result, 0);
  httpSaveToBuffer memory;
  http.saveInit(&memory, nullptr, 256);
  while (http.state() != cHTTP::kBodyRunning) {
    if (http.state() == cHTTP::kOpened || http.state() == cHTTP::kSent) http.isReady(1000);
    ASSERT_EQ(http.saveAppend(nullptr, nullptr).result, 0);
  }
  const int64_t before = http.infoProgress().bodyCount;
  EXPECT_EQ(before, 2);
  cHTTP::Step paused = http.saveAppend(nullptr, nullptr);  // "cd" is 800 ms away
  EXPECT_EQ(paused.result, 0);
  EXPECT_FALSE(paused.finished);
  EXPECT_EQ(http.infoProgress().bodyCount, before);
  cHTTP::Step s;
  do {
    http.isReady(1000);
    s = http.saveAppend(nullptr, nullptr);
  } while (s.result == 0 && !s.finished);
  EXPECT_TRUE(s.finished);
  http.close();
  EXPECT_EQ(std::string(memory.getBuffer().data.get()), "abcd");
}

TEST(HttpRequest, NonBlockingConnectFailureIsReportedBySend) {
  int port;
  {
    LoopbackServer probe(Reply{}, 0);
    port = probe.port();
  }  // nothing listens there any more
  cHTTP http(nullptr);
  ASSERT_EQ(http.openURL(Str("http://127.0.0.1:" + std::to_string(port) + "/"), nullptr, nullptr, nullptr, 5, true,
                         nullptr, false)
                .result,
            0);
  http.isReady(2000);
  EXPECT_EQ(http.sendRequest(), -1);
  EXPECT_EQ(http.infoProtocolError(), ECONNREFUSED);
  EXPECT_EQ(http.state(), cHTTP::kFailed);
  expectRaise([&] { http.saveAppend(nullptr, nullptr); }, "EMU", "cHTTP.saveAppend(); previous call returned an error");
  http.close();
}

TEST(HeaderLines, FindValueAndNumber) {
  StrChain lines = {Str("Content-Type: text/xml"), Str("Location:\t /x"), Str("X-N: none"), Str("x-n: 42")};
  ASSERT_NE(findHeaderLine(lines, "content-TYPE", 0), nullptr);
  EXPECT_EQ(*findHeaderLine(lines, "LocationXYZ", 8), Str("Location:\t /x"));
  EXPECT_EQ(findHeaderLine(lines, "Nope", 0), nullptr);
  EXPECT_EQ(getHeaderValue(lines, "location", 0), Str("/x"));
  EXPECT_TRUE(getHeaderValue(lines, "Content", 0).isNil());
  HeaderNumber n = getHeaderNumber(lines, "X-N", 0, -1);
  EXPECT_TRUE(n.found);
  EXPECT_EQ(n.value, 42);
  EXPECT_FALSE(getHeaderNumber(lines, "Missing", 0, 7).found);
  const struct {
    StrChain lines;
    int64_t length;
  } lengths[] = {
      {{Str("Content-Length: 12")}, 12},
      {{Str("Content-Length: 2147483647")}, 2147483647},
      {{Str("Content-Length: 9223372036854775807")}, INT64_MAX},
      {{Str("Content-Length: 9223372036854775808")}, -1},
      {{Str("Content-Length: +12"), Str("content-length:\t12 ,12")}, 12},
      {{Str("Content-Length: 12abc")}, 12},
      {{Str("X: 1")}, -1},
      {{Str("Content-Length: -7")}, kUnreadableLength},
      {{Str("Content-Length: ")}, kUnreadableLength},
      {{Str("Content-Length: 12, 13")}, kUnreadableLength},
      {{Str("Content-Length: 12"), Str("Content-Length: 13")}, kUnreadableLength},
  };
  for (const auto& c : lengths) EXPECT_EQ(contentLengthOf(c.lines), c.length) << c.lines.front().str();
}

}  // namespace
}  // namespace bw
