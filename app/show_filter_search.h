// app/show_filter_search.h - the three controls that narrow the news list:
// the Show cycle (how old an item may be), the Filter text (what the
// selected feed hides) and the Search text (what every shown feed shows).
//
// Invariants:
//   1. "now" is pTime::CurrentTime(0), through the clock seam.
//   2. A typed text is normalised term by term (normaliseFilterText); a
//      gadget's text is replaced only when the comparison the controls make
//      finds it different, and replacing it with the text it already shows
//      reports no change, so a replacement ends after at most one more
//      change of the same gadget.
//   3. The Show cycle and the Search text change the root in memory only; a
//      feed's Filter text is stored at once, in one transaction.
#pragma once

#include <cstdint>

#include "app/main_windows.h"
#include "core/gui_list_selection.h"
#include "core/str.h"
#include "database/soup_database.h"
#include "gui/gui_gadgets.h"
#include "gui/gui_list.h"
#include "news/news_objects.h"
#include "news/seen_times.h"

namespace bw {

// The Show cycle's states.
inline constexpr int32_t kShowUnseen = 0;
inline constexpr int32_t kShowLastWeek = 1;
inline constexpr int32_t kShowLastMonth = 2;
inline constexpr int32_t kShowLastYear = 3;
inline constexpr int32_t kShowAll = 4;
// How far back the fixed periods reach, in seconds.
inline constexpr bigTime kShowWeekBack = 604800;     // 7 days
inline constexpr bigTime kShowMonthBack = 2678400;   // 31 days
inline constexpr bigTime kShowYearBack = 31622400;   // 366 days

// The Filter/Search cycle's states (and the pages they show).
inline constexpr int32_t kFilterMode = 0;
inline constexpr int32_t kSearchMode = 1;

// The typed text's terms, each lower-cased (A-Z), its leading white space
// gone when it starts with a space and its trailing spaces gone, empty ones
// dropped, a "~" at the very start of a longer term split off as a term of
// its own; joined with ",". "Iraq, Brexit,~Blair" gives
// "iraq,brexit,~,blair".
Str normaliseFilterText(Text typed);

// Sets the root's show-by-time flag and show time for the Show cycle's
// state; "Show unseen" recomputes the time (updateOldestSeenTime with
// force). Any other state prints "BUG: Unhandled state for Show cycle
// gadget.\n" and changes nothing.
void applyShowCycleState(newsRoot& root, int32_t state, GuiListSelection* feedList, UndoSeenButton* undoButton);

// The root's search words: the text split at ","; none for NIL.
void setSearchWords(newsRoot& root, Text text);

// The Filter/Search cycle changed: the page group (may be NIL) shows its
// state's page; the search words become the Search string's text in
// "Search", none in "Filter".
void applyFilterSearchCycle(newsRoot& root, cGuiCycleChoice& cycle, cGuiGroupPage* page, cGuiString& searchString);

// The Search string changed: a typed text that differs from the first
// search word is shown normalised; the search words become the string's
// text.
void applySearchText(newsRoot& root, cGuiString& searchString);

// The feed of the feed list's one selected row; NIL unless exactly one row
// is selected.
newsFeed* singleSelectedFeed(cGuiList& feedList);

// The Filter string changed (filterString NIL: the feed-flag tick, whose
// text is empty). With exactly one feed selected a typed text that differs
// from its Filter is shown normalised, and the string's text (or the tick's
// state as its useDownloadDate) is stored with the feed in one transaction;
// answers that feed, or NIL when nothing was stored (no single selection,
// or the tick already matching).
newsFeed* applyFilterText(cJournaledIndexedObjectSoupDatabase& db, cGuiList& feedList, cGuiString* filterString,
                          cGuiTick* useDownloadDateTick);

// The commands of the three controls: each stores what its control says
// and refills the news list.
void showCycleChanged(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g);
void filterSearchCycleChanged(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g);
void searchStringChanged(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g);
// filterString NIL: the feed-flag tick changed. After a Filter is stored
// and the list refilled, a news list left without a selection clears the
// shown item, and the feed's option gadgets are shown again.
void filterStringChanged(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g,
                         cGuiString* filterString, cGuiTick* feedFlagTick);

}  // namespace bw
