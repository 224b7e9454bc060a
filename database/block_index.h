// database/block_index.h - the stable index of an indexed block file: an
// array block of signed 64-bit entries that gives every block a 1-based index
// number, the ascending chain of free entries, and the upgrade of older
// array layouts.
//
// Array layout (entries, big-endian i64, at the array block's handle):
//   0 version 2, 1 specialCount 14, 2 arraySize, 3 arrayFree, 4 firstFree,
//   5 dummyBlock, 6..13 header values of the layer above,
//   14..arraySize-1 one entry per index (index i is entry i + 13).
// Entry value: > 0 and not dummyBlock: the handle of the index's block;
// dummyBlock: preallocated; <= 0: free, minus the next free entry (0 ends).
// An indexed block's payload starts with its entry number (u32); the data
// follow at handle + 4, the data position.
//
// Invariants:
//   1. The free entries form one chain from firstFree in ascending entry
//      order; arrayFree counts them; firstFree is 0 exactly when none is free.
//   2. The mirrors (arrayBlock = block file word 1, arraySize, arrayFree,
//      firstFree, dummyBlock) equal their stored values; each change writes
//      both in one transaction, and a discard rereads them (reloadMirrors).
//   3. The array grows only x4 when no entry is free, and shrinks only back
//      to 128 entries when no index is in use.
//   4. While the array has the current layout, header values 6..13 are
//      mirrored too (the layer above reads some of them at every step).
//      Inside an open transaction of a journaled file, setHeaderValue sets
//      the mirror and leaves the write waiting (the layer above sets some at
//      every step); the waiting values are written before the outermost
//      transaction finishes, before the array is copied, moved or reread,
//      and a discard drops them with everything else. So the array holds
//      what writing at once would have left whenever anything else reads it
//      or a commit can take it, and each write left out is counted toward
//      the forced commit as it would have been.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "database/block_heap.h"

namespace bw {

inline constexpr int32_t kIndexSpecialCount = 14;
inline constexpr int32_t BLOCKINDEX_MIN = kIndexSpecialCount;
inline constexpr int32_t kIndexInitialSize = 128;
inline constexpr int32_t kIndexVersion = 2;
// Entry numbers above this are refused; above kIndexWarnEntry a warning.
inline constexpr int64_t kIndexLimitEntry = 0x7FFFFFEF;
inline constexpr int64_t kIndexWarnEntry = 0x3FFFFFFF;

// An index handed out with its block: the data position is handle + 4;
// capacity is what infoSizeOfIndexBlock answers for it.
struct IndexedBlock {
  int32_t index = 0;
  int64_t dataPosition = 0;
  int32_t capacity = 0;
};

class BlockIndex {
 public:
  explicit BlockIndex(BlockHeap& heap) : heap_(heap) {}
  BlockIndex(const BlockIndex&) = delete;
  BlockIndex& operator=(const BlockIndex&) = delete;

  // Builds the array of a new file with its dummy block (own transaction),
  // then flushes.
  void createIndex();
  // Reads the array header into the mirrors, upgrading a version-1 layout or
  // a version-2 layout with fewer than 14 header entries (own transaction).
  void openIndex();
  // The index-limit check of open: prints the warning or the error line to
  // standard output; false when the file must not be opened.
  bool admitAtOpen(const std::string& path);
  // Rereads the mirrors from the stored array and empties the cache (after
  // uncommitted changes were discarded).
  void reloadMirrors();

  // --- indices (own transaction unless noted) ---------------------------------------
  int32_t privateAllocateIndex();  // caller's transaction; returns an entry
  IndexedBlock allocateIndexBlock(int32_t sizeInBytes, bool clear);
  // allocateIndexBlock(record's size, FALSE), then record written at its
  // data position: the same bytes, the header, index word and record of a
  // block appended at the end in one write.
  IndexedBlock allocateIndexBlockHolding(std::span<const uint8_t> record);
  IndexedBlock allocateIndexArray(int32_t count, bool clear);
  void deallocateIndex(int32_t index);
  int32_t preallocateIndex();
  // capacity, when given, receives the new block's data capacity.
  int64_t reallocateIndex(int32_t index, int32_t newSize, bool clear, int32_t bytesToKeep,
                          int32_t* capacity = nullptr);
  int64_t reallocateIndexArray(int32_t index, int32_t newCount, int32_t oldCount, bool clear);
  // newSize <= 0 or above 2^31 - 1 means 2^31 - 1 entries.
  void resizeIndexArray(int64_t newSize);

