// app/news_list_test.cpp - news rows byte for byte, the refill checked
// against a sort of the same items (with the bound on loaded items), and
// the seen marking with its undo, on neutral lists over a scratch database.
#include "app/news_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "app/feed_list.h"
#include "app/main_windows.h"
#include "news/feed_tags.h"
#include "news/html_text.h"
#include "news/news_show_test_support.h"
#include "news/seen_times.h"
#include "platform/time.h"

namespace bw {
namespace {

class ShownText : public cGuiText {
 public:
  using cGuiText::cGuiText;
  Str getState() override { return text_; }
};

class NewsListTest : public testing_news::NewsShowTest {
 protected:
  void SetUp() override {
    NewsShowTest::SetUp();
    feedList.initMultiSelect(true, true);
    feedList.setSortByUser(0, false);
    tagList.initMultiSelect(true, true);
    tagList.setSortByColumn(0, false);
    newsList.initMultiSelect(false, false);
    newsList.setSortByFunction(gCompareNewsItems);
  }
  newsFeed* feed(const std::string& name, const char* type = "RSS 2.0") {
    newsFeed* f = chainFeed(type);
    f->title = Str(name);
    return f;
  }
  void listFeeds() {
    fNewsFeeds all(root->firstLoadedFeed, nullptr, &utf8, db.get());
    feedList.updateF(all);
  }
  void fill(int32_t show) {
    showCycle.setState(show);
    fillNewsItemList(*db, &utf8, *root, &feedList, newsList, &status, &showCycle);
  }
  std::vector<int32_t> rowData() {
    std::vector<int32_t> data;
    for (bool on = newsList.cursor_gotoStart(); on; on = newsList.cursor_gotoNext(1) == 1)
      data.push_back(newsList.cursor_getData());
    return data;
  }
  int32_t feedRowStyle(newsFeed* f) {
    for (int32_t i = 0; i < feedList.infoCount(); i++)
      if (feedOfListEntry(feedList.infoEntryAt(i)->dataBox.get()) == f) return feedList.infoEntryAt(i)->style;
    return -1;
  }
  // The row of the item at index, as the list holds it.
  const cGuiList::Row* rowOf(int32_t index) {
    for (int32_t i = 0; i < newsList.infoCount(); i++)
      if (newsList.infoEntryAt(i)->data == index) return newsList.infoEntryAt(i);
    return nullptr;
  }

