// social/social_merge.h - the merge stage the Twitter and Facebook parsers
// share: the items stored in one phase, the scan of the stored items next to
// a page for their link keys, the step that expands short links, chains
// repeated links and puts the new items into the feed's list, and the frame
// (SocialPageParse) that runs these over a download's newer and older page.
//
// Invariants:
//   1. NewItems gives every item it still holds back to the soup when it
//      goes, so an exception half-way leaves no use behind.
//   2. The scan reads at most max(200, 2 x count) stored items, one glanced
//      at at a time, from the head of the item list for a newer page and from the
//      tail for an older one.
//   3. Newer items join chains as their newest members, walked oldest first;
//      older items join as the oldest, walked newest first.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "core/mega_list_family.h"
#include "database/soup_database.h"
#include "news/feed_merge.h"
#include "news/news_objects.h"
#include "news/ui_seam.h"
#include "social/social_links.h"
#include "web/web_data.h"

namespace bw {

inline constexpr int32_t kSocialMinimumScan = 200;
// The stored items a scan next to a page of count items reads at most.
inline int32_t socialScanLimit(int32_t count) { return std::max(kSocialMinimumScan, 2 * count); }

// The items stored in one phase, in the order they were stored: first
// pending, then in the list the merge hands on.
struct NewItems {
  explicit NewItems(cJournaledIndexedObjectSoupDatabase& db) : db(db) {}
  ~NewItems();
  NewItems(const NewItems&) = delete;
  NewItems& operator=(const NewItems&) = delete;
  cJournaledIndexedObjectSoupDatabase& db;
  std::vector<newsItem*> pending;
  cMegaList_class list{false, nullptr, false};
};

// Stores body (a newsItemBody, or a newsItemBodyRecord) and item as an item
// of feed (the item stays loaded) and appends it to items.pending.
void storeNewItem(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, std::unique_ptr<newsItem> item,
                  std::unique_ptr<cIndexedObject> body, NewItems& items);

// Remembers the link keys of the stored items next to the page; seen, when
// given, is shown each scanned item while it is glanced at (ItemGlance,
// read through its dates) with the text of its uniqueID.
void scanStoredLinks(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, SocialLinkChains& links, bool older,
                     int32_t count, const std::function<void(const newsItem&, std::string_view)>& seen);

// The items newest first by published date, those of one date in the order
// given: the list sort by gCompareNewsItem_PublishedDate, on the dates alone.
std::vector<newsItem*> newestPublishedFirst(const std::vector<newsItem*>& items);

// The pending items into the list, short-link expansion, the chains and
// updateFeedNewestItemTime, with the phase texts.
void mergeNewItems(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, feedProgressGui* gui,
                   SocialLinkChains& links, NewItems& items, bool older);

// The elements of array that have members (NIL counts none).
int32_t elementsWithMembers(const webDataNode* array);

// format (one %ld for number, one for the percentage) on the progress line;
// a count of 0, or one the running number outgrows, shows as 100%.
void showSocialProgress(feedProgressGui* gui, const char* format, int32_t number, int32_t count);

// The frame of a social parser's item work on the pages of one download, the
// newer page (the timeline) and the older one; a parser supplies how a page's
// items are stored and, when it must, how the stored items are scanned.
class SocialPageParse {
 public:
  // newer, older: the pages' roots (NIL when absent).
  SocialPageParse(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, feedProgressGui* gui,
                  const webDataNode* newer, const webDataNode* older);
  virtual ~SocialPageParse() = default;
  SocialPageParse(const SocialPageParse&) = delete;
  SocialPageParse& operator=(const SocialPageParse&) = delete;

  // The newer page stored and merged, the feed's times settled from its new
  // items (the download length unknown), then, when the download had an
  // older page, that page stored and merged as older items; an older page
  // without items ends the older pages. Finishes transaction and empties the
  // progress line.
  void run(SoupTransaction& transaction, bool added, bool hasOlder, bool olderEmpty);

 protected:
  // Store the items of a page into items.pending; storeNewer notes the dates
  // of what it stores in range_.
  virtual void storeNewer(NewItems& items) = 0;
  virtual void storeOlder(NewItems& items) = 0;
  // Remembers the link keys of the stored items next to the page (and may
  // drop pending items that repeat them).
  virtual void scanStored(SocialLinkChains& links, NewItems& items, bool older);
  // "Parsing item %ld (%ld%%)" for the next post or tweet.
  void showNextItem();
  // The posts or tweets with members of both pages, which progress is shown
  // against and the scan is sized by.
  int32_t itemCount() const { return itemCount_; }

  cJournaledIndexedObjectSoupDatabase& db_;
  newsFeed& feed_;
  feedProgressGui* gui_;
  const webDataNode* newer_;
  const webDataNode* older_;
  int32_t itemNumber_ = 0;
  FeedTimeRange range_;

 private:
  void merge(NewItems& items, bool older);
  int32_t itemCount_;
};

}  // namespace bw
