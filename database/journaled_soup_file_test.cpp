// database/journaled_soup_file_test.cpp - the soup on the journaled indexed
// block file: bytes on disk, the open mark across a killed run, the file
// time, the must-close state on a real file, and the model workload with the
// independent checker (journal level and soup level) after every batch.
#include "database/journaled_soup_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/raise_test_support.h"
#include "core/sweep_test_support.h"
#include "database/journal_test_support.h"
#include "database/soup_database.h"
#include "database/soup_check_test_support.h"
#include "database/soup_model_test_support.h"
#include "tools/soupcheck/block_level.h"
#include "tools/soupcheck/soup_level.h"

namespace bw {
namespace {

using soupcheck::Expect;
using testing::TestRecord;
using testing::TestNode;

struct ThreeValues : cIndexedObject {
  int32_t a = 0x11223344, b = 5, c = -2;
  void restore(cRestoreStreamBase& stream, bool doStore) override {
    a = transferValue(stream, doStore, a);
    b = transferValue(stream, doStore, b);
    c = transferValue(stream, doStore, c);
  }
};

class SoupFileTest : public testing_journal::JournalTest {
 protected:
  // A database on the disk of the scratch tree.
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> onDisk(const std::string& name, int32_t delay = 0) {
    auto db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(delay);
    EXPECT_TRUE(db->open(Text(internal(name)), false)) << db->infoError().view();
    return db;
  }
  // A database holding a record of first, then a run that commits one of
  // second (index 2) and is gone without closing (a child process).
  void killAfterSecondRecord(const std::string& name, const std::vector<int32_t>& first,
                             const std::vector<int32_t>& second) {
    {
      auto db = onDisk(name);
      db->createdAndUnloadObject(new TestRecord(first));
      db->close();
    }
    ::fflush(nullptr);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      cJournaledIndexedObjectSoupDatabase db(0);
      if (!db.open(Text(internal(name)), false)) ::_exit(3);
      db.createdAndUnloadObject(new TestRecord(second));
      ::_exit(0);  // no close
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
  }
  // A block file on the in-memory backend.
  std::unique_ptr<JournaledSoupBlockFile> inMemory(const std::string& name, int32_t delay) {
    auto f = std::make_unique<JournaledSoupBlockFile>(delay);
    f->file().setIoBackend(backend);
    f->setPathProbe([this, name](Text) { return backend->exists(native(name)); });
    return f;
  }
  std::vector<uint8_t> hostImage(const std::string& name) {
    std::string all = testing_paths::readAll(tree.host(name));
    return std::vector<uint8_t>(all.begin(), all.end());
  }
  // Every checker level over a file image; the data area the next open shows.
  static std::vector<uint8_t> expectSound(const std::vector<uint8_t>& image, Expect expect) {
    return testing::expectSoupSound(image, expect);
  }
  int64_t mtime(const std::string& name) {
    struct stat st {};
    EXPECT_EQ(::stat(tree.host(name).c_str(), &st), 0);
    return st.st_mtime;
  }
};

TEST_F(SoupFileTest, RecordsAndListsAreByteExactOnDisk) {
  auto db = onDisk("exact.soup");
  auto* three = new ThreeValues;
  int32_t index = db->createdObject(three);
  int64_t position = db->infoBlockFile().infoBlockOfIndex(index, false);
  CreatedList list = db->createObjectList();
  int32_t n1 = db->createdAndUnloadObject(new TestNode(7));
  list.list->insertAtTail(n1);
  int64_t listPosition = db->infoBlockFile().infoBlockOfIndex(list.index, false);
  int64_t nodePosition = db->infoBlockFile().infoBlockOfIndex(n1, false);
  db->unloadObject(three);
  db->unloadObject(list.list);
  db->close();

  std::vector<uint8_t> data = expectSound(hostImage("exact.soup"), Expect::kClosed);
  auto at = [&](int64_t p, size_t n) { return std::vector<uint8_t>(data.begin() + p, data.begin() + p + n); };
  EXPECT_EQ(at(position - 4, 16), (std::vector<uint8_t>{0, 0, 0, 14, 0x11, 0x22, 0x33, 0x44, 0, 0, 0, 5, 0xFF, 0xFF,
                                                         0xFF, 0xFE}));
  EXPECT_EQ(at(listPosition, 16),
            (std::vector<uint8_t>{0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 2}));  // head, tail, next, prev
  EXPECT_EQ(at(nodePosition, 12), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7}));
  soupcheck::SoupLevelReport s = soupcheck::checkSoupLevel(data);
  EXPECT_TRUE(s.warnings.empty());
  EXPECT_EQ(s.lists, 1);
  EXPECT_EQ(s.nodes, 1);

