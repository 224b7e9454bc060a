// app/database_repair.cpp - the news database's repair walk.
#include "app/database_repair.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
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

// Codes that say nothing about the records: they end the repair.
bool endsTheRepair(const eException& e) { return e.code() == "MEM" || e.code() == "BRK"; }

// An item's record as it reads by its own class: whole, of a version that
// names its feed, with a body index.
struct ItemRecord {
  int32_t feed = 0;
  int32_t body = 0;
  bigTime published = 0;
};

// The record at index read as an item, never loaded; none when it does not
// read as one. Never raises (but for "MEM" and "BRK").
std::optional<ItemRecord> itemRecordAt(cJournaledIndexedObjectSoupDatabase& db, int32_t index) {
  try {
    newsItem item;
    db.readRecordInto(index, item);
    if (item.version < 1 || item.feedIndex <= 0 || item.bodyIndex <= 0) return std::nullopt;
    return ItemRecord{item.feedIndex, item.bodyIndex, item.published};
  } catch (const eException& e) {
    if (endsTheRepair(e)) throw;
    return std::nullopt;
  }
}

// Whether the record at index reads whole as an item body.
bool bodyRecordAt(cJournaledIndexedObjectSoupDatabase& db, int32_t index) {
  try {
    newsItemBody body;
    db.readRecordInto(index, body);
    return true;
  } catch (const eException& e) {
    if (endsTheRepair(e)) throw;
    return false;
  }
}

// Whether the record at index reads whole as a news object: an item, a
// body or a feed (a list's 16 bytes hold none of them).
bool newsRecordAt(cJournaledIndexedObjectSoupDatabase& db, int32_t index) {
  if (itemRecordAt(db, index) || bodyRecordAt(db, index)) return true;
  try {
    newsFeed feed;
    db.readRecordInto(index, feed);
    return true;
  } catch (const eException& e) {
    if (endsTheRepair(e)) throw;
    return false;
  }
}

// The nodes a list's links name from its head forwards and from its tail
// backwards, each once, as the file holds them (a node whose links are lost
// ends one direction). Never raises.
std::vector<int32_t> linkedNodes(cJournaledIndexedObjectSoupDatabase& db, const cIndexedObjectList* list) {
  std::vector<int32_t> nodes;
  if (!list) return nodes;
  std::unordered_set<int32_t> seen;
  auto follow = [&](int32_t from, bool forwards) {
    try {
      for (int32_t n = from; n > 0 && seen.insert(n).second;) {
        nodes.push_back(n);
        const NodeHeader h = db.readObjectNodeHeader(n);
        n = forwards ? h.nextIndex : h.prevIndex;
      }
    } catch (const eException& e) {
      if (endsTheRepair(e)) throw;
    }
  };
  follow(list->infoHeadIndex(), true);
  follow(list->infoTailIndex(), false);
  return nodes;
}

// The indices that had a block before the repair: a bit an index up to
// the index array's size (an eighth of a byte, not four bytes, an object).
struct AllocatedIndices {
  std::vector<bool> bits;
  bool contains(int32_t index) const {
    return index > 0 && static_cast<size_t>(index) < bits.size() && bits[static_cast<size_t>(index)];
  }
};

// A feed of the feed list and the items of its list, as the file named
// them before the repair.
struct FeedCensus {
  int32_t index = 0, itemList = 0;
  bool read = false;  // its record read as a feed
  std::string title, url;
  std::vector<int32_t> items;
};

// Which feed's list held an item before the repair (the first in the
// census that did), for the few items the walk did not reach: the table is
// made at the first question, eight bytes an item, and asked by halving.
class ListedIn {
 public:
  explicit ListedIn(const std::vector<FeedCensus>& census) : census_(census) {}
  // The feed's index, 0 for an item no list held.
  int32_t feedOf(int32_t item) {
    if (!made_) {
      for (size_t k = 0; k < census_.size(); ++k) {
        for (int32_t listed : census_[k].items) pairs_.emplace_back(listed, static_cast<int32_t>(k));
      }
      std::sort(pairs_.begin(), pairs_.end());
      made_ = true;
    }
    const auto at = std::lower_bound(pairs_.begin(), pairs_.end(), std::pair<int32_t, int32_t>(item, 0));
    return at != pairs_.end() && at->first == item ? census_[static_cast<size_t>(at->second)].index : 0;
  }

 private:
  const std::vector<FeedCensus>& census_;
  std::vector<std::pair<int32_t, int32_t>> pairs_;  // item, its census entry
  bool made_ = false;
};

// What the news model held before the repair changed anything, for telling
// what the repair lost. Never raises (but for "MEM" and "BRK").
std::vector<FeedCensus> censusOf(cJournaledIndexedObjectSoupDatabase& db) {
  std::vector<FeedCensus> feeds;
  try {
    newsRoot* root = loadObject_newsRoot(db, db.infoRootValue());
    if (!root) return feeds;
    LoadedUse rootUse(db, root);
    for (int32_t index : linkedNodes(db, root->feedList)) {
      FeedCensus& c = feeds.emplace_back();
      c.index = index;
      try {
        newsFeed* feed = loadObject_newsFeed(db, index);
        if (!feed) continue;
        LoadedUse feedUse(db, feed);
        c.read = true;
        c.title = std::string((feed->userName.isNil() ? feed->title : feed->userName).view());
        c.url = std::string(feed->url.view());
        c.itemList = feed->itemListIndex;
        c.items = linkedNodes(db, feed->itemList);
      } catch (const eException& e) {
        if (endsTheRepair(e)) throw;
      }
    }
  } catch (const eException& e) {
    if (endsTheRepair(e)) throw;
  }
  return feeds;
}

