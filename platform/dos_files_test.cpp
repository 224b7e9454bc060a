// platform/dos_files_test.cpp - open modes, reading, writing and the
// protection checks of the DOS layer.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <set>

#include "platform/dos_errors.h"
#include "platform/dos_test_support.h"
#include "platform/native_path.h"

namespace bw::dos {
namespace {

// Another user's file (installed by root, say) whose owner may write it:
// an old file opens for reading all the same.
TEST_F(DosTest, AnotherUsersFileOpensForReading) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to read as another user";
  FileHandle made = open("Tst:installed", kModeNewFile);
  ASSERT_TRUE(made);
  EXPECT_EQ(made.write("default", 7), 7);
  made.close();
  ::chmod((dir_ / "installed").c_str(), 0644);
  ::chmod(dir_.path().c_str(), 0755);
  ::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) ::_exit(2);
    FileHandle read = open("Tst:installed", kModeOldFile);
    char buf[8] = {};
    ::_exit(read && !read.writable() && read.read(buf, 7) == 7 && std::string(buf) == "default" ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(DosTest, OpenModes) {
  EXPECT_FALSE(open("Tst:none", kModeOldFile));
  EXPECT_EQ(ioErr(), kErrorObjectNotFound);
  EXPECT_FALSE(exists("none"));

  FileHandle rw = open("Tst:rw", kModeReadWrite);
  ASSERT_TRUE(rw);
  EXPECT_EQ(rw.write("hello world", 11), 11);
  rw.close();
  EXPECT_EQ(modeOf("rw") & 0600, 0600u);

  FileHandle again = open("Tst:rw", kModeReadWrite);  // not truncated
  EXPECT_EQ(again.size(), 11);
  ASSERT_TRUE(again.setPosition(6));
  EXPECT_EQ(again.write("WORLD", 5), 5);
  again.close();
  EXPECT_EQ(dir_.read("rw"), "hello WORLD");

  FileHandle old = open("Tst:rw", kModeOldFile);  // old files can be written too
  ASSERT_TRUE(old);
  EXPECT_TRUE(old.writable());
  char buf[32] = {};
  EXPECT_EQ(old.read(buf, 32), 11);
  EXPECT_EQ(std::string(buf), "hello WORLD");
  EXPECT_EQ(old.seek(0, kOffsetBeginning), 11);  // the position before
  EXPECT_EQ(old.position(), 0);
  EXPECT_TRUE(old.changeSize(5));
  EXPECT_EQ(old.size(), 5);
  EXPECT_TRUE(old.flush());
  FileInfo info;
  ASSERT_TRUE(old.examine(info));
  EXPECT_EQ(info.size, 5);
  EXPECT_EQ(info.name, "rw");
  EXPECT_EQ(*old.name(), hostToNative(dir_ / "rw"));
  old.close();

  FileHandle fresh = open("Tst:rw", kModeNewFile);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh.size(), 0);

  dir_.mkdir("d");
  EXPECT_FALSE(open("Tst:d", kModeOldFile));
  EXPECT_EQ(ioErr(), kErrorObjectWrongType);
  EXPECT_FALSE(open("Tst:d", kModeReadWrite));
  EXPECT_EQ(ioErr(), kErrorObjectWrongType);
}

TEST_F(DosTest, ProtectionIsEnforcedByTheLayer) {
  dir_.write("ro", "data");
  ::chmod((dir_ / "ro").c_str(), 0444);
  FileHandle r = open("Tst:ro", kModeOldFile);
  ASSERT_TRUE(r);
  EXPECT_FALSE(r.writable());
  EXPECT_EQ(r.write("x", 1), -1);
  EXPECT_EQ(ioErr(), kErrorWriteProtected);
  EXPECT_FALSE(open("Tst:ro", kModeReadWrite));
  EXPECT_EQ(ioErr(), kErrorWriteProtected);
  EXPECT_FALSE(open("Tst:ro", kModeNewFile));
  EXPECT_EQ(dir_.read("ro"), "data");

  dir_.write("wo", "data");
  ::chmod((dir_ / "wo").c_str(), 0200);
  EXPECT_FALSE(open("Tst:wo", kModeOldFile));
  EXPECT_EQ(ioErr(), kErrorReadProtected);

  // D mirrors W: a write-protected object cannot be deleted.
  EXPECT_FALSE(deleteFile("Tst:ro"));
  EXPECT_EQ(ioErr(), kErrorDeleteProtected);
  EXPECT_TRUE(exists("ro"));
  ASSERT_TRUE(setProtection("Tst:ro", 0));
  EXPECT_FALSE(deleteFile("Tst:ro"));  // still open
  EXPECT_EQ(ioErr(), kErrorObjectInUse);
  r.close();
  EXPECT_TRUE(deleteFile("Tst:ro"));
  EXPECT_FALSE(exists("ro"));
}

// A handle's examination names the file by what its descriptor resolves to
// now, and reads the comment the file holds now, however often it is asked.
TEST_F(DosTest, ExaminedHandleFollowsRenamesAndComments) {
  dir_.write("a", "data");
  FileHandle h = open("Tst:a", kModeOldFile);
  ASSERT_TRUE(h);
  FileInfo info;
  auto examined = [&] {
    EXPECT_TRUE(h.examine(info));
    return info.name + "|" + (info.commentRead ? info.comment : "?");
  };
  EXPECT_EQ(examined(), "a|");
  ::setxattr((dir_ / "a").c_str(), "user.xdg.comment", "note", 4, 0);
  EXPECT_EQ(examined(), "a|note");
  ::rename((dir_ / "a").c_str(), (dir_ / "b").c_str());
  dir_.write("a", "another file under the old name");
  EXPECT_EQ(examined(), "b|note");
  ::link((dir_ / "b").c_str(), (dir_ / "c").c_str());
  ::unlink((dir_ / "b").c_str());
  EXPECT_EQ(examined(), "b (deleted)|note");
  ::rename((dir_ / "c").c_str(), (dir_ / "b").c_str());
  EXPECT_EQ(*h.name(), hostToNative(dir_ / "b (deleted)"));
  ::removexattr((dir_ / "b").c_str(), "user.xdg.comment");
  EXPECT_EQ(examined(), "b (deleted)|");
  h.close();
  FileHandle again = open("Tst:a", kModeOldFile);  // may reuse the descriptor
  EXPECT_EQ(again.examine(info) ? info.name : "", "a");
}

}  // namespace
}  // namespace bw::dos
