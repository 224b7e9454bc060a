// database/block_open.h - opening the heap and the index of a store that the
// journaled file beneath has just opened: a new data area gets its header
// area (and index array); an existing one is read and checked.
//
// Each creation step commits on its own (a flush after the header area, a
// flush after the index array), so a crash can leave a file whose header
// area is complete but which holds no block and no index array (word 1 = 0,
// tail 0). openIndexedHeap treats such a file as new and creates the index,
// instead of reading the header area's version word as an index version.
#pragma once

#include <string>

#include "database/block_heap.h"
#include "database/block_index.h"

namespace bw {

// Loads the heap of an existing data area, or creates it when isNew or the
// data area is empty. Raises as BlockHeap::loadHeader.
void openBlockHeap(BlockHeap& heap, bool isNew);

// openBlockHeap, then the index: created for a new file (also one shorter
// than the header area, or one left with neither blocks nor index array),
// otherwise checked and read (upgrading older layouts). False when the index
// limit refuses the file (the message is printed; the caller closes it).
bool openIndexedHeap(BlockHeap& heap, BlockIndex& index, bool isNew, const std::string& path);

}  // namespace bw
