// database/block_walk.cpp - walking the blocks of a heap in file order.
#include "database/block_walk.h"

namespace bw {

int64_t infoFirstBlock(BlockHeap& heap) {
  return heap.tailPos() != 0 ? heap.firstBlockPos() + kBlockHeaderBytes : 0;
}

int64_t infoNextUsedBlock(BlockHeap& heap, int64_t handle) {
  blockRecord r;
  heap.readBlockHeader(r, handle - kBlockHeaderBytes, false);
  return infoNextUsedAfter(heap, r);
}

int64_t infoNextUsedAfter(BlockHeap& heap, const blockRecord& block) {
  int64_t size = heap.store().dataSize();
  blockRecord r = block;
  for (int64_t position = r.nextBlock; position != 0 && position < size; position = r.nextBlock) {
    heap.readBlockHeader(r, position, false);
    if (!r.isFree) return position + kBlockHeaderBytes;
  }
  return 0;
}

int32_t infoFreeSizeBefore(BlockHeap& heap, int64_t handle) {
  blockRecord r;
  heap.readBlockHeader(r, handle - kBlockHeaderBytes, false);
  if (r.prevBlock == 0) return 0;
  blockRecord prev;
  heap.readBlockHeader(prev, r.prevBlock, false);
  return prev.isFree ? prev.size - kBlockHeaderBytes : 0;
}

HeapOverhead infoHeapOverhead() { return {FIRST_BLOCK_POS, kBlockHeaderBytes}; }

HeapOverhead infoIndexedOverhead(const BlockIndex& index) {
  HeapOverhead heap = infoHeapOverhead();
  return {heap.fixedBytes + 2 * heap.perBlock + 1 + 8 * index.arraySize(), heap.perBlock + 4};
}

}  // namespace bw
