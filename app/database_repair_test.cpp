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
                           bool checkAfter = false) {
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
    });
    return result;
  }
  static void changeItem(Db& db, int32_t index, const std::function<void(newsItem&)>& change) {
    newsItem* item = loadObject_newsItem(db, index);
    change(*item);
    db.saveChangesToObject(item);
    db.unloadObject(item);
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

TEST_F(RepairTest, FaultsAboveTheItemsAreRefused) {
  using Damage = std::function<void(Db&, newsRoot&, std::vector<int32_t>&)>;
  auto orphanBody = [](Db& db) { return db.createdAndUnloadObject(new newsItemBody()); };
  struct Case {
    const char* name;
    Damage damage;
    bool repair, usable, changed;
    const char* shows;  // a line of the verbose output
  } cases[] = {
      {"no body", [](Db& db, newsRoot&, std::vector<int32_t>& items) { changeItem(db, items[1], [](newsItem& i) { i.bodyIndex = 0; }); },
       true, false, true, "Unable to complete repairs. PLEASE REPORT THIS PROBLEM!\n"},
      {"unused index", [&](Db& db, newsRoot&, std::vector<int32_t>&) { orphanBody(db); }, true, true, true,
       "is allocated but not used\n1 objects were allocated by unused\n"},
      {"unused index, check only", [&](Db& db, newsRoot&, std::vector<int32_t>&) { orphanBody(db); }, false, false,
       false, "is allocated but not used\n"},
      {"a body in the feed list", [&](Db& db, newsRoot& root, std::vector<int32_t>&) { root.feedList->insertAtTail(orphanBody(db)); },
       true, false, false, "EXCEPTION: \"BUG\"; cJournaledIndexedObjectSoup.loadObject(); record overruns its block.\n"},
      {"feed list", [](Db& db, newsRoot& root, std::vector<int32_t>&) { root.feedListIndex = 4000; db.saveChangesToObject(&root); },
       true, false, false, "Invalid feedListIndex=4000\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RepairResult r = repairAfter(c.damage, c.repair);
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
