// social/twitter_downloader_test.cpp - downloads against the fake API: the
// ids sent, the gap pages, the older page and the profile, the failure
// kinds, the one sign-in, the pages that would repeat for ever, and the
// token pair written back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dos_env.h"
#include "social/twitter_records.h"
#include "social/twitter_test_support.h"

namespace bw {
namespace {

using testing_social::TwitterTest;

// The ids of the tweets under a pseudo root, in order.
std::string idsUnder(const webDataRoot* doc, std::string_view name) {
  const webDataNode* node = doc ? doc->findNode(name, nullptr, nullptr, nullptr) : nullptr;
  if (!node) return "<none>";
  std::string out;
  for (const webDataNode* t = node->getFirstChild(); t; t = t->getNext()) {
    out += twitterMemberText(t, "id_str", true).str() + " ";
  }
  return out;
}

std::string names(const webDataRoot* doc) {
  std::string out;
  for (const webDataNode* n = doc ? doc->head() : nullptr; n; n = n->getNext()) out += n->getName().str() + " ";
  return out;
}

TEST(TwitterIds, MinusOne) {
  struct {
    const char* id;
    const char* sent;  // NIL: no bound
  } cases[] = {{"1000", "999"}, {"1", "0"}, {"9223372036854775807", "9223372036854775806"},
               {"9223372036854775808", nullptr}, {"99999999999999999999", nullptr}, {"0", nullptr},
               {"-5", nullptr}, {"12a", nullptr}, {"", nullptr}, {nullptr, nullptr}};
  for (const auto& c : cases) {
    Str sent = twitterIdMinusOne(c.id);
    EXPECT_EQ(sent.isNil(), c.sent == nullptr) << (c.id ? c.id : "NIL");
    if (c.sent) {
      EXPECT_EQ(sent.view(), c.sent);
    }
  }
}

TEST_F(TwitterTest, PagesUntilTheStoredTweet) {
  fake->setTweets(tweets(1, 12));
  fake->settings().pageSize = 5;
  // First download: one page, then the profile.
  Download first = download();
  EXPECT_EQ(first.last.failed, 0);
  EXPECT_EQ(names(first.document.document.get()), "twitter_user_timeline twitter_users_show ");
  EXPECT_EQ(idsUnder(first.document.document.get(), kTimelineRoot), "12 11 10 9 8 ");
  std::vector<std::string> pages = fake->targets("/1.1/statuses/user_timeline.json");
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0],
            "/1.1/statuses/user_timeline.json?user_id=12345&count=3200"
            "&tweet_mode=extended&trim_user=true&exclude_replies=true");
  EXPECT_EQ(fake->targets("/1.1/users/show.json").back(), "/1.1/users/show.json?user_id=12345&include_entities=false");

  // Stored newest 3: the gap pages repeat since_id and go below the last id
  // read; the stored tweet goes; one older page follows.
  Download gap = download("3", "2");
  EXPECT_EQ(gap.last.failed, 0);
  EXPECT_EQ(names(gap.document.document.get()), "twitter_user_timeline twitter_user_timeline2 twitter_users_show ");
  EXPECT_EQ(idsUnder(gap.document.document.get(), kTimelineRoot), "12 11 10 9 8 7 6 5 4 ");
  EXPECT_EQ(idsUnder(gap.document.document.get(), kOlderTimelineRoot), "1 ");
  pages = fake->targets("/1.1/statuses/user_timeline.json");
  ASSERT_EQ(pages.size(), 4u);
  EXPECT_NE(pages[1].find("&since_id=2&tweet_mode"), std::string::npos) << pages[1];
  EXPECT_NE(pages[2].find("&since_id=2&max_id=7&"), std::string::npos) << pages[2];
  EXPECT_NE(pages[3].find("count=3200&max_id=1&tweet_mode"), std::string::npos) << pages[3];

  // Nothing newer: an empty first page ends the newer phase.
  Download none = download("12");
  EXPECT_EQ(idsUnder(none.document.document.get(), kTimelineRoot), "");
  EXPECT_EQ(fake->targets("/1.1/statuses/user_timeline.json").size(), 5u);
}

