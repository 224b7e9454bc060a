// news/feed_newest_item.h - adding a download's new items to a feed in date
// order ("Adding items to feed") and renewing the feed's newest item time.
//
// Invariants:
//   1. The feed's item list stays ordered by published date, newest first
//      (unset and invalid dates, being smallest, behind every valid one).
//      New items are taken newest first; among equal invalid dates they keep
//      their arrival order behind the stored ones.
//   2. A new item with the same published and updated dates and uniqueID as
//      the stored item where it would go, and not in that item's duplicate
//      chain, is a repeat: it is dropped with its body. A stored repeat
//      leaves its duplicate chain first, so no chain ever names a destroyed
//      item.
//   3. All of it is one transaction; the headers of loaded neighbours are
//      written with each insertion. Every use taken is given back.
//   4. newItems is emptied. New objects (alreadyStored FALSE) become the
//      soup's or are deleted; stored ones (loaded, one use each held by the
//      list) are linked or destroyed. The list must not own its objects.
//   5. The walk reads only the list links, dates and uniqueID of the stored
//      items it passes (glances, news/news_item_glance.h).
//   6. A damaged list (one that comes back to an item more often than
//      insertions explain, or names an index that holds no item) raises
//      link damage (database/object_soup.h); the transaction is discarded.
#pragma once

#include "core/mega_list_family.h"
#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

// Sets feed.hasNewItems when an item was added, and then newestItemTime
// from the first item the feed's Filter lets through (unset when none).
void updateFeedNewestItemTime(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, cMegaList_class& newItems,
                              bool alreadyStored);

}  // namespace bw
