// database/block_index_test.cpp - the index array: layout of a new file,
// the free chain, growth and shrinking, preallocation, reallocation, the
// index limit and the upgrade of older layouts.
#include "database/block_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/raise_test_support.h"
#include "database/block_layout_check_test_support.h"
#include "database/memory_block_store.h"

namespace bw {
namespace {

class BlockIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.setDiscardHook([this] {
      heap.reloadMirrors();
      index.reloadMirrors();
    });
    heap.createHeader();
    index.createIndex();
  }
  int64_t entry(int64_t e) { return getBig64(store.committed().data() + index.arrayBlock() + 8 * e); }
  void expectClean() { EXPECT_EQ(testing_blocks::checkIndex(store.committed()), std::vector<std::string>{}); }
  std::vector<int32_t> allocateMany(int n) {
    std::vector<int32_t> out;
    for (int k = 0; k < n; ++k) out.push_back(index.allocateIndexBlock(8, false).index);
    return out;
  }
  void setEntry(int64_t e, int64_t value) {
    BlockTransaction tx(store);
    heap.writeArrayEntry(index.arrayBlock(), e, value);
    tx.finish();
  }

  MemoryBlockStore store;
  BlockHeap heap{store};
  BlockIndex index{heap};
};

TEST_F(BlockIndexTest, NewFileLayout) {
  EXPECT_EQ(index.infoDummyBlock(), 8504);
  EXPECT_EQ(index.arrayBlock(), 8532);
  EXPECT_EQ(getBig64(store.committed().data() + 8), 8532);
  EXPECT_EQ(store.committed().size(), 9556u);
  EXPECT_EQ(heap.infoSizeOfBlock(8532), 1024);
  const int64_t head[] = {2, 14, 128, 114, 14, 8504};
  for (int e = 0; e < 6; ++e) EXPECT_EQ(entry(e), head[e]) << e;
  for (int e = 6; e < 14; ++e) EXPECT_EQ(entry(e), 0) << e;
  for (int e = 14; e < 127; ++e) ASSERT_EQ(entry(e), -(e + 1)) << e;
  EXPECT_EQ(entry(127), 0);
  expectClean();

  IndexedBlock first = index.allocateIndexBlock(1, false);
  EXPECT_EQ(first.index, 1);
  EXPECT_EQ(first.dataPosition, 9568);
  EXPECT_EQ(index.firstFree(), 15);
  EXPECT_EQ(index.infoIndexOfBlock(9568), 1);
  EXPECT_EQ(index.infoBlockOfIndex(1, false), 9568);
  EXPECT_EQ(getBig32(store.committed().data() + 9564), 14u);
  expectClean();
}

TEST_F(BlockIndexTest, IndexArraysCarryTheirWordAndElements) {
  IndexedBlock empty = index.allocateIndexArray(0, true);
  EXPECT_EQ(heap.infoSizeOfBlock(empty.dataPosition - 4), 20);  // a 28-byte block
  EXPECT_EQ(index.infoIndexOfBlock(empty.dataPosition), empty.index);
  IndexedBlock arr = index.allocateIndexArray(3, true);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(index.readIndexArrayElement(arr.dataPosition, k), 0u);
  EXPECT_EQ(getBig32(store.committed().data() + arr.dataPosition - 4), static_cast<uint32_t>(arr.index + 13));
  {
    BlockTransaction tx(store);
    index.writeIndexArrayElement(arr.dataPosition, 2, 0xDEADBEEF);
    tx.finish();
  }
  int64_t moved = index.reallocateIndexArray(arr.index, 5, 3, true);
  EXPECT_EQ(index.readIndexArrayElement(moved, 2), 0xDEADBEEFu);
  EXPECT_EQ(index.readIndexArrayElement(moved, 4), 0u);
  EXPECT_GE(index.infoSizeOfIndexBlock(moved), 20);
  expectClean();
}

