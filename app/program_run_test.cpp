// app/program_run_test.cpp - whole runs of the program in this process:
// exit codes, the database's start from the default, validation after a
// crash, the restore from backups and the shell update's loop.
#include "app/program_run.h"

#include <gtest/gtest.h>

#include "app/app_test_support.h"
#include "core/exception.h"
#include "platform/dos_env.h"
#include "platform/host_io_test_support.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;

TEST_F(ProgramTest, StartUpFailuresEndWithTen) {
  EXPECT_EQ(run({"UpdateAll", "x"}), 10);  // the template refuses a second argument
  EXPECT_NE(output.find("error"), std::string::npos) << output;
  EXPECT_EQ(run({"UpdateAll"}), 10);  // neither a database nor a default
  EXPECT_EQ(output.rfind("Failed to open database, due to:\ndatabase.soup: ", 0), 0u) << output;
  EXPECT_TRUE(fs::is_empty(tree.host()));
  makeEmptyDatabase("database.soup.default");
  ::chmod(at("database.soup.default").c_str(), 0200);  // the copy fails: nothing stands as the database
  EXPECT_EQ(run({"UpdateAll"}), 10);
  EXPECT_EQ(namesStartingWith("database.soup"), std::vector<std::string>{"database.soup.default"});
}

TEST_F(ProgramTest, StartsFromTheDefaultAndShutsDown) {
  makeEmptyDatabase("database.soup.default");
  EXPECT_EQ(run({"UpdateAll"}), 0);
  EXPECT_EQ(output, "");  // no feeds: no output
  EXPECT_TRUE(exists("database.soup"));
  EXPECT_TRUE(exists("database.soup.bak_1Latest"));
  EXPECT_TRUE(namesStartingWith("database.soup_").empty());
  EXPECT_EQ(run({}, [](Db&, newsRoot&) {}), 0);  // the windowed mode's start-up and shutdown
}

TEST_F(ProgramTest, ErrorsOfTheModeSkipTheShutdownAndTheNextStartValidates) {
  makeEmptyDatabase("database.soup");
  EXPECT_EQ(runShell([](Db&, newsRoot&) { raise("ERR", "test(); told the user"); }), 10);
  EXPECT_EQ(output, "");
  EXPECT_FALSE(exists("database.soup.bak_1Latest"));
  EXPECT_EQ(runShell([](Db& db, newsRoot& root) {
              addFeed(db, root, "f", 1);
              raise("BUG", "test(); broken");
            }),
            20);
  EXPECT_EQ(output, "EXCEPTION: \"BUG\"; test(); broken.\n");
  const int64_t before = mtime("database.soup");
  EXPECT_EQ(runShell(), 0);
  EXPECT_EQ(output.rfind("\nValidating database, as it was not closed properly last time...\n\n", 0), 0u) << output;
  EXPECT_EQ(mtime("database.soup"), before);
  EXPECT_TRUE(exists("database.soup.bak_1Latest"));
}

TEST_F(ProgramTest, AFullDiskEndsTheRunWithoutRotationAndTheNextStartValidates) {
  makeEmptyDatabase("database.soup");
  auto disk = std::make_shared<testing_io::RecordingIoBackend>();
  setDefaultIoBackend(disk);
  const int rc = runShell([&](Db& db, newsRoot& root) {
    disk->log->failWriteFrom = disk->log->writes;  // every write from here on: ENOSPC
    addFeed(db, root, "f", 2);
    db.flush();
  });
  setDefaultIoBackend(nullptr);
  EXPECT_EQ(rc, 20);
  EXPECT_EQ(output.rfind("EXCEPTION: \"FULL\"; ", 0), 0u) << output;
  EXPECT_FALSE(exists("database.soup.bak_1Latest"));
  EXPECT_EQ(runShell(), 0);
  EXPECT_EQ(output.rfind("\nValidating database, as it was not closed properly last time...\n\n", 0), 0u) << output;
}

