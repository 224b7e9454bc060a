// fuzz/fuzz_soup_sound.h - whether a database file closed properly is sound
// at every level of the independent checker (journal, index, soup).
#pragma once

#include <cstdint>
#include <vector>

#include "tools/soupcheck/block_level.h"
#include "tools/soupcheck/soup_level.h"
#include "tools/soupcheck/soupcheck.h"

namespace bw::fuzzing {

inline bool closedSound(const std::vector<uint8_t>& image) {
  const soupcheck::Report report = soupcheck::check(image, soupcheck::Expect::kClosed);
  return report.clean() && soupcheck::checkIndexLevel(report.effectiveData).empty() &&
         soupcheck::checkSoupLevel(report.effectiveData).clean();
}

}  // namespace bw::fuzzing
