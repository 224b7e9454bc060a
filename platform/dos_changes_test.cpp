// platform/dos_changes_test.cpp - protection, deletes, folders, renames,
// comments, links and file dates.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <set>

#include "platform/dir_test_support.h"
#include "platform/dos_errors.h"
#include "platform/dos_test_support.h"
#include "platform/native_path.h"

namespace bw::dos {
namespace {

TEST_F(DosTest, ProtectionMapsEveryModeCombination) {
  for (mode_t m = 0; m < 0777; ++m) {
    uint32_t p = protectionFromMode(m);
    EXPECT_EQ(!(p & kProtRead), (m & S_IRUSR) != 0);
    EXPECT_EQ(!(p & kProtWrite), (m & S_IWUSR) != 0);
    EXPECT_EQ(!(p & kProtDelete), (m & S_IWUSR) != 0);
    EXPECT_EQ(!(p & kProtExecute), (m & S_IXUSR) != 0);
    EXPECT_EQ(p & 0xF0u, 0u);  // H, S, P, A read 0
    EXPECT_EQ(modeFromProtection(p, 0), m) << std::oct << m;
    // Hold, script, pure and archive bits are ignored; special bits are kept.
    EXPECT_EQ(modeFromProtection(p | 0xF0, S_ISUID | S_ISVTX | 0777), m | S_ISUID | S_ISVTX);
  }
  dir_.write("f", "");
  for (mode_t m : {0000, 0640, 0755, 0604, 0070, 0777}) {
    ::chmod((dir_ / "f").c_str(), m);
    FileInfo info;
    ASSERT_TRUE(examinePath("Tst:f", true, info));
    ::chmod((dir_ / "f").c_str(), 0600);
    ASSERT_TRUE(setProtection("Tst:f", info.protection));
    EXPECT_EQ(modeOf("f"), m);
  }
}

TEST_F(DosTest, DeleteFile) {
  dir_.mkdir("full");
  dir_.write("full/x", "");
  EXPECT_FALSE(deleteFile("Tst:full"));
  EXPECT_EQ(ioErr(), kErrorDirectoryNotEmpty);
  dir_.write("target", "keep");
  ::chmod((dir_ / "target").c_str(), 0444);
  ASSERT_EQ(::symlink("target", (dir_ / "link").c_str()), 0);
  EXPECT_TRUE(deleteFile("Tst:link"));  // the link itself, never its target
  EXPECT_FALSE(exists("link"));
  EXPECT_EQ(dir_.read("target"), "keep");
  EXPECT_FALSE(deleteFile("Tst:nothing"));
  EXPECT_EQ(ioErr(), kErrorObjectNotFound);
  EXPECT_TRUE(deleteFile("Tst:full/x"));
  EXPECT_TRUE(deleteFile("Tst:full"));
}

TEST_F(DosTest, CreateDirGivesAnExclusiveLock) {
  Lock l = createDir("Tst:new");
  ASSERT_TRUE(l);
  EXPECT_EQ(l.access(), kExclusiveLock);
  EXPECT_FALSE(lock("Tst:new"));
  l.unLock();
  EXPECT_FALSE(createDir("Tst:new"));
  EXPECT_EQ(ioErr(), kErrorObjectExists);
}

class RenameTest : public DosTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RenameTest, NeverReplacesAnExistingObject) {
  dosSeams().noRenameNoReplace = GetParam();
  dir_.write("a", "first");
  dir_.write("b", "second");
  dir_.mkdir("da");
  dir_.write("da/in", "1");
  dir_.mkdir("db");
  dir_.write("db/in", "2");

  EXPECT_FALSE(rename("Tst:a", "Tst:b"));
  EXPECT_EQ(ioErr(), kErrorObjectExists);
  EXPECT_EQ(dir_.read("a"), "first");
  EXPECT_EQ(dir_.read("b"), "second");

  EXPECT_FALSE(rename("Tst:da", "Tst:db"));
  EXPECT_EQ(ioErr(), kErrorObjectExists);
  EXPECT_EQ(dir_.read("da/in"), "1");
  EXPECT_EQ(dir_.read("db/in"), "2");

  EXPECT_TRUE(rename("Tst:a", "Tst:c"));
  EXPECT_FALSE(exists("a"));
  EXPECT_EQ(dir_.read("c"), "first");
  EXPECT_TRUE(rename("Tst:da", "Tst:dc"));
  EXPECT_EQ(dir_.read("dc/in"), "1");
  EXPECT_FALSE(rename("Tst:gone", "Tst:x"));
  EXPECT_EQ(ioErr(), kErrorObjectNotFound);

