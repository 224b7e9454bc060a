// news/news_show_test.cpp - the Show modes' date limits over a feed's item
// list, the loads a hidden walk makes, and the news-list merge built from the
// walks.
#include "news/news_show.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "news/news_orderings.h"
#include "news/news_show_test_support.h"

namespace bw {
namespace {

class NewsShowWalkTest : public testing_news::NewsShowTest {
 protected:
  // The indexes a run of walks shows from the feed's head.
  std::vector<int32_t> shown(newsFeed* feed) {
    std::vector<int32_t> out;
    for (newsItem* i = isNewsItemShown(*db, feed->itemList->infoHeadIndex(), *feed, root.get()); i;) {
      out.push_back(i->infoSoupIndex());
      int32_t next = i->infoNextIndex();
      db->unloadObject(i);
      i = isNewsItemShown(*db, next, *feed, root.get());
    }
    return out;
  }
};

TEST_F(NewsShowWalkTest, DateLimitsOfTheShowModes) {
  newsFeed* feed = chainFeed();
  const bigTime ages[] = {1, 8, 40, 400};
  std::vector<int32_t> items;
  for (bigTime age : ages) items.push_back(addDated(feed, "t", kNow - age * kDay));
  items.push_back(addDated(feed, "t", kDateInvalid));
  items.push_back(addDated(feed, "t", kDateUnset));
  auto first = [&](size_t n) { return std::vector<int32_t>(items.begin(), items.begin() + static_cast<long>(n)); };
  root->fixedShowPeriod = true;
  struct {
    bigTime limit;
    size_t count;
  } modes[] = {{kNow - 604800, 1}, {kNow - 2678400, 2}, {kNow - 31622400, 3}, {kDateUnset, 6}};
  for (const auto& m : modes) {
    root->showLimitTime = m.limit;
    EXPECT_EQ(shown(feed), first(m.count)) << m.limit;
  }
  root->showUnseen = true;
  struct {
    bigTime seen;
    size_t count;
  } unseen[] = {{kDateUnset, 0}, {kDateInvalid, 0}, {kNow - 10 * kDay, 2}};
  for (const auto& u : unseen) {
    feed->seenUpToTime = u.seen;
    EXPECT_EQ(shown(feed), first(u.count)) << u.seen;
  }
  feed->setFilter("~");  // hides everything: no item is shown and the walk's uses are given back
  EXPECT_EQ(findPreviousUnfilteredItem(*db, items.back(), *feed), nullptr);
  feed->setFilter(nullptr);
  newsItem* previous = findPreviousUnfilteredItem(*db, items.back(), *feed);
  ASSERT_NE(previous, nullptr);
  EXPECT_EQ(previous->infoSoupIndex(), items.back());
  db->unloadObject(previous);
}

TEST_F(NewsShowWalkTest, HiddenWalkLoadsTheItemsInsideTheLimitAndOneMore) {
  newsFeed* feed = chainFeed();
  std::vector<int32_t> items;
  for (int hour = 0; hour < 1000; ++hour) items.push_back(addDated(feed, "t", kNow - hour * 3600));
  // Held loaded without a feed: the walk's loads are the items it gives a feed.
  std::vector<newsItem*> held;
  for (int32_t index : items) held.push_back(loadObject_newsItem(*db, index));
  feed->setFilter("~");
  root->fixedShowPeriod = true;
  root->showLimitTime = kNow - 604800;
  EXPECT_EQ(isNewsItemShown(*db, feed->itemList->infoHeadIndex(), *feed, root.get()), nullptr);
  int loaded = 0;
  for (newsItem* i : held) {
    loaded += i->cachedFeed() != nullptr;
    EXPECT_EQ(i->infoUseCount(), 1);
    db->unloadObject(i);
  }
  // Hours 0..168 are inside a week; one more ends the dated part, and the
  // tail is looked at for undated items.
  EXPECT_EQ(loaded, 168 + 1 + 1 + 1);
}

// A damaged list that runs in a circle: with every item hidden the walk
// would go round for ever; it is damage met while running, and so is a link
// to what is no item (here the feed).
TEST_F(NewsShowWalkTest, AWalkThatComesBackToAnItemIsDamage) {
  newsFeed* feed = chainFeed();
  std::vector<int32_t> items;
  for (int hour = 0; hour < 40; ++hour) items.push_back(addDated(feed, "t", kNow - hour * 3600));
  feed->setFilter("~");
  struct {
    size_t from, to;
    bool older;  // the link changed and walked: next (towards older), else prev
  } loops[] = {{39, 0, true}, {25, 25, true}, {30, 7, true}, {0, 39, false}, {12, 20, false}, {20, 40, true}};
  for (const auto& l : loops) {
    SCOPED_TRACE(::testing::Message() << l.from << " -> " << l.to << (l.older ? " older" : " newer"));
    newsItem* damaged = item(items[l.from], feed);
    const int32_t next = damaged->infoNextIndex(), prev = damaged->infoPrevIndex();
    const int32_t to = l.to < items.size() ? items[l.to] : feed->infoSoupIndex();
    damaged->setNodeHeader(l.older ? to : next, l.older ? prev : to);
    db->writeLoadedObjectNodeHeader(damaged);
    if (l.older) {
      EXPECT_THROW(isNewsItemShown(*db, items.front(), *feed, nullptr), eRecordDamage);
    } else {
      EXPECT_THROW(findPreviousUnfilteredItem(*db, items.back(), *feed), eRecordDamage);
    }
    damaged->setNodeHeader(next, prev);
    db->writeLoadedObjectNodeHeader(damaged);
    db->unloadObject(damaged);
  }
  feed->setFilter(nullptr);
  newsItem* head = isNewsItemShown(*db, items.front(), *feed, nullptr);
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->infoSoupIndex(), items.front());
  db->unloadObject(head);
}

TEST_F(NewsShowWalkTest, MergedFeedsComeNewestFirstOnePerChain) {
  std::vector<newsFeed*> feeds{chainFeed(), chainFeed(), chainFeed("Facebook v2.8")};
  std::set<int32_t> want;
  for (size_t f = 0; f < feeds.size(); ++f) {
    for (int k = 0; k < 12; ++k) {
      bigTime age = static_cast<bigTime>(k * 10 + f) * kDay / 2;
      int32_t index = addDated(feeds[f], "t", kNow - age);
      if (age <= 31 * kDay) want.insert(index);
    }
  }
  // A chain of the second feed's first three items: its oldest alone is shown.
  int32_t head = feeds[1]->itemList->infoHeadIndex();
  std::vector<newsItem*> chain;
  for (int32_t i = head; chain.size() < 3; i = chain.back()->infoNextIndex()) chain.push_back(item(i, feeds[1]));
  chain[2]->addAsNewestDuplicate(*db, chain[1]);
  chain[2]->addAsNewestDuplicate(*db, chain[0]);
  want.erase(chain[0]->infoSoupIndex());
  want.erase(chain[1]->infoSoupIndex());
  for (newsItem* i : chain) db->unloadObject(i);
  root->fixedShowPeriod = true;
  root->showLimitTime = kNow - 2678400;

  cMegaList_class merge(false, nullptr, false);
  auto offer = [&](newsItem* next) {
    if (next) merge.infoStart()->clone(0, 0)->sortedInsert(merge.makeFloating(next), gCompareNewsItem_PublishedDate);
  };
  for (newsFeed* feed : feeds) offer(isNewsItemShown(*db, feed->itemList->infoHeadIndex(), *feed, root.get()));
  std::set<int32_t> got;
  bigTime last = kNow;
  while (!merge.isEmpty()) {
    auto cursor = merge.infoStart()->clone(0, 0);
    auto* top = static_cast<newsItem*>(cursor->getData());
    cursor->destroy();
    EXPECT_LE(top->published, last);
    last = top->published;
    EXPECT_TRUE(got.insert(top->infoSoupIndex()).second);
    offer(isNewsItemShown(*db, top->infoNextIndex(), *top->cachedFeed(), root.get()));
    db->unloadObject(top);
  }
  EXPECT_EQ(got, want);
}

}  // namespace
}  // namespace bw
