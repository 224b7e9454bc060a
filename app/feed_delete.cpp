// app/feed_delete.cpp - the "Delete" command of the main window.
#include "app/feed_delete.h"

#include <string>

#include "app/feed_list.h"
#include "app/program_identity.h"
#include "core/exception.h"
#include "gui/gui_gadgets.h"
#include "gui/gui_list.h"
#include "gui/host/gui_app_client.h"
#include "news/news_item_glance.h"
#include "news/news_load.h"
#include "news/ui_seam.h"

namespace bw {
namespace {

newsFeed* feedOfCursorRow(cGuiList& feedList) {
  newsFeed* feed = feedOfListEntry(feedList.cursor_getDataBox());
  if (!feed) raise("BUG", "deleteFeeds(); feed list row has no feed");
  return feed;
}

// Gives back one use held by the caller and forgets it.
template <class T>
void giveBack(cJournaledIndexedObjectSoupDatabase& db, T*& object) {
  db.unloadObject(object);
  object = nullptr;
}

// A loaded item: the holders' uses are given back, then it goes as a node
// whose links its last unload writes.
void deleteLoadedItem(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, int32_t index,
                      ShownNewsObjects& shown) {
  // Only the links and the body's index are needed: the texts are not read.
  newsItem* item = loadObject_newsItemToDelete(db, index, &feed);
  if (!item) raise("BUG", "deleteFeeds(); an item of the feed cannot be loaded");
  try {
    if (item == shown.shownItem) {
      giveBack(db, shown.shownItem);
      if (shown.shownBody) giveBack(db, shown.shownBody);
    }
    if (item == shown.selectedItem) giveBack(db, shown.selectedItem);
    feed.itemList->remove(index);
    if (item->bodyIndex != 0) db.destroyObject(item->bodyIndex);
  } catch (...) {
    // An item read without its texts must not stay loaded for others.
    db.unloadObject(item);
    throw;
  }
  db.unloadAndDestroyObject(item);
}

// What deleting needs of an item no one holds; index 0 when it cannot be
// glanced.
struct GlancedItem {
  int32_t index = 0;
  int32_t bodyIndex = 0;
  NodeHeader links{};
};

GlancedItem glanceItem(ItemGlance& glance, int32_t index) {
  GlancedItem g;
  if (const newsItem* item = glance.look(index)) g = {index, item->bodyIndex, {item->infoNextIndex(), item->infoPrevIndex()}};
  glance.clear();
  return g;
}

void deleteItems(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, ShownNewsObjects& shown) {
  cIndexedObjectList& items = *feed.itemList;
  ItemGlance glance(db);
  for (int32_t index; (index = items.infoHeadIndex()) != 0;) {
    if (db.findRegisteredObject(index)) {
      deleteLoadedItem(db, feed, index, shown);
      continue;
    }
    // An item no one holds is only glanced at for its body's index. Its
    // record keeps its links until the body is gone and is then written as
    // a loaded item's last unload writes it: the file changes as it would.
    const GlancedItem item = glanceItem(glance, index);
    if (item.index == 0) raise("BUG", "deleteFeeds(); an item of the feed cannot be loaded");
    items.removeLeavingLinks(index, item.links);
    if (item.bodyIndex != 0) db.destroyObject(item.bodyIndex);
    db.writeObjectNodeHeader(index, 0, 0);
    db.destroyObject(index);
  }
}

void unchain(newsRoot& root, newsFeed* feed) {
  newsFeed** link = &root.firstLoadedFeed;
  while (*link && *link != feed) link = &(*link)->nextLoadedFeed;
  if (*link) *link = feed->nextLoadedFeed;
  feed->nextLoadedFeed = nullptr;
}

void deleteFeed(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, newsFeed* feed, ShownNewsObjects& shown) {
  deleteItems(db, *feed, shown);
  // The feed holds one use of its item list: given back, then the empty list
  // goes by its index.
  int32_t listIndex = feed->itemListIndex;
  db.unloadObject(feed->itemList);
  feed->itemList = nullptr;
  db.destroyObjectList(listIndex);
  int32_t index = feed->infoSoupIndex();
  NodeHeader neighbours{feed->infoNextIndex(), feed->infoPrevIndex()};
  root.feedList->remove(index);
  // The neighbours are loaded feeds: their new links go to the file too.
  writeLoadedHeader(db, neighbours.nextIndex);
  writeLoadedHeader(db, neighbours.prevIndex);
  unchain(root, feed);
  db.unloadAndDestroyObject(feed);
}

}  // namespace

DeleteFeedsResult deleteFeeds(cGuiList& feedList, ShownNewsObjects shown, cJournaledIndexedObjectSoupDatabase& db,
                              newsRoot& root, const cEncoding& charset) {
  DeleteFeedsResult result;
  const int32_t selected = feedList.infoSelectionCount();
  int32_t answer;
  if (selected == 1) {
    // The cursor may stand anywhere after a refresh: the question names the
    // selected feed, the one that goes.
    if (!feedList.cursor_gotoFirstSelected()) raise("BUG", "deleteFeeds(); selection count is 1 but cursor failed");
    std::string name(feedOfCursorRow(feedList)->infoName(&charset).view());
    answer = newsUi().gui_requester("Delete feeds", "Do you really want to delete this feed:\n\x1b" "1%s",
                                    "Yes|No|Cancel", {name}, 0, 0);
  } else {
    answer = newsUi().gui_requester("Delete feeds", "Do you really want to delete %ld feeds?", "Yes|No|Cancel",
                                    {int64_t{selected}}, 0, 0);
  }
  if (answer == 0) result.cancelled = true;
  if (answer != 1) return result;

  int32_t transaction = db.beginTransaction();
  while (feedList.cursor_gotoFirstSelected()) {
    deleteFeed(db, root, feedOfCursorRow(feedList), shown);
    feedList.destroy();
  }
  db.finishTransaction(transaction);
  db.flush();
  defragmentAfterDeleting(db, db.infoFragmentation());
  result.deleted = true;
  return result;
}

bool defragmentAfterDeleting(cJournaledIndexedObjectSoupDatabase& db, int32_t fragmentation) {
  if (fragmentation <= kDeleteDefragmentAbove) return false;
  cGuiWindow* window = cGuiHost::CreateGuiWindow(Text(std::string(programName)));
  try {
    window->beginGroupVertical(nullptr);
    window->addTextBox("Status")->setState("Defragmenting database...\n(Fragmentation exceeded 30%)");
    window->endGroup();
    window->build(true);
    window->setSize(640, 100);
    window->open();
    db.defragment(false);
    window->close();
  } catch (...) {
    endGuiWindow(window);
    throw;
  }
  endGuiWindow(window);
  return true;
}

}  // namespace bw
