// database/soup_create_test.cpp - making a new database: kill -9 at random
// moments of the creation leaves no file at the database's path or a whole
// one (every checker level clean), and a journaled file whose data area is
// shorter than the block file's header area opens as a new, sound database.
// BRINDLEWORK_KILL_RUNS sets the number of kills (default 40, 200 with
// BRINDLEWORK_FULL_SWEEPS=1).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "core/sweep_test_support.h"
#include "database/block_format.h"
#include "database/journal_test_support.h"
#include "database/soup_check_test_support.h"
#include "database/soup_database.h"

namespace bw {
namespace {

using soupcheck::Expect;

class SoupCreateTest : public testing_journal::JournalTest {
 protected:
  std::vector<uint8_t> hostImage(const std::string& name) {
    std::string all = testing_paths::readAll(tree.host(name));
    return std::vector<uint8_t>(all.begin(), all.end());
  }
  // The "<name>_New_" files left in the scratch folder (deleted).
  int removeLeftovers(const std::string& name) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(tree.host(""))) {
      if (entry.path().filename().string().rfind(name + "_New_", 0) == 0) {
        std::filesystem::remove(entry.path());
        ++count;
      }
    }
    return count;
  }
};

TEST_F(SoupCreateTest, KillNineWhileCreatingLeavesNoFileOrAWholeOne) {
  const int runs = static_cast<int>(bw::testing::sweepCount("BRINDLEWORK_KILL_RUNS", 40, 200));
  const std::string path = internal("made.soup");
  // How long one creation takes here: the kills spread over 1.5 times that.
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i) {
    cJournaledIndexedObjectSoupDatabase db(0);
    ASSERT_TRUE(db.open(Text(path), false));
    db.close();
    std::filesystem::remove(tree.host("made.soup"));
  }
  auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start) / 5;
  std::mt19937_64 random(19);
  int whole = 0, absent = 0, leftovers = 0;
  for (int run = 0; run < runs; ++run) {
    std::filesystem::remove(tree.host("made.soup"));
    ::fflush(nullptr);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      cJournaledIndexedObjectSoupDatabase db(0);
      if (!db.open(Text(path), false)) ::_exit(3);
      for (;;) ::pause();
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (span.count() * 3 / 2 + 1)));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "run " << run << ": the driver stopped by itself: " << status;
    leftovers += removeLeftovers("made.soup");
    if (!std::filesystem::exists(tree.host("made.soup"))) {
      ++absent;
      continue;
    }
    ++whole;
    SCOPED_TRACE("run " + std::to_string(run));
    testing::expectSoupSound(hostImage("made.soup"), Expect::kCrashed);
    cJournaledIndexedObjectSoupDatabase db(0);
    ASSERT_TRUE(db.open(Text(path), false)) << db.infoError().view();
    EXPECT_TRUE(db.validate(false, false, false).valid);
    db.close();
    testing::expectSoupSound(hostImage("made.soup"), Expect::kClosed);
    if (HasFailure()) return;
  }
  std::printf("%d kills while creating: %d left no database, %d a whole one; %d \"_New_\" files left\n", runs,
              absent, whole, leftovers);
}

// Creation removes what killed creations of the same database left behind,
// and nothing else: not a file a creating run still holds or may still
// rename, not other names.
TEST_F(SoupCreateTest, ACreationRemovesOnlyStaleNewFilesOfItsOwnName) {
  const struct {
    const char* name;
    bool kept;
  } files[] = {
      {"made.soup_New_1a2b", false},
      {"made.soup_New_3c4d", true},  // held open for writing below
      {"made.soup_New_000000012", true},  // process 1 still runs: it may be about to rename it
      {"made.soup_New_7ffffffe5", false},  // no such process
      {"made.soup_New_notes", true},
      {"made.soup_New_", true},
      {"other.soup_New_12", true},
  };
  for (const auto& f : files) std::ofstream(tree.host(f.name)) << "left";
  cHostFile holder;
  holder.initialise(0);
  ASSERT_TRUE(holder.open(Text(internal("made.soup_New_3c4d")), false, false, false));
  cJournaledIndexedObjectSoupDatabase db(0);
  ASSERT_TRUE(db.open(Text(internal("made.soup")), false));
  db.close();
  holder.close();
  for (const auto& f : files) EXPECT_EQ(std::filesystem::exists(tree.host(f.name)), f.kept) << f.name;
  EXPECT_EQ(removeLeftovers("made.soup"), 4);  // nothing of its own left behind
}

