// web/http_file_test.cpp - "file" URLs and the blocking download
// procedures.
#include <gtest/gtest.h>

#include "platform/dos_errors.h"
#include "web/http.h"
#include "web/http_download.h"
#include "web/http_test_support.h"

namespace bw {
namespace {

TEST(FileURL, ReadsLocalFilesAsA200Response) {
  test::ScratchDir dir;
  test::writeFile(dir.file("f.xml"), "<rss/>");
  for (std::string prefix : {"file://", "file://localhost"}) {
    cHTTP http(nullptr);
    ASSERT_EQ(http.openURL(Str(prefix + dir.file("f.xml")), nullptr, nullptr, nullptr, 0, false, nullptr, false).result,
              0);
    ASSERT_EQ(http.sendRequest(), 0);
    EXPECT_EQ(http.getStatus().status, 200);
    cHTTP::Header h = http.getHeader(64);
    EXPECT_EQ(h.lines, StrChain{Str("Content-Length: 6")});
    char buf[16];
    EXPECT_EQ(http.get(buf, sizeof buf), 6);
    EXPECT_EQ(std::string(buf, 6), "<rss/>");
    http.close();
  }
}

TEST(FileURL, OtherHostsPostsAndMissingFilesFail) {
  test::ScratchDir dir;
  test::writeFile(dir.file("f.xml"), "x");
  cHTTP http(nullptr);
  cHTTP::OpenResult other = http.openURL(Str("file://elsewhere" + dir.file("f.xml")), nullptr, nullptr, nullptr, 0,
                                         false, nullptr, false);
  EXPECT_EQ(other.result, -1);
  EXPECT_EQ(other.protocolError, 0);
  cHTTP::OpenResult post =
      http.openURL(Str("file://" + dir.file("f.xml")), nullptr, nullptr, "a=b", 0, false, nullptr, false);
  EXPECT_EQ(post.result, -1);
  EXPECT_EQ(post.protocolError, 0);
  cHTTP::OpenResult missing =
      http.openURL(Str("file://" + dir.file("missing.xml")), nullptr, nullptr, nullptr, 0, false, nullptr, false);
  EXPECT_EQ(missing.result, -1);
  EXPECT_EQ(missing.protocolError, dos::kErrorObjectNotFound);
  EXPECT_FALSE(http.infoIsOpen());
}

TEST(FileURL, EmptyFileIsAFailedMemorySave) {
  test::ScratchDir dir;
  test::writeFile(dir.file("empty"), "");
  cHTTP http(nullptr);
  ASSERT_EQ(http.openURL(Str("file://" + dir.file("empty")), nullptr, nullptr, nullptr, 0, false, nullptr, false).result,
            0);
  httpSaveToBuffer memory;
  EXPECT_EQ(http.save(&memory, nullptr, 64).result, -3);
  EXPECT_EQ(http.infoProgress().bodyLength, 0);
  http.close();
}

TEST(DownloadProcedures, IntoMemoryIntoAFileAndTheirFailures) {
  int port = 0;
  test::LoopbackServer server(
      [&](const std::string&, int i) {
        if (i == 0) {
          return test::Reply{{"HTTP/1.0 301 Moved\r\nLocation: http://127.0.0.1:" + std::to_string(port) +
                              "/b\r\n\r\n"}};
        }
        return test::Reply{{"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody"}};
      },
      3);
  port = server.port();
  DownloadBufferResult memory = httpDownloadToBuffer(Str(server.url("a")), 5, nullptr, 100, false);
  EXPECT_EQ(memory.error, 0);
  ASSERT_TRUE(memory.buffer);
  EXPECT_EQ(std::string(memory.buffer.get()), "body");
  EXPECT_EQ(memory.size, 5);
  EXPECT_EQ(memory.redirectedURL, Str(server.url("b")));

  test::ScratchDir dir;
  SaveURLResult file = httpDownloadToFile(Str(":" + dir.file("out").substr(1)), Str(server.url("b")), 5, nullptr, 100,
                                          false);
  EXPECT_EQ(file.error, 0);
  EXPECT_TRUE(file.redirectedURL.isNil());
  EXPECT_EQ(test::readFile(dir.file("out")), "body");

  EXPECT_EQ(httpDownloadToFile(":no-such-folder-bw/x", Str(server.url()), 5, nullptr, 100, false).error, -2);
  DownloadBufferResult noScheme = httpDownloadToBuffer("no scheme", 5, nullptr, 100, false);
  EXPECT_EQ(noScheme.error, -5);
  EXPECT_FALSE(noScheme.buffer);
  EXPECT_EQ(noScheme.size, 0);
  server.join();
  EXPECT_EQ(server.requests().size(), 3u);
}

}  // namespace
}  // namespace bw
