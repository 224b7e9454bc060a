// Tests of makeDirPath, copyFile and isFileNewerBy.
#include "platform/file_procs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/dir_walk.h"
#include "platform/path.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

using namespace testing_paths;

TEST(MakeDirPath, MakesTheMissingLevelsOutermostFirst) {
  TempTree t;
  t.dir("a");
  EXPECT_TRUE(makeDirPath(t.internal("a/b/c/"), true));
  EXPECT_TRUE(fs::is_directory(t.host("a/b")));
  EXPECT_FALSE(fs::exists(t.host("a/b/c")));
  EXPECT_TRUE(makeDirPath(t.internal("a/b/c/"), false));
  EXPECT_TRUE(fs::is_directory(t.host("a/b/c")));
  EXPECT_TRUE(makeDirPath(t.internal("a/b/c/"), false));  // nothing missing
  EXPECT_TRUE(makeDirPath(t.internal("x/y/file"), false));  // a file path: its folders only
  EXPECT_TRUE(fs::is_directory(t.host("x/y")));
  EXPECT_FALSE(fs::exists(t.host("x/y/file")));
}

TEST(MakeDirPath, WorksInRamAndStopsAtAFileInTheWay) {
  std::string base = "RAM:/bw-makedirpath-" + std::to_string(::getpid()) + "/";
  ASSERT_TRUE(makeDirPath(Text(base + "a/"), false));
  EXPECT_TRUE(makeDirPath(Text(base + "a/b/c/"), false));
  EXPECT_TRUE(cPath::ExistsPath(Text(base + "a/b/c/"), false));
  EXPECT_TRUE(deleteDirTree(Text(base), false));
  TempTree t;
  t.file("blocker");
  EXPECT_FALSE(makeDirPath(t.internal("blocker/sub/"), false));
  EXPECT_TRUE(fs::is_regular_file(t.host("blocker")));
  EXPECT_FALSE(makeDirPath("NoSuchDevice:/a/", false));
}

}  // namespace
}  // namespace bw
