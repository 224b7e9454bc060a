// news/feed_newest_item.cpp - updateFeedNewestItemTime.
#include "news/feed_newest_item.h"

#include <deque>
#include <memory>
#include <unordered_set>
#include <utility>

#include "core/exception.h"
#include "news/news_item_glance.h"
#include "news/news_load.h"
#include "news/news_orderings.h"
#include "news/news_show.h"
#include "news/short_links.h"

namespace bw {
namespace {

// Takes the first object out of the list (its node goes), by the walk's one
// cursor of the list, which stands anywhere between calls.
template <class Cursor>
newsItem* takeFirst(cMegaList_class& list, Cursor& cursor) {
  cursor.gotoCursor(*list.infoStart());
  auto* object = static_cast<newsItem*>(cursor.setData(nullptr, true));
  cursor.destroy();
  return object;
}

bool isRepeat(ItemGlance& stored, const newsItem& candidate) {
  const newsItem& dated = *stored.get();
  return dated.published == candidate.published && dated.updated == candidate.updated &&
         dated.uniqueID == candidate.uniqueID;
}

// TRUE when item is in the duplicate chain of the stored item at index.
bool inChainOf(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, int32_t index, const newsItem* item) {
  HeldItem stored(db, loadObject_newsItem2(db, index, &feed));
  return stored && stored->infoIsInDuplicateList(db, item);
}

// Drops a repeat: its body and, when stored, the item itself, first taken
// out of any duplicate chain the merge put it in.
void dropRepeat(cJournaledIndexedObjectSoupDatabase& db, std::unique_ptr<newsItem> fresh, newsItem* stored) {
  newsItem* item = fresh ? fresh.get() : stored;
  newsItemBody* body = item->bodyIndex != 0 ? loadObject_newsItemBody(db, item->bodyIndex) : nullptr;
  if (!stored) {
    if (body) db.unloadAndDestroyObject(body);
    return;  // the new object goes with fresh
  }
  if (stored->infoIsDuplicate()) stored->removeFromDuplicateList(db);
  dropNewsItem(db, stored, body);
}

}  // namespace

void updateFeedNewestItemTime(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, cMegaList_class& newItems,
                              bool alreadyStored) {
  if (newItems.isEmpty()) return;
  if (newItems.infoAutoDealloc()) raise("EMU", "updateFeedNewestItemTime(); newItems owns its objects");
  if (!feed.itemList) raise("BUG", "updateFeedNewestItemTime(); feed has no item list");
  newItems.sort(gCompareNewsItem_PublishedDate);
  SoupTransaction transaction(db.infoBlockFile());
  // The walk glances at the stored items it passes; only a repeat's
  // neighbour is loaded. prev keeps the item passed last (a new one stays
  // loaded while the next goes in after it); ahead keeps the item an
  // insertion put a new one before: the next step comes back to it.
  // The three glances alike, so the walk moves its roles between them, not
  // their contents.
  constexpr auto kReads = newsItem::Texts::kKeysAndDates;
  ItemGlance glances[] = {ItemGlance(db, kReads), ItemGlance(db, kReads), ItemGlance(db, kReads)};
  ItemGlance* prev = &glances[0];
  ItemGlance* cur = &glances[1];
  ItemGlance* ahead = &glances[2];
  // A stored item that takes a second new one before it is loaded: its
  // links then change in memory, not by a read and a write in the file.
  int32_t lastBefore = 0;
  // A sound list brings the walk back to an item it looked at only after an
  // insertion in front of it (which may drop that item's glance): more
  // returns than insertions are a list that runs in a circle.
  std::unordered_set<int32_t> looked;
  int64_t returns = 0, insertions = 0;
  auto stepOn = [&] {
    std::swap(prev, cur);
    const int32_t next = prev->get()->infoNextIndex();
    if (ahead->get() && next != 0 && ahead->get()->infoSoupIndex() == next) {
      std::swap(cur, ahead);
      ahead->clear();
    } else {
      if (next != 0 && !looked.insert(next).second && ++returns > insertions) {
        raiseLinkDamage("updateFeedNewestItemTime(); the item list comes back to an item it went through");
      }
      if (!cur->look(next) && next != 0) {
        raiseLinkDamage("updateFeedNewestItemTime(); the item list names an index that holds no item");
      }
    }
  };
  // Each item the walk links keeps a use until the walk ends: a glance that
  // comes back to it (new items of one date go in before each other, so
  // the walk passes them again) finds it loaded instead of reading its new
  // record from the transaction's cache.
  std::deque<HeldItem> linked;
  looked.insert(feed.itemList->infoHeadIndex());
  cur->look(feed.itemList->infoHeadIndex());
  auto taker = newItems.infoStart()->clone(0, 0);
  while (!newItems.isEmpty()) {
    newsItem* item = takeFirst(newItems, *taker);
    std::unique_ptr<newsItem> fresh(alreadyStored ? nullptr : item);
    HeldItem stored(db);
    if (alreadyStored) stored.reset(item);
    if (!item->cachedFeed()) item->setFeed(&feed);
    while (cur->get() && cur->get()->published > item->published) stepOn();
    if (cur->get() && isRepeat(*cur, *item) && !inChainOf(db, feed, cur->get()->infoSoupIndex(), item)) {
      dropRepeat(db, std::move(fresh), stored.release());
      continue;
    }
    if (fresh) {
      db.createdObject(fresh.get());
      stored.reset(fresh.release());
    }
    int32_t index = item->infoSoupIndex();
    if (cur->get() && cur->get()->infoSoupIndex() == lastBefore) cur->load(&feed);
    lastBefore = cur->get() ? cur->get()->infoSoupIndex() : 0;
    // The glances' links stand as in the file: the walk relinks them after
    // each insertion, so an insertion between two of them need not read
    // them again (a damaged list that links a node to itself or to the new
    // item takes the reading road).
    const int32_t hereIndex = prev->get() ? prev->get()->infoSoupIndex() : 0;
    const NodeHeader here = hereIndex ? NodeHeader{prev->get()->infoNextIndex(), prev->get()->infoPrevIndex()}
                                      : NodeHeader{feed.itemList->infoHeadIndex(), 0};
    const newsItem* after = cur->get();
    const bool between = after && after->infoSoupIndex() == here.nextIndex && here.nextIndex != hereIndex &&
                         here.nextIndex != index;
    if (!hereIndex) {
      feed.itemList->insertAtHead(index);
    } else if (between) {
      feed.itemList->insertAfter(index, hereIndex, here, after->infoNextIndex());
    } else {
      feed.itemList->insertAfter(index, hereIndex);
    }
    ++insertions;
    if (hereIndex) prev->relinked(index, here.prevIndex);
    if (between) cur->relinked(after->infoNextIndex(), index);
    for (int32_t touched : {index, item->infoPrevIndex(), item->infoNextIndex()}) writeLoadedHeader(db, touched);
    std::swap(ahead, cur);
    linked.emplace_back(db, static_cast<newsItem*>(db.findLoadedObject(index, 1)));
    cur->hold(stored.release());
    if (!isValidDate(item->published)) stepOn();
    feed.hasNewItems = true;
    ++feed.newItemCount;
  }
  prev->clear();
  cur->clear();
  ahead->clear();
  linked.clear();
  transaction.finish();
  if (feed.hasNewItems) feed.newestItemTime = feedNewestShownItemTime(db, feed);
}

}  // namespace bw
