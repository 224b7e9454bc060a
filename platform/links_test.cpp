// platform/links_test.cpp - devices and assigns, canonical names, soft-link
// reading, entry examination without following links, entry kinds and
// renaming by internal path.
#include "platform/links.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/path_test_support.h"

namespace bw {
namespace {

using namespace testing_paths;

TEST(DeviceExists, DevicesAndAssigns) {
  EXPECT_TRUE(deviceExists("PIPE:"));
  EXPECT_FALSE(deviceExists("NoSuchDevice:"));
  EXPECT_FALSE(deviceExists("NoSuchDevice:x"));

  TempTree first("Multi");
  TempTree second("MultiTwo");
  dos::assignAdd("Multi", second.host().string());  // Multi: = first, then second
  second.file("onlyInSecond");
  first.file("onlyInFirst");
  EXPECT_TRUE(deviceExists("Multi:"));
  EXPECT_TRUE(deviceExists("multi:onlyInSecond"));  // device names ignore case
  EXPECT_TRUE(deviceExists("Multi:onlyInFirst"));
  EXPECT_FALSE(deviceExists("Multi:nowhere"));
  EXPECT_FALSE(deviceExists("Multi:OnlyInFirst"));  // names below the device do not
}

TEST(CanonicalPath, MissingNamesAndRelativePaths) {
  TempTree t;
  t.dir("sub");
  t.symlink("sub", "alias");
  EXPECT_EQ(canonicalPath(t.native("sub/missing"), false), nativeOfHost(t.host("sub")) + "/missing");
  EXPECT_EQ(canonicalPath(t.native("alias"), false), nativeOfHost(t.host("sub")));
  EXPECT_EQ(canonicalPath(t.native("alias"), true), nativeOfHost(t.host("alias")));
  EXPECT_EQ(canonicalPath(t.native("sub"), true), nativeOfHost(t.host("sub")));
  CwdGuard cwd(t.host("sub"));
  EXPECT_EQ(canonicalPath("nodir/x", false), nativeOfHost(t.host("sub")) + "/nodir/x");
  EXPECT_EQ(canonicalPath("NoSuchDevice:x", false), "NoSuchDevice:x");
}

TEST(CanonicalPath, FindsAnEntryInTheSecondFolderOfAnAssign) {
  TempTree first("Multi");
  TempTree second("MultiTwo");
  dos::assignAdd("Multi", second.host().string());
  second.symlink("elsewhere", "link");
  EXPECT_EQ(canonicalPath("Multi:link", true), nativeOfHost(second.host("link")));
}

TEST(AbsoluteNativePath, DeviceOrCurrentDirectory) {
  TempTree t;
  t.dir("sub");
  EXPECT_EQ(absoluteNativePath(t.native("a/b")), nativeOfHost(t.host()) + "/a/b");
  CwdGuard cwd(t.host("sub"));
  EXPECT_EQ(absoluteNativePath("x"), nativeOfHost(t.host("sub")) + "/x");
  EXPECT_TRUE(absoluteNativePath("NoSuchDevice:x").isNil());
}

TEST(ReadSoftLink, TargetsAndKinds) {
  TempTree t;
  t.file("plain");
  t.symlink("../x", "up");
  t.symlink("/abs/p", "absolute");
  t.symlink("a/b", "relative");
  std::string longTarget(300, 'n');
  t.symlink(longTarget, "long");

  SoftLinkText r = readSoftLink(t.native("plain"), false);
  EXPECT_TRUE(r.target.isNil());
  EXPECT_EQ(r.kind, 1);
  r = readSoftLink(t.native("missing"), false);
  EXPECT_TRUE(r.target.isNil());
  EXPECT_EQ(r.kind, 1);
  r = readSoftLink(t.native("up"), false);
  EXPECT_EQ(r.target, "/x");
  EXPECT_EQ(r.kind, 2);
  EXPECT_EQ(readSoftLink(t.native("absolute"), false).target, ":abs/p");
  EXPECT_EQ(readSoftLink(t.native("relative"), false).target, "a/b");
  EXPECT_EQ(readSoftLink(t.native("long"), false).target, longTarget);
  r = readSoftLink(t.native("up"), true);
  EXPECT_EQ(r.target, "/x");
  EXPECT_EQ(r.kind, 0);
}

TEST(ExamineWithoutFollowingLink, ReportsTheEntryItself) {
  TempTree t;
  t.dir("dir");
  t.file("#?(a|b)*", "pattern");  // pattern characters are plain name characters
  t.file("#?(a|b)x");
  t.symlink("dir", "link");
  dos::FileInfo info;
  ASSERT_TRUE(examineWithoutFollowingLink(t.native("link"), info));
  EXPECT_EQ(info.entryType, dos::kTypeSoftLink);
  EXPECT_EQ(info.name, "link");
  ASSERT_TRUE(examineWithoutFollowingLink(t.native("dir"), info));
  EXPECT_EQ(info.entryType, dos::kTypeDir);
  ASSERT_TRUE(examineWithoutFollowingLink(t.native("#?(a|b)*"), info));
  EXPECT_EQ(info.entryType, dos::kTypeFile);
  EXPECT_EQ(info.name, "#?(a|b)*");
  EXPECT_EQ(info.size, 7);
  EXPECT_FALSE(examineWithoutFollowingLink(t.native("#?"), info));
  EXPECT_FALSE(examineWithoutFollowingLink(t.native("LINK"), info));  // case counts below a device
  EXPECT_TRUE(findNameInDir(t.native("link"), info));
  EXPECT_FALSE(findNameInDir(t.native("missing"), info));
}

TEST(ExaminePath, TypesAndExistence) {
  TempTree t;
  t.file("f");
  t.dir("d");
  t.symlink("d", "l");
  PathExamination e = examinePath(t.native("f"), false);
  EXPECT_EQ(e.type, dos::kTypeFile);
  EXPECT_TRUE(e.exists);
  EXPECT_EQ(examinePath(t.native("l"), false).type, dos::kTypeDir);
  EXPECT_EQ(examinePath(t.native("l"), true).type, dos::kTypeSoftLink);
  EXPECT_EQ(examinePath(t.native(""), false).type, dos::kTypeDir);
  EXPECT_EQ(examinePath(":", false).type, dos::kTypeRoot);
  e = examinePath(t.native("missing"), false);
  EXPECT_EQ(e.type, 0);
  EXPECT_FALSE(e.exists);
  EXPECT_TRUE(isLinkPath(t.native("l")));
  EXPECT_FALSE(isLinkPath(t.native("d")));
}

// A soft link is judged by what it points at, resolved the way the kernel
// resolves it: relative to the link's own folder, whatever the current
// directory. Dangling and looping links count as files.
TEST(DirEntryTypeIsFile, FollowsLinksFromTheirOwnFolder) {
  TempTree t;
  t.dir("dir/inner");
  t.file("dir/file");
  t.symlink("inner", "dir/toInner");
  t.symlink("file", "dir/toFile");
  t.symlink("nowhere", "dir/dangling");
  t.symlink("loopB", "dir/loopA");
  t.symlink("loopA", "dir/loopB");
  t.symlink("toInner", "dir/toLinkToInner");

  EXPECT_TRUE(dirEntryTypeIsFile(dos::kTypeFile, "whatever"));
  EXPECT_TRUE(dirEntryTypeIsFile(0, "whatever"));
  EXPECT_FALSE(dirEntryTypeIsFile(dos::kTypeDir, "whatever"));
  EXPECT_TRUE(dirEntryTypeIsFile(dos::kTypePipe, "whatever"));

  CwdGuard cwd(t.host());  // "inner" does not exist here: only in dir/
  EXPECT_FALSE(dirEntryTypeIsFile(dos::kTypeSoftLink, t.native("dir/toInner")));
  EXPECT_FALSE(dirEntryTypeIsFile(dos::kTypeSoftLink, "dir/toInner"));
  EXPECT_FALSE(dirEntryTypeIsFile(dos::kTypeSoftLink, t.native("dir/toLinkToInner")));
  EXPECT_TRUE(dirEntryTypeIsFile(dos::kTypeSoftLink, t.native("dir/toFile")));
  EXPECT_TRUE(dirEntryTypeIsFile(dos::kTypeSoftLink, t.native("dir/dangling")));
  EXPECT_TRUE(dirEntryTypeIsFile(dos::kTypeSoftLink, t.native("dir/loopA")));
}

TEST(MakeLink, SoftHardAndUnknown) {
  TempTree t;
  t.file("target", "data");
  LinkMade m = makeLink(t.internal("soft"), t.internal("target"), kExtraSLNK);
  EXPECT_TRUE(m.made);
  EXPECT_FALSE(m.unknownType);
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(t.host("soft"))));
  EXPECT_EQ(readAll(t.host("soft")), "data");
  m = makeLink(t.internal("hard"), t.internal("target"), kExtraHLNK);
  EXPECT_TRUE(m.made);
  EXPECT_EQ(fs::hard_link_count(t.host("target")), 2u);
  m = makeLink(t.internal("other"), t.internal("target"), 0x4C494E4B);
  EXPECT_FALSE(m.made);
  EXPECT_TRUE(m.unknownType);
  EXPECT_FALSE(fs::exists(fs::symlink_status(t.host("other"))));
  EXPECT_FALSE(makeLink(t.internal("hard2"), t.internal("missing"), kExtraHLNK).made);
}