// Two processes that make the same database at once each make it under a
// name of their own: neither removes the other's file, the loser of the
// rename opens the winner's database, and both lists reach the one file. A
// creator waits only while the other holds the database itself.
TEST_F(SoupCreateTest, TwoCreatorsAtOnceEndWithOneDatabaseHoldingBoth) {
  const int rounds = static_cast<int>(bw::testing::sweepCount("BRINDLEWORK_KILL_RUNS", 30, 150));
  const std::string path = internal("raced.soup");
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::filesystem::remove(tree.host("raced.soup"));
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    ::fflush(nullptr);
    pid_t children[2];
    for (pid_t& child : children) {
      child = ::fork();
      ASSERT_GE(child, 0);
      if (child != 0) continue;
      ::close(gate[1]);
      char byte;
      if (::read(gate[0], &byte, 1) != 0) ::_exit(6);  // both start when the gate closes
      for (int attempt = 0; attempt < 500; ++attempt) {
        cJournaledIndexedObjectSoupDatabase db(0);
        if (db.open(Text(path), false)) {
          db.unloadObject(db.createObjectList().list);
          db.close();
          ::_exit(0);
        }
        const bool held = db.infoError().view().find("already opened") != std::string_view::npos;
        if (!held || !std::filesystem::exists(tree.host("raced.soup"))) ::_exit(5);
        ::usleep(2000);
      }
      ::_exit(4);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (pid_t child : children) {
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_EQ(removeLeftovers("raced.soup"), 0);
    testing::expectSoupSound(hostImage("raced.soup"), Expect::kClosed);
    cJournaledIndexedObjectSoupDatabase db(0);
    ASSERT_TRUE(db.open(Text(path), false)) << db.infoError().view();
    int lists = 0;
    for (int32_t at = db.infoHeadListIndex(); at != 0 && lists < 5;) {
      cIndexedObjectList* list = loadObject_cIndexedObjectList(db, at);
      ++lists;
      at = list->infoListNextIndex() == db.infoHeadListIndex() ? 0 : list->infoListNextIndex();
      db.unloadObject(list);
    }
    EXPECT_EQ(lists, 2);
    db.close();
    if (HasFailure()) return;
  }
}

// A journaled file whose data area ends inside the block file's header area
// (a file another program cut, or made by hand) is made a new database.
TEST_F(SoupCreateTest, AFileShorterThanTheHeaderAreaOpensAsNewAndSound) {
  for (int64_t size : {int64_t{0}, int64_t{1}, int64_t{100}, int64_t{FIRST_BLOCK_POS - 1}}) {
    SCOPED_TRACE(size);
    std::filesystem::remove(tree.host("short.soup"));
    {
      cJournaledFile f;
      f.newFile(0, 0);
      ASSERT_TRUE(f.open(Text(internal("short.soup")), false, false, false));
      if (size > 0) testing_journal::writeAt(f, 0, std::vector<uint8_t>(static_cast<size_t>(size), 0x5A));
      f.close();
    }
    auto db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(0);
    ASSERT_TRUE(db->open(Text(internal("short.soup")), false)) << db->infoError().view();
    db->unloadObject(db->createObjectList().list);
    db->close();
    testing::expectSoupSound(hostImage("short.soup"), Expect::kClosed);
    db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(0);
    ASSERT_TRUE(db->open(Text(internal("short.soup")), false));
    EXPECT_NE(db->infoHeadListIndex(), 0);
    EXPECT_TRUE(db->validate(false, false, false).valid);
    db->close();
  }
}

}  // namespace
}  // namespace bw
