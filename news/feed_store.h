// news/feed_store.h - what every feed parser does with the feed it read
// from a document before its items: find the same feed among the loaded
// ones (asking the user when only the ids agree), then store the new feed or
// move the fresh values into the stored one.
//
// Invariants:
//   1. A loaded feed is the same feed when its uniqueID equals the new one
//      exactly or its url equals the new one ignoring case, and its document
//      format is of the same class. Differing urls are confirmed by the user.
//   2. A refusal shows the second requester and leaves every stored feed as
//      it was.
//   3. A new feed is stored, put at the head of the root's feed list and
//      first in the chain of loaded feeds, in one transaction; a stored feed
//      takes the read fields (its url only when it has one) and is saved, in
//      one transaction. The fresh object is consumed either way.
#pragma once

#include <memory>
#include <vector>

#include "core/charset.h"
#include "core/str.h"
#include "database/soup_database.h"
#include "news/news_objects.h"
#include "news/ui_seam.h"
#include "web/web_data.h"

namespace bw {

// What a parser answers: the feed (new or updated; NIL on failure) and
// whether a requester already told the user why nothing was stored. The
// feed stays loaded for the application's chain.
struct FeedParseResult {
  newsFeed* feed = nullptr;
  bool errorReported = false;
};

struct SameFeedAnswer {
  newsFeed* updateFeed = nullptr;  // the stored feed to update, or NIL
  bool refused = false;            // the user said it is not the same
};

// Step "same feed" for a feed being added. askAlways: the user confirms a
// match by address too (the social parsers).
SameFeedAnswer findSameFeed(newsRoot& root, newsFeed& fresh, const cEncoding* charset, bool askAlways = false);

// Stores fresh (no updateFeed) or moves its values into updateFeed; answers
// the feed from here on.
newsFeed* settleFeed(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, std::unique_ptr<newsFeed> fresh,
                     newsFeed* updateFeed);

// Both steps for a parsed feed: the question when adding, then storing.
// refused: the user said no (the requesters were shown), feed NIL.
struct SettledFeed {
  newsFeed* feed = nullptr;
  bool existed = false;  // a stored feed was updated
  bool refused = false;
};
SettledFeed settleParsedFeed(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, std::unique_ptr<newsFeed> fresh,
                             newsFeed* updateFeed, const cEncoding* charset, bool askAlways = false);

// The children of parent named name (with the prefix ns; NIL: none) that
// have children themselves, in document order: the items and entries a
// parser reads.
std::vector<webDataNode*> childrenWithChildren(const webDataNode& parent, Text name, Text ns = nullptr);

// The "Failed to make a uniqueID for <kind> news feed" report.
void reportNoUniqueID(const char* kind, Text url);

// "Parsing item %ld (%ld%%)" on the progress line for the 1-based number of
// count items.
void showItemProgress(feedProgressGui* gui, int32_t number, int32_t count);

}  // namespace bw
