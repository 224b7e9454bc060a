// app/backup_dump.h - the backup dump: every feed, item and body of a news
// database as one flat stream of records, without the database's own
// structures ("database.backup").
//
// Format (store/restore encoding, no header): the feed records in the order
// of the root's feed list, a NIL feed record; then for each feed, in the
// same order, its items in list order, each an item record followed by its
// body record, and a NIL item record. A record is an is-NIL flag (byte FF or
// 00, written by transferBool) and, when 00, the object's own record without
// its node header and without stored indices.
//
// Invariants:
//   1. restoreDatabaseBackup answers FALSE only when the file cannot be
//      opened; a bad record raises (every object read but not stored is
//      freed). It runs in one transaction of its own, nested in the
//      caller's when there is one, so a caller can make the load all or
//      nothing.
//   2. writeDatabaseBackup never leaves a partial dump under the path: it
//      writes a unique file beside it, syncs it and only then moves it over
//      the old dump. The dump holds the sign-in tokens: the file is made
//      0600 before anything is written to it.
#pragma once

#include <functional>

#include "core/str.h"
#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

// Loads the dump at path into the open database under root, whose feed list
// is empty; the feeds are left unloaded and root.firstLoadedFeed NIL.
bool restoreDatabaseBackup(Text path, newsRoot& root, cJournaledIndexedObjectSoupDatabase& db);

// Hands each item of feed that the dump is to hold, in list order, to write
// with its body (NIL: an empty body is written in its place).
using DumpItemWalk = std::function<void(newsFeed& feed, const std::function<void(newsItem&, newsItemBody*)>& write)>;

// Writes the dump of the feeds chained from root.firstLoadedFeed, each with
// the items that items hands over (none given: the items of its list, where
// an item that does not load raises). FALSE (no file left but the old dump)
// when the file cannot be made or written.
bool writeDatabaseBackup(Text path, newsRoot& root, cJournaledIndexedObjectSoupDatabase& db,
                         const DumpItemWalk& items = {});

}  // namespace bw
