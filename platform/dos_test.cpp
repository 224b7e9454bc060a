// platform/dos_test.cpp - locks, examining, scans, files, protection,
// comments, dates, renames and deletes of the DOS layer.
#include "platform/dos.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <set>

#include "platform/assigns.h"
#include "platform/dos_errors.h"
#include "platform/native_path.h"
#include "platform/test_folder.h"

namespace bw::dos {
namespace {

class DosTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetAssigns();
    assignAdd("Tst", dir_.path());
    dosSeams() = {};
  }
  void TearDown() override {
    dosSeams() = {};
    resetAssigns();
  }
  mode_t modeOf(const std::string& name) {
    struct stat st{};
    ::lstat((dir_ / name).c_str(), &st);
    return st.st_mode & 07777;
  }
  bool exists(const std::string& name) {
    struct stat st{};
    return ::lstat((dir_ / name).c_str(), &st) == 0;
  }

  bw::testing::TestFolder dir_;
};

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

// Runs a test body under another TZ, putting the old one back.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (old) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ZoneScope() {
    if (had_) ::setenv("TZ", old_.c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

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
