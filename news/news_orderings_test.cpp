// news/news_orderings_test.cpp - the date orderings against a stable sort by
// key, the edge cases each ordering has of its own, the news-list row order
// and the tag row source.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <vector>

#include "news/news_test_support.h"

namespace bw {
namespace {

class NewsOrderingTest : public testing_news::NewsTest {};

template <class T>
std::vector<T*> sortedBy(fCompareMegaNodes* compare, const std::vector<T*>& objects) {
  cMegaList_class list(false, nullptr, false);
  for (T* o : objects) list.infoPastEnd()->beforeInsert(list.makeFloating(o));
  list.sort(compare);
  std::vector<T*> out;
  auto cursor = list.infoStart()->clone(0, 0);
  for (bool end = list.isEmpty(); !end; end = cursor->gotoNext()) {
    out.push_back(static_cast<T*>(static_cast<cMegaCursor_class*>(cursor.get())->getData()));
  }
  return out;
}

TEST_F(NewsOrderingTest, EachOrderingSortsNewestFirstAndKeepsTies) {
  const bigTime dates[] = {kDateUnset, kDateInvalid, -5, 0, 7, 7, INT64_MAX, 1LL << 40};
  std::mt19937 rng(103);
  auto date = [&] { return dates[rng() % 8]; };
  newsFeed downloads;
  downloads.useDownloadDate = true;
  std::deque<newsItem> items(300);
  std::deque<newsFeed> feeds(100);
  for (newsItem& i : items) {
    i.published = date(), i.updated = date(), i.downloaded = date();
    if (rng() % 2) i.setFeed(&downloads);
  }
  for (newsFeed& f : feeds) f.newestItemTime = date();
  std::vector<newsItem*> itemPointers;
  for (newsItem& i : items) itemPointers.push_back(&i);
  std::vector<newsFeed*> feedPointers;
  for (newsFeed& f : feeds) feedPointers.push_back(&f);

  auto newestFirst = [](auto pointers, auto key) {
    std::stable_sort(pointers.begin(), pointers.end(), [&](auto* a, auto* b) { return key(a) > key(b); });
    return pointers;
  };
  EXPECT_EQ(sortedBy(gCompareNewsFeed_itemHeadDate, feedPointers),
            newestFirst(feedPointers, [](newsFeed* f) { return f->newestItemTime; }));
  EXPECT_EQ(sortedBy(gCompareNewsItem_PublishedDate, itemPointers),
            newestFirst(itemPointers, [](newsItem* i) { return i->published; }));
  EXPECT_EQ(sortedBy(gCompareNewsItem_UpdatedElsePublishedDate, itemPointers),
            newestFirst(itemPointers, [](newsItem* i) { return i->updated != kDateUnset ? i->updated : i->published; }));
  EXPECT_EQ(sortedBy(gCompareNewsItem_latestDate, itemPointers),
            newestFirst(itemPointers, [](newsItem* i) { return i->infoUpdatedElsePublishedDate(false); }));
}

TEST_F(NewsOrderingTest, EdgeCasesOfTheItemOrderings) {
  newsItem a, b;
  auto compare = [&](fCompareMegaNodes* c) {
    cMegaList_class list(false, nullptr, false);
    MegaNode* na = list.infoPastEnd()->beforeInsert(list.makeFloating(&a));
    MegaNode* nb = list.infoPastEnd()->beforeInsert(list.makeFloating(&b));
    return c->call(list.infoMiniList(), na, nb);
  };
  // Equal published dates compare 0 whatever the others; unset < invalid.
  a.published = b.published = 5, a.updated = 9, b.downloaded = 1;
  EXPECT_EQ(compare(gCompareNewsItem_PublishedDate), 0);
  a.published = kDateUnset, b.published = kDateInvalid;
  EXPECT_EQ(compare(gCompareNewsItem_PublishedDate), -1);
  // Updated unset falls back to published; an invalid updated is a date.
  a.updated = kDateUnset, a.published = 8, b.updated = kDateInvalid, b.published = 9;
  EXPECT_EQ(compare(gCompareNewsItem_UpdatedElsePublishedDate), 1);
  // latestDate follows the feed's useDownloadDate.
  newsFeed feed;
  a.setFeed(&feed), b.setFeed(&feed);
  a.updated = 3, a.downloaded = 1, b.updated = 2, b.downloaded = 4;
  EXPECT_EQ(compare(gCompareNewsItem_latestDate), 1);
  feed.useDownloadDate = true;
  EXPECT_EQ(compare(gCompareNewsItem_latestDate), -1);
}

TEST_F(NewsOrderingTest, NewsListRowsByDateThenData) {
  boxBIGVALUE early(kDateInvalid), late(1LL << 33), same(1LL << 33);
  boxVALUE wrongKind(5);
  struct {
    const box *a, *b;
    int32_t dataA, dataB, want;
  } cases[] = {{&late, &early, 0, 0, 1}, {&early, &late, 0, 0, -1}, {&late, &same, 5, 7, -1},
               {&late, &same, 7, 5, 1},  {&late, &same, -1, 1, -1}, {&late, &same, 3, 3, 0}};
  for (auto& c : cases) EXPECT_EQ(gCompareNewsItems->call(Str(), Str(), c.dataA, c.dataB, c.a, c.b), c.want);
  for (const box* bad : {static_cast<const box*>(nullptr), static_cast<const box*>(&wrongKind)}) {
    expectRaise([&] { gCompareNewsItems->call(Str(), Str(), 0, 0, &late, bad); }, "BUG",
                "fCompareNewsItems(); a DataBox=NIL");
  }
}

TEST_F(NewsOrderingTest, TagRowsOnePerEntryThenNil) {
  cStringSpace tags(true, cStringSpace::kCaseChosenPerCall);
  gIterateFilterTagList->set(&tags);
  EXPECT_TRUE(gIterateFilterTagList->call().label.isNil());
  tags.set("news", new boxVALUE(1));
  tags.set("tech", new boxVALUE(4));
  tags.set("misc", new boxVALUE(5));
  gIterateFilterTagList->set(&tags);
  std::vector<std::pair<std::string, int32_t>> rows;
  for (GuiListRow row = gIterateFilterTagList->call(); !row.label.isNil(); row = gIterateFilterTagList->call()) {
    EXPECT_FALSE(row.marked || row.data || row.dataBox);
    rows.push_back({row.label.str(), row.style});
  }
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::pair<std::string, int32_t>>{{"misc", 5}, {"news", 1}, {"tech", 4}}));
  EXPECT_TRUE(gIterateFilterTagList->call().label.isNil());
}

}  // namespace
}  // namespace bw