  db = onDisk("exact.soup");
  EXPECT_FALSE(db->infoNeedsRepair());
  auto* back = static_cast<ThreeValues*>(db->loadObject(index, std::make_unique<ThreeValues>()));
  EXPECT_EQ(back->c, -2);
  db->unloadObject(back);
}

TEST_F(SoupFileTest, AKilledRunLeavesTheOpenMark) {
  ASSERT_NO_FATAL_FAILURE(killAfterSecondRecord("killed.soup", {1, 2}, {3}));
  expectSound(hostImage("killed.soup"), Expect::kCrashed);
  auto db = onDisk("killed.soup");
  EXPECT_TRUE(db->infoNeedsRepair());
  db->setNeedsRepair(false);  // as the application does once it repaired
  auto* r = static_cast<TestRecord*>(db->loadObject(2, std::make_unique<TestRecord>()));
  EXPECT_EQ(r->values, std::vector<int32_t>{3});
  db->unloadObject(r);
  db->close();
  db = onDisk("killed.soup");
  EXPECT_FALSE(db->infoNeedsRepair());
}

TEST_F(SoupFileTest, OpenAndCloseKeepTheFileTimeCommitsSetIt) {
  const int64_t past = testing_journal::kEpoch2000 + 100;
  now = 5000;  // the clock the file layer stamps its writes with
  onDisk("time.soup")->close();
  struct timespec times[2] = {{past, 0}, {past, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, tree.host("time.soup").c_str(), times, 0), 0);
  onDisk("time.soup")->close();
  EXPECT_EQ(mtime("time.soup"), past);

  auto db = onDisk("time.soup");
  now = 6000;
  db->createdAndUnloadObject(new TestRecord({1}));  // commits (delay 0)
  int64_t committed = mtime("time.soup");
  EXPECT_EQ(committed, testing_journal::kEpoch2000 + 6000);
  now = 7000;
  db->close();
  EXPECT_EQ(mtime("time.soup"), committed);
}

// A run killed between commits leaves its last commit's journal behind the
// data; the next open cuts it without writing the data again, so the file
// keeps the time of the killed run's last change.
TEST_F(SoupFileTest, AKilledRunsFileKeepsItsTimeWhenReopened) {
  ASSERT_NO_FATAL_FAILURE(killAfterSecondRecord("kept.soup", {1}, {7}));
  ASSERT_EQ(soupcheck::check(hostImage("kept.soup"), Expect::kCrashed).journal, soupcheck::Journal::kComplete);
  const int64_t past = testing_journal::kEpoch2000 + 100;
  struct timespec times[2] = {{past, 0}, {past, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, tree.host("kept.soup").c_str(), times, 0), 0);
  now = 5000;
  auto db = onDisk("kept.soup");
  auto* r = static_cast<TestRecord*>(db->loadObject(2, std::make_unique<TestRecord>()));
  EXPECT_EQ(r->values, std::vector<int32_t>{7});
  db->unloadObject(r);
  db->close();
  EXPECT_EQ(mtime("kept.soup"), past);
  expectSound(hostImage("kept.soup"), Expect::kClosed);
}