TEST_F(BlockIndexTest, GrowthFreeChainAndShrinking) {
  std::vector<int32_t> ids = allocateMany(114);
  EXPECT_EQ(index.firstFree(), 0);
  EXPECT_EQ(index.arrayFree(), 0);
  IndexedBlock grown = index.allocateIndexBlock(8, false);
  EXPECT_EQ(grown.index, 115);
  EXPECT_EQ(index.arraySize(), 512);
  EXPECT_EQ(index.arrayFree(), 383);
  EXPECT_EQ(index.firstFree(), 129);
  expectClean();

  ids.push_back(grown.index);
  for (int32_t id : ids) index.deallocateIndex(id);
  EXPECT_EQ(index.arraySize(), 128);
  EXPECT_EQ(index.arrayFree(), 114);
  EXPECT_EQ(index.firstFree(), 14);
  EXPECT_EQ(entry(127), 0);
  EXPECT_EQ(entry(2), 128);
  expectClean();
}

TEST_F(BlockIndexTest, FreedEntriesJoinTheChainInOrder) {
  allocateMany(114);
  index.deallocateIndex(5);
  EXPECT_EQ(index.firstFree(), 18);
  EXPECT_EQ(entry(18), 0);
  index.deallocateIndex(10);
  index.deallocateIndex(3);
  EXPECT_EQ(index.firstFree(), 16);
  EXPECT_EQ(entry(16), -18);
  EXPECT_EQ(entry(18), -23);
  index.deallocateIndex(7);  // between two free entries
  EXPECT_EQ(entry(18), -20);
  EXPECT_EQ(entry(20), -23);
  EXPECT_EQ(index.arrayFree(), 4);
  expectClean();
  expectRaise([&] { index.deallocateIndex(7); }, "EMU", "cJournaledBlockFile.deallocateIndex(); index is not allocated");
  expectRaise([&] { index.deallocateIndex(0); }, "EMU", "cJournaledBlockFile.deallocateIndex(); index is out of bounds");
  expectRaise([&] { index.deallocateIndex(115); }, "EMU",
              "cJournaledBlockFile.deallocateIndex(); index is out of bounds");
}

TEST_F(BlockIndexTest, FreeingTenThenThree) {
  allocateMany(20);
  index.deallocateIndex(10);
  index.deallocateIndex(3);
  EXPECT_EQ(index.firstFree(), 16);
  EXPECT_EQ(entry(16), -23);
  expectClean();
}

TEST_F(BlockIndexTest, Preallocation) {
  int32_t pre = index.preallocateIndex();
  EXPECT_TRUE(index.infoIsPreallocated(pre));
  expectRaise([&] { index.infoBlockOfIndex(pre, false); }, "EMU",
              "cJournaledBlockFile.infoBlockOfIndex(); index is only preallocated");
  EXPECT_EQ(index.infoBlockOfIndex(pre, true), 0);
  expectRaise([&] { index.infoBlockOfIndex(pre + 1, false); }, "EMU",
              "cJournaledBlockFile.infoBlockOfIndex(); index is not allocated to a block");
  EXPECT_EQ(index.infoBlockOfIndex(-5, true), 0);
  int64_t size = static_cast<int64_t>(store.committed().size());
  index.deallocateIndex(pre);
  EXPECT_EQ(static_cast<int64_t>(store.committed().size()), size);
  EXPECT_EQ(index.arrayFree(), 114);
  expectClean();

  pre = index.preallocateIndex();
  int64_t data = index.reallocateIndex(pre, 30, true, 30);  // nothing to keep
  EXPECT_FALSE(index.infoIsPreallocated(pre));
  EXPECT_EQ(index.infoBlockOfIndex(pre, false), data);
  expectClean();
}

TEST_F(BlockIndexTest, PreallocatedAnswersFalseOutsideTheArray) {
  // Entry 5 + 13 = 18 is free; far indices would read other blocks' bytes.
  setEntry(127, index.infoDummyBlock());
  EXPECT_TRUE(index.infoIsPreallocated(114));
  EXPECT_FALSE(index.infoIsPreallocated(115));
  EXPECT_FALSE(index.infoIsPreallocated(0));
  EXPECT_FALSE(index.infoIsPreallocated(-13));
  // Entry 128 would be the dummy block's handle as read past the array end.
  int64_t beyond = index.arrayBlock() + 8 * 128;
  {
    BlockTransaction tx(store);
    heap.writeWord(beyond, index.infoDummyBlock());
    tx.finish();
  }
  EXPECT_FALSE(index.infoIsPreallocated(115));
}