// An item and its published date.
struct Dated {
  int32_t index = 0;
  bigTime published = 0;
};

class RepairWalk {
 public:
  RepairWalk(cJournaledIndexedObjectSoupDatabase& db, ValidationSet& usage, bool verbose, bool repair)
      : db_(db), usage_(usage), verbose_(verbose), repair_(repair) {}

  bool usable = true;
  bool changed = false;
  bool endedAtRoot = false;  // the walk stopped at the root or its feed list
  bool feedListMended = false;  // the root's feed-list link was set again
  std::unordered_set<int32_t> walkedFeeds, keptItems, droppedItems;
  std::vector<int32_t> lostFeeds;  // taken out of the feed list
  // Whole items that name a lost feed, by feed: stored, in no list.
  std::unordered_map<int32_t, std::vector<int32_t>> heldForRescue;
  // What the repair learnt of the objects' classes, for telling what went:
  // items of kept feeds (or of none) whose records read whole and went,
  // items of lost feeds, objects that are no item (the root, feeds, lists,
  // bodies that item records name), the indices the repair gave out, and
  // the whole bodies that no item names. An item that went whose body link
  // names its own index or another item's body, or an index that had no
  // block, may leave its own body named by nothing.
  struct Classes {
    std::unordered_set<int32_t> itemsRead, lostFeedItems, nonItems, made;
    int64_t orphanBodies = 0, wrongBodyLinks = 0;
    std::vector<int32_t> missingBodies;
  } classes;
  // The nodes each list no one reached named, and by lost feed those of the
  // lists that held its whole items.
  std::unordered_map<int32_t, std::vector<int32_t>> unreachedListNodes, namedForRescue;

  void walk() {
    int32_t rootIndex = db_.infoRootValue();
    if (rootIndex == 0) {
      endedAtRoot = true;
      return;
    }
    if (!reach(rootIndex)) return failAtRoot("Invalid newRootIndex=%ld\n", rootIndex);
    if (repair_ && !mendFeedListLink(rootIndex)) return;
    newsRoot* root = loadObject_newsRoot(db_, rootIndex);
    if (!root) return failAtRoot("Invalid newRootIndex=%ld\n", rootIndex);
    LoadedUse rootUse(db_, root);
    classes.nonItems.insert({rootIndex, root->feedListIndex});
    if (!reachList(root->feedListIndex)) return failAtRoot("Invalid feedListIndex=%ld\n", root->feedListIndex);
    listOwners_ = listOwners(root->feedList);
    int32_t feedIndex = root->feedList ? root->feedList->infoHeadIndex() : 0;
    while (feedIndex != 0) {
      db_.pollValidation();
      if (!valid(feedIndex) || reached(feedIndex)) return fail("Invalid feedNodeIndex=%ld\n", feedIndex);
      classes.nonItems.insert(feedIndex);
      newsFeed* feed = loadFeed(feedIndex);
      if (!feed) {
        printFinding(verbose_, "Loading feedNodeIndex=%ld gave a NIL pointer\n", static_cast<long>(feedIndex));
        if (!repair_) return fail();
        lostFeeds.push_back(feedIndex);
        feedIndex = unlink(*root->feedList, feedIndex);
        continue;
      }
      LoadedUse feedUse(db_, feed);
      reach(feedIndex);
      walkedFeeds.insert(feedIndex);
      walkItems(*feed);
      if (repair_) rebuildFeedDuplicates(db_, *feed);
      feedIndex = feed->infoNextIndex();
    }
  }

