// app/program_run_test.cpp - whole runs of the program in this process:
// exit codes, the database's start from the default, validation after a
// crash, the restore from backups and the shell update's loop.
#include "app/program_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

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
  // A data folder that is a file.
  write("plain", "x");
  ::setenv("BRINDLEWORK_PROGDIR", at("plain").c_str(), 1);
  dos::resetAssigns();
  EXPECT_EQ(run({"UpdateAll"}), 10);
  EXPECT_EQ(output, "Failed to make the data folder \"" + at("plain").string() + "\", due to:\nnot a folder\n\n");
  ::setenv("BRINDLEWORK_PROGDIR", tree.host().c_str(), 1);
  dos::resetAssigns();
  // The data folder's own default comes before the program's: one that
  // cannot be read fails the copy, and nothing stands as the database.
  makeEmptyDatabase("database.soup.default");
  ::chmod(at("database.soup.default").c_str(), 0200);
  EXPECT_EQ(run({"UpdateAll"}), 10);
  EXPECT_EQ(output.rfind("Failed to open database, due to:\nThe default database \"database.soup.default\" could not "
                         "be copied into \"" + tree.host().string() + "\": ", 0),
            0u)
      << output;
  EXPECT_EQ(namesStartingWith("database.soup"), std::vector<std::string>{"database.soup.default"});
}

TEST_F(ProgramTest, StartsFromTheDefaultAndShutsDown) {
  makeEmptyDatabase("database.soup.default");
  EXPECT_EQ(run({"UpdateAll"}), 0);
  EXPECT_EQ(output, "No feeds to update.\n");
  EXPECT_TRUE(exists("database.soup"));
  EXPECT_TRUE(exists("database.soup.bak_1Latest"));
  EXPECT_TRUE(namesStartingWith("database.soup_").empty());
  EXPECT_EQ(run({}, [](Db&, newsRoot&) {}), 0);  // the windowed mode's start-up and shutdown
}

TEST_F(ProgramTest, ErrorsOfTheModeSkipTheShutdownAndTheNextStartValidates) {
  makeEmptyDatabase("database.soup");
  EXPECT_EQ(runShell([](Db&, newsRoot&) { raise("ERR", "test(); told the user"); }), 10);
  EXPECT_EQ(output, "");
  EXPECT_EQ(runShell([](Db&, newsRoot&) { exitProgram(5); }), 5);  // its own return value, printed nothing
  EXPECT_EQ(output.find("EXCEPTION"), std::string::npos) << output;
  EXPECT_EQ(runShell([](Db&, newsRoot&) { exitProgram(0); }), 0);  // the shutdown skipped all the same
  EXPECT_FALSE(exists("database.soup.bak_1Latest"));
  EXPECT_EQ(runShell([](Db& db, newsRoot& root) {
              addFeed(db, root, "f", 1);
              raise("BUG", "test(); broken");
            }),
            20);
  // Each run before it ended by an exception too, so this one validated first.
  EXPECT_EQ(output, "\nValidating database, as it was not closed properly last time...\n\nEXCEPTION: \"BUG\"; test(); broken.\n");
  EXPECT_FALSE(exists("database.soup.bak_1Latest"));  // no rotation after any of them
  EXPECT_EQ(runShell(), 0);
  EXPECT_EQ(output.rfind("\nValidating database, as it was not closed properly last time...\n\n", 0), 0u) << output;
  EXPECT_TRUE(exists("database.soup.bak_1Latest"));
}

// A database at its size limit stops the update in words and ends with 5;
// what was stored before stays, and the next start validates.
TEST_F(ProgramTest, ADatabaseAtItsSizeLimitStopsTheUpdateInWords) {
  makeEmptyDatabase("database.soup");
  EXPECT_EQ(runShell([](Db& db, newsRoot& root) {
              addFeed(db, root, "kept", 3);
              db.flush();
              raise("FULL", "cJournaledBlockFile.allocate(); file size limit reached");
            }),
            5);
  EXPECT_EQ(output, "The database is full: it has reached its size limit of 4 GB, and the update was stopped.\nWhat "
                    "was stored before is kept; deleting feeds or items makes room.\n\n");
  EXPECT_EQ(runShell(), 0);
  EXPECT_EQ(output.rfind("\nValidating database, as it was not closed properly last time...\n\n", 0), 0u) << output;
  EXPECT_NE(output.find("Updated 1 feed: 0 new items.\n"), std::string::npos) << output;
}

