// social/twitter_https_test.cpp - one Twitter add through the real curl over
// https: `socat OPENSSL-LISTEN` with a certificate made for the test (trusted
// through "curl-ca-bundle.crt" in the working folder) in front of a loopback
// service that checks every signature against the https address the
// program signed.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "social/oauth_verifier_test_support.h"
#include "social/twitter_test_support.h"
#include "web/tls_server_test_support.h"

namespace bw {
namespace {

using testing_social::TwitterTest;

std::string missingTool() {
  const std::string searchPath = executableSearchPath();
  for (const char* tool : {"curl", "openssl", "socat"})
    if (findExecutable(tool, searchPath).empty()) return std::string(tool) + " is not installed";
  return "";
}

bool accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

// socat decrypting on a free loopback port and passing each connection on
// to plainPort; port() is 0 when it did not start.
class TlsFrontEnd {
 public:
  TlsFrontEnd(const test::ScratchDir& dir, int plainPort) {
    const int probe = test::listenLoopback(1, &port_);
    if (probe >= 0) ::close(probe);
    SpawnOptions options;
    options.in = options.out = options.err = SpawnStdio::kNull;
    options.workingDirectory = dir.path();
    SpawnResult r = spawnProcess({"socat",
                                  "OPENSSL-LISTEN:" + std::to_string(port_) +
                                      ",bind=127.0.0.1,reuseaddr,fork,cert=cert.pem,key=key.pem,verify=0",
                                  "TCP:127.0.0.1:" + std::to_string(plainPort)},
                                 options);
    if (r.error) {
      port_ = 0;
      return;
    }
    child_ = std::move(r.child);
    for (int i = 0; i < 500 && !accepts(port_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!accepts(port_)) port_ = 0;
  }
  ~TlsFrontEnd() {
    if (!child_.valid()) return;
    child_.terminate(SIGTERM);
    child_.wait();
  }
  int port() const { return port_; }

 private:
  ChildProcess child_;
  int port_ = 0;
};

TEST_F(TwitterTest, AnAddThroughTheRealCurlOverHttps) {
  const std::string missing = missingTool();
  if (!missing.empty()) GTEST_SKIP() << missing;
  test::ScratchDir dir;
  ASSERT_TRUE(test::runQuietly({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem",
                                "-out", "cert.pem", "-days", "1", "-subj", "/CN=localhost", "-addext",
                                "subjectAltName=DNS:localhost"},
                               dir.path()));
  test::writeFile(dir.file("curl-ca-bundle.crt"), test::readFile(dir.file("cert.pem")));

  // The timeline page and the profile, each request's signature checked for
  // the https address.
  std::string origin;
  std::vector<std::string> verdicts;
  const std::string secret = twitterConsumerSecret().str();
  test::LoopbackServer service(
      [&](const std::string& request, int index) {
        if (index < 0) return test::Reply{};  // asked whether to read the request first: yes
        const test::SignedRequest r = test::signedRequestFromWire(request, origin);
        const std::string mismatch = test::verifyOauthRequest(r, secret, "userSecret").mismatch;
        verdicts.push_back(r.url.substr(origin.size(), r.url.find('?') - origin.size()) + " " +
                           (mismatch.empty() ? "verified" : mismatch));
        const std::string body = r.url.find("/users/show.json") != std::string::npos
                                     ? R"({"id_str":"12345","name":"Some User","screen_name":"SomeUser"})"
                                     : "[" + test::tweetJson(tweets(2, 2)[0]) + "," + test::tweetJson(tweets(1, 1)[0]) + "]";
        return test::Reply{{"HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n" + body}};
      },
      2);
  TlsFrontEnd tls(dir, service.port());
  ASSERT_GT(tls.port(), 0) << "socat did not start";
  origin = "https://localhost:" + std::to_string(tls.port());

  char cwd[4096];
  const std::string oldCwd = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  AddUpdateResult added;
  {
    testing_support::EnvScope api("BRINDLEWORK_TWITTER_API", origin.c_str());
    added = add("https://twitter.com/SomeUser");
  }
  ASSERT_EQ(::chdir(oldCwd.c_str()), 0);
  service.join();

  ASSERT_NE(added.feed, nullptr) << (reports().empty() ? "" : reports()[0]);
  EXPECT_EQ(added.feed->uniqueID.view(), "12345");
  std::string ids;
  for (const auto& item : items(added.feed)) ids += item.uniqueID + " ";
  EXPECT_EQ(ids, "2 1 ");
  EXPECT_EQ(verdicts, (std::vector<std::string>{"/1.1/statuses/user_timeline.json verified",
                                                "/1.1/users/show.json verified"}));
}

}  // namespace
}  // namespace bw