  // Reads what the walk did not reach by its own class, before the sweep:
  // the lists no one reached let their nodes go (so that none is left in a
  // list about to be destroyed). A whole item, with a body that reads and
  // that no one else holds, belongs to the feed its record names, else to
  // the feed whose list held it before the repair (listedIn): under a kept
  // feed it goes back into the feed's list by date; under one of lost it is
  // kept, in no list, for the rescue.
  void readUnreached(const std::unordered_set<int32_t>& lost, ListedIn& listedIn) {
    std::vector<int32_t> unreached;
    for (bool more = usage_.gotoFirst(); more; more = usage_.gotoNext()) {
      auto entry = usage_.infoCurrent();
      if (entry.data != kReachedByWalk) unreached.push_back(static_cast<int32_t>(entry.key));
    }
    std::sort(unreached.begin(), unreached.end());
    std::vector<int32_t> objects;
    for (int32_t index : unreached) {
      if (usage_.get(index) == cJournaledIndexedObjectSoupDatabase::kListOfChain) {
        classes.nonItems.insert(index);
        releaseNodes(index);
      } else {
        objects.push_back(index);
      }
    }
    std::map<int32_t, std::vector<Dated>> orphans;  // kept feed -> its whole items in no list
    std::vector<int32_t> others;                    // what does not read as an item
    for (int32_t index : objects) {
      db_.pollValidation();
      if (reached(index)) continue;  // the body of an item met before
      const std::optional<ItemRecord> record = itemRecordAt(db_, index);
      if (!record) {
        others.push_back(index);
        continue;
      }
      int32_t owner = record->feed;
      if (!walkedFeeds.contains(owner) && !lost.contains(owner)) {
        if (const int32_t listed = listedIn.feedOf(index)) owner = listed;
      }
      const int32_t body = record->body;
      const bool whole = body != index && valid(body) && !reached(body) && bodyReads(body);
      if (lost.contains(owner)) {
        if (body != index) classes.nonItems.insert(body);
        if (!whole) {
          classes.lostFeedItems.insert(index);
          continue;
        }
        reach(index);
        reach(body);
        heldForRescue[owner].push_back(index);
      } else if (walkedFeeds.contains(owner) && whole) {
        reach(index);
        reach(body);
        orphans[owner].push_back({index, record->published});
      } else {
        // Goes: its body does not read, or it belongs to no feed.
        wentWithBody(index, body);
      }
    }
    for (int32_t index : others) {
      if (!reached(index) && !classes.nonItems.contains(index) && bodyRecordAt(db_, index)) {
        classes.nonItems.insert(index);
        ++classes.orphanBodies;
      }
    }
    for (auto& [feed, items] : orphans) relinkOrphans(feed, items);
    std::unordered_map<int32_t, int32_t> feedOf;
    for (const auto& [feed, items] : heldForRescue)
      for (int32_t item : items) feedOf[item] = feed;
    for (const auto& [list, nodes] : unreachedListNodes) {
      std::unordered_set<int32_t> feeds;
      for (int32_t node : nodes)
        if (auto f = feedOf.find(node); f != feedOf.end()) feeds.insert(f->second);
      if (feeds.size() != 1) continue;
      std::vector<int32_t>& named = namedForRescue[*feeds.begin()];
      named.insert(named.end(), nodes.begin(), nodes.end());
    }
  }

  // The allocated indices the walk did not reach: reported, and freed when
  // repairing. They are gathered apart (mostly none), not by taking every
  // reached index out of the set: that took a word an object.
  void sweepUnused() {
    ValidationSet unused;
    bool any = false;
    for (bool more = usage_.gotoFirst(); more; more = usage_.gotoNext()) {
      auto entry = usage_.infoCurrent();
      if (entry.data == kReachedByWalk) continue;
      printFinding(verbose_, "Index %ld is allocated but not used\n", static_cast<long>(entry.key));
      any = true;
      if (repair_) {
        unused.set(entry.key, entry.data);
      } else {
        usable = false;
      }
    }
    if (repair_ && any) {
      db_.destroyUnusedObjects(unused, verbose_);
      changed = true;
    }
  }

 private:
  bool valid(int32_t index) { return index != 0 && usage_.get(index) != 0; }
  bool reached(int32_t index) { return usage_.get(index) == kReachedByWalk; }
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
  void fail() { usable = false; }
  void fail(const char* format, int32_t value) {
    printFinding(verbose_, format, static_cast<long>(value));
    usable = false;
  }
  void failAtRoot(const char* format, int32_t value) {
    fail(format, value);
    endedAtRoot = true;
  }

  // The feed at index with its item list; NIL when its record does not
  // read. A feed whose item list is not a list of the chain gets a new
  // empty one when repairing (the items are lost), else NIL.
  newsFeed* loadFeed(int32_t index) {
    try {
      newsFeed stored;
      db_.readRecordInto(index, stored);
      const auto shared = listOwners_.find(stored.itemListIndex);
      const bool another = shared != listOwners_.end() && shared->second != 0 && shared->second != index;
      if (!another && reachList(stored.itemListIndex)) return loadObject_newsFeed(db_, index);
      printFinding(verbose_, "Invalid itemListIndex=%ld\n", static_cast<long>(stored.itemListIndex));
      if (!valid(stored.itemListIndex)) classes.nonItems.insert(stored.itemListIndex);  // lost with its block
      if (!repair_) {
        usable = false;
        return nullptr;
      }
      auto* feed = static_cast<newsFeed*>(db_.loadObject(index, std::make_unique<newsFeed>()));
      try {
        feed->setSoup(&db_);
        db_.saveChangesToObject(feed);
      } catch (...) {
        db_.unloadObject(feed);
        throw;
      }
      reachList(feed->itemListIndex);
      classes.made.insert(feed->itemListIndex);
      changed = true;
      return feed;
    } catch (const eException& e) {
      if (endsTheRepair(e) || e.code() == "TRAN" || db_.infoMustClose()) throw;
      return nullptr;
    }
  }

  // Takes every node out of the list at index, which no one reached. A node
  // whose links do not agree with its neighbours' ends it (nothing was
  // written for it); the sweep destroys the list with what is left.
  void releaseNodes(int32_t index) {
    cIndexedObjectList* list = loadObject_cIndexedObjectList(db_, index);
    LoadedUse use(db_, list);
    unreachedListNodes[index] = linkedNodes(db_, list);
    std::unordered_set<int32_t> seen;
    for (int32_t node = list->infoHeadIndex(); node != 0 && seen.insert(node).second; node = list->infoHeadIndex()) {
      try {
        list->remove(node);
      } catch (const eException& e) {
        if (endsTheRepair(e) || db_.infoMustClose()) throw;
        return;
      }
      changed = true;
    }
  }