TEST_F(ProgramTest, AnUnusableDatabaseIsReplacedByTheNewestBackup) {
  struct Case {
    std::vector<std::string> backups;
    const char* restored;  // nullptr: none left
  } cases[] = {
      {{"database.soup.bak_2KnownGood", "database.soup.bak_6OneWeekOld"}, "database.soup.bak_2KnownGood"},
      {{"database.soup.bak_6OneWeekOld"}, "database.soup.bak_6OneWeekOld"},
      {{}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.backups.size());
    for (const auto& name : namesStartingWith("database.")) fs::remove(at(name));
    for (const auto& name : c.backups) makeEmptyDatabase(name);
    // A root whose feed list index names no object, left needing repair.
    makeEmptyDatabase("database.soup");
    withDatabase("database.soup", [](Db& db, newsRoot& root) {
      root.feedListIndex = 4000;
      db.saveChangesToObject(&root);
      db.setNeedsRepair(true);
    });
    EXPECT_EQ(runShell(), 10);
    EXPECT_NE(output.find("Database is corrupt & cannot be repaired.\nWill try to restore from a backup...\n"),
              std::string::npos)
        << output;
    ASSERT_EQ(namesStartingWith("database.soup_Corrupt_").size(), 1u);
    const std::string corrupt = namesStartingWith("database.soup_Corrupt_")[0];
    if (c.restored) {
      EXPECT_NE(output.find(std::string("\nRestored from backup \"") + c.restored +
                            "\".\nYou can try using it, by running Brindlework again.\n\nAlso, please report this "
                            "problem to:\nbugs@brindlework.org\nThe bad database is now called \"" + corrupt +
                            "\".\n\n\n"),
                std::string::npos)
          << output;
      EXPECT_EQ(runShell(), 0);  // validated (the restore marked it) and used
      EXPECT_EQ(output.rfind("\nValidating database", 0), 0u) << output;
    } else {
      EXPECT_NE(output.find("\nNo more backups available.\n\nPlease report this problem to:\nbugs@brindlework.org\n"
                            "The bad database is now called \"" + corrupt + "\".\n\n\n"),
                std::string::npos)
          << output;
      EXPECT_FALSE(exists("database.soup"));
    }
    fs::remove(at(corrupt));
  }
}

TEST_F(ProgramTest, ShellUpdateTakesEnabledFeedsOldestFirstAndStopsAtCtrlC) {
  makeEmptyDatabase("database.soup");
  EXPECT_EQ(runShell([](Db& db, newsRoot& root) {
              addFeed(db, root, "new", 3);     // head item 3000
              addFeed(db, root, "empty", 0);   // no items: first
              addFeed(db, root, "off", 1, true);
              addFeed(db, root, "old", 1);     // head item 1000
              addFeed(db, root, "middle", 2);  // head item 2000
            }),
            0);
  std::vector<std::string> order;
  setShellFeedUpdateForTesting([&](Db&, newsRoot&, const cEncoding&, newsFeed& feed) {
    order.emplace_back(feed.title.view());
    return true;
  });
  EXPECT_EQ(runShell(), 0);
  EXPECT_EQ(order, (std::vector<std::string>{"empty", "old", "middle", "new"}));
  EXPECT_EQ(output, "\n");
  order.clear();
  setShellFeedUpdateForTesting([&](Db&, newsRoot&, const cEncoding&, newsFeed& feed) {
    order.emplace_back(feed.title.view());
    if (order.size() == 3) dos::signalBreak();
    return true;
  });
  EXPECT_EQ(runShell(), 0);
  EXPECT_EQ(order, (std::vector<std::string>{"empty", "old", "middle"}));
  EXPECT_EQ(output, "\nUpdate cancelled by user.\n");
  EXPECT_FALSE(dos::checkBreak());
}

}  // namespace
}  // namespace bw::testing_app
