// web/http_real_curl_test.cpp - https through the real curl against
// `openssl s_server -WWW` on 127.0.0.1 with a certificate made for the test.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include "platform/spawn.h"
#include "web/http.h"
#include "web/http_test_support.h"

namespace bw {
namespace {

bool run(const std::vector<std::string>& argv, const std::string& cwd) {
  SpawnOptions options;
  options.in = options.out = options.err = SpawnStdio::kNull;
  options.workingDirectory = cwd;
  SpawnResult r = spawnProcess(argv, options);
  if (r.error) return false;
  ExitStatus s = r.child.wait();
  return s.exited && s.code == 0;
}

// Reads the s_server's output until its "ACCEPT host:port" line.
int acceptedPort(int fd) {
  std::string text;
  char buf[256];
  while (text.find('\n', text.find("ACCEPT")) == std::string::npos) {
    pollfd p = {fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) return -1;
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return -1;
    text.append(buf, static_cast<size_t>(n));
  }
  size_t at = text.find("ACCEPT");
  size_t colon = text.find(':', at);
  return colon == std::string::npos ? -1 : std::atoi(text.c_str() + colon + 1);
}

TEST(RealCurl, CertificateCheckingAgainstALoopbackTlsServer) {
  const std::string searchPath = executableSearchPath();
  if (findExecutable("curl", searchPath).empty()) GTEST_SKIP() << "curl is not installed";
  if (findExecutable("openssl", searchPath).empty()) GTEST_SKIP() << "openssl is not installed";
  initHTTPModule();
  test::ScratchDir serverDir, clientDir;
  ASSERT_TRUE(run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out",
                   "cert.pem", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
                  serverDir.path()));
  const std::string payload = "secure bytes\n";
  test::writeFile(serverDir.file("hello.txt"), payload);

  SpawnOptions options;
  options.in = SpawnStdio::kNull;
  options.out = SpawnStdio::kPipe;
  options.err = SpawnStdio::kNull;
  options.workingDirectory = serverDir.path();
  SpawnResult server = spawnProcess({"openssl", "s_server", "-accept", "127.0.0.1:0", "-naccept", "5", "-WWW",
                                     "-cert", "cert.pem", "-key", "key.pem"},
                                    options);
  ASSERT_EQ(server.error, 0);
  int port = acceptedPort(server.child.stdoutFd());
  ASSERT_GT(port, 0);
  const std::string url = "https://127.0.0.1:" + std::to_string(port) + "/hello.txt";

  char cwd[4096];
  std::string oldCwd = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
  ASSERT_EQ(::chdir(clientDir.path().c_str()), 0);
  auto fetch = [&](bool useCaBundle, std::string* body) {
    cHTTP http("Brindlework/0.9");
    cHTTP::OpenResult o = http.openURL(Str(url), nullptr, nullptr, nullptr, 10, false, nullptr, useCaBundle);
    if (o.result != 0) return o.result;
    httpSaveToBuffer memory;
    cHTTP::Step s = http.save(&memory, nullptr, 4096);
    http.close();
    httpSaveToBuffer::Buffer b = memory.getBuffer();
    if (b.data) body->assign(b.data.get(), static_cast<size_t>(b.total - 1));
    return s.result;
  };

  // Certificates are always checked: the self-signed one is refused by the
  // system store (curl's exit code 60), accepted through the bundle the
  // caller asks for or through CURL_CA_BUNDLE.
  std::string body;
  EXPECT_EQ(fetch(true, &body), cHTTP::kCurlFailed);
  EXPECT_EQ(fetch(false, &body), cHTTP::kCurlFailed);
  test::writeFile(clientDir.file("curl-ca-bundle.crt"), test::readFile(serverDir.file("cert.pem")));
  EXPECT_EQ(fetch(false, &body), cHTTP::kCurlFailed);
  EXPECT_EQ(fetch(true, &body), 0);
  EXPECT_EQ(body, payload);
  body.clear();
  ::unlink(clientDir.file("curl-ca-bundle.crt").c_str());
  ::setenv("CURL_CA_BUNDLE", serverDir.file("cert.pem").c_str(), 1);
  EXPECT_EQ(fetch(false, &body), 0);
  ::unsetenv("CURL_CA_BUNDLE");
  EXPECT_EQ(body, payload);

  (void)!::chdir(oldCwd.c_str());
  server.child.terminate(SIGTERM);
  server.child.wait();
  endHTTPModule();
}

}  // namespace
}  // namespace bw
