// social/facebook_parser.h - parseFacebookFeed: one finished Facebook
// download into the news model. The account record becomes (or refreshes)
// the feed, posts and their comments become items, and items whose link keys
// repeat join duplicate chains.
//
// Invariants:
//   1. Adding needs the account record: without it nothing is stored. A feed
//      whose id matches a loaded one is confirmed by the user first. A stored
//      feed whose id is "me" keeps it; a stored empty url stays empty.
//   2. The feed's change and all item work run in one SoupTransaction; an
//      exception discards all of it (the soup is then must-close) and every
//      object built is given back.
//   3. Known ids are learnt by walking the stored items from the head only as
//      far as the item being tested could repeat them: down to the first one
//      it is newer than (all of them for an undated item). Only the walk's
//      cursor stays loaded between posts.
//   4. A post already stored adds nothing, but its new comments are added
//      under it up to its first known comment (comments come newest first).
//   5. The older page is added without the id test, and ends the older pages
//      when it holds no post.
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
FeedParseResult parseFacebookFeed(cJournaledIndexedObjectSoupDatabase& soup, webDataRoot& document, newsRoot& root,
                                  const cEncoding* charset, Text url, newsFeed* updateFeed, feedProgressGui* gui);

}  // namespace bw
