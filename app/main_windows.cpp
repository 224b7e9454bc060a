// app/main_windows.cpp - building the main and contents windows, and the
// gadget-state procedures.
#include "app/main_windows.h"

#include "app/feed_list.h"
#include <cstdlib>

#include "core/box.h"
#include "news/news_orderings.h"
#include "database/soup_block_file.h"
#include "platform/assigns.h"
#include "platform/path.h"

namespace bw {
namespace {

constexpr const char* kFilterHelp =
    "News items will be hidden if their Title matches any of these words & phrases (which must be separated by "
    "commas).\nYou can match incomplete words by beginning/ending it with an _ character (it will then allow "
    "something other than a space to occur before/after it).\nOr you can match the news item's URL by beginning "
    "with url:\nOr you can match one of the news item's Tags by beginning with tag:\nAnd the Filter for each feed is "
    "automatically saved!\n\nUse the ~ character to invert the filter after that point (i.e. it shows rather than "
    "hides matching news items).\nYou can use ~ more than once, which makes it easy to fix filters which match too "
    "many news items.\nNote that putting ~ at the start of the Filter can be used to show all the news items that "
    "are normally hidden, so you can check that you are not hiding too much!\n\ne.g. keep me up,keepmeup,fit me "
    "up\ne.g. iraq,brexit,~,blair";
constexpr const char* kSearchHelp =
    "News items will be shown if their Title matches any of these words & phrases (which must be separated by "
    "commas).\nBut otherwise Search uses the same syntax as Filter.";
constexpr const char* kUndoSeenHelp =
    "If an accidental click caused some news items to be marked as seen (i.e. not blue),\nthen you can use this to "
    "undo it...  But you can only undo one click, so be careful!";
constexpr const char* kSummaryIsContentsHelp =
    "Some RSS feeds put the entire news item's Contents in the part intended for the Summary.\n\nTicking this "
    "allows you fix the problem for the current feed.";
constexpr const char* kWrongAboutUpdatesHelp =
    "Some Twitter feeds have news items which look like they are updates, due to linking to similar URLs.\n\n"
    "Ticking this allows you to fix the problem for the current feed.";

// A button with its toolbar image (none for an empty name).
cGuiButton* addImageButton(cGuiWindow& w, const char* label, std::string_view image) {
  cGuiButton* button = w.addButton(label);
  if (!image.empty()) button->initImage(Text(getToolbarImagePath(image)));
  return button;
}

StrChain chainOf(const auto& labels) {
  StrChain chain;
  for (const char* label : labels) chain.emplace_back(label);
  return chain;
}

bool isBlank(const Str& text) {
  for (char c : text.view())
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
  return true;
}

void buildFeedsGroup(cGuiWindow& w, GuiGadgets& g, cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
  w.beginGroupVertical("Feeds");
  g.feedStatusText = w.addText("");
  w.beginGroupHorizontal(nullptr);
  w.beginGroupVertical(nullptr);  // tag column
  w.beginGroupHorizontal(nullptr)->initNoWeight();
  g.deselectTagsButton = w.addButton(" X ")->setHelp("Deselect filters");
  w.addLabel("Filter      ");
  w.endGroup();
  g.tagChooser = w.beginList(1, nullptr);
  g.tagChooser->initMultiSelect(true, true)->initColumnTitles("Tag");
  g.tagChooser->setSortByColumn(0, false);
  rebuildTagChooser(*g.tagChooser, root, g.charset.get());
  w.endList();
  g.renameTagButton = addImageButton(w, "Rename", "rename");
  w.endGroup();
  w.addBar(nullptr);
  w.beginGroupVertical(nullptr);  // feed column
  w.beginGroupHorizontal(nullptr);
  g.deselectButton = addImageButton(w, "Deselect", "selectnone");
  g.updateSelectedButton = addImageButton(w, "Update selected", "update")
                               ->setHelp("If no feeds are selected, then all visible feeds will be updated.");
  g.updateAllButton = addImageButton(w, "Update all", "update");
  g.logOutButton = addImageButton(w, "Log out", "userremove");
  g.feedInfoButton = addImageButton(w, "Info", "info");
  w.endGroup();
  g.feedList = w.beginList(5, nullptr);
  g.feedList->initMultiSelect(true, true)->initColumnTitles("Name\tTags\tUpdated\tUnseen\tDownload length");
  g.feedList->initFillColumn(0)->initDateColumn(2)->initDateColumn(3);
  g.feedList->setRowHelp([](const cGuiList::Row& row) { return Str(feedRowHelp(feedOfListEntry(row.dataBox.get()))); });
  g.feedList->setSortByUser(2, true);
  fNewsFeeds feeds(root.firstLoadedFeed, nullptr, g.charset.get(), &db);
  g.feedList->addEntries(feeds);
  w.endList();
  w.beginGroupHorizontal(nullptr);
  g.editButton = addImageButton(w, "Edit", "rename");
  g.addButton = addImageButton(w, "Add", "add");
  g.disableEnablePage = w.beginGroupPage(nullptr);
  g.disableButton = addImageButton(w, "Disable", "off");
  g.enableButton = addImageButton(w, "Enable", "ok");
  w.endGroup();
  g.deleteButton = addImageButton(w, "Delete", "delete");
  g.exportButton = addImageButton(w, "Export", "")->setHelp("Saves every feed to an OPML file.");
  w.endGroup();
  w.endGroup();  // feed column
  w.endGroup();  // tag and feed columns
  w.endGroup();  // "Feeds"
}

void buildSummaryGroup(cGuiWindow& w, GuiGadgets& g) {
  w.beginGroupVertical("Summary of news item");
  g.summaryTitleText = w.addText("");
  g.summaryTextBox = w.addTextBox("");
  w.beginGroupHorizontal(nullptr);
  g.summaryIsContentsTick =
      w.addTick("Summary is the full Contents")->setHelp(kSummaryIsContentsHelp)->setDisabled(true);
  g.wrongAboutUpdatesTick =
      w.addTick("Wrong about news updates")->setHelp(kWrongAboutUpdatesHelp)->setDisabled(true);
  w.addLabel("");
  w.addLabel("");
  g.showPreviousButton = addImageButton(w, "Show previous update", "jump_back")->setDisabled(true);
  w.endGroup();
  w.endGroup();
}

void buildNewsGroup(cGuiWindow& w, GuiGadgets& g, newsRoot& root) {
  w.beginGroupVertical("News");
  w.beginGroupHorizontal(nullptr);
  g.newsStatusText = w.addText("");
  g.showCycle = w.addCycleChoice("", chainOf(kShowCycleLabels))->initNoWeight();
  w.endGroup();
  w.beginGroupHorizontal(nullptr);
  g.openClosePage = w.beginGroupPage(nullptr);
  g.openButton = addImageButton(w, "Open", "show");
  g.closeButton = addImageButton(w, "Close", "show");
  w.endGroup();
  g.openClosePage->setDisabled(true);
  g.openLinkButton = addImageButton(w, "Open link", "searchweb")->setDisabled(true);
  g.newsInfoButton = addImageButton(w, "Info", "info")->setDisabled(true);
  w.endGroup();
  g.newsList = w.beginList(4, nullptr);
  g.newsList->initMultiSelect(false, false)->initColumnTitles("Date\tFeed\tTitle\tTags");
  g.newsList->initColumnAlignment("LLLL")->initFillColumn(2)->initDateColumn(0);
  g.newsList->setSortByFunction(gCompareNewsItems);
  w.endList();
  w.beginGroupHorizontal(nullptr);
  g.filterSearchCycle = w.addCycleChoice("", chainOf(kFilterSearchLabels))->initNoWeight();
  g.filterSearchPage = w.beginGroupPage(nullptr);
  w.beginGroupHorizontal(nullptr);
  g.filterString = w.addString("")->initMaxChars(2560);
  g.filterString->setDisabled(true)->setHelp(kFilterHelp);
  w.endGroup();
  g.searchString = w.addString("")->initMaxChars(2560);
  g.searchString->setHelp(kSearchHelp);
  w.endGroup();
  w.endGroup();
  w.beginGroupHorizontal(nullptr);
  g.markUnreadButton = addImageButton(w, "Mark unread", "undo")->setDisabled(true);
  g.undoSeenButton = addImageButton(w, "Undo seen", "undo")->setDisabled(!canUndoSeen(root))->setHelp(kUndoSeenHelp);
  g.undoSeen.button = g.undoSeenButton;
  g.deleteItemButton = addImageButton(w, "Delete item", "delete")->setDisabled(true);
  w.endGroup();
  w.endGroup();
}

}  // namespace

void buildMainWindow(GuiGadgets& g, cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
  cGuiWindow& w = *g.mainWindow;
  w.initSaveID(guiSaveId("Main"));
  w.beginGroupVertical(nullptr);
  w.beginGroupHorizontal(nullptr);
  w.beginGroupVertical(nullptr);  // left column
  buildFeedsGroup(w, g, db, root);
  buildSummaryGroup(w, g);
  w.endGroup();
  buildNewsGroup(w, g, root);
  w.endGroup();
  w.endGroup();
  w.build(true);
}

void buildContentsWindow(GuiGadgets& g) {
  cGuiWindow& w = *g.contentsWindow;
  w.initSaveID(guiSaveId("ConN"));
  w.beginGroupVertical(nullptr);
  g.contentsTitleText = w.addText("");
  g.contentsTextBox = w.addTextBox("");
  w.beginGroupHorizontal(nullptr);
  w.addLabel("");
  g.contentsShowPreviousButton = addImageButton(w, "Show previous update", "jump_back")->setDisabled(true);
  w.endGroup();
  w.endGroup();
  w.build(true);
}

std::string getToolbarImagePath(std::string_view name) {
  const std::string base = cPath::ExistsPath("PROGDIR:/tbimages/", false) ? "PROGDIR:/tbimages/" : "tbimages:/";
  return base + std::string(name);
}

void assignToolbarImages() {
  constexpr const char* kFolder = "/brindlework/tbimages";
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) {
    dos::assignAdd("tbimages", std::string(data) + kFolder);
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    dos::assignAdd("tbimages", std::string(home) + "/.local/share" + kFolder);
  }
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  std::string_view rest = (dirs && *dirs) ? dirs : "/usr/local/share:/usr/share";
  while (!rest.empty()) {
    const size_t colon = rest.find(':');
    const std::string_view dir = rest.substr(0, colon);
    if (!dir.empty()) dos::assignAdd("tbimages", std::string(dir) + kFolder);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  }
}

