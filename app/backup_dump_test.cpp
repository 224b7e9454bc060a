// app/backup_dump_test.cpp - the backup dump: its bytes, a round trip
// through an empty database, damaged dumps, and that neither a failed write
// nor a failed load loses anything.
#include "app/backup_dump.h"

#include <gtest/gtest.h>

#include "app/app_test_support.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;

class DumpTest : public ProgramTest {
 protected:
  // Writes the dump of database.soup (feeds made by seed) to name.
  bool dumpOf(const std::string& name, const std::function<void(Db&, newsRoot&)>& seed) {
    bool written = false;
    withDatabase("database.soup", [&](Db& db, newsRoot& root) {
      seed(db, root);
      for (int32_t index = root.feedList->infoHeadIndex(); index != 0;) {
        newsFeed* feed = loadObject_newsFeed(db, index);
        feed->nextLoadedFeed = root.firstLoadedFeed;  // reversed, fixed below
        root.firstLoadedFeed = feed;
        index = feed->infoNextIndex();
      }
      newsFeed* reversed = root.firstLoadedFeed;
      root.firstLoadedFeed = nullptr;
      while (reversed) {
        newsFeed* next = reversed->nextLoadedFeed;
        reversed->nextLoadedFeed = root.firstLoadedFeed;
        root.firstLoadedFeed = reversed;
        reversed = next;
      }
      written = writeDatabaseBackup(name, root, db);
      for (newsFeed* feed = root.firstLoadedFeed; feed;) {
        newsFeed* next = feed->nextLoadedFeed;
        db.unloadObject(feed);
        feed = next;
      }
      root.firstLoadedFeed = nullptr;
    });
    return written;
  }
  void fresh() {
    for (const auto& name : namesStartingWith("database.soup")) fs::remove(at(name));
    makeEmptyDatabase("database.soup");
  }
  // Loads the dump name into a fresh database.soup; the console is kept.
  void load(const std::string& name) {
    fresh();
    withDatabase("database.soup", [&](Db& db, newsRoot& root) {
      testing::internal::CaptureStdout();
      try {
        EXPECT_TRUE(restoreDatabaseBackup(name, root, db));
      } catch (...) {
        output = testing::internal::GetCapturedStdout();
        throw;
      }
      output = testing::internal::GetCapturedStdout();
    });
  }
};

TEST_F(DumpTest, RoundTripsThroughAnEmptyDatabase) {
  fresh();
  ASSERT_TRUE(dumpOf("none.backup", [](Db&, newsRoot&) {}));
  EXPECT_EQ(bytes("none.backup"), "\xff");
  fresh();
  ASSERT_TRUE(dumpOf("empty.backup", [](Db& db, newsRoot& root) { addFeed(db, root, "a", 0); }));
  const std::string empty = bytes("empty.backup");
  EXPECT_EQ(empty[0], '\0');
  EXPECT_EQ(empty.substr(empty.size() - 2), "\xff\xff");  // the NIL feed record, one NIL item record
  fresh();
  ASSERT_TRUE(dumpOf("a.backup", [](Db& db, newsRoot& root) {
    addFeed(db, root, "one", 3);
    addFeed(db, root, "two", 0);
    addFeed(db, root, "three", 5);
  }));
  // It holds the sign-in tokens: private whatever the process's umask.
  EXPECT_EQ(fs::status(at("a.backup")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  load("a.backup");
  EXPECT_EQ(output, "# Restoring newsFeed objects\n# Restoring newsItem objects\n# Writing all changes to disk\n");
  ASSERT_TRUE(dumpOf("b.backup", [](Db&, newsRoot&) {}));
  EXPECT_EQ(bytes("b.backup"), bytes("a.backup"));
  EXPECT_TRUE(namesStartingWith("b.backup_Temp_").empty());

  write("extra.backup", bytes("a.backup") + "\xff");
  load("extra.backup");
  EXPECT_NE(output.find("WARNING: Finished loading backup, but didn't reach end of backup file (at " +
                        std::to_string(bytes("a.backup").size()) + " but expected " +
                        std::to_string(bytes("a.backup").size() + 1) + ").\n"),
            std::string::npos)
      << output;
  const std::string cut = bytes("a.backup").substr(0, bytes("a.backup").size() - 1);
  write("cut.backup", cut);
  try {
    load("cut.backup");
    ADD_FAILURE() << "a cut dump loaded";
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "FILE") << e.message();
  }
}

TEST_F(DumpTest, AFailedWriteKeepsTheOldDump) {
  const std::function<void(Db&, newsRoot&)> damages[] = {
      // A feed whose item list names a body: the walk cannot load an item.
      [](Db& db, newsRoot& root) {
        newsFeed* feed = loadObject_newsFeed(db, addFeed(db, root, "a", 1));
        feed->itemList->insertAtHead(db.createdAndUnloadObject(new newsItemBody()));
        db.unloadObject(feed);
      },
      // An item list whose last item links back to the first: the walk
      // would go round for ever.
      [](Db& db, newsRoot& root) {
        newsFeed* feed = loadObject_newsFeed(db, addFeed(db, root, "a", 3));
        const int32_t head = feed->itemList->infoHeadIndex(), tail = feed->itemList->infoTailIndex();
        db.writeObjectNodeHeader(tail, head, db.readObjectNodeHeader(tail).prevIndex);
        db.unloadObject(feed);
      },
  };
  for (const auto& damage : damages) {
    fresh();
    write("database.backup", "old");
    EXPECT_THROW(dumpOf("database.backup", damage), eException);
    EXPECT_EQ(bytes("database.backup"), "old");
    EXPECT_EQ(namesStartingWith("database.backup").size(), 1u);
  }
}

TEST_F(DumpTest, ANewDatabaseLoadsTheDumpAllOrNothing) {
  fresh();
  ASSERT_TRUE(dumpOf("good.backup", [](Db& db, newsRoot& root) {
    addFeed(db, root, "one", 2);
    addFeed(db, root, "two", 1);
  }));
  fresh();
  fs::remove(at("database.soup"));
  makeEmptyDatabase("database.soup.default");
  write("database.backup", bytes("good.backup").substr(0, bytes("good.backup").size() - 3));
  EXPECT_EQ(runShell(), 20);  // the cut dump raises: root and feeds are not committed
  EXPECT_NE(output.find("EXCEPTION: \"FILE\""), std::string::npos) << output;
  fs::copy_file(at("good.backup"), at("database.backup"), fs::copy_options::overwrite_existing);
  int feeds = 0;
  EXPECT_EQ(runShell([&](Db&, newsRoot& root) {
              for (newsFeed* f = root.firstLoadedFeed; f; f = f->nextLoadedFeed) ++feeds;
            }),
            0);
  EXPECT_EQ(feeds, 2);
  EXPECT_NE(output.find("Loading backup...\n# Restoring newsFeed objects\n# Restoring newsItem objects\n"
                        "# Writing all changes to disk\nDefragmenting...\nFinished loading backup..\n"),
            std::string::npos)
      << output;
  // An existing database never loads the dump again, and says so.
  EXPECT_EQ(runShell(), 0);
  EXPECT_EQ(output.substr(0, output.find(" in \"")), "The dump \"database.backup\"") << output;
  EXPECT_NE(output.find("\" was not loaded: a dump is loaded only into a new database, made when the data folder "
                        "holds neither \"database.soup\" nor its backups.\n\nUpdated 2 feeds: 0 new items.\n"),
            std::string::npos)
      << output;
}

}  // namespace
}  // namespace bw::testing_app
