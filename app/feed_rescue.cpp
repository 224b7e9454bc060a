// app/feed_rescue.cpp - lost subscriptions put back from the backups.
#include "app/feed_rescue.h"

#include <map>
#include <memory>
#include <unordered_set>

#include "app/backup_rotation.h"
#include "core/exception.h"
#include "news/news_load.h"
#include "platform/file_procs.h"
#include "platform/memory_restore_stream.h"
#include "platform/path.h"

namespace bw {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;

bool endsTheRescue(const eException& e) { return e.code() == "MEM" || e.code() == "BRK"; }

std::string nameOf(const newsFeed& feed) {
  return std::string((feed.userName.isNil() ? feed.title : feed.userName).view());
}

// A feed of a backup: its backup-dump record, name and address.
struct FoundFeed {
  std::vector<uint8_t> record;
  std::string title, url;
};

// The feeds of the backup's feed list at the wanted indices, read from a
// private copy of it.
std::map<int32_t, FoundFeed> feedsIn(const char* backup, const std::unordered_set<int32_t>& wanted) {
  std::map<int32_t, FoundFeed> found;
  const Str copy = cPath::MakeUniquePath(1, "", std::string(kDatabaseName) + "_Rescue_");
  try {
    if (copyFile(backup, copy)) {
      Db db(2);
      if (db.open(copy, false)) {
        try {
          newsRoot* root = loadObject_newsRoot(db, db.infoRootValue());
          if (!root) raise("ERR", "feedsIn(); the backup holds no news root");
          LoadedUse rootUse(db, root);
          std::unordered_set<int32_t> seen;
          for (int32_t f = root->feedList ? root->feedList->infoHeadIndex() : 0; f > 0 && seen.insert(f).second;
               f = db.readObjectNodeHeader(f).nextIndex) {
            if (!wanted.contains(f)) continue;
            newsFeed* feed = loadObject_newsFeed(db, f);
            if (!feed) continue;
            LoadedUse feedUse(db, feed);
            cRestoreStream_memory stream;
            restoreObject_newsFeed(stream, true, feed);
            found[f] = {stream.infoOutput(), nameOf(*feed), std::string(feed->url.view())};
          }
        } catch (const eException& e) {
          if (endsTheRescue(e)) throw;
        }
        db.closeQuickly();
      }
    }
  } catch (const eException& e) {
    cPath::DeletePath(copy, true, false);
    if (endsTheRescue(e)) throw;
    return found;
  }
  cPath::DeletePath(copy, true, false);
  return found;
}

// The addresses of the database's feeds.
std::unordered_set<std::string> addressesIn(Db& db, newsRoot& root) {
  std::unordered_set<std::string> urls;
  std::unordered_set<int32_t> seen;
  for (int32_t f = root.feedList->infoHeadIndex(); f > 0 && seen.insert(f).second;) {
    newsFeed* feed = loadObject_newsFeed(db, f);
    if (!feed) break;
    LoadedUse use(db, feed);
    urls.insert(std::string(feed->url.view()));
    f = feed->infoNextIndex();
  }
  return urls;
}

// Stores the feed of a backup's record, with a new empty item list, at the
// tail of the feed list.
void putBack(Db& db, newsRoot& root, const FoundFeed& found) {
  cRestoreStream_memory stream;
  stream.setInput(found.record.data(), found.record.size());
  std::unique_ptr<newsFeed> fresh = restoreObject_newsFeed(stream, false, nullptr);
  if (!fresh) return;
  fresh->setSoup(&db);
  const int32_t index = db.createdObject(fresh.get());
  newsFeed* feed = fresh.release();
  LoadedUse use(db, feed);
  root.feedList->insertAtTail(index);
  db.writeLoadedObjectNodeHeader(feed);
  writeLoadedHeader(db, feed->infoPrevIndex());
}

}  // namespace

std::vector<RescuedFeed> rescueLostFeeds(Db& db, newsRoot& root, const std::vector<LostFeed>& lost) {
  std::unordered_set<std::string> addresses = addressesIn(db, root);
  std::vector<const LostFeed*> left;
  for (const LostFeed& l : lost) {
    if (l.url.empty() || !addresses.contains(l.url)) left.push_back(&l);
  }
  std::vector<RescuedFeed> told;
  for (const char* backup : kRestoreOrder) {
    if (left.empty()) break;
    if (!cPath::ExistsPath(backup, true)) continue;
    std::unordered_set<int32_t> wanted;
    for (const LostFeed* l : left) wanted.insert(l->index);
    const std::map<int32_t, FoundFeed> found = feedsIn(backup, wanted);
    std::vector<const LostFeed*> still;
    for (const LostFeed* l : left) {
      auto f = found.find(l->index);
      if (f == found.end() || (!l->url.empty() && f->second.url != l->url)) {
        still.push_back(l);
        continue;
      }
      if (addresses.insert(f->second.url).second) {
        putBack(db, root, f->second);
        told.push_back({f->second.title, backup});
      }
    }
    left = std::move(still);
  }
  for (const LostFeed* l : left) told.push_back({l->title, ""});
  return told;
}

std::string repairSummary(const RepairResult& result, const std::vector<RescuedFeed>& feeds, const std::string& contact,
                          FormatArguments& arguments) {
  std::string text = "Database was repaired";
  const std::string atLeast = result.itemsRemovedAtLeast ? "at least " : "";
  if (result.itemsRemoved == 1) {
    text += ": " + atLeast + "1 item could not be read and was removed.";
  } else if (result.itemsRemoved > 1) {
    text += ": " + atLeast + "%ld items could not be read and were removed.";
    arguments.emplace_back(result.itemsRemoved);
  } else {
    text += ".";
  }
  for (const RescuedFeed& f : feeds) {
    if (!f.backup.empty()) {
      text += "\nThe feed \"%s\" was damaged and has been restored from a backup; its items will be fetched again.";
      arguments.emplace_back(f.title);
    } else if (!f.title.empty()) {
      text += "\nThe feed \"%s\" was damaged and no backup holds it: its subscription and its items are lost.";
      arguments.emplace_back(f.title);
    } else {
      text += "\nA feed was damaged beyond reading and no backup holds it: its subscription and its items are lost.";
    }
  }
  text += "\nPlease report this problem to:\n\x1b" "1%s";
  arguments.emplace_back(contact);
  return text;
}

}  // namespace bw
