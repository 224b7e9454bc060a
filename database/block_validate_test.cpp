// database/block_validate_test.cpp - the findings of a block heap's
// validation, one damaged fixture each: the lines printed, the repair, and
// the runs that must abort without writing.
#include "database/block_validate.h"

#include <gtest/gtest.h>

#include "database/validate_test_support.h"

namespace bw {
namespace {

// Blocks: 8496 used (48), 8544 free (108), 8652 used (68), 8720 free (208),
// 8928 used and last (40); the data area ends at 8968.
class BlockValidateTest : public testing::HeapFixture {
 protected:
  void SetUp() override {
    HeapFixture::SetUp();
    for (int64_t payload : {40, 100, 60, 200, 32}) handles.push_back(heap.allocate(payload, true));
    heap.deallocate(handles[1]);
    heap.deallocate(handles[3]);
    store.flush();
    ASSERT_EQ(store.dataSize(), 8968);
  }
  int64_t block(int k) { return handles[static_cast<size_t>(k)] - 8; }
  // The list-head word and the bitmap words of a free block's class.
  int64_t listWord(int64_t size) {
    FreeClass c = mapSizeToFreeClass(static_cast<uint32_t>(size));
    return int64_t{slListWord(c.f, c.s)} * 8;
  }
  int64_t slBitmapAt(int64_t size) { return int64_t{slBitmapWord(mapSizeToFreeClass(static_cast<uint32_t>(size)).f)} * 8; }

  // A repair run prints `lines`, answers valid, and leaves a layout that
  // the independent checker accepts and a check-only run finds clean.
  void expectRepaired(const std::string& lines, bool valid = true) {
    Run r = validateBlocks(true);
    EXPECT_EQ(r.out, lines);
    EXPECT_EQ(r.valid, valid);
    EXPECT_TRUE(r.repaired);
    store.flush();
    EXPECT_EQ(layoutFindings(), std::vector<std::string>{});
    Run again = validateBlocks(false);
    EXPECT_EQ(again.out, "");
    EXPECT_TRUE(again.valid);
  }
  // A check-only run prints `lines`, answers invalid and writes nothing.
  void expectFound(const std::string& lines) {
    std::vector<uint8_t> before = store.current();
    Run r = validateBlocks(false);
    EXPECT_EQ(r.out, lines);
    EXPECT_FALSE(r.valid);
    EXPECT_FALSE(r.repaired);
    EXPECT_TRUE(r.set.empty());
    EXPECT_EQ(store.current(), before);
  }
  // An aborting run, with repair too, leaves every byte as it was.
  void expectAborted(const std::string& lines) {
    std::vector<uint8_t> before = store.current();
    for (bool repair : {false, true}) {
      Run r = validateBlocks(repair);
      EXPECT_EQ(r.out, lines) << "repair " << repair;
      EXPECT_FALSE(r.valid);
      EXPECT_FALSE(r.repaired);
      EXPECT_EQ(store.current(), before);
      EXPECT_EQ(store.openTransactions(), 0);
    }
  }

