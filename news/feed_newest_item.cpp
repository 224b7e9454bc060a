// news/feed_newest_item.cpp - updateFeedNewestItemTime.
#include "news/feed_newest_item.h"

#include <memory>

#include "core/exception.h"
#include "news/news_load.h"
#include "news/news_orderings.h"
#include "news/news_show.h"

namespace bw {
namespace {

// Takes the first object out of the list (its node goes).
newsItem* takeFirst(cMegaList_class& list) {
  auto cursor = list.infoStart()->clone(0, 0);
  auto* object = static_cast<newsItem*>(cursor->setData(nullptr, true));
  cursor->destroy();
  return object;
}

bool isRepeat(const newsItem& stored, const newsItem& candidate) {
  return stored.published == candidate.published && stored.updated == candidate.updated &&
         stored.uniqueID == candidate.uniqueID;
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
  // ahead keeps the item an insertion put a new one before: the next step
  // comes back to it, and a held item needs no second read.
  HeldItem prev(db), cur(db), ahead(db);
  auto stepOn = [&] {
    prev.reset(cur.release());
    const int32_t next = prev.get()->infoNextIndex();
    if (ahead.get() && next != 0 && ahead.get()->infoSoupIndex() == next) {
      cur.reset(ahead.release());
    } else {
      cur.reset(loadObject_newsItem2(db, next, &feed));
    }
  };
  cur.reset(loadObject_newsItem2(db, feed.itemList->infoHeadIndex(), &feed));
  while (!newItems.isEmpty()) {
    newsItem* item = takeFirst(newItems);
    std::unique_ptr<newsItem> fresh(alreadyStored ? nullptr : item);
    HeldItem stored(db);
    if (alreadyStored) stored.reset(item);
    if (!item->cachedFeed()) item->setFeed(&feed);
    while (cur.get() && cur.get()->published > item->published) stepOn();
    if (cur.get() && isRepeat(*cur.get(), *item) && !cur.get()->infoIsInDuplicateList(db, item)) {
      dropRepeat(db, std::move(fresh), stored.release());
      continue;
    }
    if (fresh) {
      db.createdObject(fresh.get());
      stored.reset(fresh.release());
    }
    int32_t index = item->infoSoupIndex();
    if (prev.get()) {
      feed.itemList->insertAfter(index, prev.get()->infoSoupIndex());
    } else {
      feed.itemList->insertAtHead(index);
    }
    for (int32_t touched : {index, item->infoPrevIndex(), item->infoNextIndex()}) writeLoadedHeader(db, touched);
    ahead.reset(cur.release());
    cur.reset(stored.release());
    if (!isValidDate(item->published)) stepOn();
    feed.hasNewItems = true;
  }
  prev.reset(nullptr);
  cur.reset(nullptr);
  ahead.reset(nullptr);
  transaction.finish();
  if (feed.hasNewItems) feed.newestItemTime = feedNewestShownItemTime(db, feed);
}

}  // namespace bw
