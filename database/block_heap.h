// database/block_heap.h - the block heap of a block file: the header area
// with the two-level segregated-fit free lists, block headers, and the
// allocator with its byte operations (copy, clear, arrays of 8-byte entries).
//
// cJournaledBlockFile and cJournaledIndexedBlockFile keep one BlockHeap over
// their journaled file; the heap itself knows the file only as a BlockStore.
//
// Invariants (kept by every operation that finishes):
//   1. Blocks tile the data area from FIRST_BLOCK_POS to its end without gaps;
//      the last block has the "last" flag and its position is tailPos (0 when
//      there is no block). Every block is a multiple of 4 and >= 28 bytes.
//   2. Every free block is in exactly one free list, that of the exact class
//      of its size, doubly linked through nextFree/prevFree; the list head is
//      secondLevel[f].freeLists[s].
//   3. Bit s of secondLevel[f].freeBitmap is set exactly when list (f, s) is
//      not empty; bit f of fl_freeBitmap exactly when secondLevel[f]'s bitmap
//      is not 0.
//   4. No free block is last (a freed tail is cut off); no two free blocks
//      are adjacent unless their sum would not stay below 2^31.
//   5. The mirrors (tailPos, the bitmaps, the list heads) equal their header
//      words; every change writes both inside the same transaction, and a
//      discard rereads them (reloadMirrors).
//   6. The data area never exceeds kBlockFileDataLimit bytes.
//
// Operations marked "own transaction" begin and finish a transaction of the
// store (and may be called inside or outside a caller's); the others write
// inside the caller's. Misuse is checked before a transaction begins, so an
// "EMU" never discards a caller's uncommitted work.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "database/block_format.h"
#include "database/block_store.h"

namespace bw {

// The in-memory form of a block header.
struct blockRecord {
  int64_t position = 0;
  int32_t size = 0;  // whole block, flags removed
  bool isFree = false;
  int64_t nextBlock = 0;  // 0 when last
  int64_t prevBlock = 0;  // 0 when first
  int64_t nextFree = 0;
  int64_t prevFree = 0;
};
// The record in the form in which it enters (asFree) or leaves (asUsed) a
// free list: position, size and neighbours kept, links cleared.
blockRecord asFreeRecord(const blockRecord& r);
blockRecord asUsedRecord(const blockRecord& r);

struct SecondLevel {
  uint32_t freeBitmap = 0;
  std::array<int64_t, SL_SIZE> freeLists{};
};

// A free block found for a size: position 0 (and f = s = -1) when none.
struct FreeFind {
  int64_t position = 0;
  int32_t f = -1;
  int32_t s = -1;
};

class BlockHeap {
 public:
  explicit BlockHeap(BlockStore& store) : store_(store) {}
  BlockHeap(const BlockHeap&) = delete;
  BlockHeap& operator=(const BlockHeap&) = delete;

  BlockStore& store() { return store_; }

  // --- header area ------------------------------------------------------------
  // Writes a fresh header area (own transaction), then flushes the store.
  void createHeader();
  // Reads the header area of an existing file into the mirrors. Raises "EMU"
  // for a version other than 3, "BUG" for an SL_SIZE other than 32.
  void loadHeader();
  // Rereads the mirrors without checks (after a discard); an area too short
  // to hold a header leaves them empty.
  void reloadMirrors();
  // Rereads the header words; with version 3 runs an empty transaction and
  // flushes; raises "BUG" when the first block position is not 8496.
  void checkHeader();
  int64_t getUserValue();
  void setUserValue(int64_t value);  // own transaction

  // --- block headers ----------------------------------------------------------
  // Fills r from the header at position; false (quiet) or "BUG" when a check
  // fails. With quiet all checks run and r stays filled.
  bool readBlockHeader(blockRecord& r, int64_t position, bool quiet);
  // Writes r's header; a used block's link bytes are left untouched.
  void writeBlockHeader(const blockRecord& r);
  void setTailPos(int64_t position);
  void set_fl_freeBitmap(uint32_t bitmap);
  void set_sl_freeBitmap(int32_t f, const SecondLevel& entry, uint32_t bitmap);
  void set_sl_freeList(int32_t f, const SecondLevel& entry, int32_t s, int64_t position);

