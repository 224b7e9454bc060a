// news/atom_parser.h - Atom documents into a stored feed and its entries,
// through the shared merge stage, and the three link tests.
//
// Invariants:
//   1. Only elements without a namespace prefix are read; the first match
//      counts. Feed-level lookups other than "title" stop at the first
//      "entry".
//   2. Texts are stored in UTF-8 with escapes kept, except the feed's image
//      address, an entry's link and its tag, which are decoded.
//   3. Entries without child elements are neither counted nor read.
#pragma once

#include "core/charset.h"
#include "core/str.h"
#include "database/soup_database.h"
#include "news/feed_store.h"
#include "news/news_objects.h"
#include "news/ui_seam.h"
#include "web/web_data.h"

namespace bw {

FeedParseResult parseAtomFeed(cJournaledIndexedObjectSoupDatabase& soup, webDataRoot& document, newsRoot& root,
                              const cEncoding* charset, Text url, newsFeed* updateFeed, feedProgressGui* gui);

// The "rel" (or "type") attribute equals value ignoring case; def when the
// element has none.
bool isAtomLinkRel(const webDataNode& node, Text value, bool def);
bool isAtomLinkType(const webDataNode& node, Text value, bool def);
// With both attributes: both equal; with either missing: def.
bool isAtomLinkTypeAndRel(const webDataNode& node, Text typeValue, Text relValue, bool def);

}  // namespace bw