  // Whether the stored record at index reads whole as a feed (its type
  // among those the program reads); itemList receives its item list.
  bool feedRecordAt(int32_t index, int32_t* itemList = nullptr) {
    if (index <= 0 || usage_.get(index) == 0) return false;
    try {
      newsFeed feed;
      db_.readRecordInto(index, feed);
      if (itemList) *itemList = feed.itemListIndex;
      return true;
    } catch (const eException& e) {
      if (endsTheRepair(e)) throw;
      return false;
    }
  }

  // Whether the root's feed-list link names the feed list: a list of the
  // chain whose head reads as a feed, or an empty one where no record reads
  // as a feed. Otherwise the link is set again from the feed records: to
  // the list of the chain that their links lead to (none of theirs), else
  // to a new list holding them in their links' order. Answers FALSE, with
  // the walk ended at the root, when no record reads as a feed: there is
  // nothing to rebuild the feed list from.
  bool mendFeedListLink(int32_t rootIndex) {
    newsRoot stored;
    try {
      db_.readRecordInto(rootIndex, stored);
    } catch (const eException& e) {
      if (endsTheRepair(e)) throw;
      return true;  // the root's load tells
    }
    const int32_t named = stored.feedListIndex;
    const bool isList = usage_.get(named) == cJournaledIndexedObjectSoupDatabase::kListOfChain;
    int32_t head = 0;
    if (isList) {
      cIndexedObjectList* list = loadObject_cIndexedObjectList(db_, named);
      LoadedUse use(db_, list);
      head = list->infoHeadIndex();
      if (head != 0 && feedRecordAt(head)) return true;
    }
    // The feed records, and the lists they hold or link to.
    std::map<int32_t, NodeHeader> feeds;
    std::unordered_set<int32_t> itemLists, linked;
    std::vector<int32_t> chainLists;
    for (bool more = usage_.gotoFirst(); more; more = usage_.gotoNext()) {
      const auto entry = usage_.infoCurrent();
      if (entry.data == cJournaledIndexedObjectSoupDatabase::kListOfChain) chainLists.push_back(static_cast<int32_t>(entry.key));
    }
    std::vector<int32_t> objects;
    for (bool more = usage_.gotoFirst(); more; more = usage_.gotoNext()) {
      const auto entry = usage_.infoCurrent();
      if (entry.data != cJournaledIndexedObjectSoupDatabase::kListOfChain && entry.key != rootIndex) {
        objects.push_back(static_cast<int32_t>(entry.key));
      }
    }
    for (int32_t index : objects) {
      if (int32_t itemList = 0; feedRecordAt(index, &itemList)) {
        const NodeHeader links = db_.readObjectNodeHeader(index);
        feeds.emplace(index, links);
        itemLists.insert(itemList);
        linked.insert({index, links.nextIndex, links.prevIndex});
      }
    }
    linked.erase(0);
    if (feeds.empty()) {
      if (isList && head == 0) return true;  // a database without feeds
      failAtRoot("Invalid feedListIndex=%ld\n", named);
      return false;
    }
    auto leadsHere = [&](int32_t list) {
      if (itemLists.contains(list)) return false;
      cIndexedObjectList* l = loadObject_cIndexedObjectList(db_, list);
      LoadedUse use(db_, l);
      return linked.contains(l->infoHeadIndex()) || linked.contains(l->infoTailIndex());
    };
    if (isList && leadsHere(named)) return true;  // its head is a feed that does not read
    printFinding(verbose_, "Invalid feedListIndex=%ld\n", static_cast<long>(named));
    int32_t found = 0;
    for (int32_t list : chainLists) {
      if (leadsHere(list)) {
        found = list;
        break;
      }
    }
    if (found == 0) found = newFeedList(feeds);
    auto* root = static_cast<newsRoot*>(db_.loadObject(rootIndex, std::make_unique<newsRoot>()));
    LoadedUse rootUse(db_, root);
    root->feedListIndex = found;
    db_.saveChangesToObject(root);
    changed = true;
    feedListMended = true;
    return true;
  }

  // The feed each item list of the feed list's feeds belongs to: the one
  // its items' records name most (0: they name none). A list two feeds
  // name, or one whose head names another feed than the one naming it, is
  // counted item by item; any other is its feed's. A feed whose link names
  // a list that is another's (one of them, or a feed whose record is lost)
  // has a damaged link: its own items come back to it by their records.
  std::unordered_map<int32_t, int32_t> listOwners(const cIndexedObjectList* feedList) {
    std::unordered_map<int32_t, std::vector<int32_t>> claims;
    for (int32_t f : linkedNodes(db_, feedList)) {
      try {
        newsFeed feed;
        db_.readRecordInto(f, feed);
        if (usage_.get(feed.itemListIndex) == cJournaledIndexedObjectSoupDatabase::kListOfChain) {
          claims[feed.itemListIndex].push_back(f);
        }
      } catch (const eException& e) {
        if (endsTheRepair(e)) throw;
      }
    }
    std::unordered_map<int32_t, int32_t> owners;
    for (const auto& [list, feeds] : claims) {
      cIndexedObjectList* l = loadObject_cIndexedObjectList(db_, list);
      LoadedUse use(db_, l);
      if (feeds.size() == 1) {
        const std::optional<ItemRecord> head = l->infoHeadIndex() > 0 ? itemRecordAt(db_, l->infoHeadIndex()) : std::nullopt;
        if (!head || head->feed == feeds[0]) continue;
      }
      std::unordered_map<int32_t, int64_t> votes;
      for (int32_t node : linkedNodes(db_, l)) {
        db_.pollValidation();
        if (const std::optional<ItemRecord> record = itemRecordAt(db_, node)) ++votes[record->feed];
      }
      int32_t owner = 0;
      int64_t most = 0;
      for (const auto& [f, count] : votes) {
        if (count > most || (count == most && f < owner)) {
          owner = f;
          most = count;
        }
      }
      // A tie goes to the first feed naming the list.
      const auto first = std::find_if(feeds.begin(), feeds.end(), [&](int32_t f) {
        auto v = votes.find(f);
        return most > 0 && v != votes.end() && v->second == most;
      });
      owners[list] = first != feeds.end() ? *first : owner;
    }
    return owners;
  }

