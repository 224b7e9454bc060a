// database/block_validate.h - validation and repair of a block heap: the
// header's first-block position and tail, the data area's size, the chain of
// blocks walked forwards by size and backwards by prevBlock, the free lists
// and bitmaps, and free blocks that no list reaches. Each finding is one
// numbered line, "(1)" to "(20)", on standard output when verbose.
//
// Invariants of a run:
//   1. Without repair nothing is written.
//   2. With repair the whole run is one transaction of the heap's store. A
//      run that aborts (findings 1, 5, 6, 10, 14) or catches an exception
//      discards it, so no half-done repair is ever committed; the result is
//      then valid FALSE, repaired FALSE.
//   3. No exception leaves validateBlockHeap: one raised inside is printed
//      (when verbose) and makes the run invalid.
//   4. Every walk ends: the forward walk advances by sizes of at least 25
//      bytes, the backward walk only follows prevBlock links that strictly
//      decrease and stay inside the block area, and free lists are walked
//      only over blocks of the chain, each at most once.
#pragma once

#include <memory>

#include "core/number_space.h"
#include "database/block_heap.h"

namespace bw {

// A set of 32-bit numbers handed between the validations (see setKey).
using ValidationSet = cNumberSpace_VALUE_cnumberspace;

// What a validation answers. The sets are the caller's; each is null unless
// the run was valid and the caller asked to keep it.
struct ValidationResult {
  bool valid = false;
  bool repaired = false;
  // The indices in use, allocated or preallocated (index validation only).
  std::unique_ptr<ValidationSet> indices;
  // The handles of all used blocks.
  std::unique_ptr<ValidationSet> blocks;
};

// With collectUsed, blocks holds the used blocks.
ValidationResult validateBlockHeap(BlockHeap& heap, bool verbose, bool repair, bool collectUsed);

}  // namespace bw
