// social/twitter_rate_limit_test.cpp - the budget against the fake API: the
// feeds kept, the credits that make them take turns (read back from the
// database between runs), and the failures that keep none.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dos_env.h"
#include "social/twitter_rate_limit.h"
#include "social/twitter_test_support.h"

namespace bw {
namespace {

class TwitterRateTest : public testing_social::TwitterTest {
 protected:
  void SetUp() override {
    TwitterTest::SetUp();
    for (const char* id : {"30", "10", "20"}) {
      newsFeed* feed = makeFeed("Twitter v1.1");
      feed->uniqueID = Str(id);
      feed->noOlderItems = true;
      db->saveChangesToObject(feed);
      feeds.push_back(feed->infoSoupIndex());
      db->unloadObject(feed);
    }
  }
  // One check over an RSS feed and the three Twitter feeds (loaded from
  // their records, unloaded after): the ids of the feeds it keeps, in list order.
  std::string run() {
    cMegaList_class work(false, nullptr, false);
    newsFeed rss;
    rss.type = Str("RSS 2.0");
    rss.uniqueID = Str("rss");
    std::vector<newsFeed*> loaded;
    work.infoPastEnd()->beforeInsert(work.makeFloating(&rss));
    for (int32_t index : feeds) {
      loaded.push_back(loadObject_newsFeed(*db, index));
      work.infoPastEnd()->beforeInsert(work.makeFloating(loaded.back()));
    }
    checkTwitterRateLimit(*db, *root, work);
    std::string out;
    if (!work.isEmpty()) {
      auto cursor = work.infoStart()->clone(0, 0);
      for (bool end = false; !end; end = cursor->gotoNext()) {
        out += static_cast<newsFeed*>(cursor->getData())->uniqueID.str() + " ";
      }
    }
    for (newsFeed* f : loaded) db->unloadObject(f);
    db->flush();
    return out;
  }
  std::string credits() {
    std::string out;
    for (int32_t index : feeds) {
      newsFeed* f = loadObject_newsFeed(*db, index);
      out += std::to_string(f->twitterUpdateCredit) + " ";
      db->unloadObject(f);
    }
    return out;
  }
  std::vector<int32_t> feeds;  // ids 30, 10, 20
};

TEST_F(TwitterRateTest, FeedsTakeTurns) {
  fake->settings().remainingStatuses = 1;
  EXPECT_EQ(run(), "rss 10 ");
  EXPECT_EQ(credits(), "1 0 1 ");
  EXPECT_EQ(run(), "rss 20 ");
  EXPECT_EQ(credits(), "1 0 0 ");
  EXPECT_EQ(run(), "rss 30 ");
  EXPECT_EQ(credits(), "0 0 0 ");
  EXPECT_EQ(run(), "rss 10 ");
  EXPECT_EQ(credits(), "1 0 1 ");
  std::vector<std::string> asked = fake->targets("/1.1/application/rate_limit_status.json");
  ASSERT_EQ(asked.size(), 4u);
  EXPECT_EQ(asked[0], "/1.1/application/rate_limit_status.json?resources=statuses%2Cusers");
}

TEST_F(TwitterRateTest, BudgetsAndFailures) {
  fake->settings().remainingStatuses = 5;
  EXPECT_EQ(run(), "rss 10 20 30 ");
  const std::string after = credits();
  fake->settings().remainingStatuses = 0;
  EXPECT_EQ(run(), "rss ");
  EXPECT_EQ(credits(), after);  // nothing stored
  fake->settings().remainingStatuses = 5;
  fake->settings().remainingUsers = 2;
  fake->settings().plainSlashes = true;
  EXPECT_EQ(run(), "rss 10 20 ");
  fake->settings().remainingUsers = -1;  // no "users" group: statuses alone
  EXPECT_EQ(run(), "rss 30 10 20 ");

  // Failures keep no Twitter feed and store nothing.
  const std::string before = credits();
  fake->script("rate", 429);
  EXPECT_EQ(run(), "rss ");
  fake->revokeTokens();
  fake->issuedToken = {"refused", "again"};
  fake->script("rate", 401);  // after the sign-in
  EXPECT_EQ(run(), "rss ");
  EXPECT_EQ(signIns, 1);
  dos::setShellMode(true);
  EXPECT_EQ(run(), "rss ");
  dos::setShellMode(false);
  EXPECT_EQ(signIns, 1);
  EXPECT_EQ(credits(), before);
}

}  // namespace
}  // namespace bw
