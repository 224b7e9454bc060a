// app/repair_shapes_test.cpp - the repair over shapes of damage around
// whole item records (a lost item list, a list cut on both sides, links
// naming objects of another class): every item whose record reads whole
// ends in its feed's list among its neighbours by date, and the count told
// is the number of items that went.
#include <gtest/gtest.h>

#include "app/app_test_support.h"
#include "app/database_repair.h"
#include "app/feed_rescue.h"
#include "database/soup_block_file.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;
using Items = std::map<std::string, std::vector<int32_t>>;

// Offsets in the records: a list holds head, tail, next list, previous
// list; a node begins with its next and previous node, then its version.
constexpr int64_t kHead = 0, kTail = 4, kNext = 0, kPrev = 4, kVersion = 8;

void putBytes(Db& db, int32_t index, int64_t offset, std::vector<uint8_t> bytes) {
  SoupTransaction tx(db.infoBlockFile());
  db.infoBlockFile().writeBytes(db.infoBlockFile().infoBlockOfIndex(index, true) + offset, bytes.data(),
                                static_cast<int64_t>(bytes.size()));
  tx.finish();
}
void putLink(Db& db, int32_t index, int64_t offset, int32_t value) {
  putBytes(db, index, offset,
           {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)});
}
// The object's block is zeroed after its header (its index word and its
// record), as in a zeroed page: the index still names it.
void loseBlock(Db& db, int32_t index) {
  const int64_t data = db.infoBlockFile().infoBlockOfIndex(index, true);
  putBytes(db, index, -4, std::vector<uint8_t>(static_cast<size_t>(db.infoBlockFile().infoSizeOfIndexBlock(data)) + 4));
}
// The object's index entry is lost too: nothing but links tells it was.
void loseEntry(Db& db, int32_t index) {
  SoupTransaction tx(db.infoBlockFile());
  db.infoBlockFile().deallocateIndex(index);
  tx.finish();
}

// Feeds "a" (6 items) and "b" (4 items), each list newest first.
struct Made {
  int32_t root = 0, feedList = 0;
  std::map<std::string, int32_t> feed, list;
  Items items, bodies;
};

// The feeds by title with the items of their lists, each read whole.
Items contents(Db& db) {
  Items feeds;
  newsRoot* root = loadObject_newsRoot(db, db.infoRootValue());
  for (int32_t f = root->feedList->infoHeadIndex(); f != 0 && feeds.size() < 10;) {
    newsFeed* feed = loadObject_newsFeed(db, f);
    auto& items = feeds[std::string(feed->title.view())];
    for (int32_t i = feed->itemList->infoHeadIndex(); i != 0 && items.size() < 100;) {
      items.push_back(i);
      newsItem* item = loadObject_newsItem(db, i);
      EXPECT_EQ(item->feedIndex, f);
      db.unloadObject(loadObject_newsItemBody(db, item->bodyIndex));
      i = item->infoNextIndex();
      db.unloadObject(item);
    }
    f = feed->infoNextIndex();
    db.unloadObject(feed);
  }
  db.unloadObject(root);
  return feeds;
}

struct Shape {
  const char* name;
  void (*damage)(Db&, const Made&);
  std::vector<std::pair<std::string, size_t>> gone;  // feed, position of an item whose record does not read
  // The count told, when not gone's: a lower bound ("at least"), feed b
  // being lost (its record does not read).
  int64_t atLeast = 0;
};

// The root's link to the feed list.
void linkFeedList(Db& db, const Made& m, int32_t to) {
  newsRoot* root = loadObject_newsRoot(db, m.root);
  root->feedListIndex = to;
  db.saveChangesToObject(root);
  db.unloadObject(root);
}

// Both links around an item skip it, as where a list was mended around it.
void linkAround(Db& db, const std::vector<int32_t>& items, size_t k) {
  putLink(db, items[k - 1], kNext, items[k + 1]);
  putLink(db, items[k + 1], kPrev, items[k - 1]);
}