  // A new list of the chain holding feeds: each run their links make, in
  // their order, the runs by their first feed's index.
  int32_t newFeedList(const std::map<int32_t, NodeHeader>& feeds) {
    CreatedList created = db_.createObjectList();
    LoadedUse use(db_, created.list);
    usage_.set(created.index, cJournaledIndexedObjectSoupDatabase::kListOfChain);
    classes.made.insert(created.index);
    std::unordered_set<int32_t> taken;
    for (const auto& [first, links] : feeds) {
      if (taken.contains(first) || (feeds.contains(links.prevIndex) && !taken.contains(links.prevIndex))) continue;
      for (auto f = feeds.find(first); f != feeds.end() && taken.insert(f->first).second; f = feeds.find(f->second.nextIndex)) {
        created.list->insertAtTail(f->first);
      }
    }
    for (const auto& [index, links] : feeds) {
      if (taken.insert(index).second) created.list->insertAtTail(index);  // in a circle of feeds
    }
    return created.index;
  }

  // Notes an item that goes though its record read whole (its body does not
  // read, or it belongs to no feed). A body link naming the item itself, a
  // body another item holds or an object of another class is damaged: the
  // item's own body is left named by nothing.
  void wentWithBody(int32_t item, int32_t body) {
    classes.itemsRead.insert(item);
    bool elsewhere = body == item || reached(body);
    if (!elsewhere && valid(body) && !bodyRecordAt(db_, body)) {
      elsewhere = usage_.get(body) == cJournaledIndexedObjectSoupDatabase::kListOfChain ||
                  body == db_.infoRootValue() || newsRecordAt(db_, body);
    }
    if (elsewhere) {
      ++classes.wrongBodyLinks;
      return;
    }
    classes.nonItems.insert(body);
    classes.missingBodies.push_back(body);
  }

  // Links the whole items of a kept feed that no list holds into its list,
  // each behind the listed items of its date or newer (the list is newest
  // first); their duplicate chains are then rebuilt.
  void relinkOrphans(int32_t feedIndex, std::vector<Dated>& orphans) {
    newsFeed* feed = loadObject_newsFeed(db_, feedIndex);
    if (!feed) return;
    LoadedUse feedUse(db_, feed);
    std::vector<Dated>& listed = listedOf_[feedIndex];
    std::stable_sort(orphans.begin(), orphans.end(), [](const Dated& a, const Dated& b) { return a.published > b.published; });
    for (const Dated& orphan : orphans) {
      {
        HeldItem item(db_, loadItem(orphan.index, *feed));
        if (!item) continue;
        if (item->feedIndex != feedIndex || item->infoIsDuplicate()) {
          item->feedIndex = feedIndex;
          item->olderDuplicateItemIndex = item->newestDuplicateItemIndex = 0;
          db_.saveChangesToObject(item.get());
        }
      }
      auto at = std::find_if(listed.begin(), listed.end(), [&](const Dated& d) { return d.published < orphan.published; });
      if (at == listed.begin()) {
        feed->itemList->insertAtHead(orphan.index);
      } else {
        feed->itemList->insertAfter(orphan.index, std::prev(at)->index);
      }
      const NodeHeader links = db_.readObjectNodeHeader(orphan.index);
      writeLoadedHeader(db_, links.nextIndex);
      writeLoadedHeader(db_, links.prevIndex);
      listed.insert(at, orphan);
      keptItems.insert(orphan.index);
      printFinding(verbose_, "Unlisted itemNodeIndex=%ld linked into feedNodeIndex=%ld\n", static_cast<long>(orphan.index),
                   static_cast<long>(feedIndex));
      changed = true;
    }
    rebuildFeedDuplicates(db_, *feed);
  }

  // Takes the node at index out of list, going round it; answers the node
  // that followed it.
  int32_t unlink(cIndexedObjectList& list, int32_t index) {
    const NodeHeader links = db_.readObjectNodeHeader(index);
    list.remove(index);
    writeLoadedHeader(db_, links.nextIndex);
    writeLoadedHeader(db_, links.prevIndex);
    changed = true;
    return links.nextIndex;
  }

  // The item at index, read whole; NIL when it does not read.
  newsItem* loadItem(int32_t index, newsFeed& feed) {
    try {
      return loadObject_newsItem2(db_, index, &feed);
    } catch (const eException& e) {
      if (endsTheRepair(e)) throw;
      return nullptr;
    }
  }

