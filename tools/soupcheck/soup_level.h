// tools/soupcheck/soup_level.h - level 4 of the checker: the object soup's
// structures in the data area of a "database.soup" (the effective data the
// journal check derived), read with code of its own.
//
// Findings:
//   - header value 6 (root) neither 0 nor an allocated index;
//   - value 9 (open mark) neither 0 nor -1;
//   - values 8 and 10 (compaction positions) neither 0 nor a used block;
//   - the chain of lists from value 11 not a circle of allocated 16-byte
//     list records with matching back links;
//   - a list whose nodes do not run head to tail with consistent prevIndex,
//     whose tail is not the last node, that loops, or that shares a node with
//     another list.
// Warning (not a finding): value 7 (usedBytes) differing from the sum over
// allocated indices of (data capacity + 12).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bw::soupcheck {

struct SoupLevelReport {
  std::vector<std::string> findings;
  std::vector<std::string> warnings;
  int64_t usedBytesStored = 0;
  int64_t usedBytesCounted = 0;
  int32_t lists = 0;
  int32_t nodes = 0;
  bool clean() const { return findings.empty(); }
};

SoupLevelReport checkSoupLevel(const std::vector<uint8_t>& data);

}  // namespace bw::soupcheck