// A record that raises while the feeds are loaded or updated ends the run
// with its exception; the next start validates instead of meeting it again.
TEST_F(ProgramTest, ARunEndedByAnExceptionLeavesTheDatabaseToBeValidated) {
  for (const char* code : {"BUG", "EMU", "ERR"}) {
    SCOPED_TRACE(code);
    makeEmptyDatabase("database.soup");
    EXPECT_NE(runShell([&](Db&, newsRoot&) { raise(code, "cJournaledIndexedObjectSoup.loadObject(); damaged"); }), 0);
    EXPECT_EQ(runShell(), 0);
    EXPECT_EQ(output.rfind("\nValidating database, as it was not closed properly last time...\n\n", 0), 0u) << output;
    EXPECT_EQ(runShell(), 0);
    EXPECT_EQ(output, "No feeds to update.\n");
  }
}

// A feed list whose last feed links back to the first: the start ends with
// a told fault instead of going round, and the next start mends the list.
TEST_F(ProgramTest, AFeedListThatComesBackToAFeedIsMendedAtTheStart) {
  makeEmptyDatabase("database.soup");
  int32_t first = 0, last = 0;
  EXPECT_EQ(runShell([&](Db& db, newsRoot& root) {
              first = addFeed(db, root, "a", 1);
              addFeed(db, root, "b", 1);
              last = addFeed(db, root, "c", 1);
            }),
            0);
  withDatabase("database.soup", [&](Db& db, newsRoot&) {
    db.writeObjectNodeHeader(last, first, db.readObjectNodeHeader(last).prevIndex);
  });
  EXPECT_EQ(runShell(), 0);
  EXPECT_EQ(output.rfind("\nValidating database, as its links were found damaged...\n"
                         "Database was repaired.\n", 0), 0u) << output;
  EXPECT_EQ(runShell(), 0);
  EXPECT_EQ(output, "Updated 3 feeds: 0 new items.\n");  // the update's end, nothing before it
}

