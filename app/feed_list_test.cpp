// app/feed_list_test.cpp - the feed rows byte for byte, the tag chooser and
// the feed list it narrows, the saved tag selection, the per-feed gadgets
// and the tag spelling, on neutral lists over a scratch news database.
#include "app/feed_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "gui/gui_gadgets.h"
#include "news/feed_failure.h"
#include "news/feed_tags.h"
#include "gui/gui_test_support.h"
#include "news/news_show_test_support.h"
#include "platform/time.h"

namespace bw {
namespace {

std::vector<std::string> selectedOf(cGuiList& list) {
  std::vector<std::string> labels;
  for (bool on = list.cursor_gotoFirstSelected(); on; on = list.cursor_gotoNextSelected())
    labels.push_back(list.cursor_getLabel().str());
  return labels;
}

// Selects the rows whose first column is one of names.
void select(cGuiList& list, std::vector<std::string> names) {
  list.markAll();
  list.marked_setState(false);
  if (!list.cursor_gotoStart()) return;
  do {
    std::string first(guiListColumnField(list.cursor_infoLabel().view(), 0));
    list.cursor_setMarked(std::find(names.begin(), names.end(), first) != names.end());
  } while (list.cursor_gotoNext(1) == 1);
  list.marked_setState(true);
}

class FeedListTest : public testing_news::NewsShowTest {
 protected:
  void SetUp() override {
    NewsShowTest::SetUp();
    tagList.initMultiSelect(true, true);
    tagList.setSortByColumn(0, false);
    feedList.initMultiSelect(true, true);
    feedList.setSortByUser(0, false);
  }
  newsFeed* feed(const char* name, const char* tags, const char* type = "RSS 2.0") {
    newsFeed* f = chainFeed(type);
    f->title = Str(name);
    if (tags) f->tags = Str(tags);
    return f;
  }
  void refresh() { refreshTagChooserAndFeedList(feedList, tagList, *db, &utf8, *root); }
  std::vector<std::string> feedNames() {
    std::vector<std::string> names;
    for (const std::string& label : guiListLabels(feedList)) names.emplace_back(guiListColumnField(label, 0));
    return names;
  }