TEST_F(BlockIndexTest, ReallocateKeepsTheNumberAndTheLeadingBytes) {
  IndexedBlock b = index.allocateIndexBlock(60, false);
  {
    std::vector<uint8_t> bytes(60);
    for (int k = 0; k < 60; ++k) bytes[static_cast<size_t>(k)] = static_cast<uint8_t>(k + 1);
    BlockTransaction tx(store);
    store.writeData(b.dataPosition, bytes.data(), 60);
    tx.finish();
  }
  int64_t d = index.reallocateIndex(b.index, 100, true, 40);
  EXPECT_NE(d, b.dataPosition);
  EXPECT_EQ(index.infoBlockOfIndex(b.index, false), d);
  EXPECT_EQ(index.infoIndexOfBlock(d), b.index);
  const uint8_t* at = store.committed().data() + d;
  for (int k = 0; k < 40; ++k) ASSERT_EQ(at[k], k + 1) << k;
  for (int k = 40; k < 100; ++k) ASSERT_EQ(at[k], 0) << k;
  expectClean();
  expectRaise([&] { index.reallocateIndex(b.index + 1, 8, false, 0); }, "EMU",
              "cJournaledIndexedBlockFile.reallocateIndex(); index is not allocated");
  expectRaise([&] { index.reallocateIndex(200, 8, false, 0); }, "EMU",
              "cJournaledBlockFile.reallocateIndex(); index is out of bounds");
}

TEST_F(BlockIndexTest, IndexOfABlockChecksTheWord) {
  IndexedBlock b = index.allocateIndexBlock(8, false);
  {
    BlockTransaction tx(store);
    heap.write32(b.dataPosition - 4, 5);
    tx.finish();
  }
  expectRaise([&] { index.infoIndexOfBlock(b.dataPosition); }, "EMU",
              "cJournaledBlockFile.infoIndexOfBlock(); index is out of bounds, probably due to providing an incorrect "
              "block");
}

TEST_F(BlockIndexTest, HeaderValues) {
  index.setHeaderValue(6, -7);
  index.setHeaderValue(13, int64_t{1} << 40);
  EXPECT_EQ(index.getHeaderValue(6), -7);
  EXPECT_EQ(entry(13), int64_t{1} << 40);
  EXPECT_EQ(getBig64(store.committed().data() + 8), index.arrayBlock());
  // Their mirror answers what the array holds: after a discard, and after
  // the array moved to a larger block.
  {
    BlockTransaction tx(store);
    index.setHeaderValue(9, 5);
    EXPECT_EQ(index.getHeaderValue(9), 5);
  }  // left unfinished: discarded
  EXPECT_EQ(index.getHeaderValue(9), 0);
  allocateMany(200);
  for (int e = 6; e < 14; ++e) EXPECT_EQ(index.getHeaderValue(e), entry(e)) << e;
}

TEST_F(BlockIndexTest, InconsistentCountsAndChainsAreReported) {
  auto reload = [&](int64_t e, int64_t value) {
    setEntry(e, value);
    index.openIndex();
  };
  std::vector<uint8_t> fresh = store.committed();
  auto restart = [&] {
    store.replaceCommitted(fresh);
    heap.loadHeader();
    index.openIndex();
  };
  reload(4, 0);  // no chain, but 114 counted free
  expectRaise([&] { index.allocateIndexBlock(4, false); }, "BUG",
              "cJournaledIndexedBlockFile.privateAllocateIndex(); arrayFree<>0");
  restart();
  reload(14, 9999);  // the chain's head holds a handle
  expectRaise([&] { index.allocateIndexBlock(4, false); }, "BUG",
              "cJournaledIndexedBlockFile.privateAllocateIndex(); firstFree<0");
  restart();
  reload(3, 0);
  expectRaise([&] { index.allocateIndexBlock(4, false); }, "BUG",
              "cJournaledBlockFile.privateAllocateIndex(); arrayFree<0");
  restart();
  allocateMany(3);
  reload(3, 114);
  expectRaise([&] { index.deallocateIndex(2); }, "BUG", "cJournaledBlockFile.deallocateIndex(); arrayFree>max");
  restart();
  allocateMany(3);
  reload(4, 0);  // entries 17.. free but unchained; freeing 2 finds no free entry below
  reload(4, 15);
  setEntry(15, 1);
  expectRaise([&] { index.deallocateIndex(3); }, "BUG", "cJournaledIndexedBlockFile.deallocateIndex(); value>0");
  restart();
  for (int64_t e = 14; e < 128; ++e) setEntry(e, index.infoDummyBlock());
  expectRaise([&] { index.resizeIndexArray(512); }, "BUG",
              "cJournaledIndexedBlockFile.resizeIndexArray(); i<BLOCKINDEX_MIN");
}

