// news/short_links.h - shortened links replaced by the address their
// shortener redirects to, up to eight requests at once, and the link
// identity test of the social parsers.
//
// Invariants:
//   1. A link is short when its host is at most 7 characters and the whole
//      link at most 32, or its host is the fixed shortening service; nothing
//      else is ever requested.
//   2. Only the first redirect is taken. A relative Location is resolved
//      against the short link; the result replaces the link only when it is
//      http or https. The first short link of an item stays in statedLink.
//   3. Every request has a deadline of its time-out (10 s) from its start on
//      the clock seam; a request past it ends like one that could not be
//      sent. The call therefore always returns.
//   4. A request that cannot be sent (or times out) in the first pass is
//      tried once more, alone, after a pause of 1500 ticks; one that cannot
//      be opened is not.
//   5. With a soup, changed items are saved in one transaction of the call.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "core/mega_list_family.h"
#include "core/str.h"
#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

inline constexpr int32_t kShortLinkRequests = 8;
inline constexpr int32_t kShortLinkTimeoutSeconds = 10;
inline constexpr int32_t kShortLinkRetryTicks = 1500;

// What tests replace: the pause before the retry pass (empty: dos::delay),
// and offline: no request at all (every link stays).
struct ShortLinkHooks {
  std::function<void(int32_t ticks)> sleep;
  bool offline = false;
};

// The hooks of the calls that give none (the parsers' merge stage): tests of
// whole parses set them; an empty value restores the real ones.
void setDefaultShortLinkHooks(ShortLinkHooks hooks);

bool isShortLink(Text link);

// The items of a list of newsItem objects, in list order.
std::vector<newsItem*> newsItemsOf(cMegaList_class& items);

// items: loaded newsItem objects (the list need not own them); soup may be
// null when the changed items need not be saved.
void expandShortenedURLs(cMegaList_class& items, cJournaledIndexedObjectSoupDatabase* soup);
void expandShortenedURLs(cMegaList_class& items, cJournaledIndexedObjectSoupDatabase* soup,
                         const ShortLinkHooks& hooks);
// The same over loaded newsItem objects in a vector, in its order.
void expandShortenedURLs(const std::vector<newsItem*>& items, cJournaledIndexedObjectSoupDatabase* soup);

// Whether link and otherLink name the same story for feed: equal links
// (ignoring case) unless link is a site's home address alone; differing
// links when link is on the Facebook site or the feed's notUpdates is unset.
bool isSameLink(const newsFeed& feed, Text link, Text otherLink);

}  // namespace bw