  EXPECT_TRUE(renameReplacing("Tst:c", "Tst:b"));
  EXPECT_EQ(dir_.read("b"), "first");
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutNoReplaceFlag, RenameTest, ::testing::Bool());

TEST_F(DosTest, Comments) {
  dir_.write("f", "");
  if (::setxattr((dir_ / "f").c_str(), "user.probe", "1", 1, 0) != 0)
    GTEST_SKIP() << "this file system keeps no user attributes";
  EXPECT_TRUE(setComment("Tst:f", "a comment"));
  FileInfo info;
  ASSERT_TRUE(examinePath("Tst:f", true, info));
  EXPECT_EQ(info.comment, "a comment");
  EXPECT_EQ(*readComment("Tst:f"), "a comment");
  EXPECT_TRUE(setComment("Tst:f", std::string(79, 'c')));
  EXPECT_FALSE(setComment("Tst:f", std::string(80, 'c')));
  EXPECT_EQ(ioErr(), kErrorCommentTooBig);
  EXPECT_TRUE(setComment("Tst:f", ""));
  EXPECT_TRUE(setComment("Tst:f", nullptr));  // removing an absent one succeeds
  EXPECT_EQ(*readComment("Tst:f"), "");
  dosSeams().noUserXattr = true;
  EXPECT_FALSE(setComment("Tst:f", "x"));
  EXPECT_EQ(ioErr(), kErrorActionNotKnown);
  ASSERT_TRUE(examinePath("Tst:f", true, info));
  EXPECT_EQ(info.comment, "");
}

TEST_F(DosTest, ACommentWithoutReadAccessExaminesAsNone) {
  dir_.write("f", "");
  if (::setxattr((dir_ / "f").c_str(), "user.probe", "1", 1, 0) != 0)
    GTEST_SKIP() << "this file system keeps no user attributes";
  ASSERT_TRUE(setComment("Tst:f", "secret"));
  ASSERT_EQ(::chmod((dir_ / "f").c_str(), 0200), 0);  // write-only: the comment can't be read
  bool examined = bw::testing_dirs::runAsUnprivileged(dir_.path(), [] {
    FileInfo info;
    return examinePath("Tst:f", true, info) && info.commentRead && info.comment.empty();
  });
  EXPECT_TRUE(examined);
}

TEST_F(DosTest, LinksAndReadLink) {
  dir_.mkdir("d");
  dir_.write("d/t", "x");
  EXPECT_TRUE(makeLink("Tst:soft", "d/t", true));
  char buf[64] = {};
  ASSERT_GT(::readlink((dir_ / "soft").c_str(), buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "d/t");
  EXPECT_EQ(*readLink("Tst:soft"), "d/t");
  EXPECT_TRUE(makeLink("Tst:up", "/d/t", true));
  EXPECT_EQ(*readLink("Tst:up"), "/d/t");
  EXPECT_TRUE(makeLink("Tst:abs", "Tst:d/t", true));
  EXPECT_EQ(*readLink("Tst:abs"), hostToNative(dir_ / "d/t"));
  EXPECT_TRUE(makeLink("Tst:hard", "Tst:d/t", false));
  EXPECT_EQ(dir_.read("hard"), "x");
  EXPECT_FALSE(readLink("Tst:hard"));
  EXPECT_EQ(ioErr(), kErrorObjectWrongType);
  std::string longTarget(300, 'n');
  ASSERT_EQ(::symlink(longTarget.c_str(), (dir_ / "long").c_str()), 0);
  EXPECT_EQ(*readLink("Tst:long"), longTarget);
}

TEST_F(DosTest, FileDateInTheRepeatedAutumnHourKeepsItsExactTime) {
  ZoneScope zone("Europe/Berlin");
  // 2023-10-29 02:30 local happens twice in Berlin; take the second (CET).
  const time_t second = 1698543000 + 3600;  // 01:30 UTC = 02:30 CET
  for (time_t when : {second - 3600, second}) {
    dir_.write("f", "x");
    timespec times[2] = {{0, UTIME_OMIT}, {when, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir_ / "f").c_str(), times, 0), 0);
    FileInfo info;
    ASSERT_TRUE(examinePath("Tst:f", true, info));
    {
      FileHandle h = open("Tst:f", kModeReadWrite);
      ASSERT_TRUE(h);
      EXPECT_EQ(h.write("more", 4), 4);  // moves the time to now
      ASSERT_TRUE(setFileDate("Tst:f", info.date, &info));
    }
    struct stat st{};
    ASSERT_EQ(::stat((dir_ / "f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, when);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);

    // Without the examined record the file's own time decides between the
    // two readings of 02:30.
    timespec near[2] = {{0, UTIME_OMIT}, {when + 5, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir_ / "f").c_str(), near, 0), 0);
    ASSERT_TRUE(setFileDate("Tst:f", info.date));
    ASSERT_EQ(::stat((dir_ / "f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, when);
  }
}

TEST_F(DosTest, FileDateSetsTheLocalTimeAsked) {
  ZoneScope zone("America/New_York");
  dir_.write("f", "");
  DateStamp stamp = pTime::secondsToDateStamp(pTime::DateTimeToBigTime(2024, 7, 1, 12, 0, 30));
  ASSERT_TRUE(setFileDate("Tst:f", stamp));
  struct stat st{};
  ASSERT_EQ(::stat((dir_ / "f").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1719849630);  // 2024-07-01 16:00:30 UTC
  FileInfo info;
  ASSERT_TRUE(examinePath("Tst:f", true, info));
  EXPECT_EQ(info.date, stamp);
}

}  // namespace
}  // namespace bw::dos
