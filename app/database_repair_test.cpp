// app/database_repair_test.cpp - the repair walk over damaged news
// databases: what it prints, what it mends and what it refuses.
#include "app/database_repair.h"

#include <gtest/gtest.h>

#include "app/app_test_support.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;

class RepairTest : public ProgramTest {
 protected:
  // A database with one feed of three items (indices in items), damaged by
  // damage, then repaired (or checked) with verbose output kept.
  RepairResult repairAfter(const std::function<void(Db&, newsRoot&, std::vector<int32_t>&)>& damage, bool repair,
                           bool checkAfter = false, const std::function<void(Db&)>& after = {}) {
    for (const auto& name : namesStartingWith("database.")) fs::remove(at(name));
    makeEmptyDatabase("database.soup");
    RepairResult result;
    withDatabase("database.soup", [&](Db& db, newsRoot& root) {
      const int32_t feedIndex = addFeed(db, root, "f", 3);
      newsFeed* feed = loadObject_newsFeed(db, feedIndex);
      std::vector<int32_t> items;
      for (int32_t i = feed->itemList->infoHeadIndex(); i != 0; i = db.readObjectNodeHeader(i).nextIndex) {
        items.push_back(i);
      }
      db.unloadObject(feed);
      damage(db, root, items);
      db.flush();
      testing::internal::CaptureStdout();
      result = repairDatabase(db, true, repair);
      output = testing::internal::GetCapturedStdout();
      if (checkAfter) {
        testing::internal::CaptureStdout();
        RepairResult check = repairDatabase(db, true, false);
        checkOutput = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(check.usable);
        EXPECT_FALSE(check.changed);
      }
      if (after) after(db);
    });
    return result;
  }
  static void changeItem(Db& db, int32_t index, const std::function<void(newsItem&)>& change) {
    newsItem* item = loadObject_newsItem(db, index);
    change(*item);
    db.saveChangesToObject(item);
    db.unloadObject(item);
  }
  // The first feed's itemListIndex, stored.
  static void setItemList(Db& db, newsRoot& root, int32_t index) {
    newsFeed* feed = loadObject_newsFeed(db, root.feedList->infoHeadIndex());
    feed->itemListIndex = index;
    db.saveChangesToObject(feed);
    db.unloadObject(feed);
  }
  std::string checkOutput;
};

TEST_F(RepairTest, ItemFaultsAreMendedAndTheCheckAfterIsClean) {
  std::vector<int32_t> damaged;
  RepairResult r = repairAfter(
      [&](Db& db, newsRoot&, std::vector<int32_t>& items) {
        damaged = items;
        changeItem(db, items[0], [](newsItem& i) { i.feedIndex = 77; });
        changeItem(db, items[1], [](newsItem& i) { i.olderDuplicateItemIndex = 5000; });
        changeItem(db, items[2], [](newsItem& i) { i.newestDuplicateItemIndex = 5001; });
      },
      true, true);
  EXPECT_TRUE(r.usable);
  EXPECT_TRUE(r.changed);
  auto n = [](int32_t i) { return std::to_string(i); };
  EXPECT_EQ(output, "Invalid itemNode.feedIndex=77 expected 4\n"
                    "Invalid itemNode.olderDuplicateItemIndex=5000 for itemNodeIndex=" + n(damaged[1]) + "\n"
                    "Invalid itemNode.newestDuplicateItemIndex=5001 for itemNodeIndex=" + n(damaged[2]) + "\n"
                    "Successfully finished repairing. PLEASE REPORT THIS PROBLEM!\n");
  EXPECT_EQ(checkOutput, "");
}