  // --- look-ups ------------------------------------------------------------------
  int64_t infoBlockOfIndex(int32_t index, bool quiet);
  // The quiet infoBlockOfIndex of first .. first + count - 1 into out[0 ..
  // count - 1], the entries read with one read.
  void infoBlocksOfIndices(int32_t first, int32_t count, int64_t* out);
  int32_t infoIndexOfBlock(int64_t dataPosition);
  // False for an index outside 1 .. arraySize - 14.
  bool infoIsPreallocated(int32_t index);
  // header: as BlockHeap::infoSizeOfBlock takes it.
  int32_t infoSizeOfIndexBlock(int64_t dataPosition, const uint8_t* header = nullptr);
  int64_t infoDummyBlock() const { return dummyBlock_; }

  // Header values 6..13 (entries 6..13): set in an own transaction (inside
  // an open one of a journaled file, waiting in that: invariant 4), read
  // from their mirror or, without one, from the array.
  void setHeaderValue(int32_t entry, int64_t value);
  // Writes the header values left waiting (invariant 4), inside the open
  // transaction.
  void writeWaitingValues();
  // Test seam: false writes every header value at once, as without waiting.
  void letHeaderValuesWait(bool wait) { letWait_ = wait; }
  int64_t getHeaderValue(int32_t entry) {
    if (valuesMirrored_ && entry >= kFirstHeaderValue && entry < kIndexSpecialCount) {
      return values_[static_cast<size_t>(entry - kFirstHeaderValue)];
    }
    return heap_.readArrayEntry(arrayBlock_, entry);
  }

  // Unchecked u32 elements of an index array's data.
  uint32_t readIndexArrayElement(int64_t dataPosition, int32_t element);
  void writeIndexArrayElement(int64_t dataPosition, int32_t element, uint32_t value);

  // --- entries ---------------------------------------------------------------------
  int64_t readEntry(int64_t entry) { return heap_.readArrayEntry(arrayBlock_, entry); }
  void writeEntry(int64_t entry, int64_t value) { heap_.writeArrayEntry(arrayBlock_, entry, value); }

  // --- mirrors ---------------------------------------------------------------------
  int32_t specialCount() const { return specialCount_; }
  int64_t arrayBlock() const { return arrayBlock_; }
  int32_t arraySize() const { return arraySize_; }
  int32_t arrayFree() const { return arrayFree_; }
  int32_t firstFree() const { return firstFree_; }

 private:
  struct Header {
    int64_t version = 0;
    int32_t specialCount = 0, arraySize = 0, arrayFree = 0, firstFree = 0;
    int64_t dummyBlock = 0;
  };
  Header readHeader();
  void takeHeader(const Header& h);
  // Rereads header values 6..13 into their mirror when the array has the
  // current layout; forgets the mirror otherwise.
  void mirrorHeaderValues();
  void upgrade(int64_t version);
  void checkArrayFits();
  // Writes entries first .. first + n - 1 as the free chain run
  // -(first + 1) .. -(first + n - 1), last.
  void writeChainRun(int64_t first, int64_t n, int64_t last);
  void writeMirror(int32_t entry, int64_t value) { heap_.writeArrayEntry(arrayBlock_, entry, value); }
  // Entries entry and entry + 1 with one write.
  void writeTwoEntries(int64_t entry, int64_t first, int64_t second);

  BlockHeap& heap_;
  int32_t specialCount_ = 0;
  int64_t arrayBlock_ = 0;
  int32_t arraySize_ = 0;
  int32_t arrayFree_ = 0;
  int32_t firstFree_ = 0;
  int64_t dummyBlock_ = 0;
  static constexpr int32_t kFirstHeaderValue = 6;
  std::array<int64_t, kIndexSpecialCount - kFirstHeaderValue> values_{};
  bool valuesMirrored_ = false;
  // Bit k: value 6 + k waits to be written (invariant 4).
  uint32_t waiting_ = 0;
  bool letWait_ = true;
  // allocateIndexBlockHolding's header room, index word and record (its
  // room kept from block to block).
  std::vector<uint8_t> framed_;
};

}  // namespace bw
