// app/loop_damage_test.cpp - damaged links that lead a walk in a circle or
// into another list: the start-up repair ends (bounded by the objects
// there are, stopped by Ctrl-C or a kill signal with the file as it was),
// the running program's walks take them as damage, and the next start uses
// a sound database.
#include <gtest/gtest.h>

#include <csignal>

#include "app/app_test_support.h"
#include "app/child_run_test_support.h"
#include "app/database_repair.h"
#include "app/news_list.h"
#include "database/soup_block_file.h"
#include "news/feed_merge.h"
#include "news/feed_newest_item.h"
#include "platform/dos_env.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;

// Offsets of the links: a list record holds head, tail, next list, previous
// list; a node record begins with next and previous node, an item's goes on
// with its version and its feed.
constexpr int64_t kHead = 0, kTail = 4, kNext = 0, kPrev = 4, kItemFeed = 12;
// A repair of a few objects takes well under a second; a sanitized child
// several. More than this is a walk that does not end.
constexpr int kSecondsForARun = 20;

void putLink(Db& db, int32_t index, int64_t offset, int32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  SoupTransaction tx(db.infoBlockFile());
  db.infoBlockFile().writeBytes(db.infoBlockFile().infoBlockOfIndex(index, true) + offset, bytes, 4);
  tx.finish();
}

// Rewrites the feed's record with its item-list link naming list.
void nameItemList(Db& db, int32_t feedIndex, int32_t list) {
  newsFeed* feed = loadObject_newsFeed(db, feedIndex);
  feed->itemListIndex = list;
  db.saveChangesToObject(feed);
  db.unloadObject(feed);
}

// The stored objects of two feeds (disabled: no update is tried): "a"
// with five items, "b" with three.
struct Made {
  int32_t feedA = 0, feedB = 0, listA = 0, listB = 0, feedList = 0, root = 0;
  std::vector<int32_t> a, b, bodiesA;
};

struct Shape {
  const char* name;
  void (*damage)(Db&, const Made&);
};

// Shapes of link damage whose walks once went round for ever, and one the
// run's compaction met as an internal error.
const Shape kShapes[] = {
    {"a's list starts at a body, b's list at an item of a",
     [](Db& db, const Made& m) {
       putLink(db, m.listA, kHead, m.bodiesA[1]);
       putLink(db, m.listB, kHead, m.a[2]);
     }},
    {"a's list starts at a body, b's list ends at an item of a",
     [](Db& db, const Made& m) {
       putLink(db, m.listA, kHead, m.bodiesA[0]);
       putLink(db, m.listB, kTail, m.a[3]);
     }},
    {"an item of b leads into a, a's list starts at a body",
     [](Db& db, const Made& m) {
       putLink(db, m.b[1], kNext, m.a[1]);
       putLink(db, m.listA, kHead, m.bodiesA[2]);
     }},
    {"an item names itself as next", [](Db& db, const Made& m) { putLink(db, m.a[2], kNext, m.a[2]); }},
    {"an item names an earlier one as next", [](Db& db, const Made& m) { putLink(db, m.a[3], kNext, m.a[1]); }},
    {"an item names itself as both links",
     [](Db& db, const Made& m) {
       putLink(db, m.a[2], kNext, m.a[2]);
       putLink(db, m.a[2], kPrev, m.a[2]);
     }},
    {"the last feed names the first as next", [](Db& db, const Made& m) { putLink(db, m.feedB, kNext, m.feedA); }},
    {"two lists' heads name the same item",
     [](Db& db, const Made& m) {
       putLink(db, m.listB, kHead, m.a[0]);
       putLink(db, m.a[4], kNext, m.b[0]);
     }},
    {"a's list starts at the root", [](Db& db, const Made& m) { putLink(db, m.listA, kHead, m.root); }},
    {"a's list starts at the feed list", [](Db& db, const Made& m) { putLink(db, m.listA, kHead, m.feedList); }},
    {"the feed list starts at the root", [](Db& db, const Made& m) { putLink(db, m.feedList, kHead, m.root); }},
    {"the compaction walk stands at an item", [](Db& db, const Made& m) { db.setDefragListIndex(~int64_t{m.a[1]}); }},
    {"a's item-list link names b's list", [](Db& db, const Made& m) { nameItemList(db, m.feedA, m.listB); }},
    {"b's item-list link names a's list", [](Db& db, const Made& m) { nameItemList(db, m.feedB, m.listA); }},
    {"an item of a names b as its feed", [](Db& db, const Made& m) { putLink(db, m.a[2], kItemFeed, m.feedB); }},
    {"the feed list is emptied",
     [](Db& db, const Made& m) {
       putLink(db, m.feedList, kHead, 0);
       putLink(db, m.feedList, kTail, 0);
     }},
};

