// news/duplicate_chain.cpp - the duplicate chain operations of newsItem.
//
// Every walk goes from newer to older along olderDuplicateItemIndex, holding
// one member at a time, and remembers the indexes it visited: a damaged
// chain that loops back ends the walk as an unloadable link does. A chain
// whose links do not agree (no oldest, no newest link, a member never met)
// is damage met while running: link damage (database/object_soup.h).
#include "news/news_objects.h"

#include <algorithm>
#include <array>
#include <unordered_set>

#include "core/exception.h"
#include "news/news_item_glance.h"
#include "news/news_load.h"

namespace bw {
namespace {

// The indexes a walk visited. Chains are short: their first members are
// searched in place, without the set's allocations; a longer chain (or a
// damaged one going round) fills the set from then on.
class Visited {
 public:
  Visited() = default;
  explicit Visited(int32_t first) { insert(first); }
  // FALSE when index was visited before.
  bool insert(int32_t index) {
    if (many_.empty()) {
      const auto end = few_.begin() + count_;
      if (std::find(few_.begin(), end, index) != end) return false;
      if (count_ < few_.size()) {
        few_[count_++] = index;
        return true;
      }
      many_.insert(few_.begin(), few_.end());
    }
    return many_.insert(index).second;
  }

 private:
  std::array<int32_t, 16> few_;
  size_t count_ = 0;
  std::unordered_set<int32_t> many_;
};

// The walk's step: the member at index, NIL when the link cannot be loaded
// or comes back to a member already visited.
newsItem* visit(cJournaledIndexedObjectSoupDatabase& db, int32_t index, newsFeed* feed,
                Visited& visited) {
  if (index == 0 || !visited.insert(index)) return nullptr;
  return loadObject_newsItem2(db, index, feed);
}

// The chain's oldest member: this item itself when it is the oldest (no
// second use taken), else loaded and held; NIL for index 0 or a member that
// cannot be loaded.
class OldestMember {
 public:
  OldestMember(cJournaledIndexedObjectSoupDatabase& db, newsItem& self, int32_t index)
      : held_(db, index != 0 && index != self.soupIndexOrNone() ? loadObject_newsItem2(db, index, self.cachedFeed())
                                                              : nullptr),
        item_(index != 0 && index == self.soupIndexOrNone() ? &self : held_.get()) {}
  newsItem* get() const { return item_; }
  newsItem* operator->() const { return item_; }
  explicit operator bool() const { return item_ != nullptr; }

