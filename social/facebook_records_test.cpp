// social/facebook_records_test.cpp - the title and id rules as tables, the
// Graph API dates, and posts, comments and account records read from JSON.
#include "social/facebook_records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/raise_test_support.h"
#include "news/feed_merge.h"
#include "platform/clock.h"
#include "platform/time.h"
#include "social/social_document_test_support.h"

namespace bw {
namespace {

std::string s(const Str& t) { return t.isNil() ? "NIL" : t.str(); }

TEST(FacebookRecords, TitleRules) {
  struct Case {
    const char* message;
    bool escaped;
    const char* name;
    bool comment;
    const char* title;
  } cases[] = {
      {"Hello world. This is a long message, with more", false, "Ann", false, "(Ann) Hello world. This is a long message"},
      {"Nice", true, "Bo", true, "(comment by Bo) Nice"},
      {"short and whole   ", false, nullptr, false, "short and whole"},
      {"first line\\nsecond", true, nullptr, false, "first line"},
      {"first line\\nsecond", false, nullptr, false, "first line\\nsecond"},
      {"real  \nbreak", false, nullptr, false, "real"},
      {"a.b.c: the dots before 27 do not cut - but this dash does, not the comma", false, nullptr, false,
       "a.b.c: the dots before 27 do not cut"},
      {"abcdefghijklmnopqrstuvwxyz0. then, more", false, nullptr, false, "abcdefghijklmnopqrstuvwxyz0"},
      {"the comma comes first here and then, a dot. - and a dash", false, nullptr, false,
       "the comma comes first here and then"},
      {"Read this article on https://example.com/some-long-path.html today, please", false, nullptr, false,
       "Read this article on https://example.com/some-long-path.html today"},  // not inside the link
      {"Escaped too, at https:\\/\\/example.com\\/a-b.c, then this", true, nullptr, false,
       "Escaped too, at https:\\/\\/example.com\\/a-b.c"},
      {"A title long enough to be cut with well-known words, and more", false, nullptr, false,
       "A title long enough to be cut with well-known words"},  // a word boundary, not inside a word
      {"  ", false, nullptr, false, " "},  // the first character always stays
      {"", false, "Ann", false, "(Ann) "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(s(facebookMakeTitle(c.message, c.escaped, Text(c.name), c.comment)), c.title)
        << c.message;
  }
}

TEST(FacebookRecords, PostIdsAndDates) {
  struct Split {
    const char* id;
    bool postOnly;
    const char* post;
    const char* owner;
  } splits[] = {{"1_2", false, "2", "1"}, {"12", false, "12", "NIL"}, {"1_2", true, "2", "NIL"},
                {"_", false, "", ""},     {"1_2_3", false, "2_3", "1"}};
  for (const Split& c : splits) {
    FacebookPostID id = facebookSplitPostID(c.id, c.postOnly);
    EXPECT_EQ(s(id.postPart) + "|" + s(id.ownerPart), std::string(c.post) + "|" + c.owner) << c.id;
  }
  EXPECT_EQ(facebookParseDate("2017-06-18T10:20:30+0000"), pTime::DateTimeToBigTime(2017, 6, 18, 10, 20, 30));
  EXPECT_EQ(facebookParseDate("2017-06-18 10:20:30+0000"), kDateInvalid);
  EXPECT_EQ(facebookParseDate("yesterday"), kDateInvalid);
  EXPECT_EQ(facebookParseDate(nullptr), kDateUnset);
}

class FacebookRecordRead : public ::testing::Test {
 protected:
  // The readers stamp their download time.
  void SetUp() override { initTimerDevice(); }
  void TearDown() override { closeTimerDevice(); }
  const webDataNode& node(const std::string& json) {
    docs.push_back(testing_social::socialDocument({{json, "post"}}, nullptr, texts));
    return *docs.back()->findNode("post", nullptr, nullptr, nullptr);
  }
  std::vector<std::unique_ptr<std::string>> texts;
  std::vector<std::unique_ptr<webDataRoot>> docs;
};

TEST_F(FacebookRecordRead, Posts) {
  struct Case {
    const char* json;
    const char* title;
    const char* summary;
    const char* content;
    const char* tags;
  } cases[] = {
      {R"({"from":{"name":"Ann"},"type":"status","message":"Hello world. This is a long message, with more"})",
       "(Ann) Hello world. This is a long message", "NIL", "Hello world. This is a long message, with more", "status"},
      {R"({"from":{"name":"Ann"},"type":"link","name":"Some page","description":"About it"})",
       "(Ann) link from Some page", "About it", "NIL", "link"},
      {R"({"from":{"name":"Ann"},"type":"link"})", "(Ann) link", "(shared a post)", "NIL", "link"},
      {R"({"message":"Line one\nLine two"})", "Line one", "NIL", "Line one\\nLine two", "unknown post type"},
      {R"({"type":"Photo","message":"Look","name":"Album"})", "Look", "Look", "Look\n\nAlbum", "Photo"},
      {R"({"type":"link","message":"Read","name":"N","description":"D"})", "Read", "Read", "Read\n\nN\nD", "link"},
      {R"({"type":"link","message":"Read","description":"D"})", "Read", "Read", "Read\n\nD", "link"},
  };
  // A link post leads to the address it shares; other posts to themselves.
  struct Linked {
    const char* json;
    const char* link;
  } linked[] = {
      {R"({"type":"link","link":"https:\/\/news.example\/a","permalink_url":"https:\/\/fb\/p"})", "https://news.example/a"},
      {R"({"type":"link","permalink_url":"https:\/\/fb\/p"})", "https://fb/p"},
      {R"({"type":"photo","link":"https:\/\/fb\/photo","permalink_url":"https:\/\/fb\/p"})", "https://fb/p"},
  };
  for (const Linked& c : linked) EXPECT_EQ(s(facebookExtractPost(node(c.json)).item->link), c.link) << c.json;
  // Its comments lead to the post itself on Facebook, whatever it shares.
  struct Address {
    const char* json;
    const char* address;
  } addresses[] = {
      {R"({"id":"5_9","type":"link","link":"https:\/\/news.example\/a?id=5","permalink_url":"https:\/\/fb\/p"})",
       "https://fb/p"},
      {R"({"id":"5_9","type":"link","link":"https:\/\/news.example\/a?id=5"})", "https://www.facebook.com/5/posts/9"},
      {R"({"id":"5_9","permalink_url":""})", "https://www.facebook.com/5/posts/9"},
      {R"({"id":"59","type":"link","link":"https:\/\/news.example\/a"})", ""},
      {R"({"id":"_9"})", ""},
      {R"({"type":"link","link":"https:\/\/news.example\/a"})", ""},
  };
  for (const Address& c : addresses) EXPECT_EQ(s(facebookExtractPost(node(c.json)).postAddress), c.address) << c.json;
  for (const Case& c : cases) {
    FacebookRecord r = facebookExtractPost(node(c.json));
    EXPECT_EQ(s(r.item->title) + "|" + s(r.body->summary) + "|" + s(r.body->content) + "|" + s(r.item->tags),
              std::string(c.title) + "|" + c.summary + "|" + c.content + "|" + c.tags)
        << c.json;
    EXPECT_EQ(r.item->uniqueID.view(), kMissingText);
    EXPECT_EQ(r.item->link.view(), "");
    EXPECT_EQ(r.item->published, kDateUnset);
    EXPECT_EQ(r.commentsNode, nullptr);
  }
  FacebookRecord full = facebookExtractPost(node(
      R"({"id":"1_2","permalink_url":"https:\/\/www.facebook.com\/p?id=2","created_time":"2017-06-18T10:20:30+0000",)"
      R"("updated_time":"bad","comments":{"data":[{"id":"2_3"}]}})"));
  EXPECT_EQ(full.item->uniqueID.view(), "1_2");
  EXPECT_EQ(full.item->link.view(), "https://www.facebook.com/p?id=2");
  EXPECT_EQ(full.body->publishedText.view(), "2017-06-18T10:20:30+0000");
  EXPECT_EQ(full.item->updated, kDateInvalid);
  EXPECT_EQ(full.body->encoding.view(), "UTF-8");
  ASSERT_NE(full.commentsNode, nullptr);
  EXPECT_EQ(facebookExtractPost(node(R"({"comments":{"data":[]}})")).commentsNode, nullptr);

  // Comments: the link is the post's address with the part of the id behind
  // "_" after "?" or "&".
  struct Comment {
    const char* postAddress;
    const char* json;
    const char* title;
    const char* link;
  } comments[] = {
      {"https://fb/p", R"({"id":"2_3","from":{"name":"Bo"},"message":"Nice"})", "(comment by Bo) Nice",
       "https://fb/p?comment_id=3"},
      {"https://fb/p?id=2", R"({"id":"7","message":"Nice"})", "Nice", "https://fb/p?id=2&comment_id=7"},
      {"", R"({"id":"2_3","message":"Nice"})", "Nice", ""},
      {"https://fb/p", R"({"message":"Nice"})", "Nice", ""},
      {"https://fb/p", R"({"id":"2_3"})", "#MISSING", "https://fb/p?comment_id=3"},
  };
  for (const Comment& c : comments) {
    newsItem parent;
    parent.link = Str("https://news.example/article?id=5");  // what a link post shares: never the comment's
    FacebookRecord r = facebookExtractComment(node(c.json), &parent, c.postAddress);
    EXPECT_EQ(s(r.item->title) + "|" + s(r.item->link), std::string(c.title) + "|" + c.link) << c.json;
    EXPECT_EQ(r.item->updated, kDateUnset);
  }
  expectRaise([&] { facebookExtractComment(node("{}"), nullptr, "https://fb/p"); }, "EPU",
                    "facebookExtractComment(); parentItemNode=NIL");
}

TEST_F(FacebookRecordRead, AccountRecords) {
  struct Case {
    const char* json;
    const char* title;
    const char* url;
    const char* id;
    const char* subtitle;
  } cases[] = {
      {R"({"id":"9","name":"Page","link":"https:\/\/www.facebook.com\/page","about":"A","description":"D"})", "Page",
       "https://www.facebook.com/page", "9", "A"},
      {R"({"id":"9","name":"Page","description":"D"})", "Page", "", "9", "D"},
      {R"({})", "#MISSING", "", "#MISSING", "NIL"},
  };
  for (const Case& c : cases) {
    docs.push_back(testing_social::socialDocument({{c.json, kFacebookInfoRoot}}, nullptr, texts));
    std::unique_ptr<newsFeed> feed = facebookUserInfoToFeed(*docs.back());
    ASSERT_NE(feed, nullptr);
    EXPECT_EQ(s(feed->title) + "|" + s(feed->url) + "|" + s(feed->uniqueID) + "|" + s(feed->subtitle),
              std::string(c.title) + "|" + c.url + "|" + c.id + "|" + c.subtitle);
    EXPECT_EQ(feed->type.view(), "Facebook v2.8");
    EXPECT_EQ(feed->tags.view(), ",Facebook,");
    EXPECT_TRUE(feed->noOlderItems);
    EXPECT_NE(feed->docFormat, nullptr);
  }
  docs.push_back(testing_social::socialDocument({{"{}", kFacebookTimelineRoot}}, nullptr, texts));
  EXPECT_EQ(facebookUserInfoToFeed(*docs.back()), nullptr);
}

}  // namespace
}  // namespace bw