TEST_F(BlockIndexTest, IndexLimit) {
  ::testing::internal::CaptureStdout();
  setEntry(4, 1073741824);
  index.openIndex();
  EXPECT_TRUE(index.admitAtOpen("soup"));
  setEntry(4, 2147483632);
  index.openIndex();
  EXPECT_FALSE(index.admitAtOpen("soup"));
  store.setPath("Work:soup");
  expectRaise([&] { index.allocateIndexBlock(8, false); }, "BUG",
              "cJournaledIndexedBlockFile.privateAllocateIndex(); Reached the 2^31 index limit");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "WARNING: The JIBF \"soup\" is 50% of the way to the 2^31 index limit.\n"
            "ERROR: The JIBF \"soup\" has reached the 2^31 index limit, and cannot be opened.\n"
            "ERROR: The JIBF \"Work:soup\" has reached the 2^31 index limit.\n");
  EXPECT_TRUE(store.closed());
}

TEST_F(BlockIndexTest, ADiscardRereadsTheMirrors) {
  std::vector<int32_t> ids = allocateMany(3);
  try {
    BlockTransaction outer(store);
    allocateMany(120);  // grows the array, moves it, changes every mirror
    index.deallocateIndex(ids[1]);
    throw std::runtime_error("caller failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(index.arraySize(), 128);
  EXPECT_EQ(index.arrayFree(), 111);
  EXPECT_EQ(index.firstFree(), 17);
  EXPECT_EQ(heap.tailPos(), static_cast<int64_t>(store.committed().size()) - 28);
  EXPECT_EQ(index.readEntry(15), ids[1] == 2 ? index.infoBlockOfIndex(2, false) - 4 : 0);
  IndexedBlock next = index.allocateIndexBlock(8, false);
  EXPECT_EQ(next.index, 4);
  expectClean();
}

TEST_F(BlockIndexTest, ExceptionsBeforeAnyChangeKeepTheCallersWork) {
  BlockTransaction outer(store);
  IndexedBlock kept = index.allocateIndexBlock(8, false);
  expectRaise([&] { index.deallocateIndex(50); }, "EMU", "cJournaledBlockFile.deallocateIndex(); index is not allocated");
  expectRaise([&] { heap.deallocate(kept.dataPosition + 100); }, "EMU",
              "cJournaledBlockFile.deallocate(); nonsensical block value");
  outer.finish();
  EXPECT_EQ(index.infoBlockOfIndex(kept.index, false), kept.dataPosition);
  expectClean();
}

// --- older layouts ----------------------------------------------------------------------------------

// Writes an array of the given entries as the file's index array.
class UpgradeTest : public BlockIndexTest {
 protected:
  // Builds a version-1 or version-2 array of `size` entries with `special`
  // header entries; used entries get a block whose index word is their
  // entry number; free entries are chained in ascending order.
  void build(int64_t version, int32_t special, int32_t size, const std::vector<int32_t>& usedEntries) {
    BlockTransaction tx(store);
    heap.deallocate(index.arrayBlock());
    int64_t array = heap.allocArray(size, true);
    heap.setUserValue(array);
    std::vector<int64_t> values(static_cast<size_t>(size), 0);
    int32_t freeCount = 0, firstFree = 0, prevFree = 0;
    for (int32_t e = special; e < size; ++e) {
      bool used = std::find(usedEntries.begin(), usedEntries.end(), e) != usedEntries.end();
      if (used) {
        int64_t h = heap.allocate(12, false);
        heap.write32(h, static_cast<uint32_t>(e));
        heap.write32(h + 4, 0xA0000000u + static_cast<uint32_t>(e));
        values[static_cast<size_t>(e)] = h;
        continue;
      }
      ++freeCount;
      if (prevFree) values[static_cast<size_t>(prevFree)] = -e; else firstFree = e;
      prevFree = e;
    }
    std::vector<int64_t> head;
    if (version == 1) {
      head = {1, size, freeCount, firstFree, index.infoDummyBlock(), 55, 66, 77};
    } else {
      head = {2, special, size, freeCount, firstFree, index.infoDummyBlock()};
      for (int32_t e = 6; e < special; ++e) head.push_back(100 + e);
    }
    for (size_t e = 0; e < head.size(); ++e) values[e] = head[e];
    for (int32_t e = 0; e < size; ++e) heap.writeArrayEntry(array, e, values[static_cast<size_t>(e)]);
    tx.finish();
  }
  // The data word of the block of user index i.
  uint32_t tag(int32_t userIndex) {
    return getBig32(store.committed().data() + index.infoBlockOfIndex(userIndex, false));
  }
};

TEST_F(UpgradeTest, Version1IndicesKeepTheirNumbers) {
  build(1, 8, 40, {8, 9, 20, 39});
  index.openIndex();
  EXPECT_EQ(index.specialCount(), 14);
  for (int32_t old : {8, 9, 20, 39}) EXPECT_EQ(tag(old), 0xA0000000u + static_cast<uint32_t>(old)) << old;
  EXPECT_EQ(index.arraySize(), 160);  // the last entry was in use: grown x4
  EXPECT_EQ(entry(6), 55);
  EXPECT_EQ(entry(8), 77);
  EXPECT_EQ(entry(9), 0);
  EXPECT_EQ(index.firstFree(), 14);
  for (int e = 14; e < 20; ++e) EXPECT_EQ(entry(e), -(e + 1));
  expectClean();
  IndexedBlock b = index.allocateIndexBlock(4, false);
  EXPECT_EQ(b.index, 1);
}

TEST_F(UpgradeTest, Version2WithFewerHeaderEntries) {
  for (int32_t special : {10, 11, 12, 13}) {
    SCOPED_TRACE(special);
    TearDown();
    store.replaceCommitted({});
    {
      BlockTransaction tx(store);
      store.setDataSize(0);
      tx.finish();
    }
    heap.createHeader();
    index.createIndex();
    build(2, special, 64, {special, special + 1, 30});
    index.openIndex();
    int32_t shift = 14 - special;
    for (int32_t e : {special, special + 1, 30}) {
      int32_t user = e - (special - 1);
      EXPECT_EQ(tag(user), 0xA0000000u + static_cast<uint32_t>(e));
      EXPECT_EQ(index.infoIndexOfBlock(index.infoBlockOfIndex(user, false)), user);
    }
    EXPECT_EQ(index.arraySize(), 64);
    EXPECT_EQ(entry(6), 106);
    EXPECT_EQ(entry(13), special > 13 ? 113 : 0);
    EXPECT_EQ(index.arrayFree(), 64 - special - 3 - shift);
    expectClean();
  }
}

TEST_F(UpgradeTest, Version2WhoseOnlyFreeEntriesDropOff) {
  std::vector<int32_t> used;
  for (int32_t e = 12; e < 28; ++e) used.push_back(e);
  build(2, 12, 30, used);  // entries 28 and 29 are the only free ones
  index.openIndex();
  EXPECT_EQ(index.arrayFree(), 0);
  EXPECT_EQ(index.firstFree(), 0);
  expectClean();
  EXPECT_EQ(index.allocateIndexBlock(4, false).index, 17);
  expectClean();
}

TEST_F(UpgradeTest, UnknownVersionsAndSizesAreRefused) {
  build(2, 14, 32, {});
  setEntry(0, 3);
  expectRaise([&] { index.openIndex(); }, "EMU", "cJournaledIndexedBlockFile.open(); file version not supported");
  setEntry(0, 2);
  setEntry(2, 40);
  expectRaise([&] { index.openIndex(); }, "EMU",
              "cJournaledIndexedBlockFile.open(); arraySize does not fit the index array");
}

}  // namespace
}  // namespace bw
