// Tests of the host directory: opening (creating, protection, force),
// moving to children and parents, cloning, renaming, listing and attributes.
#include "platform/dir.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/dir_test_support.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

using namespace testing_paths;
using namespace testing_dirs;

std::vector<std::string> listed(cHostDir& dir) {
  std::vector<std::string> out;
  std::unique_ptr<cDirEntryList> list = dir.makeEntryList();
  for (const Str& e : list->entries()) out.emplace_back(e.view());
  return out;
}

bool hasOwnerBit(const fs::path& p, fs::perms bit) { return (fs::status(p).permissions() & bit) != fs::perms::none; }

TEST(HostDir, WritableOpenCreatesAMissingDirectoryAndRemovesItWhenALaterStepFails) {
  TempTree t;
  SeamGuard seams;
  cHostDir dir;
  ASSERT_TRUE(dir.open(t.internal("new/"), false, false));
  EXPECT_TRUE(fs::is_directory(t.host("new")));
  EXPECT_EQ(dir.getPath().view(), t.internal("new/"));
  dir.close();

  dirSeams().refuseGuard = true;
  EXPECT_FALSE(dir.open(t.internal("late/"), false, false));
  EXPECT_FALSE(fs::exists(t.host("late")));
  EXPECT_STREQ(dir.infoErrorSource(), "cHostDir.open()");
  // A directory that was there before is never removed.
  EXPECT_FALSE(dir.open(t.internal("new/"), false, false));
  EXPECT_TRUE(fs::is_directory(t.host("new")));
  EXPECT_FALSE(dir.isOpen());
}

TEST(HostDir, ReadOnlyOpenOfAMissingDirectoryFails) {
  TempTree t;
  cHostDir dir;
  EXPECT_FALSE(dir.open(t.internal("missing/"), true, false));
  EXPECT_EQ(dir.infoError().view().substr(0, 20), "dir does not exist: ");
  EXPECT_GT(dir.infoError().length(), 20);
  EXPECT_STREQ(dir.infoErrorSource(), "cHostDir.open()");
  EXPECT_FALSE(fs::exists(t.host("missing")));
}

TEST(HostDir, ContractViolationsRaise) {
  TempTree t;
  cHostDir dir;
  expectRaise([&] { dir.open(nullptr, true, false); }, "EMU", "cHostDir.open(); dirPath=NIL");
  expectRaise([&] { dir.open(t.internal("file"), true, false); }, "EMU", "cHostDir.open(); dirPath is invalid");
  expectRaise([&] { dir.close(); }, "EMU", "cHostDir.close(); dir not open");
  expectRaise([&] { dir.flush(); }, "EMU", "cHostDir.flush(); dir not open");
  expectRaise([&] { dir.getPath(); }, "EMU", "cHostDir.getPath(); dir not open");
  expectRaise([&] { dir.getAttributes(); }, "EMU", "cHostDir.getAttributes(); dir not open");
  expectRaise([&] { dir.makeEntryList(); }, "EMU", "cHostDir.makeEntryList(); dir not open");
  expectRaise([&] { dir.clone(false); }, "EMU", "cHostDir.clone(); dir not open");
  expectRaise([&] { dir.openChild("a/", false); }, "EMU", "cHostDir.openChild(); dir not open");
  ASSERT_TRUE(dir.open(t.internal(), true, false));
  expectRaise([&] { dir.open(t.internal(), true, false); }, "EMU", "cHostDir.open(); a dir is already open");
  expectRaise([&] { dir.setPath(t.internal("x/")); }, "EMU", "cHostDir.setPath(); dir opened in read only mode");
  expectRaise([&] { dir.setAttributes(0, 2); }, "EMU", "cHostDir.setAttributes(); dir opened in read only mode");
  expectRaise([&] { dir.openChild("a", false); }, "EMU", "cHostDir.openChild(); relativePath is invalid");
  expectRaise([&] { dir.openKludgeFinish(); }, "BUG", "cHostDir.openKludgeFinish(); kludge already finished");
  dir.openKludgeBegin();
  expectRaise([&] { dir.openKludgeBegin(); }, "BUG", "cHostDir.openKludgeBegin(); kludge already started");
  dir.openKludgeFinish();
  EXPECT_TRUE(dir.isOpen());
}

