// app/feed_rescue.h - the feeds a repair lost, put back from the newest
// backup that holds them together with their items, and the words that tell
// the user what the repair did.
//
// Invariants:
//   1. A backup is read where it lies, opened for reading only: it is never
//      written, copied or stamped, and the rescue needs no room on the disk
//      nor a folder it may write for it.
//   2. A lost feed is looked for by its index, which it keeps in every copy
//      made while it existed; a backup's feed at that index is taken only
//      from that backup's feed list, and only when no feed of the database
//      has its address already (nor the address the feed had, when that was
//      read before the repair and differs).
//   3. A feed put back is the backup's record (address, name, tags, type,
//      filter, settings) at the tail of the feed list, with the whole items
//      the database still held for it and the backup's items of it that
//      none of those repeats (same uniqueID and dates), each among its
//      neighbours by date; its duplicate chains are rebuilt.
//   4. A backup whose content does not open or read is passed over (an item
//      of it that does not read is left out). One that cannot be read for
//      any other reason (permission refused, a read error) ends the rescue
//      before anything is put back: the answer says which and why, and the
//      caller leaves the repair to the next start. Only "MEM", "BRK" and the
//      database's own failures raise.
#pragma once

#include <string>
#include <vector>

#include "app/database_repair.h"
#include "core/format_text.h"

namespace bw {

struct RescuedFeed {
  std::string title;   // the backup's name for it, else the one read before the repair
  std::string backup;  // the backup it came from; empty when none holds it
  // Items its list named that neither the database nor the backup held
  // whole (known only when the list still read).
  int64_t itemsLost = 0;
};

struct Rescue {
  std::vector<RescuedFeed> feeds;
  // A backup that could not be read for a reason other than its content,
  // and that reason in words: nothing was put back.
  std::string unreadBackup, why;
};

// Puts back what it can of lost, newest backup first, in the caller's
// transaction; answers what became of each (one known only by its index
// whose address the database's feeds have, and that the backup does not
// tell from them, is not put back and is told lost).
Rescue rescueLostFeeds(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, const std::vector<LostFeed>& lost);

// The repair's summary for the user: "Database was repaired" with the items
// removed, a line for each lost feed, then the contact line; its arguments
// go to arguments.
std::string repairSummary(const RepairResult& result, const std::vector<RescuedFeed>& feeds, const std::string& contact,
                          FormatArguments& arguments);

}  // namespace bw
