// database/block_dumps.h - debug dumps of the block files, printed on
// standard output by the self-tests: every used block in file order with the
// first bytes of its data and the free space between, and a list of indices
// with their data.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "database/block_file.h"
#include "database/indexed_block_file.h"

namespace bw {

// The first 10 bytes at position as a text (up to a zero byte).
std::string dumpText(BlockHeap& heap, int64_t position);

// "Block %ld (size %ld) contains \"%s\"" for every used block, and
// "Empty %ld (size %ld)" for free space before the next used one.
void dumpBlockFile(cJournaledBlockFile& file);
// The same by data positions; blocks that are not indexed (the index
// array, the dummy block) show "(not indexed)" for their data.
void dumpIndexedBlockFile(cJournaledIndexedBlockFile& file);
// "Block i %ld with index %ld & position %ld contains \"%s\"" for every
// non-zero index of the list.
void dumpIndexList(cJournaledIndexedBlockFile& file, const std::array<int32_t, 10>& indices);

}  // namespace bw
