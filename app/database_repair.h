// app/database_repair.h - repairDatabase: checks, and when asked mends, a
// whole news database: the database's own structures first, then the news
// model from the root down to the item bodies, then the indices nothing
// reaches.
//
// Invariants:
//   1. Never raises: an exception inside is printed (when verbose) and gives
//      usable FALSE, changed FALSE; the repair's transaction is then
//      discarded and the soup must close. Only the stop of the database's
//      validation poll ("BRK", asked for at each pass, list, feed, item and
//      unreached object) passes on, unprinted, with the same discard.
//   2. With repair, only damage to the root, the feed list or the
//      database's own structures leaves the database unusable. An item
//      whose record, body or body index does not read goes (and the walk
//      goes on at the next node); a feed whose record does not read leaves
//      the feed list (lostFeeds); a feed whose item list is lost gets a new
//      empty one. A check answers usable FALSE for any of these.
//   7. With repair, no object the walk did not reach is destroyed before it
//      is read by its own class. A whole item record (its body reading too)
//      belongs to the feed it names, else to the feed whose list held it
//      before the repair: a kept feed's is linked back into its list among
//      its neighbours by published date (the feed's duplicate chains are
//      rebuilt again); a lost feed's stays stored, in no list, in that
//      LostFeed's items, for the rescue; dropUnrescuedItems destroys what
//      the rescue left. Only what does not read whole, or belongs to no
//      feed kept or lost, is destroyed.
//   3. Every record the repair keeps was decoded whole: the root, each
//      feed, each item and each item's body, with their strings.
//   4. Every finding is printed on standard output, and only when verbose.
//   5. With repair, each feed's duplicate chains are rebuilt from its items
//      after its walk (social/social_links.h).
//   6. Every use taken during the walk is given back; the database's
//      automatic compaction is off during a repair and restored afterwards.
#pragma once

#include <string>
#include <vector>

#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

// A feed that a repair took out of the feed list: its record was lost.
struct LostFeed {
  int32_t index = 0;
  // As the feed was read before the repair; empty when it did not read.
  std::string title;
  std::string url;
  // The whole item records that name it (each with a body that reads),
  // stored but in no list: the rescue may link them under the feed it puts
  // back; dropUnrescuedItems destroys the others.
  std::vector<int32_t> items;
  // The items its item list named before the repair (when the feed read)
  // or, when a list holding its whole items still read, that list's nodes
  // (those above among them); empty when neither. What the rescue brings
  // back of neither is lost.
  std::vector<int32_t> named;
};

struct RepairResult {
  bool usable = false;
  bool changed = false;
  // With repair: the items of the feeds kept that could not be read and
  // are gone (their records, bodies or blocks were lost), against what the
  // index, the lists and the records named before the repair. Where blocks
  // were lost whose class cannot be told, the number may be a lower bound:
  // itemsRemovedAtLeast (never with itemsRemoved 0).
  int64_t itemsRemoved = 0;
  bool itemsRemovedAtLeast = false;
  std::vector<LostFeed> lostFeeds;
  // With repair: the database's own structures (blocks, index) needed
  // mending, not only the news records.
  bool storageMended = false;
};

RepairResult repairDatabase(cJournaledIndexedObjectSoupDatabase& db, bool verbose, bool repair);

// Run after the rescue of a repair's lost feeds (in the same transaction,
// or alone when nothing was rescued) with their items: destroys, each with
// its body, those that no feed's item list holds. Answers how many went.
// Raises only what the database raises ("TRAN", "MEM", "BRK", ...).
int64_t dropUnrescuedItems(cJournaledIndexedObjectSoupDatabase& db, const std::vector<int32_t>& items);

}  // namespace bw