// The mode leaves exactly the figure asked for: small bodies freed one by
// one from the front (each frees less than a tenth of a percent) with one
// kept at the end, so that the file does not shrink.
TEST_F(ProgramTest, ShutdownDefragmentsOnlyAboveAFigureOfOneHundred) {
  for (const int32_t figure : {100, 101}) {
    SCOPED_TRACE(figure);
    makeEmptyDatabase("database.soup");
    EXPECT_EQ(runShell([&](Db& db, newsRoot&) {
                db.setAutoCompact(false);
                std::vector<int32_t> bodies;
                for (int i = 0; i < 600; ++i) {
                  auto body = std::make_unique<newsItemBody>();
                  body->content = Str(std::string(static_cast<size_t>(i % 7), 'x'));
                  bodies.push_back(db.createdAndUnloadObject(body.release()));
                }
                ASSERT_LT(db.infoFragmentation(), figure);
                for (size_t i = 0; i + 1 < bodies.size() && db.infoFragmentation() < figure; ++i)
                  db.destroyObject(bodies[i]);
                db.flush();
                ASSERT_EQ(db.infoFragmentation(), figure);
              }),
              0);
    withDatabase("database.soup", [&](Db& db, newsRoot&) {
      if (figure == 100) {
        EXPECT_EQ(db.infoFragmentation(), 100);
      } else {
        EXPECT_LT(db.infoFragmentation(), 10);
      }
    });
    for (const std::string& name : namesStartingWith("database.soup")) fs::remove(at(name));
  }
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
  EXPECT_EQ(rc, 10);
  EXPECT_EQ(output.rfind("The disk is full: the database could not be written (needed ", 0), 0u) << output;
  EXPECT_NE(output.find(" bytes in " + tree.host().string() + ").\nWhat was saved before is kept; the database will be "
                        "checked at the next start.\n"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("(needed " + std::to_string(diskFullShortfall()) + " bytes"), std::string::npos) << output;
  EXPECT_GT(diskFullShortfall(), 0);
  EXPECT_FALSE(exists("database.soup.bak_1Latest"));
  EXPECT_EQ(runShell(), 0);
  EXPECT_EQ(output.rfind("\nValidating database, as it was not closed properly last time...\n\n", 0), 0u) << output;
}

// A fault a read of the database meets while running is told in words and
// the next start validates; any other exception is printed as before.
TEST_F(ProgramTest, DamageMetWhileRunningIsToldAndTheNextStartValidates) {
  const std::string told = "The database is damaged; it will be checked and repaired at the next start.\n\n";
  struct Case {
    const char* code;
    const char* message;
    int rc;
    bool damage;
  } cases[] = {
      {"BUG", "cJournaledBlockFile.readBlockHeader(); size < minimumBlockSize", 10, true},
      {"EMU", "cJournaledIndexedBlockFile.open(); file version not supported", 10, true},
      {"BUG", "cIndexedObjectList.remove(); next node does not point to (previous) object", 10, true},
      {"BUG", "cHostFile.read(); size of read data does not match that expected", 10, true},
      {"VER", "cJournaledIndexedObjectSoup.loadObject(); unknown version", 10, true},
      {"BUG", "test(); broken", 20, false},
      {"FILE", "cJournaledFile.flush(); damaged", 20, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    makeEmptyDatabase("database.soup");
    EXPECT_EQ(runShell([&](Db&, newsRoot&) { raise(c.code, c.message); }), c.rc);
    if (c.damage) {
      EXPECT_EQ(output, told);
    } else {
      EXPECT_EQ(output.rfind("EXCEPTION: ", 0), 0u) << output;
    }
    EXPECT_EQ(runShell(), 0);
    EXPECT_EQ(output.rfind("\nValidating database, as it was not closed properly last time...\n\n", 0), 0u) << output;
  }
}

// The database was written and closed; only its copy met a full disk: the
// run says so and ends with 5, the database as it was written, the backups
// as they were (a refused or stopped copy: backup_restore_test.cpp).
TEST_F(ProgramTest, AFailedBackupCopyAloneIsToldAndEndsWithFive) {
  // The last write of a run is the copy's.
  makeEmptyDatabase("database.soup");
  const std::string image = bytes("database.soup");
  auto disk = std::make_shared<testing_io::RecordingIoBackend>();
  setDefaultIoBackend(disk);
  EXPECT_EQ(runShell(), 0);
  const int64_t writes = disk->log->writes;
  fs::remove(at("database.soup.bak_1Latest"));
  write("database.soup", image);
  disk->log->writes = 0;
  disk->log->failWriteFrom = writes - 1;
  const int rc = runShell();
  setDefaultIoBackend(nullptr);
  EXPECT_EQ(rc, 5);
  EXPECT_EQ(output, "No feeds to update.\nThe disk is full: the backup copy of the database could not be made (needed " +
                        std::to_string(fs::file_size(at("database.soup"))) + " bytes in " + tree.host().string() +
                        ").\nThe database itself was saved and is unchanged.\n\n");
  EXPECT_TRUE(namesStartingWith("database.soup.bak_").empty());
  EXPECT_EQ(runShell(), 0);
  EXPECT_EQ(output, "No feeds to update.\n");
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
    makeUnusableDatabase();
    EXPECT_EQ(runShell(), 10);
    EXPECT_NE(output.find("Database is corrupt & cannot be repaired.\nWill try to restore from a backup...\n"),
              std::string::npos)
        << output;
    ASSERT_EQ(namesStartingWith("database.soup_Corrupt_").size(), 1u);
    const std::string corrupt = namesStartingWith("database.soup_Corrupt_")[0];
    if (c.restored) {
      EXPECT_NE(output.find(std::string("\nRestored from backup \"") + c.restored + "\" (0 feeds, 0 items, saved "),
                std::string::npos)
          << output;
      EXPECT_NE(output.find("\nYou can try using it, by running Brindlework again.\n\nAlso, please report this "
                            "problem to:\nbugs@brindlework.org\nThe bad database is now called \"" + corrupt +
                            "\".\n\n\n"),
                std::string::npos)
          << output;
      EXPECT_TRUE(exists(c.restored));  // a checked copy took its place: the backup stays
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

// A database that does not open on its content is told in one report with
// what its restore did: the reason, then the backup that took its place.
TEST_F(ProgramTest, ADatabaseThatDoesNotOpenIsToldInOneReportWithItsRestore) {
  makeEmptyDatabase("database.soup.bak_2KnownGood");
  write("database.soup", "This is not a database.\n");
  EXPECT_EQ(runShell(), 10);
  ASSERT_EQ(namesStartingWith("database.soup_Corrupt_").size(), 1u);
  const std::string corrupt = namesStartingWith("database.soup_Corrupt_")[0];
  const std::string head = "\nDatabase is corrupt & cannot be opened, due to:\n";
  const std::string restored = "\nRestored from backup \"database.soup.bak_2KnownGood\" (0 feeds, 0 items, saved ";
  const std::string tail = "\nYou can try using it, by running Brindlework again.\n\nAlso, please report this problem to:\n"
                           "bugs@brindlework.org\nThe bad database is now called \"" + corrupt + "\".\n\n\n";
  ASSERT_EQ(output.rfind(head, 0), 0u) << output;
  const size_t at = output.find(restored);
  ASSERT_NE(at, std::string::npos) << output;
  const std::string reason = output.substr(head.size(), at - head.size());
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(reason.find('\n'), std::string::npos) << output;  // the reason on one line, then the restore
  ASSERT_GE(output.size(), tail.size());
  EXPECT_EQ(output.substr(output.size() - tail.size()), tail) << output;
  EXPECT_EQ(output.find("\n\n\n"), output.size() - 3) << output;  // no blank lines inside
  EXPECT_EQ(runShell(), 0);
}

TEST_F(ProgramTest, ABadDatabaseThatCannotBeMovedAsideStaysAndNoBackupReplacesIt) {
  makeEmptyDatabase("database.soup.bak_2KnownGood");
  const std::string backup = bytes("database.soup.bak_2KnownGood");
  makeUnusableDatabase();
  {
    FrozenFolder frozen(tree.host());
    if (!frozen.frozen()) GTEST_SKIP() << "the program folder cannot be made unrenameable here";
    EXPECT_EQ(runShell(), 10);
  }
  EXPECT_NE(output.find("\nFailed to move the bad database aside, due to:\n"), std::string::npos) << output;
  EXPECT_NE(output.find("\n\nPlease report this problem to:\nbugs@brindlework.org\n"), std::string::npos) << output;
  EXPECT_EQ(output.find("Restored from backup"), std::string::npos) << output;
  EXPECT_TRUE(namesStartingWith("database.soup_Corrupt_").empty());
  EXPECT_EQ(bytes("database.soup.bak_2KnownGood"), backup);
  // Nothing was lost: the next start, free to rename, restores as usual.
  EXPECT_EQ(runShell(), 10);
  EXPECT_NE(output.find("Restored from backup \"database.soup.bak_2KnownGood\""), std::string::npos) << output;
  EXPECT_EQ(namesStartingWith("database.soup_Corrupt_").size(), 1u);
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
    return AddUpdateResult{};
  });
  EXPECT_EQ(runShell(), 0);
  EXPECT_EQ(order, (std::vector<std::string>{"empty", "old", "middle", "new"}));
  EXPECT_EQ(output, "Updated 4 feeds: 0 new items.\n");
  order.clear();
  setShellFeedUpdateForTesting([&](Db&, newsRoot&, const cEncoding&, newsFeed& feed) {
    order.emplace_back(feed.title.view());
    if (order.size() == 3) dos::signalBreak();
    return AddUpdateResult{};
  });
  EXPECT_EQ(runShell(), 0);
  EXPECT_EQ(order, (std::vector<std::string>{"empty", "old", "middle"}));
  EXPECT_EQ(output, "Update cancelled by user.\nUpdated 3 feeds: 0 new items.\n");
  EXPECT_FALSE(dos::checkBreak());
}

}  // namespace
}  // namespace bw::testing_app