 private:
  HeldItem held_;
  newsItem* item_;
};

}  // namespace

DuplicateEnds newsItem::infoOldestDuplicateItemIndex(cJournaledIndexedObjectSoupDatabase& db) {
  if (olderDuplicateItemIndex == 0) {
    if (newestDuplicateItemIndex == 0) return {};
    return {infoSoupIndex(), newestDuplicateItemIndex};
  }
  Visited visited(soupIndexOrNone());
  DuplicateEnds ends;
  if (feed_) {
    // Only the members' chain links are read: a glance answers them as a
    // load would (the item's feed lends itself to every member).
    ItemGlance glance(db);
    for (int32_t index = olderDuplicateItemIndex; index != 0 && visited.insert(index);) {
      const newsItem* item = glance.look(index);
      if (!item) break;
      ends = {index, item->newestDuplicateItemIndex};
      index = item->olderDuplicateItemIndex;
    }
  } else {
    for (int32_t index = olderDuplicateItemIndex;;) {
      HeldItem item(db, visit(db, index, feed_, visited));
      if (!item) break;
      ends = {index, item->newestDuplicateItemIndex};
      index = item->olderDuplicateItemIndex;
    }
  }
  if (ends.oldest == 0) raiseLinkDamage("newsItem.infoOldestDuplicateItemIndex(); prevIndex=0");
  if (ends.newest == 0) raiseLinkDamage("newsItem.infoOldestDuplicateItemIndex(); newestDuplicateIndex=0 (1)");
  return ends;
}

int32_t newsItem::infoNewestDuplicateOrSelfIndex(cJournaledIndexedObjectSoupDatabase& db, bool orSelf) {
  int32_t newest = infoOldestDuplicateItemIndex(db).newest;
  if (newest == 0 && orSelf) return infoSoupIndex();
  return newest;
}

bool newsItem::infoIsInDuplicateList(cJournaledIndexedObjectSoupDatabase& db, const newsItem* other) {
  Visited visited;
  for (int32_t index = infoNewestDuplicateOrSelfIndex(db, false);;) {
    HeldItem item(db, visit(db, index, feed_, visited));
    if (!item) return false;
    if (item.get() == other) return true;
    index = item->olderDuplicateItemIndex;
  }
}

void newsItem::addAsNewestDuplicate(cJournaledIndexedObjectSoupDatabase& db, newsItem* other) {
  if (!other) raise("EMU", "newsItem.addAsNewestDuplicate(); other=NIL");
  const bool chained = infoIsDuplicate();
  const DuplicateEnds ends = chained ? infoOldestDuplicateItemIndex(db) : DuplicateEnds{};
  OldestMember oldest(db, *this, chained ? ends.oldest : 0);
  if (chained && !oldest) raiseLinkDamage("newsItem.addAsNewestDuplicate(); oldest=NIL");
  SoupTransaction transaction(db.infoBlockFile());
  if (!chained) {
    other->olderDuplicateItemIndex = infoSoupIndex();
    db.saveChangesToObject(other);
    newestDuplicateItemIndex = other->infoSoupIndex();
    db.saveChangesToObject(this);
  } else {
    other->olderDuplicateItemIndex = ends.newest;
    db.saveChangesToObject(other);
    oldest->newestDuplicateItemIndex = other->infoSoupIndex();
    db.saveChangesToObject(oldest.get());
  }
  transaction.finish();
}

void newsItem::addAsOldestDuplicate(cJournaledIndexedObjectSoupDatabase& db, newsItem* other) {
  if (!other) raise("EMU", "newsItem.addAsOldestDuplicate(); other=NIL");
  const bool chained = infoIsDuplicate();
  const DuplicateEnds ends = chained ? infoOldestDuplicateItemIndex(db) : DuplicateEnds{};
  OldestMember oldest(db, *this, chained ? ends.oldest : 0);
  if (chained && !oldest) raiseLinkDamage("newsItem.addAsOldestDuplicate(); oldest=NIL");
  SoupTransaction transaction(db.infoBlockFile());
  if (!chained) {
    olderDuplicateItemIndex = other->infoSoupIndex();
    db.saveChangesToObject(this);
    other->newestDuplicateItemIndex = infoSoupIndex();
    db.saveChangesToObject(other);
  } else {
    oldest->olderDuplicateItemIndex = other->infoSoupIndex();
    oldest->newestDuplicateItemIndex = 0;
    db.saveChangesToObject(oldest.get());
    other->newestDuplicateItemIndex = ends.newest;
    db.saveChangesToObject(other);
  }
  transaction.finish();
}

void newsItem::removeFromDuplicateList(cJournaledIndexedObjectSoupDatabase& db) {
  DuplicateEnds ends = infoOldestDuplicateItemIndex(db);
  if (ends.newest == 0) return;
  const int32_t self = infoSoupIndex();
  // The walk from the newest to this item, holding the newer neighbour;
  // nothing changes before it found this item.
  Visited visited;
  HeldItem newer(db, nullptr);
  int32_t newerIndex = 0;
  for (int32_t index = ends.newest; index != self;) {
    newsItem* item = visit(db, index, feed_, visited);
    if (!item) raiseLinkDamage("newsItem.removeFromDuplicateList(); failed to find node in duplicate list");
    newer.reset(item);
    newerIndex = index;
    index = item->olderDuplicateItemIndex;
  }
  HeldItem oldest(db, newer ? nullptr : loadObject_newsItem2(db, ends.oldest, feed_));
  if (!newer && !oldest) raiseLinkDamage("newsItem.removeFromDuplicateList(); oldest=NIL");
  SoupTransaction transaction(db.infoBlockFile());
  if (!newer) {
    // This item is the newest: the oldest's newest link moves on (or the
    // chain of two dissolves).
    oldest->newestDuplicateItemIndex = olderDuplicateItemIndex == ends.oldest ? 0 : olderDuplicateItemIndex;
    db.saveChangesToObject(oldest.get());
  } else if (self == ends.oldest && newerIndex == ends.newest) {
    newer->olderDuplicateItemIndex = 0;
    newer->newestDuplicateItemIndex = 0;
    db.saveChangesToObject(newer.get());
  } else {
    newer->olderDuplicateItemIndex = olderDuplicateItemIndex;
    newer->newestDuplicateItemIndex = newestDuplicateItemIndex;
    db.saveChangesToObject(newer.get());
  }
  transaction.finish();
}

}  // namespace bw
