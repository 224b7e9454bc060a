// news/news_load.h - loading news objects by index, deleting an item, and
// the object records of the backup dump.
//
// Invariants:
//   1. A loader answers the one loaded object of that index with one more
//      use, or loads it fresh; NIL for index 0, for an index without a
//      record, and for an index loaded as an object of another class (whose
//      added use is given back at once), so a damaged link never turns a
//      feed or a body into an item.
//   2. A fresh root loads its feed list, a fresh feed its item list; when
//      that fails the object is given back and the exception passes on.
//   3. Every change runs in one SoupTransaction: an exception discards all of
//      it, leaving the soup in its must-close state.
//   4. A list change writes the node headers of the loaded neighbours it
//      touched in the same transaction (loaded nodes keep their links in
//      memory otherwise).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

newsRoot* loadObject_newsRoot(cJournaledIndexedObjectSoupDatabase& db, int32_t index);
newsFeed* loadObject_newsFeed(cJournaledIndexedObjectSoupDatabase& db, int32_t index);
newsItem* loadObject_newsItem(cJournaledIndexedObjectSoupDatabase& db, int32_t index);
newsItemBody* loadObject_newsItemBody(cJournaledIndexedObjectSoupDatabase& db, int32_t index);
// loadObject_newsItem, then an item without a feed borrows feed, or without
// one the loaded feed of its feedIndex: "BUG" "loadObject_newsItem2(); feed
// was not already loaded" when there is none (the item is given back).
newsItem* loadObject_newsItem2(cJournaledIndexedObjectSoupDatabase& db, int32_t index, newsFeed* feed);
// loadObject_newsItem2 for deleting the item: a fresh load reads past its
// texts (textsRead kNone); an item loaded already is answered as it is.
newsItem* loadObject_newsItemToDelete(cJournaledIndexedObjectSoupDatabase& db, int32_t index, newsFeed* feed);
// How often loadObject_newsItem was called, or a glance looked at an item,
// since the process started: the tests and benchmarks that bound the stored
// items an operation reads use it.
int64_t infoNewsItemLoads();
// Counts a read of a stored item that is not a load (a glance).
void countNewsItemLoad();

// Writes the header of the loaded node at index, if there is one: a list
// change moves a loaded node's links in memory only.
void writeLoadedHeader(cJournaledIndexedObjectSoupDatabase& db, int32_t index);

// In one transaction: takes item out of its feed's item list, out of its
// duplicate chain unless keepDuplicates, then destroys body (when not NIL)
// and item. Both are given back: the caller's uses end here.
void destroyNewsItem(cJournaledIndexedObjectSoupDatabase& db, newsItem* item, newsItemBody* body,
                     bool keepDuplicates);
// Destroys a stored item that is in no list (one the update dropped before
// linking it) with its body, in one transaction. The feed's list must name
// it neither as head nor as tail: else "BUG" "destroyNewsItem(); item is
// still in its feed's list" and nothing changes.
void dropNewsItem(cJournaledIndexedObjectSoupDatabase& db, newsItem* item, newsItemBody* body);

// One use of a loaded item, or none, given back when replaced or when the
// holder goes; release() hands the use on to the caller.
class HeldItem {
 public:
  explicit HeldItem(cJournaledIndexedObjectSoupDatabase& db, newsItem* item = nullptr) : db_(db), item_(item) {}
  HeldItem(const HeldItem&) = delete;
  HeldItem& operator=(const HeldItem&) = delete;
  ~HeldItem() { reset(nullptr); }
  newsItem* get() const { return item_; }
  newsItem* operator->() const { return item_; }
  explicit operator bool() const { return item_ != nullptr; }
  void reset(newsItem* item) {
    if (item_) db_.unloadObject(item_);
    item_ = item;
  }
  newsItem* release() {
    newsItem* item = item_;
    item_ = nullptr;
    return item;
  }

 private:
  cJournaledIndexedObjectSoupDatabase& db_;
  newsItem* item_;
};

// Backup dump records: BOOL isNil, then the record with skipHeader. Storing
// writes object (NIL allowed) and answers NIL; reading answers a new object
// or NIL for a NIL record (object is then ignored).
std::unique_ptr<newsFeed> restoreObject_newsFeed(cRestoreStreamBase& stream, bool storing, newsFeed* object);
std::unique_ptr<newsItem> restoreObject_newsItem(cRestoreStreamBase& stream, bool storing, newsItem* object);
std::unique_ptr<newsItemBody> restoreObject_newsItemBody(cRestoreStreamBase& stream, bool storing,
                                                         newsItemBody* object);

}  // namespace bw
