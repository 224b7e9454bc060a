// app/feed_lists_check.h - the start-up's quick check of a database closed
// cleanly: the soup's lists agree (listsAgree) and, at the news model's
// level, every list belongs to one feed and holds that feed's items, and
// the items' duplicate chains end.
//
// Invariants:
//   1. Reads only: nothing is written, loaded into the soup's table or
//      remembered; beyond the list walk's mark a bit an index, the memory it
//      takes grows with the feeds, not the items.
//   2. Answers FALSE where listsAgree does, for a feed whose item-list
//      link names no list of the chain, the root's feed list or a list
//      another feed names, for a list of the chain that neither the root
//      nor a feed names, for an item whose record names another feed, for a
//      chain of older duplicates that comes back to a member, and for
//      a root, feed or item record that does not read (the repair that
//      follows judges it); a database without a root is judged by
//      listsAgree alone. Item records are read with their texts skipped;
//      bodies are not read. Only "BRK", "MEM" and "FULL" pass on.
//   3. Each item record is read once, by the list walk (its first bytes),
//      and again only for a chain of older duplicates or an older layout.
#pragma once

#include "database/soup_database.h"

namespace bw {

bool listsAndFeedsAgree(cJournaledIndexedObjectSoupDatabase& db);

}  // namespace bw
