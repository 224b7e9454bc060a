// app/show_filter_search_test.cpp - the normalised Filter and Search texts,
// the Show cycle's limits at a fixed "now", and what the three controls
// store.
#include "app/show_filter_search.h"

#include "app/news_item_test_support.h"
#include "core/box.h"

namespace bw {
namespace {

using testing_news::kNow;

TEST(FilterText, Normalised) {
  const struct {
    const char *typed, *normal;
  } cases[] = {
      {"Iraq, Brexit,~Blair", "iraq,brexit,~,blair"},
      {" , ,x", "x"},
      {"~", "~"},
      {" ~foo", "~foo"},  // the "~" is split off only as the very first character
      {"  Foo  ,, bar", "foo,bar"},
      {"", ""},
      {",,", ""},
      {"\tTab ", "\ttab"},  // leading white space goes only after a leading space
      {" \t\r\nX\t", "x\t"},
      {"~~a", "~,~a"},
      {"ÄBC, ПРИВЕТ", "äbc,привет"},  // by Unicode, not A-Z alone
  };
  for (const auto& c : cases) EXPECT_EQ(normaliseFilterText(c.typed).str(), c.normal) << '"' << c.typed << '"';
}

class ShowFilterSearchTest : public testing_app::NewsItemTest {
 protected:
  void SetUp() override {
    NewsItemTest::SetUp();
    feedList.initMultiSelect(true, true);
  }
  // The feed list: one row per feed, the feed in the row's box.
  void listFeeds(const std::vector<newsFeed*>& feeds) {
    for (newsFeed* f : feeds) feedList.addEntry(Str("feed"), 0, false, 0, std::make_unique<boxPTR>(f));
  }
  void select(int32_t row) {
    feedList.cursor_gotoStart();
    feedList.cursor_gotoNext(row);
    feedList.cursor_setState(true);
  }

  cGuiWindow window;
  cGuiList feedList{&window, 5, ""};
  cGuiString filter{""}, search{""};
};

TEST_F(ShowFilterSearchTest, ShowCycleLimits) {
  feed->seenUpToTime = kNow - 864000;  // ten days ago, before its newest item
  feed->newestItemTime = kNow;
  listFeeds({feed});
  const struct {
    int32_t state;
    bool fixed;
    bigTime time;
  } cases[] = {
      {kShowLastWeek, true, kNow - 604800},   {kShowLastMonth, true, kNow - 2678400},
      {kShowLastYear, true, kNow - 31622400}, {kShowAll, true, kDateUnset},
      {kShowUnseen, false, kNow - 864000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    applyShowCycleState(*root, c.state, &feedList, nullptr);
    EXPECT_EQ(root->fixedShowPeriod, c.fixed);
    EXPECT_EQ(root->showLimitTime, c.time);
  }
  ::testing::internal::CaptureStdout();
  applyShowCycleState(*root, 5, &feedList, nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "BUG: Unhandled state for Show cycle gadget.\n");
  EXPECT_EQ(root->showLimitTime, kNow - 864000);
}

TEST_F(ShowFilterSearchTest, SearchWordsFollowTheCycleAndTheTypedText) {
  cGuiCycleChoice cycle("", {Str("Filter"), Str("Search")});
  cycle.setState(kSearchMode);
  applyFilterSearchCycle(*root, cycle, nullptr, search);
  EXPECT_EQ(root->searchTerms, StrChain{Str("")});  // an empty box: one empty word

  search.setState("Foo");
  applySearchText(*root, search);
  EXPECT_EQ(search.infoText().str(), "foo");
  applySearchText(*root, search);  // the change the replacement fires
  EXPECT_EQ(search.infoText().str(), "foo");
  EXPECT_EQ(root->searchTerms, StrChain{Str("foo")});

  search.setState("  Foo  ,, bar");
  applySearchText(*root, search);
  EXPECT_EQ(search.infoText().str(), "foo,bar");
  EXPECT_EQ(root->searchTerms, (StrChain{Str("foo"), Str("bar")}));

  cycle.setState(kFilterMode);
  applyFilterSearchCycle(*root, cycle, nullptr, search);
  EXPECT_TRUE(root->searchTerms.empty());
}

TEST_F(ShowFilterSearchTest, AFilterIsStoredForOneSelectedFeedOnly) {
  newsFeed* second = loadedFeed("Atom");
  listFeeds({feed, second});
  const int32_t index = feed->infoSoupIndex();

  select(0);
  select(1);
  filter.setState("Iraq");
  EXPECT_EQ(applyFilterText(*db, feedList, &filter, nullptr), nullptr);
  EXPECT_EQ(filter.infoText().str(), "Iraq");
  EXPECT_TRUE(feed->filter.isNil());
  EXPECT_TRUE(second->filter.isNil());

  feedList.cursor_setState(false);
  filter.setState("Iraq, Brexit,~Blair");
  EXPECT_EQ(applyFilterText(*db, feedList, &filter, nullptr), feed);
  EXPECT_EQ(filter.infoText().str(), "iraq,brexit,~,blair");
  EXPECT_EQ(applyFilterText(*db, feedList, &filter, nullptr), feed);  // the fired change stores the same
  EXPECT_EQ(filter.infoText().str(), "iraq,brexit,~,blair");

  cGuiTick useDownloadDate("");
  EXPECT_EQ(applyFilterText(*db, feedList, nullptr, &useDownloadDate), nullptr);  // already FALSE
  useDownloadDate.setState(true);
  EXPECT_EQ(applyFilterText(*db, feedList, nullptr, &useDownloadDate), feed);

  dropLoaded();
  reopen();
  newsFeed* stored = loadObject_newsFeed(*db, index);
  EXPECT_EQ(stored->filter.str(), "iraq,brexit,~,blair");
  EXPECT_EQ(stored->filterTerms.size(), 4u);
  EXPECT_TRUE(stored->useDownloadDate);
  db->unloadObject(stored);
}

}  // namespace
}  // namespace bw
