// database/transaction_cache.h - the journaled file's write cache: every byte
// written since the last commit, in 960-byte chunks with a bitmap of the bytes
// each chunk holds, and the chunk reader that walks a chunk in runs.
//
// Invariants:
//   1. The data area is cut into chunks of kChunkSize bytes; chunk c covers
//      data positions 960c .. 960c + 959. Chunk numbers are 32-bit: positions
//      beyond 960 x 2^31 cannot be cached.
//   2. Bit k of bitmap word w of a node is set exactly when byte 32w + k of
//      its chunk is cached; bytes whose bit is clear are never read (a node
//      starts with an empty bitmap and data left as it was).
//   3. No two nodes of the list share a chunk number; a node is found by its
//      chunk number in the table (invariant 6) or, from kTableChunks on, in
//      the index. The past-end node has chunkNumber -1.
//   4. The list keeps creation order until sort() puts it in ascending chunk
//      order (the order in which the journal saves the chunks).
//   5. The nodes live in slabs the list owns: clear() hands them all back at
//      once and the next transaction reuses them (up to kKeptSlabs slabs; the
//      rest go back to the system), so a commit neither frees nor allocates
//      per chunk. Deleting a node ends it and frees nothing.
//   6. The table holds, for every chunk number below its size, that chunk's
//      node or null when the chunk holds nothing; every chunk number below
//      kTableChunks that has a node is below the size. A chunk number the
//      table does not cover holds nothing unless nodes lie beyond kTableChunks.
//
// The list, store and cursor are the typed mega list family of the chunk
// node; the shared ordering gCompareMegaNodes_transactionCacheChunk is made by
// journalModuleInit() and is the default of sort and the sorted cursor
// operations (call sort with an ordering when the module is not set up).
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "core/mega_list_family.h"
#include "core/number_space.h"
#include "core/ordering.h"

namespace bw {

inline constexpr int32_t TRANSACTIONCACHECHUNK_SIZE = 960;
inline constexpr int32_t kChunkSize = TRANSACTIONCACHECHUNK_SIZE;
inline constexpr int32_t kChunkBitmapWords = kChunkSize / 32;

// ---------------------------------------------------------------------------
// Chunk arithmetic (positions are data-area positions, never negative here).
// ---------------------------------------------------------------------------
struct ChunkPosition {
  int32_t chunkNumber;
  int32_t offset;
};
inline ChunkPosition chunkOfPosition(int64_t position) {
  const uint64_t chunk = static_cast<uint64_t>(position) / kChunkSize;
  return {static_cast<int32_t>(chunk), static_cast<int32_t>(static_cast<uint64_t>(position) - kChunkSize * chunk)};
}
inline int32_t chunkNumberOf(int64_t position) { return static_cast<int32_t>(position / kChunkSize); }

struct ChunkBit {
  int32_t word;
  uint32_t mask;  // one bit
};
inline ChunkBit chunkBitOf(int32_t chunkOffset) {
  return {chunkOffset / 32, uint32_t{1} << (chunkOffset % 32)};
}
// The bits from a's bit up to b's bit inclusive (a, b single bits, a <= b).
inline uint32_t bitRangeMask(uint32_t a, uint32_t b) { return (b | (b - 1)) & ~(a - 1); }

// ---------------------------------------------------------------------------
// Chunk node.
// ---------------------------------------------------------------------------
struct ChunkPayload {
  int32_t chunkNumber = -1;
  std::array<uint32_t, kChunkBitmapWords> bitmap{};
  // Only the bytes the bitmap marks hold anything (invariant 2).
  std::array<uint8_t, kChunkSize> data;
};
struct transactionCacheChunkNode : MegaNode, ChunkPayload {
  // Made only in the list's slabs (placement new, makeNode); the list's own
  // delete of a node runs its destructor and leaves the memory to the slab.
  static void operator delete(void*) noexcept {}
};

// Marks bytes offset .. offset + length - 1 of the node as cached
// (0 < length, offset + length <= kChunkSize).
void markCached(ChunkPayload& node, int32_t offset, int32_t length);
// True when every byte of the range is cached.
bool allCached(const ChunkPayload& node, int32_t offset, int32_t length);

// Orders chunk nodes by ascending chunkNumber.
class fCompareMegaNodes_transactionCacheChunk : public fCompareMegaNodes {
  BW_CLASS(fCompareMegaNodes_transactionCacheChunk, fCompareMegaNodes)
 public:
  int32_t call(cMegaMiniListGeneric* store, MegaNode* a, MegaNode* b) override;
};
extern fCompareMegaNodes_transactionCacheChunk* gCompareMegaNodes_transactionCacheChunk;

struct TransactionCacheChunkFamily {
  using Value = ChunkPayload;
  using Key = int32_t;
  using Node = transactionCacheChunkNode;
  static constexpr bool kObjects = false;
  static constexpr bool kMatch = false;
  static constexpr char kStoreName[] = "cMegaMiniList_transactionCacheChunk";
  static constexpr char kListName[] = "cMegaList_transactionCacheChunk";
  static constexpr char kCursorName[] = "cMegaCursor_transactionCacheChunk";
  static constexpr char kNewBug[] =
      "cMegaList_transactionCacheChunk.new(); pastEndFloatingNode supplied when miniList exists";
  static Value& valueOf(Node& node) { return node; }
  static Value copyValue(const Value& value) { return value; }
  static void endValue(Value&, cMegaListGeneric*) {}
  static Value valueForKey(Key chunkNumber) {
    Value v;
    v.chunkNumber = chunkNumber;
    return v;
  }
  static fCompareMegaNodes* defaultOrdering() { return gCompareMegaNodes_transactionCacheChunk; }
};

using cMegaMiniList_transactionCacheChunk = MegaMiniListT<TransactionCacheChunkFamily>;
using cMegaCursor_transactionCacheChunk = MegaCursorT<TransactionCacheChunkFamily>;

// ---------------------------------------------------------------------------
// The cache: the chunk list with its index by chunk number.
// ---------------------------------------------------------------------------
class cMegaList_transactionCacheChunk : public MegaListT<TransactionCacheChunkFamily> {
 public:
  using Node = transactionCacheChunkNode;
  // An empty list with its index (the typed new with cursorsMoveForward).
  explicit cMegaList_transactionCacheChunk(bool cursorsMoveForward = false);
  ~cMegaList_transactionCacheChunk() override;

