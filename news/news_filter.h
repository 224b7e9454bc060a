// news/news_filter.h - the Filter and Search language: which items a feed's
// Filter or the root's Search hides, and the duplicate rule.
//
// Invariants:
//   1. Terms are the Filter or Search text split at ","; the window gives
//      them case-folded (foldCaseUtf8) and trimmed. The title, link and tags
//      are case-folded the same way for the comparison; the title is taken
//      as the lists show it (its escapes, CDATA sections and markup read
//      through the feed's format), so a term matches the words a user sees.
//   2. A Filter starts from shown and hides what matches; a Search (root
//      terms, which then replace every feed's Filter) starts from hidden and
//      shows what matches; "~" as the first term turns either around and as
//      any term swaps what a later match means. The last matching term wins.
//   3. A title term matches the leftmost occurrence whose two edges hold:
//      the title's start or end, a word edge byte (filterCharClass 4 or 8),
//      or a "_" at that end of the term. An empty term, or one made only of
//      "_", changes nothing.
//   4. Of a duplicate chain only one item is ever shown: the newest for a
//      feed whose type begins with "Facebook", else the oldest.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

// Word-edge classes of a byte: 1 letter (A-Z, a-z), 2 digit, 4 white space
// (tab, LF, CR, space), 8 anything else (bytes of 128 and above included).
inline constexpr int32_t filterCharClass(uint8_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return 1;
  if (c >= '0' && c <= '9') return 2;
  if (c == 9 || c == 10 || c == 13 || c == 32) return 4;
  return 8;
}

// text (UTF-8) in lower case by the system's Unicode tables (A-Z alone
// when it has no UTF-8 locale); bytes that are not UTF-8 stay as they are.
std::string foldCaseUtf8(std::string_view text);

// TRUE when the item is to be hidden: not its chain's representative, or
// hidden by the root's Search terms (root may be NIL) or else the feed's
// Filter terms.
bool matchNewsItemFilter(cJournaledIndexedObjectSoupDatabase& db, newsRoot* root, newsItem& item, newsFeed& feed);

}  // namespace bw
