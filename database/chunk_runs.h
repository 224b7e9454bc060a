// database/chunk_runs.h - the runs of cached and uncached bytes of a
// transaction cache chunk, walked inline: the chunk reader's steps, the
// journal's save and the commit's writes in place go over every chunk of a
// transaction this way.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "database/transaction_cache.h"

namespace bw {

// Bits 64p .. 64p + 63 of a chunk's bitmap: words 2p and 2p + 1, in one
// load (or store) where the machine is little-endian.
inline uint64_t bitmapPair(const ChunkPayload& node, uint32_t pair) {
  if constexpr (std::endian::native == std::endian::little) {
    uint64_t bits;
    std::memcpy(&bits, node.bitmap.data() + 2 * pair, 8);
    return bits;
  }
  return uint64_t{node.bitmap[2 * pair]} | uint64_t{node.bitmap[2 * pair + 1]} << 32;
}

inline void setBitmapPair(ChunkPayload& node, uint32_t pair, uint64_t bits) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(node.bitmap.data() + 2 * pair, &bits, 8);
    return;
  }
  node.bitmap[2 * pair] = static_cast<uint32_t>(bits);
  node.bitmap[2 * pair + 1] = static_cast<uint32_t>(bits >> 32);
}

// The first offset in [from, end) whose cached state differs from cached,
// or end. Pairs of words in the run's state are passed over in one step (a
// chunk has 15).
inline int32_t chunkRunEnd(const ChunkPayload& node, int32_t from, int32_t end, bool cached) {
  static_assert(kChunkBitmapWords % 2 == 0);
  auto pair = static_cast<uint32_t>(from) / 64;
  const uint64_t flip = cached ? ~uint64_t{0} : 0;
  uint64_t bits = (bitmapPair(node, pair) ^ flip) & (~uint64_t{0} << (static_cast<uint32_t>(from) % 64));
  while (bits == 0) {
    if (++pair * 64 >= static_cast<uint32_t>(end)) return end;
    bits = bitmapPair(node, pair) ^ flip;
  }
  return std::min(end, static_cast<int32_t>(pair * 64 + static_cast<uint32_t>(std::countr_zero(bits))));
}

// The walk of a chunk reader without the reader: fn(offset, length, cached)
// for each maximal run of cached or uncached bytes among offset .. end - 1 of
// a chunk (node null: nothing cached), in ascending order; with kCachedOnly
// only for the cached runs.
template <bool kCachedOnly, class Fn>
inline void forEachRun(const ChunkPayload* node, int32_t offset, int32_t end, Fn&& fn) {
  if (!node) {
    if (!kCachedOnly && offset < end) fn(offset, end - offset, false);
    return;
  }
  while (offset < end) {
    const auto at = static_cast<uint32_t>(offset);
    const bool cached = (node->bitmap[at / 32] >> (at % 32)) & 1u;
    const int32_t to = chunkRunEnd(*node, offset, end, cached);
    if (!kCachedOnly || cached) fn(offset, to - offset, cached);
    offset = to;
  }
}

// fn(offset, length) for each maximal run of cached bytes of a whole chunk,
// in ascending order: forEachRun<true> over 0 .. kChunkSize - 1 found by the
// edges in the bitmap, where a bit differs from the one before it. A pair of
// words without an edge (the journal's save meets mostly those: a chunk of
// a large transaction often holds one or two short runs) costs a load and a
// compare.
template <class Fn>
inline void forEachCachedRunOfChunk(const ChunkPayload& node, Fn&& fn) {
  int32_t start = -1;  // the open run's first offset
  for (uint32_t pair = 0; pair < kChunkBitmapWords / 2; ++pair) {
    const uint64_t bits = bitmapPair(node, pair);
    const uint64_t before = start < 0 ? 0 : ~uint64_t{0};  // the state the pair starts in
    if (bits == before) continue;
    for (uint64_t edges = bits ^ ((bits << 1) | (before & 1)); edges != 0; edges &= edges - 1) {
      const auto at = static_cast<int32_t>(pair * 64 + static_cast<uint32_t>(std::countr_zero(edges)));
      if (start < 0) {
        start = at;
      } else {
        fn(start, at - start);
        start = -1;
      }
    }
  }
  if (start >= 0) fn(start, kChunkSize - start);
}

}  // namespace bw
