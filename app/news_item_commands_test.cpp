// app/news_item_commands_test.cpp - the news-side commands on the main and
// contents windows as gui builds them, offscreen: rows selected and
// activated through the list host, commands run as the loop runs them.
#include "app/news_item_commands.h"

#include <filesystem>

#include "app/gui_user_test_support.h"
#include "app/news_item_test_support.h"
#include "app/news_list.h"
#include "app/show_filter_search.h"
#include "gui/host/core/gui_list_host.h"
#include "platform/spawn_test_support.h"

namespace bw {
namespace {

using testing_app::screenshot;
using testing_news::kNow;

class NewsCommandsTest : public testing_app::NewsItemGuiTest {
 protected:
  void SetUp() override {
    NewsItemGuiTest::SetUp();
    feed->title = Str("News");
    feed->seenUpToTime = kNow - 864000;
    feed->newestItemTime = kNow;
  }
  void TearDown() override {
    if (g.mainWindow) {
      releaseShownItem(*db, g);
      endGuiWindow(g.contentsWindow);
      endGuiWindow(g.mainWindow);
    }
    NewsItemGuiTest::TearDown();
  }
  // The main and contents windows as gui builds them, the main one open,
  // the news list filled.
  void build() {
    g.charset = utf8.clone();
    g.mainWindow = cGuiHost::CreateGuiWindow(kMainWindowBanner);
    g.contentsWindow = cGuiHost::CreateGuiWindow("News item contents");
    buildMainWindow(g, *db, *root);
    buildContentsWindow(g);
    g.mainWindow->open();
    refill();
  }
  // "Show ALL": seeing a row leaves the others listed.
  void showAll() {
    g.showCycle->setState(kShowAll);
    showCycleChanged(*db, *root, g);
  }
  void refill() { fillNewsItemList(*db, g.charset.get(), *root, g.feedList, *g.newsList, g.newsStatusText, g.showCycle); }
  int32_t rowOf(int32_t index) {
    for (int32_t row = 0; row < g.newsList->infoCount(); ++row)
      if (g.newsList->infoEntryAt(row)->data == index) return row;
    ADD_FAILURE() << "no row for item " << index;
    return -1;
  }
  // The user selects (double-click: activates) the item's row.
  void select(int32_t index, bool doubleClick = false) {
    auto* list = static_cast<cGuiListHost*>(g.newsList);
    list->userSelected({rowOf(index)}, rowOf(index));
    if (doubleClick) list->userDoubleClicked(rowOf(index));
    deliver();
    newsListChanged(*db, *root, g);
  }
  // Hands the queued events to their gadgets, as the loop's wait does.
  static void deliver() {
    while (cGuiHost::checkForChangedGuiItem(true).window) {
    }
  }
  std::string contents() { return g.contentsTextBox->getState().str(); }
  int32_t shownIndex() { return g.shownItem ? g.shownItem->infoSoupIndex() : 0; }
  bool seen(int32_t index) {
    HeldItem it(*db, item(index, feed));
    return it->seen;
  }

