// app/main_windows_test.cpp - the main and contents windows' gadgets in
// building order with their initial states, and the gadget-state rules.
#include "app/main_windows.h"

#include <gtest/gtest.h>

#include "core/box.h"
#include "news/news_orderings.h"
#include "gui/host/core/gui_host_test_support.h"
#include "platform/assigns.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

// One line per item: depth, class, label, "D" when disabled, "H" with help.
void dump(cGuiItem* item, int depth, std::string& out) {
  out += std::string(depth * 2, ' ') + item->className();
  if (item->isOfClass(cGuiLabelledItem::kClassName)) {
    auto* labelled = static_cast<cGuiLabelledItem*>(item);
    if (!labelled->infoLabel().isNil()) out += " '" + std::string(labelled->infoLabel().view()) + "'";
    if (!static_cast<cGuiOutputItem*>(item)->infoHelp().isNil()) out += " H";
  }
  if (item->isOfClass(cGuiInputItem::kClassName) && static_cast<cGuiInputItem*>(item)->infoDisabled()) out += " D";
  if (item->isOfClass(cGuiGroupItem::kClassName)) {
    auto* group = static_cast<cGuiGroupItem*>(item);
    if (!group->infoTitle().isNil()) out += " [" + std::string(group->infoTitle().view()) + "]";
    if (group->infoNoWeight()) out += " noWeight";
    out += "\n";
    for (cGuiItem* child = group->infoFirst(); child; child = child->infoNext()) dump(child, depth + 1, out);
    return;
  }
  out += "\n";
}

class MainWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initNewsModule();
    g.mainWindow = client.window("Brindlework 1.2 (18.06.2017)");
    g.contentsWindow = client.window("News item contents");
  }
  void TearDown() override { endNewsModule(); }
  FakeGuiClient client;
  GuiGadgets g;
  newsRoot root;
  cJournaledIndexedObjectSoupDatabase db{0};
};

