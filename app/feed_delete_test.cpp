// app/feed_delete_test.cpp - deleting feeds: the question and its answers,
// what a deletion leaves in the database, the chain and the list, and the
// defragmentation threshold.
#include "app/feed_delete.h"

#include <gtest/gtest.h>

#include "app/database_repair.h"
#include "app/feed_commands_test_support.h"
#include "database/soup_check_test_support.h"

namespace bw::testing_app {
namespace {

class FeedDelete : public FeedCommandTest {
 protected:
  // Feeds A (2 items), B (3), C (0), D (1).
  void seed() {
    withDatabase("database.soup", [&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
      for (auto [name, items] : {std::pair{"A", 2}, {"B", 3}, {"C", 0}, {"D", 1}}) addFeed(db, root, name, items);
    });
  }
  DeleteFeedsResult run(MainLists& lists, cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    return deleteFeeds(lists.feeds, {selected, shown, body}, db, root, *charset);
  }
  // The feeds named selected, the cursor left on the row named cursorAt.
  static void select(MainLists& lists, const std::vector<std::string>& names, const std::string& cursorAt) {
    lists.select(names);
    std::vector<std::string> rows = lists.feedNames();
    lists.feeds.cursor_gotoStart();
    lists.feeds.cursor_gotoNext(static_cast<int32_t>(std::find(rows.begin(), rows.end(), cursorAt) - rows.begin()));
  }
  void expectSound() {
    std::string image = bytes("database.soup");
    testing::expectSoupSound(std::vector<uint8_t>(image.begin(), image.end()), soupcheck::Expect::kClosed);
  }