class LoopDamageTest : public ProgramTest {
 protected:
  Made makeFeeds() {
    for (const auto& name : namesStartingWith("database.")) fs::remove(at(name));
    makeEmptyDatabase("database.soup");
    Made m;
    withDatabase("database.soup", [&](Db& db, newsRoot& root) {
      m.root = db.infoRootValue();
      m.feedList = root.feedListIndex;
      m.feedA = addFeed(db, root, "a", 5, true);
      m.feedB = addFeed(db, root, "b", 3, true);
      for (auto [feedIndex, list, items] : {std::tuple{m.feedA, &m.listA, &m.a}, std::tuple{m.feedB, &m.listB, &m.b}}) {
        newsFeed* feed = loadObject_newsFeed(db, feedIndex);
        *list = feed->itemListIndex;
        for (int32_t i = feed->itemList->infoHeadIndex(); i != 0; i = db.readObjectNodeHeader(i).nextIndex) {
          items->push_back(i);
        }
        db.unloadObject(feed);
      }
      for (int32_t i : m.a) {
        newsItem* item = loadObject_newsItem(db, i);
        m.bodiesA.push_back(item->bodyIndex);
        db.unloadObject(item);
      }
    });
    return m;
  }
  // The shape's damage, in a database left open as a crash leaves it, or
  // closed cleanly.
  void damage(const Shape& shape, const Made& made, bool crashed = true) {
    withDatabase("database.soup", [&](Db& db, newsRoot&) {
      shape.damage(db, made);
      db.flush();
      db.setNeedsRepair(crashed);
    });
  }
  // A check-only repair finds nothing.
  void expectSound() {
    withDatabase("database.soup", [&](Db& db, newsRoot&) {
      testing::internal::CaptureStdout();
      const RepairResult check = repairDatabase(db, true, false);
      const std::string found = testing::internal::GetCapturedStdout();
      EXPECT_TRUE(check.usable) << found;
    });
  }
  ChildResult runProgram(bool* timedOut) {
    return finishChild(startChild({BRINDLEWORK_EXECUTABLE, "UpdateAll"},
                                  {{"BRINDLEWORK_PROGDIR", tree.host().string()}, {"QT_QPA_PLATFORM", "offscreen"}}),
                       kSecondsForARun, timedOut);
  }
};

// A database closed cleanly is no more trusted than one a crash left open:
// its lists are checked at the start and mended before they are used.
TEST_F(LoopDamageTest, TheStartUpRepairEndsAndTheNextStartIsSound) {
  for (const Shape& shape : kShapes) for (bool crashed : {true, false}) {
    SCOPED_TRACE(std::string(shape.name) + (crashed ? ", left open" : ", closed"));
    damage(shape, makeFeeds(), crashed);
    const int rc = runShell();
    EXPECT_EQ(rc, 0) << output;
    EXPECT_NE(output.find(crashed ? "as it was not closed properly" : "as its links were found damaged"),
              std::string::npos) << output;
    EXPECT_EQ(output.find("EXCEPTION"), std::string::npos) << output;
    EXPECT_EQ(runShell(), 0) << output;
    EXPECT_EQ(output.find("Validating database"), std::string::npos) << output;
    expectSound();
  }
}

