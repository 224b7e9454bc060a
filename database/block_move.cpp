// database/block_move.cpp - moving blocks for compaction.
#include "database/block_move.h"

#include "database/block_walk.h"

namespace bw {

namespace {

// allocateAbovePos holds only for the length of one move, also when an
// allocation inside it raises.
class AllocateAbove {
 public:
  explicit AllocateAbove(BlockHeap& heap) : heap_(heap) {}
  AllocateAbove(const AllocateAbove&) = delete;
  AllocateAbove& operator=(const AllocateAbove&) = delete;
  ~AllocateAbove() { heap_.setAllocateAbovePos(0); }
  void set(int64_t position) { heap_.setAllocateAbovePos(position); }

 private:
  BlockHeap& heap_;
};

// A fresh block of payload bytes holding a copy of the block at handle,
// which is freed; the fresh block's handle.
int64_t relocate(BlockHeap& heap, AllocateAbove& above, int64_t handle, int32_t payload, MovedBlock& m) {
  int64_t fresh = heap.allocate(payload, false);
  above.set(0);
  heap.copy(fresh, handle, payload, m.head);
  m.copied = true;
  heap.deallocate(handle);
  return fresh;
}

// relocate for block, the header of handle as read with nothing written
// since; nextUsed when the block after it was read as used. The allocation
// writes only free blocks and the tail, and the copy only the fresh block:
// block's header changes just where the fresh block was cut from the free
// block before it (the rest comes before it) or appended after it as the
// last block, and is freed as those writes left it without a read.
int64_t relocateRead(BlockHeap& heap, AllocateAbove& above, const blockRecord& block, int32_t payload, bool nextUsed,
                     MovedBlock& m) {
  const int64_t handle = block.position + kBlockHeaderBytes;
  int32_t taken = 0;
  const int64_t fresh = heap.allocate(payload, false, &taken);
  above.set(0);
  heap.copy(fresh, handle, payload, m.head);
  m.copied = true;
  const int64_t freshPosition = fresh - kBlockHeaderBytes;
  const int64_t freshEnd = fresh + taken;
  blockRecord freed = block;
  if (block.prevBlock != 0 && freshPosition == block.prevBlock && freshEnd != block.position) freed.prevBlock = freshEnd;
  if (block.nextBlock == 0 && freshPosition == block.position + block.size) freed.nextBlock = freshPosition;
  heap.deallocateRead(freed, nextUsed);
  return fresh;
}

}  // namespace

MovedBlock moveHeapBlock(BlockHeap& heap, int64_t handle, int64_t desiredHandle) {
  BlockTransaction tx(heap.store());
  AllocateAbove above(heap);
  blockRecord block;
  heap.readBlockHeader(block, handle - kBlockHeaderBytes, false);
  int32_t payload = block.size - kBlockHeaderBytes;
  bool wasLast = block.nextBlock == 0;
  blockRecord prev;
  int32_t prevPayload = 0;
  bool prevFree = false;
  if (block.prevBlock != 0) {
    heap.readBlockHeader(prev, block.prevBlock, false);
    prevPayload = prev.size - kBlockHeaderBytes;
    prevFree = prev.isFree;
  }

  int64_t nextUsed = -1;
  if (desiredHandle == 0) {
    if (!prevFree) {
      tx.finish();
      return {};
    }
    nextUsed = infoNextUsedAfter(heap, block);
    // The space before is too small for B: B goes beyond its next used
    // neighbour, so the two free areas can meet.
    if (prevPayload < payload && nextUsed != 0) above.set(nextUsed - kBlockHeaderBytes);
  } else {
    int32_t desiredPayload = payload;
    blockRecord desired;
    if (desiredHandle != handle) {
      heap.readBlockHeader(desired, desiredHandle - kBlockHeaderBytes, false);
      desiredPayload = desired.size - kBlockHeaderBytes;
    }
    if (!prevFree) prevPayload = 0;
    if (prevPayload >= desiredPayload) {
      if (desiredHandle == handle) nextUsed = infoNextUsedAfter(heap, block);
      MovedBlock m{0, true, nextUsed};
      // D's header is as read: the room before B and B's own header are
      // all that changed (D is not B here). The header after D is read with
      // D's payload, after the allocation's writes but the gathered one, which
      // lies apart from it.
      BlockHeap::CopySource source{desiredHandle, desiredHandle != handle && desired.nextBlock != 0};
      int64_t position = heap.allocateCopyFromFreeBlock(desiredPayload + kBlockHeaderBytes, prev, source, m.head);
      if (position == 0) {
        position = heap.allocateFromFreeBlock(desiredPayload + kBlockHeaderBytes, prev, false);
        heap.copy(position + kBlockHeaderBytes, desiredHandle, desiredPayload, m.head);
      }
      m.handle = position + kBlockHeaderBytes;
      m.copied = true;
      if (desiredHandle == handle) {
        heap.deallocate(desiredHandle);
      } else if (source.withNext) {
        heap.deallocateRead(desired, false, source.nextHeader.data());
      } else {
        heap.deallocateRead(desired);
      }
      tx.finish();
      return m;
    }
    if (desiredHandle == handle && prevPayload == 0) {
      tx.finish();
      return {};
    }
    // B moves out of the way, beyond the room that D needs in front of it.
    int64_t needed = block.prevBlock + desiredPayload + 7;
    nextUsed = infoNextUsedAfter(heap, block);
    for (int64_t next = nextUsed; next != 0; next = infoNextUsedBlock(heap, next)) {
      above.set(next - kBlockHeaderBytes);
      if (next - kBlockHeaderBytes >= needed) break;
    }
  }

  MovedBlock m{0, false, nextUsed};
  if (block.isFree) {
    // Only a damaged walk names a free block: it goes the reading road.
    m.handle = relocate(heap, above, handle, payload, m);
  } else {
    const bool nextIsUsed = nextUsed > 0 && nextUsed - kBlockHeaderBytes == block.nextBlock;
    m.handle = relocateRead(heap, above, block, payload, nextIsUsed, m);
  }
  if (wasLast && infoFreeSizeBefore(heap, m.handle) >= payload) m.handle = relocate(heap, above, m.handle, payload, m);
  tx.finish();
  return m;
}

namespace {

// Index word w and whether its entry holds handle.
IndexOfBlock indexWordOf(BlockIndex& index, uint32_t w, int64_t handle) {
  auto word = static_cast<int64_t>(w);
  if (word < BLOCKINDEX_MIN || word >= index.arraySize()) return {};
  return {index.readEntry(word) == handle, static_cast<int32_t>(word)};
}

}  // namespace

IndexOfBlock checkIndexOfBlock(BlockHeap& heap, BlockIndex& index, int64_t handle) {
  return indexWordOf(index, heap.read32(handle), handle);
}

MovedBlock moveIndexedBlock(BlockHeap& heap, BlockIndex& index, int64_t handle, int64_t desiredHandle) {
  // A handle before the data area fails in the index word's read, before
  // anything moves.
  if (handle < 0) checkIndexOfBlock(heap, index, handle);
  if (desiredHandle < 0) checkIndexOfBlock(heap, index, desiredHandle);

  BlockTransaction tx(heap.store());
  // The array's bytes are copied as they stand.
  if (handle == index.arrayBlock() || desiredHandle == index.arrayBlock()) index.writeWaitingValues();
  MovedBlock result = moveHeapBlock(heap, handle, desiredHandle);
  if (result.handle != 0) {
    // What follows concerns the block that actually moved: D when it was
    // placed, else B. The index array or the dummy block may be either; they
    // are recognised first, since the dummy block's bytes are arbitrary and
    // could look like an index word. Otherwise its index word is the one the
    // move copied to its new place; the move wrote no index entry, so the
    // entry is compared with the old handle as it stood before.
    int64_t old = result.placed ? desiredHandle : handle;
    if (old == index.arrayBlock()) {
      heap.setUserValue(result.handle);
      index.reloadMirrors();
    } else if (old == index.infoDummyBlock()) {
      for (int64_t e = BLOCKINDEX_MIN; e < index.arraySize(); ++e) {
        if (index.readEntry(e) == old) index.writeEntry(e, result.handle);
      }
      heap.writeArrayEntry(index.arrayBlock(), 5, result.handle);
      index.reloadMirrors();
    } else if (IndexOfBlock moved = indexWordOf(index, result.firstWord(), old); moved.valid) {
      index.writeEntry(moved.entry, result.handle);
    }
  }
  tx.finish();
  return result;
}

}  // namespace bw
