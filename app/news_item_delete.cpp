// app/news_item_delete.cpp - deleting a news item and its chain of updates.
#include "app/news_item_delete.h"

#include <set>

#include "app/news_item_text.h"
#include "database/soup_block_file.h"
#include "news/news_load.h"
#include "news/ui_seam.h"

namespace bw {
namespace {

constexpr char kTitle[] = "Delete news item";
constexpr int32_t kDeleteShownOnly = 0;
constexpr int32_t kDeleteChain = 1;
constexpr int32_t kNotInChain = 2;

// Destroys every update from the newest on, each with its body, leaving the
// chain links alone since the whole chain goes.
void destroyChain(cJournaledIndexedObjectSoupDatabase& db, newsFeed* feed, int32_t index) {
  std::set<int32_t> visited;
  while (index != 0 && visited.insert(index).second) {
    newsItem* update = loadObject_newsItem2(db, index, feed);
    if (!update) break;
    index = update->olderDuplicateItemIndex;
    if (update->bodyIndex != 0) db.destroyObject(update->bodyIndex);
    destroyNewsItem(db, update, nullptr, true);
  }
}

}  // namespace

DeleteNewsItemResult deleteNewsItem(cJournaledIndexedObjectSoupDatabase& db, cGuiList& newsList, newsItem* selected,
                                    newsItem* shown, newsItemBody* shownBody, const cEncoding* charset) {
  Str title = newsItemDisplayTitle(db, *selected, charset);
  if (newsUi().gui_requester(kTitle, "Do you really want to delete this news item:\n\x1b" "1%s", "Yes|No",
                             {title.str()}, 0, 0) != 1)
    return {};
  int32_t answer = kNotInChain;
  if (shown->infoIsDuplicate())
    answer = newsUi().gui_requester(kTitle, "This news item has duplicates.\nDo you want to delete those as well?",
                                    "Yes|No", {}, 0, 0) == 1
                 ? kDeleteChain
                 : kDeleteShownOnly;

  SoupTransaction transaction(db.infoBlockFile());
  if (answer == kDeleteChain) {
    newsFeed* feed = shown->infoFeed(&db);
    // The feed is the application's; this use keeps it while its items go.
    LoadedUse feedUse(db, db.findLoadedObject(feed->infoSoupIndex(), 1));
    int32_t newest = shown->infoNewestDuplicateOrSelfIndex(db, false);
    db.unloadObject(selected);
    db.unloadObject(shown);
    db.unloadObject(shownBody);
    destroyChain(db, feed, newest);
  } else {
    db.unloadObject(selected);
    destroyNewsItem(db, shown, shownBody, false);
  }
  transaction.finish();
  db.flush();

  if (answer == kDeleteShownOnly) {
    if (newsList.cursor_gotoFirstSelected()) newsList.cursor_setState(false);
    return {kNewsItemListStale, false};
  }
  newsList.destroy(false);
  return {kNewsItemRowRemoved, false};
}

}  // namespace bw
