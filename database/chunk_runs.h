// database/chunk_runs.h - the runs of cached and uncached bytes of a
// transaction cache chunk, walked inline: the chunk reader's steps, the
// journal's save and the commit's writes in place go over every chunk of a
// transaction this way.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>

#include "database/transaction_cache.h"

namespace bw {

// The first offset in [from, end) whose cached state differs from cached,
// or end. Whole words in the run's state are passed over in one step.
inline int32_t chunkRunEnd(const ChunkPayload& node, int32_t from, int32_t end, bool cached) {
  auto word = static_cast<uint32_t>(from) / 32;
  const uint32_t flip = cached ? ~0u : 0u;
  uint32_t bits = (node.bitmap[word] ^ flip) & (~0u << (static_cast<uint32_t>(from) % 32));
  while (bits == 0) {
    if (++word * 32 >= static_cast<uint32_t>(end)) return end;
    bits = node.bitmap[word] ^ flip;
  }
  return std::min(end, static_cast<int32_t>(word * 32 + static_cast<uint32_t>(std::countr_zero(bits))));
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

}  // namespace bw
