// app/feed_rescue.cpp - lost feeds put back from the backups, read in place.
#include "app/feed_rescue.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "app/backup_rotation.h"
#include "core/exception.h"
#include "core/mega_list_family.h"
#include "news/feed_newest_item.h"
#include "news/news_load.h"
#include "platform/dos_errors.h"
#include "platform/file.h"
#include "platform/memory_restore_stream.h"
#include "platform/path.h"
#include "social/social_links.h"

namespace bw {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;
using Record = std::vector<uint8_t>;

bool endsTheRescue(const eException& e) { return e.code() == "MEM" || e.code() == "BRK"; }
// A failure of the reading itself, not of what is read.
bool aboutTheReading(const eException& e) { return e.code() == "FILE" || e.code() == "FULL"; }

std::string nameOf(const newsFeed& feed) {
  return std::string((feed.userName.isNil() ? feed.title : feed.userName).view());
}

// What tells an item from another of its feed: an update stores no item
// whose uniqueID and dates repeat a stored one's.
using ItemKey = std::tuple<std::string, bigTime, bigTime>;
ItemKey keyOf(const newsItem& item) { return {std::string(item.uniqueID.view()), item.published, item.updated}; }

template <class Object>
Record recordOf(std::unique_ptr<Object> (*restore)(cRestoreStreamBase&, bool, Object*), Object& object) {
  cRestoreStream_memory stream;
  restore(stream, true, &object);
  return stream.infoOutput();
}

template <class Object>
std::unique_ptr<Object> fromRecord(std::unique_ptr<Object> (*restore)(cRestoreStreamBase&, bool, Object*),
                                   const Record& record) {
  cRestoreStream_memory stream;
  stream.setInput(record.data(), record.size());
  return restore(stream, false, nullptr);
}

// An item of a backup's feed: its index there and its backup-dump records.
struct FoundItem {
  int32_t index = 0;
  ItemKey key;
  Record item, body;
};

// A feed of a backup: its record, name, address and the items of its list
// that read whole.
struct FoundFeed {
  Record record;
  std::string title, url;
  std::vector<FoundItem> items;
};

// The items of the backup's feed, in list order; one that does not read
// whole is left out.
std::vector<FoundItem> itemsOf(Db& backup, newsFeed& feed) {
  std::vector<FoundItem> items;
  std::unordered_set<int32_t> seen;
  try {
    for (int32_t i = feed.itemList ? feed.itemList->infoHeadIndex() : 0; i > 0 && seen.insert(i).second;
         i = backup.readObjectNodeHeader(i).nextIndex) {
      try {
        HeldItem item(backup, loadObject_newsItem2(backup, i, &feed));
        newsItemBody* body = item ? loadObject_newsItemBody(backup, item->bodyIndex) : nullptr;
        if (!body) continue;
        LoadedUse bodyUse(backup, body);
        items.push_back({i, keyOf(*item.get()), recordOf(restoreObject_newsItem, *item.get()),
                         recordOf(restoreObject_newsItemBody, *body)});
      } catch (const eException& e) {
        if (endsTheRescue(e) || aboutTheReading(e)) throw;
      }
    }
  } catch (const eException& e) {
    if (endsTheRescue(e) || aboutTheReading(e)) throw;
  }
  return items;
}

// The feeds of the backup's feed list at the wanted indices, read where it
// lies; urls receives the address of each feed of its list by index. why
// is set when it cannot be read for a reason other than its content.
std::map<int32_t, FoundFeed> feedsIn(const char* backup, const std::unordered_set<int32_t>& wanted,
                                     std::map<int32_t, std::string>& urls, std::string& why) {
  std::map<int32_t, FoundFeed> found;
  {
    // A file that does not open at all tells nothing of what it holds.
    cFile probe;
    probe.initialise(0);
    if (!probe.open(backup, true, false, false)) {
      why = dos::faultMessage(dos::ioErr());
      if (why.empty()) why = std::string(probe.infoError().view());
      return found;
    }
    probe.close();
  }
  Db db(2);
  try {
    if (!db.openForReading(backup)) return found;
    newsRoot* root = loadObject_newsRoot(db, db.infoRootValue());
    if (!root) return found;
    LoadedUse rootUse(db, root);
    std::unordered_set<int32_t> seen;
    for (int32_t f = root->feedList ? root->feedList->infoHeadIndex() : 0; f > 0 && seen.insert(f).second;
         f = db.readObjectNodeHeader(f).nextIndex) {
      try {
        newsFeed stored;
        db.readRecordInto(f, stored);
        urls[f] = std::string(stored.url.view());
      } catch (const eException& e) {
        if (endsTheRescue(e) || aboutTheReading(e)) throw;
      }
      if (!wanted.contains(f)) continue;
      try {
        newsFeed* feed = loadObject_newsFeed(db, f);
        if (!feed) continue;
        LoadedUse feedUse(db, feed);
        found[f] = {recordOf(restoreObject_newsFeed, *feed), nameOf(*feed), std::string(feed->url.view()),
                    itemsOf(db, *feed)};
      } catch (const eException& e) {
        if (endsTheRescue(e) || aboutTheReading(e)) throw;
      }
    }
  } catch (const eException& e) {
    if (endsTheRescue(e)) throw;
    if (aboutTheReading(e)) {
      const size_t cut = e.message().find("(); ");
      why = cut == std::string::npos ? e.message() : e.message().substr(cut + 4);
      found.clear();
    }
  }
  return found;
}

// The addresses of the database's feeds, each with the feeds that have it.
std::unordered_map<std::string, std::vector<int32_t>> addressesIn(Db& db, newsRoot& root) {
  std::unordered_map<std::string, std::vector<int32_t>> urls;
  std::unordered_set<int32_t> seen;
  for (int32_t f = root.feedList->infoHeadIndex(); f > 0 && seen.insert(f).second;) {
    newsFeed* feed = loadObject_newsFeed(db, f);
    if (!feed) break;
    LoadedUse use(db, feed);
    urls[std::string(feed->url.view())].push_back(f);
    f = feed->infoNextIndex();
  }
  return urls;
}

// Links the items of the list into feed's list by date (stored: loaded,
// one use each, else new objects with stored bodies).
void linkByDate(Db& db, newsFeed& feed, std::vector<newsItem*> items, bool stored) {
  cMegaList_class list(false, nullptr, false);
  for (newsItem* item : items) list.infoPastEnd()->beforeInsert(list.makeFloating(item));
  updateFeedNewestItemTime(db, feed, list, stored);
}

// Stores the feed of a backup's record at the tail of the feed list with
// the items held for it and the backup's items that repeat none of them;
// answers the backup's indices of the items it took from the backup.
std::unordered_set<int32_t> putBack(Db& db, newsRoot& root, const FoundFeed& found, const std::vector<int32_t>& held) {
  std::unordered_set<int32_t> taken;
  std::unique_ptr<newsFeed> fresh = fromRecord(restoreObject_newsFeed, found.record);
  if (!fresh) return taken;
  fresh->setSoup(&db);
  const int32_t index = db.createdObject(fresh.get());
  newsFeed* feed = fresh.release();
  LoadedUse use(db, feed);
  root.feedList->insertAtTail(index);
  db.writeLoadedObjectNodeHeader(feed);
  writeLoadedHeader(db, feed->infoPrevIndex());
  // The held items name the lost feed's index; their duplicate chains are
  // made anew once all are in.
  std::set<ItemKey> keys;
  std::vector<newsItem*> items;
  for (int32_t i : held) {
    newsItem* item = loadObject_newsItem2(db, i, feed);
    if (!item) continue;
    item->feedIndex = index;
    item->olderDuplicateItemIndex = item->newestDuplicateItemIndex = 0;
    db.saveChangesToObject(item);
    keys.insert(keyOf(*item));
    items.push_back(item);
  }
  linkByDate(db, *feed, std::move(items), true);
  items.clear();
  for (const FoundItem& f : found.items) {
    if (keys.contains(f.key)) continue;
    std::unique_ptr<newsItem> item = fromRecord(restoreObject_newsItem, f.item);
    std::unique_ptr<newsItemBody> body = fromRecord(restoreObject_newsItemBody, f.body);
    if (!item || !body) continue;
    item->feedIndex = index;
    item->bodyIndex = db.createdObject(body.get());
    db.unloadObject(body.release());
    items.push_back(item.release());
    taken.insert(f.index);
  }
  linkByDate(db, *feed, std::move(items), false);
  rebuildFeedDuplicates(db, *feed);
  return taken;
}

// The items the lost feed's list named that came back neither from the
// database nor from the backup.
int64_t itemsLost(const LostFeed& lost, const std::unordered_set<int32_t>& taken) {
  const std::unordered_set<int32_t> held(lost.items.begin(), lost.items.end());
  std::unordered_set<int32_t> gone;
  for (int32_t i : lost.named)
    if (!held.contains(i) && !taken.contains(i)) gone.insert(i);
  return static_cast<int64_t>(gone.size());
}

}  // namespace

