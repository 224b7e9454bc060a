// news/feed_newest_item_test.cpp - adding downloads to a feed: the places new
// items go, repeats dropped with their bodies, the newest item time, a
// repeat the merge had chained, and a seeded model of many downloads.
#include "news/feed_newest_item.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "news/news_show_test_support.h"

namespace bw {
namespace {

struct Dates {
  bigTime published;
  bigTime updated = kDateUnset;
  std::string id = "id";
  std::string title = "t";
};

class FeedNewestItemTest : public testing_news::NewsShowTest {
 protected:
  // A new item of the feed with a stored body; stored and loaded when store.
  newsItem* download(newsFeed* feed, const Dates& d, bool store = false) {
    auto item = std::make_unique<newsItem>();
    item->published = d.published;
    item->updated = d.updated;
    item->downloaded = kDateUnset;
    item->uniqueID = Str(d.id);
    item->title = Str(d.title);
    item->feedIndex = feed->infoSoupIndex();
    item->bodyIndex = db->createdAndUnloadObject(new newsItemBody);
    if (!store) return item.release();
    db->createdObject(item.get());
    return item.release();
  }
  void add(newsFeed* feed, const std::vector<newsItem*>& items, bool stored = false) {
    cMegaList_class list(false, nullptr, false);
    for (newsItem* i : items) list.infoPastEnd()->beforeInsert(list.makeFloating(i));
    updateFeedNewestItemTime(*db, *feed, list, stored);
    EXPECT_TRUE(list.isEmpty());
  }
  // The feed's list from the file: (published, title) head to tail; each
  // node's prevIndex must name the node before it, the tail the last.
  std::vector<std::pair<bigTime, std::string>> listed(int32_t feedIndex) {
    std::vector<std::pair<bigTime, std::string>> out;
    newsFeed* feed = loadObject_newsFeed(*db, feedIndex);
    int32_t before = 0;
    for (int32_t i = feed->itemList->infoHeadIndex(); i != 0;) {
      newsItem* it = item(i, feed);
      out.emplace_back(it->published, it->title.str());
      EXPECT_EQ(it->infoPrevIndex(), before) << "item " << out.size() - 1;
      before = i;
      i = it->infoNextIndex();
      db->unloadObject(it);
    }
    EXPECT_EQ(feed->itemList->infoTailIndex(), before);
    db->unloadObject(feed);
    return out;
  }
  bool exists(int32_t index) { return db->infoBlockFile().infoBlockOfIndex(index, true) != 0; }
};

TEST_F(FeedNewestItemTest, NewItemsGoInDateOrderAndSurviveReopen) {
  newsFeed* feed = chainFeed();
  int32_t feedIndex = feed->infoSoupIndex();
  for (auto [published, title] : {std::pair{bigTime{100}, "s100"}, {50, "s50"}, {10, "s10"}, {kDateInvalid, "sinv"}}) {
    addDated(feed, title, published);
  }
  // Every stored item held loaded meanwhile: its links change in memory.
  std::vector<newsItem*> held;
  for (int32_t i = feed->itemList->infoHeadIndex(); i != 0; i = held.back()->infoNextIndex()) held.push_back(item(i, feed));
  add(feed, {download(feed, {75, kDateUnset, "a", "n75"}), download(feed, {kDateInvalid, kDateUnset, "b", "ninv1"}),
             download(feed, {200, kDateUnset, "c", "n200"}), download(feed, {kDateUnset, kDateUnset, "d", "nunset"}),
             download(feed, {kDateInvalid, kDateUnset, "e", "ninv2"}), download(feed, {5, kDateUnset, "f", "n5"})});
  EXPECT_TRUE(feed->hasNewItems);
  EXPECT_EQ(feed->newestItemTime, 200);
  for (newsItem* i : held) db->unloadObject(i);
  reopenNews();
  std::vector<std::string> titles;
  for (auto& [published, title] : listed(feedIndex)) titles.push_back(title);
  EXPECT_EQ(titles, (std::vector<std::string>{"n200", "s100", "n75", "s50", "s10", "n5", "ninv1", "ninv2", "sinv",
                                              "nunset"}));
}

TEST_F(FeedNewestItemTest, RepeatsAreDroppedWithTheirBodies) {
  for (bool stored : {false, true}) {
    SCOPED_TRACE(stored);
    newsFeed* feed = chainFeed();
    int32_t kept = addDated(feed, "kept", 100, 150);
    newsItem* same = item(kept, feed);
    same->uniqueID = Str("g");
    db->saveChangesToObject(same);
    db->unloadObject(same);
    newsItem* repeat = download(feed, {100, 150, "g"}, stored);
    int32_t body = repeat->bodyIndex, index = stored ? repeat->infoSoupIndex() : 0;
    add(feed, {repeat}, stored);
    EXPECT_FALSE(feed->hasNewItems);
    EXPECT_FALSE(exists(body));
    if (stored) {
      EXPECT_FALSE(exists(index));
    }
    EXPECT_EQ(listed(feed->infoSoupIndex()).size(), 1u);
  }
  reopenNews();
}

TEST_F(FeedNewestItemTest, NewestItemTimeIsTheFirstItemTheFilterLetsThrough) {
  newsFeed* feed = chainFeed();
  feed->setFilter("hide");
  add(feed, {download(feed, {300, kDateUnset, "a", "hide me"}), download(feed, {200, kDateUnset, "b", "keep"})});
  EXPECT_EQ(feed->newestItemTime, 200);
}

TEST_F(FeedNewestItemTest, DroppedRepeatLeavesTheChainTheMergeGaveIt) {
  newsFeed* feed = chainFeed();
  int32_t first = addDated(feed, "first", 100);
  int32_t second = addDated(feed, "second", 50);
  for (int32_t i : {first, second}) {
    newsItem* s = item(i, feed);
    s->uniqueID = Str("reused");
    db->saveChangesToObject(s);
    db->unloadObject(s);
  }
  newsItem* repeat = download(feed, {100, kDateUnset, "reused"}, true);
  repeat->setFeed(feed);
  newsItem* older = item(second, feed);
  older->addAsNewestDuplicate(*db, repeat);  // what the merge does with a reused id
  int32_t repeatIndex = repeat->infoSoupIndex();
  add(feed, {repeat}, true);
  EXPECT_FALSE(exists(repeatIndex));
  EXPECT_FALSE(older->infoIsDuplicate());
  db->unloadObject(older);
  int32_t feedIndex = feed->infoSoupIndex();
  reopenNews();
  EXPECT_EQ(listed(feedIndex).size(), 2u);
}

// Downloads against a plain model of the list: the steps of the update over
// a vector, with repeats, reused ids and the two sentinel dates.
TEST_F(FeedNewestItemTest, SeededDownloadsMatchTheModel) {
  const char* env = std::getenv("BRINDLEWORK_NEWS_DOWNLOADS");
  const int downloads = env ? std::atoi(env) : 500;  // 10000 for the full run
  const int every = std::max(100, downloads / 10);  // downloads between checks
  struct Model {
    bigTime published, updated;
    std::string id, title;
  };
  std::vector<Model> model;
  newsFeed* feed = chainFeed();
  int32_t feedIndex = feed->infoSoupIndex();
  std::mt19937 rng(7);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  int serial = 0;
  for (int d = 0; d < downloads; ++d) {
    std::vector<Model> batch;
    for (int n = 1 + pick(3); n > 0; --n) {
      Model m{d * 10 + pick(40) - 30, kDateUnset, "id" + std::to_string(serial), "t" + std::to_string(serial)};
      ++serial;
      int kind = pick(20);
      if (kind == 0) m.published = pick(2) ? kDateUnset : kDateInvalid;
      if (kind == 1 && !model.empty()) m.id = model[static_cast<size_t>(pick(static_cast<int>(model.size())))].id;
      if (kind == 2 && !model.empty()) {
        Model copy = model[static_cast<size_t>(std::min(pick(8), static_cast<int>(model.size()) - 1))];
        m.published = copy.published, m.updated = copy.updated, m.id = copy.id;
      }
      batch.push_back(m);
    }
    // The model: newest first (stable), each placed before the first item not
    // later than it from where the previous one went, unless it repeats it.
    std::vector<Model> sorted = batch;
    std::stable_sort(sorted.begin(), sorted.end(), [](auto& a, auto& b) { return a.published > b.published; });
    size_t cur = 0;
    for (const Model& m : sorted) {
      while (cur < model.size() && model[cur].published > m.published) ++cur;
      if (cur < model.size() && model[cur].published == m.published && model[cur].updated == m.updated &&
          model[cur].id == m.id) {
        continue;
      }
      model.insert(model.begin() + static_cast<long>(cur), m);
      if (!isValidDate(m.published)) ++cur;
    }
    std::vector<newsItem*> items;
    bool stored = d % 2 == 1;
    for (const Model& m : batch) items.push_back(download(feed, {m.published, m.updated, m.id, m.title}, stored));
    // Now and then the head stays loaded through the update: the walk must
    // take its links from the loaded item.
    HeldItem head(*db, pick(4) == 0 ? item(feed->itemList->infoHeadIndex(), feed) : nullptr);
    add(feed, items, stored);
    head.reset(nullptr);
    if (d % every == every - 1 || d == downloads - 1) {
      reopenNews();
      feed = loadObject_newsFeed(*db, feedIndex);
      root->firstLoadedFeed = feed;
      auto got = listed(feedIndex);
      ASSERT_EQ(got.size(), model.size()) << "after download " << d;
      for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i], std::pair(model[i].published, model[i].title)) << "item " << i << " after download " << d;
      }
    }
  }
}

}  // namespace
}  // namespace bw