const Shape kShapes[] = {
    {"a's item list lost", [](Db& db, const Made& m) { loseBlock(db, m.list.at("a")); }, {}},
    {"a's item list zeroed", [](Db& db, const Made& m) { putBytes(db, m.list.at("a"), 0, std::vector<uint8_t>(16)); }, {}},
    {"both item lists lost",
     [](Db& db, const Made& m) {
       loseBlock(db, m.list.at("a"));
       loseBlock(db, m.list.at("b"));
     },
     {}},
    {"a's item list lost and an item of a does not read",
     [](Db& db, const Made& m) {
       loseBlock(db, m.list.at("a"));
       putBytes(db, m.items.at("a")[2], kVersion, {0, 0, 0, 99});
     },
     {{"a", 2}}},
    {"a cut on both sides of two items",
     [](Db& db, const Made& m) {
       putLink(db, m.items.at("a")[1], kNext, m.items.at("a")[4]);
       putLink(db, m.items.at("a")[4], kPrev, m.items.at("a")[1]);
     },
     {}},
    {"a's head skips to its fourth item", [](Db& db, const Made& m) { putLink(db, m.list.at("a"), kHead, m.items.at("a")[3]); }, {}},
    {"a's tail names its second item", [](Db& db, const Made& m) { putLink(db, m.list.at("a"), kTail, m.items.at("a")[1]); }, {}},
    {"an item of a names a body as next",
     [](Db& db, const Made& m) { putLink(db, m.items.at("a")[2], kNext, m.bodies.at("a")[4]); }, {}},
    {"an item of a names feed b as next", [](Db& db, const Made& m) { putLink(db, m.items.at("a")[2], kNext, m.feed.at("b")); }, {}},
    {"an item of a names the feed list as next",
     [](Db& db, const Made& m) { putLink(db, m.items.at("a")[2], kNext, m.feedList); }, {}},
    {"a's head names an item of b", [](Db& db, const Made& m) { putLink(db, m.list.at("a"), kHead, m.items.at("b")[1]); }, {}},
    {"a's head names b's feed", [](Db& db, const Made& m) { putLink(db, m.list.at("a"), kHead, m.feed.at("b")); }, {}},
    {"an item of a lost, its neighbours cut",
     [](Db& db, const Made& m) {
       loseBlock(db, m.items.at("a")[3]);
       putLink(db, m.items.at("a")[2], kNext, 0);
       putLink(db, m.items.at("a")[4], kPrev, 0);
     },
     {{"a", 3}}},
    // The root's feed-list link naming anything but the feed list: the feed
    // records tell where it is, or make it again.
    {"the root names a's item list as the feed list", [](Db& db, const Made& m) { linkFeedList(db, m, m.list.at("a")); }, {}},
    {"the root names b's item list as the feed list", [](Db& db, const Made& m) { linkFeedList(db, m, m.list.at("b")); }, {}},
    {"the root names feed b as the feed list", [](Db& db, const Made& m) { linkFeedList(db, m, m.feed.at("b")); }, {}},
    {"the root names an item as the feed list", [](Db& db, const Made& m) { linkFeedList(db, m, m.items.at("a")[2]); }, {}},
    {"the root names a free index as the feed list", [](Db& db, const Made& m) { linkFeedList(db, m, 4000); }, {}},
    {"the feed list lost", [](Db& db, const Made& m) { loseBlock(db, m.feedList); }, {}},
    {"the feed list emptied", [](Db& db, const Made& m) { putBytes(db, m.feedList, kHead, std::vector<uint8_t>(8)); }, {}},
    {"the feed list and its index entry lost", [](Db& db, const Made& m) { loseEntry(db, m.feedList); }, {}},
    // Lost with their blocks, where no link names them: told by what they
    // leave behind (their index entries, their bodies).
    {"an item and its body lost, the list linked around them",
     [](Db& db, const Made& m) {
       loseBlock(db, m.items.at("a")[3]);
       loseBlock(db, m.bodies.at("a")[3]);
       linkAround(db, m.items.at("a"), 3);
     },
     {{"a", 3}}},
    {"three items of a in a row lost",
     [](Db& db, const Made& m) {
       for (size_t k : {1, 2, 3}) loseBlock(db, m.items.at("a")[k]);
     },
     {{"a", 1}, {"a", 2}, {"a", 3}}},
    {"three items and two bodies lost, b's list lost",
     [](Db& db, const Made& m) {
       for (size_t k : {1, 2, 3}) loseBlock(db, m.items.at("a")[k]);
       for (size_t k : {1, 3}) loseBlock(db, m.bodies.at("a")[k]);
       loseBlock(db, m.list.at("b"));
     },
     {{"a", 1}, {"a", 2}, {"a", 3}}},
    // With a feed lost, items lost where no link names them may have been
    // its: the count of a's is a lower bound.
    {"feed b lost, an item of a lost and another lost unnamed",
     [](Db& db, const Made& m) {
       putBytes(db, m.feed.at("b"), kVersion, {0, 0, 0, 99});
       loseBlock(db, m.items.at("a")[1]);
       loseBlock(db, m.items.at("a")[4]);
       loseBlock(db, m.bodies.at("a")[4]);
       linkAround(db, m.items.at("a"), 4);
     },
     {{"a", 1}, {"a", 4}, {"b", 0}, {"b", 1}, {"b", 2}, {"b", 3}},
     1},
};