TEST(HostDir, AFileIsNoDirectory) {
  TempTree t;
  t.file("plain");
  cHostDir dir;
  EXPECT_FALSE(dir.open(t.internal("plain/"), true, false));
  EXPECT_EQ(dir.infoError().view().substr(0, 18), "error opening dir:");
  EXPECT_FALSE(dir.open(t.internal("plain/"), false, true));
  EXPECT_TRUE(fs::is_regular_file(t.host("plain")));
}

TEST(HostDir, ReadProtectedDirectoryOpensOnlyWithForceAndGetsItsBitBack) {
  TempTree t;
  t.file("locked/inside");
  t.readProtect("locked");
  cHostDir dir;
  EXPECT_FALSE(dir.open(t.internal("locked/"), true, false));
  EXPECT_EQ(dir.infoError().view(), "dir is read protected");
  ASSERT_TRUE(dir.open(t.internal("locked/"), true, true));
  EXPECT_EQ(listed(dir), std::vector<std::string>{"inside"});
  EXPECT_TRUE(hasOwnerBit(t.host("locked"), fs::perms::owner_read));
  dir.close();
  EXPECT_FALSE(hasOwnerBit(t.host("locked"), fs::perms::owner_read));
}

TEST(HostDir, ReadProtectionHoldsForAnUnprivilegedUserToo) {
  TempTree t;
  t.file("locked/inside");
  t.readProtect("locked");
  std::string path = t.internal("locked/");
  fs::path host = t.host("locked");
  EXPECT_TRUE(runAsUnprivileged(t.host(), [&] {
    cHostDir dir;
    if (dir.open(path, true, false) || dir.infoError().view() != "dir is read protected") return false;
    if (!dir.open(path, false, true)) return false;
    bool listedInside = dir.makeEntryList()->count() == 1;
    dir.close();
    return listedInside && !hasOwnerBit(host, fs::perms::owner_read);
  }));
}

TEST(HostDir, WriteProtectionIsClearedOnlyByAForcedWritableOpen) {
  TempTree t;
  t.dir("ro");
  t.protect("ro");
  cHostDir dir;
  ASSERT_TRUE(dir.open(t.internal("ro/"), false, false));  // no change, no error
  EXPECT_EQ(dir.getAttributes() & 4, 0);
  EXPECT_FALSE(hasOwnerBit(t.host("ro"), fs::perms::owner_write));
  dir.close();
  ASSERT_TRUE(dir.open(t.internal("ro/"), false, true));
  EXPECT_TRUE(hasOwnerBit(t.host("ro"), fs::perms::owner_write));
  EXPECT_EQ(dir.getAttributes() & 12, 12);
  dir.close();
  EXPECT_FALSE(hasOwnerBit(t.host("ro"), fs::perms::owner_write));
}

TEST(HostDir, SetAttributesChangesTheBitsAndCloseRestoresOnlyWhatItDidNotTouch) {
  TempTree t;
  t.dir("d");
  t.readProtect("d");
  t.dir("e");
  cHostDir dir;
  ASSERT_TRUE(dir.open(t.internal("d/"), false, true));
  EXPECT_EQ(dir.getAttributesSupported(), 6);
  ASSERT_TRUE(dir.setAttributes(0, 4));
  EXPECT_EQ(dir.getAttributes() & 6, 2);
  dir.close();
  EXPECT_FALSE(hasOwnerBit(t.host("d"), fs::perms::owner_read));  // force's change undone
  EXPECT_FALSE(hasOwnerBit(t.host("d"), fs::perms::owner_write));

  // Force cleared W and D; making the directory writable again keeps it so.
  t.protect("e");
  ASSERT_TRUE(dir.open(t.internal("e/"), false, true));
  ASSERT_TRUE(dir.setAttributes(0, 4));
  ASSERT_TRUE(dir.setAttributes(4, 4));
  dir.close();
  EXPECT_TRUE(hasOwnerBit(t.host("e"), fs::perms::owner_write));
}

