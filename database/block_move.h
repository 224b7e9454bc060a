// database/block_move.h - moving one block of a heap for compaction, in the
// plain block file and in the indexed one (which keeps its index entries,
// its index array and its dummy block pointing at the moved block).
//
// moveHeapBlock (B, D), in one transaction of the heap's store:
//   D = 0: when the block before B is free, B moves: to where the ordinary
//     search finds room for it when that free block could hold it, else
//     beyond the next used block (or to the end of the file); the old block
//     is freed so that the free space merges. Otherwise nothing moves.
//   D != 0: when the free space before B can hold D, D is placed there
//     (placed TRUE); when D is B without free space before it, nothing
//     moves; otherwise B moves out of the way, beyond the room D needs.
// A block that had to be appended at the end while it was the last block is
// moved once more into the space it left, so the file end is cut off.
#pragma once

#include <array>
#include <cstdint>

#include "database/block_heap.h"
#include "database/block_index.h"

namespace bw {

// The block that moved: its new handle (0 when nothing moved) and whether it
// is the desired block that was placed instead of the given one. nextUsed is
// infoNextUsedBlock of the given block as the heap stood before the move
// (0: none); it is found whenever something moved and either the given block
// is what moved or the desired block is the given one, and is -1 when it was
// not looked for (the compaction walk then finds it after the move, which
// changed nothing when nothing moved). head holds the first bytes of the
// moved payload as they were copied (an indexed block's index word and the
// first 8 bytes of its data) when copied is TRUE, which a move that moved
// something sets.
inline constexpr int32_t kMovedHeadBytes = 12;
struct MovedBlock {
  int64_t handle = 0;
  bool placed = false;
  int64_t nextUsed = -1;
  std::array<uint8_t, kMovedHeadBytes> head{};
  bool copied = false;
  // The index word: the head's first 4 bytes, big-endian.
  uint32_t firstWord() const {
    return uint32_t{head[0]} << 24 | uint32_t{head[1]} << 16 | uint32_t{head[2]} << 8 | head[3];
  }
};

MovedBlock moveHeapBlock(BlockHeap& heap, int64_t handle, int64_t desiredHandle);

// The index word of the block at handle, and whether its entry holds this
// handle. An index word outside 14 .. arraySize - 1 answers FALSE with -1.
struct IndexOfBlock {
  bool valid = false;
  int32_t entry = -1;
};
IndexOfBlock checkIndexOfBlock(BlockHeap& heap, BlockIndex& index, int64_t handle);

// moveHeapBlock, then the entry, the index array or the dummy block of the
// block that actually moved is pointed at its new handle.
MovedBlock moveIndexedBlock(BlockHeap& heap, BlockIndex& index, int64_t handle, int64_t desiredHandle);

}  // namespace bw
