// app/shell_update.h - shell mode: `brindlework UpdateAll` updates every
// enabled feed without a window, reporting on the console.
//
// Invariants:
//   1. Feeds are updated one at a time in ascending order of their head
//      item's date (feeds without items first; ties keep the order of the
//      chain of loaded feeds). Disabled feeds are neither fetched nor
//      mentioned; a feed whose type has no downloader is skipped silently.
//   2. Ctrl-C is tested (and cleared) only between two feeds: the feed in
//      progress is finished and stored, the rest skipped, and the run ends
//      with "\nUpdate cancelled by user.\n".
//   3. With no feed loaded nothing is printed.
#pragma once

#include <functional>

#include "core/charset.h"
#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

void shell_updateAll(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root);

// Updates one enabled feed (downloader made, addUpdateFeed run, downloader
// deleted); answers whether a downloader was made.
using ShellFeedUpdate =
    std::function<bool(cJournaledIndexedObjectSoupDatabase&, newsRoot&, const cEncoding&, newsFeed&)>;
// Tests replace the update of one feed (empty: the program's own).
void setShellFeedUpdateForTesting(ShellFeedUpdate update);

}  // namespace bw
