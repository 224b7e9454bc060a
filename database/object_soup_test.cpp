// database/object_soup_test.cpp - the object soup over the in-memory block
// file: records, the loaded-object table, placement, the open mark, the file
// time, arrays, and the must-close state after a discard.
#include "database/object_soup.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "core/raise_test_support.h"
#include "database/soup_database.h"
#include "database/soup_fake_block_file_test_support.h"

namespace bw {
namespace {

using testing::FakeDisk;
using testing::FakeSoupBlockFile;
using testing::TestRecord;

// Counts how many of its kind are alive.
struct CountedRecord : TestRecord {
  static inline int alive = 0;
  CountedRecord() { ++alive; }
  ~CountedRecord() override { --alive; }
};

// Exactly three values, nothing else.
struct ThreeValues : cIndexedObject {
  int32_t a = 0, b = 0, c = 0;
  void restore(cRestoreStreamBase& stream, bool doStore) override {
    a = transferValue(stream, doStore, a);
    b = transferValue(stream, doStore, b);
    c = transferValue(stream, doStore, c);
  }
};

// The process's peak resident size so far.
long peakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// An allocator that remembers the largest request it saw.
template <class T>
struct CountingAllocator {
  using value_type = T;
  static inline size_t largest = 0;
  CountingAllocator() = default;
  template <class U>
  CountingAllocator(const CountingAllocator<U>&) {}
  T* allocate(size_t n) {
    largest = std::max(largest, n * sizeof(T));
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, size_t n) { std::allocator<T>().deallocate(p, n); }
  friend bool operator==(const CountingAllocator&, const CountingAllocator&) { return true; }
};

// A count and its values, kept in a vector that grows as values arrive.
struct GrowingRecord : cIndexedObject {
  std::vector<int32_t, CountingAllocator<int32_t>> values;
  void restore(cRestoreStreamBase& stream, bool doStore) override {
    int32_t n = transferValue(stream, doStore, static_cast<int32_t>(values.size()));
    for (int32_t i = 0; i < n; ++i) {
      int32_t v = transferValue(stream, doStore, doStore ? values[static_cast<size_t>(i)] : 0);
      if (!doStore) values.push_back(v);
    }
  }
};

class SoupTest : public ::testing::Test {
 protected:
  void openSoup(int32_t commitDelay = 0) {
    auto f = std::make_unique<FakeSoupBlockFile>(disk, commitDelay);
    file = f.get();
    soup = std::make_unique<cJournaledIndexedObjectSoup>(std::move(f));
    ASSERT_TRUE(soup->open("db", false));
  }
  // A record of n values: 4 + 4n bytes.
  static TestRecord* record(int n, int32_t base = 0) {
    std::vector<int32_t> v;
    for (int i = 0; i < n; ++i) v.push_back(base + i);
    return new TestRecord(v);
  }
  std::vector<int32_t> loadValues(int32_t index) {
    auto* r = static_cast<TestRecord*>(soup->loadObject(index, std::make_unique<TestRecord>()));
    std::vector<int32_t> v = r->values;
    soup->unloadObject(r);
    return v;
  }