TEST(HostDir, SetAttributesReportsAFailure) {
  TempTree t;
  SeamGuard seams;
  cHostDir dir;
  ASSERT_TRUE(dir.open(t.internal("d/"), false, false));
  dirSeams().refuseProtection = true;
  EXPECT_FALSE(dir.setAttributes(0, 4));
  EXPECT_STREQ(dir.infoErrorSource(), "cHostDir.setAttributes()");
  EXPECT_EQ(dir.infoError().view().substr(0, 32), "error setting dir protection bit");
  EXPECT_TRUE(dir.isOpen());
}

TEST(HostDir, OneWriterAtATimeAlsoAcrossProcesses) {
  TempTree t;
  cHostDir writer, second, reader;
  ASSERT_TRUE(writer.open(t.internal("w/"), false, false));
  EXPECT_FALSE(second.open(t.internal("w/"), false, false));
  EXPECT_FALSE(reader.open(t.internal("w/"), true, false));
  std::string path = t.host("w").string();
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY);
    ::_exit(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process got the writer's lock";
  writer.close();
  EXPECT_TRUE(second.open(t.internal("w/"), false, false));
}

TEST(HostDir, OpenChildAndParentMoveTheObject) {
  TempTree t;
  t.dir("a/b");
  cHostDir dir;
  ASSERT_TRUE(dir.open(t.internal("a/"), true, false));
  ASSERT_TRUE(dir.openChild("b/", false));
  EXPECT_EQ(dir.getPath().view(), t.internal("a/b/"));
  EXPECT_FALSE(dir.openChild("missing/", false));
  EXPECT_EQ(dir.getPath().view(), t.internal("a/b/"));
  EXPECT_TRUE(dir.infoError().isNil());  // the way back cleared it
  ASSERT_TRUE(dir.openParent(false));
  EXPECT_EQ(dir.getPath().view(), cPath::ImportDirPath(nativeOfHost(t.host("a"))).view());
  EXPECT_TRUE(dir.infoReadOnly());

  cHostDir root;
  ASSERT_TRUE(root.open(":/", true, false));
  EXPECT_FALSE(root.openParent(false));
  EXPECT_EQ(root.infoError().view(), "dir has no parent");
  EXPECT_EQ(root.getPath().view(), ":/");
}

TEST(HostDir, FailingToFindTheWayBackIsABug) {
  TempTree t;
  t.dir("a/b");
  SeamGuard seams;
  cHostDir dir;
  ASSERT_TRUE(dir.open(t.internal("a/"), true, false));
  dirSeams().refuseOpen = [](Text) { return true; };
  expectRaise([&] { dir.openChild("b/", false); }, "BUG",
              "cHostDir.openChild(); failed to reopen current dir, after failed to open child");
  dirSeams().refuseOpen = nullptr;
  ASSERT_TRUE(dir.open(t.internal("a/"), true, false));
  dirSeams().refuseOpen = [](Text) { return true; };
  expectRaise([&] { dir.openParent(false); }, "BUG",
              "cBaseDir.openParent(); failed to reopen current dir, after failed to open parent");
}

TEST(HostDir, CloneGivesASecondReaderButNeverASecondWriter) {
  TempTree t;
  cHostDir writable, readOnly;
  ASSERT_TRUE(writable.open(t.internal("w/"), false, false));
  EXPECT_EQ(writable.clone(true), nullptr);
  t.dir("r");
  ASSERT_TRUE(readOnly.open(t.internal("r/"), true, false));
  std::unique_ptr<cPath> copy = readOnly.clone(false);
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(copy->isOfClass(cHostDir::kClassName));
  EXPECT_TRUE(copy->infoReadOnly());
  EXPECT_EQ(copy->getPath().view(), t.internal("r/"));
  EXPECT_TRUE(readOnly.make()->isSameClass(cHostDir::kClassName));
}