TEST_F(MainWindowsTest, MainWindowHoldsEveryGadgetInOrder) {
  buildMainWindow(g, db, root);
  buildContentsWindow(g);
  std::string tree;
  dump(g.mainWindow->infoRootGroup(), 0, tree);
  EXPECT_EQ(tree,
            "cGuiGroupVerticalHost\n"
            "  cGuiGroupHorizontalHost\n"
            "    cGuiGroupVerticalHost\n"
            "      cGuiGroupVerticalHost [Feeds]\n"
            "        cGuiTextHost ''\n"
            "        cGuiGroupHorizontalHost\n"
            "          cGuiGroupVerticalHost\n"
            "            cGuiGroupHorizontalHost noWeight\n"
            "              cGuiButtonHost ' X ' H\n"
            "              cGuiLabelHost 'Filter      '\n"
            "            cGuiListHost\n"
            "            cGuiButtonHost 'Rename'\n"
            "          cGuiBarHost\n"
            "          cGuiGroupVerticalHost\n"
            "            cGuiGroupHorizontalHost\n"
            "              cGuiButtonHost 'Deselect'\n"
            "              cGuiButtonHost 'Update selected' H\n"
            "              cGuiButtonHost 'Update all'\n"
            "              cGuiButtonHost 'Log out'\n"
            "              cGuiButtonHost 'Info'\n"
            "            cGuiListHost\n"
            "            cGuiGroupHorizontalHost\n"
            "              cGuiButtonHost 'Edit'\n"
            "              cGuiButtonHost 'Add'\n"
            "              cGuiGroupPageHost\n"
            "                cGuiGroupHorizontalHost\n"  // the page host's own frame
            "                  cGuiButtonHost 'Disable'\n"
            "                cGuiGroupHorizontalHost\n"
            "                  cGuiButtonHost 'Enable'\n"
            "              cGuiButtonHost 'Delete'\n"
            "              cGuiButtonHost 'Export' H\n"
            "      cGuiGroupVerticalHost [Summary of news item]\n"
            "        cGuiTextHost ''\n"
            "        cGuiTextBoxHost ''\n"
            "        cGuiGroupHorizontalHost\n"
            "          cGuiTickHost 'Summary is the full Contents' H D\n"
            "          cGuiTickHost 'Wrong about news updates' H D\n"
            "          cGuiLabelHost ''\n"
            "          cGuiLabelHost ''\n"
            "          cGuiButtonHost 'Show previous update' D\n"
            "    cGuiGroupVerticalHost [News]\n"
            "      cGuiGroupHorizontalHost\n"
            "        cGuiTextHost ''\n"
            "        cGuiCycleChoiceHost ''\n"
            "      cGuiGroupHorizontalHost\n"
            "        cGuiGroupPageHost\n"
            "          cGuiGroupHorizontalHost\n"
            "            cGuiButtonHost 'Open' D\n"
            "          cGuiGroupHorizontalHost\n"
            "            cGuiButtonHost 'Close' D\n"
            "        cGuiButtonHost 'Open link' D\n"
            "        cGuiButtonHost 'Info' D\n"
            "      cGuiListHost\n"
            "      cGuiGroupHorizontalHost\n"
            "        cGuiCycleChoiceHost ''\n"
            "        cGuiGroupPageHost\n"
            "          cGuiGroupHorizontalHost\n"
            "            cGuiStringHost '' H D\n"
            "          cGuiGroupHorizontalHost\n"
            "            cGuiStringHost '' H\n"
            "      cGuiGroupHorizontalHost\n"
            "        cGuiButtonHost 'Mark unread' D\n"
            "        cGuiButtonHost 'Undo seen' H D\n"
            "        cGuiButtonHost 'Delete item' D\n");
  EXPECT_EQ(g.mainWindow->infoSaveID(), guiSaveId("Main"));
  EXPECT_EQ(g.contentsWindow->infoSaveID(), guiSaveId("ConN"));
  EXPECT_FALSE(g.mainWindow->infoIsOpen());
  EXPECT_FALSE(g.contentsWindow->infoIsOpen());
  EXPECT_TRUE(g.contentsShowPreviousButton->infoDisabled());
  EXPECT_EQ(g.deselectTagsButton->infoHelp().view(), "Deselect filters");
  EXPECT_EQ(g.undoSeenButton->infoHelp().view(),
            "If an accidental click caused some news items to be marked as seen (i.e. not blue),\nthen you can use "
            "this to undo it...  But you can only undo one click, so be careful!");
  EXPECT_TRUE(g.filterString->infoHelp().view().ends_with("e.g. keep me up,keepmeup,fit me up\ne.g. iraq,brexit,~,blair"));
  EXPECT_EQ(g.filterString->infoMaxChars(), 2560);

  // Column titles, alignment and the sort set-up of the three lists.
  EXPECT_EQ(g.tagChooser->infoColumnTitles().view(), "Tag");
  EXPECT_EQ(g.tagChooser->getSortByColumn().column, 0);
  EXPECT_FALSE(g.tagChooser->getSortByColumn().reverse);
  EXPECT_EQ(g.feedList->infoColumnTitles().view(), "Name\tTags\tUpdated\tUnseen\tDownload length");
  EXPECT_EQ(g.feedList->infoSortByUser().column, 2);
  EXPECT_TRUE(g.feedList->infoSortByUser().reverse);
  EXPECT_TRUE(g.feedList->getSelectable().multiSelect);
  EXPECT_EQ(g.newsList->infoColumnTitles().view(), "Date\tFeed\tTitle\tTags");
  EXPECT_EQ(g.newsList->infoColumnAlignment(), "LLLL");
  EXPECT_EQ(g.feedList->infoFillColumn(), 0);  // "Name" and "Title" take the width left
  EXPECT_EQ(g.newsList->infoFillColumn(), 2);
  EXPECT_FALSE(g.newsList->getSelectable().multiSelect);
  EXPECT_EQ(g.newsList->infoSorter().sorter, gCompareNewsItems);
  EXPECT_TRUE(g.showCycle->infoNoWeight());
  EXPECT_TRUE(g.filterSearchCycle->infoNoWeight());
  EXPECT_EQ(g.showCycle->infoChoices().size(), 5u);
  EXPECT_EQ(g.showCycle->infoChoices()[4].view(), "Show ALL");
}

TEST_F(MainWindowsTest, UndoSeenStartsEnabledWithAPreviousSeenTime) {
  newsFeed first, second;
  root.firstLoadedFeed = &first;
  first.nextLoadedFeed = &second;
  EXPECT_FALSE(canUndoSeen(root));
  second.previousSeenUpToTime = 5000;
  EXPECT_TRUE(canUndoSeen(root));
  buildMainWindow(g, db, root);
  EXPECT_FALSE(g.undoSeenButton->infoDisabled());
  root.firstLoadedFeed = nullptr;
  EXPECT_FALSE(canUndoSeen(root));
}

TEST_F(MainWindowsTest, FeedGadgetsFollowTheSelection) {
  buildMainWindow(g, db, root);
  newsFeed enabled, disabled;
  disabled.disabled = true;
  g.feedList->addEntry(Str("A"), 0, false, 0, std::make_unique<boxPTR>(&enabled));
  g.feedList->addEntry(Str("B"), 0, false, 0, std::make_unique<boxPTR>(&disabled));
  struct {
    std::vector<int32_t> selected;
    bool buttonsDisabled, pageDisabled;
    int32_t page;
  } cases[] = {{{}, true, true, 0}, {{1}, false, false, 1}, {{0}, false, false, 0}, {{0, 1}, false, true, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.selected.size());
    g.feedList->markAll();
    g.feedList->marked_setState(false);
    g.feedList->marked_clear();
    for (int32_t row : c.selected) g.feedList->entryAt(row)->marked = true;
    g.feedList->marked_setState(true);
    updateFeedGadgets(g);
    for (cGuiButton* b : {g.deselectButton, g.feedInfoButton, g.editButton, g.deleteButton})
      EXPECT_EQ(b->infoDisabled(), c.buttonsDisabled) << b->infoLabel().view();
    EXPECT_EQ(g.disableEnablePage->getState(), c.page);
    EXPECT_EQ(g.disableButton->infoDisabled(), c.pageDisabled);
    EXPECT_EQ(g.enableButton->infoDisabled(), c.pageDisabled);
  }
}

