// app/record_damage_test.cpp - records whose bytes are damaged: the repair
// walk drops what does not read and goes on, a run that meets one ends as
// for any damage and the next start repairs it, and a feed whose record is
// lost comes back from the newest backup that holds it.
#include <gtest/gtest.h>

#include "app/app_test_support.h"
#include "app/database_repair.h"
#include "app/feed_rescue.h"
#include "core/sweep_test_support.h"
#include "database/soup_block_file.h"
#include "platform/host_io_test_support.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;
using Bytes = std::vector<uint8_t>;

// Record offsets: a node's version follows its two links; an item's first
// string (its title) follows its version and feed index; a body's first
// string follows its version.
constexpr int64_t kNodeVersion = 8, kItemTitle = 16, kBodyVersion = 0, kBodyFirstString = 4;
const Bytes kVersion99 = {0, 0, 0, 99}, kUnknownString = {7}, kCapacityMinusOne = {1, 0xC1, 0x80};

void spoil(Db& db, int32_t index, int64_t offset, const Bytes& bytes) {
  SoupTransaction tx(db.infoBlockFile());
  db.infoBlockFile().writeBytes(db.infoBlockFile().infoBlockOfIndex(index, true) + offset, bytes.data(),
                                static_cast<int64_t>(bytes.size()));
  tx.finish();
}

int32_t bodyOf(Db& db, int32_t item) {
  newsItem* i = loadObject_newsItem(db, item);
  const int32_t body = i->bodyIndex;
  db.unloadObject(i);
  return body;
}

