// platform/folder_turn_test.cpp - turns on a folder: a second waits for the
// first, Ctrl-C ends a wait, a folder that is not there gives no turn.
#include "platform/folder_turn.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/raise_test_support.h"
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

TEST(FolderTurnTest, CtrlCEndsTheWait) {
  TestFolder folder;
  FolderTurn first(folder.path());
  dos::signalBreak();
  expectRaise([&] { FolderTurn second(folder.path()); }, "BRK", "Ctrl-C received");
  FolderTurn other((folder / "sub"));  // not there: no turn, no wait
  EXPECT_FALSE(other.held());
}

}  // namespace
}  // namespace bw
