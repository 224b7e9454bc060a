// platform/path_native_test.cpp - existence by kind with device names,
// making missing folders, sizes, copies, comments, file parts, directory
// name lists and deleting native trees.
#include "platform/path_native.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/links.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

using namespace testing_paths;

TEST(PathOrDeviceExists, Kinds) {
  TempTree t;
  t.file("f");
  t.dir("d");
  EXPECT_TRUE(pathOrDeviceExists("PIPE:", 0));
  EXPECT_TRUE(pathOrDeviceExists("PIPE:", 4));
  EXPECT_FALSE(pathOrDeviceExists("PIPE:", 3));
  EXPECT_FALSE(pathOrDeviceExists(t.native("f"), 2));
  EXPECT_TRUE(pathOrDeviceExists(t.native("f"), 3));
  EXPECT_TRUE(pathOrDeviceExists(t.native("f"), 1));
  EXPECT_TRUE(pathOrDeviceExists(t.native("d"), 2));
  EXPECT_FALSE(pathOrDeviceExists(t.native("d"), 1));
  EXPECT_TRUE(pathOrDeviceExists(t.native("d"), 0));
  EXPECT_FALSE(pathOrDeviceExists(t.native("missing"), 0));
  EXPECT_FALSE(pathOrDeviceExists(t.native("missing"), 7));
  EXPECT_FALSE(pathOrDeviceExists("NoSuchDevice:", 0));
}

TEST(MakeMissingDirs, ParentsAndWhole) {
  TempTree t;
  EXPECT_TRUE(makeMissingDirs(t.native("a/b/c"), true, false));
  EXPECT_TRUE(fs::is_directory(t.host("a/b")));
  EXPECT_FALSE(fs::exists(t.host("a/b/c")));
  EXPECT_TRUE(makeMissingDirs(t.native("x/y/z"), false, false));
  EXPECT_TRUE(fs::is_directory(t.host("x/y/z")));
  EXPECT_TRUE(makeMissingDirs(t.native("x/y/z"), false, false));  // already there
  EXPECT_FALSE(makeMissingDirs("NoSuchDevice:a/b", false, false));
  EXPECT_FALSE(makeMissingDirs("NoSuchDevice:a/b", true, false));

  t.file("f/g", "in the way");
  EXPECT_FALSE(makeMissingDirs(t.native("f/g/h"), true, false));  // the parent is a file
  EXPECT_FALSE(makeMissingDirs(t.native("f/g"), false, false));
  EXPECT_TRUE(makeMissingDirs(t.native("f/g"), false, true));  // deleteFirst clears it
  EXPECT_TRUE(fs::is_directory(t.host("f/g")));
}