// The feeds by title with their items, each item and body read whole.
std::map<std::string, std::vector<int32_t>> contents(Db& db) {
  std::map<std::string, std::vector<int32_t>> feeds;
  newsRoot* root = loadObject_newsRoot(db, db.infoRootValue());
  for (int32_t f = root->feedList->infoHeadIndex(); f != 0;) {
    newsFeed* feed = loadObject_newsFeed(db, f);
    auto& items = feeds[std::string(feed->title.view())];
    for (int32_t i = feed->itemList->infoHeadIndex(); i != 0 && items.size() < 100;) {
      items.push_back(i);
      newsItem* item = loadObject_newsItem(db, i);
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

class RecordDamageTest : public ProgramTest {
 protected:
  // Feeds "a" (4 items) and "b" (3 items), b at a's address when shared
  // (a redirect led it there); answers each feed's items.
  std::map<std::string, std::vector<int32_t>> makeFeeds(bool shared = false) {
    makeEmptyDatabase("database.soup");
    std::map<std::string, std::vector<int32_t>> made;
    withDatabase("database.soup", [&](Db& db, newsRoot& root) {
      addFeed(db, root, "a", 4, false, "http://127.0.0.1/a");
      const int32_t b = addFeed(db, root, "b", 3, false, shared ? "http://127.0.0.1/a" : "http://127.0.0.1/b");
      newsFeed* feed = loadObject_newsFeed(db, b);
      feed->tags = Str(",x,");
      db.saveChangesToObject(feed);
      db.unloadObject(feed);
      made = contents(db);
      made["b index"] = {b};
    });
    return made;
  }
};

TEST_F(RecordDamageTest, UnreadableRecordsGoAndTheWalkGoesOn) {
  using Items = std::map<std::string, std::vector<int32_t>>;
  struct Case {
    const char* name;
    std::function<void(Db&, Items&)> damage;
    bool repair;
    std::vector<std::pair<std::string, size_t>> gone;  // feed, item position
    bool feedLost, usable;
    const char* shows;
  } cases[] = {
      {"item version", [](Db& db, Items& m) { spoil(db, m["a"][1], kNodeVersion, kVersion99); }, true, {{"a", 1}}, false, true,
       "Unreadable itemNodeIndex="},
      {"item title", [](Db& db, Items& m) { spoil(db, m["a"][0], kItemTitle, kUnknownString); }, true, {{"a", 0}}, false, true,
       "Unreadable itemNodeIndex="},
      {"two items in a row", [](Db& db, Items& m) { for (size_t k : {1, 2}) spoil(db, m["a"][k], kNodeVersion, kVersion99); },
       true, {{"a", 1}, {"a", 2}}, false, true, "Unreadable itemNodeIndex="},
      {"the last item", [](Db& db, Items& m) { spoil(db, m["b"][2], kNodeVersion, kVersion99); }, true, {{"b", 2}}, false, true,
       "Unreadable itemNodeIndex="},
      {"body version", [](Db& db, Items& m) { spoil(db, bodyOf(db, m["a"][3]), kBodyVersion, kVersion99); }, true, {{"a", 3}},
       false, true, "Invalid itemNode.bodyIndex="},
      {"body string", [](Db& db, Items& m) { spoil(db, bodyOf(db, m["b"][0]), kBodyFirstString, kCapacityMinusOne); }, true,
       {{"b", 0}}, false, true, "Invalid itemNode.bodyIndex="},
      {"two items, one body", [](Db& db, Items& m) {
         newsItem* item = loadObject_newsItem(db, m["a"][2]);
         item->bodyIndex = bodyOf(db, m["a"][1]);
         db.saveChangesToObject(item);
         db.unloadObject(item);
       }, true, {{"a", 2}}, false, true, "Invalid itemNode.bodyIndex="},
      {"feed version", [](Db& db, Items& m) { spoil(db, m["b index"][0], kNodeVersion, kVersion99); }, true,
       {{"b", 0}, {"b", 1}, {"b", 2}}, true, true, "Loading feedNodeIndex="},
      // Its links too: the feed list is mended around it before the walk.
      {"feed zeroed",
       [](Db& db, Items& m) {
         const int64_t at = db.infoBlockFile().infoBlockOfIndex(m["b index"][0], true);
         spoil(db, m["b index"][0], 0, Bytes(static_cast<size_t>(db.infoBlockFile().infoSizeOfIndexBlock(at))));
       },
       true,
       {{"b", 0}, {"b", 1}, {"b", 2}}, true, true, ""},
      {"item version, check only", [](Db& db, Items& m) { spoil(db, m["a"][1], kNodeVersion, kVersion99); }, false, {},
       false, false, "Unreadable itemNodeIndex="},
      {"body string, check only", [](Db& db, Items& m) { spoil(db, bodyOf(db, m["b"][0]), kBodyFirstString, kUnknownString); },
       false, {}, false, false, "Invalid itemNode.bodyIndex="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Items made = makeFeeds();
    withDatabase("database.soup", [&](Db& db, newsRoot&) {
      c.damage(db, made);
      db.flush();
      ::testing::internal::CaptureStdout();
      const RepairResult r = repairDatabase(db, true, c.repair);
      output = ::testing::internal::GetCapturedStdout();
      EXPECT_EQ(r.usable, c.usable) << output;
      EXPECT_NE(output.find(c.shows), std::string::npos) << output;
      if (!c.repair) return;
      EXPECT_TRUE(r.changed);
      EXPECT_EQ(r.itemsRemoved, c.feedLost ? 0 : static_cast<int64_t>(c.gone.size()));
      ASSERT_EQ(r.lostFeeds.size(), c.feedLost ? 1u : 0u);
      if (c.feedLost) {
        // Its whole items wait, in no list, for a rescue; none comes here.
        EXPECT_EQ(r.lostFeeds[0].index, made["b index"][0]);
        EXPECT_EQ(r.lostFeeds[0].items.size(), made["b"].size());
        EXPECT_EQ(dropUnrescuedItems(db, r.lostFeeds[0].items), static_cast<int64_t>(made["b"].size()));
      }
      ::testing::internal::CaptureStdout();
      const RepairResult check = repairDatabase(db, true, false);
      const std::string checked = ::testing::internal::GetCapturedStdout();
      EXPECT_TRUE(check.usable) << checked;
      Items want = {{"a", made["a"]}, {"b", made["b"]}};
      for (auto it = c.gone.rbegin(); it != c.gone.rend(); ++it) {
        auto& items = want[it->first];
        items.erase(items.begin() + static_cast<ptrdiff_t>(it->second));
      }
      if (c.feedLost) want.erase("b");
      EXPECT_EQ(contents(db), want);
    });
  }
}

// Damage met while running ends the run with the words and the exit code of
// block damage; the next start's repair finds the record and says what went.
TEST_F(RecordDamageTest, ARecordMetWhileRunningIsDamageAndTheNextStartRemovesIt) {
  const std::string told = "The database is damaged; it will be checked and repaired at the next start.\n\n";
  struct Case {
    const char* name;
    int64_t offset;
    Bytes bytes;
    bool body;
    bool foundAtStart;  // the start's check of a closed file reads an item's head
  } cases[] = {
      {"item version", kNodeVersion, kVersion99, false, true},
      {"item string", kItemTitle, kCapacityMinusOne, false, true},
      {"body version", kBodyVersion, kVersion99, true, false},
      {"body string", kBodyFirstString, kUnknownString, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto made = makeFeeds();
    withDatabase("database.soup", [&](Db& db, newsRoot&) {
      const int32_t item = made["a"][2];
      spoil(db, c.body ? bodyOf(db, item) : item, c.offset, c.bytes);
    });
    // The reader opens every item.
    const int first = runShell([](Db& db, newsRoot&) { contents(db); });
    if (c.foundAtStart) {
      EXPECT_EQ(first, 0);
    } else {
      EXPECT_EQ(first, 10);
      EXPECT_EQ(output, told);
      EXPECT_EQ(runShell(), 0);
    }
    EXPECT_NE(output.find("\nDatabase was repaired: 1 item could not be read and was removed.\nPlease report"),
              std::string::npos)
        << output;
    withDatabase("database.soup", [&](Db& db, newsRoot&) { EXPECT_EQ(contents(db)["a"].size(), 3u); });
  }
}

// A feed whose record is lost comes back from the newest backup that holds
// it, read where it lies, with the whole items the database held for it and
// those only the backup holds; items neither holds are told.
TEST_F(RecordDamageTest, ALostFeedComesBackWithItsItemsFromTheNewestBackupThatHoldsIt) {
  enum Added { none, whole, spoiled };  // an item of "b" stored after the backup
  struct Case {
    const char* backup;           // "": none
    std::vector<size_t> spoiled;  // items of "b" damaged after the backup
    Added added;
    const char* told;
    bool shared = false;  // "b" has "a"'s address
  } cases[] = {
      {"database.soup.bak_2KnownGood", {}, none, ".\nPlease report"},
      {"database.soup.bak_1Latest", {1}, none, ".\nPlease report"},  // its copy comes from the backup
      {"database.soup.bak_1Latest", {}, whole, ".\nPlease report"},
      {"database.soup.bak_3Daily", {0}, spoiled, "; 1 of them could not be read and was removed.\nPlease report"},
      {"", {}, none, "A feed was damaged beyond reading and no backup holds it: its subscription and its items are lost."},
      {"database.soup.bak_1Latest", {}, whole, ".\nPlease report", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.backup) + " " + std::to_string(c.added) + (c.shared ? " shared" : ""));
    for (const auto& name : namesStartingWith("database.")) fs::remove(at(name));
    auto made = makeFeeds(c.shared);
    if (*c.backup) fs::copy_file(at("database.soup"), at(c.backup));
    withDatabase("database.soup", [&](Db& db, newsRoot&) {
      if (c.added != none) {
        auto item = std::make_unique<newsItem>();
        item->title = Str("b new");
        item->published = 1;  // the oldest: at the tail
        item->feedIndex = made["b index"][0];
        item->bodyIndex = db.createdAndUnloadObject(new newsItemBody);
        const int32_t index = db.createdAndUnloadObject(item.release());
        newsFeed* b = loadObject_newsFeed(db, made["b index"][0]);
        b->itemList->insertAtTail(index);
        db.unloadObject(b);
        if (c.added == spoiled) spoil(db, index, kNodeVersion, kVersion99);
      }
      for (size_t k : c.spoiled) spoil(db, made["b"][k], kNodeVersion, kVersion99);
      spoil(db, made["b index"][0], kNodeVersion, kVersion99);
      db.setNeedsRepair(true);
    });
    const std::string kept = *c.backup ? bytes(c.backup) : "";
    const int64_t keptTime = *c.backup ? mtime(c.backup) : 0;
    EXPECT_EQ(runShell(), 0);
    const std::string told = *c.backup ? std::string("The feed \"b\" was damaged and has been restored from a backup with "
                                                     "its items") + c.told : c.told;
    EXPECT_NE(output.find("Database was repaired.\n" + told), std::string::npos) << output;
    if (*c.backup) {
      EXPECT_TRUE(bytes(c.backup) == kept && mtime(c.backup) == keptTime);
    }
    EXPECT_TRUE(namesStartingWith("database.soup_").empty());
    withDatabase("database.soup", [&](Db& db, newsRoot& root) {
      const auto now = contents(db);
      EXPECT_EQ(now.at("a"), made["a"]);
      ASSERT_EQ(now.count("b"), *c.backup ? 1u : 0u);
      if (!*c.backup) return;
      newsFeed* b = loadObject_newsFeed(db, root.feedList->infoTailIndex());
      EXPECT_EQ(b->url.view(), c.shared ? "http://127.0.0.1/a" : "http://127.0.0.1/b");
      EXPECT_EQ(b->tags.view(), ",x,");
      db.unloadObject(b);
      std::vector<std::string> titles, want = {"b item 0", "b item 1", "b item 2"};
      if (c.added == whole) want.push_back("b new");
      for (int32_t i : now.at("b")) {
        newsItem* item = loadObject_newsItem(db, i);
        titles.push_back(item->title.str());
        db.unloadObject(item);
      }
      EXPECT_EQ(titles, want);
      EXPECT_TRUE(repairDatabase(db, false, false).usable);  // each item names its feed
    });
  }
}

// A rescue of a lost feed, or a restore of a database that does not open,
// that cannot be made now is told in words, ends with 10 and drops nothing:
// the next starts bring every feed and item back. Every write of the run
// from the n-th on meets a full disk (a run ends before or after the repair
// is written, never between); a backup refused to the user; a folder the
// user cannot write, where the rescue reads the backup in place and so
// brings the feed back at once.
TEST_F(RecordDamageTest, ARescueOrRestoreThatCannotBeMadeNowIsToldAndNothingIsLost) {
  auto made = makeFeeds();
  const std::string backup = bytes("database.soup");
  withDatabase("database.soup", [&](Db& db, newsRoot&) {
    spoil(db, made["b index"][0], kNodeVersion, kVersion99);
    db.setNeedsRepair(true);
  });
  struct Damage {
    const char* name;
    std::string image;
    const char *done, *full, *refused, *frozen;
  } damages[] = {
      {"a lost feed", bytes("database.soup"), "restored from a backup with its items.",
       "The disk is full: the database could not be written",
       "A feed was damaged, and the backup \"database.soup.bak_1Latest\" that may hold it could not be read, due "
       "to:\nPermission denied\nNothing was changed: the repair is tried again at the next start.\n",
       "restored from a backup with its items."},
      {"a cut database", backup.substr(0, 100), "Restored from backup \"database.soup.bak_1Latest\"",
       "The disk is full: the backup \"database.soup.bak_1Latest\" could not be restored (it needs ",
       "could not be restored, due to:\ndatabase.soup.bak_1Latest could not be copied: Permission denied\n",
       "Failed to move the bad database aside, due to:\n"},
  };
  auto disk = std::make_shared<testing_io::RecordingIoBackend>();
  const int64_t stride = testing::sweepCount(nullptr, 3, 1);
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.name);
    auto reset = [&] {
      for (const auto& name : namesStartingWith("database.")) fs::remove(at(name));
      write("database.soup", d.image);
      write("database.soup.bak_1Latest", backup);
    };
    auto expectBack = [&] {
      for (int starts = 0; starts < 3 && runShell() != 0; ++starts) {
      }
      withDatabase("database.soup", [&](Db& db, newsRoot&) {
        EXPECT_EQ(contents(db), (std::map<std::string, std::vector<int32_t>>{{"a", made["a"]}, {"b", made["b"]}}));
      });
    };
    int full = 0;  // runs that ended on the full disk
    for (int64_t from = 0;; from += stride) {
      SCOPED_TRACE(from);
      reset();
      disk->log->writes = 0;
      disk->log->failWriteFrom = from;
      setDefaultIoBackend(disk);
      const int rc = runShell();
      setDefaultIoBackend(nullptr);
      if (disk->log->writes <= from) break;  // no write failed
      EXPECT_EQ(output.find("no backup holds it"), std::string::npos) << output;
      if (output.find(d.done) == std::string::npos) {
        EXPECT_EQ(rc, 10);
        EXPECT_NE(output.find(d.full), std::string::npos) << output;
        ++full;
      }
      expectBack();
    }
    EXPECT_GT(full, 0);
    reset();
    setDefaultIoBackend(std::make_shared<MarkedOpens>("bak_1Latest", EACCES, nullptr));
    EXPECT_EQ(runShell(), 10);
    setDefaultIoBackend(nullptr);
    EXPECT_NE(output.find(d.refused), std::string::npos) << output;
    expectBack();
    reset();
    {
      FrozenFolder frozen(tree.host());
      ASSERT_TRUE(frozen.frozen());
      runShell();
      EXPECT_NE(output.find(d.frozen), std::string::npos) << output;
    }
    expectBack();
  }
}

// A restore takes the newest backup whose structures and feeds are sound
// even when some of its items do not read (those go, and the report says
// so); one whose feed does not read gives way to an older backup.
TEST_F(RecordDamageTest, ARestoreUsesTheNewestBackupWhoseOnlyFaultIsItemsThatDoNotRead) {
  struct Case {
    const char* name;
    bool feed;  // the damaged record: feed "b", else the body of an item of "a"
    const char* restored;
    const char* note;
    size_t itemsOfA;
  } cases[] = {
      {"a body", false, "database.soup.bak_1Latest", ").\n1 item of it could not be read and was removed.\nYou can try", 3},
      {"a feed", true, "database.soup.bak_2KnownGood", ").\nYou can try", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& name : namesStartingWith("database.")) fs::remove(at(name));
    auto made = makeFeeds();
    fs::copy_file(at("database.soup"), at("database.soup.bak_2KnownGood"));
    withDatabase("database.soup", [&](Db& db, newsRoot&) {
      if (c.feed) spoil(db, made["b index"][0], kNodeVersion, kVersion99);
      else spoil(db, bodyOf(db, made["a"][2]), kBodyVersion, kVersion99);
    });
    fs::copy_file(at("database.soup"), at("database.soup.bak_1Latest"));
    const std::map<std::string, std::string> kept = {{"database.soup.bak_1Latest", bytes("database.soup.bak_1Latest")},
                                                     {"database.soup.bak_2KnownGood", bytes("database.soup.bak_2KnownGood")}};
    write("database.soup", bytes("database.soup").substr(0, 100));  // cut: it does not open
    EXPECT_EQ(runShell(), 10);
    EXPECT_NE(output.find(std::string("Restored from backup \"") + c.restored + "\""), std::string::npos) << output;
    EXPECT_NE(output.find(c.note), std::string::npos) << output;
    for (const auto& [name, content] : kept) EXPECT_EQ(bytes(name), content) << name;
    EXPECT_TRUE(namesStartingWith("database.soup_Corrupt_").size() == 1) << "the cut database only";
    EXPECT_EQ(runShell(), 0) << output;
    withDatabase("database.soup", [&](Db& db, newsRoot&) {
      const auto now = contents(db);
      EXPECT_EQ(now.at("a").size(), c.itemsOfA);
      EXPECT_EQ(now.at("b"), made["b"]);
    });
  }
}

TEST(RepairSummary, TellsWhatWasLost) {
  struct Case {
    int64_t items;
    std::vector<RescuedFeed> feeds;
    const char* text;
  } cases[] = {
      {0, {}, "Database was repaired.\nPlease report this problem to:\n\x1b" "1me"},
      {1, {}, "Database was repaired: 1 item could not be read and was removed.\nPlease report this problem to:\n\x1b" "1me"},
      {3, {}, "Database was repaired: 3 items could not be read and were removed.\nPlease report this problem to:\n\x1b" "1me"},
      {0, {{"N%s", "database.soup.bak_1Latest", 0}, {"M", "", 0}, {"O", "database.soup.bak_2KnownGood", 1},
           {"P", "database.soup.bak_2KnownGood", 4}},
       "Database was repaired.\nThe feed \"N%s\" was damaged and has been restored from a backup with its items.\nThe feed "
       "\"M\" was damaged and no backup holds it: its subscription and its items are lost.\nThe feed \"O\" was damaged and "
       "has been restored from a backup with its items; 1 of them could not be read and was removed.\nThe feed \"P\" was "
       "damaged and has been restored from a backup with its items; 4 of them could not be read and were removed.\nPlease "
       "report this problem to:\n\x1b" "1me"},
  };
  for (const Case& c : cases) {
    RepairResult r;
    r.itemsRemoved = c.items;
    FormatArguments arguments;
    const std::string format = repairSummary(r, c.feeds, "me", arguments);
    EXPECT_EQ(formatText(format, &arguments), c.text);
  }
}

}  // namespace
}  // namespace bw::testing_app
