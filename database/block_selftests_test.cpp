// database/block_selftests_test.cpp - both self-tests pass and print
// exactly the expected text, dumps and compaction included.
#include "database/block_selftests.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/ordering.h"
#include "database/transaction_cache.h"
#include "platform/assigns.h"
#include "platform/clock.h"
#include "platform/test_folder.h"

namespace bw {
namespace {

class BlockSelfTest : public ::testing::Test {
 protected:
  // RAM: is shared by every process of the user; a folder of this test's
  // own keeps a concurrent run of the test from using the same scratch file.
  void SetUp() override {
    dos::resetAssigns();
    dos::assignAdd("RAM", ram_.path());
    initTimerDevice();
    initMegaListBaseModule();
    journalModuleInit();
  }
  void TearDown() override {
    journalModuleEnd();
    dos::resetAssigns();
  }

  static std::string golden(const char* name) {
    std::ifstream in(std::string(BRINDLEWORK_SOURCE_DIR) + "/database/testdata/" + name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  bw::testing::TestFolder ram_;
};

// Both tests use the one scratch file, so they run in one test program
// after each other (CTest runs separate tests at the same time).
TEST_F(BlockSelfTest, BothPrintTheirGoldenText) {
  ::testing::internal::CaptureStdout();
  int rc = blockFileSelfTest();
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out, golden("blockfile_selftest.txt"));

  ::testing::internal::CaptureStdout();
  rc = indexedBlockFileSelfTest();
  out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out, golden("indexedfile_selftest.txt"));
  // After compaction and the reopen, the indices still find their data.
  EXPECT_NE(out.find("Block i 2 with index 6 & position 11228 contains \"b300\""), std::string::npos);
  EXPECT_NE(out.find("Block i 0 with index 1 & position 9568 contains \"100\""), std::string::npos);
}

}  // namespace
}  // namespace bw