// A file opened for reading is never written, whatever state a run left it
// in: the record and open mark read as a writable open would show them
// (a journal still to apply replayed in memory), changes and a discard
// stay in memory, and the bytes, time and folder are as they were. A file
// and folder the user cannot write open all the same.
TEST_F(SoupFileTest, AFileOpenedForReadingIsNeverWritten) {
  auto valueAt = [](cJournaledIndexedObjectSoupDatabase& db, int32_t index) {
    auto* r = static_cast<TestRecord*>(db.loadObject(index, std::make_unique<TestRecord>()));
    const std::vector<int32_t> values = r->values;
    db.unloadObject(r);
    return values;
  };
  enum Left { closed, killed, journalPending };
  for (const Left left : {closed, killed, journalPending}) {
    SCOPED_TRACE(left);
    const std::string name = "read" + std::to_string(left) + ".soup";
    if (left == killed) {
      ASSERT_NO_FATAL_FAILURE(killAfterSecondRecord(name, {1}, {7}));
    } else {
      auto db = onDisk(name, -1);
      db->createdAndUnloadObject(new TestRecord({1}));
      db->flush();
      // A pending journal: the commit stops between it and the writes in place.
      if (left == journalPending) {
        static_cast<JournaledSoupBlockFile&>(db->infoBlockFile()).file().setAfterSaveJournalHook([] {
          raise("FILE", "test(); stopped after the journal");
        });
      }
      db->createdAndUnloadObject(new TestRecord({7}));
      if (left == closed) db->close();
      if (left == journalPending) {
        EXPECT_ANY_THROW(db->flush());
        db->closeQuickly();
      }
    }
    const std::vector<uint8_t> before = hostImage(name);
    const int64_t time = mtime(name);
    ASSERT_EQ(::chmod(tree.host(name).c_str(), 0444), 0);
    ASSERT_EQ(::chmod(tree.host().c_str(), 0555), 0);
    {
      cJournaledIndexedObjectSoupDatabase db(0);
      ASSERT_TRUE(db.openForReading(Text(internal(name)))) << db.infoError().view();
      EXPECT_EQ(db.infoNeedsRepair(), left != closed);
      EXPECT_EQ(valueAt(db, 2), std::vector<int32_t>{7});
      db.createdAndUnloadObject(new TestRecord({5}));
      db.flush();
      try {
        SoupTransaction tx(db.infoBlockFile());
        db.destroyObject(2);
        throw std::runtime_error("discard");
      } catch (const std::runtime_error&) {
      }
      EXPECT_EQ(valueAt(db, 2), std::vector<int32_t>{7});
    }
    ::chmod(tree.host().c_str(), 0755);
    ::chmod(tree.host(name).c_str(), 0644);
    EXPECT_EQ(hostImage(name), before);
    EXPECT_EQ(mtime(name), time);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tree.host()), {}), 1);
    EXPECT_EQ(valueAt(*onDisk(name), 2), std::vector<int32_t>{7});
    std::filesystem::remove(tree.host(name));
  }
  cJournaledIndexedObjectSoupDatabase db(0);
  EXPECT_FALSE(db.openForReading(Text(internal("missing.soup"))));
  EXPECT_FALSE(std::filesystem::exists(tree.host("missing.soup")));
}

// An exception from a record's restore inside saveChangesToObject: the soup
// must close, and the file shows the last commit with the open mark kept.
TEST_F(SoupFileTest, AFailingRestoreLeavesTheLastCommit) {
  auto db = onDisk("fault.soup");
  auto* r = new TestRecord({1, 2, 3});
  int32_t index = db->createdObject(r);
  int32_t other = db->createdAndUnloadObject(new TestRecord({4}));
  db->beginTransaction();
  db->destroyObject(other);  // uncommitted, in the same run
  r->values = {9};
  r->throwOnStore = true;
  expectRaise([&] { db->saveChangesToObject(r); }, "ERR", "TestRecord.restore(); failing as asked");
  EXPECT_TRUE(db->infoMustClose());
  expectRaise([&] { db->createdObject(r); }, "TRAN",
              "cJournaledIndexedObjectSoup.createdObject(); changes were discarded, close the database");
  db->flush();
  db->setNeedsRepair(false);
  db->unloadObject(r);
  db->close();
  expectSound(hostImage("fault.soup"), Expect::kClosed);

  db = onDisk("fault.soup");
  EXPECT_TRUE(db->infoNeedsRepair());
  auto* back = static_cast<TestRecord*>(db->loadObject(index, std::make_unique<TestRecord>()));
  EXPECT_EQ(back->values, (std::vector<int32_t>{1, 2, 3}));
  db->unloadObject(back);
  auto* kept = static_cast<TestRecord*>(db->loadObject(other, std::make_unique<TestRecord>()));
  EXPECT_EQ(kept->values, std::vector<int32_t>{4});
  db->unloadObject(kept);
}

// Start-up after a repair that gave up: setTime, then closeQuickly, on a
// database in the must-close state; neither may raise.
TEST_F(SoupFileTest, SetTimeAndCloseQuicklyAfterAnAbortedRepair) {
  onDisk("abort.soup")->close();
  auto db = onDisk("abort.soup");
  int64_t remembered = db->getTime();
  int32_t id = db->beginTransaction();
  db->createdAndUnloadObject(new TestRecord({1}));
  db->beginTransaction();
  EXPECT_THROW(db->finishTransaction(id), eException);  // the repair run aborts
  EXPECT_TRUE(db->infoMustClose());
  db->setTime(remembered);
  db->closeQuickly();
  EXPECT_FALSE(db->isOpen());
  EXPECT_EQ(mtime("abort.soup") - testing_journal::kEpoch2000, remembered);
  expectSound(hostImage("abort.soup"), Expect::kOpen);
}

