// fuzz/fuzz_indexed_heap.h - the block heap and index that the indexed-file
// fuzz targets build over their input: 8 operation bytes, then the data area,
// held in memory by a store that refuses to grow past 2 MiB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/exception.h"
#include "database/block_heap.h"
#include "database/block_index.h"
#include "database/memory_block_store.h"

namespace bw::fuzzing {

constexpr size_t kOperationBytes = 8;

// A store that refuses to grow past 2 MiB, as a disk would at some point.
class CappedStore : public bw::MemoryBlockStore {
 public:
  explicit CappedStore(std::vector<uint8_t> committed) { replaceCommitted(std::move(committed)); }
  void setDataSize(int64_t size) override {
    if (size > (int64_t{2} << 20)) bw::raise("FULL", "fuzz; store full");
    bw::MemoryBlockStore::setDataSize(size);
  }
};

// Inputs of a usable length: the operation bytes and at most 1 MiB in all.
inline bool usableIndexedInput(size_t size) { return size >= kOperationBytes && size <= (size_t{1} << 20); }

// The data area after the operation bytes, with a heap and an index over it
// that reread their mirrors whenever the store discards changes.
struct IndexedHeap {
  CappedStore store;
  bw::BlockHeap heap{store};
  bw::BlockIndex index{heap};

  // The store holds its bytes before the heap and the index first look.
  IndexedHeap(const uint8_t* data, size_t size)
      : store(std::vector<uint8_t>(data + kOperationBytes, data + size)) {
    store.setDiscardHook([this] {
      heap.reloadMirrors();
      index.reloadMirrors();
    });
  }
  IndexedHeap(const IndexedHeap&) = delete;
  IndexedHeap& operator=(const IndexedHeap&) = delete;
};

}  // namespace bw::fuzzing
