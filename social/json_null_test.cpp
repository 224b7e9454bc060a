// social/json_null_test.cpp - a JSON null is an absent value to every
// social reader: for each member a reader takes, a record whose member is
// null reads exactly as the record without it, and no text, link or title
// says "null".
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "social/facebook_records.h"
#include "social/json_members.h"
#include "social/social_document_test_support.h"
#include "social/twitter_records.h"

namespace bw {
namespace {

std::string s(const Str& t) { return t.isNil() ? "NIL" : "\"" + t.str() + "\""; }
std::string s(const RecordString& t) { return t.nil ? "NIL" : "\"" + std::string(t.text) + "\""; }

// Each reader over one record, with everything it produced as one text.
struct Reader {
  const char* name;
  std::string_view root;  // the pseudo root the record is read under
  // The whole record; each member below occurs in it exactly once.
  std::string record;
  std::vector<std::string> members;
  std::function<std::string(const webDataRoot&)> read;
};

std::string tweetRead(const webDataRoot& doc) {
  newsFeed feed;
  feed.url = Str("https://twitter.com/someone");
  TweetRecord r = twitterExtractTweet(*doc.head(), feed);
  const ItemBodyTexts& b = r.body->texts;
  return s(r.item->title) + s(r.item->link) + s(r.item->uniqueID) + std::to_string(r.item->published) +
         s(b.summary) + s(b.publishedText) + s(b.imageURL);
}

std::string feedRead(std::unique_ptr<newsFeed> f) {
  if (!f) return "no feed";
  return s(f->title) + s(f->url) + s(f->uniqueID) + s(f->subtitle) + s(f->imageURL) + s(f->language);
}

std::string postRead(const FacebookRecord& r) {
  return s(r.item->title) + s(r.item->link) + s(r.item->uniqueID) + std::to_string(r.item->published) +
         std::to_string(r.item->updated) + s(r.item->tags) + s(r.body->summary) + s(r.body->content) +
         s(r.body->publishedText) + s(r.body->updatedText) + s(r.postAddress) + (r.commentsNode ? "+" : "-");
}

TEST(JsonNull, EveryMemberTheReadersTakeIsAbsentWhenNull) {
  initTimerDevice();
  setClockSource([] { return ClockReading{1772366400, 0, false}; });
  const std::vector<Reader> readers = {
      {"tweet", "tweet",
       R"({"full_text":"RT @ann: see https:\/\/t.co\/a now \u2026","id_str":"77","created_at":"Wed Aug 27 13:08:45 +0000 2008",)"
       R"("entities":{"urls":[{"url":"https:\/\/t.co\/a","expanded_url":"https:\/\/one.example\/x"}],)"
       R"("media":[{"url":"https:\/\/t.co\/m","expanded_url":"https:\/\/pic.example\/1","media_url":"http:\/\/pbs.example\/1.jpg",)"
       R"("media_url_https":"https:\/\/pbs.example\/1.jpg"}]},)"
       R"("retweeted_status":{"full_text":"see https:\/\/t.co\/b now, whole","user":{"screen_name":"ann"},)"
       R"("entities":{"urls":[{"url":"https:\/\/t.co\/b","expanded_url":"https:\/\/two.example\/y"}],)"
       R"("media":[{"expanded_url":"https:\/\/pic.example\/2"}]}}})",
       {R"("full_text":"RT @ann: see https:\/\/t.co\/a now \u2026")", R"("id_str":"77")",
        R"("created_at":"Wed Aug 27 13:08:45 +0000 2008")", R"("url":"https:\/\/t.co\/a")",
        R"("expanded_url":"https:\/\/one.example\/x")", R"("url":"https:\/\/t.co\/m")",
        R"("expanded_url":"https:\/\/pic.example\/1")", R"("media_url":"http:\/\/pbs.example\/1.jpg")",
        R"("media_url_https":"https:\/\/pbs.example\/1.jpg")", R"("full_text":"see https:\/\/t.co\/b now, whole")",
        R"("screen_name":"ann")", R"("url":"https:\/\/t.co\/b")", R"("expanded_url":"https:\/\/two.example\/y")",
        R"("expanded_url":"https:\/\/pic.example\/2")",
        R"("user":{"screen_name":"ann"})"},
       tweetRead},
      {"profile", kUsersShowRoot,
       R"({"name":"Ann","screen_name":"ann","id_str":"9","profile_image_url":"http:\/\/pbs.example\/p.png",)"
       R"("lang":"en","description":"About"})",
       {R"("name":"Ann")", R"("screen_name":"ann")", R"("id_str":"9")",
        R"("profile_image_url":"http:\/\/pbs.example\/p.png")", R"("lang":"en")", R"("description":"About")"},
       [](const webDataRoot& doc) { return feedRead(twitterUserInfoToFeed(doc)); }},
      {"account", kFacebookInfoRoot,
       R"({"name":"Page","link":"https:\/\/www.facebook.com\/page","id":"9","about":"A","description":"D"})",
       {R"("name":"Page")", R"("link":"https:\/\/www.facebook.com\/page")", R"("id":"9")", R"("about":"A")",
        R"("description":"D")"},
       [](const webDataRoot& doc) { return feedRead(facebookUserInfoToFeed(doc)); }},
      {"post", "post",
       R"({"from":{"name":"Ann"},"type":"link","message":"Read this","name":"Some page","description":"About it",)"
       R"("link":"https:\/\/news.example\/a","permalink_url":"https:\/\/www.facebook.com\/5\/posts\/9","id":"5_9",)"
       R"("created_time":"2017-06-18T10:20:30+0000","updated_time":"2017-06-19T10:20:30+0000",)"
       R"("comments":{"data":[{"id":"9_1"}]}})",
       {R"("from":{"name":"Ann"})", R"("name":"Ann")", R"("type":"link")", R"("message":"Read this")",
        R"("name":"Some page")", R"("description":"About it")", R"("link":"https:\/\/news.example\/a")",
        R"("permalink_url":"https:\/\/www.facebook.com\/5\/posts\/9")", R"("id":"5_9")",
        R"("created_time":"2017-06-18T10:20:30+0000")", R"("updated_time":"2017-06-19T10:20:30+0000")",
        R"("comments":{"data":[{"id":"9_1"}]})", R"("data":[{"id":"9_1"}])"},
       [](const webDataRoot& doc) { return postRead(facebookExtractPost(*doc.head())); }},
      {"post without message", "post",
       R"({"from":{"name":"Ann"},"type":"link","name":"Some page","description":"About it"})",
       {R"("name":"Some page")", R"("description":"About it")", R"("type":"link")"},
       [](const webDataRoot& doc) { return postRead(facebookExtractPost(*doc.head())); }},
      {"comment", "comment",
       R"({"id":"9_1","from":{"name":"Bo"},"message":"Nice","created_time":"2017-06-18T10:20:30+0000"})",
       {R"("id":"9_1")", R"("from":{"name":"Bo"})", R"("name":"Bo")", R"("message":"Nice")",
        R"("created_time":"2017-06-18T10:20:30+0000")"},
       [](const webDataRoot& doc) {
         newsItem parent;
         return postRead(facebookExtractComment(*doc.head(), &parent, "https://www.facebook.com/5/posts/9"));
       }},
  };
  std::vector<std::unique_ptr<std::string>> texts;
  auto readWith = [&](const Reader& r, const std::string& record) {
    std::unique_ptr<webDataRoot> doc = testing_social::socialDocument({{record, r.root}}, nullptr, texts);
    return doc ? r.read(*doc) : std::string("unreadable");
  };
  for (const Reader& r : readers) {
    const std::string whole = readWith(r, r.record);
    EXPECT_EQ(whole.find("null"), std::string::npos) << r.name << ": " << whole;
    for (const std::string& member : r.members) {
      SCOPED_TRACE(std::string(r.name) + ": " + member);
      const size_t at = r.record.find(member);
      ASSERT_NE(at, std::string::npos);
      ASSERT_EQ(r.record.find(member, at + 1), std::string::npos);
      std::string nulled = r.record, absent = r.record;
      nulled.replace(at, member.size(), member.substr(0, member.find(':')) + ":null");
      absent.replace(at, member.size(), R"("unread_member":0)");
      const std::string read = readWith(r, nulled);
      EXPECT_EQ(read, readWith(r, absent));
      EXPECT_EQ(read.find("null"), std::string::npos) << read;
    }
  }
  setClockSource(nullptr);
  closeTimerDevice();
}

// The member finders: a null member is NIL, and a later member of the same
// name does not stand in for it.
TEST(JsonNull, MemberFindersTakeNullForAbsent) {
  std::vector<std::unique_ptr<std::string>> texts;
  std::unique_ptr<webDataRoot> doc =
      testing_social::socialDocument({{R"({"a":null,"b":"null","c":1,"a":2,"d":[null]})", "x"}}, nullptr, texts);
  const webDataNode* object = doc->head();
  const auto found = findMembers<4>(object, {"a", "b", "c", "d"});
  EXPECT_EQ(found[0], nullptr);
  EXPECT_EQ(jsonMember(object, "a"), nullptr);
  EXPECT_EQ(twitterMemberText(object, "a", true).isNil(), true);
  EXPECT_EQ(twitterMemberText(object, "b", true).view(), "null");  // the text "null" is a text
  EXPECT_EQ(twitterMemberText(object, "c", true).view(), "1");
  EXPECT_TRUE(isJsonNull(found[3]->getFirstChild()));
  EXPECT_EQ(twitterNodeText(found[3]->getFirstChild(), false).isNil(), true);
}

}  // namespace
}  // namespace bw
