// app/database_repair.h - repairDatabase: checks, and when asked mends, a
// whole news database: the database's own structures first, then the news
// model from the root down to the item bodies, then the indices nothing
// reaches.
//
// Invariants:
//   1. Never raises: an exception inside is printed (when verbose) and gives
//      usable FALSE, changed FALSE; the repair's transaction is then
//      discarded and the soup must close.
//   2. Faults inside items are mended with repair (an item without a valid
//      body is destroyed, and the database stays usable when the rest of
//      the walk is sound); faults of the feed list, feeds and item lists are
//      never mended and make the database unusable.
//   3. Every finding is printed on standard output, and only when verbose.
//   4. With repair, each feed's duplicate chains are rebuilt from its items
//      after its walk (social/social_links.h).
//   5. Every use taken during the walk is given back; the database's
//      automatic compaction is off during a repair and restored afterwards.
#pragma once

#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

struct RepairResult {
  bool usable = false;
  bool changed = false;
};

RepairResult repairDatabase(cJournaledIndexedObjectSoupDatabase& db, bool verbose, bool repair);

}  // namespace bw
