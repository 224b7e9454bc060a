// app/feed_lists_check.cpp - the lists agree, every list belongs to one
// feed and holds that feed's items, and no chain of older duplicates comes
// back to a member: each feed and item looked at as the list walk meets it
// (an item from the first bytes the walk reads of it, its texts skipped).
#include "app/feed_lists_check.h"

#include <algorithm>
#include <optional>
#include <span>
#include <unordered_map>
#include <unordered_set>

#include "core/exception.h"
#include "news/news_format.h"
#include "news/news_objects.h"
#include "platform/restore_stream.h"

namespace bw {
namespace {

// Items stored before this version name no feed.
constexpr int32_t kFirstVersionWithFeed = 5;

int32_t bigEndian32(const uint8_t* p) {
  return static_cast<int32_t>((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]);
}

// What the check reads of an item; namesFeed FALSE for an item stored
// before items named their feed.
struct ItemLinks {
  int32_t next = 0, feed = 0, older = 0;
  bool namesFeed = true;
};

// The bytes of an item record read for its links (what the list walk
// shows of each node): its texts up to the duplicate links mostly fit.
constexpr int32_t kQuickBytes = cJournaledIndexedObjectSoupDatabase::kCheckedRecordBytes;

// An item record read up to its older duplicate link (newsItem's layout):
// next, previous, version, feed, title, title format, link, stated link,
// uniqueID, published, updated, downloaded, older. None where the bytes end
// first or a text is stored otherwise than as the program writes it now.
std::optional<ItemLinks> quickLinks(const uint8_t* bytes, size_t size) {
  size_t at = 0;
  auto value = [&](int32_t& field) {
    if (size - at < 4) return false;
    field = bigEndian32(bytes + at);
    at += 4;
    return true;
  };
  auto compact = [&](int32_t& field) {
    const int n = decodeCompactValue(bytes + at, size - at, &field);
    at += static_cast<size_t>(n);
    return n > 0;
  };
  auto text = [&] {
    if (at == size) return false;
    const uint8_t version = bytes[at++];
    if (version == 0xFF) return true;
    int32_t capacity = 0, length = 0;
    if (version != 1 || !compact(capacity) || !compact(length) || length < 0 || length > capacity ||
        size - at < static_cast<size_t>(length)) {
      return false;
    }
    at += static_cast<size_t>(length);
    return true;
  };
  auto skip = [&](size_t n) {
    if (size - at < n) return false;
    at += n;
    return true;
  };
  ItemLinks links;
  int32_t prev = 0, version = 0;
  if (!value(links.next) || !value(prev) || !value(version)) return std::nullopt;
  // Older layouts go to the program's own reader.
  if (version != kNewsItemVersion || !value(links.feed)) return std::nullopt;
  // Title, its format byte, link, stated link, uniqueID: one call site
  // for the texts, so the walk reads them inline.
  for (int k = 0; k < 4; ++k) {
    if (!text() || (k == 0 && !skip(1))) return std::nullopt;
  }
  if (!skip(24) || !compact(links.older)) return std::nullopt;
  return links;
}

class FeedListsWalk {
 public:
  explicit FeedListsWalk(cJournaledIndexedObjectSoupDatabase& db) : db_(db), file_(db.infoBlockFile()) {}

  bool run() {
    rootIndex_ = db_.infoRootValue();
    if (rootIndex_ == 0) return db_.listsAgree(false);
    newsRoot root;
    db_.readRecordInto(rootIndex_, root);
    feedList_ = root.feedListIndex;
    owners_.emplace(feedList_, rootIndex_);
    // Every feed and item is met once, by the walk of its list, in the
    // chain's order: which feed names a list may come after its items.
    std::optional<eException> raised;
    const bool agree = db_.listsAgree(false, [&](int32_t list, int32_t index, std::span<const uint8_t> record) {
      try {
        return met(list, index, record);
      } catch (const eException& e) {
        raised = e;
        return false;
      }
    });
    if (raised) throw *raised;
    if (!agree || !lists_.contains(feedList_)) return false;
    // A list no feed names holds what the feed list lost (one emptied
    // leaves every feed's list so).
    if (!std::all_of(lists_.begin(), lists_.end(), [&](int32_t list) { return owners_.contains(list); })) return false;
    for (const auto& [list, feed] : owners_) {
      if (feed == rootIndex_) continue;
      const auto named = named_.find(list);
      if (!lists_.contains(list) || (named != named_.end() && named->second != feed)) return false;
    }
    return true;
  }

