// app/database_repair.cpp - the news database's repair walk.
#include "app/database_repair.h"

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/exception.h"
#include "core/exception_print.h"
#include "database/soup_block_file.h"
#include "database/validation_report.h"
#include "news/news_load.h"
#include "social/social_links.h"

namespace bw {
namespace {

// The owner the walk gives every index it reaches (validation marks its
// indices with small positive values).
constexpr intptr_t kReachedByWalk = -7;

class RepairWalk {
 public:
  RepairWalk(cJournaledIndexedObjectSoupDatabase& db, ValidationSet& usage, bool verbose, bool repair)
      : db_(db), usage_(usage), verbose_(verbose), repair_(repair) {}

  bool usable = true;
  bool changed = false;
  bool endedAtRoot = false;  // the walk stopped at the root or its feed list

  void walk() {
    int32_t rootIndex = db_.infoRootValue();
    if (rootIndex == 0) {
      endedAtRoot = true;
      return;
    }
    if (!reach(rootIndex)) return failAtRoot("Invalid newRootIndex=%ld\n", rootIndex);
    newsRoot* root = loadObject_newsRoot(db_, rootIndex);
    if (!root) return failAtRoot("Invalid newRootIndex=%ld\n", rootIndex);
    LoadedUse rootUse(db_, root);
    if (!reachList(root->feedListIndex)) return failAtRoot("Invalid feedListIndex=%ld\n", root->feedListIndex);
    int32_t feedIndex = root->feedList ? root->feedList->infoHeadIndex() : 0;
    while (feedIndex != 0) {
      if (!reach(feedIndex)) return fail("Invalid feedNodeIndex=%ld\n", feedIndex);
      newsFeed* feed = loadObject_newsFeed(db_, feedIndex);
      if (!feed) return fail("Loading feedNodeIndex=%ld gave a NIL pointer\n", feedIndex);
      LoadedUse feedUse(db_, feed);
      if (!reachList(feed->itemListIndex)) return fail("Invalid itemListIndex=%ld\n", feed->itemListIndex);
      walkItems(*feed);
      if (repair_) rebuildFeedDuplicates(db_, *feed);
      feedIndex = feed->infoNextIndex();
    }
  }

  // The allocated indices the walk did not reach: reported, and freed when
  // repairing.
  void sweepUnused() {
    std::vector<intptr_t> reached;
    bool unused = false;
    for (bool more = usage_.gotoFirst(); more; more = usage_.gotoNext()) {
      auto entry = usage_.infoCurrent();
      if (entry.data == kReachedByWalk) {
        reached.push_back(entry.key);
        continue;
      }
      printFinding(verbose_, "Index %ld is allocated but not used\n", static_cast<long>(entry.key));
      unused = true;
      if (!repair_) usable = false;
    }
    if (!repair_) return;
    for (intptr_t key : reached) usage_.get(key, true);
    if (unused) {
      db_.destroyUnusedObjects(usage_, verbose_);
      changed = true;
    }
  }

 private:
  bool valid(int32_t index) { return index != 0 && usage_.get(index) != 0; }
  bool reach(int32_t index) {
    if (!valid(index)) return false;
    usage_.set(index, kReachedByWalk);
    return true;
  }
  // A list of the Database's chain that no one took before: a damaged link
  // naming another object, or another owner's list, would have the walk
  // mend that object's nodes as its own.
  bool reachList(int32_t index) {
    if (index == 0 || usage_.get(index) != cJournaledIndexedObjectSoupDatabase::kListOfChain) return false;
    usage_.set(index, kReachedByWalk);
    return true;
  }
  void fail(const char* format, int32_t value) {
    printFinding(verbose_, format, static_cast<long>(value));
    usable = false;
  }
  void failAtRoot(const char* format, int32_t value) {
    fail(format, value);
    endedAtRoot = true;
  }

  void walkItems(newsFeed& feed) {
    int32_t itemIndex = feed.itemList ? feed.itemList->infoHeadIndex() : 0;
    while (itemIndex != 0) {
      if (!reach(itemIndex)) return fail("Invalid itemNodeIndex=%ld\n", itemIndex);
      HeldItem item(db_, loadObject_newsItem2(db_, itemIndex, &feed));
      if (!item) return;
      int32_t next = item->infoNextIndex();
      checkItem(feed, item, itemIndex);
      itemIndex = next;
    }
  }

