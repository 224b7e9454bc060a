// database/block_layout_check_test_support.h - the independent checks of a
// block file's data area (soupcheck levels 2 and 3) as lists of findings,
// for the database tests.
#pragma once

#include <string>
#include <vector>

#include "tools/soupcheck/block_level.h"

namespace bw::testing_blocks {

inline std::vector<std::string> checkBlocks(const std::vector<uint8_t>& data) {
  return soupcheck::checkBlockLevel(data).findings;
}
inline std::vector<std::string> checkIndex(const std::vector<uint8_t>& data) { return soupcheck::checkIndexLevel(data); }

}  // namespace bw::testing_blocks
