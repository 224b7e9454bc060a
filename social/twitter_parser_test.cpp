// social/twitter_parser_test.cpp - timelines into the news model: whole
// adds and updates through addUpdateFeed against the fake API, and direct
// parses of hand-made documents for the progress texts, repeats, link
// chains, the same-feed question and an exception half-way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "news/add_update_feed.h"
#include "social/twitter_parser.h"
#include "social/social_document_test_support.h"
#include "social/social_merge.h"
#include "social/twitter_records.h"
#include "social/twitter_test_support.h"
#include "web/json_reader.h"

namespace bw {
namespace {

class TwitterParseTest : public testing_social::TwitterTest {
 protected:
  // A document of the pseudo roots: the profile and the timeline pages
  // given (each a JSON text; empty leaves the root out).
  std::unique_ptr<webDataRoot> document(const std::string& newer, const std::string& profile = kProfile,
                                        const std::string& older = "") {
    return testing_social::socialDocument({{newer, kTimelineRoot}, {older, kOlderTimelineRoot}, {profile, kUsersShowRoot}},
                                          twitterEscapeTable(), texts);
  }
  static std::string page(const std::vector<test::FakeTweet>& tweets) {
    std::string json = "[";
    for (size_t i = tweets.size(); i-- > 0;) json += test::tweetJson(tweets[i]) + (i ? "," : "");
    return json + "]";
  }
  FeedParseResult parse(webDataRoot& doc, newsFeed* update = nullptr, feedProgressGui* gui = nullptr) {
    return parseTwitterFeed(*db, doc, *root, nullptr, nullptr, update, gui);
  }
  std::string ids(newsFeed* feed) {
    std::string out;
    for (const auto& i : items(feed)) out += i.uniqueID + " ";
    return out;
  }
  static constexpr const char* kProfile =
      R"({"id_str":"12345","name":"Some User","screen_name":"SomeUser","lang":"en"})";
};

TEST_F(TwitterParseTest, AddAndUpdateThroughTheFakeService) {
  fake->setTweets(tweets(1, 3));
  AddUpdateResult added = add("https://twitter.com/SomeUser");
  ASSERT_NE(added.feed, nullptr) << (reports().empty() ? "" : reports()[0]);
  EXPECT_NE(fake->targets("/1.1/statuses/user_timeline.json")[0].find("?screen_name=someuser&count=3200&"),
            std::string::npos);
  EXPECT_EQ(added.feed->url.view(), "https://twitter.com/SomeUser");
  EXPECT_EQ(added.feed->uniqueID.view(), "12345");
  EXPECT_EQ(added.feed->type.view(), "Twitter v1.1");
  EXPECT_EQ(ids(added.feed), "3 2 1 ");

  fake->setTweets(tweets(1, 6));
  AddUpdateResult updated = update(added.feed);
  ASSERT_EQ(updated.feed, added.feed);
  EXPECT_NE(fake->targets("/1.1/statuses/user_timeline.json").back().find("?user_id=12345&count=3200&since_id=2&"),
            std::string::npos);
  EXPECT_EQ(ids(added.feed), "6 5 4 3 2 1 ");
  EXPECT_TRUE(ui.calls.empty()) << reports()[0];

  // A failed transfer of an add is reported with the address (the kind
  // saveAppend gives, 7 or 6, is not shown); a refused sign-in at the open
  // gives the factory kind 6.
  signInFails = true;
  for (auto [status, reason] : {std::pair{429, "HTTP 429 X"}, std::pair{401, "the download failed"}}) {
    ui.calls.clear();
    fake->script("timeline", status);
    EXPECT_EQ(add("https://twitter.com/Other").feed, nullptr);
    EXPECT_EQ(reports(), std::vector<std::string>{"Failed to download the feed:\n\x1b" "1https://twitter.com/Other\n" +
                                                  std::string(reason)});
  }
  root->twitterToken = Str();
  EXPECT_EQ(createDownloaderForURL(*root, "https://twitter.com/Other", nullptr, nullptr).failed, kFeedAuthFailed);
  root->twitterToken = Str("userToken");
  // A page that is not JSON is kept, as it came, for the report.
  ui.calls.clear();
  fake->script("timeline", 200, "{broken");
  EXPECT_EQ(add("https://twitter.com/Other").feed, nullptr);
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(badDocument(ui.calls[0]), "{broken");
}

TEST_F(TwitterParseTest, ProgressRepeatsAndChains) {
  auto shared = tweets(1, 3);
  shared[0].link = shared[1].link = "http://example.com/same/";  // two new tweets, one story
  auto doc = document(page(shared));
  testing_news::ScriptedProgress progress;
  FeedParseResult first = parse(*doc, nullptr, &progress.gui);
  ASSERT_NE(first.feed, nullptr);
  EXPECT_EQ(progress.progressText.history,
            (std::vector<std::string>{"Parsing feed", "Parsing item 1 (33%)", "Parsing item 2 (66%)",
                                      "Parsing item 3 (100%)", "Expanding shortened URLs",
                                      "Finding duplicate items in feed", "Adding items to feed", ""}));
  EXPECT_EQ(first.feed->seenUpToTime, twitterParseDate(shared[0].createdAt.c_str()));
  EXPECT_EQ(first.feed->downloadLength, -1);
  auto view = items(first.feed);
  ASSERT_EQ(view.size(), 3u);
  // Tweet 2 (newer) joined tweet 1's chain as its newest member.
  EXPECT_EQ(view[1].uniqueID, "2");
  EXPECT_NE(view[1].older, 0);
  EXPECT_NE(view[2].newest, 0);
  EXPECT_EQ(view[0].older + view[0].newest, 0);

  // The same document again adds nothing; a page of older tweets joins the
  // chain from the old end; an empty older page ends the older pages.
  auto again = document(page(shared));
  EXPECT_EQ(parse(*again, first.feed).feed, first.feed);
  EXPECT_EQ(ids(first.feed), "3 2 1 ");
  first.feed->noOlderItems = false;
  std::vector<test::FakeTweet> old = {{0, "old", "Tue Aug 26 13:08:45 +0000 2008", "http://example.com/same"}};
  auto olderDoc = document("[]", kProfile, page(old));
  parse(*olderDoc, first.feed);
  EXPECT_EQ(ids(first.feed), "3 2 1 0 ");
  EXPECT_NE(items(first.feed)[3].newest, 0);  // the oldest of the chain now
  EXPECT_FALSE(first.feed->noOlderItems);
  auto emptyOlder = document("[]", kProfile, "[]");
  parse(*emptyOlder, first.feed);
  EXPECT_TRUE(first.feed->noOlderItems);
}

TEST_F(TwitterParseTest, SameFeedIsConfirmed) {
  auto doc = document(page(tweets(1, 1)));
  FeedParseResult first = parse(*doc);
  ASSERT_NE(first.feed, nullptr);
  for (const char* profile : {kProfile, R"({"id_str":"999","name":"Other","screen_name":"someuser"})"}) {
    ui.calls.clear();
    ui.answers = {0};  // "No"
    auto second = document(page(tweets(1, 1)), profile);
    FeedParseResult refused = parse(*second);
    EXPECT_EQ(refused.feed, nullptr);
    EXPECT_TRUE(refused.errorReported);
    ASSERT_EQ(ui.calls.size(), 2u) << profile;
    EXPECT_EQ(ui.calls[0].text, "This new feed:\n\x1b" "1%s\nseems to be the same as this existing feed:\n\x1b"
                                "1%s\n\nIs this correct?");
    EXPECT_EQ(ui.calls[1].text.find("This seemingly identical feed cannot be added."), 0u);
  }
  // Without a profile nothing is added; an update still takes the tweets.
  auto bare = document(page(tweets(2, 2)), "");
  EXPECT_EQ(parse(*bare).feed, nullptr);
  EXPECT_EQ(parse(*bare, first.feed).feed, first.feed);
  EXPECT_EQ(ids(first.feed), "2 1 ");
}

}  // namespace
}  // namespace bw