TEST(HostDir, SetPathRenamesAndNeverReplaces) {
  TempTree t;
  t.file("d/inside");
  t.dir("taken");
  cHostDir dir;
  ASSERT_TRUE(dir.open(t.internal("d/"), false, false));
  EXPECT_FALSE(dir.setPath(t.internal("taken/")));
  EXPECT_STREQ(dir.infoErrorSource(), "cHostDir.setPath()");
  EXPECT_EQ(dir.infoError().view().substr(0, 23), "error renaming host dir");
  ASSERT_TRUE(dir.setPath(t.internal("moved/")));
  EXPECT_EQ(dir.getPath().view(), t.internal("moved/"));
  EXPECT_TRUE(fs::exists(t.host("moved/inside")));
  EXPECT_FALSE(fs::exists(t.host("d")));
  EXPECT_EQ(listed(dir), std::vector<std::string>{"inside"});  // the lock followed
  ASSERT_TRUE(dir.setName("renamed/"));
  EXPECT_EQ(dir.getPath().view(), t.internal("renamed/"));
  expectRaise([&] { dir.setPath(nullptr); }, "EMU", "cHostDir.setPath(); path=NILA");
  expectRaise([&] { dir.setPath(t.internal("file")); }, "EMU", "cHostDir.setPath(); path is invalid");
}

TEST(HostDir, ListingGivesKindsLinksAndCaseTwins) {
  TempTree t;
  t.file("d/Readme");
  t.file("d/README");
  t.file("d/file");
  t.dir("d/sub");
  t.dir("elsewhere");
  t.symlink("../elsewhere", "d/toDir");
  t.symlink("nowhere", "d/dangling");
  t.symlink("file", "d/toFile");
  cHostDir dir;
  ASSERT_TRUE(dir.open(t.internal("d/"), true, false));
  EXPECT_EQ(listed(dir), (std::vector<std::string>{"dangling", "file", "README", "Readme", "sub/", "toDir/", "toFile"}));
}

TEST(HostDir, ListingJoinsLinkNamesAtAnAssignRootAsAddPartDoes) {
  // "Root:" + "/" + "sub" would name "sub" in the folder above Root's own;
  // there a plain file of that name waits to be examined by mistake.
  TempTree outer("Outer");
  outer.file("sub");
  outer.dir("inner/real");
  outer.symlink("real", "inner/sub");
  dos::assignAdd("Root", outer.host("inner").string());
  cHostDir dir;
  ASSERT_TRUE(dir.open("Root:/", true, false));
  EXPECT_EQ(listed(dir), (std::vector<std::string>{"real/", "sub/"}));
  dir.close();
  dos::assignRemove("Root");
}

TEST(HostDir, AListingFailurePrintsALineAndRaises) {
  // A directory of another owner that others may enter but not read: its
  // owner's bits say readable, so it opens, and only the listing fails.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a directory of another owner";
  TempTree t;
  t.dir("closed");
  fs::permissions(t.host("closed"), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  std::string path = t.internal("closed/");
  std::string head = "# cHostDir.makeEntryList(); ExAll() failed for path \"" + t.native("closed") + "\" with error 224 (";
  EXPECT_TRUE(runAsUnprivileged({}, [&] {
    cHostDir dir;
    if (!dir.open(path, true, false)) return false;
    ::testing::internal::CaptureStdout();
    std::string code, message;
    try {
      dir.makeEntryList();
    } catch (const eException& e) {
      code = e.code();
      message = e.message();
    }
    std::string out = ::testing::internal::GetCapturedStdout();
    return code == "FILE" && message.rfind("cHostDir.makeEntryList(); ExAll() failed: ", 0) == 0 &&
           out.rfind(head, 0) == 0 && out.size() > head.size() + 3 && out.substr(out.size() - 3) == ").\n";
  }));
}

TEST(HostDir, FlushReexaminesAndInitialiseCloses) {
  TempTree t;
  cHostDir dir;
  ASSERT_TRUE(dir.open(t.internal("d/"), false, false));
  fs::permissions(t.host("d"), fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_NE(dir.getAttributes() & 4, 0);
  dir.flush();
  EXPECT_EQ(dir.getAttributes() & 4, 0);
  dir.initialise();
  EXPECT_FALSE(dir.isOpen());
}

}  // namespace
}  // namespace bw
