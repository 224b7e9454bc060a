// social/twitter_rate_limit.h - checkTwitterRateLimit: before an update,
// keep in the work list only as many Twitter feeds as the user's remaining
// request budget covers, taking the feeds in turn through their update
// credits.
//
// Invariants:
//   1. The Twitter feeds (type beginning "Twitter") are taken out of the
//      work list first; only those that fit the budget go back, at its end.
//      Every other entry keeps its place. The list must not own its feeds.
//   2. Any failure (no request, an answer with status 400 or more, a second
//      401, a refused sign-in or shell mode on a 401, an answer that is not
//      JSON, a budget of 0 or less) ends the check with no Twitter feed kept
//      and nothing stored.
//   3. Credits and a new token pair are written in one SoupTransaction; a
//      feed costs 1 request, 2 while it still fetches older items.
#pragma once

#include "core/mega_list_family.h"
#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

void checkTwitterRateLimit(cJournaledIndexedObjectSoupDatabase& soup, newsRoot& root, cMegaList_class& workList);

}  // namespace bw
