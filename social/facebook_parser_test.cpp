// social/facebook_parser_test.cpp - Facebook documents into a real news
// database (checked by soupcheck at every close): posts and comments, the
// collection walk and its loads, the refreshed feed's fields, link chains
// from both pages, the same-feed question and the progress texts.
#include "social/facebook_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/raise_test_support.h"
#include "news/feed_update_test_support.h"
#include "news/news_load.h"
#include "social/facebook_records.h"
#include "social/social_document_test_support.h"

namespace bw {
namespace {

constexpr const char* kPage = R"({"id":"77","name":"Some Page","link":"https:\/\/www.facebook.com\/SomePage"})";

// A post "p<n>" of day n of June 2017, its link unique unless given.
struct Post {
  int n;
  std::vector<int> comments = {};  // comment numbers 20..39 (of day n - 10 of July), newest first
  std::string link = "";
  bool dated = true;
};

std::string postJson(const Post& p) {
  const std::string n = std::to_string(p.n);
  std::string json = R"({"id":"77_)" + n + R"(","from":{"name":"Ann"},"type":"status","message":"Post )" + n +
                     R"(","permalink_url":")" + (p.link.empty() ? "https://www.facebook.com/77/posts/" + n : p.link) +
                     "\"";
  if (p.dated) json += R"(,"created_time":"2017-06-)" + std::string(p.n < 10 ? "0" : "") + n + R"(T10:00:00+0000")";
  if (!p.comments.empty()) {
    json += R"(,"comments":{"data":[)";
    for (size_t i = 0; i < p.comments.size(); ++i) {
      const std::string c = std::to_string(p.comments[i]);
      json += std::string(i ? "," : "") + R"({"id":")" + n + "_" + c + R"(","from":{"name":"Bo"},"message":"Reply )" +
              c + R"(","created_time":"2017-07-)" + std::to_string(p.comments[i] - 10) + R"(T10:00:00+0000"})";
    }
    json += "]}";
  }
  return json + "}";
}

std::string page(const std::vector<Post>& posts) {
  std::string json = R"({"data":[)";
  for (size_t i = 0; i < posts.size(); ++i) json += (i ? "," : "") + postJson(posts[i]);
  return json + "]}";
}

class FacebookParseTest : public testing_news::FeedUpdateTest {
 protected:
  std::unique_ptr<webDataRoot> document(const std::string& newer, const std::string& info = kPage,
                                        const std::string& older = "") {
    return testing_social::socialDocument(
        {{newer, kFacebookTimelineRoot}, {older, kFacebookOlderTimelineRoot}, {info, kFacebookInfoRoot}}, nullptr,
        texts);
  }
  FeedParseResult parse(const std::string& newer, newsFeed* update = nullptr, const std::string& info = kPage,
                        const std::string& older = "", feedProgressGui* gui = nullptr) {
    docs.push_back(document(newer, info, older));
    return parseFacebookFeed(*db, *docs.back(), *root, nullptr, nullptr, update, gui);
  }
  std::string ids(newsFeed* feed) {
    std::string out;
    for (const auto& i : items(feed)) out += i.uniqueID.substr(i.uniqueID.find('_') + 1) + " ";
    return out;
  }
  std::vector<std::unique_ptr<webDataRoot>> docs;
};

TEST_F(FacebookParseTest, PostsCommentsAndRepeats) {
  testing_news::ScriptedProgress progress;
  FeedParseResult first = parse(page({{3, {32, 31}}, {2}, {1}}), nullptr, kPage, "", &progress.gui);
  ASSERT_NE(first.feed, nullptr);
  newsFeed* feed = first.feed;
  EXPECT_EQ(progress.progressText.history,
            (std::vector<std::string>{"Parsing feed", "Parsing item 1 (33%)", "Parsing comments of item 1 (33%)",
                                      "Parsing item 2 (66%)", "Parsing item 3 (100%)", "Expanding shortened URLs",
                                      "Finding duplicate items in feed", "Adding items to feed", ""}));
  EXPECT_EQ(feed->type.view(), "Facebook v2.8");
  EXPECT_EQ(feed->tags.view(), ",Facebook,");
  EXPECT_EQ(feed->url.view(), "https://www.facebook.com/SomePage");
  EXPECT_EQ(feed->seenUpToTime, pTime::DateTimeToBigTime(2017, 6, 1, 10, 0, 0));
  EXPECT_EQ(feed->downloadLength, -1);
  EXPECT_EQ(ids(feed), "32 31 3 2 1 ");
  auto view = items(feed);
  EXPECT_EQ(view[0].title, "(comment by Bo) Reply 32");
  EXPECT_EQ(view[0].link, "https://www.facebook.com/77/posts/3?comment_id=32");
  EXPECT_EQ(view[2].title, "(Ann) Post 3");

  // The same page again adds nothing; a known post takes its new comments
  // up to the first known one.
  EXPECT_EQ(parse(page({{3, {32, 31}}, {2}, {1}}), feed).feed, feed);
  EXPECT_EQ(ids(feed), "32 31 3 2 1 ");
  parse(page({{4}, {3, {34, 33, 32, 31}}, {2, {21}}}), feed);
  EXPECT_EQ(ids(feed), "34 33 32 31 21 4 3 2 1 ");
  EXPECT_TRUE(ui.calls.empty());
}

