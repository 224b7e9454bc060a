// news/news_show.cpp - the Filter walks over a feed's item list.
#include "news/news_show.h"

#include "news/list_loop.h"
#include "news/news_filter.h"
#include "news/news_load.h"

namespace bw {
namespace {

// The walk of both directions: towardsOlder follows nextIndex. A limit of
// kDateUnset hides nothing (no date is earlier). A damaged list that comes
// back to an item it went through ends the walk as an unloadable link does.
newsItem* walk(cJournaledIndexedObjectSoupDatabase& db, int32_t index, newsFeed& feed, newsRoot* root,
               bigTime limit, bool towardsOlder) {
  ListLoop loop(index);
  while (index != 0) {
    newsItem* item = loadObject_newsItem2(db, index, &feed);
    if (!item) return nullptr;
    if (item->infoPublishedDate() < limit) {
      db.unloadObject(item);
      return nullptr;
    }
    bool hidden = true;
    try {
      hidden = matchNewsItemFilter(db, root, *item, feed);
    } catch (...) {
      db.unloadObject(item);
      throw;
    }
    if (!hidden) return item;
    index = towardsOlder ? item->infoNextIndex() : item->infoPrevIndex();
    db.unloadObject(item);
    if (loop.cameBackTo(index)) return nullptr;
  }
  return nullptr;
}

}  // namespace

newsItem* isNewsItemShown(cJournaledIndexedObjectSoupDatabase& db, int32_t itemIndex, newsFeed& feed,
                          newsRoot* root) {
  bigTime limit = kDateUnset;
  if (root && !root->showUnseen) limit = root->showLimitTime;
  if (root && root->showUnseen) {
    if (!isValidDate(feed.seenUpToTime)) return nullptr;
    limit = feed.seenUpToTime;
  }
  return walk(db, itemIndex, feed, root, limit, true);
}

newsItem* findPreviousUnfilteredItem(cJournaledIndexedObjectSoupDatabase& db, int32_t itemIndex, newsFeed& feed) {
  return walk(db, itemIndex, feed, nullptr, kDateUnset, false);
}

bigTime feedNewestShownItemTime(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed) {
  if (!feed.itemList) return kDateUnset;
  newsItem* first = isNewsItemShown(db, feed.itemList->infoHeadIndex(), feed, nullptr);
  if (!first) return kDateUnset;
  bigTime published = first->infoPublishedDate();
  db.unloadObject(first);
  return published;
}

}  // namespace bw
