// news/add_update_feed_test.cpp - feeds served on the loopback interface,
// added and updated end to end through addUpdateFeed, and every report of a
// download that brought no document.
#include "news/add_update_feed.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "news/feed_update_test_support.h"
#include "platform/assigns.h"
#include "platform/dos_env.h"

namespace bw::testing_news {
namespace {

using AddUpdate = FeedUpdateTest;

const char* const kFailedAdd = "Failed to download the feed:\n\x1b" "1%s";

TEST_F(AddUpdate, AddsRssAndAtomFeedsThenUpdatesThem) {
  server.putFeed("/feed.xml", rssFeed(1, 2));
  server.putFeed("/atom.xml", atomFeed(3));
  AddUpdateResult rss = add(server.url("/feed.xml"));
  AddUpdateResult atom = add(server.url("/atom.xml"));
  ASSERT_TRUE(rss.feed && atom.feed);
  EXPECT_FALSE(rss.errorReported || rss.cancelled || rss.windowEvent);
  // Each new feed goes first in the root's list.
  EXPECT_EQ(root->feedList->infoHeadIndex(), atom.feed->infoSoupIndex());
  EXPECT_EQ(root->feedList->infoTailIndex(), rss.feed->infoSoupIndex());
  EXPECT_EQ(rss.feed->url.str(), server.url("/feed.xml"));
  EXPECT_EQ(items(rss.feed).size(), 2u);
  EXPECT_EQ(items(atom.feed).size(), 3u);

  // The same document again stores nothing; a changed one adds its item.
  const int64_t before = syncs();
  EXPECT_EQ(update(rss.feed).feed, rss.feed);
  EXPECT_EQ(items(rss.feed).size(), 2u);
  const int64_t oneCommit = syncs() - before;
  server.putFeed("/feed.xml", rssFeed(1, 3));
  update(rss.feed);
  // One commit per document, whatever it brought.
  EXPECT_EQ(syncs() - before, 2 * oneCommit);
  std::vector<ItemView> now = items(rss.feed);
  ASSERT_EQ(now.size(), 3u);
  EXPECT_EQ(now[0].title, "Item 3");
  EXPECT_TRUE(ui.calls.empty()) << reports()[0];
}

TEST_F(AddUpdate, DeadFeedsFailLoudlyWhenAddedAndQuietlyWhenUpdated) {
  server.putFeed("/feed.xml", rssFeed(1, 1));
  newsFeed* feed = add(server.url("/feed.xml")).feed;
  ASSERT_NE(feed, nullptr);
  for (const char* status : {"404 Not Found", "500 Server Error"}) {
    SCOPED_TRACE(status);
    ui.calls.clear();
    server.put("/feed.xml", httpReply("<rss version=\"2.0\"><channel/></rss>", status));
    AddUpdateResult added = add(server.url("/feed.xml"));
    EXPECT_TRUE(added.errorReported);
    ASSERT_EQ(ui.calls.size(), 1u);
    EXPECT_EQ(ui.calls[0].title, "Add feed");
    EXPECT_EQ(ui.calls[0].text, kFailedAdd);
    EXPECT_EQ(ui.calls[0].filled(), "Failed to download the feed:\n\x1b" "1" + server.url("/feed.xml"));

    AddUpdateResult updated = update(feed);
    EXPECT_EQ(updated.feed, nullptr);
    EXPECT_FALSE(updated.errorReported);
    EXPECT_EQ(ui.calls.size(), 1u);
    EXPECT_TRUE(feed->downloadFailed);
  }
  server.putFeed("/feed.xml", rssFeed(1, 2));
  EXPECT_EQ(update(feed).feed, feed);
  EXPECT_FALSE(feed->downloadFailed);
}

TEST_F(AddUpdate, DocumentsNoParserTakesAreFlushedWithoutAMessage) {
  const char* const documents[] = {
      "<rss version=\"1.0\"><channel><title>t</title><link>http://x/</link></channel></rss>",
      "<rss><channel><title>t</title><link>http://x/</link></channel></rss>",
      "<rdf:RDF><channel><title>t</title></channel></rdf:RDF>",
      "<feed xmlns=\"http://purl.org/atom/ns#\" version=\"0.3\"><title>t</title></feed>",
      "<atom:feed xmlns:atom=\"http://www.w3.org/2005/Atom\"><atom:title>t</atom:title></atom:feed>",
      // The first row present decides: "rss" wins over a good Atom feed.
      "<rss version=\"9\"/><feed xmlns=\"http://www.w3.org/2005/Atom\"><title>t</title></feed>",
  };
  for (const char* doc : documents) {
    SCOPED_TRACE(doc);
    server.putFeed("/doc.xml", doc);
    AddUpdateResult r = add(server.url("/doc.xml"));
    EXPECT_EQ(r.feed, nullptr);
    EXPECT_FALSE(r.errorReported || r.cancelled);
  }
  EXPECT_TRUE(ui.calls.empty());
  EXPECT_EQ(root->feedList->infoHeadIndex(), 0);
}

TEST_F(AddUpdate, ARedirectedFeedRecordsAndNamesItsNewAddress) {
  server.put("/old.xml", httpReply("", "301 Moved Permanently", true, "Location: /new.xml\r\n"));
  server.putFeed("/new.xml", rssFeed(1, 1));
  newsFeed* feed = add(server.url("/old.xml")).feed;
  ASSERT_NE(feed, nullptr);
  EXPECT_EQ(feed->url.str(), server.url("/new.xml"));
}

TEST_F(AddUpdate, TheProgressWindowFollowsTheDownload) {
  ScriptedProgress p;
  server.putFeed("/feed.xml", rssFeed(1, 2));
  const std::string body = rssFeed(1, 2);
  newsFeed* feed = add(server.url("/feed.xml"), &p.gui).feed;
  ASSERT_NE(feed, nullptr);
  EXPECT_EQ(p.feedText.shown, server.url("/feed.xml"));
  EXPECT_EQ(p.stepText.history, (std::vector<std::string>{"Downloading feed...", "Parsing...",
                                                           "Scanning for new items...", "Writing to disk...", ""}));
  EXPECT_EQ(p.window.busyHistory, (std::vector<bool>{true, false}));
  const std::vector<std::string>& shown = p.progressText.history;
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(shown.front(), "connecting");
  const std::string full = std::to_string(body.size()) + " bytes (100%)";
  auto last = std::find(shown.begin(), shown.end(), full);
  ASSERT_NE(last, shown.end());
  EXPECT_EQ(*(last + 1), "");
  EXPECT_EQ(*(last + 2), "Parsing feed");
  for (auto it = shown.begin(); it != last; ++it) EXPECT_TRUE(*it == "connecting" || it->find(" bytes (") != std::string::npos) << *it;

  // Without a length, and with a length of 0: bytes without a percentage;
  // several feeds get the "(n/m) " prefix.
  for (bool zero : {false, true}) {
    ScriptedProgress q;
    server.put("/feed.xml", zero ? httpReply(body, "200 OK", false, "Content-Length: 0\r\n")
                                 : httpReply(body, "200 OK", false));
    addUpdateFeed(*db, *root, nullptr, nullptr, feed->url, feed, &q.gui, 2, 5);
    EXPECT_EQ(q.feedText.shown, "(2/5) " + feed->infoName(nullptr).str());
    const std::vector<std::string>& h = q.progressText.history;
    EXPECT_NE(std::find(h.begin(), h.end(), zero ? "0 bytes" : std::to_string(body.size()) + " bytes"), h.end())
        << ::testing::PrintToString(h);
  }
}

}  // namespace
}  // namespace bw::testing_news