  // The nodes by chunk number (invariant 6): the block layers come back to
  // chunks all over the data area (block headers, the free lists, index
  // entries, records), and the table finds each one with a load, where the
  // index costs a hash look-up. It grows with the chunks written, up to
  // kTableChunks (8 bytes a chunk: below 1% of the data area it covers).
  static constexpr uint32_t kTableChunks = uint32_t{1} << 20;

  // The node of a chunk, null when it holds nothing.
  Node* lookup(int32_t chunkNumber) const {
    const auto c = static_cast<uint32_t>(chunkNumber);
    if (c < table_.size()) return table_[c];
    return beyondTable_ ? reinterpret_cast<Node*>(index_->get(chunkNumber)) : nullptr;
  }
  // The node of a chunk, made empty and appended when absent.
  Node* obtain(int32_t chunkNumber) {
    if (Node* node = lookup(chunkNumber)) return node;
    return made(chunkNumber);
  }
  // Destroys every node and empties the table's entries and the index.
  void clear();
  size_t infoChunkCount() const { return chunkCount_; }

  std::unique_ptr<cMegaListGeneric> makeList() override {
    return std::make_unique<cMegaList_transactionCacheChunk>();
  }
  // A fresh node (empty bitmap, chunk -1) in the next free slot of the slabs.
  MegaNode* makeNode() override;

  // Slabs kept across clear(): enough for the chunks of an ordinary
  // transaction; a larger one's slabs are given back when it ends.
  static constexpr size_t kSlabNodes = 64;
  static constexpr size_t kKeptSlabs = 32;
  size_t infoSlabCount() const { return slabs_.size(); }

 private:
  // A new node for a chunk that has none.
  Node* made(int32_t chunkNumber);
  // Marks the slots from the first free one on as not in use (a sanitizer
  // build then catches a node used after clear).
  void poisonFreeSlots();

  std::unique_ptr<cNumberSpace_VALUE_cnumberspace> index_;
  // The table; nodes with chunk numbers from kTableChunks on are in the
  // index, and beyondTable_ tells whether there are any. A large transaction
  // makes hundreds of thousands of nodes: the table alone takes them, where
  // the index grew by each.
  std::vector<Node*> table_;
  bool beyondTable_ = false;
  size_t chunkCount_ = 0;  // the nodes made by obtain since the last clear
  // Node memory: slots are handed out in order; clear() starts again at
  // reserved_ (the past-end node and any made before the first chunk).
  struct alignas(Node) Slot {
    std::byte bytes[sizeof(Node)];
  };
  std::vector<std::unique_ptr<Slot[]>> slabs_;
  size_t used_ = 0;
  size_t reserved_ = 0;
};

// ---------------------------------------------------------------------------
// Chunk reader: walks bytes offset .. offset + min(length, 960 - offset) - 1
// of one chunk in maximal runs of cached or uncached bytes.
// ---------------------------------------------------------------------------
struct chunkReader {
  const ChunkPayload* node = nullptr;  // null: nothing cached
  int32_t start = 0;
  int32_t end = 0;  // exclusive
  int32_t current = 0;
};

// One step of a walk: finished, or the next run.
struct ChunkRun {
  bool finished = false;
  bool cached = false;
  int32_t length = 0;
  int32_t fromStart = 0;    // first byte relative to the walk's start
  int32_t chunkOffset = 0;  // first byte as chunk offset; the final step:
                            // the number of bytes walked
};

// Raises "EPU" "initReadChunk(); remLengthFromPos<=0" for length < 1 and
// "EPU" "initReadChunk(); chunkOffsetOfPos>=TRANSACTIONCACHECHUNK_SIZE" for an
// offset that leaves no byte in the chunk.
void initReadChunk(chunkReader& reader, const ChunkPayload* node, int32_t chunkOffset, int64_t length);
// The next run in ascending order; with cachedOnly only cached runs.
ChunkRun doReadChunk(chunkReader& reader, bool cachedOnly);

// The module: the shared chunk ordering.
void journalModuleInit();
void journalModuleEnd();

}  // namespace bw
