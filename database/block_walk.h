// database/block_walk.h - the walk over a block heap in file order that
// compaction and the debug dumps use, and the overhead figures of the two
// block file kinds.
//
// All handles are block handles (position + 8). The queries only read.
#pragma once

#include <cstdint>

#include "database/block_heap.h"
#include "database/block_index.h"

namespace bw {

// The handle of the first block, 0 when the heap holds none.
int64_t infoFirstBlock(BlockHeap& heap);
// The next used block after handle in file order, 0 when there is none; free
// blocks are skipped, and a next position at or past the data area's end
// counts as none. Header reads raise as readBlockHeader does.
int64_t infoNextUsedBlock(BlockHeap& heap, int64_t handle);
// The same for a block whose header the caller has just read.
int64_t infoNextUsedAfter(BlockHeap& heap, const blockRecord& block);
// The payload size of the block just before handle when that one is free,
// else 0.
int32_t infoFreeSizeBefore(BlockHeap& heap, int64_t handle);

// Fixed bytes of a file and bytes each block costs beyond its data.
struct HeapOverhead {
  int32_t fixedBytes = 0;
  int32_t perBlock = 0;
};
// The block file: the header area and the block header.
HeapOverhead infoHeapOverhead();
// The indexed file: the header area, the dummy block and the index array
// (8,513 + 8 x arraySize), and 12 per block (header and index word).
HeapOverhead infoIndexedOverhead(const BlockIndex& index);

}  // namespace bw