// The update's second request in flight is driven without a destination
// until its body can be read; the answer, whole by the time the destination
// comes, is read as when it is supplied at once, every page of it.
TEST_F(TwitterTest, AnAnswerWholeBeforeItsDestinationIsRead) {
  fake->setTweets(tweets(1, 12));
  fake->settings().pageSize = 5;
  for (const char* since : {static_cast<const char*>(nullptr), "3"}) {
    SCOPED_TRACE(since ? since : "first download");
    Download plain = download(since, "2");
    Download headersFirst = download(since, "2", nullptr, true);
    EXPECT_EQ(headersFirst.last.failed, 0);
    ASSERT_TRUE(headersFirst.document.document);
    EXPECT_EQ(names(headersFirst.document.document.get()), names(plain.document.document.get()));
    for (std::string_view root : {kTimelineRoot, kOlderTimelineRoot})
      EXPECT_EQ(idsUnder(headersFirst.document.document.get(), root), idsUnder(plain.document.document.get(), root));
  }
}

TEST_F(TwitterTest, FailureKinds) {
  fake->setTweets(tweets(1, 3));
  struct {
    const char* route;
    int status;
    std::string body;
    int32_t failed;
    const char* names;  // of the document when failed is 0
  } cases[] = {
      {"timeline", 429, "", kFeedBlocked, ""},
      {"timeline", 500, "", kFeedNoBody, ""},
      {"timeline", 404, "", kFeedNoBody, ""},
      {"users", 500, "", 0, "twitter_user_timeline "},
      {"users", 200, "<html>", 0, ""},
      {"timeline", 200, "not json", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.route) + " " + std::to_string(c.status) + " " + c.body);
    fake->script(c.route, c.status, c.body);
    Download d = download();
    EXPECT_EQ(d.last.failed, c.failed);
    if (c.failed == 0 && c.body.empty()) {
      EXPECT_EQ(names(d.document.document.get()), c.names);
    }
    if (!c.body.empty()) {
      EXPECT_EQ(d.document.kind, kFeedParseFailed);
      EXPECT_EQ(d.document.document, nullptr);
    }
  }
  // The parse failure's text, line and message.
  downloadTwitter d(root->twitterToken, root->twitterTokenSecret);
  fake->script("timeline", 200, "[1,\n2,]");
  ASSERT_EQ(d.open(Str("12345"), Str(), "3200", Str(), Str(), nullptr, false, Str()).failed, 0);
  drive(d);
  ParseFailure failure = d.infoParseFailure();
  EXPECT_EQ(failure.text.view(), "[1,\n2,]");
  EXPECT_EQ(failure.line, 2);
  EXPECT_FALSE(failure.message.isNil());
}

TEST_F(TwitterTest, OneSignInPerDownload) {
  fake->setTweets(tweets(1, 3));
  fake->revokeTokens();
  // Refused: one sign-in, then the same query with the new pair.
  Download d = download("1");
  EXPECT_EQ(d.last.failed, 0);
  EXPECT_EQ(signIns, 1);
  EXPECT_EQ(idsUnder(d.document.document.get(), kTimelineRoot), "3 2 ");
  std::vector<std::string> pages = fake->targets("/1.1/statuses/user_timeline.json");
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0], pages[1]);
  EXPECT_EQ(root->twitterToken.view(), "signedInToken");
  EXPECT_EQ(root->twitterTokenSecret.view(), "signedInSecret");
  // Refused again after the sign-in (a second 401): kind 6, no second one.
  fake->revokeTokens();
  fake->issuedToken = {"refusedToken", "refusedSecret"};
  signIns = 0;
  downloadTwitter again(root->twitterToken, root->twitterTokenSecret);
  ASSERT_EQ(again.open(Str("12345"), Str(), "3200", Str(), Str(), nullptr, false, Str()).failed, 0);
  fake->script("timeline", 401);  // the repeat after the sign-in
  EXPECT_EQ(drive(again).last.failed, kFeedAuthFailed);
  EXPECT_EQ(signIns, 1);
  // No token: open signs in, and that counts as the one.
  downloadTwitter fresh(nullptr, nullptr);
  signIns = 0;
  ASSERT_EQ(fresh.open(Str(), Str("SomeUser"), "3200", Str(), Str(), nullptr, false, Str()).failed, 0);
  fake->script("timeline", 401);
  EXPECT_EQ(drive(fresh).last.failed, kFeedAuthFailed);
  EXPECT_EQ(signIns, 1);
  // A refused sign-in gives its kind.
  signInFails = true;
  downloadTwitter refused(nullptr, nullptr);
  EXPECT_EQ(refused.open(Str(), Str("SomeUser"), "3200", Str(), Str(), nullptr, false, Str()).failed,
            kFeedAuthFailed);
  // Ids and names that would change the signed query open nothing.
  for (auto [id, name] : {std::pair<const char*, const char*>{"12a", nullptr}, {nullptr, "a b"}, {nullptr, "a&b"}}) {
    EXPECT_EQ(refused.open(Str(id), Str(name), "3200", Str(), Str(), nullptr, false, Str()).failed, 1);
  }
  expectRaise([&] { refused.open(Str("1"), Str("a"), "1", Str(), Str(), nullptr, false, Str()); }, "EMU",
              "downloadTwitter.open(); both user_id & screen_name were supplied");
  expectRaise([&] { refused.open(Str(), Str(), "1", Str(), Str(), nullptr, false, Str()); }, "EMU",
              "downloadTwitter.open(); neither user_id nor screen_name were supplied");
}

