// social/social_merge_test.cpp - the merge stage over a seeded Twitter feed:
// the walk that takes the records its scan kept leaves the file byte for
// byte as the walk that reads every record again, and joins at once leave
// it as joins one by one.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "news/news_orderings.h"
#include "news/news_test_support.h"
#include "news/short_links.h"
#include "social/social_merge.h"
#include "social/twitter_records.h"

namespace bw {
namespace {

class SocialMergeTest : public testing_news::NewsTest {
 protected:
  struct Stamp {
    std::string id;
    bigTime published, updated;
  };
  std::unique_ptr<newsItem> made(const Stamp& s, int story) {
    auto item = std::make_unique<newsItem>();
    item->uniqueID = Str(s.id);
    item->title = Str("tweet " + s.id);
    item->link = Str("http://s" + std::to_string(story) + ".example.com/story?ref=" + s.id);
    item->published = s.published;
    item->updated = s.updated;
    return item;
  }
  // A Twitter feed of 300 stored items (equal dates among them) whose links
  // repeat, its chains built, reopened; the stored items' indices, newest
  // first.
  int32_t storeFeed(std::vector<int32_t>& listed) {
    newsFeed* feed = makeFeed(std::string(kTwitterFeedType).c_str());
    const int32_t feedIndex = feed->infoSoupIndex();
    for (int i = 0; i < 300; ++i) {
      const bigTime t = 1000000 + static_cast<bigTime>(rng() % 500) * 60;
      stored.push_back({"s" + std::to_string(i), t, rng() % 3 == 0 ? t + 30 : t});
    }
    std::sort(stored.begin(), stored.end(), [](const Stamp& a, const Stamp& b) { return a.published > b.published; });
    for (const Stamp& s : stored) {
      std::unique_ptr<newsItem> item = made(s, static_cast<int>(rng() % 40));
      item->feedIndex = feedIndex;
      item->bodyIndex = db->createdAndUnloadObject(new newsItemBody);
      listed.push_back(db->createdAndUnloadObject(item.release()));
      feed->itemList->insertAtTail(listed.back());
    }
    rebuildFeedDuplicates(*db, *feed);
    db->unloadObject(feed);
    reopen();
    return feedIndex;
  }
  // The database as it was at start, opened.
  void openAt(const std::vector<uint8_t>& start) {
    db->close();
    backend->setImage(native(kName), start);
    open();
  }
  std::mt19937 rng{29};
  std::vector<Stamp> stored;
};

// A page's joins at once (the chains' first items glanced at, loaded only
// where a join needs them) leave the file as joins one by one (every first
// item loaded) and count the same loads, with a first item held loaded
// and new items whose keys repeat among themselves.
TEST_F(SocialMergeTest, JoinsAtOnceLeaveWhatJoinsOneByOneLeaveAndCountAlike) {
  std::vector<int32_t> listed;
  const int32_t feedIndex = storeFeed(listed);
  const std::vector<uint8_t> start = image(kName);
  std::vector<std::vector<uint8_t>> after;
  std::vector<int64_t> loads;
  for (bool atOnce : {true, false}) {
    SCOPED_TRACE(atOnce);
    openAt(start);
    newsFeed* feed = loadObject_newsFeed(*db, feedIndex);
    std::mt19937 pages(37);
    const int64_t before = infoNewsItemLoads();
    {
      HeldItem held(*db, item(listed[pages() % listed.size()], feed));
      SoupTransaction transaction(db->infoBlockFile());
      NewItems items(*db);
      for (int k = 0; k < 80; ++k) {
        const Stamp s{"n" + std::to_string(k), 2000000 + k, 2000000 + k};
        storeNewItem(*db, *feed, made(s, static_cast<int>(pages() % 40)), std::make_unique<newsItemBody>(), items);
      }
      SocialLinkChains links(*db, *feed);
      scanStoredLinks(*db, *feed, links, false, 80, nullptr);
      if (atOnce) {
        links.joinAllAsNewest(items.pending);
      } else {
        for (newsItem* fresh : items.pending) links.joinAsNewest(*fresh);
      }
      transaction.finish();
    }
    loads.push_back(infoNewsItemLoads() - before);
    db->unloadObject(feed);
    reopen();
    after.push_back(image(kName));
  }
  EXPECT_EQ(loads[0], loads[1]);
  EXPECT_TRUE(after[0] == after[1]);
  EXPECT_FALSE(after[0] == start);
}

// The keyed sort of a page's items orders them as the list sort by
// published date does: lists of every length to 40 and longer ones, with
// many equal dates, unset and invalid ones among them.
TEST_F(SocialMergeTest, NewestPublishedFirstOrdersAsTheListSort) {
  const bigTime dates[] = {kDateUnset, kDateInvalid, 0, 1, 2, 1000000, 1000060, INT64_MAX};
  for (size_t n : {0, 1, 2, 3, 5, 8, 13, 21, 34, 40, 300, 3200}) {
    std::vector<std::unique_ptr<newsItem>> held;
    std::vector<newsItem*> items;
    cMegaList_class list{false, nullptr, false};
    for (size_t i = 0; i < n; ++i) {
      held.push_back(std::make_unique<newsItem>());
      // Many dates: some equal, some across the whole range (negative ones too).
      const uint64_t r = rng();
      held.back()->published = n <= 40  ? dates[r % std::size(dates)]
                               : r % 3 ? static_cast<bigTime>(r % (n / 4))
                                        : static_cast<bigTime>((r << 32) ^ rng());
      items.push_back(held.back().get());
      list.infoPastEnd()->beforeInsert(list.makeFloating(items.back()));
    }
    if (n > 0) list.sort(gCompareNewsItem_PublishedDate);
    EXPECT_TRUE(newestPublishedFirst(items) == newsItemsOf(list)) << n;
  }
}

}  // namespace
}  // namespace bw
