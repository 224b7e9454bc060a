// news/feed_downloader_test.cpp - downloadXML's protocol: its own client,
// misuse, the memory destination and the parse-failure fields.
#include "news/feed_downloader.h"

#include <gtest/gtest.h>

#include "news/feed_update_test_support.h"

namespace bw::testing_news {
namespace {

using Downloader = FeedUpdateTest;

DownloadStep runDownload(downloadXML& d) {
  DownloadStep s;
  bool first = true;
  do {
    d.infoHTTP()->isReady(1000);
    s = d.saveAppend(first, nullptr);
    first = false;
  } while (s.failed == 0 && !s.finished);
  return s;
}

TEST_F(Downloader, OpensClosesAndReopensOnItsOwnClient) {
  server.putFeed("/a.xml", rssFeed(1, 1));
  server.putFeed("/bad.xml", "<rss version=\"2.0\"><channel></rss>");
  downloadXML d;
  EXPECT_EQ(d.infoHTTP(), nullptr);
  ASSERT_EQ(d.open(server.url("/bad.xml"), nullptr, false).failed, 0);
  cHTTP* own = d.infoHTTP();
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(d.infoURL().str(), server.url("/bad.xml"));
  expectRaise([&] { d.open(server.url("/a.xml"), nullptr, false); }, "EMU",
              "downloadXML.open(); previous call was never closed");
  d.saveInit(true, nullptr, kFeedBufferSize);
  EXPECT_TRUE(runDownload(d).finished);
  FeedDocument doc = d.getDocument(false);
  EXPECT_EQ(doc.kind, kFeedParseFailed);
  d.close();
  EXPECT_EQ(d.infoHTTP(), nullptr);
  // The failure survives close and is reset by the next open.
  ParseFailure f = d.infoParseFailure();
  EXPECT_EQ(f.text.str(), "<rss version=\"2.0\"><channel></rss>");
  EXPECT_GT(f.line, 0);

  ASSERT_EQ(d.open(server.url("/a.xml"), nullptr, false).failed, 0);
  EXPECT_EQ(d.infoHTTP(), own);
  EXPECT_TRUE(d.infoParseFailure().text.isNil());
  EXPECT_EQ(d.infoParseFailure().line, -1);
  // The destination made at saveInit; saveAppend then supplies none.
  d.saveInit(false, nullptr, kFeedBufferSize);
  DownloadStep s;
  do {
    d.infoHTTP()->isReady(1000);
    s = d.saveAppend(false, nullptr);
  } while (s.failed == 0 && !s.finished);
  ASSERT_TRUE(s.finished);
  doc = d.getDocument(false);
  ASSERT_NE(doc.document, nullptr);
  EXPECT_EQ(doc.kind, kFeedOk);
  d.close();

  // A failed open leaves the downloader closed.
  DownloaderOpen bad = d.open("gopher://127.0.0.1/", nullptr, false);
  EXPECT_EQ(bad.failed, kFeedDownloadFailed);
  EXPECT_NE(bad.errorCode, 0);
  EXPECT_EQ(d.infoHTTP(), nullptr);
}

TEST_F(Downloader, CallbacksWithTheWrongFlagAreRefused) {
  server.putFeed("/a.xml", rssFeed(1, 1));
  downloadXML d;
  ASSERT_EQ(d.open(server.url("/a.xml"), nullptr, false).failed, 0);
  fHttpSaveCallback callback;
  expectRaise([&] { d.saveInit(true, &callback, kFeedBufferSize); }, "EMU",
              "downloadXML.saveInit(); callback supplied when doNotSupplyDestYet=TRUE");
  d.saveInit(true, nullptr, kFeedBufferSize);
  expectRaise([&] { d.saveAppend(false, &callback); }, "EMU",
              "downloadXML.saveAppend(); callback supplied when supplyDestNow=FALSE");
}

}  // namespace
}  // namespace bw::testing_news