TEST_F(TwitterTest, ShellModeNeverSignsIn) {
  dos::setShellMode(true);
  fake->revokeTokens();
  int32_t openFailed = -1;
  Download d = download("1", nullptr, &openFailed);
  EXPECT_EQ(d.last.failed, kFeedAuthFailed);
  downloadTwitter none(nullptr, nullptr);
  EXPECT_EQ(none.open(Str("12345"), Str(), "3200", Str(), Str(), nullptr, false, Str()).failed, kFeedAuthFailed);
  dos::setShellMode(false);
  EXPECT_EQ(signIns, 0);
}

// A server that ignores max_id, or tweets without "id_str", would be asked
// for the same page again and again.
TEST_F(TwitterTest, PagesThatWouldRepeatEnd) {
  fake->setTweets(tweets(10, 400));
  fake->settings().pageSize = 5;
  fake->settings().ignoreMaxID = true;
  Download ignoring = download("3");
  EXPECT_EQ(ignoring.last.failed, 0);
  EXPECT_EQ(fake->requests().size(), 3u);  // two pages (the second not below the first), the profile
  fake->settings().ignoreMaxID = false;
  fake->settings().withoutIdStr = true;
  Download idless = download("3");
  EXPECT_EQ(idless.last.failed, 0);
  EXPECT_EQ(fake->requests().size(), 5u);
  fake->settings().withoutIdStr = false;
  Download bounded = download("3");
  EXPECT_EQ(bounded.last.failed, 0);
  EXPECT_EQ(fake->requests().size(), 5u + kTwitterNewerPages + 1);
  // A stored id beyond 64 bits is sent as no bound.
  Download huge = download("99999999999999999999");
  EXPECT_EQ(fake->targets("/1.1/statuses/user_timeline.json").back().find("since_id"), std::string::npos);
  EXPECT_EQ(huge.last.failed, 0);
}

TEST_F(TwitterTest, TokenPairSavedOnlyWhenChanged) {
  db->flush();
  const int64_t before = syncs();
  downloadTwitter same(Str("userToken"), Str("userSecret"));
  same.updateFeedInfo(*db, *root);
  db->flush();
  EXPECT_EQ(syncs(), before);  // nothing written
  downloadTwitter changed(Str("t2"), Str("s2"));
  changed.updateFeedInfo(*db, *root);
  db->flush();
  EXPECT_GT(syncs(), before);
  const int32_t index = root->infoSoupIndex();
  releaseRoot();
  reopen();
  newsRoot* stored = loadObject_newsRoot(*db, index);
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->twitterToken.view(), "t2");
  EXPECT_EQ(stored->twitterTokenSecret.view(), "s2");
  db->unloadObject(stored);
}

}  // namespace
}  // namespace bw
