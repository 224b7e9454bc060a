// news/rss_parser.h - RSS 0.91 to 0.94 and 2.0 documents (with the content
// and Dublin Core modules) into a stored feed and its items, through the
// shared merge stage.
//
// Invariants:
//   1. Texts are stored in UTF-8 with the document's escapes kept, except
//      links, image addresses and categories, which are decoded. The feed's
//      title, subtitle and rights are stored as display text. Links and
//      image addresses are resolved against xml:base and the address
//      (news/feed_links.h); an item without guid takes its id from its link
//      as written, as it always has.
//   2. Channel fields other than title and link are read only before the
//      channel's first item; items without child elements are skipped
//      everywhere.
//   3. Nothing is stored for a document without "rss", a channel or channel
//      children. A channel without link or xml:base is known by the address
//      the feed was fetched from.
#pragma once

#include "core/charset.h"
#include "core/str.h"
#include "database/soup_database.h"
#include "news/feed_store.h"
#include "news/news_objects.h"
#include "news/ui_seam.h"
#include "web/web_data.h"

namespace bw {

// Whether an "rss" element of this version has the structure this parser
// reads: 0.91 to 0.94, 2.0, or no version at all (read as 2.0).
bool isReadableRssVersion(const Str& version);

// updateFeed: the stored feed to update, NIL when adding; gui may be NIL.
FeedParseResult parseRssFeed(cJournaledIndexedObjectSoupDatabase& soup, webDataRoot& document, newsRoot& root,
                             const cEncoding* charset, Text url, newsFeed* updateFeed, feedProgressGui* gui);

}  // namespace bw
