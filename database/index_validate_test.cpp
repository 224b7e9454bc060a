// database/index_validate_test.cpp - the findings of the index's
// validation: the special blocks, the array size, entries against their
// blocks and index words, the free chain and its count, unaccounted blocks,
// and the sets handed to the layer above.
#include "database/index_validate.h"

#include <gtest/gtest.h>

#include "database/validate_test_support.h"

namespace bw {
namespace {

// Dummy block 8496 (handle 8504), index array 8524 (handle 8532), then the
// blocks of indices 1, 2, 3 (entries 14, 15, 16) from 9556, 52 bytes each.
class IndexValidateTest : public testing::HeapFixture {
 protected:
  void SetUp() override {
    HeapFixture::SetUp();
    index.createIndex();
    indexed = true;
    for (int k = 0; k < 3; ++k) data.push_back(index.allocateIndexBlock(40, true).dataPosition);
    store.flush();
  }
  int64_t entryPos(int64_t e) { return index.arrayBlock() + 8 * e; }
  int64_t entry(int64_t e) { return heap.readWord(entryPos(e)); }
  void setEntry(int64_t e, int64_t value) { patch64(entryPos(e), value); }

  void expectRepaired(const std::string& lines) {
    Run r = validateIndex(true);
    EXPECT_EQ(r.out, lines);
    EXPECT_TRUE(r.valid);
    EXPECT_TRUE(r.repaired);
    store.flush();
    EXPECT_EQ(layoutFindings(), std::vector<std::string>{});
    Run again = validateIndex(false);
    EXPECT_EQ(again.out, "");
    EXPECT_TRUE(again.valid);
  }
  void expectFound(const std::string& lines) {
    std::vector<uint8_t> before = store.current();
    Run r = validateIndex(false);
    EXPECT_EQ(r.out, lines);
    EXPECT_FALSE(r.valid);
    EXPECT_FALSE(r.repaired);
    EXPECT_TRUE(lastIndices.empty());
    EXPECT_FALSE(lastBlocksKept);
    EXPECT_EQ(store.current(), before);
  }

