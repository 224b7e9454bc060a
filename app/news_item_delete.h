// app/news_item_delete.h - deleting the shown news item, or on request every
// update of its chain of updates, after asking the user.
//
// Invariants:
//   1. Both questions go through the news interface (newsUi().gui_requester);
//      any answer but "Yes" to the first deletes nothing.
//   2. All database changes of one call are one transaction, flushed before
//      the call returns; the news list changes only after that.
//   3. The walk over the chain keeps the indices it visited: a link back to
//      one of them, or one that loads nothing, ends it (what it reached is
//      deleted), so a damaged chain never hangs the program.
//   4. On a result other than 0 the three objects passed in are gone
//      (destroyed or given back): the caller forgets them.
#pragma once

#include <cstdint>

#include "core/charset.h"
#include "database/soup_database.h"
#include "gui/gui_list.h"
#include "news/news_objects.h"

namespace bw {

// Results of deleteNewsItem.
inline constexpr int32_t kNewsItemKept = 0;          // nothing deleted
inline constexpr int32_t kNewsItemRowRemoved = -1;   // TRUE: the row is gone
inline constexpr int32_t kNewsItemListStale = -2;    // older updates remain: refill

struct DeleteNewsItemResult {
  int32_t code = kNewsItemKept;
  bool quit = false;  // never set: the requesters carry no quit request
};

// selected: the item of the news list's selected row, under the list's
// cursor; shown and shownBody: the newest update of its chain and its body
// (shownBody may be NIL). The shown item's feed must stay loaded.
DeleteNewsItemResult deleteNewsItem(cJournaledIndexedObjectSoupDatabase& db, cGuiList& newsList, newsItem* selected,
                                    newsItem* shown, newsItemBody* shownBody, const cEncoding* charset);

}  // namespace bw
