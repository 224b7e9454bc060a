// social/social_merge.cpp - the merge stage of the social parsers.
#include "social/social_merge.h"

#include <algorithm>
#include <cstdio>

#include "news/feed_newest_item.h"
#include "news/news_item_glance.h"
#include "news/news_load.h"
#include "news/short_links.h"

namespace bw {

NewItems::~NewItems() {
  std::vector<newsItem*> held = newsItemsOf(list);
  held.insert(held.end(), pending.begin(), pending.end());
  for (newsItem* item : held) {
    try {
      db.unloadObject(item);
    } catch (...) {
    }
  }
}

void storeNewItem(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, std::unique_ptr<newsItem> item,
                  std::unique_ptr<cIndexedObject> body, NewItems& items) {
  item->feedIndex = feed.infoSoupIndex();
  item->setFeed(&feed);
  item->bodyIndex = db.createdAndUnloadObject(body.get());
  body.release();
  db.createdObject(item.get());
  items.pending.push_back(item.release());
}

void scanStoredLinks(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, SocialLinkChains& links, bool older,
                     int32_t count, const std::function<void(const newsItem&, std::string_view)>& seen) {
  const int32_t limit = socialScanLimit(count);
  int32_t index = older ? feed.itemList->infoTailIndex() : feed.itemList->infoHeadIndex();
  ItemGlance glance(db, newsItem::Texts::kKeysAndDates);
  for (int32_t scanned = 0; index != 0 && scanned < limit; ++scanned) {
    const newsItem* item = glance.look(index);
    if (!item) break;
    links.remember(index, item->link.view());
    if (seen) seen(*item, item->uniqueID.view());
    index = older ? item->infoPrevIndex() : item->infoNextIndex();
  }
}

std::vector<newsItem*> newestPublishedFirst(const std::vector<newsItem*>& items) {
  // Stable: the items of one date stay in the order given.
  std::vector<newsItem*> sorted = items;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const newsItem* a, const newsItem* b) { return a->published > b->published; });
  return sorted;
}

void mergeNewItems(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, feedProgressGui* gui,
                   SocialLinkChains& links, NewItems& items, bool older) {
  // Short links are asked for in the order the items were stored; the list
  // is then made in date order at once.
  setProgressText(gui, "Expanding shortened URLs");
  expandShortenedURLs(items.pending, &db);
  const std::vector<newsItem*> sorted = newestPublishedFirst(items.pending);
  for (newsItem* item : sorted) items.list.infoPastEnd()->beforeInsert(items.list.makeFloating(item));
  items.pending.clear();
  if (!sorted.empty()) {
    setProgressText(gui, "Finding duplicate items in feed");
    if (older) {
      for (newsItem* item : sorted) links.joinAsOldest(*item);
    } else {
      for (auto item = sorted.rbegin(); item != sorted.rend(); ++item) links.joinAsNewest(**item);
    }
  }
  setProgressText(gui, "Adding items to feed");
  updateFeedNewestItemTime(db, feed, items.list, true);
}

int32_t elementsWithMembers(const webDataNode* array) {
  int32_t count = 0;
  for (const webDataNode* e = array ? array->getFirstChild() : nullptr; e; e = e->getNext()) {
    if (e->getFirstChild()) ++count;
  }
  return count;
}

void showSocialProgress(feedProgressGui* gui, const char* format, int32_t number, int32_t count) {
  if (!gui) return;
  int64_t percent = count > 0 ? int64_t{number} * 100 / count : 100;
  percent = std::min<int64_t>(percent, 100);
  char text[kProgressTextCapacity + 1];
  std::snprintf(text, sizeof text, format, static_cast<long>(number), static_cast<long>(percent));
  setProgressText(gui, text);
}

SocialPageParse::SocialPageParse(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, feedProgressGui* gui,
                                 const webDataNode* newer, const webDataNode* older)
    : db_(db),
      feed_(feed),
      gui_(gui),
      newer_(newer),
      older_(older),
      itemCount_(elementsWithMembers(newer) + elementsWithMembers(older)) {}

void SocialPageParse::run(SoupTransaction& transaction, bool added, bool hasOlder, bool olderEmpty) {
  {
    NewItems items(db_);
    storeNewer(items);
    merge(items, false);
  }
  settleFeedTimes(db_, feed_, added, range_, range_.oldest, -1);
  if (hasOlder) {
    if (olderEmpty) {
      feed_.noOlderItems = true;
      db_.saveChangesToObject(&feed_);
    }
    NewItems items(db_);
    storeOlder(items);
    merge(items, true);
  }
  transaction.finish();
  setProgressText(gui_, "");
}

void SocialPageParse::scanStored(SocialLinkChains& links, NewItems&, bool older) {
  scanStoredLinks(db_, feed_, links, older, itemCount(), nullptr);
}

void SocialPageParse::showNextItem() {
  ++itemNumber_;
  if (gui_) showSocialProgress(gui_, "Parsing item %ld (%ld%%)", itemNumber_, itemCount());
}

void SocialPageParse::merge(NewItems& items, bool older) {
  SocialLinkChains links(db_, feed_);
  if (!items.pending.empty()) scanStored(links, items, older);
  mergeNewItems(db_, feed_, gui_, links, items, older);
}

}  // namespace bw
