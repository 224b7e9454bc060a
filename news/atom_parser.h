// news/atom_parser.h - Atom documents into a stored feed and its entries,
// through the shared merge stage, and the three link tests.
//
// Invariants:
//   1. Elements are read with the prefix the "feed" element has (none for a
//      feed in the default namespace, "atom" for <atom:feed
//      xmlns:atom=...>); the first match counts. Feed-level lookups other
//      than "title" stop at the first "entry".
//   2. Texts are stored in UTF-8 with escapes kept, except the feed's image
//      address, an entry's link and its tag, which are decoded. Links (the
//      image address, the entry's link, the self link the feed is known by)
//      are resolved against xml:base and the address (news/feed_links.h).
//   3. Entries without child elements are neither counted nor read.
//   4. A feed without a link or an id is known by the address it was
//      fetched from. An entry without an id is known by its link, else its
//      title and date, else a digest of its texts: read again unchanged, it
//      is a repeat.
#pragma once

#include "core/charset.h"
#include "core/str.h"
#include "database/soup_database.h"
#include "news/feed_store.h"
#include "news/news_objects.h"
#include "news/ui_seam.h"
#include "web/web_data.h"

namespace bw {

// The top-level "feed" element in the Atom namespace, declared as the
// default namespace or for the element's own prefix; prefix (when given)
// gets that prefix, NIL for none. NIL without such an element.
webDataNode* findAtomFeed(const webDataRoot& document, Str* prefix);

// A document without an Atom "feed" element is read from its unprefixed
// "feed" element, when it has one.
FeedParseResult parseAtomFeed(cJournaledIndexedObjectSoupDatabase& soup, webDataRoot& document, newsRoot& root,
                              const cEncoding* charset, Text url, newsFeed* updateFeed, feedProgressGui* gui);

// The "rel" (or "type") attribute equals value ignoring case; def when the
// element has none.
bool isAtomLinkRel(const webDataNode& node, Text value, bool def);
bool isAtomLinkType(const webDataNode& node, Text value, bool def);
// With both attributes: both equal; with either missing: def.
bool isAtomLinkTypeAndRel(const webDataNode& node, Text typeValue, Text relValue, bool def);

}  // namespace bw