  cGuiList feedList{nullptr, 5, nullptr};
  cGuiList tagList{nullptr, 1, "Tag"};
  cGuiList newsList{nullptr, 4, nullptr};
  cGuiButton undoButton{"Undo seen"};
  ShownText status{""};
  cGuiCycleChoice showCycle{"", StrChain{Str("Show unseen"), Str("Show last week"), Str("Show last month"),
                                         Str("Show last year"), Str("Show ALL")}};
};

TEST_F(NewsListTest, RowTexts) {
  const bigTime june = pTime::DateTimeToBigTime(2017, 6, 18, 10, 5, 0);
  newsFeed* rss = feed("A feed name of 25 chars.");
  newsFeed* wide = feed("\xc3\xa9t\xc3\xa9 \xc3\xa0 Paris, \xc3\xa9t\xc3\xa9 \xc3\xa0 Rome et ailleurs");
  newsFeed* facebook = feed("FB", "Facebook");  // 20 code points below, more bytes
  rss->seenUpToTime = june;
  struct Case {
    newsFeed* feed;
    bigTime date;
    const char* title;
    const char* tags;
    bool seen;
    const char* line;
    int32_t style;
  } cases[] = {
      {rss, june, "  <b>Bold</b>\tnews ", ",x,", false,
       "2017-06-18\tA feed name of 25 ch\t*Bold* news\t,x,", 5},
      {rss, june - 1, "Older", nullptr, true, "2017-06-18\tA feed name of 25 ch\tOlder\t", 0},
      {wide, kDateUnset, "No date", nullptr, false,
       " \t\xc3\xa9t\xc3\xa9 \xc3\xa0 Paris, \xc3\xa9t\xc3\xa9 \xc3\xa0 R\tNo date\t", 4},
      {wide, kDateInvalid, "Bad date", nullptr, true, " invalid date\t\xc3\xa9t\xc3\xa9 \xc3\xa0 Paris, "
       "\xc3\xa9t\xc3\xa9 \xc3\xa0 R\tBad date\t", 0},
  };
  for (const Case& c : cases) {
    newsItem* it = item(addDated(c.feed, c.title, c.date), c.feed);
    if (c.tags) it->tags = Str(c.tags);
    it->seen = c.seen;
    it->titleFormat = kFormatDetect;
    NewsItemLine made = makeNewsItemLine(*db, &utf8, *it);
    EXPECT_EQ(made.line.view(), c.line);
    EXPECT_EQ(made.style, c.style) << c.line;
    db->unloadObject(it);
  }

  // A chain of updates: the newest shows its own date with "* "; a Facebook
  // chain shows its oldest post's title.
  for (newsFeed* f : {rss, facebook}) {
    newsItem* newest = item(addDated(f, "Newest", june + 86400), f);
    newsItem* oldest = item(addDated(f, "Oldest", june), f);
    oldest->addAsNewestDuplicate(*db, newest);
    NewsItemLine made = makeNewsItemLine(*db, &utf8, *newest);
    EXPECT_EQ(made.line.str(), "2017-06-19\t" + std::string(f->title.view().substr(0, 20)) +
                                   (f == facebook ? "\t* Oldest\t" : "\t* Newest\t"));
    for (newsItem* i : {newest, oldest}) db->unloadObject(i);
  }
  // The row's date box keeps the low 32 bits.
  newsItem* far = item(addDated(facebook, "Far", (int64_t{1} << 32) + 7), facebook);
  EXPECT_EQ(makeNewsItemLine(*db, &utf8, *far).date32, 7);
  db->unloadObject(far);
}

// One maker reused over many rows (as a refill uses it) against a fresh
// maker per row: random feeds, titles, tags and dates around day edges,
// before 2000, beyond 32 bits and the markers give the same rows.
TEST_F(NewsListTest, OneMakerMakesTheRowsOfFreshMakers) {
  std::mt19937 random(1806);
  std::vector<newsFeed*> feeds = {feed("short"), feed("\xc3\xa9t\xc3\xa9 \xc3\xa0 Paris et ailleurs, encore"),
                                  feed("A feed name of 25 chars.", "Facebook")};
  feeds[1]->seenUpToTime = kNow;
  const char* titles[] = {"plain", " <i>html</i>\tand tab ", "a &amp; b", "", "caf\xc3\xa9", " <b>x &lt; y</b>"};
  // Neighbours across each day's edge follow one another: a day cached
  // for the wrong side shows.
  std::vector<bigTime> dates = {kDateUnset, kDateInvalid, (int64_t{1} << 32) + 5, kNow + 3600};
  for (bigTime edge = -3 * kDay; edge <= 3 * kDay; edge += kDay)
    for (bigTime base : {bigTime{0}, kNow}) dates.insert(dates.end(), {base + edge, base + edge - 1, base + edge});
  NewsLineMaker maker(*db, &utf8);
  for (size_t n = 0; n < 3 * dates.size(); n++) {
    const bigTime date = n < dates.size() ? dates[n] : dates[random() % dates.size()];
    newsFeed* f = feeds[random() % feeds.size()];
    newsItem* it = item(addDated(f, titles[random() % 6], date), f);
    it->titleFormat = static_cast<uint8_t>(random() % 3);
    if (random() % 3 == 0) it->tags = Str(",t" + std::to_string(random() % 4) + ",");
    it->seen = random() % 2 == 0;
    NewsItemLine reused = maker.make(*it), fresh = makeNewsItemLine(*db, &utf8, *it);
    // The title column as the plain road makes it: decoded into a copy, then
    // tidied for display.
    Str shown = prepareTextForDisplay(convertFeedText(*f->docFormat, &utf8, it->title, false, false),
                                      it->titleFormat, false, true);
    const std::string_view line = reused.line.view();
    const size_t title = line.find('\t', line.find('\t') + 1) + 1;
    ASSERT_EQ(line.substr(title, line.rfind('\t') - title), shown.view()) << n;
    ASSERT_EQ(reused.line.view(), fresh.line.view()) << n;
    ASSERT_EQ(reused.line.capacity(), fresh.line.capacity()) << n;
    ASSERT_EQ(reused.style, fresh.style) << n;
    ASSERT_EQ(reused.date32, fresh.date32) << n;
    db->unloadObject(it);
  }
}

// Random feeds and dates (some beyond 32 bits, some markers) in every Show
// mode and selection: the rows are exactly the shown items in the list's
// order, and the merge never holds more than one item per feed in play.
TEST_F(NewsListTest, RefillMatchesASortOfTheShownItems) {
  std::mt19937 random(20170618);
  struct Stored {
    int32_t index;
    bigTime date;
    newsFeed* feed;
  };
  std::vector<Stored> items;
  for (int f = 0; f < 7; f++) {
    newsFeed* nf = feed("feed " + std::to_string(f));
    nf->seenUpToTime = f == 6 ? kDateUnset : kNow - static_cast<bigTime>(random() % 40) * kDay;
    std::vector<bigTime> dates;
    for (unsigned n = random() % 25; n > 0; n--) {
      const unsigned pick = random() % 20;
      dates.push_back(pick == 0 ? kDateUnset
                      : pick == 1 ? (int64_t{1} << 32) + kNow
                                  : kNow - static_cast<bigTime>(random() % (60 * kDay)));
    }
    std::sort(dates.rbegin(), dates.rend());
    for (bigTime d : dates) items.push_back({addDated(nf, "x", d), d, nf});
  }
  listFeeds();
  root->showLimitTime = kNow - 30 * kDay;  // "Show last month" as updateOldestSeenTime would leave it

  for (int32_t show : {0, 4, 2}) {
    for (std::vector<int> chosen : {std::vector<int>{}, std::vector<int>{1, 3}}) {
      SCOPED_TRACE("show " + std::to_string(show) + " chosen " + std::to_string(chosen.size()));
      feedList.markAll();
      feedList.marked_setState(false);
      feedList.marked_clear();
      for (int c : chosen) {
        feedList.cursor_gotoStart();
        feedList.cursor_gotoNext(c);
        feedList.cursor_setState(true);
      }
      root->showUnseen = show == 0;
      if (show == 4) root->showLimitTime = kDateUnset;
      std::vector<newsFeed*> inPlay;
      for (newsFeed* f = root->firstLoadedFeed; f; f = f->nextLoadedFeed) {
        int position = 0;
        for (bool on = feedList.cursor_gotoStart(); on; on = feedList.cursor_gotoNext(1) == 1, position++)
          if (feedOfListEntry(feedList.cursor_getDataBox()) == f &&
              (chosen.empty() || std::count(chosen.begin(), chosen.end(), position)))
            inPlay.push_back(f);
      }
      // The model: each feed's items down to the first one too old.
      std::vector<std::pair<int32_t, int32_t>> want;  // (date32, index)
      for (newsFeed* f : inPlay) {
        bigTime limit = show == 0 ? f->seenUpToTime : root->showLimitTime;
        if (show == 0 && !isValidDate(limit)) continue;
        for (const Stored& s : items) {
          if (s.feed != f) continue;
          if (s.date < limit) break;
          want.push_back({static_cast<int32_t>(static_cast<uint32_t>(s.date)), s.index});
        }
      }
      std::sort(want.rbegin(), want.rend());

      // Step the merge itself, counting what the soup holds.
      fAllNewsItems merge(*db, &utf8, *root);
      const size_t before = db->infoTableCount();
      for (newsFeed* f : inPlay) merge.seed(*f);
      size_t most = db->infoTableCount() - before;
      std::vector<std::pair<int32_t, int32_t>> got;
      for (GuiListRow row = merge.call(); !row.label.isNil(); row = merge.call()) {
        most = std::max(most, db->infoTableCount() - before);
        got.push_back({static_cast<int32_t>(static_cast<boxBIGVALUE*>(row.dataBox.get())->value), row.data});
      }
      EXPECT_LE(most, inPlay.size() + 1);
      EXPECT_EQ(db->infoTableCount(), before);
      std::sort(got.rbegin(), got.rend());
      EXPECT_EQ(got, want);

      fill(show);
      std::vector<int32_t> order;
      for (auto& w : want) order.push_back(w.second);
      EXPECT_EQ(rowData(), order);
      EXPECT_EQ(status.getState().str(), std::to_string(want.size()) + " news items shown");
    }
  }
}

TEST_F(NewsListTest, SeeingAnItemMovesTheSeenTimes) {
  const bigTime d = kNow - 5 * kDay;
  newsFeed* a = feed("a");  // rows on both sides of D
  newsFeed* b = feed("b");  // rows only older than D
  newsFeed* c = feed("c");  // seen-up-to later than D: untouched
  const int32_t newer = addDated(a, "a new", d + 100);
  const int32_t seenIndex = addDated(a, "a seen", d);
  const int32_t older = addDated(a, "a old", d - kDay);
  addDated(b, "b old", d - 2 * kDay);
  addDated(c, "c new", d + 200);
  a->seenUpToTime = d - 3 * kDay;
  b->seenUpToTime = d - 4 * kDay;
  c->seenUpToTime = d + 50;
  b->newestItemTime = d - 2 * kDay;
  listFeeds();
  fill(0);
  EXPECT_EQ(status.getState().str(), "5 news items shown");
  EXPECT_EQ(feedRowStyle(b), kTagHasUnseen);

  newsItem* seenItem = item(seenIndex, a);
  for (bool on = newsList.cursor_gotoStart(); on && newsList.cursor_getData() != seenIndex;)
    on = newsList.cursor_gotoNext(1) == 1;
  newsList.cursor_setState(true);
  markNewsItemSeen(*seenItem, newsList, feedList, tagList, &undoButton, *db, &utf8, *root);

  EXPECT_EQ(a->seenUpToTime, d + 1);        // "a new" is still newer
  EXPECT_EQ(b->seenUpToTime, kDateUnset);   // nothing of b is new any more
  EXPECT_EQ(c->seenUpToTime, d + 50);
  EXPECT_EQ(a->previousSeenUpToTime, d - 3 * kDay);
  EXPECT_EQ(b->previousSeenUpToTime, d - 4 * kDay);
  EXPECT_EQ(c->previousSeenUpToTime, kDateUnset);
  EXPECT_TRUE(seenItem->seen);
  EXPECT_EQ(rowOf(newer)->style, 4 | 1);  // newer than D: still new
  EXPECT_EQ(rowOf(seenIndex)->style, 0);  // seen, no longer new
  EXPECT_EQ(rowOf(older)->style, 4);      // unseen but not new
  EXPECT_FALSE(undoButton.infoDisabled());
  EXPECT_EQ(feedRowStyle(b), 0);  // its row renewed

  // Seeing it again, or an item older than the feed's time, changes nothing.
  markNewsItemSeen(*seenItem, newsList, feedList, tagList, &undoButton, *db, &utf8, *root);
  markDuplicateItemsSeen(*seenItem, newsList, feedList, tagList, &undoButton, *db, &utf8, *root);
  EXPECT_EQ(a->seenUpToTime, d + 1);
  EXPECT_EQ(a->previousSeenUpToTime, d - 3 * kDay);

  UndoSeenGuiButton undo;
  undo.button = &undoButton;
  undoSeen(&feedList, &undo, *db, *root);
  EXPECT_EQ(a->seenUpToTime, d - 3 * kDay);
  EXPECT_EQ(b->seenUpToTime, d - 4 * kDay);
  EXPECT_EQ(c->seenUpToTime, d + 50);
  db->unloadObject(seenItem);
}

// A damaged item list whose last item links back to the second: the fill
// meets damage (the run ends in its words) instead of listing for ever.
TEST_F(NewsListTest, AnItemListThatComesBackToAnItemIsDamage) {
  newsFeed* f = feed("f");
  std::vector<int32_t> items;
  for (int k = 0; k < 5; ++k) items.push_back(addDated(f, "x", kNow - k * kDay));
  db->writeObjectNodeHeader(items[4], items[1], items[3]);
  listFeeds();
  EXPECT_THROW(fill(4), eRecordDamage);
  db->writeObjectNodeHeader(items[4], 0, items[3]);
}

TEST_F(NewsListTest, EmptyMergeShowsZero) {
  newsFeed* f = feed("f");
  addDated(f, "old", kNow - 10 * kDay);
  f->seenUpToTime = kNow;
  listFeeds();
  fill(0);
  EXPECT_EQ(newsList.infoCount(), 0);
  EXPECT_EQ(status.getState().str(), "0 news items shown");
  fill(4);
  EXPECT_EQ(newsList.infoCount(), 1);
  EXPECT_EQ(status.getState().str(), "1 news items shown");
}

}  // namespace
}  // namespace bw