  testing_news::ScriptedNewsUi ui;
  newsItem* selected = nullptr;
  newsItem* shown = nullptr;
  newsItemBody* body = nullptr;
};

TEST_F(FeedDelete, QuestionsAndAnswers) {
  seed();
  struct Case {
    std::vector<std::string> rows;
    const char* cursor;
    int32_t answer;
    const char* question;
    bool deleted, cancelled;
    std::vector<std::string> left;
  } cases[] = {
      // The cursor stands on another row: the question names the selected one.
      {{"B"}, "D", 2, "Do you really want to delete this feed:\n\x1b" "1B", false, false, {"A", "B", "C", "D"}},
      {{"A", "C", "D"}, "A", 0, "Do you really want to delete 3 feeds?", false, true, {"A", "B", "C", "D"}},
      {{"B"}, "A", 1, "Do you really want to delete this feed:\n\x1b" "1B", true, false, {"A", "C", "D"}},
      {{"A", "D"}, "C", 1, "Do you really want to delete 2 feeds?", true, false, {"C"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.question);
    withFeeds([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
      GuiSession gui;
      MainLists lists(db, root, *charset);
      select(lists, c.rows, c.cursor);
      ui.calls.clear();
      ui.answers = {c.answer};
      DeleteFeedsResult r = run(lists, db, root);
      ASSERT_EQ(ui.calls.size(), 1u);
      EXPECT_EQ(ui.calls[0].title, "Delete feeds");
      EXPECT_EQ(ui.calls[0].buttons, "Yes|No|Cancel");
      EXPECT_EQ(ui.calls[0].filled(), c.question);
      EXPECT_EQ(r.deleted, c.deleted);
      EXPECT_EQ(r.cancelled, c.cancelled);
      EXPECT_FALSE(r.quit);
      EXPECT_EQ(lists.feedNames(), c.left);
      EXPECT_EQ(names(root, *charset), c.left);
    });
    // What is left is what the next run loads, and the database is sound.
    withFeeds([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
      EXPECT_EQ(names(root, *charset), c.left);
      unloadChain(db, root);
      RepairResult check = repairDatabase(db, false, false);
      EXPECT_TRUE(check.usable);
      EXPECT_FALSE(check.changed);
    });
    expectSound();
  }
}

TEST_F(FeedDelete, ShownItemsOfADeletedFeedAreHandedBackFirst) {
  seed();
  withFeeds([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    newsFeed* b = chain(root)[1];
    int32_t second = db.readObjectNodeHeader(b->itemList->infoHeadIndex()).nextIndex;
    shown = loadObject_newsItem2(db, second, b);
    body = loadObject_newsItemBody(db, shown->bodyIndex);
    selected = loadObject_newsItem2(db, second, b);
    newsItem* keptShown = loadObject_newsItem2(db, chain(root)[0]->itemList->infoHeadIndex(), chain(root)[0]);
    GuiSession gui;
    MainLists lists(db, root, *charset);
    select(lists, {"B"}, "B");
    ui.answers = {1};
    EXPECT_TRUE(run(lists, db, root).deleted);
    EXPECT_EQ(shown, nullptr);
    EXPECT_EQ(body, nullptr);
    EXPECT_EQ(selected, nullptr);
    // An item of another feed stays as it was.
    selected = keptShown;
    select(lists, {"A"}, "A");
    ui.answers = {2};
    EXPECT_FALSE(run(lists, db, root).deleted);
    EXPECT_EQ(selected, keptShown);
    db.unloadObject(keptShown);
  });
  expectSound();
}

// Items no one holds are deleted from a glance at their records, held ones
// after a load: the file must come out byte for byte as when every item is
// loaded first, compaction moving blocks all along.
TEST_F(FeedDelete, GlancedItemsLeaveTheBytesOfLoadedOnes) {
  withDatabase("database.soup", [&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    for (auto [name, items] : {std::pair{"A", 30}, {"B", 160}, {"C", 45}, {"D", 5}}) addFeed(db, root, name, items);
  });
  const std::string seeded = bytes("database.soup");
  withFeeds([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    newsFeed* c = chain(root)[2];
    shown = loadObject_newsItem2(db, db.readObjectNodeHeader(c->itemList->infoHeadIndex()).nextIndex, c);
    body = loadObject_newsItemBody(db, shown->bodyIndex);
    selected = loadObject_newsItem2(db, chain(root)[0]->itemList->infoTailIndex(), chain(root)[0]);
    GuiSession gui;
    MainLists lists(db, root, *charset);
    select(lists, {"A", "C"}, "A");
    ui.answers = {1};
    EXPECT_TRUE(run(lists, db, root).deleted);
    EXPECT_LE(db.infoFragmentation(), kDeleteDefragmentAbove);  // one commit, as below
  });
  const std::string glanced = bytes("database.soup");
  write("database.soup", seeded);
  withFeeds([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    // Every item loaded, unlinked, its body destroyed, then unloaded and
    // destroyed, feed by feed in the same one transaction as the rest.
    GuiSession gui;
    MainLists lists(db, root, *charset);
    int32_t transaction = db.beginTransaction();
    for (const char* name : {"A", "C"}) {
      newsFeed* feed = chain(root)[name[0] == 'A' ? 0 : 1];
      for (int32_t index; (index = feed->itemList->infoHeadIndex()) != 0;) {
        newsItem* item = loadObject_newsItem2(db, index, feed);
        feed->itemList->remove(index);
        if (item->bodyIndex != 0) db.destroyObject(item->bodyIndex);
        db.unloadAndDestroyObject(item);
      }
      select(lists, {name}, name);
      ui.answers = {1};
      EXPECT_TRUE(run(lists, db, root).deleted);
    }
    db.finishTransaction(transaction);
  });
  EXPECT_NE(glanced, seeded);
  EXPECT_TRUE(glanced == bytes("database.soup"));
  expectSound();
}

TEST_F(FeedDelete, TheOnlyFeedAndAFeedWithOneItem) {
  for (int items : {0, 1}) {
    SCOPED_TRACE(items);
    fs::remove(at("database.soup"));
    withDatabase("database.soup",
                 [&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) { addFeed(db, root, "Only", items); });
    withFeeds([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
      GuiSession gui;
      MainLists lists(db, root, *charset);
      select(lists, {"Only"}, "Only");
      ui.answers = {1};
      EXPECT_TRUE(run(lists, db, root).deleted);
      EXPECT_EQ(lists.feeds.infoSize(), 0);
      EXPECT_EQ(root.firstLoadedFeed, nullptr);
      EXPECT_EQ(root.feedList->infoHeadIndex(), 0);
      EXPECT_EQ(root.feedList->infoTailIndex(), 0);
    });
    expectSound();
  }
}

TEST_F(FeedDelete, DefragmentsOnlyAboveThirtyPercent) {
  withDatabase("database.soup", [&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    addFeed(db, root, "Big", 120);
    addFeed(db, root, "Small", 1);
  });
  withFeeds([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    GuiSession gui;
    MainLists lists(db, root, *charset);
    select(lists, {"Big"}, "Big");
    ui.answers = {1};
    // The deletion leaves most of the file unused and so defragments it.
    EXPECT_TRUE(run(lists, db, root).deleted);
    EXPECT_LE(db.infoFragmentation(), kDeleteDefragmentAbove);
    EXPECT_FALSE(defragmentAfterDeleting(db, 300));
    EXPECT_TRUE(defragmentAfterDeleting(db, 301));
    EXPECT_EQ(windowTitled("Brindlework"), nullptr);  // the status window is gone
  });
  expectSound();
}

}  // namespace
}  // namespace bw::testing_app