  GuiGadgets g;
};

TEST_F(NewsCommandsTest, ARowShowsItsNewestUpdateAndShowPreviousWalksTheChain) {
  int32_t newest = add(feed, "Story", nullptr, "v3");
  int32_t middle = add(feed, "Story", nullptr, "v2");
  int32_t oldest = add(feed, "Story", nullptr, "v1");
  chain(feed, {newest, middle, oldest});
  build();
  ASSERT_EQ(g.newsList->infoCount(), 1);  // the chain's one row
  select(oldest);
  EXPECT_EQ(shownIndex(), newest);
  EXPECT_EQ(contents(), "v3" + std::string(kMinusRule) + "v2" + kMinusRule + "v1");
  EXPECT_FALSE(g.showPreviousButton->infoDisabled());
  EXPECT_FALSE(g.contentsShowPreviousButton->infoDisabled());
  openOrCloseContents(*db, *root, g);
  EXPECT_TRUE(g.contentsWindow->infoIsOpen());
  EXPECT_EQ(g.contentsWindow->infoWidth(), g.mainWindow->infoWidth() / 2);
  screenshot(g.contentsWindow, "contents_window_chain_of_three");

  const struct {
    int32_t index;
    const char *title, *text;
  } walk[] = {{middle, "Story", "v2"}, {oldest, "* Story", "v1"}, {newest, "Story", nullptr}};
  for (const auto& step : walk) {
    showPreviousUpdate(*db, g);
    EXPECT_EQ(shownIndex(), step.index);
    EXPECT_EQ(g.contentsTitleText->getState().str(), step.title);
    EXPECT_EQ(g.summaryTitleText->getState().str(), step.title);
    if (step.text) {
      EXPECT_EQ(contents(), step.text);
    }
  }
  EXPECT_TRUE(g.contentsWindow->infoIsOpen());
}

TEST_F(NewsCommandsTest, ActivatingARowOpensTheContentsOnlyWithSomethingToShow) {
  int32_t blank = add(feed, "Blank", nullptr, nullptr);
  int32_t full = add(feed, "Full", "A summary", "The contents");
  build();
  select(blank, true);
  EXPECT_FALSE(g.contentsWindow->infoIsOpen());
  EXPECT_TRUE(g.openButton->infoDisabled());
  EXPECT_FALSE(seen(blank));

  select(full, true);
  EXPECT_TRUE(g.contentsWindow->infoIsOpen());
  EXPECT_EQ(g.openClosePage->getState(), 1);
  EXPECT_TRUE(seen(full));
  EXPECT_FALSE(g.markUnreadButton->infoDisabled());

  // "Mark unread" closes the contents window and clears both marks.
  {
    HeldItem it(*db, item(full, feed));
    it->secondMark = true;
  }
  markNewsItemUnread(*db, g);
  EXPECT_FALSE(g.contentsWindow->infoIsOpen());
  EXPECT_EQ(g.openClosePage->getState(), 0);
  HeldItem it(*db, item(full, feed));
  EXPECT_FALSE(it->seen);
  EXPECT_FALSE(it->secondMark);
  EXPECT_TRUE(g.markUnreadButton->infoDisabled());
  EXPECT_EQ(g.newsList->infoEntryAt(rowOf(full))->style & 4, 4);  // bold again: unread

  // A render with nothing to show closes an open contents window.
  openOrCloseContents(*db, *root, g);
  ASSERT_TRUE(g.contentsWindow->infoIsOpen());
  select(blank);
  EXPECT_FALSE(g.contentsWindow->infoIsOpen());
}

TEST_F(NewsCommandsTest, OpenLinkOpensOnlyWebLinksAsOneArgument) {
  using namespace testing_support;
  TempDir dir;
  const std::string opener = dir.recorder("opener");
  EnvScope browser("BROWSER", opener.c_str());
  const struct {
    const char* link;
    const char* refusal;  // NIL: opened
  } cases[] = {
      {"http://example.org/?q=\"a\";b&c=$(touch pwned) `id`", nullptr},
      {"HTTPS://example.org/x", nullptr},
      {"file:///etc/passwd", "only web links (http:// and https://) are opened"},
      {"javascript:alert(1)", "only web links (http:// and https://) are opened"},
      {"http://example.org/a\nb", "the link holds control characters"},
      {"/usr/bin/xterm", "only web links (http:// and https://) are opened"},
  };
  for (const auto& c : cases) add(feed, c.link, nullptr, "text");
  build();
  for (int32_t row = 0; row < g.newsList->infoCount(); ++row) {
    const int32_t index = g.newsList->infoEntryAt(row)->data;
    HeldItem it(*db, item(index, feed));
    it->link = it->title;
    const auto& c = *std::find_if(std::begin(cases), std::end(cases),
                                  [&](const auto& k) { return it->title.view() == k.link; });
    SCOPED_TRACE(c.link);
    std::filesystem::remove(opener + ".args");
    select(index);
    ::testing::internal::CaptureStdout();
    openNewsItemLink(*db, *root, g);
    std::string printed = ::testing::internal::GetCapturedStdout();
    if (!c.refusal) {
      EXPECT_EQ(recordedArgs(opener), std::vector<std::string>{c.link});
      EXPECT_EQ(printed, "");
    } else {
      // The user is told why, here on the console as a requester would.
      EXPECT_EQ(printed, "\nThis link cannot be opened:\n" + std::string(c.link) + "\n" + c.refusal + "\n\n\n");
      EXPECT_FALSE(std::filesystem::exists(opener + ".args"));
    }
    EXPECT_TRUE(it->seen);
    EXPECT_FALSE(g.contentsWindow->infoIsOpen());
  }
  EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST_F(NewsCommandsTest, SummaryIsContentsRendersTheSummaryAndKeepsTheWindowOpen) {
  int32_t index = add(feed, "Title", "The summary", "");
  build();
  select(index);
  EXPECT_TRUE(g.openButton->infoDisabled());  // no contents
  EXPECT_EQ(contents(), "");
  g.contentsWindow->open();
  g.summaryIsContentsTick->setState(true);
  summaryIsContentsTicked(*db, *root, g);
  EXPECT_TRUE(feed->summaryIsContents);
  EXPECT_EQ(contents(), "The summary");
  EXPECT_FALSE(g.openButton->infoDisabled());
  EXPECT_TRUE(g.contentsWindow->infoIsOpen());
  EXPECT_TRUE(seen(index));
}

TEST_F(NewsCommandsTest, WrongAboutUpdatesRebuildsTheChainsAndRefills) {
  int32_t newer = add(feed, "Story", nullptr, "v2");
  int32_t older = add(feed, "Story", nullptr, "v1");
  for (int32_t index : {newer, older}) {
    HeldItem it(*db, item(index, feed));
    it->uniqueID = Str("same");
    db->saveChangesToObject(it.get());
  }
  chain(feed, {newer, older});
  build();
  showAll();
  EXPECT_EQ(g.newsList->infoCount(), 1);
  select(older);
  EXPECT_EQ(shownIndex(), newer);
  g.wrongAboutUpdatesTick->setState(true);
  wrongAboutUpdatesTicked(*db, *root, g);
  EXPECT_TRUE(feed->notUpdates);
  EXPECT_EQ(g.newsList->infoCount(), 2);  // no chains: one row each
  EXPECT_EQ(shownIndex(), older);
  EXPECT_EQ(contents(), "v1");
  g.wrongAboutUpdatesTick->setState(false);
  wrongAboutUpdatesTicked(*db, *root, g);
  EXPECT_EQ(g.newsList->infoCount(), 1);
}

TEST_F(NewsCommandsTest, TheNeverBuiltDeleteCommandRefillsOrShrinksTheList) {
  int32_t newest = add(feed, "Story", nullptr, "v2");
  int32_t oldest = add(feed, "Story", nullptr, "v1");
  int32_t lone = add(feed, "Lone", nullptr, "x");
  chain(feed, {newest, oldest});
  build();
  showAll();
  select(oldest);
  ui.answers = {1, 0};  // delete, but not the older update
  EXPECT_FALSE(deleteShownNewsItem(*db, *root, g));
  EXPECT_EQ(g.shownItem, nullptr);
  EXPECT_EQ(g.summaryTitleText->getState().str(), "");
  EXPECT_EQ(g.newsList->infoCount(), 2);  // refilled: the oldest update alone
  select(lone);
  ui.answers = {1};
  EXPECT_FALSE(deleteShownNewsItem(*db, *root, g));
  EXPECT_EQ(g.newsList->infoCount(), 1);
  EXPECT_EQ(g.newsStatusText->getState().str(), "1 news items shown");
}

TEST_F(NewsCommandsTest, ShowFilterAndSearchRefillTheList) {
  add(feed, "Iraq report", nullptr, "x");
  add(feed, "Foo fighters", nullptr, "x");
  add(feed, "Weather", nullptr, "x");
  build();
  EXPECT_EQ(g.newsList->infoCount(), 3);
  g.showCycle->setState(kShowAll);
  showCycleChanged(*db, *root, g);
  EXPECT_EQ(root->showLimitTime, kDateUnset);
  EXPECT_EQ(g.newsList->infoCount(), 3);

  static_cast<cGuiListHost*>(g.feedList)->userSelected({0}, 0);
  deliver();
  g.filterString->setDisabled(false);
  g.filterString->setState("IRAQ,  weather");
  filterStringChanged(*db, *root, g, g.filterString, nullptr);
  EXPECT_EQ(g.filterString->getState().str(), "iraq,weather");
  EXPECT_EQ(feed->filter.str(), "iraq,weather");
  EXPECT_EQ(g.newsList->infoCount(), 1);

  g.filterSearchCycle->setState(kSearchMode);
  filterSearchCycleChanged(*db, *root, g);
  EXPECT_EQ(g.newsList->infoCount(), 3);  // the one empty word changes nothing; Filters are ignored
  g.searchString->setState("Foo");
  searchStringChanged(*db, *root, g);
  EXPECT_EQ(g.searchString->getState().str(), "foo");
  EXPECT_EQ(g.newsList->infoCount(), 1);
  EXPECT_EQ(g.newsStatusText->getState().str(), "1 news items shown");
}

}  // namespace
}  // namespace bw

namespace bw::testing_app {
namespace {

// A whole windowed run: "Show previous update" in the contents window walks
// the chain as the main window's button does.
TEST_F(GuiProgramTest, ShowPreviousUpdateFromEitherWindow) {
  makeEmptyDatabase("database.soup");
  withDatabase("database.soup", [](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    newsFeed* feed = loadObject_newsFeed(db, addFeed(db, root, "Chain", 3));
    std::vector<int32_t> items;
    for (int32_t i = feed->itemList->infoHeadIndex(); i; i = db.readObjectNodeHeader(i).nextIndex) items.push_back(i);
    HeldItem oldest(db, loadObject_newsItem2(db, items[2], feed));
    for (int32_t newer : {items[1], items[0]}) {
      HeldItem it(db, loadObject_newsItem2(db, newer, feed));
      oldest->addAsNewestDuplicate(db, it.get());
    }
    oldest.reset(nullptr);
    db.unloadObject(feed);
  });
  auto shownTitle = [] { return std::string(gadget<cGuiText>(contentsWindow(), "")->getState().view()); };
  cGuiList* news = nullptr;
  EXPECT_EQ(runGui({
                [&] { gadget<cGuiCycleChoice>(mainWindow(), "")->setState(4); },  // "Show ALL"
                [&] {
                  eachItem(mainWindow()->infoRootGroup(), [&](cGuiItem* i) {
                    if (i->isOfClass(cGuiList::kClassName) && static_cast<cGuiList*>(i)->infoColumns() == 4)
                      news = static_cast<cGuiList*>(i);
                  });
                  ASSERT_NE(news, nullptr);
                  ASSERT_EQ(news->infoCount(), 1);
                  selectRows(news, {0});
                },
                [&] {
                  EXPECT_EQ(shownTitle(), "Chain item 0");  // the newest update
                  click(contentsWindow(), gadget<cGuiButton>(contentsWindow(), "Show previous update"));
                },
                [&] {
                  EXPECT_EQ(shownTitle(), "Chain item 1");
                  click(mainWindow(), gadget<cGuiButton>(mainWindow(), "Show previous update"));
                },
                [&] {
                  EXPECT_EQ(shownTitle(), "* Chain item 2");
                  closeWindow(mainWindow());
                },
            }),
            0);
}

}  // namespace
}  // namespace bw::testing_app
