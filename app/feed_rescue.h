// app/feed_rescue.h - the subscriptions of feeds a repair lost, put back
// from the newest backup that holds them, and the words that tell the user
// what the repair did.
//
// Invariants:
//   1. A backup is read through a private copy (opening replays a journal
//      and sets the open mark): the backups stay as they are, and the copy
//      goes.
//   2. A lost feed is looked for by its index, which it keeps in every copy
//      made while it existed; a backup's feed at that index is taken only
//      from that backup's feed list, and only when no feed of the database
//      has its address already (nor the address the feed had, when that was
//      read before the repair and differs).
//   3. A feed put back is the backup's record (address, name, tags, type,
//      filter, settings) with a new empty item list, at the tail of the
//      feed list: the next update fetches its items again.
//   4. A backup that does not open or read is passed over; only "MEM",
//      "BRK" and the database's own failures raise.
#pragma once

#include <string>
#include <vector>

#include "app/database_repair.h"
#include "core/format_text.h"

namespace bw {

struct RescuedFeed {
  std::string title;   // the backup's name for it, else the one read before the repair
  std::string backup;  // the backup it came from; empty when none holds it
};

// Puts back what it can of lost, newest backup first, in the caller's
// transaction; answers what became of each (a feed whose address the
// database holds already is not lost and is not answered).
std::vector<RescuedFeed> rescueLostFeeds(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root,
                                         const std::vector<LostFeed>& lost);

// The repair's summary for the user: "Database was repaired" with the items
// removed, a line for each lost feed, then the contact line; its arguments
// go to arguments.
std::string repairSummary(const RepairResult& result, const std::vector<RescuedFeed>& feeds, const std::string& contact,
                          FormatArguments& arguments);

}  // namespace bw
