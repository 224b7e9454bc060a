// app/backup_dump.cpp - writing and loading the backup dump.
#include "app/backup_dump.h"

#include <cinttypes>
#include <cstdio>
#include <memory>

#include "app/console_ui.h"
#include "app/database_repair.h"
#include "app/startup_data_folder.h"
#include "core/exception.h"
#include "platform/dos.h"
#include "platform/owned_names.h"
#include "platform/path.h"
#include "platform/restore_stream.h"
#include "news/list_loop.h"
#include "news/news_load.h"

namespace bw {
namespace {

// Unloads the feeds of a chain (from first on) that the load still holds.
struct LoadedChain {
  cJournaledIndexedObjectSoupDatabase& db;
  newsFeed* first = nullptr;
  ~LoadedChain() {
    while (first) {
      newsFeed* feed = first;
      first = feed->nextLoadedFeed;
      feed->nextLoadedFeed = nullptr;
      try {
        db.unloadObject(feed);
      } catch (...) {
      }
    }
  }
};

void restoreFeeds(cRestoreStream& stream, newsRoot& root, cJournaledIndexedObjectSoupDatabase& db,
                  LoadedChain& chain) {
  newsFeed* last = nullptr;
  while (std::unique_ptr<newsFeed> fresh = restoreObject_newsFeed(stream, false, nullptr)) {
    fresh->setSoup(&db);
    const int32_t index = db.createdObject(fresh.get());
    newsFeed* feed = fresh.release();
    (last ? last->nextLoadedFeed : chain.first) = feed;
    root.feedList->insertAtTail(index);
    db.writeLoadedObjectNodeHeader(feed);
    if (last) db.writeLoadedObjectNodeHeader(last);
    last = feed;
  }
}

void restoreItems(cRestoreStream& stream, newsFeed& feed, cJournaledIndexedObjectSoupDatabase& db) {
  const int32_t feedIndex = feed.infoSoupIndex();
  while (std::unique_ptr<newsItem> item = restoreObject_newsItem(stream, false, nullptr)) {
    item->feedIndex = feedIndex;
    std::unique_ptr<newsItemBody> body = restoreObject_newsItemBody(stream, false, nullptr);
    if (!body) raise("FILE", "restoreDatabaseBackup(); an item has no body record");
    item->bodyIndex = db.createdObject(body.get());
    db.unloadObject(body.release());
    const int32_t index = db.createdObject(item.get());
    LoadedUse use(db, item.release());
    feed.itemList->insertAtTail(index);
  }
}

}  // namespace

bool restoreDatabaseBackup(Text path, newsRoot& root, cJournaledIndexedObjectSoupDatabase& db) {
  cRestoreStream stream;
  if (!stream.open(path, false)) return false;
  const int32_t transaction = db.beginTransaction();
  LoadedChain chain{db};
  consolePrint("# Restoring newsFeed objects\n");
  restoreFeeds(stream, root, db, chain);
  consolePrint("# Restoring newsItem objects\n");
  while (newsFeed* feed = chain.first) {
    restoreItems(stream, *feed, db);
    chain.first = feed->nextLoadedFeed;
    feed->nextLoadedFeed = nullptr;
    db.unloadObject(feed);
  }
  const int64_t position = stream.infoFile().getPosition(false);
  const int64_t size = stream.infoFile().getSize();
  if (position != size) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "WARNING: Finished loading backup, but didn't reach end of backup file (at %" PRId64
                  " but expected %" PRId64 ").\n",
                  position, size);
    consolePrint(line);
  }
  consolePrint("# Writing all changes to disk\n");
  stream.close();
  db.finishTransaction(transaction);
  db.flush();
  if (!repairDatabase(db, true, false).usable) raise("BUG", "restoreDatabaseBackup(); the loaded backup is not usable");
  return true;
}

namespace {

// The items of feed's list: an item that does not load, or a list that
// comes back to an item, raises.
void listedItems(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed,
                 const std::function<void(newsItem&, newsItemBody*)>& write) {
  int32_t index = feed.itemList ? feed.itemList->infoHeadIndex() : 0;
  // A damaged list that comes back to an item would write for ever.
  ListLoop loop(index);
  while (index != 0) {
    HeldItem item(db, loadObject_newsItem2(db, index, &feed));
    if (!item) raiseLinkDamage("writeDatabaseBackup(); an item of the list cannot be loaded");
    newsItemBody* body = loadObject_newsItemBody(db, item->bodyIndex);
    LoadedUse bodyUse(db, body);
    write(*item.get(), body);
    index = item->infoNextIndex();
    loop.stepTo(index, "writeDatabaseBackup(); an item of the list cannot be loaded");
  }
}

}  // namespace

bool writeDatabaseBackup(Text path, newsRoot& root, cJournaledIndexedObjectSoupDatabase& db,
                         const DumpItemWalk& items) {
  const Str name = cPath::ExtractName(path);
  const Str temporary = newOwnedName(cPath::ExtractSubPath(path).view(), std::string(name.view()) + "_Temp_");
  bool written = false;
  try {
    cRestoreStream stream;
    // It holds the sign-in tokens: private before a byte is written,
    // whatever the creation mode of the process that writes it.
    if (stream.open(temporary, true) && makePrivate(cPath::ExportPath(temporary))) {
      for (newsFeed* feed = root.firstLoadedFeed; feed; feed = feed->nextLoadedFeed) {
        restoreObject_newsFeed(stream, true, feed);
      }
      restoreObject_newsFeed(stream, true, nullptr);
      // Every item has a body record: a NIL one would end the load.
      auto write = [&](newsItem& item, newsItemBody* body) {
        newsItemBody empty;
        restoreObject_newsItem(stream, true, &item);
        restoreObject_newsItemBody(stream, true, body ? body : &empty);
      };
      for (newsFeed* feed = root.firstLoadedFeed; feed; feed = feed->nextLoadedFeed) {
        if (items) {
          items(*feed, write);
        } else {
          listedItems(db, *feed, write);
        }
        restoreObject_newsItem(stream, true, nullptr);
      }
      stream.infoFile().flush();
      stream.close();
      written = dos::renameReplacing(cPath::ExportPath(temporary), cPath::ExportPath(path));
    }
  } catch (...) {
    cPath::DeletePath(temporary, true, false);
    throw;
  }
  if (!written) cPath::DeletePath(temporary, true, false);
  return written;
}

}  // namespace bw