  cGuiList tagList{nullptr, 1, "Tag"};
  cGuiList feedList{nullptr, 5, nullptr};
};

TEST(FeedListTexts, DownloadLengths) {
  struct {
    int64_t seconds;
    const char* shown;
  } cases[] = {
      {0, "   0.0 days"},          {129600, "   1.5 days"},        {10800, "   0.1 days"},
      {8639, "   0.0 days"},       {12 * 86400, "  12.0 days"},    {10000LL * 86400 + 43200, "9999.5 days"},
      {1000 * 86400, "1000.0 days"}, {-1, " unknown"},            {INT64_MIN, " unknown"},
  };
  for (const auto& c : cases) EXPECT_EQ(feedDownloadLengthText(c.seconds), c.shown) << c.seconds;
}

TEST_F(FeedListTest, RowsAndStyles) {
  const bigTime date = pTime::DateTimeToBigTime(2017, 6, 18, 10, 5, 42);
  struct {
    bigTime newest, seen;
    bool disabled, hasNew, failed;
    const char* row;
    int32_t style;
  } cases[] = {
      {kDateUnset, kDateUnset, false, false, false, "F\tt1,t2\t \tnone\t   1.5 days", 0},
      {kDateInvalid, kDateInvalid, true, false, false, "F\tt1,t2\t invalid date\tinvalid date\t   1.5 days", 2},
      {date, date - 60, false, true, false, "F\tt1,t2\t2017-06-18 10:05\t2017-06-18 10:04\t   1.5 days", 1 | 4},
      {date, date + 60, false, false, true, "F\tt1,t2\t2017-06-18 10:05\t2017-06-18 10:06\t   1.5 days", 8},
  };
  newsFeed* f = feed("F", ",t1,t2,");
  f->downloadLength = 129600;
  for (const auto& c : cases) {
    f->newestItemTime = c.newest;
    f->seenUpToTime = c.seen;
    f->disabled = c.disabled;
    f->hasNewItems = c.hasNew;
    f->downloadFailed = c.failed;
    EXPECT_EQ(feedListRowText(*f, &utf8), c.row);
    EXPECT_EQ(feedListRowStyle(*f), c.style) << c.row;
  }
  fNewsFeeds source(root->firstLoadedFeed, nullptr, &utf8, db.get());
  GuiListRow row = source.call();
  EXPECT_EQ(feedOfListEntry(row.dataBox.get()), f);
  EXPECT_EQ(row.data, 0);
  EXPECT_TRUE(source.call().label.isNil());
}

TEST_F(FeedListTest, OnlyARowShownFailedTellsItsLastFailure) {
  newsFeed* f = feed("F", "");
  EXPECT_EQ(feedRowHelp(f), "");
  noteFeedFailure(*f, "HTTP 404 Not Found");
  EXPECT_EQ(feedListRowStyle(*f), 8);
  const std::string help = feedRowHelp(f);
  EXPECT_EQ(help.substr(0, 35), "Last failure: HTTP 404 Not Found (2") << help;
  f->downloadFailed = false;  // a later update went through; the reason stays for the Info window
  EXPECT_EQ(feedRowHelp(f), "");
  EXPECT_EQ(feedRowHelp(nullptr), "");
}

TEST_F(FeedListTest, TagChooserNarrowsTheFeedList) {
  feed("A", ",a,");
  feed("BC", ",b,c,");
  feed("AB", ",ab,");
  feed("Big", ",News,")->hasNewItems = true;
  feed("Small", ",news,");
  feed("None", nullptr);
  rebuildTagChooser(tagList, *root, &utf8);
  fNewsFeeds all(root->firstLoadedFeed, nullptr, &utf8, db.get());
  feedList.addEntries(all);
  EXPECT_EQ(guiListLabels(tagList), (std::vector<std::string>{"a", "ab", "b", "c", "News"}));
  tagList.cursor_gotoEnd();
  EXPECT_EQ(tagList.cursor_getStyle(), kTagHasNewItems);  // ORed over both spellings
  EXPECT_EQ(feedNames(), (std::vector<std::string>{"A", "AB", "BC", "Big", "None", "Small"}));

  select(tagList, {"a", "b"});
  refresh();
  EXPECT_EQ(feedNames(), (std::vector<std::string>{"A", "BC"}));
  EXPECT_EQ(selectedOf(tagList), (std::vector<std::string>{"a", "b"}));  // kept across the refresh
  select(tagList, {"News"});
  refresh();
  EXPECT_EQ(feedNames(), (std::vector<std::string>{"Big"}));  // the test itself is case-sensitive

  select(tagList, {});
  root->firstLoadedFeed->nextLoadedFeed->tags = Str(",c,");  // BC loses b
  root->firstLoadedFeed->nextLoadedFeed->clearTagsCache();
  refresh();
  EXPECT_EQ(guiListLabels(tagList), (std::vector<std::string>{"a", "ab", "c", "News"}));
  EXPECT_EQ(feedNames().size(), 6u);
}

TEST_F(FeedListTest, SavedTagSelection) {
  for (const char* tags : {",a,", ",b,", ",c,", ",d,"}) feed(tags, tags);
  rebuildTagChooser(tagList, *root, &utf8);
  struct {
    const char* saved;
    bool restored;
    std::vector<std::string> selected;
  } cases[] = {
      {nullptr, false, {}},
      {"A,c", true, {"a", "c"}},
      {"b,gone,d", true, {"b"}},  // a vanished tag ends the restore
      {"c,a", true, {"c"}},       // the search goes on after the previous hit
      {"d", true, {"d"}},
  };
  for (const auto& c : cases) {
    select(tagList, {"a", "b", "c", "d"});
    root->rootText5 = Str(c.saved);
    EXPECT_EQ(restoreTagSelection(tagList, *root), c.restored) << (c.saved ? c.saved : "NIL");
    EXPECT_EQ(selectedOf(tagList), c.selected) << (c.saved ? c.saved : "NIL");
  }
}

TEST_F(FeedListTest, FeedOptionGadgets) {
  newsFeed* rss = feed("R", nullptr);
  rss->filter = Str("iraq");
  rss->summaryIsContents = true;
  newsFeed* twitter = feed("T", nullptr, "Twitter");
  twitter->notUpdates = true;
  feed("F", nullptr, "Facebook");
  fNewsFeeds all(root->firstLoadedFeed, nullptr, &utf8, db.get());
  feedList.addEntries(all);
  newsItem* tweet = item(addItem(twitter, "tweet"), twitter);

  cGuiTick summary("s"), updates("u"), downloadDate("d");
  cGuiString filter("");
  struct {
    std::vector<std::string> selected;
    newsItem* shown;
    const char* filterText;
    bool filterOn, summaryState, summaryOn, updatesState, updatesOn;
  } cases[] = {
      {{"R"}, nullptr, "iraq", true, true, true, false, false},
      {{"T"}, nullptr, "", true, false, false, true, true},
      {{"F"}, nullptr, "", true, false, false, false, false},
      {{"R", "T"}, nullptr, "", false, false, false, false, false},
      {{"R", "F"}, tweet, "", false, false, false, true, true},  // the ticks follow the shown item
      {{}, nullptr, "", false, false, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.selected.empty() ? "none" : c.selected.front() + std::to_string(c.selected.size()));
    select(feedList, c.selected);
    showFeedOptions(*db, c.shown, feedList, &summary, &updates, &filter, &downloadDate);
    EXPECT_EQ(filter.infoText().view(), c.filterText);
    EXPECT_EQ(!filter.infoDisabled(), c.filterOn);
    EXPECT_EQ(!downloadDate.infoDisabled(), c.filterOn);
    EXPECT_EQ(summary.getState(), c.summaryState);
    EXPECT_EQ(!summary.infoDisabled(), c.summaryOn);
    EXPECT_EQ(updates.getState(), c.updatesState);
    EXPECT_EQ(!updates.infoDisabled(), c.updatesOn);
  }
  db->unloadObject(tweet);
}

TEST_F(FeedListTest, TypedSpellingReachesEveryFeed) {
  newsFeed* edited = feed("E", ",news,");
  newsFeed* other = feed("O", ",x,news,");
  newsFeed* third = feed("T", ",Sport,");
  std::unique_ptr<cStringSpace> before = getAllFeedUserTags(*root, &utf8);
  unifyTagSpelling("NEWS,sport,new", edited, *before, *db, *root, &utf8);
  EXPECT_EQ(other->tags.view(), ",x,NEWS,");
  EXPECT_EQ(third->tags.view(), ",sport,");
  EXPECT_EQ(edited->tags.view(), ",news,");  // the edited feed keeps what its dialog stored
}

// An update's row-by-row refresh leaves both lists as the whole refresh
// does: feeds change one or two at a time (dates, flags, names) while their
// names and dates tie, tags are chosen and the user sorts and selects.
TEST_F(FeedListTest, RowByRowRefreshEqualsTheWholeOne) {
  std::mt19937 rng(8121);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const bigTime base = pTime::DateTimeToBigTime(2017, 6, 18, 10, 0, 0);
  const char* tagTexts[] = {nullptr, ",a,", ",b,", ",a,b,"};
  std::vector<newsFeed*> feeds;
  for (int i = 0; i < 40; i++) {
    newsFeed* f = feed(("F" + std::to_string(pick(7))).c_str(), tagTexts[pick(4)]);
    f->newestItemTime = base + 60 * pick(3);
    f->seenUpToTime = base + 60 * pick(3);
    feeds.push_back(f);
  }
  cGuiList wholeTags{nullptr, 1, "Tag"}, wholeFeeds{nullptr, 5, nullptr};
  wholeTags.initMultiSelect(true, true);
  wholeTags.setSortByColumn(0, false);
  wholeFeeds.initMultiSelect(true, true);
  wholeFeeds.setSortByUser(2, true);
  feedList.setSortByUser(2, true);
  for (auto [tags, list] : {std::pair{&tagList, &feedList}, std::pair{&wholeTags, &wholeFeeds}}) {
    rebuildTagChooser(*tags, *root, &utf8);
    fNewsFeeds all(root->firstLoadedFeed, nullptr, &utf8, db.get());
    list->addEntries(all);
  }
  struct Row {
    std::string label;
    int32_t style;
    bool selected, marked;
    const newsFeed* feed;
    bool operator==(const Row&) const = default;
  };
  auto rowsOf = [](cGuiList& list) {
    std::vector<Row> rows;
    for (int32_t i = 0; i < list.infoCount(); i++) {
      const auto* r = list.infoEntryAt(i);
      rows.push_back({r->label.str(), r->style, r->selected, r->marked, feedOfListEntry(r->dataBox.get())});
    }
    return std::pair{rows, list.cursor_infoPosition()};
  };
  std::optional<FeedListRefresh> rowByRow;
  for (int step = 0; step < 400; step++) {
    SCOPED_TRACE("step " + std::to_string(step));
    if (step % 50 == 0) {  // the user between updates: tags, a sort, a selection; a new update
      rowByRow.emplace(feedList, tagList, *db, &utf8, *root);
      const std::vector<std::string> chosen[] = {{}, {"a"}, {"b"}, {"a", "b"}};
      const int c = pick(4), column = pick(5), name = pick(7);
      for (auto [tags, list] : {std::pair{&tagList, &feedList}, std::pair{&wholeTags, &wholeFeeds}}) {
        select(*tags, chosen[c]);
        refreshTagChooserAndFeedList(*list, *tags, *db, &utf8, *root);
        list->titleClick(column);
        select(*list, {"F" + std::to_string(name)});
        list->cursor_gotoStart();
        list->cursor_gotoNext(name);
      }
    }
    for (int n = pick(8) == 0 ? 2 : 1; n > 0; n--) {
      newsFeed* f = feeds[pick(40)];
      switch (pick(6)) {
        case 0: f->newestItemTime = base + 60 * pick(3); break;
        case 1: f->seenUpToTime = base + 60 * pick(3); break;
        case 2: f->hasNewItems = !f->hasNewItems; break;
        case 3: f->downloadFailed = !f->downloadFailed; break;
        case 4: f->title = Str("F" + std::to_string(pick(7))), f->nameCache = Str(); break;
        default: f->downloadLength = 8640 * pick(3); break;
      }
      rowByRow->changed(f);
    }
    rowByRow->refresh();
    refreshTagChooserAndFeedList(wholeFeeds, wholeTags, *db, &utf8, *root);
    ASSERT_EQ(rowsOf(feedList), rowsOf(wholeFeeds));
    ASSERT_EQ(rowsOf(tagList), rowsOf(wholeTags));
  }
}

}  // namespace
}  // namespace bw
