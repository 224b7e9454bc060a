// database/block_move_test.cpp - the walk over used blocks, the overhead
// figures and block moves, in the plain heap and with an index that must
// follow every moved block (including the index array and the dummy block
// when they are the block placed).
#include "database/block_move.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "database/block_walk.h"
#include "database/validate_test_support.h"

namespace bw {
namespace {

class BlockMoveTest : public testing::HeapFixture {
 protected:
  // A block holding a recognisable text.
  int64_t put(int32_t payload, const char* text) {
    int64_t h = heap.allocate(payload, true);
    writeText(h, text);
    return h;
  }
  void writeText(int64_t h, const char* text) {
    BlockTransaction tx(store);
    store.writeData(h, reinterpret_cast<const uint8_t*>(text), static_cast<int64_t>(std::strlen(text)) + 1);
    tx.finish();
  }
  std::string textAt(int64_t h) {
    char b[16] = {};
    store.readData(h, reinterpret_cast<uint8_t*>(b), 15);
    return b;
  }
  void expectClean() {
    EXPECT_EQ(layoutFindings(), std::vector<std::string>{});
    EXPECT_EQ(store.openTransactions(), 0);
    EXPECT_EQ(heap.allocateAbovePos(), 0);
  }
};

TEST_F(BlockMoveTest, WalkQueriesAndOverhead) {
  EXPECT_EQ(infoFirstBlock(heap), 0);
  int64_t a = put(40, "a"), b = put(100, "b"), c = put(40, "c");
  EXPECT_EQ(infoFirstBlock(heap), 8504);
  heap.deallocate(b);
  EXPECT_EQ(infoNextUsedBlock(heap, a), c);  // the free block is skipped
  EXPECT_EQ(infoNextUsedBlock(heap, c), 0);
  EXPECT_EQ(infoFreeSizeBefore(heap, c), 100);
  EXPECT_EQ(infoFreeSizeBefore(heap, a), 0);
  EXPECT_EQ(infoHeapOverhead().fixedBytes, 8496);
  EXPECT_EQ(infoHeapOverhead().perBlock, 8);
  index.createIndex();
  indexed = true;
  EXPECT_EQ(infoIndexedOverhead(index).fixedBytes, 8513 + 8 * 128);
  EXPECT_EQ(infoIndexedOverhead(index).perBlock, 12);
}

TEST_F(BlockMoveTest, NothingMovesWithoutFreeSpaceBefore) {
  put(40, "a");
  int64_t b = put(60, "b");
  std::vector<uint8_t> before = store.current();
  MovedBlock m = moveHeapBlock(heap, b, 0);
  EXPECT_EQ(m.handle, 0);
  EXPECT_FALSE(m.placed);
  m = moveHeapBlock(heap, b, b);  // B desired in place, no room before it
  EXPECT_EQ(m.handle, 0);
  EXPECT_EQ(store.current(), before);
  expectClean();
}

TEST_F(BlockMoveTest, BlockThatFitsTakesTheOrdinarySearch) {
  put(40, "a");
  int64_t f = put(100, "f");
  int64_t b = put(60, "b");
  int64_t c = put(40, "c");
  heap.deallocate(f);
  MovedBlock m = moveHeapBlock(heap, b, 0);
  EXPECT_EQ(m.handle, f);  // the free block before was the lowest fitting class
  EXPECT_FALSE(m.placed);
  EXPECT_EQ(textAt(m.handle), "b");
  EXPECT_EQ(infoFreeSizeBefore(heap, c), 100);  // the split rest and B's old room merged
  expectClean();
}

TEST_F(BlockMoveTest, SmallerSpaceSendsTheBlockBeyondItsNextNeighbour) {
  put(40, "a");
  int64_t f = put(40, "f");
  int64_t b = put(60, "b");
  int64_t c = put(40, "c");
  put(40, "d");
  int64_t end = store.dataSize();
  heap.deallocate(f);
  MovedBlock m = moveHeapBlock(heap, b, 0);
  EXPECT_EQ(m.handle, end + 8);
  EXPECT_EQ(textAt(m.handle), "b");
  EXPECT_EQ(infoFreeSizeBefore(heap, c), 48 + 68 - 8);
  expectClean();
}

TEST_F(BlockMoveTest, LastBlockReturnsIntoTheSpaceItLeft) {
  int64_t a = put(40, "a");
  int64_t f = put(40, "f");
  int64_t b = put(60, "b");
  heap.deallocate(f);
  MovedBlock m = moveHeapBlock(heap, b, 0);
  EXPECT_EQ(m.handle, f);  // appended, then moved back once more
  EXPECT_EQ(textAt(m.handle), "b");
  EXPECT_EQ(infoNextUsedBlock(heap, a), m.handle);
  EXPECT_EQ(store.dataSize(), f - 8 + 68);  // the space behind it was cut off
  expectClean();
}

TEST_F(BlockMoveTest, DesiredBlockIsPlacedInTheSpaceBefore) {
  put(40, "a");
  int64_t f = put(100, "f");
  int64_t b = put(40, "b");
  put(40, "c");
  int64_t d = put(60, "d");
  heap.deallocate(f);
  MovedBlock m = moveHeapBlock(heap, b, d);
  EXPECT_TRUE(m.placed);
  EXPECT_EQ(m.handle, f);
  EXPECT_EQ(textAt(f), "d");
  EXPECT_EQ(textAt(b), "b");
  EXPECT_EQ(store.dataSize(), d - 8);  // D was last: its old block is cut off
  expectClean();
}

TEST_F(BlockMoveTest, BlockMovesOutOfTheWayOfALargerDesiredBlock) {
  put(40, "a");
  int64_t f = put(40, "f");
  int64_t b = put(40, "b");
  int64_t c = put(40, "c");
  put(40, "e");
  int64_t d = put(100, "d");
  heap.deallocate(f);
  MovedBlock m = moveHeapBlock(heap, b, d);
  EXPECT_FALSE(m.placed);
  // The room D needs reaches past C: B lands beyond it, at the end.
  EXPECT_GT(m.handle, c);
  EXPECT_EQ(textAt(m.handle), "b");
  EXPECT_EQ(infoFreeSizeBefore(heap, c), 48 + 48 - 8);
  expectClean();
}

class IndexedMoveTest : public BlockMoveTest {
 protected:
  void SetUp() override {
    BlockMoveTest::SetUp();
    index.createIndex();
    indexed = true;
  }
  int32_t putIndexed(int32_t size, const char* text) {
    IndexedBlock b = index.allocateIndexBlock(size, true);
    writeText(b.dataPosition, text);
    return b.index;
  }
};

TEST_F(IndexedMoveTest, MovedIndexedBlockKeepsItsIndex) {
  int32_t one = putIndexed(40, "one");
  int32_t two = putIndexed(40, "two");
  int32_t three = putIndexed(40, "three");
  index.deallocateIndex(two);
  int64_t old = index.infoBlockOfIndex(three, false) - 4;
  MovedBlock m = moveIndexedBlock(heap, index, old, old);
  EXPECT_TRUE(m.placed);
  EXPECT_EQ(index.infoBlockOfIndex(three, false), m.handle + 4);
  EXPECT_EQ(textAt(index.infoBlockOfIndex(three, false)), "three");
  EXPECT_EQ(textAt(index.infoBlockOfIndex(one, false)), "one");
  expectClean();
}

// The desired block placed may be the dummy block or the index array: what
// is kept pointing at it is decided by the block that moved, not by B.
TEST_F(IndexedMoveTest, PlacedDummyBlockIsFollowed) {
  int32_t pre = index.preallocateIndex();
  putIndexed(40, "one");
  int32_t two = putIndexed(40, "two");
  int32_t three = putIndexed(40, "three");
  index.deallocateIndex(two);
  int64_t b = index.infoBlockOfIndex(three, false) - 4;
  int64_t oldDummy = index.infoDummyBlock();
  MovedBlock m = moveIndexedBlock(heap, index, b, oldDummy);
  ASSERT_TRUE(m.placed);
  EXPECT_NE(m.handle, oldDummy);
  EXPECT_EQ(index.infoDummyBlock(), m.handle);
  EXPECT_EQ(index.readEntry(5), m.handle);
  EXPECT_TRUE(index.infoIsPreallocated(pre));
  EXPECT_EQ(textAt(index.infoBlockOfIndex(three, false)), "three");
  store.flush();
  expectClean();
}

TEST_F(IndexedMoveTest, PlacedIndexArrayIsFollowed) {
  int32_t big = putIndexed(1100, "big");
  int32_t one = putIndexed(40, "one");
  index.deallocateIndex(big);
  int64_t b = index.infoBlockOfIndex(one, false) - 4;
  int64_t oldArray = index.arrayBlock();
  MovedBlock m = moveIndexedBlock(heap, index, b, oldArray);
  ASSERT_TRUE(m.placed);
  EXPECT_EQ(index.arrayBlock(), m.handle);
  EXPECT_EQ(heap.getUserValue(), m.handle);
  EXPECT_EQ(textAt(index.infoBlockOfIndex(one, false)), "one");
  EXPECT_EQ(index.allocateIndexBlock(8, true).index, 1);
  store.flush();
  expectClean();
}

TEST_F(IndexedMoveTest, IndexWordsOutOfRangeAreNotIndexed) {
  int32_t one = putIndexed(40, "one");
  int64_t h = index.infoBlockOfIndex(one, false) - 4;
  IndexOfBlock i = checkIndexOfBlock(heap, index, h);
  EXPECT_TRUE(i.valid);
  EXPECT_EQ(i.entry, 14);
  i = checkIndexOfBlock(heap, index, index.arrayBlock());  // word 0
  EXPECT_FALSE(i.valid);
  EXPECT_EQ(i.entry, -1);
}

// Random indexed heaps: every move that needs the next used block reports
// the one the walk found before the move, and every index still reaches its
// own data after its block moved (the index word is read at the new place).
TEST_F(IndexedMoveTest, RandomMovesReportTheNextBlockAndKeepTheirIndices) {
  std::mt19937 rng(7);
  std::vector<int32_t> live;
  int reported = 0;
  for (int step = 0; step < 3000; ++step) {
    uint32_t op = rng() % 10;
    if (live.size() < 3 || op < 4) {
      auto size = static_cast<int32_t>(rng() % 4 == 0 ? 1 + rng() % 900 : 8 + rng() % 90);
      IndexedBlock b = index.allocateIndexBlock(size, false);
      patch32(b.dataPosition, static_cast<uint32_t>(b.index));
      live.push_back(b.index);
    } else if (op < 6) {
      size_t i = rng() % live.size();
      index.deallocateIndex(live[i]);
      live.erase(live.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      int64_t b = index.infoBlockOfIndex(live[rng() % live.size()], false) - 4;
      int64_t d = op == 6 ? 0 : op == 7 ? b : index.infoBlockOfIndex(live[rng() % live.size()], false) - 4;
      int64_t next = infoNextUsedBlock(heap, b);
      MovedBlock m = moveIndexedBlock(heap, index, b, d);
      EXPECT_TRUE(m.nextUsed == -1 || m.nextUsed == next) << "step " << step;
      EXPECT_FALSE(m.handle != 0 && (!m.placed || d == b) && m.nextUsed < 0) << "step " << step;
      reported += m.nextUsed >= 0;
    }
  }
  for (int32_t i : live) EXPECT_EQ(heap.read32(index.infoBlockOfIndex(i, false)), static_cast<uint32_t>(i));
  EXPECT_GT(reported, 300);
  expectClean();
}

// Random allocations, frees and moves (both kinds) replayed from fixed
// seeds; the digest of the image after every 64 steps and at the end pins
// the placements, headers and free lists byte for byte. A change to the
// allocator's or the move's inner steps must keep every digest.
uint64_t fnv1a(uint64_t h, const std::vector<uint8_t>& bytes) {
  for (uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ULL;
  return h;
}

uint64_t replayDigest(uint32_t seed) {
  MemoryBlockStore store;
  BlockHeap heap(store);
  store.setDiscardHook([&] { heap.reloadMirrors(); });
  heap.createHeader();
  std::mt19937 rng(seed);
  std::vector<int64_t> live;
  auto pick = [&] { return static_cast<size_t>(rng() % live.size()); };
  uint64_t h = 0xcbf29ce484222325ULL;
  for (int step = 0; step < 1500; ++step) {
    uint32_t op = rng() % 10;
    if (live.empty() || op < 4) {
      int64_t payload = rng() % 4 == 0 ? 1 + rng() % 3000 : 1 + rng() % 120;
      int64_t handle = heap.allocate(payload, rng() % 2 == 0);
      BlockTransaction tx(store);
      heap.writeWord(handle, static_cast<int64_t>(rng()));
      tx.finish();
      live.push_back(handle);
    } else if (op < 7) {
      size_t i = pick();
      heap.deallocate(live[i]);
      live.erase(live.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      size_t i = pick();
      size_t j = op == 9 ? pick() : i;
      int64_t desired = op == 7 ? 0 : live[j];
      MovedBlock m = moveHeapBlock(heap, live[i], desired);
      if (m.handle != 0) live[m.placed ? j : i] = m.handle;
    }
    if (step % 64 == 63) h = fnv1a(h, store.current());
  }
  return fnv1a(h, store.current());
}

TEST(BlockHeapReplay, RandomSequencesKeepTheirImages) {
  const std::vector<std::pair<uint32_t, uint64_t>> cases = {
      {1, 17386495423630833874ULL}, {2, 15356188644889713688ULL}, {3, 15191080451048667138ULL},
      {4, 6208200647080905456ULL},  {5, 14018662061239591452ULL}, {6, 14497501926333268062ULL},
  };
  for (const auto& [seed, digest] : cases) {
    EXPECT_EQ(replayDigest(seed), digest) << "seed " << seed;
  }
}

// A store that marks every byte ever written and counts the bytes written,
// which is what the journal's cache and its commit policy see of the writes.
class MarkingStore : public MemoryBlockStore {
 public:
  void doWriteData(int64_t position, const uint8_t* in, int64_t length) override {
    MemoryBlockStore::doWriteData(position, in, length);
    const auto end = static_cast<size_t>(position + length);
    if (marks.size() < end) marks.resize(end, 0);
    std::fill(marks.begin() + position, marks.begin() + static_cast<std::ptrdiff_t>(end), uint8_t{1});
    bytes += length;
  }
  std::vector<uint8_t> marks;
  int64_t bytes = 0;
};

// The gathered allocation and copy against allocateFromFreeBlock and copy on
// the same random heaps: the same image, the same bytes written (each byte
// and their count), the same head, the next header as the store holds it,
// and the same image after the source is freed from that header.
TEST(BlockHeapGather, GatheredAllocationAndCopyWriteWhatTheStepsWrite) {
  struct Side {
    MarkingStore store;
    BlockHeap heap{store};
  };
  int applied = 0, withNext = 0;
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    Side a, b;
    a.heap.createHeader();
    b.heap.createHeader();
    std::mt19937 rng(seed);
    std::vector<int64_t> live;
    for (int step = 0; step < 400; ++step) {
      if (live.empty() || rng() % 3 != 0) {
        int64_t payload = rng() % 5 == 0 ? 1 + rng() % 2500 : 1 + rng() % 160;
        int64_t h = a.heap.allocate(payload, false);
        ASSERT_EQ(b.heap.allocate(payload, false), h);
        live.push_back(h);
        continue;
      }
      // Free one block, or copy one into a free block as a placing move does.
      size_t i = rng() % live.size();
      std::vector<blockRecord> free;
      for (int64_t p = FIRST_BLOCK_POS; p != 0 && p <= a.heap.tailPos();) {
        blockRecord r;
        a.heap.readBlockHeader(r, p, false);
        if (r.isFree) free.push_back(r);
        p = r.nextBlock;
      }
      blockRecord s;
      a.heap.readBlockHeader(s, live[i] - kBlockHeaderBytes, false);
      const blockRecord* f = free.empty() ? nullptr : &free[rng() % free.size()];
      if (rng() % 2 == 0 || !f || f->size < s.size) {
        a.heap.deallocate(live[i]);
        b.heap.deallocate(live[i]);
        live.erase(live.begin() + static_cast<std::ptrdiff_t>(i));
        continue;
      }
      std::array<uint8_t, kMovedHeadBytes> headA{}, headB{};
      BlockHeap::CopySource source{live[i], s.nextBlock != 0};
      BlockTransaction txA(a.store), txB(b.store);
      int64_t at = a.heap.allocateCopyFromFreeBlock(s.size, *f, source, headA);
      applied += at != 0;
      if (at == 0) {
        at = a.heap.allocateFromFreeBlock(s.size, *f, false);
        a.heap.copy(at + kBlockHeaderBytes, live[i], s.size - kBlockHeaderBytes, headA);
      }
      ASSERT_EQ(b.heap.allocateFromFreeBlock(s.size, *f, false), at);
      b.heap.copy(at + kBlockHeaderBytes, live[i], s.size - kBlockHeaderBytes, headB);
      EXPECT_EQ(headA, headB);
      // A split before the source gave it a new back link.
      a.heap.readBlockHeader(s, s.position, false);
      if (source.withNext) {
        ++withNext;
        EXPECT_EQ(std::memcmp(source.nextHeader.data(), b.store.current().data() + s.nextBlock, 24), 0);
        a.heap.deallocateRead(s, false, source.nextHeader.data());
      } else {
        a.heap.deallocate(live[i]);
      }
      b.heap.deallocate(live[i]);
      txA.finish();
      txB.finish();
      live[i] = at + kBlockHeaderBytes;
      ASSERT_EQ(a.store.current(), b.store.current()) << "seed " << seed << " step " << step;
      ASSERT_EQ(a.store.marks, b.store.marks) << "seed " << seed << " step " << step;
      ASSERT_EQ(a.store.bytes, b.store.bytes) << "seed " << seed << " step " << step;
    }
  }
  EXPECT_GT(applied, 200);
  EXPECT_GT(withNext, 200);
}

}  // namespace
}  // namespace bw
