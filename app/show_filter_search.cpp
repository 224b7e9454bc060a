// app/show_filter_search.cpp - the Show cycle, the Filter text and the
// Search text.
#include "app/show_filter_search.h"

#include <cstdio>

#include "app/feed_list.h"
#include "app/news_item_commands.h"
#include "app/news_list.h"
#include "core/box.h"
#include "core/string_procs.h"
#include "database/soup_block_file.h"
#include "gui/gui_list.h"
#include "news/news_filter.h"
#include "platform/time.h"

namespace bw {
namespace {

bool isLeadingBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// What a string gadget shows (its kept text before it is built).
Str shownText(cGuiStringItem& gadget) {
  Str text = gadget.getState();
  return text.isNil() ? gadget.infoText() : text;
}

void refill(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g) {
  fillNewsItemList(db, g.charset.get(), root, g.feedList, *g.newsList, g.newsStatusText, g.showCycle);
}

}  // namespace

Str normaliseFilterText(Text typed) {
  StrChain terms;
  for (Str& piece : splitString(typed, ",").chain) {
    std::string term = piece.str();
    if (term.size() > 1 && term[0] == '~') {
      terms.emplace_back("~");
      term.erase(0, 1);
    }
    term = foldCaseUtf8(term);
    if (!term.empty() && term[0] == ' ') {
      size_t first = 0;
      while (first < term.size() && isLeadingBlank(term[first])) ++first;
      term.erase(0, first);
    }
    while (!term.empty() && term.back() == ' ') term.pop_back();
    if (!term.empty()) terms.emplace_back(term);
  }
  return terms.empty() ? Str("") : joinStrings(terms, ",");
}

void applyShowCycleState(newsRoot& root, int32_t state, GuiListSelection* feedList, UndoSeenButton* undoButton) {
  auto fixed = [&](bigTime time) {
    root.fixedShowPeriod = true;
    root.showLimitTime = time;
  };
  switch (state) {
    case kShowUnseen:
      root.fixedShowPeriod = false;
      updateOldestSeenTime(root, feedList, undoButton, true);
      break;
    case kShowLastWeek:
      fixed(pTime::CurrentTime(0) - kShowWeekBack);
      break;
    case kShowLastMonth:
      fixed(pTime::CurrentTime(0) - kShowMonthBack);
      break;
    case kShowLastYear:
      fixed(pTime::CurrentTime(0) - kShowYearBack);
      break;
    case kShowAll:
      fixed(kDateUnset);
      break;
    default:
      std::fputs("BUG: Unhandled state for Show cycle gadget.\n", stdout);
      break;
  }
}

void setSearchWords(newsRoot& root, Text text) {
  root.searchTerms.clear();
  if (!text.isNil()) root.searchTerms = splitString(text, ",").chain;
}

void applyFilterSearchCycle(newsRoot& root, cGuiCycleChoice& cycle, cGuiGroupPage* page, cGuiString& searchString) {
  int32_t state = cycle.getState();
  if (page) page->setState(state);
  setSearchWords(root, state == kSearchMode ? Text(shownText(searchString)) : Text(nullptr));
}

void applySearchText(newsRoot& root, cGuiString& searchString) {
  Str typed = shownText(searchString);
  if (!typed.empty()) {
    Str normal = normaliseFilterText(typed);
    if (!root.searchTerms.empty() && typed.view() != root.searchTerms.front().view())
      searchString.setState(normal);
  }
  setSearchWords(root, shownText(searchString));
}

newsFeed* singleSelectedFeed(cGuiList& feedList) {
  if (feedList.infoSelectionCount() != 1 || !feedList.cursor_gotoFirstSelected()) return nullptr;
  return feedAtCursor(feedList);
}

newsFeed* applyFilterText(cJournaledIndexedObjectSoupDatabase& db, cGuiList& feedList, cGuiString* filterString,
                          cGuiTick* useDownloadDateTick) {
  newsFeed* feed = singleSelectedFeed(feedList);
  Str typed = filterString ? shownText(*filterString) : Str("");
  if (!typed.empty() && feed && typed.view() != feed->filter.view()) filterString->setState(normaliseFilterText(typed));
  if (!feed) return nullptr;
  if (!filterString && useDownloadDateTick && feed->useDownloadDate == useDownloadDateTick->getState()) return nullptr;
  SoupTransaction transaction(db.infoBlockFile());
  if (filterString)
    feed->setFilter(shownText(*filterString));
  else if (useDownloadDateTick)
    feed->useDownloadDate = useDownloadDateTick->getState();
  db.saveChangesToObject(feed);
  transaction.finish();
  return feed;
}

void showCycleChanged(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g) {
  WindowBusy busy(g.mainWindow);
  applyShowCycleState(root, g.showCycle->getState(), g.feedList, &g.undoSeen);
  refill(db, root, g);
}

void filterSearchCycleChanged(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g) {
  applyFilterSearchCycle(root, *g.filterSearchCycle, g.filterSearchPage, *g.searchString);
  refill(db, root, g);
}

void searchStringChanged(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g) {
  applySearchText(root, *g.searchString);
  refill(db, root, g);
}

void filterStringChanged(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g,
                         cGuiString* filterString, cGuiTick* feedFlagTick) {
  if (!applyFilterText(db, *g.feedList, filterString, feedFlagTick)) return;
  refill(db, root, g);
  if (!g.newsList->cursor_gotoFirstSelected()) clearShownItem(db, g);
  showFeedOptions(db, g.shownItem, *g.feedList, g.summaryIsContentsTick, g.wrongAboutUpdatesTick, g.filterString,
                  g.feedFlagTick);
}

}  // namespace bw
