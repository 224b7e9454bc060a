// social/social_links.h - the link keys under which items of Twitter and
// Facebook feeds meet as repeats, and the rebuild of a feed's duplicate
// chains from its stored items.
//
// Invariants:
//   1. normaliseSocialLink keeps no state and never raises for a text; the
//      query of a link is cut away except on YouTube links, on ".php" pages
//      and, on the Facebook site, up to its "comment_id=" parameter; the "#"
//      part is always kept, and a "/" right before the cut goes with it.
//   2. rebuildFeedDuplicates runs in one SoupTransaction: an exception
//      discards all of its changes and passes on. A feed whose type is not
//      Twitter, Facebook, RSS or Atom is left untouched (no write at all).
//   3. The rebuild walks the stored items from the oldest to the newest,
//      once each (a list that loops back ends the walk), holding at most an
//      item and the head of its chain at a time. Each item leaves its old
//      chain and joins, as its newest member, the chain of the oldest item
//      walked with the same key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/str.h"
#include "database/soup_database.h"
#include "news/news_objects.h"
#include "social/id_index.h"

namespace bw {

// The link's key. onlyIfChanged: NIL when no rule changes the link (the key
// is then the link itself); otherwise never NIL. link must not be NIL
// ("EMU").
Str normaliseSocialLink(Text link, bool onlyIfChanged);

// The key of a link as the parsers and the rebuild use it: the normalised
// link, else the link.
Str socialLinkKey(Text link);

// The link chains of one pass over a feed's items: a map from link key to
// the index of the item that first showed it.
class SocialLinkChains {
 public:
  SocialLinkChains(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed) : db_(db), feed_(feed) {}
  // The stored item at index, of link, seen by a scan: its key is noted
  // unless already known.
  void remember(int32_t index, std::string_view link);
  // An item newer than the ones seen: it joins, as the newest member, the
  // chain of the item its key names when isSameLink accepts the two links;
  // an unknown key is noted.
  void joinAsNewest(newsItem& item);
  // An item older than the ones seen: it joins as the oldest member, and
  // its key then names it.
  void joinAsOldest(newsItem& item);

 private:
  cJournaledIndexedObjectSoupDatabase& db_;
  newsFeed& feed_;
  IdIndex first_;    // a key's item
  std::string key_;  // the key made last; its room serves the next

  // The index of the item that first showed item's key; 0 for a new key,
  // which then names item.
  int32_t knownFirst(newsItem& item);
};

// Throws away the duplicate chains of feed's stored items and builds them
// again: Twitter and Facebook feeds by link key (the chain's head must pass
// isSameLink), RSS and Atom feeds by uniqueID ("#MISSING" never; none at
// all when the feed's notUpdates is set). feed must be loaded on db.
void rebuildFeedDuplicates(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed);

}  // namespace bw