  // Whether the body at index reads whole.
  bool bodyReads(int32_t index) {
    try {
      newsItemBody* body = loadObject_newsItemBody(db_, index);
      if (!body) return false;
      db_.unloadObject(body);
      return true;
    } catch (const eException& e) {
      if (endsTheRepair(e)) throw;
      return false;
    }
  }

  void walkItems(newsFeed& feed) {
    int32_t itemIndex = feed.itemList ? feed.itemList->infoHeadIndex() : 0;
    while (itemIndex != 0) {
      db_.pollValidation();
      if (!valid(itemIndex) || reached(itemIndex)) return fail("Invalid itemNodeIndex=%ld\n", itemIndex);
      HeldItem item(db_, loadItem(itemIndex, feed));
      if (!item) {
        printFinding(verbose_, "Unreadable itemNodeIndex=%ld\n", static_cast<long>(itemIndex));
        if (!repair_) return fail();
        droppedItems.insert(itemIndex);
        itemIndex = unlink(*feed.itemList, itemIndex);
        continue;
      }
      reach(itemIndex);
      int32_t next = item->infoNextIndex();
      if (checkItem(feed, item, itemIndex)) {
        keptItems.insert(itemIndex);
        listedOf_[feed.infoSoupIndex()].push_back({itemIndex, item->published});
      } else if (repair_) {
        droppedItems.insert(itemIndex);
      }
      itemIndex = next;
    }
  }

