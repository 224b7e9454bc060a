// database/block_layout_check_test_support.h - an independent check of a
// block file's data area, for tests: it decodes the bytes itself (no
// BlockHeap, no BlockIndex) and lists every finding as a line of text.
//
// Blocks: header words, tiling, flags, previous offsets, the tail; no free
// block last and no two free blocks adjacent (unless their sum reaches
// 2^31); free lists and bitmaps agree, every free block in the list of its
// exact class, links consistent, no cycles.
// Index: the array block's size, entries 0 and 1, arrayFree, the ascending
// chain, index words, and every used block accounted for exactly once.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "database/block_format.h"

namespace bw::testing_blocks {

struct BlockLayout {
  std::map<int64_t, int32_t> used;  // position -> size
  std::map<int64_t, int32_t> free;  // position -> size
};

inline int64_t wordAt(const std::vector<uint8_t>& d, int64_t pos) {
  if (pos < 0 || pos + 8 > static_cast<int64_t>(d.size())) return INT64_MIN;
  return getBig64(d.data() + pos);
}
inline int64_t u32At(const std::vector<uint8_t>& d, int64_t pos) {
  if (pos < 0 || pos + 4 > static_cast<int64_t>(d.size())) return -1;
  return getBig32(d.data() + pos);
}

inline std::vector<std::string> checkBlocks(const std::vector<uint8_t>& d, BlockLayout* out = nullptr) {
  std::vector<std::string> bad;
  auto fail = [&](std::string s) { bad.push_back(std::move(s)); };
  auto size = static_cast<int64_t>(d.size());
  if (size < FIRST_BLOCK_POS) return {"data area shorter than the header area"};
  if (wordAt(d, 0) != 3) fail("version word is not 3");
  if (wordAt(d, 24) != FIRST_BLOCK_POS) fail("first block position is not 8496");
  if (wordAt(d, 32) != 32) fail("SL_SIZE is not 32");
  int64_t tail = wordAt(d, 16);
  BlockLayout layout;
  int64_t pos = FIRST_BLOCK_POS, prev = 0;
  bool prevFree = false;
  int32_t prevSize = 0;
  if (tail == 0 && size != FIRST_BLOCK_POS) fail("no tail but data beyond the header area");
  while (tail != 0 && pos < size) {
    int64_t word = u32At(d, pos);
    int64_t prevOffset = static_cast<int32_t>(u32At(d, pos + 4));
    auto bsize = static_cast<int32_t>(word & ~int64_t{3});
    bool isFree = (word & 2) != 0, last = (word & 1) != 0;
    if (word < 0 || bsize < 28 || bsize % 4 != 0 || pos + bsize > size) {
      fail("bad block size at " + std::to_string(pos));
      break;
    }
    if ((prev == 0 ? 0 : prev - pos) != prevOffset) fail("bad prevBlockOffset at " + std::to_string(pos));
    if (isFree && prevFree && int64_t{prevSize} + bsize < (int64_t{1} << 31)) {
      fail("adjacent free blocks at " + std::to_string(pos));
    }
    (isFree ? layout.free : layout.used)[pos] = bsize;
    if (last) {
      if (isFree) fail("free block is last at " + std::to_string(pos));
      if (pos != tail) fail("last block is not the tail at " + std::to_string(pos));
      if (pos + bsize != size) fail("last block does not end the data area");
      break;
    }
    if (pos + bsize >= size) fail("block at " + std::to_string(pos) + " is not marked last");
    prev = pos;
    prevFree = isFree;
    prevSize = bsize;
    pos += bsize;
  }
  auto flBitmap = static_cast<uint32_t>(wordAt(d, 40));
  std::set<int64_t> reached;
  for (int32_t f = 0; f < 32; ++f) {
    auto slBitmap = static_cast<uint32_t>(wordAt(d, headerWordPos(slBitmapWord(f))));
    if (((flBitmap >> f) & 1) != (slBitmap != 0)) fail("first-level bit " + std::to_string(f) + " disagrees");
    for (int32_t s = 0; s < 32; ++s) {
      int64_t head = wordAt(d, headerWordPos(slListWord(f, s)));
      if (((slBitmap >> s) & 1) != (head != 0)) {
        fail("second-level bit " + std::to_string(f) + "/" + std::to_string(s) + " disagrees");
      }
      int64_t expectPrev = 0;
      for (int64_t at = head; at != 0;) {
        auto it = layout.free.find(at);
        if (it == layout.free.end() || !reached.insert(at).second) {
          fail("free list " + std::to_string(f) + "/" + std::to_string(s) + " reaches a non-free block or cycles");
          break;
        }
        FreeClass c = mapSizeToFreeClass(static_cast<uint32_t>(it->second));
        if (c.f != f || c.s != s) fail("free block " + std::to_string(at) + " in the wrong class");
        if (wordAt(d, at + 16) != expectPrev) fail("bad prevFree at " + std::to_string(at));
        expectPrev = at;
        at = wordAt(d, at + 8);
      }
    }
  }
  if (reached.size() != layout.free.size()) fail("free blocks not reached by any list");
  if (out) *out = layout;
  return bad;
}

inline std::vector<std::string> checkIndex(const std::vector<uint8_t>& d) {
  BlockLayout layout;
  std::vector<std::string> bad = checkBlocks(d, &layout);
  if (!bad.empty()) return bad;
  auto fail = [&](std::string s) { bad.push_back(std::move(s)); };
  int64_t array = wordAt(d, 8);
  auto arrayIt = layout.used.find(array - 8);
  if (arrayIt == layout.used.end()) return {"word 1 is not a used block"};
  int64_t capacity = (arrayIt->second - 8) / 8;
  auto entry = [&](int64_t e) { return wordAt(d, array + 8 * e); };
  if (entry(0) != 2) fail("entry 0 is not 2");
  if (entry(1) != 14) fail("entry 1 is not 14");
  int64_t arraySize = entry(2), arrayFree = entry(3), firstFree = entry(4), dummy = entry(5);
  if (arraySize < 15 || arraySize > capacity || arraySize < capacity - 3) return {"arraySize does not fit its block"};
  std::set<int64_t> claimed = {array - 8};
  if (!layout.used.count(dummy - 8)) fail("dummy block is not a used block");
  claimed.insert(dummy - 8);
  int64_t freeCount = 0, expected = firstFree;
  for (int64_t e = 14; e < arraySize; ++e) {
    int64_t v = entry(e);
    if (v <= 0) {
      ++freeCount;
      if (e != expected) fail("free chain skips to " + std::to_string(expected) + " before " + std::to_string(e));
      expected = -v;
    } else if (v != dummy) {
      if (!layout.used.count(v - 8)) {
        fail("entry " + std::to_string(e) + " names no used block");
      } else if (!claimed.insert(v - 8).second) {
        fail("block of entry " + std::to_string(e) + " claimed twice");
      }
      if (u32At(d, v) != e) fail("index word of entry " + std::to_string(e) + " is wrong");
    }
  }
  if (expected != 0) fail("free chain does not end at the last free entry");
  if (freeCount != arrayFree) fail("arrayFree is " + std::to_string(arrayFree) + ", counted " + std::to_string(freeCount));
  if (claimed.size() != layout.used.size()) fail("used blocks no index accounts for");
  return bad;
}

}  // namespace bw::testing_blocks