  // --- allocator steps (caller's transaction) -----------------------------------
  // writeHeader false leaves the block's own header unwritten (removing a
  // block from its list, merging two), for a caller that writes it whole
  // next; its neighbours, links, lists and mirrors change as ever.
  FreeFind findFreeInArena(int32_t size);
  blockRecord removeFreeFromArena(const blockRecord& freeBlock, int32_t f, int32_t s, const SecondLevel& entry,
                                  bool writeHeader = true);
  blockRecord removeFreeBlock(const blockRecord& freeBlock, bool writeHeader = true);
  void addFreeToArena(const blockRecord& usedBlock);
  // Cuts usedBlock at size (usedBlock is updated); returns the rest, a used
  // block the caller then frees. writeRest false leaves the rest's header to
  // the caller, who writes it whole as a free block next.
  blockRecord splitBlock(blockRecord& usedBlock, int32_t size, bool writeRest = true);
  blockRecord mergeBothBlocks(const blockRecord& first, const blockRecord& second, bool writeHeader = true);

  // --- allocation (own transaction) ---------------------------------------------
  // Takes a known free block; returns the block's position (not its handle).
  int64_t allocateFromFreeBlock(int32_t blockSize, const blockRecord& freeBlock, bool clear);
  // What allocateCopyFromFreeBlock reads of the source beyond its payload.
  struct CopySource {
    int64_t handle = 0;
    // In: also read the header of the block after the source (its payload
    // ends there). Out: whether nextHeader holds it (never when nothing was
    // copied).
    bool withNext = false;
    std::array<uint8_t, kBlockHeaderBytes + kFreeLinkBytes> nextHeader{};
  };
  // allocateFromFreeBlock(blockSize, freeBlock, false) followed by
  // copy(its handle, source.handle, blockSize - 8, head), in the caller's
  // transaction: the same bytes, but the new block's header, the copied
  // bytes and the free header of a split rest, which lie back to back, go to
  // the store in one write, and the source is read in one read. It applies
  // to the two roads that write nothing else there (no split, or a split
  // whose rest succeeds the free block at the head of its list) and to small
  // payloads; 0 when it does not apply, before anything is written.
  int64_t allocateCopyFromFreeBlock(int32_t blockSize, const blockRecord& freeBlock, CopySource& source,
                                    std::span<uint8_t> head);
  // A block with at least sizeInBytes of payload; its handle. "EMU" for a
  // size <= 0, "FULL" past the data limit. payload, when given, receives the
  // block's payload size (what infoSizeOfBlock answers for it).
  int64_t allocate(int64_t sizeInBytes, bool clear, int32_t* payload = nullptr);
  // allocate(sizeInBytes, FALSE, payload) with the block's first payload
  // bytes written: framed holds kBlockHeaderBytes of room, then those bytes
  // (at most sizeInBytes). A block appended at the end takes its header and
  // the bytes in one write (the room is filled with the header); the file
  // gets the same bytes as the allocation followed by a write of them.
  int64_t allocateHolding(int64_t sizeInBytes, std::span<uint8_t> framed, int32_t* payload = nullptr);
  void deallocate(int64_t handle);
  // deallocate for a block whose header (block) the caller read and nothing
  // has changed since, or knows as the heap's writes left it. nextUsed: the
  // caller read the block after it as a used block, which it still is, so
  // that header is not read again.
  // nextHeader: the caller read the header of the block after it (as
  // allocateCopyFromFreeBlock does) with nothing written there since.
  void deallocateRead(const blockRecord& block, bool nextUsed = false, const uint8_t* nextHeader = nullptr);
  // head, when given, receives the first head.size() bytes copied when
  // there are at least that many.
  void copy(int64_t destination, int64_t source, int64_t sizeInBytes, std::span<uint8_t> head = {});
  // Overwrites bytes with the store's pad byte.
  void clear(int64_t handle, int64_t sizeInBytes);
  // header, when given, holds the block's header bytes (kBlockHeaderBytes +
  // kFreeLinkBytes from handle - kBlockHeaderBytes), read by the caller.
  int32_t infoSizeOfBlock(int64_t handle, const uint8_t* header = nullptr);
  int64_t allocArray(int64_t count, bool clear) { return allocate(count * 8, clear); }
  // A new block for an array of 8-byte entries with the old entries copied;
  // the old block stays allocated.
  int64_t resizeArray(int64_t handle, int64_t newCount, int64_t oldCount, bool clear);
  // Unchecked: the i64 at handle + 8 * index.
  int64_t readArrayEntry(int64_t handle, int64_t index);
  void writeArrayEntry(int64_t handle, int64_t index, int64_t value);

  // --- mirrors --------------------------------------------------------------------
  // The header of the last block as this heap last wrote it, while nothing
  // the heap wrote or read anew since can have changed it (allocate takes it
  // instead of reading it); FALSE when it is not known.
  bool knownTail(blockRecord& out) const;
  int32_t firstBlockPos() const { return firstBlockPos_; }
  int64_t tailPos() const { return tailPos_; }
  uint32_t flFreeBitmap() const { return flFreeBitmap_; }
  const SecondLevel& secondLevel(int32_t f) const { return secondLevel_[static_cast<size_t>(f)]; }
  int64_t allocateAbovePos() const { return allocateAbovePos_; }
  void setAllocateAbovePos(int64_t position) { allocateAbovePos_ = position; }

