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

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "news/news_load.h"
#include "news/news_objects.h"

namespace bw {

// Where infoOldestDuplicateItemIndex of the stored item first, whose
// olderDuplicateItemIndex is older, would walk: to the chain's oldest member,
// looking at walked members on the way. oldest 0: no plan.
struct PlannedEnds {
  int32_t first = 0;
  int32_t older = 0;
  int32_t oldest = 0;
  int32_t walked = 0;
};

// The walks of many chains at once, their record reads overlapping: each
// plan given its first and older (older 0: none) gets its oldest and walked,
// read from the records without counting loads. Joins may follow: they
// change no stored member's older link. A plan stays empty wherever the walk
// would not read each member straight from its record: an item registered
// in the soup, an index without a record, a record glanceItemRecord does not
// read whole, a chain that comes back to a member or has more than
// kPlannedMembers members; an exception from a read leaves it empty too.
inline constexpr int32_t kPlannedMembers = 64;
void planChainEnds(cJournaledIndexedObjectSoupDatabase& db, std::span<PlannedEnds> plans);

class NewestDuplicateJoins {
 public:
  explicit NewestDuplicateJoins(cJournaledIndexedObjectSoupDatabase& db) : db_(db), oldest_(db) {}
  NewestDuplicateJoins(const NewestDuplicateJoins&) = delete;
  NewestDuplicateJoins& operator=(const NewestDuplicateJoins&) = delete;

  // first.addAsNewestDuplicate(db, &other), the oldest member's save
  // perhaps waiting. planned, when it is first's plan and its older link
  // is still first's, stands for the walk to the oldest member: that
  // member's record then gives the newest link, and the walk's looks are
  // counted as made.
  void join(newsItem& first, newsItem& other, const PlannedEnds* planned = nullptr);
  // Hints that other joins a chain soon: where the older link it takes
  // would outgrow its record's block, what its save's move reads is asked
  // for, and true is answered (before: see prefetchMove). The link names an
  // item stored before it, whose index is seldom longer than its own.
  bool askMoveAhead(const newsItem& other, bool before) {
    // The link takes the place of a 0, one byte; a compact value holds six
    // bits in its first byte and seven in each further one.
    int32_t growth = 0;
    for (auto v = static_cast<uint32_t>(std::max(other.soupIndexOrNone(), 0)) >> 6; v != 0; v >>= 7) ++growth;
    return db_.prefetchMove(other, growth, before);
  }
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
