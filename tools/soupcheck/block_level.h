// tools/soupcheck/block_level.h - levels 2 and 3 of the checker: the block
// file and the index array in the data area of a "database.soup" (the
// effective data the journal check derived), read with code of its own.
//
// Level 2 findings (blocks): header words (version 3, first block 8496,
// 32 classes); blocks tiling the area without gaps, sizes multiples of 4 and
// at least 28, previous-block offsets, the last flag on the tail block only,
// the tail word; no free block last; no two adjacent free blocks unless their
// sum reaches 2^31; first- and second-level bitmaps agreeing with the lists;
// every free list walking free blocks of exactly its class with consistent
// back links, without cycles; every free block in some list.
// Level 3 findings (index): word 1 naming a used block; entries 0 and 1 (2,
// 14); arraySize fitting the array block; the free chain ascending from entry
// 4 through every free entry and ending with 0; arrayFree equal to the count;
// every allocated entry naming a used block whose index word is the entry
// number, no block named twice; the dummy block used; every used block
// accounted for exactly once (the array, the dummy, the indexed blocks).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bw::soupcheck {

struct BlockLevelReport {
  std::vector<std::string> findings;
  std::map<int64_t, int32_t> usedBlocks;  // position -> size
  std::map<int64_t, int32_t> freeBlocks;
  bool clean() const { return findings.empty(); }
};

// Level 2.
BlockLevelReport checkBlockLevel(const std::vector<uint8_t>& data);
// Level 3 (runs level 2 first; its findings are returned when it fails).
std::vector<std::string> checkIndexLevel(const std::vector<uint8_t>& data);

}  // namespace bw::soupcheck
