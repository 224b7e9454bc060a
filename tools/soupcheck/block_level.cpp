// tools/soupcheck/block_level.cpp - levels 2 (blocks) and 3 (index).
#include "tools/soupcheck/block_level.h"

#include <set>

#include "tools/soupcheck/area.h"

namespace bw::soupcheck {

namespace {

// Out-of-area reads answer -1 (u32) and INT64_MIN (i64): never valid.
class Area : public CheckedArea {
 public:
  using CheckedArea::CheckedArea;
  int64_t u32(int64_t at) const { return word32(at, -1); }
  int64_t i64(int64_t at) const {
    if (!has(at, 8)) return INT64_MIN;
    return static_cast<int64_t>((static_cast<uint64_t>(u32(at)) << 32) | static_cast<uint64_t>(u32(at + 4)));
  }
};

std::string at(const char* what, int64_t position) { return std::string(what) + " " + std::to_string(position); }

// The free-list class of a block size: f = highest bit; s = the next five bits.
void sizeClass(uint32_t size, int32_t& f, int32_t& s) {
  f = 31;
  while (f > 0 && !(size >> f)) --f;
  s = static_cast<int32_t>((f >= 5 ? size >> (f - 5) : size << (5 - f)) & 31);
}

}  // namespace

BlockLevelReport checkBlockLevel(const std::vector<uint8_t>& data) {
  BlockLevelReport r;
  auto fail = [&](std::string s) { r.findings.push_back(std::move(s)); };
  Area a(data);
  if (a.size() < kFirstBlock) {
    fail("data area shorter than the block file's header area");
    return r;
  }
  if (a.i64(0) != 3) fail("block file version is not 3");
  if (a.i64(24) != kFirstBlock) fail("first block position is not 8496");
  if (a.i64(32) != 32) fail("second-level class count is not 32");
  const int64_t tail = a.i64(16);
  if (tail == 0 && a.size() != kFirstBlock) fail("no tail block, but data after the header area");

  int64_t pos = kFirstBlock, prev = 0, prevSize = 0;
  bool prevFree = false;
  while (tail != 0) {
    int64_t word = a.u32(pos);
    auto prevOffset = static_cast<int32_t>(static_cast<uint32_t>(a.u32(pos + 4)));
    int64_t size = word & ~int64_t{3};
    bool isFree = (word & 2) != 0, last = (word & 1) != 0;
    if (word < 0 || word > INT32_MAX || size < 28 || pos + size > a.size()) {
      fail(at("block size out of range at", pos));
      break;
    }
    if ((prev == 0 ? 0 : prev - pos) != prevOffset) fail(at("wrong previous-block offset at", pos));
    if (isFree && prevFree && prevSize + size < (int64_t{1} << 31)) fail(at("adjacent free blocks at", pos));
    (isFree ? r.freeBlocks : r.usedBlocks)[pos] = static_cast<int32_t>(size);
    if (last) {
      if (isFree) fail(at("free block marked last at", pos));
      if (pos != tail) fail(at("the last block is not the tail word's block at", pos));
      if (pos + size != a.size()) fail(at("the last block does not end the data area at", pos));
      break;
    }
    if (pos + size >= a.size()) {
      fail(at("block not marked last at the end of the data area at", pos));
      break;
    }
    prev = pos;
    prevSize = size;
    prevFree = isFree;
    pos += size;
  }

  const auto flBitmap = static_cast<uint32_t>(a.i64(40));
  std::set<int64_t> reached;
  for (int32_t f = 0; f < 32; ++f) {
    const auto slBitmap = static_cast<uint32_t>(a.i64(48 + 264 * f));
    if (((flBitmap >> f) & 1) != (slBitmap != 0 ? 1u : 0u)) fail(at("first-level bit disagrees for class", f));
    for (int32_t s = 0; s < 32; ++s) {
      const int64_t head = a.i64(56 + 264 * f + 8 * s);
      std::string list = std::to_string(f) + "/" + std::to_string(s);
      if (((slBitmap >> s) & 1) != (head != 0 ? 1u : 0u)) fail("second-level bit disagrees for class " + list);
      int64_t expectPrev = 0;
      for (int64_t p = head; p != 0; p = a.i64(p + 8)) {
        auto it = r.freeBlocks.find(p);
        if (it == r.freeBlocks.end()) {
          fail("free list " + list + " reaches a block that is not free");
          break;
        }
        if (!reached.insert(p).second) {
          fail("free list " + list + " cycles or shares a block");
          break;
        }
        int32_t bf = 0, bs = 0;
        sizeClass(static_cast<uint32_t>(it->second), bf, bs);
        if (bf != f || bs != s) fail(at("free block in the list of another class at", p));
        if (a.i64(p + 16) != expectPrev) fail(at("wrong previous-free link at", p));
        expectPrev = p;
      }
    }
  }
  if (reached.size() != r.freeBlocks.size()) fail("free blocks that no free list reaches");
  return r;
}

std::vector<std::string> checkIndexLevel(const std::vector<uint8_t>& data) {
  BlockLevelReport blocks = checkBlockLevel(data);
  if (!blocks.clean()) return blocks.findings;
  std::vector<std::string> bad;
  auto fail = [&](std::string s) { bad.push_back(std::move(s)); };
  Area a(data);
  const int64_t array = a.i64(8);
  auto arrayIt = blocks.usedBlocks.find(array - 8);
  if (arrayIt == blocks.usedBlocks.end()) return {"word 1 names no used block"};
  auto entry = [&](int64_t e) { return a.i64(array + 8 * e); };
  if (entry(0) != 2) fail("index entry 0 is not 2");
  if (entry(1) != kSpecial) fail("index entry 1 is not 14");
  const int64_t capacity = (arrayIt->second - 8) / 8;
  const int64_t arraySize = entry(2), arrayFree = entry(3), firstFree = entry(4), dummy = entry(5);
  // The array block may hold up to 3 entries of rounding beyond arraySize.
  if (arraySize <= kSpecial || arraySize > capacity || arraySize < capacity - 3) {
    fail("arraySize " + std::to_string(arraySize) + " does not fit its block of " + std::to_string(capacity));
    return bad;
  }
  std::set<int64_t> claimed = {array - 8};
  if (!blocks.usedBlocks.count(dummy - 8)) {
    fail("the dummy block is not a used block");
  } else {
    claimed.insert(dummy - 8);
  }
  int64_t count = 0, expected = firstFree;
  for (int64_t e = kSpecial; e < arraySize; ++e) {
    const int64_t v = entry(e);
    if (v <= 0) {
      ++count;
      if (e != expected) fail(at("free chain does not reach entry", e));
      expected = v == INT64_MIN ? -1 : -v;
    } else if (v != dummy) {
      if (!blocks.usedBlocks.count(v - 8)) {
        fail(at("allocated entry names no used block:", e));
        continue;
      }
      if (!claimed.insert(v - 8).second) fail(at("block named twice, by entry", e));
      if (a.u32(v) != e) fail(at("wrong index word in the block of entry", e));
    }
  }
  if (expected != 0) fail("the free chain does not end at the last free entry");
  if (count != arrayFree) fail("arrayFree is " + std::to_string(arrayFree) + ", counted " + std::to_string(count));
  if (claimed.size() != blocks.usedBlocks.size()) fail("used blocks that no index accounts for");
  return bad;
}

}  // namespace bw::soupcheck