class RepairShapesTest : public ProgramTest {
 protected:
  Made makeFeeds() {
    for (const auto& name : namesStartingWith("database.")) fs::remove(at(name));
    makeEmptyDatabase("database.soup");
    Made m;
    withDatabase("database.soup", [&](Db& db, newsRoot& root) {
      m.root = db.infoRootValue();
      m.feedList = root.feedListIndex;
      for (auto [title, count] : {std::pair{"a", 6}, std::pair{"b", 4}}) {
        const int32_t index = addFeed(db, root, title, count, true);
        newsFeed* feed = loadObject_newsFeed(db, index);
        m.feed[title] = index;
        m.list[title] = feed->itemListIndex;
        for (int32_t i = feed->itemList->infoHeadIndex(); i != 0; i = db.readObjectNodeHeader(i).nextIndex) {
          newsItem* item = loadObject_newsItem(db, i);
          m.items[title].push_back(i);
          m.bodies[title].push_back(item->bodyIndex);
          db.unloadObject(item);
        }
        db.unloadObject(feed);
      }
    });
    return m;
  }
};

TEST_F(RepairShapesTest, EveryWholeItemEndsInItsFeedsListByDateAndTheCountIsWhatWent) {
  for (const Shape& shape : kShapes) {
    SCOPED_TRACE(shape.name);
    const Made made = makeFeeds();
    withDatabase("database.soup", [&](Db& db, newsRoot&) { shape.damage(db, made); });
    // As at a start: nothing is loaded when the repair begins.
    withModules([&] {
      Db db(0);
      ASSERT_TRUE(db.open("database.soup", false));
      testing::internal::CaptureStdout();
      const RepairResult r = repairDatabase(db, true, true);
      const std::string found = testing::internal::GetCapturedStdout();
      ASSERT_TRUE(r.usable) << found;
      EXPECT_EQ(r.lostFeeds.size(), shape.atLeast ? 1u : 0u) << found;
      EXPECT_EQ(r.itemsRemoved, shape.atLeast ? shape.atLeast : static_cast<int64_t>(shape.gone.size())) << found;
      EXPECT_EQ(r.itemsRemovedAtLeast, shape.atLeast != 0);
      Items want = made.items;
      for (auto it = shape.gone.rbegin(); it != shape.gone.rend(); ++it) {
        want[it->first].erase(want[it->first].begin() + static_cast<ptrdiff_t>(it->second));
      }
      if (shape.atLeast) {
        want.erase("b");
        for (const LostFeed& f : r.lostFeeds) dropUnrescuedItems(db, f.items);
      }
      EXPECT_EQ(contents(db), want) << found;
      testing::internal::CaptureStdout();
      const RepairResult check = repairDatabase(db, true, false);
      const std::string checked = testing::internal::GetCapturedStdout();
      EXPECT_TRUE(check.usable && !check.changed) << checked;
      db.closeQuickly();
    });
  }
  FormatArguments arguments;
  RepairResult atLeast;
  atLeast.usable = atLeast.changed = atLeast.itemsRemovedAtLeast = true;
  atLeast.itemsRemoved = 3;
  EXPECT_EQ(repairSummary(atLeast, {}, "me", arguments).substr(0, 84),
            "Database was repaired: at least %ld items could not be read and were removed.\nPlease");
}

}  // namespace
}  // namespace bw::testing_app

namespace bw::testing_app {
namespace {

// Through the start-up: a root link repaired from the feed records tells
// no loss; with the feed records gone too, the newest backup comes back and
// the damaged file is kept.
TEST_F(RepairShapesTest, ARootLinkIsRepairedFromTheFeedsElseTheNewestBackupComesBack) {
  for (bool feedsLost : {false, true}) {
    SCOPED_TRACE(feedsLost);
    const Made made = makeFeeds();
    fs::copy_file(at("database.soup"), at("database.soup.bak_2KnownGood"));
    withDatabase("database.soup", [&](Db& db, newsRoot&) {
      if (feedsLost) {
        for (const char* title : {"a", "b"}) putBytes(db, made.feed.at(title), kVersion, {0, 0, 0, 99});
      }
      linkFeedList(db, made, made.list.at("a"));
      db.setNeedsRepair(true);
    });
    EXPECT_EQ(runShell(), feedsLost ? 10 : 0) << output;
    if (feedsLost) {
      EXPECT_NE(output.find("Restored from backup \"database.soup.bak_2KnownGood\""), std::string::npos) << output;
      EXPECT_EQ(namesStartingWith("database.soup_Corrupt_").size(), 1u);
      EXPECT_EQ(runShell(), 0) << output;
    } else {
      EXPECT_NE(output.find("Database was repaired.\nPlease report"), std::string::npos) << output;
    }
    withDatabase("database.soup", [&](Db& db, newsRoot&) { EXPECT_EQ(contents(db), made.items); });
  }
}

}  // namespace
}  // namespace bw::testing_app
