// database/block_heap_test.cpp - the header area, block headers and the
// allocator, over an in-memory store.
#include "database/block_heap.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "core/raise_test_support.h"
#include "database/block_layout_check_test_support.h"
#include "database/memory_block_store.h"

namespace bw {
namespace {

class BlockHeapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.setDiscardHook([this] { heap.reloadMirrors(); });
    heap.createHeader();
  }
  int64_t word(int32_t w) { return getBig64(store.current().data() + 8 * w); }
  blockRecord header(int64_t position) {
    blockRecord r;
    EXPECT_TRUE(heap.readBlockHeader(r, position, false));
    return r;
  }
  void expectClean() { EXPECT_EQ(testing_blocks::checkBlocks(store.committed()), std::vector<std::string>{}); }
  void putBytes(int64_t position, std::initializer_list<uint8_t> bytes) {
    int32_t id = store.beginTransaction();
    std::vector<uint8_t> v(bytes);
    store.writeData(position, v.data(), static_cast<int64_t>(v.size()));
    store.finishTransaction(id);
  }

  MemoryBlockStore store;
  BlockHeap heap{store};
};

TEST(BlockFormat, SizeClassesAndBlockSizes) {
  EXPECT_EQ(mapSizeToFreeClass(28), (FreeClass{4, 24}));
  EXPECT_EQ(mapSizeToFreeClass(100), (FreeClass{6, 18}));
  EXPECT_EQ(mapSizeToFreeClass(4096), (FreeClass{12, 0}));
  EXPECT_EQ(mapSizeToFreeClassRoundUp(28), (FreeClass{4, 22}));
  EXPECT_EQ(mapSizeToFreeClassRoundUp(100), (FreeClass{6, 18}));
  EXPECT_EQ(mapSizeToFreeClassRoundUp(4100), (FreeClass{12, 1}));
  // Every block in the search class or above is at least the size.
  for (uint32_t size = 28; size < 70000; size += 4) {
    FreeClass c = mapSizeToFreeClassRoundUp(size);
    uint32_t smallest = c.f >= 5 ? (1u << c.f) + static_cast<uint32_t>(c.s) * (1u << (c.f - 5)) : 28;
    EXPECT_GE(smallest, size) << size;
  }
  EXPECT_EQ(blockSizeForPayload(1), 28);
  EXPECT_EQ(blockSizeForPayload(20), 28);
  EXPECT_EQ(blockSizeForPayload(21), 32);
}

TEST_F(BlockHeapTest, NewHeaderArea) {
  ASSERT_EQ(store.committed().size(), 8496u);
  const int64_t expected[] = {3, 0, 0, 8496, 32, 0};
  for (int32_t w = 0; w < 6; ++w) EXPECT_EQ(word(w), expected[w]) << w;
  for (int32_t w = 6; w < FHEADER_SIZE; ++w) ASSERT_EQ(word(w), 0) << w;
  expectClean();
}

TEST_F(BlockHeapTest, LoadHeaderRefusesOtherVersionsAndClassCounts) {
  for (uint8_t version : {2, 4}) {
    putBytes(7, {version});
    expectRaise([&] { heap.loadHeader(); }, "EMU", "cJournaledBlockFile.open(); file version not supported");
  }
  putBytes(7, {3});
  putBytes(39, {16});
  expectRaise([&] { heap.loadHeader(); }, "BUG", "cJournaledBlockFile.open(); file has unsupported SL_SIZE");
  putBytes(39, {32});
  heap.loadHeader();
  putBytes(31, {0x20});  // first block position 8480
  expectRaise([&] { heap.checkHeader(); }, "BUG", "cJournaledBlockFile.open(); firstBlockPos<>FIRST_BLOCK_POS");
}

