// database/block_open_test.cpp - opening new, existing and half-created
// data areas.
#include "database/block_open.h"

#include <gtest/gtest.h>

#include "core/raise_test_support.h"
#include "database/block_layout_check_test_support.h"
#include "database/memory_block_store.h"

namespace bw {
namespace {

TEST(BlockOpen, AnEmptyDataAreaIsInitialised) {
  MemoryBlockStore store;
  BlockHeap heap(store);
  openBlockHeap(heap, false);
  EXPECT_EQ(store.committed().size(), 8496u);
  BlockHeap again(store);
  openBlockHeap(again, false);
  EXPECT_EQ(again.tailPos(), 0);
}

TEST(BlockOpen, AFileCutBetweenItsTwoCreationCommitsGetsItsIndex) {
  MemoryBlockStore store;
  {
    BlockHeap heap(store);
    openBlockHeap(heap, true);  // the first commit only: then the crash
  }
  store.replaceCommitted(store.committed());
  BlockHeap heap(store);
  BlockIndex index(heap);
  ASSERT_TRUE(openIndexedHeap(heap, index, false, "database.soup"));
  EXPECT_EQ(index.arrayBlock(), 8532);
  EXPECT_EQ(store.committed().size(), 9556u);
  EXPECT_EQ(testing_blocks::checkIndex(store.committed()), std::vector<std::string>{});
}

TEST(BlockOpen, AnExistingIndexedFileIsRead) {
  MemoryBlockStore store;
  int32_t kept = 0;
  {
    BlockHeap heap(store);
    BlockIndex index(heap);
    ASSERT_TRUE(openIndexedHeap(heap, index, true, "soup"));
    kept = index.allocateIndexBlock(10, true).index;
  }
  BlockHeap heap(store);
  BlockIndex index(heap);
  ASSERT_TRUE(openIndexedHeap(heap, index, false, "soup"));
  EXPECT_EQ(index.infoBlockOfIndex(kept, false), 9568);
  EXPECT_EQ(index.firstFree(), 15);
}

TEST(BlockOpen, AFileWithBlocksButNoIndexIsRefused) {
  MemoryBlockStore store;
  {
    BlockHeap heap(store);
    openBlockHeap(heap, true);
    heap.allocate(10, false);
  }
  BlockHeap heap(store);
  BlockIndex index(heap);
  expectRaise([&] { openIndexedHeap(heap, index, false, "soup"); }, "EMU",
              "cJournaledIndexedBlockFile.open(); file version not supported");
}

}  // namespace
}  // namespace bw