// Damage met while running: the program's walks along a list or a
// duplicate chain that runs in a circle, or leads to what is no item, end
// the run in the words of damage (exit 10), and the next start repairs it.
TEST_F(LoopDamageTest, DamageMetWhileRunningIsToldAndRepairedAtTheNextStart) {
  using Use = void (*)(Db&, newsRoot&, const Made&);
  // The news list under "Show ALL": every item of every feed, one by one.
  const Use newsList = [](Db& db, newsRoot& root, const Made&) {
    root.showUnseen = false;
    root.showLimitTime = kDateUnset;
    fAllNewsItems rows(db, nullptr, root);
    for (newsFeed* f = root.firstLoadedFeed; f; f = f->nextLoadedFeed) rows.seed(*f);
    for (int n = 0; n < 100 && rows.call().data != 0; ++n) {
    }
  };
  // A download's item older than every stored one goes in at a's end.
  const Use newItem = [](Db& db, newsRoot& root, const Made& m) {
    newsFeed* a = root.firstLoadedFeed;
    ASSERT_EQ(a->infoSoupIndex(), m.feedA);
    auto item = std::make_unique<newsItem>();
    item->published = 500;
    item->uniqueID = Str("new");
    item->feedIndex = m.feedA;
    item->bodyIndex = db.createdAndUnloadObject(new newsItemBody);
    cMegaList_class list(false, nullptr, false);
    list.infoPastEnd()->beforeInsert(list.makeFloating(item.release()));
    updateFeedNewestItemTime(db, *a, list, false);
  };
  // The index of a's stored items that a download is merged against.
  const Use merge = [](Db& db, newsRoot& root, const Made&) { FeedMerge(db, *root.firstLoadedFeed, 5, {}); };
  const Use duplicates = [](Db& db, newsRoot& root, const Made& m) {
    HeldItem item(db, loadObject_newsItem2(db, m.a[1], root.firstLoadedFeed));
    item->infoOldestDuplicateItemIndex(db);
  };
  const auto earlier = [](Db& db, const Made& m) { putLink(db, m.a[3], kNext, m.a[1]); };
  const auto itself = [](Db& db, const Made& m) { putLink(db, m.a[2], kNext, m.a[2]); };
  const auto toTheRoot = [](Db& db, const Made& m) { putLink(db, m.a[4], kNext, m.root); };
  const auto selfChain = [](Db& db, const Made& m) {
    newsItem* item = loadObject_newsItem(db, m.a[1]);
    item->olderDuplicateItemIndex = m.a[1];
    db.saveChangesToObject(item);
    db.unloadObject(item);
  };
  struct Case {
    const char* name;
    void (*damage)(Db&, const Made&);
    Use use;
  } cases[] = {
      {"the news list, an item naming an earlier one as next", earlier, newsList},
      {"the news list, the last item naming the root as next", toTheRoot, newsList},
      {"a new item, an item naming an earlier one as next", earlier, newItem},  // went round for ever
      {"a new item, an item naming itself as next", itself, newItem},
      {"a new item, the last item naming the root as next", toTheRoot, newItem},
      {"a merge, an item naming an earlier one as next", earlier, merge},
      {"a merge, the last item naming the root as next", toTheRoot, merge},
      {"an item's duplicate chain naming itself", selfChain, duplicates},
  };
  const std::string told = "The database is damaged; it will be checked and repaired at the next start.\n\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Made made = makeFeeds();
    EXPECT_EQ(runShell([&](Db& db, newsRoot& root) {
                c.damage(db, made);
                db.flush();
                c.use(db, root, made);
              }),
              10);
    EXPECT_EQ(output, told);
    EXPECT_EQ(runShell(), 0) << output;
    EXPECT_EQ(output.rfind("\nValidating database, as it was not closed properly last time...\n", 0), 0u) << output;
    expectSound();
  }
}

// Ctrl-C or a kill signal during the start-up repair, at every point the
// repair asks whether to stop: the run ends (exit 0) with the file as it
// was, and the next start repairs it.
TEST_F(LoopDamageTest, AStoppedRepairLeavesTheFileAsItWas) {
  damage(kShapes[1], makeFeeds());
  const std::string damaged = bytes("database.soup");
  int polls = 0;
  for (int stopAt = 1;; ++stopAt) {
    SCOPED_TRACE(stopAt);
    bool stopped = false;
    withDatabase("database.soup", [&](Db& db, newsRoot& root) {
      db.unloadObject(&root);  // as the start-up repairs: no root loaded
      int calls = 0;
      db.setValidationPoll([&] {
        if (++calls == stopAt) raise("BRK", "test(); stopped");
      });
      {
        SoupTransaction tx(db.infoBlockFile());
        testing::internal::CaptureStdout();
        try {
          repairDatabase(db, true, true);
        } catch (const eException& e) {
          EXPECT_EQ(e.code(), "BRK");
          stopped = true;
        }
        testing::internal::GetCapturedStdout();
      }  // not finished: a repair run to its end goes too
      polls = calls;
      EXPECT_TRUE(db.infoMustClose());
      db.closeQuickly();
    });
    ASSERT_EQ(bytes("database.soup"), damaged);
    if (!stopped) break;
  }
  EXPECT_GT(polls, 10);  // passes, lists, feeds, items
  dos::signalBreak();
  EXPECT_EQ(runShell(), 0);
  EXPECT_EQ(output, "\nValidating database, as it was not closed properly last time...\n\nThe check of the database "
                    "was stopped; it was left as it was and is checked at the next start.\n");
  EXPECT_EQ(bytes("database.soup"), damaged);
  // The windows end as closing the main window does, before one opens.
  dos::signalBreak();
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(bytes("database.soup"), damaged);
  EXPECT_EQ(runShell(), 0);
  EXPECT_NE(output.find("Database was repaired"), std::string::npos) << output;
}

// The built program on the shape that kept every start going round: it
// ends in time (a walk that does not end fails here, not by hanging).
TEST_F(LoopDamageTest, TheProgramOnALoopingListEndsInTime) {
  damage(kShapes[1], makeFeeds());
  bool timedOut = false;
  const ChildResult first = runProgram(&timedOut);
  ASSERT_FALSE(timedOut) << "the repair went on for ever: " << first.output.substr(0, 2000);
  EXPECT_EQ(first.rc, 0) << first.output;
  EXPECT_NE(first.output.find("Database was repaired"), std::string::npos) << first.output;
}

}  // namespace
}  // namespace bw::testing_app