// A commit that fails below the soup leaves the file failed: changes are
// refused, and close closes without writing, so the next open sees the last
// good commit and validates.
TEST_F(SoupFileTest, AFailedCommitClosesWithoutWriting) {
  auto db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(inMemory("failed.soup", 0));
  ASSERT_TRUE(db->open(Text(internal("failed.soup")), false));
  int32_t kept = db->createdAndUnloadObject(new TestRecord({1}));
  backend->failAt(backend->opCount(), EIO, true, RecordedOp::kSync);
  TestRecord refused({2});  // a create that raises leaves the object the caller's
  EXPECT_THROW(db->createdAndUnloadObject(&refused), eException);
  EXPECT_TRUE(db->infoBlockFile().infoFailed());
  EXPECT_THROW(db->createdAndUnloadObject(&refused), eException);
  db->close();
  EXPECT_FALSE(db->isOpen());
  backend->clearFaults();
  expectSound(backend->image(native("failed.soup")), Expect::kCrashed);

  db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(inMemory("failed.soup", 0));
  ASSERT_TRUE(db->open(Text(internal("failed.soup")), false));
  EXPECT_TRUE(db->infoNeedsRepair());
  auto* r = static_cast<TestRecord*>(db->loadObject(kept, std::make_unique<TestRecord>()));
  EXPECT_EQ(r->values, std::vector<int32_t>{1});
  db->unloadObject(r);
}

// The seeded workload over the journaled file, with both checker levels
// after every batch and usedBytes recomputed from the blocks.
// 12 batches of 1,000 steps; 50 with BRINDLEWORK_FULL_SWEEPS=1.
TEST_F(SoupFileTest, ModelWorkloadStaysSound) {
  testing::SoupModel model([this] { return inMemory("model.soup", -1); }, 7, internal("model.soup"));
  const long long batches = testing::sweepCount(nullptr, 12, 50);
  for (int batch = 0; batch < batches; ++batch) {
    for (int i = 0; i < 1000; ++i) model.step();
    model.db().flush();
    std::vector<uint8_t> data = expectSound(backend->image(native("model.soup")), Expect::kOpen);
    model.check();
    EXPECT_TRUE(soupcheck::checkSoupLevel(data).warnings.empty());
    if (HasFailure()) return;
  }
}

// A new index's block taken with its record (the header, index word and
// record of a block appended at the end in one write) against the
// allocation followed by the record's write: the same blocks, the same bytes
// counted toward the forced commit and the same file at every commit, for
// records of all sizes (large ones too) going to the end or into blocks
// freed before.
TEST_F(SoupFileTest, BlocksTakenWithTheirRecordsMatchAllocationThenWrite) {
  auto openSoup = [&](const std::string& name) {
    auto soup = std::make_unique<cJournaledIndexedObjectSoup>(inMemory(name, -1));
    EXPECT_TRUE(soup->open(Text(internal(name)), false));
    return soup;
  };
  auto held = openSoup("held.soup"), apart = openSoup("apart.soup");
  auto& one = static_cast<JournaledSoupBlockFile&>(held->infoBlockFile());
  auto& two = static_cast<JournaledSoupBlockFile&>(apart->infoBlockFile());
  std::mt19937 random(9);
  std::vector<int32_t> live;
  for (int round = 0; round < 60; ++round) {
    const int32_t t1 = one.beginTransaction(), t2 = two.beginTransaction();
    for (int k = 0; k < 50; ++k) {
      if (!live.empty() && random() % 3 == 0) {
        const size_t gone = random() % live.size();
        one.deallocateIndex(live[gone]);
        two.deallocateIndex(live[gone]);
        live.erase(live.begin() + static_cast<std::ptrdiff_t>(gone));
        continue;
      }
      // Now and then one past the size that is framed for its write.
      const size_t size = k == 7 && round % 10 == 0 ? JournaledSoupBlockFile::kFramedRecordLimit + 1 + random() % 64
                                                    : random() % 700;
      std::vector<uint8_t> record(size);
      for (uint8_t& b : record) b = static_cast<uint8_t>(random());
      const SoupIndexedBlock a = one.allocateIndexBlockHolding(record);
      const SoupIndexedBlock b = two.SoupBlockFile::allocateIndexBlockHolding(record);
      ASSERT_EQ(a.index, b.index);
      ASSERT_EQ(a.dataPosition, b.dataPosition);
      ASSERT_EQ(a.capacity, b.capacity);
      ASSERT_EQ(one.file().infoBytesWritten(), two.file().infoBytesWritten());
      live.push_back(a.index);
    }
    one.finishTransaction(t1);
    two.finishTransaction(t2);
    held->flush();
    apart->flush();
    ASSERT_EQ(backend->image(native("held.soup")), backend->image(native("apart.soup"))) << round;
  }
}

