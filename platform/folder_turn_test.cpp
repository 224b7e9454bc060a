// platform/folder_turn_test.cpp - turns on a folder: a second waits for the
// first, Ctrl-C ends a wait, a folder that is not there gives no turn.
#include "platform/folder_turn.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/dos_env.h"
#include "platform/test_folder.h"

namespace bw {
namespace {

using testing::TestFolder;

TEST(FolderTurnTest, ASecondTurnBeginsWhenTheFirstEnds) {
  TestFolder folder;
  std::atomic<bool> second{false};
  std::thread waiter;
  {
    FolderTurn first(folder.path());
    ASSERT_TRUE(first.held());
    waiter = std::thread([&] {
      FolderTurn turn(folder.path());
      second = turn.held();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(second) << "the second turn began while the first was held";
  }
  waiter.join();
  EXPECT_TRUE(second);
}

TEST(FolderTurnTest, AWaitEndsWhenAskedToGiveUp) {
  TestFolder folder;
  FolderTurn first(folder.path());
  dos::signalBreak();  // by default Ctrl-C gives up
  FolderTurn second(folder.path());
  EXPECT_FALSE(second.held());
  EXPECT_TRUE(second.stopped());
  int asked = 0;
  FolderTurn third(folder.path(), [&] { return ++asked == 3; });
  EXPECT_FALSE(third.held());
  EXPECT_TRUE(third.stopped());
  EXPECT_EQ(asked, 3);
  FolderTurn other(folder / "sub");  // not there: no turn, no wait
  EXPECT_FALSE(other.held());
  EXPECT_FALSE(other.stopped());
}

}  // namespace
}  // namespace bw
