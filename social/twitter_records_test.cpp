// social/twitter_records_test.cpp - the tweet date grammar as a table (and
// every prefix of a good date), the title cut, the link choices, the
// profile and the credit ordering.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/ascii_case.h"
#include "core/mega_list_family.h"
#include "social/json_members.h"
#include "social/twitter_records.h"
#include "social/twitter_test_support.h"
#include "web/json_reader.h"

namespace bw {
namespace {

constexpr bigTime kAug27 = 273157725;  // 2008-08-27 13:08:45 UTC

TEST(TwitterDates, Grammar) {
  struct {
    const char* text;
    bigTime want;
  } cases[] = {
      {"Wed Aug 27 13:08:45 +0000 2008", kAug27},
      {"Wed Aug 27 13:08:45 +0200 2008", kAug27 - 7200},
      {"Wed Aug 27 13:08:45 -0530 2008", kAug27 + 19800},
      {"Wed aug 27 13:08:45 +0000 2008", kAug27},
      {"Wed Aug 27 13:08:45 +0000 2008\n", kAug27},
      {"Wed Aug 27 13:08:45 +0000 2008 rest", kAug27},
      {"Wed Agu 27 13:08:45 +0000 2008", kDateInvalid},
      {"Wed Aug 0 13:08:45 +0000 2008", kDateInvalid},
      {"Wed Aug 32 13:08:45 +0000 2008", kDateInvalid},
      {"Wed Aug 27 24:08:45 +0000 2008", kDateInvalid},
      {"Wed Aug 27 13:60:45 +0000 2008", kDateInvalid},
      {"Wed Aug 27 13:08:60 +0000 2008", kDateInvalid},
      {"Wed Aug 27 13:08:45 +0000 1899", kDateInvalid},
      {"Wed Aug 27 13:08:45 2008", kDateInvalid},  // no zone: the year is read as one
      {"Wed Aug 27 13:08:45 +0000 2008x", kDateInvalid},
      {"Wed Aug 27 13:08:45 -9999 2008", kDateInvalid},
      {"", kDateInvalid},
  };
  for (const auto& c : cases) EXPECT_EQ(twitterParseDate(c.text), c.want) << c.text;
  EXPECT_EQ(twitterParseDate(nullptr), kDateUnset);
  // Every cut of a good date fails (and reads nothing past its end).
  const std::string good = "Wed Aug 27 13:08:45 +0000 2008";
  for (size_t n = 0; n < good.size() - 3; ++n) {
    const std::string cut = good.substr(0, n);
    EXPECT_EQ(twitterParseDate(std::string_view(cut)), kDateInvalid) << cut;
  }
}

// A month's name is read without regard to ASCII case: every name with one
// byte of a month's replaced reads as the month equalsNoCase finds for it.
TEST(TwitterDates, MonthNamesIgnoreCaseOnly) {
  const std::string months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (const std::string& month : months) {
    for (size_t at = 0; at < 3; ++at) {
      for (int b = 0; b < 256; ++b) {
        std::string name = month;
        name[at] = static_cast<char>(b);
        int32_t want = 0;
        for (int32_t m = 0; m < 12; ++m) want = equalsNoCase(name, months[m]) ? m + 1 : want;
        const std::string date = "Wed " + name + " 27 13:08:45 +0000 2008";
        ASSERT_EQ(twitterParseDate(std::string_view(date)),
                  want ? pTime::DateTimeToBigTime(2008, want, 27, 13, 8, 45) : kDateInvalid)
            << name;
      }
    }
  }
}

TEST(TwitterRecords, TitleCut) {
  struct {
    const char* text;
    const char* title;
  } cases[] = {
      {"word https:\\/\\/t.co\\/x", "word "},
      {"word https://t.co/x", "word "},
      {"a http:\\/\\/x https:\\/\\/y", "a http:\\/\\/x "},
      {"ab http:\\/\\/x", "ab "},
      {"https:\\/\\/t.co\\/x text", "https:\\/\\/t.co\\/x text"},
      {" https:\\/\\/t.co", " https:\\/\\/t.co"},
      {"no link", "no link"},
  };
  for (const auto& c : cases) {
    std::string_view text = c.text;
    EXPECT_EQ(text.substr(0, twitterTitleCut(text)), c.title) << c.text;
  }
  // Texts of link pieces cut as the rule says: the first secure link's
  // start, else the first plain one's, from the third byte on.
  auto rule = [](std::string_view text) {
    auto first = [&](std::string_view escaped, std::string_view plain) {
      return std::min(text.find(escaped), text.find(plain));
    };
    size_t p = first("https:\\/\\/", "https://");
    if (p == std::string_view::npos) p = first("http:\\/\\/", "http://");
    return p != std::string_view::npos && p > 1 ? p : std::string_view::npos;
  };
  const char* pieces[] = {"https://", "http://", "https:\\/\\/", "http:\\/\\/", "http", "https", "s", ":", "/",
                          "\\/", "\\", "h", "x "};
  std::mt19937 rng(5);
  for (int i = 0; i < 100000; ++i) {
    std::string text;
    for (size_t n = rng() % 9; n > 0; --n) text += pieces[rng() % std::size(pieces)];
    ASSERT_EQ(twitterTitleCut(text), rule(text)) << text;
  }
}

class TwitterRecordTest : public testing_social::TwitterTest {
 protected:
  std::unique_ptr<webDataRoot> json(const std::string& text) {
    texts.push_back(std::make_unique<std::string>(text));
    cJSON reader(twitterEscapeTable());
    JsonParseResult r = reader.parseDocument(texts.back()->data(), static_cast<int32_t>(texts.back()->size()));
    EXPECT_TRUE(r.root) << r.message.view();
    return std::move(r.root);
  }
};

// A text read raw from a UTF-8 document is the getter's copy: the same
// bytes and capacity, for every node of a document with every kind of value
// but null, which reads as no text.
TEST_F(TwitterRecordTest, RawTextsAreTheGettersCopies) {
  cEncodingUTF utf8;
  ASSERT_TRUE(utf8.load("UTF-8"));
  auto doc = json(R"({"a":"","b":"x\u00e9 &amp; \/ \"q\"","c":-1.5e3,"d":null,"e":[true,{"f":"\u0000z"},[]]})");
  int checked = 0;
  std::vector<const webDataNode*> todo = {doc->head()};
  while (!todo.empty()) {
    const webDataNode* n = todo.back();
    todo.pop_back();
    for (const webDataNode* c = n->getFirstChild(); c; c = c->getNext()) todo.push_back(c);
    const Str raw = twitterNodeText(n, true);
    ++checked;
    if (isJsonNull(n)) {  // a null is no text
      EXPECT_TRUE(raw.isNil());
      continue;
    }
    const Str getter = n->getText(&utf8, true);
    ASSERT_EQ(raw.isNil(), getter.isNil());
    ASSERT_EQ(raw.view(), getter.view());
    ASSERT_EQ(raw.capacity(), getter.capacity()) << getter.view();
  }
  EXPECT_EQ(checked, 10);
}

TEST_F(TwitterRecordTest, TweetsAndProfile) {
  newsFeed feed;
  feed.url = Str("https://twitter.com/someone");
  const char* urls = R"("urls":[{"expanded_url":"http:\/\/u.example"}])";
  const char* media = R"("media":[{"expanded_url":"http:\/\/m.example","media_url":"http:\/\/img.example\/1.jpg"}])";
  struct {
    std::string members;
    const char* link;
  } cases[] = {
      {std::string(R"("entities":{)") + urls + "," + media + "}", "http://u.example"},
      {std::string(R"("entities":{)") + media + "}", "http://m.example"},
      {std::string(R"("entities":{},"retweeted_status":{"entities":{)") + urls + "," + media + "}}",
       "http://u.example"},
      {std::string(R"("retweeted_status":{"entities":{)") + media + "}}", "http://m.example"},
      {R"("entities":{"urls":[]})", "https://twitter.com/someone/status/77"},
  };
  for (const auto& c : cases) {
    auto doc = json(R"({"id_str":"77","full_text":"Hi &amp; bye https:\/\/t.co\/1",)"
                    R"("created_at":"Wed Aug 27 13:08:45 +0000 2008",)" +
                    c.members + "}");
    TweetRecord r = twitterExtractTweet(*doc->head(), feed);
    EXPECT_EQ(r.item->link.view(), c.link) << c.members;
    EXPECT_EQ(r.item->title.view(), "Hi &amp; bye ");
    EXPECT_EQ(r.body->texts.summary.text, "Hi &amp; bye https:\\/\\/t.co\\/1");
    EXPECT_EQ(r.item->uniqueID.view(), "77");
    EXPECT_EQ(r.item->published, kAug27);
    EXPECT_EQ(r.item->updated, kAug27);
    EXPECT_EQ(r.item->downloaded, testing_news::kNow);
    EXPECT_EQ(r.body->texts.encoding.text, "UTF-8");
  }
  TweetRecord bare = twitterExtractTweet(*json("{\"x\":1}")->head(), feed);
  EXPECT_EQ(bare.item->title.view(), "#MISSING");
  EXPECT_TRUE(bare.body->texts.summary.nil);
  EXPECT_EQ(bare.item->uniqueID.view(), "#MISSING");
  EXPECT_EQ(bare.item->published, kDateUnset);
  EXPECT_EQ(bare.item->link.view(), "https://twitter.com/someone/status/#MISSING");

  auto profile = twitterUserInfoToFeed(*json(R"({"twitter_users_show":0})"));
  EXPECT_EQ(profile, nullptr);  // a member of that name is no pseudo root
  auto doc = json(R"({"name":"A &amp; B","screen_name":"ab\/c","id_str":"9","lang":"en",)"
                  R"("profile_image_url":"http:\/\/i.example\/a.png","description":"d"})");
  doc->head()->setName(Str("twitter_users_show"), Str(), false);
  auto user = twitterUserInfoToFeed(*doc);
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(user->title.view(), "A &amp; B");
  EXPECT_EQ(user->url.view(), "https://twitter.com/ab/c");
  EXPECT_EQ(user->uniqueID.view(), "9");
  EXPECT_EQ(user->imageURL.view(), "http://i.example/a.png");
  EXPECT_EQ(user->language.view(), "en");
  EXPECT_EQ(user->subtitle.view(), "d");
  EXPECT_EQ(user->type.view(), "Twitter v1.1");
  EXPECT_TRUE(user->noOlderItems);
  auto nameless = json(R"({"id_str":"9"})");
  nameless->head()->setName(Str("twitter_users_show"), Str(), false);
  EXPECT_EQ(twitterUserInfoToFeed(*nameless)->url.view(), "");
}

// What a tweet shows: a retweet's whole text, every t.co link expanded,
// the title before the first link, the image over https.
TEST_F(TwitterRecordTest, RetweetsWholeLinksExpandedImagesSecure) {
  newsFeed feed;
  feed.url = Str("https://twitter.com/someone");
  const std::string url1 = R"({"url":"https:\/\/t.co\/a1","expanded_url":"https:\/\/one.example\/x","display_url":"one.example\/x"})";
  const std::string url2 = R"({"url":"https:\/\/t.co\/b2","expanded_url":"http:\/\/two.example","display_url":"two.example"})";
  const std::string photo = R"({"url":"https:\/\/t.co\/p3","expanded_url":"https:\/\/twitter.com\/u\/status\/1\/photo\/1",)"
                            R"("media_url":"http:\/\/pbs.example\/1.jpg","media_url_https":"https:\/\/pbs.example\/1.jpg"})";
  struct {
    std::string tweet;
    const char* summary;
    const char* title;
    const char* image;  // "" for none
  } cases[] = {
      {R"("full_text":"Two links https:\/\/t.co\/a1 and https:\/\/t.co\/b2 and again https:\/\/t.co\/a1",)"
       R"("entities":{"urls":[)" + url1 + "," + url2 + "]}",
       "Two links https:\\/\\/one.example\\/x and http:\\/\\/two.example and again https:\\/\\/one.example\\/x",
       "Two links ", ""},
      {R"("full_text":"A photo https:\/\/t.co\/p3","entities":{"media":[)" + photo + "]}",
       "A photo https:\\/\\/twitter.com\\/u\\/status\\/1\\/photo\\/1", "A photo ", "https://pbs.example/1.jpg"},
      {R"("full_text":"RT @ann: The start of a long text that the service cut \u2026",)"
       R"("entities":{"urls":[]},"retweeted_status":{"user":{"screen_name":"ann"},)"
       R"("full_text":"The start of a long text that the service cut off here, whole https:\/\/t.co\/a1",)"
       R"("entities":{"urls":[)" + url1 + "]}}",
       "RT @ann: The start of a long text that the service cut off here, whole https:\\/\\/one.example\\/x",
       "RT @ann: The start of a long text that the service cut off here, whole ", ""},
      // The timeline is asked with trim_user: the retweeted user is an id
      // alone, and its name is the one the tweet's own text begins with.
      {R"("full_text":"RT @bo_9: Cut \u2026","retweeted_status":{"user":{"id":5,"id_str":"5"},"full_text":"Cut here, whole"})",
       "RT @bo_9: Cut here, whole", "RT @bo_9: Cut here, whole", ""},
      {R"("full_text":"RT @bo: Cut \u2026","retweeted_status":{"user":null,"full_text":"Cut here, whole"})",
       "RT @bo: Cut here, whole", "RT @bo: Cut here, whole", ""},
      // No name anywhere: the whole text without a prefix.
      {R"("full_text":"Cut \u2026","retweeted_status":{"full_text":"Cut here, whole"})", "Cut here, whole",
       "Cut here, whole", ""},
      {R"("full_text":"RT @: Cut \u2026","retweeted_status":{"full_text":"Cut here"})", "Cut here", "Cut here", ""},
      // Without the retweeted text the tweet's own stands, never prefixed twice.
      {R"("full_text":"RT @ann: Cut \u2026","retweeted_status":{"user":{"screen_name":"ann"}})", "RT @ann: Cut \\u2026",
       "RT @ann: Cut \\u2026", ""},
      {R"("full_text":"Plain https:\/\/t.co\/zz","entities":{"urls":[]})", "Plain https:\\/\\/t.co\\/zz", "Plain ", ""},
      {R"("full_text":"Old photo","entities":{"media":[{"media_url":"http:\/\/pbs.example\/2.jpg"}]})", "Old photo",
       "Old photo", "http://pbs.example/2.jpg"},  // no https address given: the one there is
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tweet);
    auto doc = json(R"({"id_str":"77",)" + c.tweet + "}");
    TweetRecord r = twitterExtractTweet(*doc->head(), feed);
    EXPECT_EQ(r.body->texts.summary.text, c.summary);
    EXPECT_EQ(r.item->title.view(), c.title);
    EXPECT_EQ(r.body->texts.imageURL.nil ? "" : std::string(r.body->texts.imageURL.text), c.image);
  }
}

