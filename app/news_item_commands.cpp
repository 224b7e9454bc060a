// app/news_item_commands.cpp - the news-side commands of the command loop.
#include "app/news_item_commands.h"

#include <cstdio>
#include <string_view>

#include "app/console_ui.h"
#include "app/news_item_delete.h"
#include "app/program_identity.h"
#include "app/news_item_text.h"
#include "app/news_list.h"
#include "app/feed_list.h"
#include "app/show_filter_search.h"
#include "app/update_feeds.h"
#include "app/window_sizes.h"
#include "database/soup_block_file.h"
#include "gui/host/gui_natives.h"
#include "news/news_load.h"
#include "platform/commands.h"
#include "social/social_links.h"

namespace bw {
namespace {

const cEncoding* charsetOf(const GuiGadgets& g) { return g.charset.get(); }

// The selected item counts as seen.
void seen(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g) {
  if (!g.selectedItem || g.selectedItem->seen) return;
  markNewsItemSeen(*g.selectedItem, *g.newsList, *g.feedList, *g.tagChooser, g.undoSeenButton, db, charsetOf(g),
                   root);
  updateNewsItemMarkGadgets(g.selectedItem, g.markUnreadButton, g.setClearMarkPage);
}

void closeContents(GuiGadgets& g) {
  g.contentsWindow->close();
  g.openClosePage->setState(0);
}

// The shown item into the summary and contents gadgets; an open contents
// window closes when there is nothing to show, else the item counts as seen.
// The caller makes the main window busy.
void render(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g) {
  bool nothing = renderNewsItemText(db, *g.shownItem, g.shownBody, charsetOf(g), g.summaryTitleText,
                                    g.summaryTextBox, g.contentsTitleText, g.contentsTextBox);
  if (!g.contentsWindow->infoIsOpen()) return;
  if (nothing)
    closeContents(g);
  else
    seen(db, root, g);
}

void showContents(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g) {
  sizeContentsWindow(g.mainWindow, g.contentsWindow);
  g.contentsWindow->open();
  g.openClosePage->setState(1);
  guiWindowToFront(g.contentsWindow);
  seen(db, root, g);
}

// The feed the two ticks are about: the one selected feed, else the shown
// item's; NIL when neither.
newsFeed* tickFeed(cJournaledIndexedObjectSoupDatabase& db, GuiGadgets& g, bool needBody) {
  if (newsFeed* selected = singleSelectedFeed(*g.feedList)) return selected;
  if (!g.shownItem || (needBody && !g.shownBody)) return nullptr;
  return g.shownItem->infoFeed(&db);
}

// The shown item and body replaced by the item at index (with feed) and its
// body.
void showItemAt(cJournaledIndexedObjectSoupDatabase& db, GuiGadgets& g, int32_t index, newsFeed* feed) {
  db.unloadObject(g.shownBody);
  db.unloadObject(g.shownItem);
  g.shownBody = nullptr;
  g.shownItem = loadObject_newsItem2(db, index, feed);
  if (g.shownItem) g.shownBody = loadObject_newsItemBody(db, g.shownItem->bodyIndex);
}

bool hasControlCharacter(std::string_view text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

}  // namespace

bool isOpenableLink(Text link) { return linkRefusal(link).empty(); }

std::string linkRefusal(Text link) {
  std::string_view text = link.view();
  if (link.isNil() || text.empty()) return "the item has no link";
  if (!startsWithNoCase(text, "http://") && !startsWithNoCase(text, "https://")) {
    return "only web links (http:// and https://) are opened";
  }
  if (hasControlCharacter(text)) return "the link holds control characters";
  return {};
}

void clearShownItem(cJournaledIndexedObjectSoupDatabase& db, GuiGadgets& g) {
  releaseShownItem(db, g);
  updateNewsItemMarkGadgets(nullptr, g.markUnreadButton, g.setClearMarkPage);
  updateNewsItemGadgets(db, g);
  g.summaryTitleText->setState("");
  g.summaryTextBox->setState("");
}

void summaryIsContentsTicked(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g) {
  newsFeed* feed = tickFeed(db, g, true);
  bool ticked = g.summaryIsContentsTick->getState();
  if (!feed || feed->summaryIsContents == ticked) return;
  SoupTransaction transaction(db.infoBlockFile());
  feed->summaryIsContents = ticked;
  db.saveChangesToObject(feed);
  transaction.finish();
  if (g.shownBody) {
    WindowBusy busy(g.mainWindow);
    render(db, root, g);
  }
  updateNewsItemGadgets(db, g);
}

void wrongAboutUpdatesTicked(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g) {
  newsFeed* feed = tickFeed(db, g, false);
  bool ticked = g.wrongAboutUpdatesTick->getState();
  if (!feed || feed->notUpdates == ticked) return;
  WindowBusy busy(g.mainWindow);
  SoupTransaction transaction(db.infoBlockFile());
  feed->notUpdates = ticked;
  db.saveChangesToObject(feed);
  rebuildFeedDuplicates(db, *feed);
  fillNewsItemList(db, charsetOf(g), root, g.feedList, *g.newsList, g.newsStatusText, g.showCycle);
  if (g.shownItem && g.selectedItem) {
    showItemAt(db, g, g.selectedItem->infoSoupIndex(), feed);
    if (g.shownItem)
      renderNewsItemText(db, *g.shownItem, g.shownBody, charsetOf(g), g.summaryTitleText, g.summaryTextBox,
                         g.contentsTitleText, g.contentsTextBox);
  }
  updateNewsItemGadgets(db, g);
  transaction.finish();
}

void showPreviousUpdate(cJournaledIndexedObjectSoupDatabase& db, GuiGadgets& g) {
  if (!g.shownItem) return;
  int32_t next = g.shownItem->olderDuplicateItemIndex;
  if (next == 0) next = g.shownItem->newestDuplicateItemIndex;
  if (next == 0) return;
  showItemAt(db, g, next, g.shownItem->infoFeed(&db));
  WindowBusy busy(g.mainWindow);
  if (g.shownItem)
    renderNewsItemText(db, *g.shownItem, g.shownBody, charsetOf(g), g.summaryTitleText, g.summaryTextBox,
                       g.contentsTitleText, g.contentsTextBox);
  updateNewsItemGadgets(db, g);
}

void openOrCloseContents(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g) {
  if (!g.shownBody) return;
  WindowBusy busy(g.mainWindow);
  if (!g.contentsWindow->infoIsOpen())
    showContents(db, root, g);
  else
    closeContents(g);
}

void openNewsItemLink(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g) {
  if (!g.shownItem) return;
  Str link = feedDisplayText(*g.shownItem->infoFeed(&db), charsetOf(g), g.shownItem->link, false);
  const std::string refused = linkRefusal(link);
  if (!refused.empty()) {
    const FormatArguments arguments = {std::string(link.view()), refused};
    report(programName, "This link cannot be opened:\n\x1b" "1%s\n%s", &arguments);
  } else if (!openURL(link)) {
    const FormatArguments arguments = {std::string(link.view())};
    report(programName, "The web browser could not be started for:\n\x1b" "1%s\nSet BROWSER to the browser to use.",
           &arguments);
  }
  seen(db, root, g);
}

bool newsItemInfo(GuiGadgets& g) {
  if (!g.shownItem) return false;
  WindowBusy busy(g.mainWindow);
  return showNewsItemInfo(*g.shownItem, g.shownBody, charsetOf(g), g.mainWindow);
}

bool deleteShownNewsItem(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g) {
  if (!g.shownItem || !g.selectedItem || !g.newsList->cursor_gotoFirstSelected()) return false;
  WindowBusy busy(g.mainWindow);
  DeleteNewsItemResult result =
      deleteNewsItem(db, *g.newsList, g.selectedItem, g.shownItem, g.shownBody, charsetOf(g));
  if (result.code == kNewsItemKept) return result.quit;
  if (result.code == kNewsItemListStale)
    fillNewsItemList(db, charsetOf(g), root, g.feedList, *g.newsList, g.newsStatusText, g.showCycle);
  else
    showNewsItemCountStatus(g.newsStatusText, g.newsList->infoSize());
  // deleteNewsItem gave the three objects back or destroyed them.
  g.selectedItem = g.shownItem = nullptr;
  g.shownBody = nullptr;
  clearShownItem(db, g);
  return result.quit;
}

void markNewsItemUnread(cJournaledIndexedObjectSoupDatabase& db, GuiGadgets& g) {
  if (!g.selectedItem) return;
  closeContents(g);
  g.selectedItem->seen = false;
  g.selectedItem->secondMark = false;
  db.saveChangesToObject(g.selectedItem);
  updateNewsItemLine(db, charsetOf(g), *g.newsList, *g.selectedItem);
  updateNewsItemMarkGadgets(g.selectedItem, g.markUnreadButton, g.setClearMarkPage);
}

void setNewsItemSecondMark(cJournaledIndexedObjectSoupDatabase& db, GuiGadgets& g, bool mark) {
  if (!g.selectedItem) return;
  g.selectedItem->secondMark = mark;
  db.saveChangesToObject(g.selectedItem);
  updateNewsItemLine(db, charsetOf(g), *g.newsList, *g.selectedItem);
  updateNewsItemMarkGadgets(g.selectedItem, g.markUnreadButton, g.setClearMarkPage);
}

void newsListChanged(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g) {
  cGuiList& list = *g.newsList;
  if (list.infoChangedFlag(false)) {
    releaseShownItem(db, g);
    if (list.cursor_gotoFirstSelected()) {
      g.selectedItem = loadObject_newsItem2(db, list.cursor_getData(), nullptr);
      if (g.selectedItem) showItemAt(db, g, g.selectedItem->infoNewestDuplicateOrSelfIndex(db, true), nullptr);
    }
    updateNewsItemMarkGadgets(g.selectedItem, g.markUnreadButton, g.setClearMarkPage);
    updateNewsItemGadgets(db, g);
    showFeedOptions(db, g.shownItem, *g.feedList, g.summaryIsContentsTick, g.wrongAboutUpdatesTick, g.filterString,
                    g.feedFlagTick);
    if (g.shownBody) {
      WindowBusy busy(g.mainWindow);
      render(db, root, g);
      markDuplicateItemsSeen(*g.selectedItem, list, *g.feedList, *g.tagChooser, g.undoSeenButton, db, charsetOf(g),
                           root);
    }
  }
  if (list.infoPendingEntry(false, false) >= 0 && g.shownBody) {
    WindowBusy busy(g.mainWindow);
    if (!hasNonBlankBody(db, g.shownItem, g.shownBody).contents.isNil()) showContents(db, root, g);
  }
}

}  // namespace bw