Rescue rescueLostFeeds(Db& db, newsRoot& root, const std::vector<LostFeed>& lost) {
  // An address is no key: two feeds may share one (a redirect leads one
  // onto the other's). A lost feed is the backup's feed of its index, with
  // the address it had when that was read.
  const std::unordered_map<std::string, std::vector<int32_t>> addresses = addressesIn(db, root);
  std::vector<const LostFeed*> left;
  for (const LostFeed& l : lost) left.push_back(&l);
  // Every backup is read before anything is put back: one that cannot be
  // read leaves the database as the repair left it.
  Rescue rescue;
  struct Chosen {
    const LostFeed* lost;
    const char* backup;
    FoundFeed found;
    bool apart;  // told apart from the database's feeds of its address
  };
  std::vector<Chosen> chosen;
  for (const char* backup : kRestoreOrder) {
    if (left.empty()) break;
    if (!cPath::ExistsPath(backup, true)) continue;
    std::unordered_set<int32_t> wanted;
    for (const LostFeed* l : left) wanted.insert(l->index);
    std::map<int32_t, std::string> urls;
    std::map<int32_t, FoundFeed> found = feedsIn(backup, wanted, urls, rescue.why);
    if (!rescue.why.empty()) {
      rescue.unreadBackup = backup;
      return rescue;
    }
    std::vector<const LostFeed*> still;
    for (const LostFeed* l : left) {
      auto f = found.find(l->index);
      if (f == found.end() || (!l->url.empty() && f->second.url != l->url)) {
        still.push_back(l);
      } else {
        // A feed whose address the database's feeds have, known only by
        // its index: the backup tells it from them when it holds each of
        // them at its own index with that address too.
        bool apart = !l->url.empty();
        if (auto same = addresses.find(f->second.url); !apart) {
          apart = same == addresses.end() || std::all_of(same->second.begin(), same->second.end(), [&](int32_t i) {
                    auto u = urls.find(i);
                    return u != urls.end() && u->second == f->second.url;
                  });
        }
        chosen.push_back({l, backup, std::move(f->second), apart});
      }
    }
    left = std::move(still);
  }
  for (const Chosen& c : chosen) {
    if (!c.apart) {
      // It may be one the database has: not put back, told lost.
      rescue.feeds.push_back({c.found.title, "", 0});
      continue;
    }
    const std::unordered_set<int32_t> taken = putBack(db, root, c.found, c.lost->items);
    rescue.feeds.push_back({c.found.title, c.backup, itemsLost(*c.lost, taken)});
  }
  for (const LostFeed* l : left) rescue.feeds.push_back({l->title, "", 0});
  return rescue;
}

namespace {

// "." when none was removed, else lead and how many of what could not be
// read and were removed (the number, past one, to arguments).
void tellRemoved(std::string& text, FormatArguments& arguments, int64_t removed, const char* lead, const char* one,
                 const char* many) {
  if (removed <= 0) {
    text += ".";
  } else if (removed == 1) {
    text += std::string(lead) + "1 " + one + " could not be read and was removed.";
  } else {
    text += std::string(lead) + "%ld " + many + " could not be read and were removed.";
    arguments.emplace_back(removed);
  }
}

}  // namespace

std::string repairSummary(const RepairResult& result, const std::vector<RescuedFeed>& feeds, const std::string& contact,
                          FormatArguments& arguments) {
  std::string text = "Database was repaired";
  // Where blocks of unknown class were lost, the count is a least one.
  tellRemoved(text, arguments, result.itemsRemoved, result.itemsRemovedAtLeast ? ": at least " : ": ", "item", "items");
  for (const RescuedFeed& f : feeds) {
    if (!f.backup.empty()) {
      text += "\nThe feed \"%s\" was damaged and has been restored from a backup with its items";
      arguments.emplace_back(f.title);
      tellRemoved(text, arguments, f.itemsLost, "; ", "of them", "of them");
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
