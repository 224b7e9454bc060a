// tools/soupcheck/soup_index.h - the object soup's index as levels 4 and 5
// read it: the used blocks of the data area, the index array, and where an
// allocated index keeps its record.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "tools/soupcheck/area.h"

namespace bw::soupcheck {

// Out-of-area reads answer 0.
class Area : public CheckedArea {
 public:
  using CheckedArea::CheckedArea;
  uint32_t u32(int64_t at) const { return static_cast<uint32_t>(word32(at, 0)); }
  int64_t i64(int64_t at) const {
    return static_cast<int64_t>((static_cast<uint64_t>(u32(at)) << 32) | u32(at + 4));
  }
};

class SoupIndex {
 public:
  // Walks the blocks and finds the index array (levels 2 and 3 check them).
  explicit SoupIndex(const Area& area) : area_(area) {
    for (int64_t p = kFirstBlock; area.has(p, 8);) {
      uint32_t word = area.u32(p);
      int64_t size = word & ~3u;
      if (size < 28) break;  // level 2 reports broken tiling
      if (!(word & 2)) usedHandles_.insert(p + 8);
      if (word & 1) break;
      p += size;
    }
    arrayBlock_ = area.i64(8);
    if (!hasArray()) return;
    arraySize_ = entry(2);
    dummy_ = entry(5);
  }

  bool hasArray() const { return usedHandles_.contains(arrayBlock_); }
  bool isUsedBlock(int64_t handle) const { return usedHandles_.contains(handle); }
  int64_t arrayBlock() const { return arrayBlock_; }
  int64_t arraySize() const { return arraySize_; }
  // Index array entry e (entries 6..13 are the header values).
  int64_t entry(int64_t e) const { return area_.i64(arrayBlock_ + 8 * e); }
  // The data position of an allocated index, 0 otherwise.
  int64_t dataOf(int64_t index) const {
    int64_t e = index + kSpecial - 1;
    if (index < 1 || e >= arraySize_) return 0;
    int64_t h = entry(e);
    if (h <= 0 || h == dummy_ || !usedHandles_.contains(h)) return 0;
    return h + 4;
  }
  // The bytes a record at dataPosition may use.
  int64_t capacityOf(int64_t dataPosition) const {
    return static_cast<int64_t>(area_.u32(dataPosition - 12) & ~3u) - 12;
  }
  // Every allocated index, ascending.
  std::vector<int64_t> allocated() const {
    std::vector<int64_t> indices;
    for (int64_t e = kSpecial; e < arraySize_; ++e) {
      if (dataOf(e - kSpecial + 1)) indices.push_back(e - kSpecial + 1);
    }
    return indices;
  }

 private:
  const Area& area_;
  std::set<int64_t> usedHandles_;
  int64_t arrayBlock_ = 0;
  int64_t arraySize_ = 0;
  int64_t dummy_ = 0;
};

}  // namespace bw::soupcheck