// What a read answers, or the words it raises.
template <class Read>
std::string answerOf(Read read) {
  try {
    return read();
  } catch (const eException& e) {
    return e.what();
  }
}

// The record heads (and the data positions alone) of a window of indices,
// read at once in file order, against reads one index at a time: committed
// records (read head by head from the file) and uncommitted ones, holes, a
// preallocated index, windows past the index array. A block's first bytes read with its header in one
// read answer as its size and bytes read apart do, with the file read in
// windows and without, at every block and at positions that are none.
TEST_F(SoupFileTest, RecordHeadsReadAtOnceMatchOneByOne) {
  testing::SoupModel model([this] { return inMemory("heads.soup", -1); }, 5, internal("heads.soup"));
  for (int i = 0; i < 1500; ++i) model.step();
  model.db().flush();
  SoupBlockFile& file = model.db().infoBlockFile();
  std::mt19937 random(3);
  auto compareWindows = [&](int32_t indices) {
    for (int round = 0; round < 300; ++round) {
      const auto first = static_cast<int32_t>(1 + random() % static_cast<uint32_t>(indices + 80));
      const auto count = static_cast<int32_t>(1 + random() % 64);
      RecordHead atOnce[64], oneByOne[64];
      int64_t positions[64], plainPositions[64];
      file.readRecordHeads(first, count, atOnce);
      file.SoupBlockFile::readRecordHeads(first, count, oneByOne);
      file.infoBlocksOfIndices(first, count, positions);
      file.SoupBlockFile::infoBlocksOfIndices(first, count, plainPositions);
      for (int32_t k = 0; k < count; ++k) {
        SCOPED_TRACE(first + k);
        ASSERT_EQ(atOnce[k].dataPosition, oneByOne[k].dataPosition);
        ASSERT_EQ(positions[k], oneByOne[k].dataPosition);
        ASSERT_EQ(plainPositions[k], oneByOne[k].dataPosition);
        ASSERT_EQ(std::memcmp(atOnce[k].bytes, oneByOne[k].bytes, sizeof atOnce[k].bytes), 0);
      }
    }
    for (int round = 0; round < 3000; ++round) {
      file.readInWindows(round % 1000 < 500);
      const auto index = static_cast<int32_t>(1 + random() % static_cast<uint32_t>(indices + 80));
      int64_t at = file.infoBlockOfIndex(index, true);
      if (round % 3 == 0) at = static_cast<int64_t>(random() % static_cast<uint32_t>(file.getSize() + 64)) - 32;
      if (at == 0) continue;
      auto least = static_cast<int32_t>(random() % 9), most = static_cast<int32_t>(random() % 600);
      if (round % 3 == 1) most = 1000;  // past the end of the file's last block
      auto read = [&](bool atOnce) {
        return answerOf([&] {
          std::vector<uint8_t> out(static_cast<size_t>(std::max(least, most)));
          const int32_t n = atOnce ? file.readIndexBlockStart(at, out.data(), least, most)
                                   : file.SoupBlockFile::readIndexBlockStart(at, out.data(), least, most);
          return std::string(out.begin(), out.begin() + n);
        });
      };
      SCOPED_TRACE(::testing::Message() << "at " << at << " least " << least << " most " << most);
      ASSERT_EQ(read(true), read(false));
    }
    file.readInWindows(false);
  };
  compareWindows(1500);
  const int32_t preallocated = file.preallocateIndex();
  model.db().beginTransaction();
  for (int i = 0; i < 200; ++i) model.step();
  compareWindows(preallocated);
  EXPECT_EQ(file.infoBlockOfIndex(preallocated, true), 0);
  model.db().infoBlockFile().discardChanges();
  model.db().close();
}

}  // namespace
}  // namespace bw