  void checkItem(newsFeed& feed, HeldItem& item, int32_t itemIndex) {
    int32_t feedIndex = feed.infoSoupIndex();
    if (item->feedIndex != feedIndex) {
      printFinding(verbose_, "Invalid itemNode.feedIndex=%ld expected %ld\n", static_cast<long>(item->feedIndex),
                   static_cast<long>(feedIndex));
      mend([&] { item->feedIndex = feedIndex; }, item);
    }
    int32_t* links[] = {&item->olderDuplicateItemIndex, &item->newestDuplicateItemIndex};
    const char* names[] = {"olderDuplicateItemIndex", "newestDuplicateItemIndex"};
    for (int i = 0; i < 2; ++i) {
      int32_t& link = *links[i];
      if (link == 0 || valid(link)) continue;
      printFinding(verbose_, "Invalid itemNode.%s=%ld for itemNodeIndex=%ld\n", names[i], static_cast<long>(link),
                   static_cast<long>(itemIndex));
      mend([&] { link = 0; }, item);
    }
    if (!valid(item->bodyIndex)) {
      printFinding(verbose_, "Invalid itemNode.bodyIndex=%ld for itemNodeIndex=%ld\n",
                   static_cast<long>(item->bodyIndex), static_cast<long>(itemIndex));
      // Repair mode keeps what it mended: the item goes and the walk, and
      // the database, go on; a check answers that the database is not sound.
      if (!repair_) {
        usable = false;
        return;
      }
      destroyNewsItem(db_, item.release(), nullptr, false);
      changed = true;
      return;
    }
    usage_.set(item->bodyIndex, kReachedByWalk);
  }

  template <class Change>
  void mend(Change change, HeldItem& item) {
    if (!repair_) {
      usable = false;
      return;
    }
    change();
    db_.saveChangesToObject(item.get());
    changed = true;
  }

