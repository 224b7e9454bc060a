// database/transaction_cache.cpp - the chunk list, its index, bitmap marking
// and the chunk reader.
#include "database/transaction_cache.h"

#include <algorithm>
#include <new>
#include <utility>

#include <sanitizer/asan_interface.h>

#include "core/exception.h"
#include "database/chunk_runs.h"

namespace bw {

fCompareMegaNodes_transactionCacheChunk* gCompareMegaNodes_transactionCacheChunk = nullptr;

int32_t fCompareMegaNodes_transactionCacheChunk::call(cMegaMiniListGeneric*, MegaNode* a, MegaNode* b) {
  int32_t ca = static_cast<transactionCacheChunkNode*>(a)->chunkNumber;
  int32_t cb = static_cast<transactionCacheChunkNode*>(b)->chunkNumber;
  return ca < cb ? 1 : (ca > cb ? -1 : 0);
}

void journalModuleInit() {
  delete gCompareMegaNodes_transactionCacheChunk;
  gCompareMegaNodes_transactionCacheChunk = new fCompareMegaNodes_transactionCacheChunk;
}

void journalModuleEnd() {
  delete gCompareMegaNodes_transactionCacheChunk;
  gCompareMegaNodes_transactionCacheChunk = nullptr;
}

// ---------------------------------------------------------------------------
// Bitmap.
// ---------------------------------------------------------------------------

void markCached(ChunkPayload& node, int32_t offset, int32_t length) {
  // By pairs of words (a chunk is 15): the first and the last in part, the
  // ones between whole.
  const auto first = static_cast<uint32_t>(offset) / 64;
  const auto last = static_cast<uint32_t>(offset + length - 1) / 64;
  const uint64_t firstMask = ~uint64_t{0} << (static_cast<uint32_t>(offset) % 64);
  const uint64_t lastMask = ~uint64_t{0} >> (63 - static_cast<uint32_t>(offset + length - 1) % 64);
  if (first == last) {
    setBitmapPair(node, first, bitmapPair(node, first) | (firstMask & lastMask));
    return;
  }
  setBitmapPair(node, first, bitmapPair(node, first) | firstMask);
  for (uint32_t p = first + 1; p < last; ++p) setBitmapPair(node, p, ~uint64_t{0});
  setBitmapPair(node, last, bitmapPair(node, last) | lastMask);
}

bool allCached(const ChunkPayload& node, int32_t offset, int32_t length) {
  ChunkBit first = chunkBitOf(offset);
  ChunkBit last = chunkBitOf(offset + length - 1);
  for (int32_t w = first.word; w <= last.word; ++w) {
    uint32_t want = bitRangeMask(w == first.word ? first.mask : 1u, w == last.word ? last.mask : 0x80000000u);
    if ((node.bitmap[w] & want) != want) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The list.
// ---------------------------------------------------------------------------

cMegaList_transactionCacheChunk::cMegaList_transactionCacheChunk(bool cursorsMoveForward)
    : index_(std::make_unique<cNumberSpace_VALUE_cnumberspace>()) {
  init(cursorsMoveForward);
  reserved_ = used_;
}

cMegaList_transactionCacheChunk::~cMegaList_transactionCacheChunk() {
  index_.reset();
  // Every node is ended while the slabs are still there.
  endList();
  for (auto& slab : slabs_) ASAN_UNPOISON_MEMORY_REGION(slab.get(), sizeof(Slot) * kSlabNodes);
}

MegaNode* cMegaList_transactionCacheChunk::makeNode() {
  if (used_ == slabs_.size() * kSlabNodes) {
    // Uninitialised memory: a node's data bytes are written before any is
    // read (invariant 2).
    slabs_.push_back(std::make_unique_for_overwrite<Slot[]>(kSlabNodes));
    ASAN_POISON_MEMORY_REGION(slabs_.back().get(), sizeof(Slot) * kSlabNodes);
  }
  Slot* slot = &slabs_[used_ / kSlabNodes][used_ % kSlabNodes];
  ++used_;
  ASAN_UNPOISON_MEMORY_REGION(slot, sizeof(Slot));
  return ::new (static_cast<void*>(slot)) Node;
}

cMegaList_transactionCacheChunk::Node* cMegaList_transactionCacheChunk::made(int32_t chunkNumber) {
  auto* node = static_cast<Node*>(makeNode());
  infoMiniList()->initNode(node);
  node->chunkNumber = chunkNumber;
  infoPastEnd()->beforeInsert(node);
  ++chunkCount_;
  const auto c = static_cast<uint32_t>(chunkNumber);
  if (c < kTableChunks) {
    if (c >= table_.size()) table_.resize(c + 1, nullptr);
    table_[c] = node;
  } else {
    index_->set(chunkNumber, reinterpret_cast<intptr_t>(node));
    beyondTable_ = true;
  }
  return node;
}

void cMegaList_transactionCacheChunk::clear() {
  // Every slot handed out since the last clear holds a node (or a node
  // ended since): the table's entries that point to one go back to null.
  for (size_t k = reserved_; k < used_; ++k) {
    const auto* node = reinterpret_cast<const Node*>(&slabs_[k / kSlabNodes][k % kSlabNodes]);
    const auto c = static_cast<uint32_t>(node->chunkNumber);
    if (c < table_.size() && table_[c] == node) table_[c] = nullptr;
  }
  if (beyondTable_) index_ = std::make_unique<cNumberSpace_VALUE_cnumberspace>();
  beyondTable_ = false;
  chunkCount_ = 0;
  if (!isEmpty()) {
    // Taken out as one chain and left to the slabs: nothing is freed node by
    // node, and the slots are handed out again from reserved_ on.
    auto cursor = infoStart()->clone(1, 0);
    cursor->extract(infoPastEnd());
  }
  used_ = reserved_;
  const size_t keep = std::max(kKeptSlabs, (reserved_ + kSlabNodes - 1) / kSlabNodes);
  if (slabs_.size() > keep) slabs_.resize(keep);
  poisonFreeSlots();
}

void cMegaList_transactionCacheChunk::poisonFreeSlots() {
  for (size_t s = used_ / kSlabNodes; s < slabs_.size(); ++s) {
    size_t from = s == used_ / kSlabNodes ? used_ % kSlabNodes : 0;
    ASAN_POISON_MEMORY_REGION(&slabs_[s][from], sizeof(Slot) * (kSlabNodes - from));
  }
}

// ---------------------------------------------------------------------------
// Chunk reader.
// ---------------------------------------------------------------------------

void initReadChunk(chunkReader& reader, const ChunkPayload* node, int32_t chunkOffset, int64_t length) {
  if (length <= 0) raise("EPU", "initReadChunk(); remLengthFromPos<=0");
  if (chunkOffset >= kChunkSize) raise("EPU", "initReadChunk(); chunkOffsetOfPos>=TRANSACTIONCACHECHUNK_SIZE");
  reader.node = node;
  reader.start = chunkOffset;
  reader.end = static_cast<int32_t>(std::min<int64_t>(kChunkSize, chunkOffset + length));
  reader.current = chunkOffset;
}

ChunkRun doReadChunk(chunkReader& reader, bool cachedOnly) {
  while (reader.current < reader.end) {
    int32_t from = reader.current;
    bool cached = reader.node && (reader.node->bitmap[static_cast<size_t>(from / 32)] >> (from % 32) & 1) != 0;
    int32_t to = reader.node ? chunkRunEnd(*reader.node, from, reader.end, cached) : reader.end;
    reader.current = to;
    if (cachedOnly && !cached) continue;
    return ChunkRun{false, cached, to - from, from - reader.start, from};
  }
  return ChunkRun{true, false, 0, 0, reader.end - reader.start};
}

}  // namespace bw
