// news/feed_tags.h - feed tags: normalising what the user typed, the
// visibility test of the tag chooser, the tag space and the rename.
//
// Invariants:
//   1. A stored tags text is NIL or "," + tag + "," + ... + ",": one comma
//      before every tag and after the last, in the feed's encoding (UTF-8),
//      so "," + tag + "," finds a tag with no partial matches.
//   2. Texts the user typed or chose (tag chooser labels, parseTagText's
//      input, the old and new tag of a rename) are display text in the
//      display charset; they reach a stored text only through
//      feedTextToFeedEncoding into the feed's encoding.
//   3. The tag space is case-insensitive (a-z folded to A-Z): one entry per
//      tag whatever its spelling, the first spelling met kept. The visibility
//      test and the rename search case-sensitively.
//   4. renameFeedTag changes every feed or none: one transaction.
#pragma once

#include <memory>

#include "core/charset.h"
#include "core/gui_list_selection.h"
#include "core/str.h"
#include "core/string_space.h"
#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

// Row and tag flags of the feed list and the tag chooser.
inline constexpr int32_t kTagHasUnseen = 1;
inline constexpr int32_t kFeedDisabled = 2;
inline constexpr int32_t kTagHasNewItems = 4;
inline constexpr int32_t kFeedRowDownloadFailed = 8;

// The tags the user typed, normalised: pieces between "," without leading
// and trailing spaces (tabs stay), empty pieces and repeats (letter case
// ignored, the first kept) dropped, joined by ",". NIL when nothing changed
// (or for NIL).
Str parseTagText(Text text);

// TRUE without a chooser or without a selected chooser entry; FALSE for a
// feed without tags; else TRUE when "," + label + "," of some selected entry
// (in selection order) is in the feed's tags converted into charset.
bool feedHasVisibleTag(newsFeed& feed, GuiListSelection* tagChooser, const cEncoding* charset);

// Every tag of the loaded feeds (root.firstLoadedFeed on) in display form,
// mapped to a boxVALUE of kTagHasUnseen | kTagHasNewItems ORed over the
// feeds carrying it. An owning, case-insensitive space the caller owns. A
// feed whose tags give no display text raises "BUG" "getAllFeedUserTags();
// visibleUserTags=NILS".
std::unique_ptr<cStringSpace> getAllFeedUserTags(newsRoot& root, const cEncoding* charset);

// In one transaction: in every loaded feed but exceptFeed whose tags hold
// "," + oldTag + "," (first occurrence, case-sensitive) that tag becomes
// newTag, and the feed's tags are then normalised as parseTagText does
// (newTag may name several tags; a feed left without any has NIL tags);
// the feed's tags cache is dropped and the feed saved. Both tags are
// display text in charset, stored in encoding.
void renameFeedTag(Text oldTag, Text newTag, cJournaledIndexedObjectSoupDatabase& db, newsRoot& root,
                   const cEncoding& charset, const cEncoding& encoding, newsFeed* exceptFeed);

}  // namespace bw
