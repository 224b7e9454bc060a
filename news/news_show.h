// news/news_show.h - which items of a feed the news list shows: the Show
// mode's date limit and the Filter walk over a feed's item list.
//
// Invariants:
//   1. A feed's item list runs newest first; a walk loads one item at a time
//      (loadObject_newsItem2 with the feed) and gives back every item it
//      does not return. A returned item carries one use for the caller.
//   2. The date limit: none without a root; root.showLimitTime unless
//      root.showUnseen; with showUnseen the feed's seenUpToTime, and a feed
//      whose seenUpToTime is not a valid date shows nothing. An unset limit
//      hides nothing.
//   3. An item is inside the limit by its infoPublishedDate. The list runs
//      by the published date, with the items without a valid one at its
//      end: the first dated item older than the limit ends the dated part
//      (the dated items behind it are never loaded) and the walk goes on
//      with the undated items at the end, found from the list's tail. A
//      feed dated by its downloads is walked whole.
//   4. A damaged list is damage met while running: a link that names no
//      item, or that comes back to an item the walk went through, raises
//      link damage (eRecordDamage "BUG", database/object_soup.h).
#pragma once

#include <cstdint>

#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

// From itemIndex (0: none) towards older items, the first item inside the
// date limit that matchNewsItemFilter lets through; NIL when none.
newsItem* isNewsItemShown(cJournaledIndexedObjectSoupDatabase& db, int32_t itemIndex, newsFeed& feed,
                          newsRoot* root);

// From itemIndex towards newer items, the first item the feed's own Filter
// lets through, with no date limit; NIL when none.
newsItem* findPreviousUnfilteredItem(cJournaledIndexedObjectSoupDatabase& db, int32_t itemIndex, newsFeed& feed);

// The published date (infoPublishedDate) of the feed's newest item that its
// own Filter lets through, with no date limit; unset when there is none.
bigTime feedNewestShownItemTime(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed);

}  // namespace bw