TEST_F(MainWindowsTest, BodyTextsAndNewsItemGadgets) {
  buildMainWindow(g, db, root);
  buildContentsWindow(g);
  newsFeed plain, summaryIsContents;
  summaryIsContents.summaryIsContents = true;
  struct {
    const char *contents, *summary;
    bool summaryFeed;
    const char *wantContents, *wantSummary;  // nullptr: NIL
  } cases[] = {
      {"text", "sum", false, "text", "sum"},
      {" \t\r\n ", "sum", false, nullptr, "sum"},
      {" \n", "sum", true, "sum", nullptr},
      {nullptr, nullptr, true, nullptr, nullptr},
      {"text", "sum", true, "text", "sum"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.contents ? c.contents : "NIL");
    newsItem item;
    item.setFeed(c.summaryFeed ? &summaryIsContents : &plain);
    newsItemBody body;
    body.content = c.contents ? Str(c.contents) : Str();
    body.summary = c.summary ? Str(c.summary) : Str();
    BodyTexts texts = hasNonBlankBody(db, &item, &body);
    EXPECT_EQ(texts.contents.isNil(), c.wantContents == nullptr);
    if (c.wantContents) {
      EXPECT_EQ(texts.contents.view(), c.wantContents);
    }
    EXPECT_EQ(texts.summary.isNil(), c.wantSummary == nullptr);
    if (c.wantSummary) {
      EXPECT_EQ(texts.summary.view(), c.wantSummary);
    }
    EXPECT_TRUE(hasNonBlankBody(db, &item, nullptr).contents.isNil());

    g.shownItem = &item;
    g.shownBody = &body;
    item.link = Str(c.summaryFeed ? "" : "http://x/");
    item.olderDuplicateItemIndex = c.summaryFeed ? 7 : 0;
    updateNewsItemGadgets(db, g);
    EXPECT_EQ(g.openButton->infoDisabled(), c.wantContents == nullptr);
    EXPECT_EQ(g.openLinkButton->infoDisabled(), c.summaryFeed);
    EXPECT_EQ(g.showPreviousButton->infoDisabled(), !c.summaryFeed);
    EXPECT_EQ(g.contentsShowPreviousButton->infoDisabled(), !c.summaryFeed);
    EXPECT_FALSE(g.newsInfoButton->infoDisabled());
    item.setFeed(nullptr);
  }
  g.shownItem = nullptr;
  g.shownBody = nullptr;
  updateNewsItemGadgets(db, g);
  for (cGuiButton* b : {g.openButton, g.openLinkButton, g.newsInfoButton, g.showPreviousButton})
    EXPECT_TRUE(b->infoDisabled()) << b->infoLabel().view();

  newsItem item;
  updateNewsItemMarkGadgets(nullptr, g.markUnreadButton, nullptr);
  EXPECT_TRUE(g.markUnreadButton->infoDisabled());
  item.seen = true;
  updateNewsItemMarkGadgets(&item, g.markUnreadButton, nullptr);
  EXPECT_FALSE(g.markUnreadButton->infoDisabled());
}

TEST(ToolbarImages, PathDependsOnTheProgramFolder) {
  testing_paths::TempTree tree("ToolbarTest");
  ::setenv("BRINDLEWORK_PROGDIR", tree.host().c_str(), 1);
  dos::resetAssigns();
  EXPECT_EQ(getToolbarImagePath("update"), "tbimages:/update");
  std::filesystem::create_directories(tree.host("tbimages"));
  EXPECT_EQ(getToolbarImagePath("update"), "PROGDIR:/tbimages/update");
  ::setenv("XDG_DATA_HOME", tree.host("data").c_str(), 1);
  ::setenv("XDG_DATA_DIRS", "/a:/b", 1);
  assignToolbarImages();
  const dos::DeviceLookup found = dos::lookupDevice("tbimages");
  EXPECT_EQ(found.folders, (std::vector<std::string>{tree.host("data").string() + "/brindlework/tbimages",
                                                     "/a/brindlework/tbimages", "/b/brindlework/tbimages"}));
  ::unsetenv("XDG_DATA_HOME");
  ::unsetenv("XDG_DATA_DIRS");
  ::unsetenv("BRINDLEWORK_PROGDIR");
  dos::resetAssigns();
}

}  // namespace
}  // namespace bw