  // Raw words and 32-bit values of the data area.
  int64_t readWord(int64_t position);
  void writeWord(int64_t position, int64_t value);
  uint32_t read32(int64_t position);
  void write32(int64_t position, uint32_t value);

 private:
  // One link of a neighbour whose header is otherwise unchanged: only that
  // field is written, the header is not read first. The neighbour must lie
  // between the first block and the tail.
  void writeNextFree(int64_t position, int64_t nextFree);
  void writePrevFree(int64_t position, int64_t prevFree);
  void writePrevBlock(int64_t position, int64_t prevBlock);
  void checkNeighbour(int64_t position) const;
  // readBlockHeader's checks in their order, for a header that failed one:
  // "BUG" with the first failed unless quiet; false when one failed.
  static bool checkBlockHeader(const blockRecord& r, uint32_t word, int32_t prevOffset, bool quiet);
  // nextHeader: the bytes of the next block's header, read by the caller.
  void releaseBlock(blockRecord block, bool nextUsed = false, const uint8_t* nextHeader = nullptr);
  // readBlockHeader's steps: the range check (true when position is out of
  // range: r is cleared, "BUG" unless quiet) and the decoding of header bytes b.
  static bool outOfRange(blockRecord& r, int64_t position, bool quiet);
  static bool decodeBlockHeader(blockRecord& r, int64_t position, const uint8_t* b, bool quiet);
  // The header bytes of r (its checks raise as writeBlockHeader's); their
  // count, 8 for a used block and 24 for a free one.
  int64_t encodeBlockHeader(const blockRecord& r, uint8_t* b);
  // Whether free block r heads its list and a free block of size bytes
  // would fall in the same class. Such a block can take r's place at the
  // head (succeedHead) with the same outcome as taking r out of its list and
  // adding the new block: r's links, the bitmaps and, when it lies where r
  // did, the head word keep their values and are not written again.
  bool headsClassOf(const blockRecord& r, int32_t size) const {
    if (!r.isFree || r.prevFree != 0) return false;
    FreeClass c = mapSizeToFreeClass(static_cast<uint32_t>(r.size));
    return c == mapSizeToFreeClass(static_cast<uint32_t>(size)) &&
           secondLevel_[static_cast<size_t>(c.f)].freeLists[static_cast<size_t>(c.s)] == r.position;
  }
  void succeedHead(const blockRecord& head, const blockRecord& heir);
  void checkEntry(int32_t f, const SecondLevel& entry, const char* message) const;
  // Both allocations; framed as for allocateHolding, empty for none.
  int64_t allocateBlock(int64_t sizeInBytes, bool clear, int32_t* payload, std::span<uint8_t> framed);
  void clearMirrors();
  void readHeaderWords(uint8_t* area);

  BlockStore& store_;
  int32_t firstBlockPos_ = FIRST_BLOCK_POS;
  int64_t tailPos_ = 0;
  uint32_t flFreeBitmap_ = 0;
  std::array<SecondLevel, FL_COUNT> secondLevel_{};
  int64_t allocateAbovePos_ = 0;
  // While allocateCopyFromFreeBlock allocates, headers that writeBlockHeader
  // would write inside [gatherBegin_, gatherEnd_) are put at their place in
  // gather_ instead; gathered_ counts their bytes.
  uint8_t* gather_ = nullptr;
  int64_t gatherBegin_ = 0;
  int64_t gatherEnd_ = 0;
  int64_t gathered_ = 0;
  // The header infoSizeOfBlock read last and the store's change count then:
  // a block freed right after its size was asked for is read once.
  blockRecord sized_;
  uint64_t sizedCount_ = 0;
  // The last header written with the last flag (position 0: none known).
  // Only payload writes may reach a block's header otherwise; any write of
  // the heap's own over that header, or a reread of the mirrors, forgets it.
  struct KnownTail {
    int64_t position = 0;
    int32_t size = 0;
    int64_t prevBlock = 0;
  };
  KnownTail knownTail_;
  void noteHeaderWritten(const blockRecord& r) {
    if (r.nextBlock == 0 && !r.isFree) {
      knownTail_ = {r.position, r.size, r.prevBlock};
    } else if (r.position == knownTail_.position) {
      knownTail_ = {};
    }
  }
  // A write of [begin, end) other than a whole header.
  void noteBytesWritten(int64_t begin, int64_t end) {
    if (begin < knownTail_.position + kBlockHeaderBytes && end > knownTail_.position) knownTail_ = {};
  }
};

}  // namespace bw
