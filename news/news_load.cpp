// news/news_load.cpp - the loaders of the news classes, the deletion of an
// item, and an item's record rewritten without a load.
#include "news/news_load.h"

#include <cstring>
#include <memory>
#include <type_traits>

#include "core/exception.h"
#include "database/journal_format.h"  // the big-endian codec
#include "platform/restore_stream.h"

namespace bw {
namespace {

// What the soup answers for an index without a record.
const char kNoRecord[] = "cJournaledIndexedObjectSoup.loadObject(); no object matches provided index";

// The object at index as a T with one more use (see the header's invariant
// 1); fresh says whether this call read it from the file.
template <class T>
T* loadAs(cJournaledIndexedObjectSoupDatabase& db, int32_t index, bool& fresh, bool textsSkipped = false) {
  fresh = false;
  db.requireOpen("loadObject");
  if (index <= 0) return nullptr;
  cIndexedObject* loaded = db.findLoadedObject(index, 1);
  if (!loaded) {
    try {
      auto made = std::make_unique<T>();
      if constexpr (std::is_same_v<T, newsItem>) {
        if (textsSkipped) made->textsRead = newsItem::Texts::kNone;
      }
      loaded = db.loadObject(index, std::move(made));
    } catch (const eException& e) {
      if (e.code() == "EMU" && e.message() == kNoRecord) return nullptr;
      throw;
    }
    fresh = true;
  }
  if (loaded->isOfClass(T::kClassName)) return static_cast<T*>(loaded);
  db.unloadObject(loaded);
  fresh = false;
  return nullptr;
}

// Loads a fresh holder's list; on failure the holder is given back.
template <class T>
cIndexedObjectList* loadHeldList(cJournaledIndexedObjectSoupDatabase& db, T* holder, int32_t listIndex) {
  try {
    cIndexedObjectList* list = loadObject_cIndexedObjectList(db, listIndex);
    if (!list) raiseLinkDamage("loadObject_cIndexedObjectList(); list=NIL");
    return list;
  } catch (...) {
    db.unloadObject(holder);
    throw;
  }
}

const char kStillListed[] = "destroyNewsItem(); item is still in its feed's list";

bool listNames(const cIndexedObjectList* list, int32_t index) {
  return list && (list->infoHeadIndex() == index || list->infoTailIndex() == index);
}

}  // namespace

void writeLoadedHeader(cJournaledIndexedObjectSoupDatabase& db, int32_t index) {
  if (index <= 0) return;
  cIndexedObject* loaded = db.findLoadedObject(index, 0);
  if (loaded && loaded->infoIsNode()) {
    db.writeLoadedObjectNodeHeader(static_cast<cIndexedObjectNode*>(loaded));
  }
}

newsRoot* loadObject_newsRoot(cJournaledIndexedObjectSoupDatabase& db, int32_t index) {
  bool fresh = false;
  newsRoot* root = loadAs<newsRoot>(db, index, fresh);
  if (root && fresh) root->feedList = loadHeldList(db, root, root->feedListIndex);
  return root;
}

newsFeed* loadObject_newsFeed(cJournaledIndexedObjectSoupDatabase& db, int32_t index) {
  bool fresh = false;
  newsFeed* feed = loadAs<newsFeed>(db, index, fresh);
  if (feed && fresh) feed->itemList = loadHeldList(db, feed, feed->itemListIndex);
  return feed;
}

namespace {
int64_t gNewsItemLoads = 0;
}  // namespace

int64_t infoNewsItemLoads() { return gNewsItemLoads; }

void countNewsItemLoad() { ++gNewsItemLoads; }

newsItem* loadObject_newsItem(cJournaledIndexedObjectSoupDatabase& db, int32_t index) {
  ++gNewsItemLoads;
  bool fresh = false;
  return loadAs<newsItem>(db, index, fresh);
}

namespace {

// An item without a feed borrows feed, or without one the loaded feed of its
// feedIndex; none gives the item back and raises.
newsItem* withFeed(cJournaledIndexedObjectSoupDatabase& db, newsItem* item, newsFeed* feed) {
  if (!item || item->cachedFeed()) return item;
  if (!feed) {
    cIndexedObject* loaded = db.findLoadedObject(item->feedIndex, 0);
    if (loaded && loaded->isOfClass(newsFeed::kClassName)) feed = static_cast<newsFeed*>(loaded);
  }
  if (!feed) {
    db.unloadObject(item);
    raise("BUG", "loadObject_newsItem2(); feed was not already loaded");
  }
  item->setFeed(feed);
  return item;
}

}  // namespace

newsItem* loadObject_newsItemToDelete(cJournaledIndexedObjectSoupDatabase& db, int32_t index, newsFeed* feed) {
  ++gNewsItemLoads;
  bool fresh = false;
  return withFeed(db, loadAs<newsItem>(db, index, fresh, true), feed);
}

newsItemBody* loadObject_newsItemBody(cJournaledIndexedObjectSoupDatabase& db, int32_t index) {
  bool fresh = false;
  return loadAs<newsItemBody>(db, index, fresh);
}

newsItem* loadObject_newsItem2(cJournaledIndexedObjectSoupDatabase& db, int32_t index, newsFeed* feed) {
  return withFeed(db, loadObject_newsItem(db, index), feed);
}

void destroyNewsItem(cJournaledIndexedObjectSoupDatabase& db, newsItem* item, newsItemBody* body,
                     bool keepDuplicates) {
  if (!item) raise("EMU", "destroyNewsItem(); item=NIL");
  int32_t index = item->infoSoupIndex();
  cIndexedObjectList* list = item->infoFeed(&db)->itemList;
  if (!list) raise("BUG", "destroyNewsItem(); feed has no item list");
  SoupTransaction transaction(db.infoBlockFile());
  NodeHeader neighbours{item->infoNextIndex(), item->infoPrevIndex()};
  list->remove(index);
  writeLoadedHeader(db, neighbours.nextIndex);
  writeLoadedHeader(db, neighbours.prevIndex);
  if (!keepDuplicates && item->infoIsDuplicate()) item->removeFromDuplicateList(db);
  if (listNames(list, index)) raise("BUG", kStillListed);
  if (body) db.unloadAndDestroyObject(body);
  db.unloadAndDestroyObject(item);
  transaction.finish();
}

void dropNewsItem(cJournaledIndexedObjectSoupDatabase& db, newsItem* item, newsItemBody* body) {
  if (!item) raise("EMU", "destroyNewsItem(); item=NIL");
  int32_t index = item->infoSoupIndex();
  newsFeed* feed = item->infoFeed(&db);
  if (listNames(feed->itemList, index) || item->infoNextIndex() != 0 || item->infoPrevIndex() != 0) {
    raise("BUG", kStillListed);
  }
  SoupTransaction transaction(db.infoBlockFile());
  if (body) db.unloadAndDestroyObject(body);
  db.unloadAndDestroyObject(item);
  transaction.finish();
}

}  // namespace bw