TEST(FileSize, ByPathAndHandle) {
  TempTree t;
  t.file("five", "12345");
  t.symlink("five", "link");
  EXPECT_EQ(fileSize(t.native("five"), false), 5);
  EXPECT_EQ(fileSize(t.native("link"), false), 5);
  testing::internal::CaptureStdout();
  EXPECT_EQ(fileSize(t.native("missing"), true), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "WARNING: fileSize(\"" + t.native("missing") + "\", -1); failed to obtain size of file (3)\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(fileSize(t.native("missing"), false), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "WARNING: fileSize(\"" + t.native("missing") + "\", 0); failed to obtain size of file (3)\n");
}

TEST(CopyNativeFile, CopiesAndRefuses) {
  TempTree t;
  std::string big(300000, 'q');
  t.file("src", big);
  t.file("existing", "old");
  EXPECT_TRUE(copyNativeFile(t.native("src"), t.native("dst"), false));
  EXPECT_EQ(readAll(t.host("dst")), big);
  EXPECT_FALSE(copyNativeFile(t.native("src"), t.native("existing"), false));
  EXPECT_EQ(readAll(t.host("existing")), "old");
  EXPECT_TRUE(copyNativeFile(t.native("src"), t.native("existing"), true));
  EXPECT_EQ(readAll(t.host("existing")), big);
  EXPECT_FALSE(copyNativeFile(t.native("missing"), t.native("dst2"), false));
  EXPECT_FALSE(fs::exists(t.host("dst2")));
  // A folder as source: refused, and no destination is made.
  t.dir("folder");
  EXPECT_FALSE(copyNativeFile(t.native("folder"), t.native("dst3"), false));
  EXPECT_FALSE(fs::exists(t.host("dst3")));
}

TEST(StrFileComment, CommentsAndTheirCopies) {
  TempTree t;
  t.file("f", "body");
  t.file("bare");
  if (!dos::setComment(t.native("f"), "a note")) GTEST_SKIP() << "no user attributes on " << t.host();
  EXPECT_EQ(strFileComment(t.native("f")), "a note");
  EXPECT_EQ(strFileComment(t.native("bare")), "");
  EXPECT_TRUE(strFileComment(t.native("missing")).isNil());
  t.protect("f");
  EXPECT_TRUE(copyNativeFile(t.native("f"), t.native("copy"), false));
  EXPECT_EQ(strFileComment(t.native("copy")), "a note");
  EXPECT_EQ(fs::status(t.host("copy")).permissions(), fs::status(t.host("f")).permissions());
  EXPECT_EQ(fs::last_write_time(t.host("copy")), fs::last_write_time(t.host("f")));
}

TEST(StrFilePart, SplitsNativePaths) {
  FileParts p = strFilePart("Work:news/feeds.db");
  EXPECT_EQ(p.file, "feeds.db");
  EXPECT_EQ(p.path, "Work:news/");
  p = strFilePart("Work:");
  EXPECT_EQ(p.file, "");
  EXPECT_EQ(p.path, "Work:");
  p = strFilePart("x");
  EXPECT_EQ(p.file, "x");
  EXPECT_EQ(p.path, "");
  EXPECT_GE(p.path.capacity(), 1);
}

TEST(StrProgramPath, IsThisExecutable) {
  Str p = strProgramPath();
  ASSERT_FALSE(p.isNil());
  EXPECT_EQ(p, nativeOfHost(fs::read_symlink("/proc/self/exe")));
}

std::vector<std::string> namesOf(const std::vector<DirName>& list) {
  std::vector<std::string> names;
  for (const DirName& n : list) names.push_back(n.name.str());
  return names;
}

const DirName* find(const std::vector<DirName>& list, const std::string& name) {
  for (const DirName& n : list)
    if (n.name == name) return &n;
  return nullptr;
}

TEST(ScanDirNames, NamesAndTypes) {
  TempTree t;
  t.file("d/file");
  t.dir("d/sub");
  t.symlink("file", "d/toFile");
  t.symlink("sub", "d/toSub");
  t.symlink("nowhere", "d/dangling");
  t.symlink("loopB", "d/loopA");
  t.symlink("loopA", "d/loopB");

  DirNameScan r = scanDirNames(t.native("d"));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.error, 0);
  ASSERT_EQ(r.names.size(), 7u);
  struct Want {
    const char* name;
    int32_t type;
  };
  for (Want w : {Want{"file", dos::kTypeFile}, Want{"sub/", dos::kTypeDir}, Want{"toFile", dos::kTypeSoftLink},
                 Want{"toSub/", dos::kTypeSoftLink}, Want{"dangling", dos::kTypeSoftLink}, Want{"loopA", dos::kTypeSoftLink},
                 Want{"loopB", dos::kTypeSoftLink}}) {
    SCOPED_TRACE(w.name);
    const DirName* n = find(r.names, w.name);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->type, w.type);
  }

  // Without an ordering the names come in the directory's own order.
  std::vector<std::string> dirOrder;
  for (const auto& e : fs::directory_iterator(t.host("d"))) {
    std::string name = e.path().filename().string();
    std::error_code ec;
    bool isDir = fs::is_directory(fs::status(e.path(), ec));  // links by their target
    dirOrder.push_back(isDir ? name + "/" : name);
  }
  EXPECT_EQ(namesOf(r.names), dirOrder);

  DirNameScan missing = scanDirNames(t.native("missing"));
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.error, 205);
}