bool canUndoSeen(const newsRoot& root) {
  for (const newsFeed* feed = root.firstLoadedFeed; feed; feed = feed->nextLoadedFeed)
    if (feed->previousSeenUpToTime != kDateUnset) return true;
  return false;
}

BodyTexts hasNonBlankBody(cJournaledIndexedObjectSoupDatabase& db, newsItem* item, newsItemBody* body) {
  if (!item || !body) return {};
  BodyTexts texts{isBlank(body->content) ? Str() : body->content, body->summary};
  if (texts.contents.isNil() && item->infoFeed(&db)->summaryIsContents) {
    texts.contents = texts.summary;
    texts.summary = Str();
  }
  return texts;
}

void joinListWithCommas(cGuiList& tagChooser, cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
  std::string joined;
  bool any = false;
  for (bool more = tagChooser.cursor_gotoFirstSelected(); more; more = tagChooser.cursor_gotoNextSelected()) {
    if (any) joined += ',';
    joined += tagChooser.cursor_infoLabel().view();
    any = true;
  }
  SoupTransaction transaction(db.infoBlockFile());
  // The root's fifth text is the saved tag selection.
  root.rootText5 = any ? Str(joined) : Str();
  db.saveChangesToObject(&root);
  transaction.finish();
}

newsFeed* feedAtCursor(cGuiList& feedList) {
  return feedList.infoCount() == 0 ? nullptr : feedOfListEntry(feedList.cursor_getDataBox());
}