TEST_F(BlockHeapTest, ReadBlockHeaderFlagsAndQuietChecks) {
  putBytes(9000, {0, 0, 0, 30, 0xFF, 0xFF, 0xFF, 0xF0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  blockRecord r = header(9000);
  EXPECT_TRUE(r.isFree);
  EXPECT_EQ(r.size, 28);
  EXPECT_EQ(r.nextBlock, 9028);
  EXPECT_EQ(r.prevBlock, 8984);
  putBytes(9000, {0, 0, 0, 29});
  r = header(9000);
  EXPECT_FALSE(r.isFree);
  EXPECT_EQ(r.size, 28);
  EXPECT_EQ(r.nextBlock, 0);

  putBytes(9000, {0, 0, 0, 29, 0, 0, 0, 4});
  EXPECT_FALSE(heap.readBlockHeader(r, 9000, true));
  EXPECT_EQ(r.size, 28);
  expectRaise([&] { heap.readBlockHeader(r, 9000, false); }, "BUG",
              "cJournaledBlockFile.readBlockHeader(); prevBlockOffset > 0");
  putBytes(9000, {0, 0, 0, 24, 0, 0, 0, 0});
  expectRaise([&] { heap.readBlockHeader(r, 9000, false); }, "BUG",
              "cJournaledBlockFile.readBlockHeader(); size < minimumBlockSize");
  putBytes(9000, {0, 0, 0, 30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
  expectRaise([&] { heap.readBlockHeader(r, 9000, false); }, "BUG",
              "cJournaledBlockFile.readBlockHeader(); nextFree < FIRST_BLOCK_POS");
}

TEST_F(BlockHeapTest, WriteBlockHeaderChecksAndKeepsUsedLinks) {
  putBytes(9000, {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  int32_t id = store.beginTransaction();
  heap.writeBlockHeader({9000, 40, false, 9040, 8496, 0, 0});
  store.finishTransaction(id);
  const uint8_t* at = store.committed().data() + 9000;
  EXPECT_EQ(getBig32(at), 40u);
  EXPECT_EQ(static_cast<int32_t>(getBig32(at + 4)), 8496 - 9000);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(at[8 + k], k + 1);

  auto bad = [&](blockRecord r, const char* message) {
    expectRaise([&] { heap.writeBlockHeader(r); }, "BUG",
                (std::string("cJournaledBlockFile.writeBlockHeader(); ") + message).c_str());
  };
  bad({0, 40}, "block.position=0");
  bad({9000, 24}, "block.size < minimumBlockSize");
  bad({9000, 42}, "block.size is not rounded up");
  bad({9000, 40, false, 0, 9000}, "block.prevBlock >= block.position");
  bad({9000, 40, true, 0, 0, 100, 0}, "block.nextFree < FIRST_BLOCK_POS");
  bad({9000, 40, true, 0, 0, 0, 100}, "block.prevFree < FIRST_BLOCK_POS");
}

TEST_F(BlockHeapTest, AllocateAppendsAndFreeingTheOnlyBlockEmptiesTheFile) {
  EXPECT_EQ(heap.allocate(1, false), 8504);
  EXPECT_EQ(store.committed().size(), 8524u);
  EXPECT_EQ(heap.tailPos(), 8496);
  EXPECT_EQ(heap.infoSizeOfBlock(8504), 20);
  int64_t b = heap.allocate(21, false);
  EXPECT_EQ(b, 8532);
  EXPECT_EQ(heap.infoSizeOfBlock(b), 24);
  expectClean();
  heap.deallocate(b);
  heap.deallocate(8504);
  EXPECT_EQ(store.committed().size(), 8496u);
  EXPECT_EQ(heap.tailPos(), 0);
  EXPECT_EQ(word(FHINDEX_TAIL), 0);
  expectClean();
}

TEST_F(BlockHeapTest, FreeingMergesNeighboursAndSetsBitmaps) {
  int64_t a = heap.allocate(92, false), b = heap.allocate(92, false), c = heap.allocate(92, false);
  heap.deallocate(b);
  FreeClass cls = mapSizeToFreeClass(100);
  EXPECT_TRUE(heap.flFreeBitmap() & (1u << cls.f));
  EXPECT_TRUE(heap.secondLevel(cls.f).freeBitmap & (1u << cls.s));
  EXPECT_EQ(heap.secondLevel(cls.f).freeLists[static_cast<size_t>(cls.s)], b - 8);
  expectClean();
  heap.deallocate(a);
  blockRecord merged = header(a - 8);
  EXPECT_TRUE(merged.isFree);
  EXPECT_EQ(merged.size, 200);
  EXPECT_EQ(heap.secondLevel(cls.f).freeBitmap, 0u);
  expectClean();
  heap.deallocate(c);  // the freed tail merges and is cut off
  EXPECT_EQ(store.committed().size(), 8496u);
  expectClean();
}

TEST_F(BlockHeapTest, SplitOnlyARestAbove24Bytes) {
  int64_t a = heap.allocate(92, false);
  heap.allocate(4, false);
  heap.deallocate(a);  // a 100-byte free block
  int64_t whole = heap.allocate(68, false);  // 76 bytes: 24 left over
  EXPECT_EQ(whole, a);
  EXPECT_EQ(heap.infoSizeOfBlock(whole), 92);
  heap.deallocate(whole);
  int64_t split = heap.allocate(64, false);  // 72 bytes: 28 left over
  EXPECT_EQ(heap.infoSizeOfBlock(split), 64);
  blockRecord rest = header(split - 8 + 72);
  EXPECT_TRUE(rest.isFree);
  EXPECT_EQ(rest.size, 28);
  expectClean();
}

TEST_F(BlockHeapTest, AnEmptySearchClassTakesTheNextClassHead) {
  std::vector<int64_t> h;
  for (int64_t payload : {1000, 8, 300, 8, 500, 8}) h.push_back(heap.allocate(payload, false));
  heap.deallocate(h[0]);
  heap.deallocate(h[2]);
  heap.deallocate(h[4]);
  // 200 bytes: the lowest non-empty class above is the 308-byte block's.
  EXPECT_EQ(heap.allocate(192, false), h[2]);
  expectClean();
}

TEST_F(BlockHeapTest, CopyAndClear) {
  int64_t a = heap.allocate(64, false), b = heap.allocate(64, false);
  putBytes(a, {1, 2, 3, 4, 5});
  int32_t before = store.transactionsBegun();
  heap.copy(b, a, 0);
  heap.clear(b, 0);
  EXPECT_EQ(store.transactionsBegun(), before);
  expectRaise([&] { heap.copy(b, a, -1); }, "EMU", "cJournaledBlockFile.copy(); sizeInBytes<0");
  expectRaise([&] { heap.clear(b, -1); }, "EMU", "cJournaledBlockFile.clear(); sizeInBytes<0");
  heap.copy(b + 1, a, 5);
  EXPECT_EQ(store.committed()[static_cast<size_t>(b + 5)], 5);
  heap.clear(b + 2, 2);
  EXPECT_EQ(store.committed()[static_cast<size_t>(b + 2)], 0);
  EXPECT_EQ(store.committed()[static_cast<size_t>(b + 4)], 4);

  int64_t big = heap.allocate(5 << 20, false);
  int64_t writes = store.writeCalls();
  heap.clear(big, 5 << 20);
  EXPECT_EQ(store.writeCalls() - writes, 2);
  EXPECT_EQ(store.largestWrite(), 4 << 20);
}

TEST_F(BlockHeapTest, ArraysOfEntries) {
  int64_t a = heap.allocArray(3, true);
  int32_t id = store.beginTransaction();
  for (int32_t k = 0; k < 3; ++k) heap.writeArrayEntry(a, k, -k - 100);
  store.finishTransaction(id);
  int64_t grown = heap.resizeArray(a, 5, 3, true);
  EXPECT_EQ(heap.readArrayEntry(grown, 2), -102);
  EXPECT_EQ(heap.readArrayEntry(grown, 4), 0);
  int64_t shrunk = heap.resizeArray(grown, 1, 5, false);
  EXPECT_EQ(heap.readArrayEntry(shrunk, 0), -100);
  expectRaise([&] { heap.resizeArray(shrunk, 9, 9, false); }, "EMU",
              "cJournaledBlockFile.resizeArray(); oldArraySizeInBytes larger than real size");
}

// A header read for infoSizeOfBlock serves the free that follows only while
// the store is unchanged: a write past the heap in between is seen.
TEST_F(BlockHeapTest, FreeingAfterTheSizeSeesAChangeInBetween) {
  int64_t a = heap.allocate(100, false);
  heap.allocate(100, false);
  const auto size = static_cast<uint8_t>(heap.infoSizeOfBlock(a) + 8);
  putBytes(a - 8, {0, 0, 0, static_cast<uint8_t>(size | kBlockFreeFlag)});
  expectRaise([&] { heap.deallocate(a); }, "EMU", "cJournaledBlockFile.deallocate(); block already deallocated");
  putBytes(a - 8, {0, 0, 0, size});
  EXPECT_EQ(heap.infoSizeOfBlock(a), size - 8);
  heap.deallocate(a);
  EXPECT_TRUE(header(a - 8).isFree);
  expectClean();
}

TEST_F(BlockHeapTest, MisuseMessages) {
  int64_t a = heap.allocate(8, false);
  heap.allocate(8, false);
  expectRaise([&] { heap.allocate(0, false); }, "EMU", "cJournaledBlockFile.allocate(); sizeInBytes<=0");
  expectRaise([&] { heap.deallocate(8000); }, "EMU", "cJournaledBlockFile.deallocate(); nonsensical block value");
  expectRaise([&] { heap.infoSizeOfBlock(99999); }, "EMU",
              "cJournaledBlockFile.infoSizeOfBlock(); nonsensical block value");
  heap.deallocate(a);
  expectRaise([&] { heap.deallocate(a); }, "EMU", "cJournaledBlockFile.deallocate(); block already deallocated");

  blockRecord freeBlock = header(a - 8);
  blockRecord used = header(a - 8 + 28);
  int32_t id = store.beginTransaction();
  expectRaise([&] { heap.addFreeToArena(freeBlock); }, "BUG",
              "cJournaledBlockFile.addFreeToArena(); usedBlock is actually free");
  expectRaise([&] { heap.removeFreeBlock(used); }, "BUG",
              "cJournaledBlockFile.removeFreeFromArena(); freeBlock is actually used");
  expectRaise([&] { heap.splitBlock(used, 30); }, "BUG",
              "cJournaledBlockFile.splitBlock(); sizeInBytes is not a multiple of 4");
  expectRaise([&] { heap.mergeBothBlocks(used, used); }, "BUG",
              "cJournaledBlockFile.mergeBothBlocks(); blocks not adjacent");
  expectRaise([&] { heap.set_sl_freeList(3, heap.secondLevel(4), 0, 0); }, "BUG",
              "cJournaledBlockFile.set_sl_freeList(); sl does not match firstIndex");
  expectRaise([&] { heap.set_sl_freeBitmap(3, heap.secondLevel(4), 0); }, "BUG",
              "cJournaledBlockFile.set_sl_freeBitmap(); sl does not match firstIndex");
  ::testing::internal::CaptureStdout();
  expectRaise([&] { heap.removeFreeFromArena(freeBlock, 5, 24, heap.secondLevel(5)); }, "BUG",
              "cJournaledBlockFile.removeFreeFromArena(); incorrect freeFI");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "# freeBlock.size=28=$1c, freeFI=5, freeSI=4, debugFI=24, debugSI=24\n");
  expectRaise([&] { heap.allocateFromFreeBlock(32, freeBlock, false); }, "BUG",
              "cJournaledBlockFile.allocateFromFreeBlock(); freeBlock is too small");
  expectRaise([&] { heap.allocateFromFreeBlock(28, used, false); }, "BUG",
              "cJournaledBlockFile.allocateFromFreeBlock(); freeBlock is actually used");
  store.finishTransaction(id);
}

TEST_F(BlockHeapTest, BookkeepingFaultsAreReported) {
  int64_t a = heap.allocate(92, false), b = heap.allocate(92, false);
  heap.allocate(8, false);
  heap.deallocate(a);
  blockRecord freeBlock = header(a - 8), used = header(b - 8);
  store.beginTransaction();  // discarded at the end
  ::testing::internal::CaptureStdout();
  expectRaise([&] { heap.removeFreeFromArena(freeBlock, 6, 17, heap.secondLevel(6)); }, "BUG",
              "cJournaledBlockFile.removeFreeFromArena(); incorrect freeSI");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "# freeBlock.size=100=$64, freeFI=6, freeSI=6, debugFI=17, debugSI=18\n");
  expectRaise([&] { heap.removeFreeFromArena(freeBlock, 6, 18, heap.secondLevel(7)); }, "BUG",
              "cJournaledBlockFile.removeFreeFromArena(); incorrect sl");
  blockRecord notHead = freeBlock;
  notHead.prevFree = 0;
  heap.set_sl_freeList(6, heap.secondLevel(6), 18, 0);
  expectRaise([&] { heap.removeFreeFromArena(notHead, 6, 18, heap.secondLevel(6)); }, "BUG",
              "cJournaledBlockFile.removeFreeFromArena(); freeBlock.prevFree=0");
  expectRaise([&] { heap.findFreeInArena(40); }, "BUG", "cJournaledBlockFile.findFreeInArena(); freeBlockPos=0 (1)");
  blockRecord usedCopy = used;
  expectRaise([&] { heap.splitBlock(freeBlock, 28); }, "BUG",
              "cJournaledBlockFile.splitBlock(); usedBlock is actually free");
  expectRaise([&] { heap.mergeBothBlocks(freeBlock, usedCopy); }, "BUG",
              "cJournaledBlockFile.mergeBothBlocks(); firstBlock is actually free");
  blockRecord second = freeBlock;
  second.prevBlock = used.position;
  expectRaise([&] { heap.mergeBothBlocks(used, second); }, "BUG",
              "cJournaledBlockFile.mergeBothBlocks(); secondBlock is actually free");
  store.discardChanges();
}

// A damaged tail (its header, or the header word naming it) is refused by
// the next allocation at the end before anything is written.
TEST_F(BlockHeapTest, AllocationAtTheEndRefusesADamagedTail) {
  struct Case {
    const char* what;
    int64_t at;  // 0: the tail block's header; else the header's tail word
    std::initializer_list<uint8_t> bytes;
  } cases[] = {
      {"size past the end", 0, {0x08, 0x00, 0x00, 0x41}},
      {"not marked last", 0, {0x00, 0x00, 0x00, 0x20}},
      {"tail word names an earlier block", 16, {0, 0, 0, 0, 0, 0, 0x21, 0x30}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryBlockStore file;
    BlockHeap damaged{file};
    damaged.createHeader();
    damaged.allocate(92, false);
    const int64_t tail = damaged.allocate(8, false) - 8;
    const std::vector<uint8_t> bytes(c.bytes);
    int32_t id = file.beginTransaction();
    file.writeData(c.at != 0 ? c.at : tail, bytes.data(), static_cast<int64_t>(bytes.size()));
    file.finishTransaction(id);
    damaged.reloadMirrors();
    const std::vector<uint8_t> before = file.committed();
    expectRaise([&] { damaged.allocate(8, false); }, "BUG",
                "cJournaledBlockFile.allocate(); tailPos is not the last block");
    EXPECT_EQ(file.committed(), before);
    EXPECT_EQ(file.dataSize(), static_cast<int64_t>(before.size()));
  }
}

TEST_F(BlockHeapTest, DuringAMoveOnlyBlocksAfterTheMarkQualify) {
  std::vector<int64_t> h;
  for (int k = 0; k < 6; ++k) h.push_back(heap.allocate(92, false));
  heap.deallocate(h[4]);
  heap.deallocate(h[1]);  // list head: h[1], then h[4]
  heap.setAllocateAbovePos(h[2]);
  FreeFind found = heap.findFreeInArena(100);
  EXPECT_EQ(found.position, h[4] - 8);
  heap.setAllocateAbovePos(h[5]);
  EXPECT_EQ(heap.findFreeInArena(100).position, 0);
  EXPECT_EQ(heap.findFreeInArena(100).f, -1);
  heap.setAllocateAbovePos(0);
  EXPECT_EQ(heap.findFreeInArena(100).position, h[1] - 8);
}

TEST_F(BlockHeapTest, AllocateFromAKnownFreeBlockSplitsTheRest) {
  int64_t a = heap.allocate(192, false);
  heap.allocate(8, false);
  heap.deallocate(a);
  int64_t position = heap.allocateFromFreeBlock(64, header(a - 8), true);
  EXPECT_EQ(position, a - 8);
  EXPECT_EQ(heap.infoSizeOfBlock(a), 56);
  EXPECT_TRUE(header(a - 8 + 64).isFree);
  expectClean();
}

TEST_F(BlockHeapTest, AnExceptionInsideATransactionRestoresTheMirrors) {
  heap.allocate(100, false);
  try {
    BlockTransaction outer(store);
    heap.allocate(500, false);
    heap.deallocate(8504);
    throw std::runtime_error("caller failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(heap.tailPos(), 8496);
  EXPECT_EQ(heap.flFreeBitmap(), 0u);
  EXPECT_EQ(heap.allocate(20, false), 8496 + 108 + 8);
  expectClean();
}

// A sparse store for the size limit: only written bytes are kept.
class SparseStore : public MemoryBlockStore {
 public:
  void doReadData(int64_t position, uint8_t* out, int64_t length) override {
    for (int64_t k = 0; k < length; ++k) {
      auto it = bytes_.find(position + k);
      out[k] = it == bytes_.end() ? 0 : it->second;
    }
  }
  void doWriteData(int64_t position, const uint8_t* in, int64_t length) override {
    for (int64_t k = 0; k < length; ++k) bytes_[position + k] = in[k];
    size_ = std::max(size_, position + length);
  }
  int64_t dataSize() override { return size_; }
  void setDataSize(int64_t size) override { size_ = size; }
  void discardChanges() override {}
  void doFinishTransaction(int32_t) override {}
  uint64_t changeCount() override { return 0; }  // its writes are not counted

 private:
  std::map<int64_t, uint8_t> bytes_;
  int64_t size_ = 0;
};

TEST(BlockHeapLimit, TheDataAreaStopsBelow4GiB) {
  SparseStore store;
  BlockHeap heap(store);
  heap.createHeader();
  int64_t big = int64_t{1} << 30;
  for (int k = 0; k < 3; ++k) heap.allocate(big, false);
  expectRaise([&] { heap.allocate(big, false); }, "FULL", "cJournaledBlockFile.allocate(); file size limit reached");
  expectRaise([&] { heap.allocate(INT32_MAX, false); }, "FULL",
              "cJournaledBlockFile.allocate(); file size limit reached");
  EXPECT_EQ(heap.allocate(8, false) - 8, 8496 + 3 * (big + 8));
}

}  // namespace
}  // namespace bw