  std::vector<int64_t> handles;
};

TEST_F(BlockValidateTest, FreshAndBuiltFilesAreValid) {
  MemoryBlockStore emptyStore;
  BlockHeap empty(emptyStore);
  empty.createHeader();
  ::testing::internal::CaptureStdout();
  ValidationResult fresh = validateBlockHeap(empty, true, true, true);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(fresh.valid);
  EXPECT_FALSE(fresh.repaired);
  ASSERT_NE(fresh.blocks, nullptr);
  EXPECT_EQ(fresh.blocks->infoCount(), 0u);

  Run r = validateBlocks(false);
  EXPECT_TRUE(r.valid);
  EXPECT_EQ(r.out, "");
  // Set order is the number space's: buckets (key mod 193) from high to
  // low: 8660 -> 168, 8936 -> 58, 8504 -> 12.
  EXPECT_EQ(r.set, (std::vector<int64_t>{handles[2], handles[4], handles[0]}));
  EXPECT_TRUE(validateBlocks(false, false).set.empty());
}

TEST_F(BlockValidateTest, HeaderSizeAbortsBeforeAnythingElse) {
  patch64(24, 8000);
  patch64(16, 12345);  // a wrong tail is not even looked at
  expectAborted("In Block File's header, [FHINDEX_HSIZE]=8000 expected 8496. (1)\n");
  patch64(24, (int64_t{1} << 32) + 8496);  // the low 32 bits alone look right
  expectAborted("In Block File's header, [FHINDEX_HSIZE]=4294975792 expected 8496. (1)\n");
}

TEST_F(BlockValidateTest, BytesAfterTheTailAreCut) {
  setSize(8968 + 100);
  expectFound("In Block File's header, [FHINDEX_TAIL]=8928 so expected file size=8968 but was actually 9068. (2)\n");
  expectRepaired("In Block File's header, [FHINDEX_TAIL]=8928 so expected file size=8968 but was actually 9068. (2)\n");
  EXPECT_EQ(store.dataSize(), 8968);
}

TEST_F(BlockValidateTest, WrongPrevBlockIsRewritten) {
  patch32(block(2) + 4, static_cast<uint32_t>(8496 - block(2)));
  expectFound(
      "For block 8652, prevBlock=8496 expected 8544. (4)\n"
      "For block 8496, size=48 expected 156. (11)\n");
  expectRepaired("For block 8652, prevBlock=8496 expected 8544. (4)\n");
}

TEST_F(BlockValidateTest, BadBlockHandsOverToTheTail) {
  patch32(block(2), 0);  // size and flags of a used block lost
  Run r = validateBlocks(true);
  EXPECT_EQ(r.out,
            "For block 8652, size=0. (3)\n"
            "For block 8652, size=0 expected 68. (11)\n");
  EXPECT_TRUE(r.valid);  // the walk back from the tail got through
  EXPECT_TRUE(r.repaired);
  Run again = validateBlocks(true);
  EXPECT_EQ(again.out, "");
  EXPECT_TRUE(again.valid);
  EXPECT_EQ(layoutFindings(), std::vector<std::string>{});
}

// Taken at its word, a size that runs past the end would make the block the
// last one and swallow every block after it; the tail's backward walk
// still reaches them.
TEST_F(BlockValidateTest, SizeRunningPastTheEndIsABadBlock) {
  patch32(block(2), 10000);
  Run r = validateBlocks(true);
  EXPECT_EQ(r.out,
            "For block 8652, size=10000. (3)\n"
            "For block 8652, size=10000 expected 68. (11)\n");
  EXPECT_TRUE(r.valid);
  EXPECT_TRUE(r.repaired);
  Run again = validateBlocks(true);
  EXPECT_EQ(again.out, "");
  EXPECT_TRUE(again.valid);
  EXPECT_EQ(again.set.size(), 3u);
  EXPECT_EQ(layoutFindings(), std::vector<std::string>{});
}

// Zeroed headers of two neighbours (8544 free, 8652 used): one used block
// covers the stretch from the last block the forward walk trusted to the
// first the walk back reached (its owner, the index, frees it).
TEST_F(BlockValidateTest, HeadersLostOverAStretchAreCoveredByOneBlock) {
  for (int64_t at : {block(1), block(2)}) {
    for (int b = 0; b < 24; b += 4) patch32(at + b, 0);
  }
  expectFound(
      "For block 8544, size=0. (3)\n"
      "For block 8652, size=0 expected 68. (11)\n");
  expectRepaired(
      "For block 8544, size=0. (3)\n"
      "Blocks 8544 to 8720 have lost their headers. (3b)\n"
      "For FI=6 SI=22, the corresponding secondLevel.freeLists had an invalid head block. (17)\n");
  blockRecord r;
  ASSERT_TRUE(heap.readBlockHeader(r, block(1), false));
  EXPECT_EQ(r.size, block(3) - block(1));
  EXPECT_FALSE(r.isFree);
}

// A used block's size and, further on, a link back both damaged: the walk
// back from the tail meets a lost header, but the blocks between still name
// each other, so every block keeps its place and nothing is covered.
TEST_F(BlockValidateTest, BlocksThatStillNameEachOtherAreKeptPastALostSize) {
  patch32(block(2), 10000);
  patch32(block(4) + 4, static_cast<uint32_t>(block(3) + 100 - block(4)));  // into the free block's bytes
  expectRepaired(
      "For block 8652, size=10000. (3)\n"
      "Block 8652 lost its size; the blocks after it still name it. (3c)\n"
      "For block 8928, prevBlock=8820 expected 8720. (4)\n");
  const std::pair<int, int32_t> blocks[] = {{0, 48}, {1, 108}, {2, 68}, {3, 208}, {4, 40}};
  for (auto [k, size] : blocks) {
    blockRecord r;
    ASSERT_TRUE(heap.readBlockHeader(r, block(k), false)) << k;
    EXPECT_EQ(r.size, size) << k;
    EXPECT_EQ(r.isFree, k == 1 || k == 3) << k;
  }
}

TEST_F(BlockValidateTest, BrokenChainWithATailBeyondTheEndAborts) {
  patch32(block(2), 0);
  patch64(16, 8968);
  expectAborted(
      "For block 8652, size=0. (3)\n"
      "In Block File's header, [FHINDEX_TAIL] is after end of file, so forced to abort validation. (5)\n");
}

TEST_F(BlockValidateTest, BrokenChainWithATailThatIsNotLastAborts) {
  patch32(block(2), 0);
  patch64(16, 8496);
  expectAborted(
      "For block 8652, size=0. (3)\n"
      "In Block File's header, [FHINDEX_TAIL] is not last block, so forced to abort validation. (6)\n");
}

TEST_F(BlockValidateTest, LastBlockSizeAndFlag) {
  patch32(block(4), 56 | 1);
  expectFound(
      "For block 8928, size=56 expected 40. (7a)\n"
      "For block 8928, size=56 expected 40. (11)\n");
  expectRepaired("For block 8928, size=56 expected 40. (7a)\n");

  patch32(block(4), 40);  // no longer marked last
  expectFound("For block 8928, nextBlock=8968 expected 0. (7b)\n");
  expectRepaired("For block 8928, nextBlock=8968 expected 0. (7b)\n");
}

TEST_F(BlockValidateTest, WrongTailInTheHeader) {
  patch64(16, 8496);
  expectFound("In Block File's header, [FHINDEX_TAIL]=8496 expected 8928. (8)\n");
  expectRepaired("In Block File's header, [FHINDEX_TAIL]=8496 expected 8928. (8)\n");
  EXPECT_EQ(heap.tailPos(), 8928);
}

TEST_F(BlockValidateTest, MiddleBlockMarkedLast) {
  patch32(block(2), 68 | 1);
  expectFound("For block 8652, nextBlock=0 expected 8720. (9)\n");
  expectRepaired("For block 8652, nextBlock=0 expected 8720. (9)\n");
}

TEST_F(BlockValidateTest, PrevBlockPointingForwardEndsTheWalk) {
  // Block 8720 names the tail as its predecessor: a walk that only follows
  // links would go back and forth between the two for ever.
  patch32(block(3) + 4, static_cast<uint32_t>(block(4) - block(3)));
  expectFound(
      "For block 8720, prevBlock=8928 expected 8652. (4)\n"
      "For block 8720, prevBlock=8928. (10)\n");
  expectRepaired("For block 8720, prevBlock=8928 expected 8652. (4)\n");
}

TEST_F(BlockValidateTest, PrevBlockAfterABadBlockAborts) {
  setSize(8968 + 100);  // a repair made before the abort is discarded too
  patch32(block(1), 0);
  patch32(block(3) + 4, static_cast<uint32_t>(block(4) - block(3)));
  expectAborted(
      "In Block File's header, [FHINDEX_TAIL]=8928 so expected file size=8968 but was actually 9068. (2)\n"
      "For block 8544, size=0. (3)\n"
      "For block 8720, prevBlock=8928. (10)\n");
  // A link into the header area is refused the same way.
  patch32(block(3) + 4, static_cast<uint32_t>(100 - block(3)));
  expectAborted(
      "In Block File's header, [FHINDEX_TAIL]=8928 so expected file size=8968 but was actually 9068. (2)\n"
      "For block 8544, size=0. (3)\n"
      "For block 8720, prevBlock=100. (10)\n");
}

TEST_F(BlockValidateTest, BitmapBitClearWithAList) {
  patch64(slBitmapAt(108), 0);  // f=6's only list was (6, 22)
  const char* lines =
      "For FI=6 SI=22, secondLayer.freeBitmap had a clear bit, but the corresponding secondLevel.freeLists was not empty. (12)\n"
      "For FI=6, fl_freeBitmap was set, but secondLevel.freeBitmap was clear. (18b)\n"
      "Block 8544 was not reachable using the TLSF, despite being marked as free. (20)\n";
  expectFound(lines);
  expectRepaired(lines);
}

TEST_F(BlockValidateTest, WrongPrevFreeIsRewritten) {
  // Two blocks of one class: 8544 and a second 108-byte block freed later.
  int64_t first = heap.allocate(100, true);  // takes 8544 back
  int64_t second = heap.allocate(100, true);  // split off 8720
  heap.allocate(8, true);
  heap.deallocate(first);
  heap.deallocate(second);
  store.flush();
  patch64(block(1) + 16, 0);  // 8544 follows the new head but says it heads
  expectFound("For block=8544, prevFree=0 expected 8720. (13)\n");
  expectRepaired("For block=8544, prevFree=0 expected 8720. (13)\n");
}

TEST_F(BlockValidateTest, FreeBlockInAnotherClassListMovesToItsOwn) {
  // 8544 (108 bytes, class 6/22) is filed under 7/5 instead.
  FreeClass own = mapSizeToFreeClass(108);
  patch64(listWord(108), 0);
  patch64(slBitmapAt(108), 0);
  patch64(int64_t{slListWord(7, 5)} * 8, 8544);
  patch64(int64_t{slBitmapWord(7)} * 8, (int64_t{1} << 20) | (int64_t{1} << 5));  // 7/20 holds 8720
  patch64(40, (int64_t{1} << 7));
  ASSERT_EQ(own.f, 6);
  expectFound("For block=8544, FI/SI=7/5 expected 6/22. (15)\n");
  expectRepaired("For block=8544, FI/SI=7/5 expected 6/22. (15)\n");
  EXPECT_EQ(heap.secondLevel(6).freeLists[22], 8544);
  EXPECT_EQ(heap.secondLevel(7).freeLists[5], 0);
  EXPECT_EQ(heap.secondLevel(7).freeBitmap, uint32_t{1} << 20);
}

TEST_F(BlockValidateTest, ListCutAtABlockThatIsNotFree) {
  patch64(block(1) + 8, block(2));  // 8544's next free is a used block
  expectFound("For FI=6 SI=22, the corresponding secondLevel.freeLists contained an invalid block. (16)\n");
  expectRepaired("For FI=6 SI=22, the corresponding secondLevel.freeLists contained an invalid block. (16)\n");
}

TEST_F(BlockValidateTest, HeadThatIsAUsedBlockDropsTheList) {
  patch64(listWord(108), block(2));
  expectFound(
      "For FI=6 SI=22, the corresponding secondLevel.freeLists had an invalid head block. (17)\n"
      "Block 8544 was not reachable using the TLSF, despite being marked as free. (20)\n");
  patch64(listWord(208), block(2));  // a second list, whose block is lost
  Run r = validateBlocks(true);
  EXPECT_EQ(r.out,
            "For FI=6 SI=22, the corresponding secondLevel.freeLists had an invalid head block. (17)\n"
            "For FI=7 SI=20, the corresponding secondLevel.freeLists had an invalid head block. (17)\n"
            "Block 8544 was not reachable using the TLSF, despite being marked as free. (20)\n"
            "Block 8720 was not reachable using the TLSF, despite being marked as free. (20)\n");
  EXPECT_TRUE(r.valid);
  store.flush();
  EXPECT_EQ(layoutFindings(), std::vector<std::string>{});
}

TEST_F(BlockValidateTest, SecondLevelWithoutItsFirstLevelBit) {
  patch64(int64_t{slBitmapWord(10)} * 8, 1);
  expectRepaired("For FI=10 SI=0, fl_freeBitmap was clear, but secondLevel.freeBitmap was not. (18)\n");
  patch64(int64_t{slListWord(10, 3)} * 8, 8544);
  expectRepaired("For FI=10 SI=3, fl_freeBitmap was clear, but secondLevel.freeLists was not empty. (19)\n");
}

// Bits that promise a free block where there is none: the allocator would
// take a list head of 0, or look for a class in an empty second level.
TEST_F(BlockValidateTest, BitsWithoutFreeBlocks) {
  patch64(slBitmapAt(108), (int64_t{1} << 22) | (int64_t{1} << 3));
  expectFound(
      "For FI=6 SI=3, secondLevel.freeBitmap had a set bit, but the corresponding secondLevel.freeLists was empty. (12b)\n");
  expectRepaired(
      "For FI=6 SI=3, secondLevel.freeBitmap had a set bit, but the corresponding secondLevel.freeLists was empty. (12b)\n");
  patch64(40, headerWord(5) | (int64_t{1} << 10));
  expectRepaired("For FI=10, fl_freeBitmap was set, but secondLevel.freeBitmap was clear. (18b)\n");
  EXPECT_EQ(heap.flFreeBitmap(), (uint32_t{1} << 6) | (uint32_t{1} << 7));
}

TEST_F(BlockValidateTest, OrphanFreeBlockIsRelinked) {
  patch64(listWord(108), 0);
  patch64(slBitmapAt(108), 0);
  patch64(40, int64_t{1} << 7);
  expectFound("Block 8544 was not reachable using the TLSF, despite being marked as free. (20)\n");
  expectRepaired("Block 8544 was not reachable using the TLSF, despite being marked as free. (20)\n");
}

TEST_F(BlockValidateTest, QuietWithoutVerbose) {
  patch64(16, 8496);
  ::testing::internal::CaptureStdout();
  ValidationResult v = validateBlockHeap(heap, false, false, true);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(v.valid);
  EXPECT_EQ(v.blocks, nullptr);
}

}  // namespace
}  // namespace bw
