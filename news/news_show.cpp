// news/news_show.cpp - the Filter walks over a feed's item list.
#include "news/news_show.h"

#include "news/list_loop.h"
#include "news/news_filter.h"
#include "news/news_load.h"

namespace bw {
namespace {

const char kComesBack[] = "isNewsItemShown(); the item list comes back to an item it went through";

// The item at index (not 0) of feed's list: an index that names no item is
// damage.
newsItem* itemOfList(cJournaledIndexedObjectSoupDatabase& db, int32_t index, newsFeed& feed) {
  newsItem* item = loadObject_newsItem2(db, index, &feed);
  if (!item) raiseLinkDamage("isNewsItemShown(); the item list names an index that holds no item");
  return item;
}

// The first item of the run of items at the list's end whose published
// date is not valid: the list is ordered by that date, so they stand behind
// every dated item, whatever their other dates. 0 when there is none.
int32_t firstUndatedAtEnd(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed) {
  int32_t index = feed.itemList ? feed.itemList->infoTailIndex() : 0;
  int32_t first = 0;
  ListLoop loop(index);
  while (index != 0) {
    newsItem* item = itemOfList(db, index, feed);
    const bool undated = !isValidDate(item->published);
    const int32_t prev = item->infoPrevIndex();
    db.unloadObject(item);
    if (!undated) break;
    first = index;
    index = prev;
    loop.stepTo(index, kComesBack);
  }
  return first;
}

// The walk of both directions: towardsOlder follows nextIndex. A limit of
// kDateUnset hides nothing (no date is earlier). An item shows by its
// infoPublishedDate; the list runs by its published date, so the first
// dated item older than the limit ends the dated part of the walk, which
// goes on with the undated items at the list's end (dated by their updated
// or download date); a feed that dates its items by their download goes
// through the whole list. A damaged list, one that comes back to an item it
// went through or names what is no item, raises link damage.
newsItem* walk(cJournaledIndexedObjectSoupDatabase& db, int32_t index, newsFeed& feed, newsRoot* root,
               bigTime limit, bool towardsOlder) {
  ListLoop loop(index);
  bool first = true;
  bool undatedPart = false;  // the walk is among the undated items at the end
  while (index != 0) {
    newsItem* item = itemOfList(db, index, feed);
    const bool dated = isValidDate(item->published);
    if (first && !dated) undatedPart = true;
    first = false;
    const bool older = item->infoPublishedDate() < limit;
    if (older && dated && !feed.useDownloadDate) {
      db.unloadObject(item);
      if (undatedPart) return nullptr;
      undatedPart = true;
      index = firstUndatedAtEnd(db, feed);
      loop.stepTo(index, kComesBack);
      continue;
    }
    if (!dated) undatedPart = true;
    bool hidden = true;
    if (!older) {
      try {
        hidden = matchNewsItemFilter(db, root, *item, feed);
      } catch (...) {
        db.unloadObject(item);
        throw;
      }
    }
    if (!hidden) return item;
    index = towardsOlder ? item->infoNextIndex() : item->infoPrevIndex();
    db.unloadObject(item);
    loop.stepTo(index, kComesBack);
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
