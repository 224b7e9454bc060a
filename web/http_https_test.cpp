// web/http_https_test.cpp - https through a fake `curl` put first on PATH:
// the exact argument vector, error statuses, a missing curl, and stopping
// curl when a request closes early.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "web/http.h"
#include "web/http_download.h"
#include "web/http_test_support.h"

namespace bw {
namespace {

constexpr char kFakeCurl[] = R"(#!/bin/sh
for a in "$@"; do printf '%s\n' "$a"; done > "$FAKE_CURL_DIR/argv"
echo $$ > "$FAKE_CURL_DIR/pid"
if [ -n "$FAKE_CURL_HANG" ]; then
  trap 'echo INT > "$FAKE_CURL_DIR/got-int"; exit 130' INT
  printf 'HTTP/1.1 200 OK\r\n\r\npartial'
  i=0; while [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
  exit 0
fi
[ -f "$FAKE_CURL_DIR/stderr" ] && cat "$FAKE_CURL_DIR/stderr" >&2
[ -f "$FAKE_CURL_DIR/stdout" ] && cat "$FAKE_CURL_DIR/stdout"
exit ${FAKE_CURL_EXIT:-0}
)";

class FakeCurl : public ::testing::Test {
 protected:
  void SetUp() override {
    initHTTPModule();
    test::writeFile(dir_.file("curl"), kFakeCurl);
    ::chmod(dir_.file("curl").c_str(), 0755);
    ::setenv("FAKE_CURL_DIR", dir_.path().c_str(), 1);
    ::unsetenv("FAKE_CURL_HANG");
    ::unsetenv("FAKE_CURL_EXIT");
    char cwd[4096];
    oldCwd_ = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
    ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override {
    (void)!::chdir(oldCwd_.c_str());
    endHTTPModule();
    initHTTPModule();
  }
  void reply(const std::string& out, const std::string& err = "", int exitCode = 0) {
    test::writeFile(dir_.file("stdout"), out);
    test::writeFile(dir_.file("stderr"), err);
    ::setenv("FAKE_CURL_EXIT", std::to_string(exitCode).c_str(), 1);
  }
  std::vector<std::string> argv() {
    std::vector<std::string> out;
    std::string all = test::readFile(dir_.file("argv")), line;
    for (char c : all) {
      if (c == '\n') {
        out.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    return out;
  }
  // Runs a whole request into memory; the result code.
  int32_t fetch(cHTTP& http, const std::string& url, Text extra, Text post, bool useCaBundle,
                std::string* body = nullptr) {
    cHTTP::OpenResult o = http.openURL(Str(url), nullptr, extra, post, 5, false, nullptr, useCaBundle);
    if (o.result != 0) return o.result;
    httpSaveToBuffer memory;
    cHTTP::Step s = http.save(&memory, nullptr, 1024);
    status_ = http.infoStatus().status;
    http.close();
    httpSaveToBuffer::Buffer b = memory.getBuffer();
    if (body && b.data) body->assign(b.data.get(), static_cast<size_t>(b.total - 1));
    return s.result;
  }

  test::ScratchDir dir_;
  test::PathPrefix path_{dir_.path()};
  std::string oldCwd_;
  int32_t status_ = 0;
};

const std::vector<std::string> kTail = {"--http1.1", "--globoff", "--suppress-connect-headers"};

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(FakeCurl, GetChecksCertificatesAgainstTheSystemStore) {
  reply("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
  cHTTP http("Brindlework/0.9");
  std::string body;
  EXPECT_EQ(fetch(http, "https://example.test:8443/p?q=[1]", nullptr, nullptr, false, &body), 0);
  EXPECT_EQ(body, "hello");
  EXPECT_EQ(status_, 200);
  EXPECT_EQ(argv(), concat({"-q", "https://example.test:8443/p?q=[1]", "-f", "-i", "-s", "-S", "--connect-timeout",
                            "20", "--max-time", "50", "-H", "User-Agent: Brindlework/0.9"},
                           kTail));
}

TEST_F(FakeCurl, CertificateBundleIsUsedWhenPresentAndNeverSilentlySkipped) {
  reply("HTTP/1.1 200 OK\r\n\r\nx");
  cHTTP http(nullptr);
  const std::vector<std::string> head = {"-q", "https://h/", "-f", "-i", "-s", "-S", "--connect-timeout", "20",
                                         "--max-time", "50"};
  // Without the bundle (asked for or not) curl checks against the system
  // store: -k is never passed.
  EXPECT_EQ(fetch(http, "https://h/", nullptr, nullptr, true), 0);
  EXPECT_EQ(argv(), concat(concat(head, {"-H", "User-Agent:"}), kTail));
  test::writeFile(dir_.file("curl-ca-bundle.crt"), "bundle");
  EXPECT_EQ(fetch(http, "https://h/", nullptr, nullptr, true), 0);
  EXPECT_EQ(argv(), concat(concat(head, {"--cacert", "curl-ca-bundle.crt", "-H", "User-Agent:"}), kTail));
  EXPECT_EQ(fetch(http, "https://h/", nullptr, nullptr, false), 0);
  EXPECT_EQ(argv(), concat(concat(head, {"-H", "User-Agent:"}), kTail));
}

TEST_F(FakeCurl, PostWithHeaderLinesAndQuotesStaysOneArgumentEach) {
  reply("HTTP/1.1 200 OK\r\n\r\nok");
  cHTTP http("ua");
  EXPECT_EQ(fetch(http, "https://h/a\"b c;$(id)", "A: 1\nB: \"2\" `x`", "k=v w", false), 0);
  EXPECT_EQ(argv(), concat({"-q", "https://h/a\"b%20c;$(id)", "-f", "-i", "-s", "-S", "--connect-timeout", "20",
                            "--max-time", "50", "-H", "User-Agent: ua", "-H", "Content-Type:", "-H", "A: 1",
                            "-H", "B: \"2\" `x`", "--data-raw", "k=v%20w"},
                           kTail));
  EXPECT_EQ(fetch(http, "https://h/", "\nC: 3", nullptr, false), 0);
  EXPECT_EQ(argv(), concat({"-q", "https://h/", "-f", "-i", "-s", "-S", "--connect-timeout", "20", "--max-time",
                            "50", "-H", "User-Agent: ua", "-H", "C: 3"},
                           kTail));
  EXPECT_NE(http.commandText().find("curl -q"), std::string::npos);
}

TEST_F(FakeCurl, ErrorStatusFromTheErrorTextOrTheHeader) {
  reply("", "curl: (22) The requested URL returned error: 404 Not Found\n", 22);
  cHTTP http(nullptr);
  ASSERT_EQ(http.openURL("https://h/missing", nullptr, nullptr, nullptr, 5, false, nullptr, false).result, 0);
  ASSERT_EQ(http.sendRequest(), 0);
  EXPECT_EQ(http.getStatus().status, 404);
  EXPECT_EQ(http.state(), cHTTP::kStatusRead);
  EXPECT_EQ(http.infoStatusText(), Str("Not Found"));
  http.close();
}

// curl's exit status decides at the end of its output: an error status
// fails -6, a failed curl -7 with its exit code, whatever came before.
TEST_F(FakeCurl, ExitStatusAndErrorStatusFailTheRequest) {
  struct Case {
    const char* out;
    const char* err;
    int exitCode;
    int32_t result;
    int32_t status;
    int32_t curlExit;
  } cases[] = {
      {"", "curl: (22) The requested URL returned error: 404 Not Found\n", 22, cHTTP::kErrorStatus, 404, 22},
      // curl 7.88: the header on stdout, no body, the error text without reason
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\n", "curl: (22) The requested URL returned error: 404\n",
       22, cHTTP::kErrorStatus, 404, 0},
      {"", "curl: (60) SSL certificate problem\n", 60, cHTTP::kCurlFailed, -1, 60},
      {"", "curl: (7) Failed to connect\n", 7, cHTTP::kCurlFailed, -1, 7},
      // cut mid-body, reset, or curl's own time-out: the body is not whole
      {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", "curl: (18) partial\n", 18, cHTTP::kCurlFailed, 200,
       18},
      {"HTTP/1.1 200 OK\r\n\r\nunknown length, then reset", "curl: (56) reset\n", 56, cHTTP::kCurlFailed, 200, 56},
      {"HTTP/1.1 200 OK\r\n\r\nall of it", "", 0, 0, 200, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    reply(c.out, c.err, c.exitCode);
    for (bool nonBlocking : {false, true}) {
      cHTTP http(nullptr);
      ASSERT_EQ(http.openURL("https://h/", nullptr, nullptr, nullptr, 5, nonBlocking, nullptr, false).result, 0);
      httpSaveToBuffer memory;
      http.saveInit(&memory, nullptr, 1024);
      cHTTP::Step s = test::runToEnd(http, nonBlocking, 100);
      EXPECT_EQ(s.result, c.result);
      EXPECT_EQ(http.infoStatus().status, c.status);
      EXPECT_EQ(http.infoCurlExit(), c.curlExit);
      http.close();
    }
  }
  reply("", "curl: (60) SSL certificate problem\n", 60);
  SaveURLResult r = httpDownloadToFile(Str(":" + dir_.file("out").substr(1)), "https://h/", 5, nullptr, 4096, false);
  EXPECT_EQ(r.error, cHTTP::kCurlFailed);
  EXPECT_EQ(r.detail, 60);
}

TEST_F(FakeCurl, MissingCurlWarnsAndFails) {
  test::PathPrefix only(dir_.file("empty"));
  ::setenv("PATH", dir_.file("empty").c_str(), 1);
  cHTTP http(nullptr);
  testing::internal::CaptureStdout();
  cHTTP::OpenResult o = http.openURL("https://h/", nullptr, nullptr, nullptr, 5, false, nullptr, false);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "WARNING: Cannot download using https as Curl is not in the command path.\n");
  EXPECT_EQ(o.result, -1);
  EXPECT_FALSE(http.infoIsOpen());
}

TEST_F(FakeCurl, ClosingMidTransferBreaksCurlWhichIsReapedLater) {
  ::setenv("FAKE_CURL_HANG", "1", 1);
  cHTTP http(nullptr);
  ASSERT_EQ(http.openURL("https://h/", nullptr, nullptr, nullptr, 5, true, nullptr, false).result, 0);
  ASSERT_EQ(http.sendRequest(), 0);
  ASSERT_EQ(http.getStatus().status, 200);
  pid_t pid = std::stoi(test::readFile(dir_.file("pid")));
  // curl leads a process group of its own: a Ctrl-C to ours never reaches it.
  EXPECT_NE(::getpgid(pid), ::getpgrp());
  EXPECT_EQ(::getpgid(pid), pid);
  http.close();  // does not wait
  for (int i = 0; i < 250 && test::readFile(dir_.file("got-int")).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(test::readFile(dir_.file("got-int")), "INT\n");
  endHTTPModule();
  EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);  // reaped: no longer our child
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(FakeCurl, RedirectToHttpsKeepsTheCertificateChoice) {
  reply("HTTP/1.1 200 OK\r\n\r\nsecure");
  test::writeFile(dir_.file("curl-ca-bundle.crt"), "bundle");
  test::LoopbackServer server(test::Reply{{"HTTP/1.0 302 Found\r\nLocation: https://h/secure\r\n\r\n"}}, 1);
  cHTTP http(nullptr);
  std::string body;
  EXPECT_EQ(fetch(http, server.url(), nullptr, nullptr, true, &body), 0);
  EXPECT_EQ(body, "secure");
  std::vector<std::string> args = argv();
  EXPECT_NE(std::find(args.begin(), args.end(), "--cacert"), args.end());
  EXPECT_EQ(std::find(args.begin(), args.end(), "-k"), args.end());
}

TEST_F(FakeCurl, NonBlockingHttpsIsPolledUntilCurlEnds) {
  reply("HTTP/1.1 200 OK\r\n\r\n" + std::string(50000, 'z'));
  cHTTP http(nullptr);
  ASSERT_EQ(http.openURL("https://h/", nullptr, nullptr, nullptr, 5, true, nullptr, false).result, 0);
  httpSaveToBuffer memory;
  http.saveInit(&memory, nullptr, 4096);
  cHTTP::Step s;
  for (int i = 0; i < 10000; ++i) {
    while (!http.isReady(100)) {
    }
    s = http.saveAppend(nullptr, nullptr);
    if (s.result != 0 || s.finished) break;
  }
  EXPECT_TRUE(s.finished);
  http.close();
  EXPECT_EQ(memory.getBuffer().total, 50001);
}

}  // namespace
}  // namespace bw
