// Tests of makeDirPath, copyFile and isFileNewerBy.
#include "platform/file_procs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include <string>

#include "platform/clock.h"
#include "platform/dir_walk.h"
#include "platform/dos_errors.h"
#include "platform/host_io_test_support.h"
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

namespace bw {
namespace {

using namespace testing_paths;

void setMtime(const fs::path& p, int64_t utcSeconds) {
  timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(utcSeconds), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

int64_t mtimeOf(const fs::path& p) {
  struct stat st{};
  ::stat(p.c_str(), &st);
  return st.st_mtim.tv_sec;
}

// Copies go through the buffered file, which reads the clock.
struct CopyFile : ::testing::Test {
  void SetUp() override { initTimerDevice(); }
};

TEST_F(CopyFile, RefusesAMissingSourceAndAnExistingDestination) {
  TempTree t;
  EXPECT_FALSE(copyFile(t.internal("missing"), t.internal("copy")));
  EXPECT_FALSE(fs::exists(t.host("copy")));
  t.file("source", "new");
  t.file("existing", "old");
  EXPECT_FALSE(copyFile(t.internal("source"), t.internal("existing")));
  EXPECT_EQ(readAll(t.host("existing")), "old");
  expectRaise([&] { copyFile(t.internal("source"), "Bad:/x:/"); }, "EMU", "cHostFile.open(); filePath is invalid");
  // A file or a folder in the way is told in the last error.
  fs::create_directory(t.host("folder"));
  for (const char* name : {"existing", "folder"}) {
    dos::setIoErr(0);
    EXPECT_FALSE(copyFile(t.internal("source"), t.internal(name)));
    EXPECT_EQ(dos::faultMessage(dos::ioErr()), "object already exists") << name;
  }
}

TEST_F(CopyFile, ABigFileArrivesWholeWithItsTimeAndProtection) {
  TempTree t;
  std::string data(50 * 1024 * 1024, '\0');
  std::mt19937 rng(11);
  for (size_t i = 0; i < data.size(); i += 4) {
    uint32_t v = rng();
    std::memcpy(&data[i], &v, 4);
  }
  t.file("big", data);
  setMtime(t.host("big"), 1600000000);
  fs::permissions(t.host("big"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_TRUE(copyFile(t.internal("big"), t.internal("copy")));
  EXPECT_TRUE(readAll(t.host("copy")) == data);
  EXPECT_EQ(mtimeOf(t.host("copy")), 1600000000);
  EXPECT_EQ(fs::status(t.host("copy")).permissions(), fs::status(t.host("big")).permissions());
}

// A full disk met in the copy's blocks or only when its cached bytes are
// written at close leaves nothing at the destination.
TEST_F(CopyFile, AFullDiskLeavesNoPartOfACopy) {
  TempTree t;
  for (const size_t size : {size_t{9584}, size_t{3} << 20}) {
    SCOPED_TRACE(size);
    t.file("source", std::string(size, 'x'));
    auto disk = std::make_shared<testing_io::RecordingIoBackend>();
    disk->log->failWriteFrom = 0;
    setDefaultIoBackend(disk);
    expectRaise([&] { copyFile(t.internal("source"), t.internal("copy")); }, "FULL",
                "cHostFile.write(); size of written data does not match that expected");
    setDefaultIoBackend(nullptr);
    EXPECT_FALSE(fs::exists(t.host("copy")));
  }
}

class FileTimes : public ::testing::Test {
 protected:
  TempTree t;
  void stamp(const std::string& name, int64_t utc) {
    t.file(name);
    setMtime(t.host(name), utc);
  }
  bool newerBy(int32_t seconds) { return isFileNewerBy(t.internal("a"), t.internal("b"), seconds, false, true); }
};

TEST_F(FileTimes, EqualTimesAndMissingFiles) {
  stamp("a", 1700000000);
  stamp("b", 1700000000);
  EXPECT_TRUE(newerBy(0));
  EXPECT_FALSE(newerBy(1));
  EXPECT_TRUE(isFileNewerBy(t.internal("missing"), t.internal("b"), 0, true, false));
  EXPECT_FALSE(isFileNewerBy(t.internal("missing"), t.internal("b"), 0, false, true));
  EXPECT_TRUE(isFileNewerBy(t.internal("a"), t.internal("missing"), 0, false, true));
  EXPECT_FALSE(isFileNewerBy(t.internal("a"), t.internal("missing"), 0, true, false));
  EXPECT_TRUE(isFileNewerBy(t.internal("b"), t.internal("a"), -5, false, false));
}

TEST_F(FileTimes, TheRotationThresholdsHoldToTheSecond) {
  for (int32_t threshold : {10800, 57600, 561600}) {
    stamp("b", 1700000000);
    stamp("a", 1700000000 + threshold);
    EXPECT_TRUE(newerBy(threshold)) << threshold;
    stamp("a", 1700000000 + threshold - 1);
    EXPECT_FALSE(newerBy(threshold)) << threshold;
  }
}

TEST_F(FileTimes, AChangeOfSummerTimeMovesNothing) {
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  ::setenv("TZ", "Europe/Berlin", 1);
  ::tzset();
  // 2024-03-31 01:00 UTC clocks go forward, 2024-10-27 01:00 UTC back.
  for (int64_t change : {int64_t{1711846800}, int64_t{1729990800}}) {
    for (int32_t threshold : {10800, 57600}) {
      stamp("b", change - 3600);
      stamp("a", change - 3600 + threshold);
      EXPECT_TRUE(newerBy(threshold)) << change << " " << threshold;
      stamp("a", change - 3600 + threshold - 1);
      EXPECT_FALSE(newerBy(threshold)) << change << " " << threshold;
    }
  }
  if (old) ::setenv("TZ", saved.c_str(), 1);
  else ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
}  // namespace bw