  std::vector<int64_t> data;
};

TEST_F(IndexValidateTest, ValidFileAndItsSets) {
  MemoryBlockStore freshStore;
  BlockHeap freshHeap(freshStore);
  BlockIndex freshIndex(freshHeap);
  freshHeap.createHeader();
  freshIndex.createIndex();
  ::testing::internal::CaptureStdout();
  ValidationResult fresh = validateIndexedHeap(freshHeap, freshIndex, true, true, true);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(fresh.valid);
  EXPECT_FALSE(fresh.repaired);
  ASSERT_NE(fresh.indices, nullptr);
  EXPECT_EQ(fresh.indices->infoCount(), 0u);

  int32_t reserved = index.preallocateIndex();  // index 4
  Run r = validateIndex(false);
  EXPECT_TRUE(r.valid);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(lastIndices, (std::vector<int64_t>{reserved, 3, 2, 1}));
  EXPECT_EQ(r.set.size(), 5u);  // three data blocks, the array, the dummy

  r = validateIndex(false, false);
  EXPECT_TRUE(r.valid);
  EXPECT_TRUE(lastIndices.empty());
  EXPECT_FALSE(lastBlocksKept);
}

TEST_F(IndexValidateTest, FirstFreeBeyondTheFirstFreeEntry) {
  index.deallocateIndex(1);  // entry 14 free again, firstFree 14
  setEntry(4, 20);
  expectFound("For empty index=0, value=-20 expected -14\n");
  expectRepaired("For empty index=0, value=-20 expected -14\n");
  EXPECT_EQ(index.firstFree(), 14);
}

TEST_F(IndexValidateTest, HeaderEntriesAreCheckedWithAllTheirBits) {
  index.deallocateIndex(1);
  setEntry(4, (int64_t{1} << 32) + 14);  // its low 32 bits look right
  expectRepaired("For empty index=0, value=-4294967310 expected -14\n");
  setEntry(3, (int64_t{1} << 32) + 112);
  expectRepaired("Index's arrayFree=4294967408 expected 112\n");
  setEntry(2, (int64_t{1} << 32) + 128);
  Run r = validateIndex(true);
  EXPECT_EQ(r.out, "Index's arraySize=4294967424 but expected about 128\n");
  EXPECT_FALSE(r.valid);
}

TEST_F(IndexValidateTest, LastFreeEntryMustEndTheChain) {
  setEntry(127, -5);
  expectFound("For empty index=127, value=-5 expected 0\n");
  expectRepaired("For empty index=127, value=-5 expected 0\n");
  EXPECT_EQ(entry(127), 0);
}

TEST_F(IndexValidateTest, FreeCountIsCorrected) {
  setEntry(3, 112);
  expectFound("Index's arrayFree=112 expected 111\n");
  expectRepaired("Index's arrayFree=112 expected 111\n");
  EXPECT_EQ(index.arrayFree(), 111);
}

TEST_F(IndexValidateTest, UnreferencedBlockIsFreed) {
  int64_t stray = heap.allocate(40, true);
  index.allocateIndexBlock(8, true);  // keeps the stray block from being the tail
  store.flush();
  std::string line = "Block " + std::to_string(stray) + " is allocated but not used (indexed)\n";
  expectFound(line);
  expectRepaired(line);
  blockRecord r;
  heap.readBlockHeader(r, stray - 8, false);
  EXPECT_TRUE(r.isFree);
}

TEST_F(IndexValidateTest, IndexWordIsRewritten) {
  patch32(data[1] - 4, 99);
  std::string line = "For block " + std::to_string(data[1] - 4) + ", index=99 expected 15\n";
  expectFound(line);
  expectRepaired(line);
}

// An entry naming a block the heap does not hold is freed as an entry: the
// number it holds is never handed to the allocator, and the chain and the
// count take the entry in order.
TEST_F(IndexValidateTest, MissingBlockFreesOnlyTheEntry) {
  setEntry(15, 12345);
  patch32(data[1] - 4, 0);  // and its block no longer names the entry
  int64_t size = store.dataSize();
  // The block entry 15 had is now unaccounted for and freed on its own.
  std::string lines = "For index=15, block 12345 does not exist!\nBlock " + std::to_string(data[1] - 4) +
                      " is allocated but not used (indexed)\n";
  expectFound(lines);
  expectRepaired(lines);
  EXPECT_EQ(index.firstFree(), 15);
  EXPECT_EQ(entry(15), -17);
  EXPECT_EQ(index.arrayFree(), 112);
  EXPECT_EQ(store.dataSize(), size);  // 12345 was never handed to the allocator
  EXPECT_EQ(index.allocateIndexBlock(8, true).index, 2);
}

TEST_F(IndexValidateTest, MissingBlockInsideAnotherBlockIsNotFreed) {
  // Bytes inside index 3's data that look like a used block's header: the
  // entry naming them must not reach the allocator.
  patch32(data[2] + 4, 28);
  patch32(data[2] + 8, 0);
  setEntry(15, data[2] + 12);
  std::string lines = "For index=15, block " + std::to_string(data[2] + 12) + " does not exist!\nFor index=15, block " +
                      std::to_string(data[1] - 4) + " holds it but the entry does not name it\n";
  expectRepaired(lines);
  EXPECT_EQ(heap.read32(data[2] + 4), 28u);
  EXPECT_EQ(index.infoBlockOfIndex(3, false), data[2]);
  EXPECT_EQ(index.infoBlockOfIndex(2, false), data[1]);  // its own block, named by its index word
}

TEST_F(IndexValidateTest, BlockClaimedTwiceIsKeptForItsFirstEntry) {
  setEntry(16, data[0] - 4);  // index 3 names index 1's block
  std::string lines = "For index=16, block " + std::to_string(data[0] - 4) + " does not exist!\n" +
                      "For index=16, block " + std::to_string(data[2] - 4) + " holds it but the entry does not name it\n";
  expectFound(lines);
  expectRepaired(lines);
  EXPECT_EQ(index.infoBlockOfIndex(1, false), data[0]);
  EXPECT_EQ(index.infoBlockOfIndex(3, true), data[2]);
}

// Zeroed entries (a lost stretch of the array) take back the blocks whose
// index word names them; a word two blocks claim is taken by neither.
TEST_F(IndexValidateTest, ZeroedEntriesTakeBackTheirBlocks) {
  setEntry(14, 0);
  setEntry(16, 0);
  expectFound("For index=14, block " + std::to_string(data[0] - 4) + " holds it but the entry does not name it\n" +
              "For index=16, block " + std::to_string(data[2] - 4) + " holds it but the entry does not name it\n");
  Run r = validateIndex(true);
  EXPECT_TRUE(r.valid && r.repaired) << r.out;
  EXPECT_EQ(validateIndex(false).out, "");
  for (int k = 0; k < 3; ++k) EXPECT_EQ(index.infoBlockOfIndex(k + 1, false), data[static_cast<size_t>(k)]);
  EXPECT_EQ(index.allocateIndexBlock(8, true).index, 4);

  setEntry(15, 0);
  setEntry(16, 0);
  patch32(data[2] - 4, 15);  // index 3's block claims entry 15 too
  r = validateIndex(true);
  EXPECT_TRUE(r.valid && r.repaired) << r.out;
  EXPECT_EQ(validateIndex(false).out, "");
  EXPECT_EQ(index.infoBlockOfIndex(2, true), 0);
  EXPECT_EQ(index.infoBlockOfIndex(3, true), 0);
  EXPECT_EQ(index.infoBlockOfIndex(1, false), data[0]);
}

TEST_F(IndexValidateTest, SpecialBlocks) {
  setEntry(5, 9000);
  expectFound(
      "The special Index dummyBlock=9000 does not exist!\n"
      "Block 8504 is allocated but not used (indexed)\n");
  setEntry(5, 8504);

  std::vector<uint8_t> before = store.current();
  patch64(8, 9000);  // word 1: the array's handle
  for (bool repair : {false, true}) {
    Run r = validateIndex(repair);
    EXPECT_EQ(r.out, "The special Index arrayBlock=9000 does not exist!\n");
    EXPECT_FALSE(r.valid);
    EXPECT_FALSE(r.repaired);
  }
}

TEST_F(IndexValidateTest, ArraySizeThatDoesNotFitItsBlockAborts) {
  setEntry(2, 200);
  std::vector<uint8_t> before = store.current();
  for (bool repair : {false, true}) {
    Run r = validateIndex(repair);
    EXPECT_EQ(r.out, "Index's arraySize=200 but expected about 128\n");
    EXPECT_FALSE(r.valid);
    EXPECT_FALSE(r.repaired);
    EXPECT_EQ(store.current(), before);
  }
}

TEST_F(IndexValidateTest, DamagedHeapStopsBeforeTheIndex) {
  patch64(24, 8000);
  Run r = validateIndex(true);
  EXPECT_EQ(r.out, "In Block File's header, [FHINDEX_HSIZE]=8000 expected 8496. (1)\n");
  EXPECT_FALSE(r.valid);
  EXPECT_EQ(store.openTransactions(), 0);
}

}  // namespace
}  // namespace bw
