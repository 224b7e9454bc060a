// social/twitter_module.h - the Twitter module's start and end: the
// application's consumer pair, the entity table of the Twitter JSON reader,
// the feed credit ordering, and the registrations through which news/
// reaches the Twitter downloader and parser.
//
// Invariants:
//   1. twitterModuleNew runs after the translate engine, the JSON reader and
//      the news module have started; twitterModuleEnd undoes every
//      registration and frees what it made (the consumer pair is wiped by
//      credentialsModuleEnd).
//   2. The entity table ("&amp;", "&quot;", "&lt;", "&gt;") lives from
//      start to end, so every reader made with it stays valid meanwhile.
#pragma once

#include "social/twitter_records.h"

namespace bw {

void twitterModuleNew();
void twitterModuleEnd();

// The module's one ordering of Twitter feeds ("BUG" before the start).
fCompareMegaNodes_twitterFeeds_sort& twitterFeedsSort();

}  // namespace bw