  std::shared_ptr<FakeDisk> disk = std::make_shared<FakeDisk>();
  FakeSoupBlockFile* file = nullptr;
  std::unique_ptr<cJournaledIndexedObjectSoup> soup;
};

TEST_F(SoupTest, OpenMarkAndNeedsRepairAcrossRuns) {
  openSoup();
  EXPECT_FALSE(soup->infoNeedsRepair());
  EXPECT_TRUE(soup->infoAutoCompact());
  EXPECT_EQ(file->getHeaderValue(kSoupOpenMark), -1);
  soup->close();
  EXPECT_EQ(disk->files["db"].header[kSoupOpenMark], 0);

  openSoup();
  EXPECT_FALSE(soup->infoNeedsRepair());
  file->crash();  // a killed run: close never reaches the file
  soup.reset();
  openSoup();
  EXPECT_TRUE(soup->infoNeedsRepair());
  soup->setNeedsRepair(false);
  soup->close();

  openSoup();
  EXPECT_FALSE(soup->infoNeedsRepair());
  soup->setNeedsRepair(true);
  soup->close();
  openSoup();
  EXPECT_TRUE(soup->infoNeedsRepair());
}

TEST_F(SoupTest, NewFileStoresItsCompactionStartAndUsedBytes) {
  openSoup();
  EXPECT_EQ(soup->infoUsedBytes(), 0);
  EXPECT_EQ(soup->infoPerBlockOverhead(), 12);
  EXPECT_EQ(soup->infoAutoBlockToCompact(), file->infoFirstBlock());
  EXPECT_EQ(soup->infoAutoDesiredBlock(), file->infoDummyBlock());
  EXPECT_EQ(file->getHeaderValue(kSoupAutoBlockToCompact), file->infoFirstBlock());
  EXPECT_EQ(file->getHeaderValue(kSoupAutoDesiredBlock), file->infoDummyBlock());
}

TEST_F(SoupTest, OpenAndCloseKeepTheFileTimeButCommitsMoveIt) {
  openSoup();
  soup->close();
  disk->times["db"] = 77;  // a time long past
  openSoup();
  soup->close();
  EXPECT_EQ(disk->times["db"], 77);

  openSoup();
  soup->createdAndUnloadObject(record(2));
  int64_t committedAt = disk->times["db"];
  EXPECT_GT(committedAt, 77);
  EXPECT_EQ(soup->getTime(), committedAt);
  soup->close();
  EXPECT_EQ(disk->times["db"], committedAt);
}

TEST_F(SoupTest, OpenNewHonoursFailIfExists) {
  openSoup();
  soup->createdAndUnloadObject(record(1));
  soup->close();
  EXPECT_FALSE(soup->openNew("db", true, false));
  ASSERT_TRUE(soup->openNew("db", false, false));
  EXPECT_EQ(soup->infoUsedBytes(), 0);
  EXPECT_EQ(soup->findRegisteredObject(1), nullptr);
  EXPECT_EQ(file->infoBlockOfIndex(1, true), 0);
}

TEST_F(SoupTest, ANewFileTakesItsNameOnlyWhenWhole) {
  openSoup();
  soup->close();
  EXPECT_EQ(disk->newFiles, 1);
  EXPECT_EQ(disk->files.size(), 1u);  // "db" alone: the new file was renamed
  disk->files.clear();
  // Another run makes "db" while this one makes its own: that one opens.
  disk->beforeRename = [this] {
    disk->beforeRename = nullptr;
    cJournaledIndexedObjectSoup other(std::make_unique<FakeSoupBlockFile>(disk));
    ASSERT_TRUE(other.open("db", false));
    other.createdAndUnloadObject(record(3));
    other.close();
  };
  openSoup();
  EXPECT_EQ(loadValues(1), (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(disk->files.size(), 1u);
}

TEST_F(SoupTest, RecordsAreExactlyWhatRestoreWrites) {
  openSoup();
  auto* three = new ThreeValues;
  three->a = 0x01020304;
  three->b = -1;
  three->c = 7;
  int32_t index = soup->createdObject(three);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(three->infoStoredSize(), 12);
  int64_t handle = file->infoBlockOfIndex(index, false) - 4;
  std::vector<uint8_t> payload = file->payload(handle);
  std::vector<uint8_t> expected = {0, 0, 0, 14, 1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 7};
  EXPECT_EQ(std::vector<uint8_t>(payload.begin(), payload.begin() + 16), expected);
  EXPECT_EQ(soup->infoUsedBytes(), file->infoSizeOfIndexBlock(handle + 4) + 12);
  EXPECT_EQ(file->getHeaderValue(kSoupUsedBytes), soup->infoUsedBytes());
  soup->unloadObject(three);
}

TEST_F(SoupTest, RepeatedLoadsShareOneObjectUntilAsManyUnloads) {
  openSoup();
  int32_t index = soup->createdAndUnloadObject(record(3, 10));
  CountedRecord::alive = 0;
  cIndexedObject* first = soup->loadObject(index, std::make_unique<CountedRecord>());
  cIndexedObject* second = soup->loadObject(index, std::make_unique<CountedRecord>());
  EXPECT_EQ(first, second);
  EXPECT_EQ(CountedRecord::alive, 1);  // the second one passed in was deleted
  EXPECT_EQ(first->infoUseCount(), 2);
  EXPECT_EQ(soup->findLoadedObject(index, 1), first);
  EXPECT_EQ(first->infoUseCount(), 3);
  EXPECT_EQ(static_cast<TestRecord*>(first)->values, (std::vector<int32_t>{10, 11, 12}));
  EXPECT_EQ(first->infoStoredSize(), 16);
  soup->unloadObject(first);
  soup->unloadObject(first);
  EXPECT_EQ(CountedRecord::alive, 1);
  EXPECT_EQ(soup->findRegisteredObject(index), first);
  soup->unloadObject(first);
  EXPECT_EQ(CountedRecord::alive, 0);
  EXPECT_EQ(soup->findRegisteredObject(index), nullptr);
  EXPECT_EQ(soup->findLoadedObject(index, 1), nullptr);

  EXPECT_EQ(soup->loadObject(0, std::make_unique<CountedRecord>()), nullptr);
  EXPECT_EQ(CountedRecord::alive, 0);
  EXPECT_EQ(soup->findLoadedObject(0, 1), nullptr);
}

TEST_F(SoupTest, MissingAndPreallocatedIndicesAreRefused) {
  openSoup();
  CountedRecord::alive = 0;
  expectRaise([&] { soup->loadObject(5, std::make_unique<CountedRecord>()); }, "EMU",
              "cJournaledIndexedObjectSoup.loadObject(); no object matches provided index");
  EXPECT_EQ(CountedRecord::alive, 0);
  EXPECT_EQ(soup->findRegisteredObject(5), nullptr);
  // A damaged link may name an index near 2^31: refused without keeping
  // anything for it (its bit among those of the loaded indices took 256 MB).
  const long rssBefore = peakRssKb();
  expectRaise([&] { soup->loadObject(0x7FFFFFF0, std::make_unique<CountedRecord>()); }, "EMU",
              "cJournaledIndexedObjectSoup.loadObject(); no object matches provided index");
  EXPECT_LT(peakRssKb() - rssBefore, 64 * 1024);
  EXPECT_EQ(CountedRecord::alive, 0);

  auto* reserved = new TestRecord;
  soup->preallocateObject(reserved);
  int32_t index = reserved->infoSoupIndex();
  EXPECT_EQ(reserved->infoUseCount(), -1);
  EXPECT_EQ(soup->findLoadedObject(index, 1), nullptr);
  EXPECT_EQ(soup->findRegisteredObject(index), reserved);
  expectRaise([&] { soup->loadObject(index, std::make_unique<TestRecord>()); }, "EMU",
              "cJournaledIndexedObjectSoup.loadObject(); no object matches provided index");
  EXPECT_EQ(reserved->infoUseCount(), -1);
  expectRaise([&] { soup->saveChangesToObject(reserved); }, "EMU",
              "cJournaledBlockFile.infoBlockOfIndex(); index is only preallocated");
  expectRaise([&] { soup->destroyObject(77); }, "EMU",
              "cJournaledIndexedObjectSoup.destroyObject(); no object matches provided index");
  EXPECT_FALSE(soup->infoMustClose());  // refusals change nothing
  expectRaise([] { TestRecord().infoSoupIndex(); }, "EMU",
              "cIndexedObject.infoSoupIndex(); object is not yet stored in the soup");
}

TEST_F(SoupTest, DestroyingALoadedObjectIsRefusedAndChangesNothing) {
  openSoup();
  auto* r = record(2);
  int32_t index = soup->createdObject(r);
  int64_t used = soup->infoUsedBytes();
  int commits = disk->commits;
  expectRaise([&] { soup->destroyObject(index); }, "EMU",
              "cJournaledIndexedObjectSoup.destroyObject(); specified object is still loaded");
  EXPECT_EQ(soup->infoUsedBytes(), used);
  EXPECT_EQ(disk->commits, commits);
  EXPECT_FALSE(soup->infoMustClose());
  soup->unloadAndDestroyObject(r);
  EXPECT_EQ(soup->infoUsedBytes(), 0);
  EXPECT_EQ(file->infoBlockOfIndex(index, true), 0);
}

// A block of capacity 100 keeps records of 81..100 bytes; 80 and 101 move,
// and usedBytes changes by exactly the capacities.
TEST_F(SoupTest, PlacementRuleKeepsOrMovesRecords) {
  openSoup();
  auto* r = record(24);  // 4 + 96 = 100 bytes
  int32_t index = soup->createdObject(r);
  int64_t home = file->infoBlockOfIndex(index, false);
  ASSERT_EQ(file->infoSizeOfIndexBlock(home), 100);
  for (int n : {20, 23, 24, 21}) {  // 84, 96, 100, 88 bytes
    r->values.resize(static_cast<size_t>(n), 5);
    soup->saveChangesToObject(r);
    EXPECT_EQ(file->infoBlockOfIndex(index, false), home) << n;
  }
  EXPECT_EQ(r->infoStoredSize(), 100);  // in place: left as it was
  EXPECT_EQ(loadValues(index).size(), 21u);

  r->values.resize(19);  // 80 bytes: moves
  int64_t used = soup->infoUsedBytes();
  soup->saveChangesToObject(r);
  int64_t moved = file->infoBlockOfIndex(index, false);
  EXPECT_NE(moved, home);
  EXPECT_EQ(r->infoStoredSize(), 80);
  EXPECT_EQ(soup->infoUsedBytes(), used - 100 + file->infoSizeOfIndexBlock(moved));
  EXPECT_EQ(loadValues(index).size(), 19u);

  r->values.resize(24);
  soup->saveChangesToObject(r);  // back to 100 in a block of 80: moves
  home = file->infoBlockOfIndex(index, false);
  r->values.resize(25);  // 101 bytes in a block of 100: moves
  used = soup->infoUsedBytes();
  soup->saveChangesToObject(r);
  int64_t grown = file->infoBlockOfIndex(index, false);
  EXPECT_NE(grown, home);
  EXPECT_EQ(soup->infoUsedBytes(), used - 100 + file->infoSizeOfIndexBlock(grown));
  EXPECT_EQ(file->getHeaderValue(kSoupUsedBytes), soup->infoUsedBytes());
  EXPECT_EQ(loadValues(index).size(), 25u);
  soup->unloadObject(r);
}

TEST_F(SoupTest, RootAndExtraValues) {
  openSoup();
  soup->setRootValue(-5);
  soup->writeExtra1(1);
  soup->writeExtra2(-2);
  soup->writeExtra3(int64_t{1} << 40);
  soup->close();
  openSoup();
  EXPECT_EQ(soup->infoRootValue(), -5);
  EXPECT_EQ(soup->readExtra1(), 1);
  EXPECT_EQ(soup->readExtra2(), -2);
  EXPECT_EQ(soup->readExtra3(), int64_t{1} << 40);
}

TEST_F(SoupTest, ArraysKeepTheirElementsAndUsedBytes) {
  openSoup();
  int32_t a = soup->allocArray(4, true);
  int64_t position = file->infoBlockOfIndex(a, false);
  int32_t capacity = file->infoSizeOfIndexBlock(position);
  EXPECT_GE(capacity, 16);
  EXPECT_EQ(soup->infoUsedBytes(), capacity + 12);
  for (int32_t i = 0; i <= 3; ++i) soup->writeArray(a, i, -i - 1);
  EXPECT_EQ(soup->readArray(a, 3), -4);
  std::vector<uint8_t> payload = file->payload(position - 4);
  EXPECT_EQ(payload[4 + 12 + 3], 0xFC);  // element 3, big-endian -4

  soup->resizeArray(a, 10, 4, true);
  int64_t resized = file->infoBlockOfIndex(a, false);
  EXPECT_EQ(soup->infoUsedBytes(), file->infoSizeOfIndexBlock(resized) + 12);
  EXPECT_EQ(soup->readArray(a, 2), -3);
  EXPECT_EQ(soup->readArray(a, 9), 0);
  soup->deallocArray(a);
  EXPECT_EQ(soup->infoUsedBytes(), 0);
  expectRaise([&] { soup->deallocArray(a); }, "EMU",
              "cJournaledIndexedObjectSoup.deallocArray(); no array matches provided index");
  expectRaise([&] { soup->resizeArray(a, 1, 1, false); }, "EMU",
              "cJournaledIndexedObjectSoup.resizeArray(); no array matches provided index");
}

// Elements outside 0 .. capacity/4 - 1 are refused before anything is read
// or written; the neighbouring block stays as it was.
TEST_F(SoupTest, ArrayElementsOutOfRangeAreRefused) {
  openSoup();
  int32_t a = soup->allocArray(3, true);
  int32_t neighbour = soup->createdAndUnloadObject(record(2, 40));
  int32_t last = file->infoSizeOfIndexBlock(file->infoBlockOfIndex(a, false)) / 4 - 1;
  soup->writeArray(a, last, 9);
  EXPECT_EQ(soup->readArray(a, last), 9);
  for (int32_t element : {last + 1, last + 2, -1, 1 << 30}) {
    expectRaise([&] { soup->writeArray(a, element, 1); }, "EMU",
                "cJournaledIndexedObjectSoup.writeArray(); element out of range");
    expectRaise([&] { soup->readArray(a, element); }, "EMU",
                "cJournaledIndexedObjectSoup.readArray(); element out of range");
  }
  EXPECT_EQ(loadValues(neighbour), (std::vector<int32_t>{40, 41}));
  EXPECT_FALSE(soup->infoMustClose());
}

// A damaged count in a record stops at the end of its block: the read
// raises instead of reading the neighbour or allocating for the count.
TEST_F(SoupTest, ARecordThatOverrunsItsBlockIsRefused) {
  openSoup();
  int32_t index = soup->createdAndUnloadObject(record(2));
  soup->createdAndUnloadObject(record(2, 100));
  int64_t position = file->infoBlockOfIndex(index, false);
  {
    SoupTransaction t(*file);
    uint8_t huge[4] = {0x7F, 0xFF, 0xFF, 0xFF};
    file->writeBytes(position, huge, 4);
    t.finish();
  }
  CountingAllocator<int32_t>::largest = 0;
  try {
    soup->loadObject(index, std::make_unique<GrowingRecord>());
    ADD_FAILURE() << "no exception";
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "BUG");
    EXPECT_EQ(e.message(), "cJournaledIndexedObjectSoup.loadObject(); record overruns its block");
  }
  EXPECT_EQ(soup->findRegisteredObject(index), nullptr);  // nothing half-read stays loaded
  EXPECT_LT(CountingAllocator<int32_t>::largest, size_t{1024});

  auto* registered = new TestRecord;
  soup->preallocateObject(registered);
  expectRaise([&] { soup->loadRegisteredObject(registered); }, "EMU",
              "cJournaledIndexedObjectSoup.loadObject(); no object matches provided index");
  // A stream left unfinished by the failure would refuse the next record.
  EXPECT_EQ(loadValues(2), (std::vector<int32_t>{100, 101}));
}

// A record is stored once per create or save: the bytes of that one store
// are the record, and the size its block was chosen by. A store that writes
// more than the last one moves the record, never over its neighbours.
TEST_F(SoupTest, EachStoreWritesTheRecordOnce) {
  struct Growing : TestRecord {
    int stores = 0;
    void restore(cRestoreStreamBase& stream, bool doStore) override {
      if (doStore) {
        ++stores;
        values.assign(stores == 1 ? 1 : 100, stores);
      }
      TestRecord::restore(stream, doStore);
    }
  };
  openSoup();
  int32_t before = soup->createdAndUnloadObject(record(1, 3));
  auto* growing = new Growing;
  int32_t index = soup->createdObject(growing);
  int32_t after = soup->createdAndUnloadObject(record(1, 4));
  EXPECT_EQ(loadValues(index), std::vector<int32_t>{1});
  soup->saveChangesToObject(growing);
  EXPECT_EQ(growing->stores, 2);
  soup->unloadObject(growing);
  EXPECT_EQ(loadValues(index), std::vector<int32_t>(100, 2));
  EXPECT_EQ(loadValues(before), std::vector<int32_t>{3});
  EXPECT_EQ(loadValues(after), std::vector<int32_t>{4});
}

// --- the must-close state --------------------------------------------------------------

TEST_F(SoupTest, AFailingRestoreDiscardsAndTheSoupMustClose) {
  openSoup();
  auto* r = record(2, 1);
  int32_t index = soup->createdObject(r);
  auto* other = record(1, 50);
  int32_t otherIndex = soup->createdObject(other);
  int commits = disk->commits;

  int32_t id = soup->beginTransaction();
  other->values = {51};
  soup->saveChangesToObject(other);  // uncommitted work of the same run
  r->values = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
  r->throwOnStore = true;
  expectRaise([&] { soup->saveChangesToObject(r); }, "ERR", "TestRecord.restore(); failing as asked");
  EXPECT_TRUE(soup->infoMustClose());
  EXPECT_EQ(file->infoTransactionDepth(), 0);

  const char* kMustClose = "cJournaledIndexedObjectSoup.%s(); changes were discarded, close the database";
  auto text = [&](const char* method) {
    char buffer[200];
    snprintf(buffer, sizeof buffer, kMustClose, method);
    return std::string(buffer);
  };
  expectRaise([&] { soup->finishTransaction(id); }, "TRAN", text("finishTransaction").c_str());
  expectRaise([&] { soup->saveChangesToObject(other); }, "TRAN", text("saveChangesToObject").c_str());
  TestRecord fresh;
  expectRaise([&] { soup->createdObject(&fresh); }, "TRAN", text("createdObject").c_str());
  expectRaise([&] { soup->destroyObject(otherIndex); }, "TRAN", text("destroyObject").c_str());
  expectRaise([&] { soup->beginTransaction(); }, "TRAN", text("beginTransaction").c_str());
  expectRaise([&] { soup->writeArray(1, 0, 0); }, "TRAN", text("writeArray").c_str());
  expectRaise([&] { soup->setRootValue(1); }, "TRAN", text("setRootValue").c_str());

  // Loads, unloads, queries, the time and the flag still work; flush writes
  // nothing. Objects loaded before the discard may differ from the file.
  soup->unloadObject(r);
  EXPECT_EQ(loadValues(index), (std::vector<int32_t>{1, 2}));
  soup->unloadObject(other);
  EXPECT_EQ(loadValues(otherIndex), (std::vector<int32_t>{50}));
  soup->flush();
  EXPECT_EQ(disk->commits, commits);
  soup->setTime(123);
  soup->setNeedsRepair(false);
  soup->close();  // acts as closeQuickly: the open mark stays
  EXPECT_EQ(disk->times["db"], 123);
  EXPECT_EQ(disk->commits, commits);

  openSoup();
  EXPECT_TRUE(soup->infoNeedsRepair());
  EXPECT_FALSE(soup->infoMustClose());
  EXPECT_EQ(loadValues(index), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(loadValues(otherIndex), (std::vector<int32_t>{50}));
}

TEST_F(SoupTest, ADiscardRaisedBelowTheSoupEntersMustClose) {
  openSoup();
  auto* r = record(1, 1);
  int32_t index = soup->createdObject(r);
  r->values = {2};
  file->failWriteAfter(1);
  expectRaise([&] { soup->saveChangesToObject(r); }, "FULL", "fake: disk full");
  EXPECT_TRUE(soup->infoMustClose());
  EXPECT_EQ(file->discards(), 1);
  soup->unloadObject(r);
  EXPECT_EQ(loadValues(index), (std::vector<int32_t>{1}));
  // The sequence of a start-up whose repair gave up: setTime, closeQuickly.
  soup->setTime(5);
  soup->closeQuickly();
  EXPECT_EQ(disk->times["db"], 5);
  openSoup();
  EXPECT_TRUE(soup->infoNeedsRepair());
}

TEST_F(SoupTest, TransactionMisuseEntersMustClose) {
  openSoup();
  int32_t outer = soup->beginTransaction();
  soup->createdAndUnloadObject(record(1));
  soup->beginTransaction();
  expectRaise([&] { soup->finishTransaction(outer); }, "TRAN",
              "cJournaledFile.finishTransaction(); the wrong transaction was finished");
  EXPECT_TRUE(soup->infoMustClose());
  EXPECT_EQ(soup->infoUsedBytes(), 0);  // reloaded from the file
  expectRaise([&] { soup->loadObject(1, std::make_unique<TestRecord>()); }, "EMU",
              "cJournaledIndexedObjectSoup.loadObject(); no object matches provided index");
}

TEST_F(SoupTest, ClosingWithATransactionOpen) {
  openSoup();
  soup->createdAndUnloadObject(record(1));
  soup->beginTransaction();
  soup->createdAndUnloadObject(record(2));
  expectRaise([&] { soup->close(); }, "TRAN", "cJournaledFile.close(); there were outstanding transactions");
  EXPECT_TRUE(soup->isOpen());
  EXPECT_TRUE(soup->infoMustClose());
  soup->close();
  EXPECT_FALSE(soup->isOpen());
  openSoup();
  EXPECT_TRUE(soup->infoNeedsRepair());
  EXPECT_EQ(loadValues(1).size(), 1u);
  expectRaise([&] { loadValues(2); }, "EMU",
              "cJournaledIndexedObjectSoup.loadObject(); no object matches provided index");

  // The destructor with a transaction open closes quickly and never throws.
  soup->beginTransaction();
  soup->createdAndUnloadObject(record(3));
  soup.reset();
  openSoup();
  EXPECT_TRUE(soup->infoNeedsRepair());
  EXPECT_EQ(soup->findRegisteredObject(2), nullptr);
}

TEST_F(SoupTest, AClosedSoupRefusesWork) {
  auto f = std::make_unique<FakeSoupBlockFile>(disk);
  cJournaledIndexedObjectSoup closed(std::move(f));
  TestRecord fresh;
  expectRaise([&] { closed.createdObject(&fresh); }, "EMU",
              "cJournaledIndexedObjectSoup.createdObject(); the soup is not open");
  expectRaise([&] { closed.loadObject(1, std::make_unique<TestRecord>()); }, "EMU",
              "cJournaledIndexedObjectSoup.loadObject(); the soup is not open");
  EXPECT_EQ(closed.findLoadedObject(1, 1), nullptr);
  closed.close();
  closed.closeQuickly();
}

}  // namespace
}  // namespace bw
