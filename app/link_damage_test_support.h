// app/link_damage_test_support.h - link damage of a stored news database,
// for the start-up's link sweep and the repair's fuzz seeds: the links each
// class of object holds, the class each should name, and one link rewritten
// in place.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "database/soup_block_file.h"
#include "database/soup_database.h"
#include "news/news_load.h"
#include "news/news_objects.h"

namespace bw::testing_app {

enum class Kind { kRoot, kList, kFeed, kItem, kBody };
enum class Link { kRootFeedList, kHead, kTail, kChainNext, kChainPrev, kNext, kPrev, kItemList, kOwner, kBody,
                  kOlder, kNewest, kZeroed };

inline const char* linkName(Link link) {
  const char* names[] = {"feed list", "head", "tail", "list chain next", "list chain previous", "next", "previous",
                         "item list", "owner", "body", "older duplicate", "newest duplicate", "zeroed"};
  return names[static_cast<int>(link)];
}

// The links of an object of kind, each with the kind it should name (a
// list's nodes are feeds in the feed list, items in an item list).
inline std::vector<std::pair<Link, Kind>> linksOf(Kind kind, bool feedList) {
  switch (kind) {
    case Kind::kRoot: return {{Link::kRootFeedList, Kind::kList}};
    case Kind::kList: {
      const Kind node = feedList ? Kind::kFeed : Kind::kItem;
      return {{Link::kHead, node}, {Link::kTail, node}, {Link::kChainNext, Kind::kList}, {Link::kChainPrev, Kind::kList}};
    }
    case Kind::kFeed: return {{Link::kNext, Kind::kFeed}, {Link::kPrev, Kind::kFeed}, {Link::kItemList, Kind::kList}};
    case Kind::kItem:
      return {{Link::kNext, Kind::kItem}, {Link::kPrev, Kind::kItem}, {Link::kOwner, Kind::kFeed},
              {Link::kBody, Kind::kBody}, {Link::kOlder, Kind::kItem}, {Link::kNewest, Kind::kItem}};
    case Kind::kBody: break;
  }
  return {};
}

// Rewrites one link of object to value: a list's or a node's link in its
// record's first bytes, a field of a news record through the record.
inline void damageLink(cJournaledIndexedObjectSoupDatabase& db, int32_t object, Link link, int32_t value) {
  auto raw = [&](int64_t offset) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    SoupTransaction tx(db.infoBlockFile());
    db.infoBlockFile().writeBytes(db.infoBlockFile().infoBlockOfIndex(object, true) + offset, bytes, 4);
    tx.finish();
  };
  auto field = [&](auto load, auto member) {
    auto* loaded = load(db, object);
    loaded->*member = value;
    db.saveChangesToObject(loaded);
    db.unloadObject(loaded);
  };
  switch (link) {
    case Link::kHead: case Link::kNext: return raw(0);
    case Link::kTail: case Link::kPrev: return raw(4);
    case Link::kChainNext: return raw(8);
    case Link::kChainPrev: return raw(12);
    case Link::kRootFeedList: return field(loadObject_newsRoot, &newsRoot::feedListIndex);
    case Link::kItemList: return field(loadObject_newsFeed, &newsFeed::itemListIndex);
    case Link::kOwner: return field(loadObject_newsItem, &newsItem::feedIndex);
    case Link::kBody: return field(loadObject_newsItem, &newsItem::bodyIndex);
    case Link::kOlder: return field(loadObject_newsItem, &newsItem::olderDuplicateItemIndex);
    case Link::kNewest: return field(loadObject_newsItem, &newsItem::newestDuplicateItemIndex);
    case Link::kZeroed: break;
  }
}

}  // namespace bw::testing_app
