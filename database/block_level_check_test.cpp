// database/block_level_check_test.cpp - soupcheck levels 2 and 3 find the
// damage laid into data areas that the heap and the index built.
#include <gtest/gtest.h>

#include "database/block_index.h"
#include "database/memory_block_store.h"
#include "tools/soupcheck/block_level.h"

namespace bw {
namespace {

class BlockLevelCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    heap.createHeader();
    index.createIndex();
    for (int k = 0; k < 6; ++k) blocks.push_back(index.allocateIndexBlock(40, true));
    index.deallocateIndex(blocks[2].index);  // a free block between used ones
    data = store.committed();
    ASSERT_TRUE(soupcheck::checkIndexLevel(data).empty());
  }
  void put32(int64_t at, uint32_t v) { putBig32(data.data() + at, v); }
  void put64(int64_t at, int64_t v) { putBig64(data.data() + at, v); }
  std::string firstFinding() {
    auto findings = soupcheck::checkIndexLevel(data);
    return findings.empty() ? "" : findings.front();
  }

  MemoryBlockStore store;
  BlockHeap heap{store};
  BlockIndex index{heap};
  std::vector<IndexedBlock> blocks;
  std::vector<uint8_t> data;
};

TEST_F(BlockLevelCheckTest, BlockDamage) {
  int64_t freePos = blocks[2].dataPosition - 12;
  std::vector<uint8_t> good = data;
  put32(freePos + 4, 0xFFFFFF00);
  EXPECT_EQ(firstFinding(), "wrong previous-block offset at " + std::to_string(freePos));
  data = good;
  put64(headerWordPos(FHINDEX_FLBITMAP), 0);
  EXPECT_NE(firstFinding().find("first-level bit disagrees"), std::string::npos);
  data = good;
  put32(freePos, getBig32(data.data() + freePos) & ~2u);  // free block marked used: not in its list
  EXPECT_EQ(firstFinding(), "free list 5/20 reaches a block that is not free");
  data = good;
  put64(headerWordPos(FHINDEX_TAIL), 8496);
  EXPECT_NE(firstFinding().find("is not the tail word's block"), std::string::npos);
  data = good;
  data.push_back(0);
  EXPECT_NE(firstFinding().find("does not end the data area"), std::string::npos);
}

TEST_F(BlockLevelCheckTest, IndexDamage) {
  int64_t array = index.arrayBlock();
  std::vector<uint8_t> good = data;
  put64(array + 8 * 3, 111);
  EXPECT_EQ(firstFinding(), "arrayFree is 111, counted 109");
  data = good;
  put32(blocks[4].dataPosition - 4, 99);
  EXPECT_EQ(firstFinding(), "wrong index word in the block of entry 18");
  data = good;
  put64(array + 8 * 4, 20);
  EXPECT_EQ(firstFinding(), "free chain does not reach entry 16");
  data = good;
  put64(array + 8 * 17, 0);  // a used entry dropped: its block is unaccounted
  EXPECT_EQ(soupcheck::checkIndexLevel(data).back(), "used blocks that no index accounts for");
  data = good;
  put64(array + 8 * 2, 200);
  EXPECT_EQ(firstFinding(), "arraySize 200 does not fit its block of 128");
}

}  // namespace
}  // namespace bw
