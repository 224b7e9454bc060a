// database/index_validate.h - validation and repair of the index of an
// indexed block file, after the block heap beneath has validated itself:
// the index array and the dummy block, the array's size, every entry
// against its block and the block's index word, the order and count of the
// free chain, and used blocks that no entry accounts for.
//
// Invariants of a run (besides those of validateBlockHeap, which it runs
// first with the same verbose and repair):
//   1. With repair the heap's run and the index's run form one transaction:
//      an aborted run discards both, and answers valid FALSE, repaired FALSE.
//   2. A block is accounted for at most once: an entry naming a block that
//      the heap does not hold as used, the index array itself, or a block
//      another entry already named, is freed as an entry only; no block that
//      the used-block set does not name is ever freed.
//   3. After a repair the index's mirrors are reread.
#pragma once

#include <memory>

#include "database/block_heap.h"
#include "database/block_index.h"
#include "database/block_validate.h"

namespace bw {

// With keepSets, indices and blocks are kept.
ValidationResult validateIndexedHeap(BlockHeap& heap, BlockIndex& index, bool verbose, bool repair, bool keepSets);

}  // namespace bw