std::vector<std::pair<std::string, int32_t>> entriesOf(const cDirNameList& list) {
  std::vector<std::pair<std::string, int32_t>> out;
  auto* cursor = list.infoStart();
  auto walker = cursor->clone(0, 0);
  while (!walker->isSamePosition(*list.infoPastEnd())) {
    out.emplace_back(walker->getData().str(), cDirNameList::typeOf(walker->infoNode()));
    walker->gotoNext();
  }
  return out;
}

TEST(ListDirNames, DirectoryOrderAndOrderings) {
  TempTree t;
  for (const char* name : {"b", "A", "c", "a", "B_", "_z"}) t.file(std::string("d/") + name);
  t.dir("d/sub");
  t.symlink("sub", "d/toSub");

  ListedDirNames plain = listDirNames(t.native("d"), nullptr);
  ASSERT_NE(plain.list, nullptr);
  EXPECT_EQ(plain.error, 0);
  std::vector<std::pair<std::string, int32_t>> want;
  for (const DirName& n : scanDirNames(t.native("d")).names) want.emplace_back(n.name.str(), n.type);
  EXPECT_EQ(entriesOf(*plain.list), want);  // the folder's own order

  fCompareMegaNodes_STRING byText;
  ListedDirNames sorted = listDirNames(t.native("d"), &byText);
  ASSERT_NE(sorted.list, nullptr);
  std::sort(want.begin(), want.end());
  EXPECT_EQ(entriesOf(*sorted.list), want);
  EXPECT_EQ(entriesOf(*sorted.list).back(), (std::pair<std::string, int32_t>("toSub/", dos::kTypeSoftLink)));

  auto clone = sorted.list->clone();
  EXPECT_EQ(entriesOf(static_cast<const cDirNameList&>(*clone)), want);  // types survive a clone

  int32_t error = -1;
  ListedDirNames missing = listDirNames(t.native("missing"), &byText, &error);
  EXPECT_EQ(missing.list, nullptr);
  EXPECT_EQ(missing.error, 205);
  EXPECT_EQ(error, 205);
}

TEST(DeleteNativeTree, ForceAndProtection) {
  TempTree t;
  t.file("tree/a");
  t.file("tree/sub/b");
  t.file("tree/sub/locked");
  t.protect("tree/sub/locked");
  t.file("elsewhere/keep");
  t.symlink("../../elsewhere", "tree/sub/link");

  EXPECT_FALSE(deleteNativeTree(t.native("tree"), false));
  EXPECT_TRUE(fs::exists(t.host("tree/sub/locked")));
  EXPECT_TRUE(fs::is_directory(t.host("tree/sub")));
  EXPECT_FALSE(fs::exists(t.host("tree/a")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(t.host("tree/sub/link"))));
  EXPECT_TRUE(fs::exists(t.host("elsewhere/keep")));

  EXPECT_TRUE(deleteNativeTree(t.native("tree"), true));
  EXPECT_FALSE(fs::exists(t.host("tree")));
}

// A tree path that is itself a link to a folder: the link goes, the folder
// it points at keeps every entry.
TEST(DeleteNativeTree, ALinkIsDeletedNotFollowed) {
  TempTree t;
  t.file("target/one");
  t.file("target/sub/two");
  t.symlink("target", "link");
  EXPECT_TRUE(deleteNativeTree(t.native("link"), true));
  EXPECT_FALSE(fs::exists(fs::symlink_status(t.host("link"))));
  EXPECT_EQ(readAll(t.host("target/one")), "x");
  EXPECT_EQ(readAll(t.host("target/sub/two")), "x");
}

}  // namespace
}  // namespace bw
