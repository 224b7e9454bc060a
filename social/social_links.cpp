// social/social_links.cpp - social link keys and the duplicate rebuild.
#include "social/social_links.h"

#include <string>
#include <unordered_map>
#include <unordered_set>

#include "core/ascii_case.h"
#include "core/exception.h"
#include "news/feed_merge.h"
#include "news/news_config.h"
#include "news/news_item_glance.h"
#include "news/news_load.h"
#include "news/short_links.h"
#include "social/service_config.h"

namespace bw {
namespace {

constexpr std::string_view kYoutube = kYoutubePrefix;
static_assert(kYoutube.size() == 20);

enum class FeedKind { kNone, kTwitter, kFacebook, kRss, kAtom };

FeedKind kindOf(const Str& type) {
  std::string_view t = type.view();
  if (t.starts_with("Twitter")) return FeedKind::kTwitter;
  if (t.starts_with("Facebook")) return FeedKind::kFacebook;
  if (t.starts_with("RSS")) return FeedKind::kRss;
  if (t.starts_with("Atom")) return FeedKind::kAtom;
  return FeedKind::kNone;
}

// The part of a link with a query that the query rule cuts away (from, to);
// FALSE when the rule does not apply (no query, or a YouTube link).
bool queryCut(std::string_view text, size_t& from, size_t& to) {
  const size_t q = text.find('?');
  if (q == std::string_view::npos) return false;
  // A Facebook link, the common case, is no YouTube link: the two sites
  // differ without regard to case within the shorter.
  const bool facebook = startsWithNoCase(text, newsConfig::kFacebookHome);
  if (!facebook && startsWithNoCase(text, kYoutube)) return false;
  size_t h = text.find('#', q);
  if (h == std::string_view::npos) h = text.size();
  size_t cut = q;
  if (facebook) {
    // Only the query itself is searched: a "comment_id=" in the "#" part
    // would otherwise repeat that part.
    const size_t c = text.substr(0, h).find("comment_id=", q + 1);
    cut = c == std::string_view::npos ? h : c - 1;
  } else if (text.substr(q < 4 ? 0 : q - 4, 5) == ".php?") {
    cut = h;
  }
  if (cut > 0 && text[cut - 1] == '/') --cut;
  from = cut;
  to = h;
  return true;
}

// socialLinkKey's text: a part of link's own bytes when no query is cut
// away, else made in key (whose room is kept). Valid while both are.
std::string_view keyOf(std::string& key, Text link) {
  if (link.isNil()) raise("EMU", "normaliseSocialLink(); link=NIL");
  const std::string_view text = link.view();
  size_t from = 0, to = 0;
  if (!queryCut(text, from, to)) {
    return text.substr(0, !text.empty() && text.back() == '/' ? text.size() - 1 : text.size());
  }
  key.assign(text.substr(0, from));
  key.append(text.substr(to));
  return key;
}

std::string keyText(Text link) {
  std::string key;
  return std::string(keyOf(key, link));
}

}  // namespace

Str normaliseSocialLink(Text link, bool onlyIfChanged) {
  if (link.isNil()) raise("EMU", "normaliseSocialLink(); link=NIL");
  const std::string_view text = link.view();
  size_t from = 0, to = 0;
  if (onlyIfChanged && !queryCut(text, from, to) && (text.empty() || text.back() != '/')) return Str();
  return Str(keyText(link));
}

Str socialLinkKey(Text link) { return Str(keyText(link)); }

void SocialLinkChains::remember(int32_t index, std::string_view link) {
  if (!link.empty()) first_.setIfAbsent(keyOf(key_, Text(link)), index);
}

int32_t SocialLinkChains::knownFirst(newsItem& item) {
  if (item.link.empty()) return 0;
  return first_.setIfAbsent(keyOf(key_, item.link), item.infoSoupIndex());
}

void SocialLinkChains::joinAsNewest(newsItem& item) {
  const int32_t known = knownFirst(item);
  if (known == 0) return;
  HeldItem first(db_, loadObject_newsItem2(db_, known, &feed_));
  if (first && isSameLink(feed_, item.link, first->link)) first->addAsNewestDuplicate(db_, &item);
}

void SocialLinkChains::joinAsOldest(newsItem& item) {
  if (item.link.empty()) return;
  const std::string_view key = keyOf(key_, item.link);
  if (const int32_t known = first_.find(key)) {
    HeldItem found(db_, loadObject_newsItem2(db_, known, &feed_));
    if (found && isSameLink(feed_, item.link, found->link)) found->addAsOldestDuplicate(db_, &item);
  }
  first_.set(key, item.infoSoupIndex());
}

void rebuildFeedDuplicates(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed) {
  const FeedKind kind = kindOf(feed.type);
  if (kind == FeedKind::kNone) return;
  if (!feed.itemList) raise("EMU", "rebuildFeedDuplicates(); feed has no item list");
  const bool byLink = kind == FeedKind::kTwitter || kind == FeedKind::kFacebook;

  SoupTransaction transaction(db.infoBlockFile());
  SocialLinkChains links(db, feed);
  std::unordered_map<std::string, int32_t> firstWithKey;
  std::unordered_set<int32_t> walked;
  for (int32_t index = feed.itemList->infoTailIndex(); index != 0 && walked.insert(index).second;) {
    HeldItem item(db, loadObject_newsItem2(db, index, &feed));
    if (!item) break;
    if (item->infoIsDuplicate()) {
      item->newestDuplicateItemIndex = 0;
      item->olderDuplicateItemIndex = 0;
      db.saveChangesToObject(item.get());
    }
    if (byLink) {
      links.joinAsNewest(*item.get());
    } else if (!feed.notUpdates && !item->uniqueID.isNil() && item->uniqueID.view() != kMissingText) {
      // An item without an id (NIL or the missing mark) is nobody's
      // duplicate, as the merge reads it: its key is not "".
      auto [known, added] = firstWithKey.try_emplace(item->uniqueID.str(), index);
      if (!added) {
        HeldItem first(db, loadObject_newsItem2(db, known->second, &feed));
        if (first) first->addAsNewestDuplicate(db, item.get());
      }
    }
    index = item->infoPrevIndex();
  }
  transaction.finish();
}

}  // namespace bw
