// web/http_real_curl_test.cpp - https through the real curl against
// `openssl s_server -WWW` on 127.0.0.1 with a certificate made for the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include "web/http.h"
#include "web/http_test_support.h"
#include "web/tls_server_test_support.h"

namespace bw {
namespace {

TEST(RealCurl, CertificateCheckingAgainstALoopbackTlsServer) {
  const std::string missing = test::TlsFileServer::missingTool();
  if (!missing.empty()) GTEST_SKIP() << missing;
  initHTTPModule();
  test::TlsFileServer server(5);
  ASSERT_GT(server.port(), 0);
  test::ScratchDir clientDir;
  const std::string payload = "secure bytes\n";
  server.put("hello.txt", payload);
  const std::string url = server.url("hello.txt");

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
  test::writeFile(clientDir.file("curl-ca-bundle.crt"), test::readFile(server.certificate()));
  EXPECT_EQ(fetch(false, &body), cHTTP::kCurlFailed);
  EXPECT_EQ(fetch(true, &body), 0);
  EXPECT_EQ(body, payload);
  body.clear();
  ::unlink(clientDir.file("curl-ca-bundle.crt").c_str());
  {
    test::CurlCaBundle trusted(server.certificate());
    EXPECT_EQ(fetch(false, &body), 0);
  }
  EXPECT_EQ(body, payload);

  (void)!::chdir(oldCwd.c_str());
  endHTTPModule();
}

}  // namespace
}  // namespace bw
