// Tests of the program's start-up and shut-down through its entry point.
#include "app/startup.h"

#include <gtest/gtest.h>

namespace bw {
namespace {

TEST(StartupTest, EveryModuleStartsAndEndsCleanly) {
  char name[] = "brindlework";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(runBrindlework(1, argv), 0);
  // A second run finds every module ended and starts it again.
  EXPECT_EQ(runBrindlework(1, argv), 0);
}

}  // namespace
}  // namespace bw