  // Whether the item stays.
  bool checkItem(newsFeed& feed, HeldItem& item, int32_t itemIndex) {
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
    // A body another object holds already, or one that does not read, is
    // no body of this item.
    const int32_t body = item->bodyIndex;
    if (!valid(body) || reached(body) || !bodyReads(body)) {
      printFinding(verbose_, "Invalid itemNode.bodyIndex=%ld for itemNodeIndex=%ld\n", static_cast<long>(body),
                   static_cast<long>(itemIndex));
      // Repair mode keeps what it mended: the item goes and the walk, and
      // the database, go on; a check answers that the database is not sound.
      if (!repair_) {
        usable = false;
        return true;
      }
      wentWithBody(itemIndex, body);
      destroyNewsItem(db_, item.release(), nullptr, false);
      changed = true;
      return false;
    }
    usage_.set(body, kReachedByWalk);
    return true;
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
  // The items each walked feed keeps, in list order.
  std::unordered_map<int32_t, std::vector<Dated>> listedOf_;
  // Item lists whose items were counted -> the feed each belongs to.
  std::unordered_map<int32_t, int32_t> listOwners_;
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
// go on keeps what it gathered before. A node's list is read from its own
// record: a feed's is the feed list, an item's is its feed's item list (by
// its feedIndex, for the feeds the walk reached), and a list or a record
// that reads whole as a body is no node of any list.
cJournaledIndexedObjectSoupDatabase::ListModel newsListModel(cJournaledIndexedObjectSoupDatabase& db,
                                                             ValidationSet& indices) {
  using ListModel = cJournaledIndexedObjectSoupDatabase::ListModel;
  ListModel model;
  std::unordered_set<int32_t> lists;
  auto isIndex = [&](int32_t index) { return index != 0 && indices.get(index) != 0; };
  auto isNew = [&](int32_t index) { return isIndex(index) && !lists.contains(index) && !model.nonLists.contains(index); };
  // A damaged link may name a news object as a list: the chain walk would
  // take its bytes for a list's.
  auto addList = [&](int32_t index) {
    if (isIndex(index) && !lists.contains(index) && !newsRecordAt(db, index)) {
      lists.insert(index);
      model.lists.push_back(index);
    }
  };
  std::vector<int32_t> bodies;
  struct Owners {
    int32_t feedList = 0;
    std::unordered_map<int32_t, int32_t> itemLists;  // feed -> its item list
    std::unordered_set<int32_t> lists;
  };
  auto owners = std::make_shared<Owners>();
  model.listOfNode = [&db, owners](int32_t node) -> int32_t {
    if (auto feed = owners->itemLists.find(node); feed != owners->itemLists.end()) return owners->feedList;
    if (owners->lists.contains(node)) return ListModel::kNoListNode;
    try {
      if (newsItem* item = loadObject_newsItem(db, node)) {
        LoadedUse use(db, item);
        auto list = owners->itemLists.find(item->feedIndex);
        return list == owners->itemLists.end() ? 0 : list->second;
      }
    } catch (const eException&) {
      // not an item
    }
    try {
      return bodyRecordAt(db, node) ? ListModel::kNoListNode : 0;
    } catch (const eException&) {
      return 0;
    }
  };
  try {
    const int32_t rootIndex = db.infoRootValue();
    if (!isIndex(rootIndex)) return model;
    model.nonLists.insert(rootIndex);
    owners->lists.insert(rootIndex);  // no node of any list either
    newsRoot* root = loadObject_newsRoot(db, rootIndex);
    if (!root) return model;
    LoadedUse rootUse(db, root);
    if (!root->feedList) return model;
    addList(root->feedListIndex);
    owners->feedList = root->feedListIndex;
    const int32_t newest = root->feedList->infoListNextIndex();
    for (int32_t feedIndex = root->feedList->infoHeadIndex(); isNew(feedIndex);) {
      model.nonLists.insert(feedIndex);
      newsFeed* feed = loadObject_newsFeed(db, feedIndex);
      if (!feed) break;
      LoadedUse feedUse(db, feed);
      addList(feed->itemListIndex);
      owners->itemLists.emplace(feedIndex, lists.contains(feed->itemListIndex) ? feed->itemListIndex : 0);
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
  owners->lists.insert(model.lists.begin(), model.lists.end());
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

// The feeds the file named before the repair that the walk did not keep,
// then those it took out of the feed list. One whose record did not read
// is a feed lost with its record only where it had a block that the walk
// did not keep, that reads as no other class (no item, body, list or root)
// and that an item record the walk did not reach names as its feed: a
// damaged link had the census take a free index, a body or a list for a
// feed, and one that named what is no feed list had it read another list's
// nodes.
std::vector<LostFeed> lostFeedsOf(cJournaledIndexedObjectSoupDatabase& db, ValidationSet& usage,
                                  const std::vector<FeedCensus>& before,
                                  const std::optional<AllocatedIndices>& allocated, const RepairWalk& walk) {
  auto noOtherClass = [&](int32_t index) {
    if (walk.feedListMended || index == db.infoRootValue()) return false;
    if (!allocated || !allocated->contains(index)) return false;
    const intptr_t use = usage.get(index);
    if (use == kReachedByWalk || use == cJournaledIndexedObjectSoupDatabase::kListOfChain) return false;
    return !itemRecordAt(db, index) && !bodyRecordAt(db, index);
  };
  std::vector<const FeedCensus*> left;
  std::unordered_set<int32_t> unread, named;
  for (const FeedCensus& c : before) {
    // A feed list link that named an item list had the census take items for feeds.
    if (walk.keptItems.contains(c.index) || walk.droppedItems.contains(c.index)) continue;
    if (walk.walkedFeeds.contains(c.index)) continue;
    if (!c.read && !unread.contains(c.index) && !noOtherClass(c.index)) continue;
    if (!c.read) unread.insert(c.index);
    left.push_back(&c);
  }
  for (bool more = !unread.empty() && usage.gotoFirst(); more && named.size() < unread.size(); more = usage.gotoNext()) {
    const auto entry = usage.infoCurrent();
    if (entry.data == kReachedByWalk || entry.data == cJournaledIndexedObjectSoupDatabase::kListOfChain) continue;
    db.pollValidation();
    const std::optional<ItemRecord> record = itemRecordAt(db, static_cast<int32_t>(entry.key));
    if (record && unread.contains(record->feed)) named.insert(record->feed);
  }
  std::vector<LostFeed> lost;
  std::unordered_set<int32_t> told;
  for (const FeedCensus* c : left) {
    if ((c->read || named.contains(c->index)) && told.insert(c->index).second) {
      lost.push_back({c->index, c->title, c->url, {}, c->items});
    }
  }
  for (int32_t index : walk.lostFeeds) {
    if (told.insert(index).second) lost.push_back({index, "", "", {}, {}});
  }
  return lost;
}

// The indices that have a block, as the index array tells; none when the
// array's size is not known or its entries do not read. Never raises (but
// for "MEM" and "BRK").
std::optional<AllocatedIndices> allocatedIndices(cJournaledIndexedObjectSoupDatabase& db) {
  SoupBlockFile& file = db.infoBlockFile();
  const int32_t limit = file.infoIndexLimit();
  // A damaged array size may name more entries than the file holds.
  if (limit <= 0 || int64_t{limit} * 8 > file.getSize()) return std::nullopt;
  AllocatedIndices indices;
  indices.bits.resize(static_cast<size_t>(limit) + 1);
  try {
    for (int32_t index = 1; index <= limit; ++index) {
      if (file.infoBlockOfIndex(index, true) != 0) indices.bits[static_cast<size_t>(index)] = true;
    }
  } catch (const eException& e) {
    if (endsTheRepair(e)) throw;
    return std::nullopt;
  }
  return indices;
}

// What the repair lost of the kept feeds' items against what the file held
// before it (allocated: its indices then). Each index that had a block and
// is gone is an item of a kept feed (its record read whole, or a list named
// it: counted), no item (a feed, list, root or named body), an item of a
// lost feed (told with that feed), or of a class lost with its block. An
// item lost with its record leaves its body whole (and named by nothing)
// or lost too, so those of unknown class hold as many items as the named
// items and whole bodies leave over, halved; where that does not come out
// whole the count is a lower bound.
void tellLosses(cJournaledIndexedObjectSoupDatabase& db, const std::vector<FeedCensus>& before,
                const std::optional<AllocatedIndices>& allocated, const RepairWalk& walk, RepairResult& result) {
  const RepairWalk::Classes& k = walk.classes;
  // The indices that went, from those the file had (or, not knowing them,
  // the items of kept feeds): only they are classified, so the census's
  // items are held against them, not gathered whole.
  std::unordered_set<int32_t> gone;
  auto note = [&](int32_t index) {
    if (k.made.contains(index) || db.infoBlockFile().infoBlockOfIndex(index, true) == 0) gone.insert(index);
  };
  if (allocated) {
    for (size_t index = 1; index < allocated->bits.size(); ++index) {
      if (allocated->bits[index]) note(static_cast<int32_t>(index));
    }
  } else {
    for (int32_t index : walk.droppedItems) note(index);
    for (const FeedCensus& c : before) {
      if (walk.walkedFeeds.contains(c.index)) std::for_each(c.items.begin(), c.items.end(), note);
    }
    for (int32_t index : k.itemsRead) note(index);
  }
  std::unordered_set<int32_t> censusNonItems, keptFeedItems, lostFeedItems;  // of the census, those that went
  for (const FeedCensus& c : before) {
    censusNonItems.insert({c.index, c.itemList});
    auto& items = walk.walkedFeeds.contains(c.index) ? keptFeedItems : lostFeedItems;
    for (int32_t item : c.items) {
      if (gone.contains(item)) items.insert(item);
    }
  }
  int64_t named = 0, read = 0, unknown = 0;
  for (int32_t index : gone) {
    if (k.nonItems.contains(index) || censusNonItems.contains(index) || k.lostFeedItems.contains(index) ||
        lostFeedItems.contains(index)) {
      continue;
    }
    if (k.itemsRead.contains(index)) {
      ++read;
    } else if (walk.droppedItems.contains(index) || keptFeedItems.contains(index)) {
      ++named;
    } else {
      ++unknown;
    }
  }
  // Whole bodies named by nothing whose items went with their records.
  int64_t orphans = k.orphanBodies - k.wrongBodyLinks;
  for (int32_t body : k.missingBodies) {
    if (!allocated || !allocated->contains(body)) --orphans;
  }
  orphans = std::max<int64_t>(orphans, 0);
  // Twice the items lost with their records that no link named.
  const int64_t twice = orphans + unknown - named;
  const bool whole = allocated && twice >= 0 && twice % 2 == 0 && twice / 2 <= unknown &&
                     (twice == 0 || result.lostFeeds.empty());  // else they may be the lost feeds' items
  result.itemsRemoved = named + read + (whole ? twice / 2 : 0);
  // Each whole body named by nothing lost its item.
  if (!whole && result.lostFeeds.empty()) result.itemsRemoved = read + std::max(named, orphans);
  result.itemsRemovedAtLeast = !whole && result.itemsRemoved > 0;
  for (LostFeed& feed : result.lostFeeds) {
    if (auto held = walk.heldForRescue.find(feed.index); held != walk.heldForRescue.end()) feed.items = held->second;
    if (auto list = walk.namedForRescue.find(feed.index); list != walk.namedForRescue.end()) {
      feed.named.insert(feed.named.end(), list->second.begin(), list->second.end());
    }
  }
}

}  // namespace

RepairResult repairDatabase(cJournaledIndexedObjectSoupDatabase& db, bool verbose, bool repair) {
  RepairResult result;
  bool endedAtRoot = false;
  try {
    const std::vector<FeedCensus> before = repair ? censusOf(db) : std::vector<FeedCensus>{};
    const std::optional<AllocatedIndices> allocated = repair ? allocatedIndices(db) : std::nullopt;
    struct ModelScope {
      cJournaledIndexedObjectSoupDatabase& db;
      ~ModelScope() { db.setListModelSource({}); }
    } modelScope{db};
    db.setListModelSource([&db](ValidationSet& indices) { return newsListModel(db, indices); });
    std::unique_ptr<ValidationSet> usage = validateCycles(db, verbose, repair, result.changed);
    result.storageMended = result.changed;
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
        if (repair && walk.usable) {
          result.lostFeeds = lostFeedsOf(db, *usage, before, allocated, walk);
          std::unordered_set<int32_t> lost;
          for (const LostFeed& f : result.lostFeeds) lost.insert(f.index);
          ListedIn listedIn(before);
          walk.readUnreached(lost, listedIn);
        }
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
      if (repair && result.usable) {
        tellLosses(db, before, allocated, walk, result);
      } else {
        result.lostFeeds.clear();
      }
    }
  } catch (const eException& e) {
    if (e.code() == "BRK") throw;  // stopped: the caller's transaction discards it all
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

int64_t dropUnrescuedItems(cJournaledIndexedObjectSoupDatabase& db, const std::vector<int32_t>& items) {
  if (items.empty()) return 0;
  SoupTransaction tx(db.infoBlockFile());
  // What the feed lists hold now, each node once.
  std::unordered_set<int32_t> listed;
  newsRoot* root = loadObject_newsRoot(db, db.infoRootValue());
  LoadedUse rootUse(db, root);
  std::unordered_set<int32_t> feeds;
  for (int32_t f = root && root->feedList ? root->feedList->infoHeadIndex() : 0; f > 0 && feeds.insert(f).second;) {
    newsFeed* feed = loadObject_newsFeed(db, f);
    if (!feed) break;
    LoadedUse feedUse(db, feed);
    for (int32_t i = feed->itemList->infoHeadIndex(); i > 0 && listed.insert(i).second;) {
      i = db.readObjectNodeHeader(i).nextIndex;
    }
    f = feed->infoNextIndex();
  }
  int64_t dropped = 0;
  for (int32_t index : items) {
    if (listed.contains(index) || db.infoBlockFile().infoBlockOfIndex(index, true) == 0) continue;
    const std::optional<ItemRecord> record = itemRecordAt(db, index);
    db.destroyObject(index);
    if (record && db.infoBlockFile().infoBlockOfIndex(record->body, true) != 0) db.destroyObject(record->body);
    ++dropped;
  }
  tx.finish();
  return dropped;
}

}  // namespace bw
