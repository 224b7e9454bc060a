// news/downloader_choice_test.cpp - which downloader a stored feed or a
// typed address gets, what the social downloaders are asked for, and the
// two address rules.
#include "news/downloader_choice.h"

#include <gtest/gtest.h>

#include "news/feed_update_test_support.h"

namespace bw::testing_news {
namespace {

class DownloaderChoice : public FeedUpdateTest {
 protected:
  void SetUp() override {
    FeedUpdateTest::SetUp();
    SocialDownloaderHooks hooks;
    hooks.openTwitter = [this](newsRoot&, const TwitterOpenRequest& r) {
      twitter.push_back(r);
      return DownloaderMade{nullptr, 1, -1, {}};
    };
    hooks.openFacebook = [this](newsRoot&, const FacebookOpenRequest& r) {
      facebook.push_back(r);
      return DownloaderMade{nullptr, 1, -1, {}};
    };
    hooks.isFacebookAddress = [](Text url) { return url.view().find("facebook.com/") != std::string_view::npos; };
    hooks.findFacebookGroup = [this](newsRoot&, Text, NewsGuiWindow*) { return group; };
    setSocialDownloaderHooks(std::move(hooks));
  }
  void TearDown() override {
    setSocialDownloaderHooks({});
    FeedUpdateTest::TearDown();
  }
  // count items with ids i1..icount, published 1000 + i, newest first.
  newsFeed* socialFeed(const char* type, const char* title, int count, bool noOlder = false) {
    newsFeed* feed = makeFeed(type);
    feed->title = Str(title);
    feed->uniqueID = Str("account");
    feed->noOlderItems = noOlder;
    for (int i = count; i >= 1; --i) {
      auto body = std::make_unique<newsItemBody>();
      auto it = std::make_unique<newsItem>();
      it->uniqueID = Str("i" + std::to_string(i));
      it->published = 1000 + i;
      it->feedIndex = feed->infoSoupIndex();
      it->bodyIndex = db->createdAndUnloadObject(body.release());
      feed->itemList->insertAtTail(db->createdAndUnloadObject(it.release()));
    }
    return feed;
  }
  std::vector<TwitterOpenRequest> twitter;
  std::vector<FacebookOpenRequest> facebook;
  std::optional<FacebookGroup> group;
};

TEST_F(DownloaderChoice, AStoredRssFeedOpensItsAddress) {
  server.putFeed("/f.xml", rssFeed(1, 1));
  newsFeed* feed = makeFeed("RSS 2.0");
  feed->url = Str(server.url("/f.xml"));
  DownloaderMade made = createFeedDownloader(*db, *root, *feed, nullptr);
  ASSERT_NE(made.downloader, nullptr);
  auto* xml = dynamic_cast<downloadXML*>(made.downloader.get());
  ASSERT_NE(xml, nullptr);
  EXPECT_EQ(xml->infoURL().str(), server.url("/f.xml"));
  // saveInit(TRUE, ...) is done: the first saveAppend supplies the buffer.
  DownloadStep s;
  for (bool first = true; s.failed == 0 && !s.finished; first = false) {
    xml->infoHTTP()->isReady(1000);
    s = xml->saveAppend(first, nullptr);
  }
  EXPECT_TRUE(s.finished);
  db->unloadObject(feed);
}

TEST_F(DownloaderChoice, SocialFeedsAskForWhatIsNewerThanTheirItems) {
  struct Case {
    const char* type;
    const char* title;
    int items;
    bool noOlder;
    const char *since, *oldest;  // Twitter ids
    bigTime sinceTime, oldestTime;  // Facebook times
    bool isGroup, anyoneElse;
  } cases[] = {
      {"Twitter", "t", 0, false, "NIL", "NIL", 0, 0, false, false},
      {"Twitter", "t", 3, false, "i3", "i1", 0, 0, false, false},
      {"Twitter", "t", 3, true, "i3", "NIL", 0, 0, false, false},
      {"Facebook", "f", 0, false, "", "", 0, 0, false, false},
      {"Facebook", "p", 250, false, "", "", 1000 + 51 - 1, 1001, false, false},  // the 200th newest
      {"Facebook", "p", 50, true, "", "", 1000 + 1 - 1, 0, false, false},        // the oldest of 50
      {"Facebook", "g (group) (and anyone else)", 5, false, "", "", 1005, 1001, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.title + " " + std::to_string(c.items));
    twitter.clear();
    facebook.clear();
    newsFeed* feed = socialFeed(c.type, c.title, c.items, c.noOlder);
    DownloaderMade made = createFeedDownloader(*db, *root, *feed, nullptr);
    EXPECT_EQ(made.downloader, nullptr);
    EXPECT_EQ(made.failed, 1);
    auto s = [](const Str& t) { return t.isNil() ? std::string("NIL") : t.str(); };
    if (c.type[0] == 'T') {
      ASSERT_EQ(twitter.size(), 1u);
      EXPECT_EQ(twitter[0].userID.str(), "account");
      EXPECT_EQ(twitter[0].count.str(), "3200");
      EXPECT_EQ(s(twitter[0].sinceID), c.since);
      EXPECT_EQ(s(twitter[0].olderThanID), c.oldest);
    } else {
      ASSERT_EQ(facebook.size(), 1u);
      EXPECT_EQ(facebook[0].since, c.sinceTime);
      EXPECT_EQ(facebook[0].olderThan, c.oldestTime);
      EXPECT_EQ(facebook[0].isGroup, c.isGroup);
      EXPECT_EQ(facebook[0].anyoneElse, c.anyoneElse);
    }
    db->unloadObject(feed);
  }
}

TEST_F(DownloaderChoice, TypedAddressesByTheirForm) {
  createDownloaderForURL(*root, "https://twitter.com/SomeOne?lang=en", nullptr, nullptr);
  ASSERT_EQ(twitter.size(), 1u);
  EXPECT_EQ(twitter[0].screenName.str(), "someone");
  EXPECT_TRUE(twitter[0].userID.isNil() && twitter[0].sinceID.isNil());

  // The Facebook lookup declined: nothing made, nothing to report.
  DownloaderMade declined = createDownloaderForURL(*root, "https://www.facebook.com/groups/x", nullptr, nullptr);
  EXPECT_EQ(declined.downloader, nullptr);
  EXPECT_EQ(declined.failed, 0);
  EXPECT_EQ(declined.errorCode, 0);
  // The token the lookup ended with goes on to the download.
  group = FacebookGroup{Str("123"), true, Str("renewed")};
  createDownloaderForURL(*root, "https://www.facebook.com/groups/x", nullptr, nullptr);
  ASSERT_EQ(facebook.size(), 1u);
  EXPECT_EQ(facebook[0].userID.str(), "123");
  EXPECT_TRUE(facebook[0].isGroup);
  EXPECT_EQ(facebook[0].accessToken.str(), "renewed");

  // Without the social layer a social address fails to open.
  setSocialDownloaderHooks({});
  DownloaderMade none = createDownloaderForURL(*root, "http://twitter.com/a", nullptr, nullptr);
  EXPECT_EQ(none.downloader, nullptr);
  EXPECT_EQ(none.failed, 1);
  EXPECT_EQ(none.errorCode, -1);
}

TEST(AddressRules, TwitterUserNames) {
  const struct {
    const char *url, *name;
  } cases[] = {
      {"http://twitter.com/Alice", "alice"},
      {"https://twitter.com/bob/status/1", "bob"},
      {"twitter.com/carol", "carol"},
      {"https://mobile.twitter.com/Dan?x=1", "dan"},
      {" twitter.com/eve", "eve"},
      {"http://twitter.com/Hashtag/x", "NIL"},
      {"http://twitter.com/SEARCH?q=a", "NIL"},
      {"http://nottwitter.com/frank", "NIL"},  // the host inside a word
      {"http://twitter.com/", "NIL"},          // an empty name
      {"http://twitter.com/?a", "NIL"},
      {"http://TWITTER.com/gina", "NIL"},
      {"http://example.org/feed", "NIL"},
  };
  for (const auto& c : cases) {
    Str name = twitterUserNameFromURL(c.url);
    EXPECT_EQ(name.isNil() ? std::string("NIL") : name.str(), c.name) << c.url;
  }
}

TEST(AddressRules, FeedAddressesAreReadAsTheAddressTheyWrap) {
  const struct {
    const char *in, *out;
  } cases[] = {{"https://a/f", "https://a/f"},        {"HTTPS://a", "HTTPS://a"},
               {"feed://a/f", "http://a/f"},          {"feed:https://a/f", "https://a/f"},
               {"FEED:http://a:8080/f", "http://a:8080/f"}, {"feeds://a", "feeds://a"},
               {"feed:", ""}};
  for (const auto& c : cases) EXPECT_EQ(unwrapFeedAddress(Str(c.in)).str(), c.out) << c.in;
  EXPECT_TRUE(unwrapFeedAddress(Str()).isNil());
}

}  // namespace
}  // namespace bw::testing_news