void updateFeedGadgets(GuiGadgets& g) {
  const int32_t n = g.feedList->infoSelectionCount();
  g.deselectButton->setDisabled(n == 0);
  g.feedInfoButton->setDisabled(n == 0);
  g.editButton->setDisabled(n == 0);
  g.disableEnablePage->setDisabled(n != 1);
  if (n == 1 && g.feedList->cursor_gotoFirstSelected()) {
    if (newsFeed* feed = feedAtCursor(*g.feedList)) g.disableEnablePage->setState(feed->disabled ? 1 : 0);
  }
  g.deleteButton->setDisabled(n == 0);
}

void updateNewsItemMarkGadgets(newsItem* item, cGuiButton* markUnread, cGuiGroupPage* setClearPage) {
  markUnread->setDisabled(!item || !item->seen);
  if (!setClearPage) return;
  const bool marked = item && item->secondMark;
  setClearPage->setDisabled(!(item && item->seen && marked));
  setClearPage->setState(marked ? 1 : 0);
}

void updateNewsItemGadgets(cJournaledIndexedObjectSoupDatabase& db, GuiGadgets& g) {
  newsItem* shown = g.shownItem;
  const bool noChain = !shown || !shown->infoIsDuplicate();
  g.showPreviousButton->setDisabled(noChain);
  g.contentsShowPreviousButton->setDisabled(noChain);
  g.openClosePage->setDisabled(hasNonBlankBody(db, shown, g.shownBody).contents.isNil());
  g.openLinkButton->setDisabled(!shown || shown->link.isNil() || shown->link.length() == 0);
  g.newsInfoButton->setDisabled(!shown);
  if (g.deleteItemButton) g.deleteItemButton->setDisabled(!shown);
}

void releaseShownItem(cJournaledIndexedObjectSoupDatabase& db, GuiGadgets& g) {
  newsItem* selected = g.selectedItem;
  newsItem* shown = g.shownItem;
  newsItemBody* body = g.shownBody;
  g.selectedItem = g.shownItem = nullptr;
  g.shownBody = nullptr;
  if (selected) db.unloadObject(selected);
  if (shown) db.unloadObject(shown);
  if (body) db.unloadObject(body);
}

}  // namespace bw
