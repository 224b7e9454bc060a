// platform/dos_locks_test.cpp - locks, examining and directory scans.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <set>

#include "platform/dos_errors.h"
#include "platform/dos_test_support.h"
#include "platform/native_path.h"

namespace bw::dos {
namespace {

TEST_F(DosTest, LockExamineAndNameFromLock) {
  dir_.mkdir("sub");
  dir_.write("sub/file", "12345");
  Lock l = lock("Tst:sub/file");
  ASSERT_TRUE(l);
  FileInfo info;
  ASSERT_TRUE(examine(l, info));
  EXPECT_EQ(info.entryType, kTypeFile);
  EXPECT_EQ(info.name, "file");
  EXPECT_EQ(info.size, 5);
  std::optional<std::string> name = nameFromLock(l);
  ASSERT_TRUE(name);
  EXPECT_EQ(*name, hostToNative(dir_ / "sub/file"));
  EXPECT_EQ((*name)[0], ':');

  Lock parent = parentDir(l);
  ASSERT_TRUE(parent);
  ASSERT_TRUE(examine(parent, info));
  EXPECT_EQ(info.entryType, kTypeDir);
  EXPECT_EQ(info.name, "sub");

  Lock root = lock(":");
  ASSERT_TRUE(examine(root, info));
  EXPECT_EQ(info.entryType, kTypeRoot);
  EXPECT_EQ(*nameFromLock(root), ":");
  EXPECT_FALSE(parentDir(root));
  EXPECT_EQ(ioErr(), 0);

  EXPECT_FALSE(lock("Tst:missing"));
  EXPECT_EQ(ioErr(), kErrorObjectNotFound);
  EXPECT_FALSE(lock("Nowhere:x"));
  EXPECT_EQ(ioErr(), kErrorDeviceNotMounted);
  EXPECT_FALSE(lock("PIPE:"));
}

TEST_F(DosTest, ExclusiveLocksConflict) {
  dir_.write("f", "");
  Lock shared = lock("Tst:f", kSharedLock);
  ASSERT_TRUE(shared);
  EXPECT_FALSE(lock("Tst:f", kExclusiveLock));
  EXPECT_EQ(ioErr(), kErrorObjectInUse);
  Lock second = lock("Tst:f", kSharedLock);
  EXPECT_TRUE(second);
  EXPECT_FALSE(open("Tst:f", kModeNewFile));
  EXPECT_EQ(ioErr(), kErrorObjectInUse);
  EXPECT_FALSE(deleteFile("Tst:f"));
  EXPECT_EQ(ioErr(), kErrorObjectInUse);
  shared.unLock();
  second.unLock();
  Lock exclusive = lock("Tst:f", kExclusiveLock);
  ASSERT_TRUE(exclusive);
  EXPECT_FALSE(lock("Tst:f", kSharedLock));
  EXPECT_FALSE(dupLock(exclusive));
  exclusive.unLock();
  EXPECT_TRUE(lock("Tst:f", kExclusiveLock));
}

TEST_F(DosTest, MultiDirectoryAssignFindsTheSecondFolder) {
  bw::testing::TestFolder other;
  other.write("only-here", "x");
  assignAdd("Tst", other.path());
  FileInfo info;
  EXPECT_TRUE(lock("Tst:only-here"));
  EXPECT_TRUE(examinePath("Tst:only-here", true, info));
  FileHandle h = open("Tst:only-here", kModeOldFile);
  EXPECT_TRUE(h);
  // New objects go to the first folder.
  FileHandle n = open("Tst:new", kModeNewFile);
  EXPECT_TRUE(n);
  EXPECT_TRUE(exists("new"));
}

TEST_F(DosTest, ExaminePathSeesLinksAndPipes) {
  dir_.mkdir("d");
  dir_.write("f", "abc");
  ASSERT_EQ(::symlink("d", (dir_ / "link").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  FileInfo info;
  ASSERT_TRUE(examinePath("Tst:link", false, info));
  EXPECT_EQ(info.entryType, kTypeSoftLink);
  ASSERT_TRUE(examinePath("Tst:link", true, info));
  EXPECT_EQ(info.entryType, kTypeDir);
  ASSERT_TRUE(examinePath("Tst:fifo", false, info));
  EXPECT_EQ(info.entryType, kTypePipe);
  ASSERT_TRUE(examinePath("Tst:f", true, info, Detail::full));
  EXPECT_EQ(info.size, 3);
  EXPECT_FALSE(info.commentRead);
  ASSERT_TRUE(examinePath("Tst:", true, info));
  EXPECT_EQ(info.entryType, kTypeDir);
  ASSERT_TRUE(examinePath(":", true, info));
  EXPECT_EQ(info.entryType, kTypeRoot);
}

TEST_F(DosTest, DirScanListsEntriesThenEnds) {
  dir_.mkdir("d");
  dir_.write("f", "12");
  ASSERT_EQ(::symlink("f", (dir_ / "l").c_str()), 0);
  for (Detail detail : {Detail::type, Detail::full, Detail::comment}) {
    Lock l = lock("Tst:");
    DirScan scan(l, detail);
    ASSERT_TRUE(scan.ok());
    std::set<std::pair<std::string, int32_t>> seen;
    FileInfo e;
    while (scan.next(e)) seen.insert({e.name, e.entryType});
    EXPECT_EQ(ioErr(), kErrorNoMoreEntries);
    std::set<std::pair<std::string, int32_t>> want = {{"d", 2}, {"f", -3}, {"l", 3}};
    EXPECT_EQ(seen, want);
  }
  Lock file = lock("Tst:f");
  DirScan notDir(file);
  EXPECT_FALSE(notDir.ok());
  EXPECT_EQ(ioErr(), kErrorObjectWrongType);
}

}  // namespace
}  // namespace bw::dos
