// social/twitter_parser.h - parseTwitterFeed: one finished Twitter download
// into the news model. The profile becomes (or refreshes) the feed, the
// tweets become items, and items whose link keys repeat join duplicate
// chains.
//
// Invariants:
//   1. Adding needs the profile: without it nothing is stored. A feed whose
//      id or address matches a loaded one is confirmed by the user first.
//   2. The feed's change and all item work run in one SoupTransaction; an
//      exception discards all of it (the soup is then must-close) and every
//      object built is given back.
//   3. The stored items scanned for link keys are at most
//      max(200, 2 x tweetCount), from the end of the item list next to the
//      page (head for newer tweets, tail for older ones).
//   4. Newer tweets join chains as their newest members, older ones as the
//      oldest; new items enter the feed's list in date order and a tweet
//      already stored is dropped there.
#pragma once

#include "core/charset.h"
#include "core/str.h"
#include "database/soup_database.h"
#include "news/feed_store.h"
#include "news/news_objects.h"
#include "news/ui_seam.h"
#include "web/web_data.h"

namespace bw {

// updateFeed: the stored feed to update, NIL when adding; gui may be NIL;
// url is not used.
FeedParseResult parseTwitterFeed(cJournaledIndexedObjectSoupDatabase& soup, webDataRoot& document, newsRoot& root,
                                 const cEncoding* charset, Text url, newsFeed* updateFeed, feedProgressGui* gui);

}  // namespace bw