namespace bw {
namespace {

// The stored items a parse scans for link keys stay within max(200, 2 x
// tweets), whatever the feed holds.
TEST_F(TwitterParseTest, ScanIsBounded) {
  auto many = document(page(tweets(1, 400)));
  FeedParseResult first = parse(*many);
  ASSERT_NE(first.feed, nullptr);
  std::vector<test::FakeTweet> newest = tweets(401, 401);
  newest[0].createdAt = "Thu Aug 28 13:08:45 +0000 2008";  // goes to the head
  auto one = document(page(newest));
  const int64_t before = infoNewsItemLoads();
  parse(*one, first.feed);
  EXPECT_LE(infoNewsItemLoads() - before, kSocialMinimumScan + 5);
  EXPECT_EQ(items(first.feed).size(), 401u);
}

// A parse that shows no progress counts the tweets with members (which
// bound the scan) while it stores them: it joins the same stored items as
// one that counts them first to show progress, with elements without
// members among the tweets. The new tweets repeat the links of stored ones
// on both sides of the scan's bound.
TEST_F(TwitterParseTest, TweetsCountedWhileStoredBoundTheScanAlike) {
  auto dated = [](int64_t first, int64_t last) {
    std::vector<test::FakeTweet> out = tweets(first, last);
    for (test::FakeTweet& t : out) {
      const int64_t s = t.id * 7;  // one date each, newest last
      char text[40];
      std::snprintf(text, sizeof text, "Wed Aug 27 %02d:%02d:%02d +0000 2008", static_cast<int>(10 + s / 3600),
                    static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
      t.createdAt = text;
    }
    return out;
  };
  auto stored = document(page(dated(1, 600)));
  newsFeed* shown = parse(*stored).feed;
  auto storedAgain = document(page(dated(1, 600)), R"({"id_str":"777","name":"Other","screen_name":"Other"})");
  newsFeed* quiet = parse(*storedAgain).feed;
  ASSERT_TRUE(shown && quiet && shown != quiet);
  // The scan reads about the newest 300 stored items: the stories of ids
  // 282-311 lie on both sides of its bound.
  std::vector<test::FakeTweet> newer = dated(601, 750);
  for (size_t i = 0; i < newer.size(); ++i) newer[i].link = "http://example.com/story/" + std::to_string(311 - i % 30);
  const std::string json = page(newer);
  const std::string withEmpty = "[{},5,{}," + json.substr(1, json.size() - 2) + ",[],{}]";
  std::vector<int> chained;
  for (newsFeed* feed : {shown, quiet}) {
    testing_news::ScriptedProgress progress;
    auto doc = document(withEmpty);
    parse(*doc, feed, feed == shown ? &progress.gui : nullptr);
    chained.push_back(0);
    for (const auto& item : items(feed)) chained.back() += item.older != 0 ? 1 : 0;
  }
  EXPECT_EQ(chained[0], chained[1]);
  EXPECT_GT(chained[0], 0);
  EXPECT_LT(chained[0], 150);
}

// An exception at the third tweet: the soup must close, and reopened it
// holds what it held before the parse; nothing leaks.
TEST_F(TwitterParseTest, ExceptionHalfWayChangesNothing) {
  struct Throwing : testing_news::ScriptedText {
    void setState(Text text) override {
      if (text.view().starts_with("Parsing item 3")) raise("ERR", "injected");
      ScriptedText::setState(text);
    }
  } throwing;
  feedProgressGui gui;
  gui.progressText = &throwing;
  db->flush();
  const int32_t rootIndex = root->infoSoupIndex();
  auto doc = document(page(tweets(1, 5)));
  expectRaise([&] { parse(*doc, nullptr, &gui); }, "ERR", "injected");
  EXPECT_TRUE(db->infoMustClose());
  root.release();  // closing the soup ends every loaded object
  reopen();
  newsRoot* stored = loadObject_newsRoot(*db, rootIndex);
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->feedList->infoHeadIndex(), 0);
  db->unloadObject(stored);
}

}  // namespace
}  // namespace bw
