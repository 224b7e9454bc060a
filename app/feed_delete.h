// app/feed_delete.h - deleting the selected feeds of the feed list with all
// their news items and bodies, after one question.
//
// Invariants:
//   1. The question names the feed that will go: with one selected row the
//      cursor is moved onto that row before its name is read.
//   2. Every deletion of one call is one transaction and one flush; within a
//      feed: items and bodies, the item list, the feed's node, the feed.
//   3. A deleted feed leaves the database, the root's feed list, the chain of
//      loaded feeds and the feed list together.
//   4. Of the caller's shown item, its body and the selected item, those of a
//      deleted feed are given back and set to NIL before they are destroyed.
//   5. Above kDeleteDefragmentAbove tenths of a percent of unused file the
//      database is defragmented under a status window.
#pragma once

#include <cstdint>

#include "core/charset.h"
#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

class cGuiList;

inline constexpr int32_t kDeleteDefragmentAbove = 300;

struct DeleteFeedsResult {
  bool deleted = false;
  bool cancelled = false;  // the user chose "Cancel"
  bool quit = false;       // never set: no quit request arises here
};

// The loaded news objects the contents window holds (NIL when none).
struct ShownNewsObjects {
  newsItem*& selectedItem;
  newsItem*& shownItem;
  newsItemBody*& shownBody;
};

// Asks "Delete feeds" and deletes every selected row's feed (the row's data
// box is a boxPTR holding the feed). Database failures raise; the open
// transaction is then left to the caller's discard.
DeleteFeedsResult deleteFeeds(cGuiList& feedList, ShownNewsObjects shown, cJournaledIndexedObjectSoupDatabase& db,
                              newsRoot& root, const cEncoding& charset);

// Defragments the database under a status window when fragmentation (in
// tenths of a percent) is above kDeleteDefragmentAbove; TRUE when it did.
bool defragmentAfterDeleting(cJournaledIndexedObjectSoupDatabase& db, int32_t fragmentation);

}  // namespace bw
