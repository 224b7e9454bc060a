// database/soup_check_test_support.h - for tests: every level of the
// independent checker (tools/soupcheck) over a database image: the journal,
// the index array with its blocks, and the soup (lists and nodes). Works on
// a file read from disk and on an image of the in-memory CrashingIoBackend.
// Tests that use it link brindlework_soupcheck.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tools/soupcheck/block_level.h"
#include "tools/soupcheck/soup_level.h"
#include "tools/soupcheck/soupcheck.h"

namespace bw::testing {

// Adds a failure for each finding of each level; answers the data area the
// next open shows.
inline std::vector<uint8_t> expectSoupSound(const std::vector<uint8_t>& image, soupcheck::Expect expect) {
  soupcheck::Report r = soupcheck::check(image, expect);
  EXPECT_TRUE(r.clean()) << soupcheck::describe(r);
  for (auto& f : soupcheck::checkIndexLevel(r.effectiveData)) ADD_FAILURE() << f;
  soupcheck::SoupLevelReport s = soupcheck::checkSoupLevel(r.effectiveData);
  for (auto& f : s.findings) ADD_FAILURE() << f;
  return r.effectiveData;
}

}  // namespace bw::testing