 private:
  // The links of the item at index: from record, its first bytes, where
  // its texts are stored as the program writes them now, else by the
  // program's own reader (texts skipped), which raises on damage.
  ItemLinks linksOf(int32_t index, std::span<const uint8_t> record) {
    if (std::optional<ItemLinks> links = quickLinks(record.data(), record.size())) return *links;
    newsItem item;
    item.textsRead = newsItem::Texts::kNone;
    db_.readRecordInto(index, item);
    return {item.infoNextIndex(), item.feedIndex, item.olderDuplicateItemIndex, item.version >= kFirstVersionWithFeed};
  }
  ItemLinks readItem(int32_t index) {
    const int64_t at = file_.infoBlockOfIndex(index, true);
    if (at == 0) return linksOf(index, {});
    uint8_t bytes[kQuickBytes];
    const int32_t size = file_.readIndexBlockStart(at, bytes, 0, kQuickBytes);
    return linksOf(index, std::span<const uint8_t>(bytes, static_cast<size_t>(size)));
  }
  // A list of the chain (index 0), a feed of the root's list, which names
  // its list of items, or an item, which names its feed; FALSE for a list
  // two feeds (or a feed and the root) name, for items of one list that
  // name different feeds, and for a chain of older duplicates that loops.
  bool met(int32_t list, int32_t index, std::span<const uint8_t> record) {
    if (index == 0) return lists_.insert(list).second;
    if (list == feedList_) {
      newsFeed feed;
      db_.readRecordInto(index, feed);
      return owners_.emplace(feed.itemListIndex, index).second;
    }
    const ItemLinks item = linksOf(index, record);
    if (item.namesFeed) {
      // The walk meets a list's items one after another.
      if (list != namedList_) {
        namedFeed_ = named_.try_emplace(list, item.feed).first->second;
        namedList_ = list;
      }
      if (namedFeed_ != item.feed) return false;
    }
    return item.older == 0 || !olderChainLoops(index);
  }
  // Whether the chain of older duplicates from index comes back to a member
  // (two walks along it, one twice as fast, meet).
  bool olderChainLoops(int32_t index) {
    auto older = [&](int32_t at) { return at == 0 ? 0 : readItem(at).older; };
    for (int32_t slow = index, fast = index;;) {
      fast = older(older(fast));
      slow = older(slow);
      if (fast == 0) return false;
      if (fast == slow) return true;
    }
  }

  cJournaledIndexedObjectSoupDatabase& db_;
  SoupBlockFile& file_;
  int32_t rootIndex_ = 0, feedList_ = 0;
  std::unordered_set<int32_t> lists_;            // the lists of the chain
  std::unordered_map<int32_t, int32_t> owners_;  // list -> the feed (or the root) that names it
  std::unordered_map<int32_t, int32_t> named_;   // list -> the feed its items name
  int32_t namedList_ = 0, namedFeed_ = 0;  // the last list met and its entry of named_
};

}  // namespace

bool listsAndFeedsAgree(cJournaledIndexedObjectSoupDatabase& db) {
  try {
    return FeedListsWalk(db).run();
  } catch (const eException& e) {
    if (e.code() == "BRK" || e.code() == "MEM" || e.code() == "FULL") throw;
    return false;
  }
}

}  // namespace bw