  cJournaledIndexedObjectSoupDatabase& db_;
  ValidationSet& usage_;
  bool verbose_;
  bool repair_;
};

// The body index of the item at index; 0 when the item cannot be read.
int32_t bodyOf(cJournaledIndexedObjectSoupDatabase& db, int32_t index) {
  try {
    newsItem* item = loadObject_newsItem(db, index);
    if (!item) return 0;
    LoadedUse use(db, item);
    return item->bodyIndex;
  } catch (const eException&) {
    return 0;
  }
}

// What the news model holds, read without changing anything, for the
// Database's chain walk: the feed list and each feed's item list are its
// lists, the root, the feeds, the items their lists reach and the items'
// bodies are not. The feed list is the oldest list and the chain starts at
// the newest, the one after it: that one is named first. A walk that cannot
// go on keeps what it gathered before. An item's list is its feed's item
// list (by its feedIndex), for the feeds the walk reached.
cJournaledIndexedObjectSoupDatabase::ListModel newsListModel(cJournaledIndexedObjectSoupDatabase& db,
                                                             ValidationSet& indices) {
  cJournaledIndexedObjectSoupDatabase::ListModel model;
  std::unordered_set<int32_t> lists;
  auto isIndex = [&](int32_t index) { return index != 0 && indices.get(index) != 0; };
  auto isNew = [&](int32_t index) { return isIndex(index) && !lists.contains(index) && !model.nonLists.contains(index); };
  auto addList = [&](int32_t index) {
    if (isIndex(index) && lists.insert(index).second) model.lists.push_back(index);
  };
  std::vector<int32_t> bodies;
  auto itemLists = std::make_shared<std::unordered_map<int32_t, int32_t>>();  // feed -> its item list
  model.listOfNode = [&db, itemLists](int32_t node) -> int32_t {
    try {
      newsItem* item = loadObject_newsItem(db, node);
      if (!item) return 0;
      LoadedUse use(db, item);
      auto list = itemLists->find(item->feedIndex);
      return list == itemLists->end() ? 0 : list->second;
    } catch (const eException&) {
      return 0;
    }
  };
  try {
    const int32_t rootIndex = db.infoRootValue();
    if (!isIndex(rootIndex)) return model;
    model.nonLists.insert(rootIndex);
    newsRoot* root = loadObject_newsRoot(db, rootIndex);
    if (!root) return model;
    LoadedUse rootUse(db, root);
    if (!root->feedList) return model;
    addList(root->feedListIndex);
    const int32_t newest = root->feedList->infoListNextIndex();
    for (int32_t feedIndex = root->feedList->infoHeadIndex(); isNew(feedIndex);) {
      model.nonLists.insert(feedIndex);
      newsFeed* feed = loadObject_newsFeed(db, feedIndex);
      if (!feed) break;
      LoadedUse feedUse(db, feed);
      addList(feed->itemListIndex);
      itemLists->emplace(feedIndex, feed->itemListIndex);
      for (int32_t item = feed->itemList ? feed->itemList->infoHeadIndex() : 0; isNew(item);
           item = db.readObjectNodeHeader(item).nextIndex) {
        model.nonLists.insert(item);
        bodies.push_back(bodyOf(db, item));
      }
      feedIndex = feed->infoNextIndex();
    }
    auto first = std::find(model.lists.begin(), model.lists.end(), newest);
    if (first != model.lists.end()) std::rotate(model.lists.begin(), first, first + 1);
  } catch (...) {
  }
  // Last, so that a damaged body link naming a list leaves the list alone.
  for (int32_t body : bodies) {
    if (isNew(body)) model.nonLists.insert(body);
  }
  return model;
}

// The database cycles: validate until the structures are sound or a cycle
// changes nothing. Answers the usage record of the last cycle (NIL when not
// sound).
std::unique_ptr<ValidationSet> validateCycles(cJournaledIndexedObjectSoupDatabase& db, bool verbose, bool repair,
                                              bool& changed) {
  for (long cycle = 1;; ++cycle) {
    if (cycle > 1 && verbose) printFinding(true, "\nRepair cycle %ld:\n", cycle);
    ValidationResult r = db.validate(verbose, repair, true);
    changed = changed || r.repaired;
    if (r.valid) return std::move(r.indices);
    if (!r.repaired) return nullptr;
  }
}

}  // namespace

RepairResult repairDatabase(cJournaledIndexedObjectSoupDatabase& db, bool verbose, bool repair) {
  RepairResult result;
  bool endedAtRoot = false;
  try {
    struct ModelScope {
      cJournaledIndexedObjectSoupDatabase& db;
      ~ModelScope() { db.setListModelSource({}); }
    } modelScope{db};
    db.setListModelSource([&db](ValidationSet& indices) { return newsListModel(db, indices); });
    std::unique_ptr<ValidationSet> usage = validateCycles(db, verbose, repair, result.changed);
    if (usage) {
      const bool autoCompact = db.infoAutoCompact();
      std::unique_ptr<SoupTransaction> tx;
      if (repair) {
        tx = std::make_unique<SoupTransaction>(db.infoBlockFile());
        db.setAutoCompact(false);
      }
      RepairWalk walk(db, *usage, verbose, repair);
      try {
        walk.walk();
        if (walk.usable) walk.sweepUnused();
      } catch (...) {
        db.setAutoCompact(autoCompact);
        throw;
      }
      db.setAutoCompact(autoCompact);
      if (tx && !db.infoMustClose()) tx->finish();
      result.usable = walk.usable;
      result.changed = result.changed || walk.changed;
      endedAtRoot = walk.endedAtRoot;
    }
  } catch (const eException& e) {
    if (verbose) printException(e);
    return {};
  } catch (const std::exception& e) {
    if (verbose) printException(e);
    return {};
  }
  if (verbose && repair && (result.changed || !result.usable) && !endedAtRoot) {
    printFinding(true, result.usable ? "Successfully finished repairing. PLEASE REPORT THIS PROBLEM!\n"
                                     : "Unable to complete repairs. PLEASE REPORT THIS PROBLEM!\n");
  }
  return result;
}

}  // namespace bw
