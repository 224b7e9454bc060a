// news/duplicate_chain.h - NewestDuplicateJoins: items joined one after
// another as the newest members of chains, as addAsNewestDuplicate joins
// each, the chain's oldest member saved once for a run of joins to it.
//
// Invariants:
//   1. After finish the file holds the bytes that the joins one by one
//      leave, and the journal has counted the same bytes written toward its
//      forced commit (each save left out is counted as made).
//   2. A save waits only inside a transaction of the caller's, for a member
//      that is the chain's oldest and the item a join names (its chain's
//      ends are then known without a read), while its record keeps the size
//      it was last written with (so the save left out would not have moved
//      it) and the joined item's own save stays in its block. Otherwise the
//      waiting save is made first and the join goes as addAsNewestDuplicate.
//   3. The waiting member stays loaded: between joins the caller may load
//      items, but must neither save the waiting member nor read its record
//      from the file, move blocks or end its transaction before finish.
//   4. An exception from a join leaves the waiting save unwritten: it goes
//      through the caller's transaction, which discards the whole run.
#pragma once

#include <cstdint>

#include "news/news_load.h"
#include "news/news_objects.h"

namespace bw {

class NewestDuplicateJoins {
 public:
  explicit NewestDuplicateJoins(cJournaledIndexedObjectSoupDatabase& db) : db_(db), oldest_(db) {}
  NewestDuplicateJoins(const NewestDuplicateJoins&) = delete;
  NewestDuplicateJoins& operator=(const NewestDuplicateJoins&) = delete;

  // first.addAsNewestDuplicate(db, &other), the oldest member's save
  // perhaps waiting.
  void join(newsItem& first, newsItem& other);
  // Makes the waiting save and lets the oldest member go.
  void finish();

 private:
  cJournaledIndexedObjectSoupDatabase& db_;
  HeldItem oldest_;
  int32_t savedSize_ = 0;    // its record's size as last written
  int savedNewestBytes_ = 0;  // the bytes of its newestDuplicateItemIndex then
  bool waiting_ = false;     // its record lags behind it
};

}  // namespace bw
