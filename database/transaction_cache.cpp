// database/transaction_cache.cpp - the chunk list, its index, bitmap marking
// and the chunk reader.
#include "database/transaction_cache.h"

#include <algorithm>
#include <bit>

#include "core/exception.h"

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
  ChunkBit first = chunkBitOf(offset);
  ChunkBit last = chunkBitOf(offset + length - 1);
  if (first.word == last.word) {
    node.bitmap[first.word] |= bitRangeMask(first.mask, last.mask);
    return;
  }
  node.bitmap[first.word] |= bitRangeMask(first.mask, 0x80000000u);
  for (int32_t w = first.word + 1; w < last.word; ++w) node.bitmap[w] = 0xFFFFFFFFu;
  node.bitmap[last.word] |= bitRangeMask(1u, last.mask);
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
}

cMegaList_transactionCacheChunk::~cMegaList_transactionCacheChunk() {
  index_.reset();
  endList();
}

cMegaList_transactionCacheChunk::Node* cMegaList_transactionCacheChunk::obtainIndexed(int32_t chunkNumber) {
  if (Node* node = lookup(chunkNumber)) return node;
  Node* node = makeFloating(TransactionCacheChunkFamily::valueForKey(chunkNumber));
  infoPastEnd()->beforeInsert(node);
  index_->set(chunkNumber, reinterpret_cast<intptr_t>(node));
  return node;
}

void cMegaList_transactionCacheChunk::clear() {
  recent_.fill(nullptr);
  if (!isEmpty()) {
    auto cursor = infoStart()->clone(1, 0);
    cursor->destroy(infoPastEnd());
  }
  index_ = std::make_unique<cNumberSpace_VALUE_cnumberspace>();
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

namespace {

// The first offset in [from, end) whose cached state differs from cached, or
// end. Whole words in the run's state are passed over in one step.
int32_t runEnd(const ChunkPayload& node, int32_t from, int32_t end, bool cached) {
  int32_t word = from / 32;
  uint32_t bits = (cached ? ~node.bitmap[word] : node.bitmap[word]) & ~((uint32_t{1} << (from % 32)) - 1);
  while (true) {
    if (bits) return std::min(end, word * 32 + std::countr_zero(bits));
    if (++word * 32 >= end) return end;
    bits = cached ? ~node.bitmap[word] : node.bitmap[word];
  }
}

bool isCached(const ChunkPayload& node, int32_t offset) {
  ChunkBit bit = chunkBitOf(offset);
  return (node.bitmap[bit.word] & bit.mask) != 0;
}

}  // namespace

ChunkRun doReadChunk(chunkReader& reader, bool cachedOnly) {
  while (reader.current < reader.end) {
    int32_t from = reader.current;
    bool cached = reader.node && isCached(*reader.node, from);
    int32_t to = reader.node ? runEnd(*reader.node, from, reader.end, cached) : reader.end;
    reader.current = to;
    if (cachedOnly && !cached) continue;
    return ChunkRun{false, cached, to - from, from - reader.start, from};
  }
  return ChunkRun{true, false, 0, 0, reader.end - reader.start};
}

}  // namespace bw