TEST(RenamePath, RenamesAndRefuses) {
  TempTree t;
  t.file("a", "A");
  EXPECT_TRUE(renamePath(t.internal("a"), t.internal("b"), false));
  EXPECT_EQ(readAll(t.host("b")), "A");
  EXPECT_FALSE(fs::exists(t.host("a")));
  EXPECT_FALSE(renamePath(t.internal("missing"), t.internal("c"), false));

  t.file("secret", "S");
  t.readProtect("secret");
  EXPECT_FALSE(renamePath(t.internal("secret"), t.internal("moved"), false));
  EXPECT_TRUE(fs::exists(t.host("secret")));
  EXPECT_TRUE(renamePath(t.internal("secret"), t.internal("moved"), true));
  EXPECT_TRUE(fs::exists(t.host("moved")));

  t.dir("d1");
  EXPECT_TRUE(renamePath(t.internal("d1/"), t.internal("d2/"), false));
  EXPECT_TRUE(fs::is_directory(t.host("d2")));
}

// The backup rotation relies on a rename that never replaces its target.
TEST(RenamePath, NeverReplacesAnExistingTarget) {
  TempTree t;
  t.file("database.soup.bak_1Latest", "latest");
  t.file("database.soup.bak_2KnownGood", "known good");
  EXPECT_FALSE(renamePath(t.internal("database.soup.bak_1Latest"), t.internal("database.soup.bak_2KnownGood"), true));
  EXPECT_EQ(readAll(t.host("database.soup.bak_1Latest")), "latest");
  EXPECT_EQ(readAll(t.host("database.soup.bak_2KnownGood")), "known good");
  t.dir("x");
  t.file("y/keep");
  EXPECT_FALSE(renamePath(t.internal("x/"), t.internal("y/"), true));
  EXPECT_TRUE(fs::exists(t.host("y/keep")));
}

}  // namespace
}  // namespace bw