// The one-walk member finder picks what findChild picks: the first of a
// repeated name, never a node with a namespace, NIL for a missing name.
TEST_F(TwitterRecordTest, MembersFoundInOneWalkAreFindChildsPicks) {
  auto doc = json(R"({"a":1,"b":2,"a":3,"c":4,"":5})");
  webDataNode* object = doc->head();
  object->getFirstChild()->getNext()->setName(Str("b"), Str("ns"), false);
  const std::array<std::string_view, 5> names = {"a", "b", "c", "d", ""};
  const auto found = findMembers(object, names);
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(found[i], object->findChild(Str(names[i]), nullptr, nullptr, nullptr)) << names[i];
  }
  EXPECT_EQ(found[0]->getText(nullptr, true), "1");
  EXPECT_EQ(found[1], nullptr);
}

// Random tweets (members missing, repeated, in any order; lists empty or
// not): the members found are what findChild finds for each tweet (the
// retweeted tweet for a tweet without a link of its own).
TEST_F(TwitterRecordTest, TweetMembersAreFindChildsPicks) {
  std::mt19937 rng(11);
  auto pick = [&](std::initializer_list<const char*> names) { return *(names.begin() + rng() % names.size()); };
  auto object = [&](std::initializer_list<const char*> names, const std::string& value, int most) {
    std::string text = "{";
    for (int i = 0, n = static_cast<int>(rng() % (most + 1)); i < n; ++i) {
      text += std::string(i ? "," : "") + "\"" + pick(names) + "\":" + value;
    }
    return text + "}";
  };
  auto list = [&](const std::string& element) {
    std::string text = "[";
    for (int i = 0, n = static_cast<int>(rng() % 3); i < n; ++i) text += (i ? "," : "") + element;
    return text + "]";
  };
  std::string timeline = "[";
  for (int t = 0; t < 300; ++t) {
    const std::string element =
        object({"expanded_url", "media_url", "media_url_https", "url"}, "\"x" + std::to_string(t) + "\"", 4);
    std::string entities = "{";
    for (int i = 0, n = static_cast<int>(rng() % 4); i < n; ++i) {
      entities += std::string(i ? "," : "") + "\"" + pick({"urls", "media", "hashtags"}) + "\":" + list(element);
    }
    entities += "}";
    std::string tweet = object({"full_text", "id_str", "retweeted_status", "created_at", "x"}, "\"v\"", 6);
    if (rng() % 4) tweet.insert(1, "\"entities\":" + entities + (tweet.size() > 2 ? "," : ""));
    timeline += (t ? "," : "") + tweet;
  }
  auto doc = json(timeline + "]");
  std::vector<const webDataNode*> tweets;
  for (const webDataNode* t = doc->head()->getFirstChild(); t; t = t->getNext()) tweets.push_back(t);
  tweets.insert(tweets.begin() + 5, nullptr);  // NIL finds nothing
  auto child = [](const webDataNode* n, const char* name) -> const webDataNode* {
    return n ? n->findChild(name, nullptr, nullptr, nullptr) : nullptr;
  };
  auto first = [&](const webDataNode* entities, const char* listName, const char* name) {
    const webDataNode* elements = child(entities, listName);
    return child(elements ? elements->getFirstChild() : nullptr, name);
  };
  for (size_t i = 0; i < tweets.size(); ++i) {
    const webDataNode* t = tweets[i];
    EXPECT_EQ(findMembers<3>(t, {"id_str", "x", "entities"}),
              (std::array{child(t, "id_str"), child(t, "x"), child(t, "entities")}))
        << i;
    const webDataNode* entities = child(t, "entities");
    const webDataNode* link = first(entities, "urls", "expanded_url");
    const TweetMembers m = twitterFindTweetMembers(t);
    EXPECT_EQ(m.fullText, child(t, "full_text")) << i;
    EXPECT_EQ(m.idStr, child(t, "id_str")) << i;
    EXPECT_EQ(m.created, child(t, "created_at")) << i;
    EXPECT_EQ(m.link, link ? link : first(entities, "media", "expanded_url")) << i;
    EXPECT_EQ(m.retweet, child(t, "retweeted_status")) << i;
    EXPECT_EQ(m.entities, entities) << i;
    const webDataNode* secure = first(entities, "media", "media_url_https");
    EXPECT_EQ(m.image, secure ? secure : first(entities, "media", "media_url")) << i;
  }
}

TEST_F(TwitterRecordTest, FeedsSortByCreditThenId) {
  newsFeed a, b, c, d;
  a.twitterUpdateCredit = 0, a.uniqueID = Str("1");
  b.twitterUpdateCredit = 1, b.uniqueID = Str("9");
  c.twitterUpdateCredit = 0, c.uniqueID = Str("45");
  d.twitterUpdateCredit = 0, d.uniqueID = Str("123");
  cMegaList_class list(false, nullptr, false);
  for (newsFeed* f : {&a, &c, &d, &b}) list.infoPastEnd()->beforeInsert(list.makeFloating(f));
  list.sort(&twitterFeedsSort());
  std::string order;
  auto cursor = list.infoStart()->clone(0, 0);
  for (bool end = false; !end; end = cursor->gotoNext()) order += static_cast<newsFeed*>(cursor->getData())->uniqueID.str() + " ";
  EXPECT_EQ(order, "9 1 123 45 ");
}

}  // namespace
}  // namespace bw