TEST_F(RepairTest, AChainOfListsLedIntoTheNewsObjectsLeavesThemAsTheyWere) {
  // One changed byte of the header can name an item, its body or a feed as
  // the first list of the chain: the walk must not mend its record as a
  // list's (the news walk would then save it back as what it is, and the
  // chain would be broken again; a body would keep the list's links and
  // its stored text would be lost), and the chain starts again at the
  // newest list.
  struct Case {
    const char* name;
    int32_t (*target)(Db& db, int32_t feed, const std::vector<int32_t>& items);
  } cases[] = {
      {"an item", [](Db&, int32_t, const std::vector<int32_t>& items) { return items[1]; }},
      {"the last item", [](Db&, int32_t, const std::vector<int32_t>& items) { return items[2]; }},
      {"the feed", [](Db&, int32_t feed, const std::vector<int32_t>&) { return feed; }},
      {"an item's body",
       [](Db& db, int32_t, const std::vector<int32_t>& items) {
         newsItem* item = loadObject_newsItem(db, items[1]);
         const int32_t body = item->bodyIndex;
         db.unloadObject(item);
         return body;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t head = 0, target = 0, feedIndex = 0;
    std::vector<int32_t> items;
    std::vector<std::pair<int32_t, int32_t>> links;
    RepairResult r = repairAfter(
        [&](Db& db, newsRoot& root, std::vector<int32_t>& stored) {
          items = stored;
          feedIndex = root.feedList->infoHeadIndex();
          for (int32_t i : items) links.emplace_back(db.readObjectNodeHeader(i).nextIndex, db.readObjectNodeHeader(i).prevIndex);
          head = db.infoHeadListIndex();
          target = c.target(db, feedIndex, items);
          db.cJournaledIndexedObjectSoup::writeExtra1(target);
        },
        true, true, [&](Db& db) {
          EXPECT_EQ(db.infoHeadListIndex(), head);
          for (size_t k = 0; k < items.size(); ++k) {
            NodeHeader h = db.readObjectNodeHeader(items[k]);
            EXPECT_EQ(std::make_pair(h.nextIndex, h.prevIndex), links[k]) << k;
            newsItem* item = loadObject_newsItem(db, items[k]);
            ASSERT_NE(item, nullptr);
            EXPECT_EQ(item->feedIndex, feedIndex);
            db.unloadObject(item);
          }
        });
    EXPECT_TRUE(r.usable);
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(output, "Invalid listIndex=" + std::to_string(target) + " (prevListIndex=0)\n"
                      "Successfully finished repairing. PLEASE REPORT THIS PROBLEM!\n");
    EXPECT_EQ(checkOutput, "");
  }
}

// A damaged defragListIndex naming an index nothing uses (the sweep
// destroys it), an item or a feed (which a later repair may destroy): the
// compaction walk starts again, and every item is kept. At the item list
// it stays.
TEST_F(RepairTest, TheCompactionWalkStandsOnlyAtAList) {
  const struct {
    const char* name;
    int32_t (*target)(Db& db, newsRoot& root, const std::vector<int32_t>& items);
  } cases[] = {
      {"an unused body", [](Db& db, newsRoot&, const std::vector<int32_t>&) {
         return db.createdAndUnloadObject(new newsItemBody());
       }},
      {"an item", [](Db&, newsRoot&, const std::vector<int32_t>& items) { return items[1]; }},
      {"the feed", [](Db&, newsRoot& root, const std::vector<int32_t>&) { return root.feedList->infoHeadIndex(); }},
      {"the item list", [](Db& db, newsRoot& root, const std::vector<int32_t>&) {
         newsFeed* feed = loadObject_newsFeed(db, root.feedList->infoHeadIndex());
         const int32_t list = feed->itemListIndex;
         db.unloadObject(feed);
         return list;
       }},
  };
  for (const auto& c : cases) {
    for (bool complemented : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (complemented ? " complemented" : ""));
      int64_t at = 0;
      std::vector<int32_t> items;
      const bool list = std::string(c.name) == "the item list";
      RepairResult r = repairAfter(
          [&](Db& db, newsRoot& root, std::vector<int32_t>& stored) {
            items = stored;
            const int32_t target = c.target(db, root, items);
            at = complemented ? ~int64_t{target} : target;
            db.setDefragListIndex(at);
          },
          true, true, [&](Db& db) {
            EXPECT_EQ(db.infoDefragListIndex(), list ? at : -1);
            for (int32_t item : items) EXPECT_NE(db.infoBlockFile().infoBlockOfIndex(item, true), 0) << item;
          });
      EXPECT_TRUE(r.usable);
      EXPECT_EQ(checkOutput, "");
    }
  }
}

// Items whose body index is bad go, and the repair goes on: the items after
// them are walked and kept, and the database is usable with nothing left to
// mend.
TEST_F(RepairTest, ItemsWithABadBodyGoAndTheRestIsKept) {
  std::vector<int32_t> damaged;
  std::vector<int32_t> left;
  RepairResult r = repairAfter(
      [&](Db& db, newsRoot&, std::vector<int32_t>& items) {
        damaged = items;
        changeItem(db, items[0], [](newsItem& i) { i.bodyIndex = 0; });
        changeItem(db, items[2], [](newsItem& i) { i.bodyIndex = 9999; });
      },
      true, true, [&](Db& db) {
        newsRoot* root = loadObject_newsRoot(db, db.infoRootValue());
        newsFeed* feed = loadObject_newsFeed(db, root->feedList->infoHeadIndex());
        for (int32_t i = feed->itemList->infoHeadIndex(); i != 0; i = db.readObjectNodeHeader(i).nextIndex) left.push_back(i);
        db.unloadObject(feed);
        db.unloadObject(root);
      });
  EXPECT_TRUE(r.usable);
  EXPECT_TRUE(r.changed);
  EXPECT_EQ(left, std::vector<int32_t>{damaged[1]});
  EXPECT_NE(output.find("Invalid itemNode.bodyIndex=9999 for itemNodeIndex=" + std::to_string(damaged[2])), std::string::npos)
      << output;
  EXPECT_NE(output.find("Successfully finished repairing. PLEASE REPORT THIS PROBLEM!\n"), std::string::npos) << output;
}

// Items whose blocks are lost cost only themselves: the feed keeps the
// items cut off between two lost stretches (their feedIndex names it).
TEST_F(RepairTest, LostItemsCostOnlyThemselves) {
  std::vector<int32_t> kept, left;
  makeEmptyDatabase("database.soup");
  withDatabase("database.soup", [&](Db& db, newsRoot& root) {
    const int32_t feedIndex = addFeed(db, root, "f", 12);
    newsFeed* feed = loadObject_newsFeed(db, feedIndex);
    std::vector<int32_t> items;
    for (int32_t i = feed->itemList->infoHeadIndex(); i != 0; i = db.readObjectNodeHeader(i).nextIndex) items.push_back(i);
    db.unloadObject(feed);
    ASSERT_EQ(items.size(), 12u);
    SoupTransaction tx(db.infoBlockFile());
    for (size_t k = 0; k < items.size(); ++k) {
      if (k == 1 || k == 2 || k == 5 || k == 6) {
        db.infoBlockFile().deallocateIndex(items[k]);
      } else {
        kept.push_back(items[k]);
      }
    }
    tx.finish();
    db.flush();
    testing::internal::CaptureStdout();
    RepairResult r = repairDatabase(db, true, true);
    output = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(r.usable) << output;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(repairDatabase(db, true, false).changed);
    testing::internal::GetCapturedStdout();
    feed = loadObject_newsFeed(db, feedIndex);
    for (int32_t i = feed->itemList->infoHeadIndex(); i != 0 && left.size() < 13; i = db.readObjectNodeHeader(i).nextIndex) {
      left.push_back(i);
    }
    db.unloadObject(feed);
  });
  EXPECT_EQ(left, kept) << output;
}

TEST_F(RepairTest, FaultsAboveTheItemsAreMendedOrRefused) {
  using Damage = std::function<void(Db&, newsRoot&, std::vector<int32_t>&)>;
  auto orphanBody = [](Db& db) { return db.createdAndUnloadObject(new newsItemBody()); };
  struct Case {
    const char* name;
    Damage damage;
    bool repair, usable, changed;
    const char* shows;  // a line of the verbose output
  } cases[] = {
      {"no body, check only", [](Db& db, newsRoot&, std::vector<int32_t>& items) { changeItem(db, items[1], [](newsItem& i) { i.bodyIndex = 0; }); },
       false, false, false, "Invalid itemNode.bodyIndex=0 for itemNodeIndex="},
      {"unused index", [&](Db& db, newsRoot&, std::vector<int32_t>&) { orphanBody(db); }, true, true, true,
       "is allocated but not used\n1 objects were allocated by unused\n"},
      {"unused index, check only", [&](Db& db, newsRoot&, std::vector<int32_t>&) { orphanBody(db); }, false, false,
       false, "is allocated but not used\n"},
      // A node of the feed list that does not read as a feed leaves it.
      {"a body in the feed list", [&](Db& db, newsRoot& root, std::vector<int32_t>&) { root.feedList->insertAtTail(orphanBody(db)); },
       true, true, true, "gave a NIL pointer\nIndex "},
      {"a body in the feed list, check only", [&](Db& db, newsRoot& root, std::vector<int32_t>&) { root.feedList->insertAtTail(orphanBody(db)); },
       false, false, false, "gave a NIL pointer\n"},
      // The feed records tell where the feed list is.
      {"feed list", [](Db& db, newsRoot& root, std::vector<int32_t>&) { root.feedListIndex = 4000; db.saveChangesToObject(&root); },
       true, true, true, "Invalid feedListIndex=4000\n"},
      // An item list that is no list of the chain, or another's list: its
      // "nodes" are not the feed's items. The feed gets a new empty list.
      {"item list names an item", [](Db& db, newsRoot& root, std::vector<int32_t>& items) { setItemList(db, root, items[1]); },
       true, true, true, "Invalid itemListIndex="},
      {"item list names the feed list", [](Db& db, newsRoot& root, std::vector<int32_t>&) { setItemList(db, root, root.feedListIndex); },
       true, true, true, "Invalid itemListIndex="},
      {"item list names an item, check only", [](Db& db, newsRoot& root, std::vector<int32_t>& items) { setItemList(db, root, items[1]); },
       false, false, false, "Invalid itemListIndex="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RepairResult r = repairAfter(c.damage, c.repair, c.repair && c.usable);
    EXPECT_EQ(r.usable, c.usable);
    EXPECT_EQ(r.changed, c.changed);
    EXPECT_NE(output.find(c.shows), std::string::npos) << output;
  }
  // An empty database is usable without a walk.
  makeEmptyDatabase("database.soup");
  withModules([] {
    cJournaledIndexedObjectSoupDatabase db(0);
    ASSERT_TRUE(db.open("database.soup", false));
    RepairResult r = repairDatabase(db, true, true);
    EXPECT_TRUE(r.usable);
    EXPECT_FALSE(r.changed);
    db.close();
  });
}

}  // namespace
}  // namespace bw::testing_app