TEST_F(FacebookParseTest, TheWalkStopsAtTheFirstOlderItem) {
  std::vector<Post> many;
  for (int n = 28; n >= 1; --n) many.push_back({n});
  FeedParseResult first = parse(page(many));
  ASSERT_NE(first.feed, nullptr);
  // One dated post newer than all: the walk loads the head only (the link
  // scan reads all 28 here, and the list insertion a couple).
  const int64_t before = infoNewsItemLoads();
  parse(page({{29}}), first.feed);
  EXPECT_LE(infoNewsItemLoads() - before, 1 + 28 + 2);
  // An undated post is newer than nothing: the walk goes through all 29
  // before the scan reads them again.
  const int64_t before2 = infoNewsItemLoads();
  parse(page({{30, {}, "", false}}), first.feed);
  EXPECT_GE(infoNewsItemLoads() - before2, 29 + 29);
  EXPECT_EQ(ids(first.feed).substr(0, 6), "29 28 ");  // the undated one sorts last
}

TEST_F(FacebookParseTest, RefreshedFeedAndChains) {
  FeedParseResult first = parse(page({{2, {}, "https://example.com/story"}}));
  ASSERT_NE(first.feed, nullptr);
  newsFeed* feed = first.feed;
  // The own timeline keeps "me"; an empty url stays empty.
  feed->uniqueID = Str("Me");
  feed->url = Str("");
  feed->noOlderItems = false;
  // A newer post with the same story joins the stored one's chain as its
  // newest member; an older page's post as the oldest.
  parse(page({{3, {}, "https://example.com/story"}}), feed, R"({"id":"77","name":"Renamed","link":"x"})",
        page({{1, {}, "https://example.com/story"}}));
  EXPECT_EQ(feed->uniqueID.view(), "Me");
  EXPECT_EQ(feed->url.view(), "");
  EXPECT_EQ(feed->title.view(), "Renamed");
  auto view = items(feed);
  ASSERT_EQ(ids(feed), "3 2 1 ");
  EXPECT_NE(view[0].older, 0);   // 3 is the chain's newest
  EXPECT_NE(view[2].newest, 0);  // 1 its oldest
  EXPECT_FALSE(feed->noOlderItems);
  for (const char* older : {R"({"data":[]})", R"({})"}) {
    feed->noOlderItems = false;
    parse(page({}), feed, kPage, older);
    EXPECT_TRUE(feed->noOlderItems) << older;
  }
  // Without an account record an update still takes the posts.
  parse(page({{4}}), feed, "");
  EXPECT_EQ(ids(feed), "4 3 2 1 ");
}

TEST_F(FacebookParseTest, AddingNeedsTheRecordAndAsksAboutTheSameFeed) {
  EXPECT_EQ(parse(page({{1}}), nullptr, "").feed, nullptr);
  EXPECT_EQ(root->feedList->infoHeadIndex(), 0);
  FeedParseResult first = parse(page({{1}}));
  ASSERT_NE(first.feed, nullptr);
  ui.answers = {0};  // "No"
  FeedParseResult refused = parse(page({{2}}));
  EXPECT_EQ(refused.feed, nullptr);
  EXPECT_TRUE(refused.errorReported);
  ASSERT_EQ(ui.calls.size(), 2u);
  EXPECT_EQ(ui.calls[1].text.find("This seemingly identical feed cannot be added."), 0u);
  ui.calls.clear();
  ui.answers = {1};  // "Yes": the stored feed is updated
  EXPECT_EQ(parse(page({{2}})).feed, first.feed);
  EXPECT_EQ(ids(first.feed), "2 1 ");
  // A first download without a dated item is seen up to now.
  FeedParseResult undated = parse(page({{5, {}, "", false}}), nullptr, R"({"id":"88","name":"Other"})");
  ASSERT_NE(undated.feed, nullptr);
  EXPECT_EQ(undated.feed->seenUpToTime, testing_news::kNow);
}

// An exception among the comments of the second post: the soup must close,
// and reopened it holds no feed; nothing leaks.
TEST_F(FacebookParseTest, ExceptionHalfWayChangesNothing) {
  struct Throwing : testing_news::ScriptedText {
    void setState(Text text) override {
      if (text.view().starts_with("Parsing comments of item 2")) raise("ERR", "injected");
      ScriptedText::setState(text);
    }
  } throwing;
  feedProgressGui gui;
  gui.progressText = &throwing;
  const int32_t rootIndex = db->createdObject(root.get());
  db->flush();
  expectRaise([&] { parse(page({{3}, {2, {21}}, {1}}), nullptr, kPage, "", &gui); }, "ERR", "injected");
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
