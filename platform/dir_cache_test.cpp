// Tests of cDir and of the directory side of the extras: cached attributes
// and extras, the device test, comments, protection words and link changes.
#include "platform/dir_cache.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/dir_test_support.h"
#include "platform/dir_walk.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

using namespace testing_paths;
using namespace testing_dirs;

bool ownerCanWrite(const fs::path& p) {
  return (fs::status(p).permissions() & fs::perms::owner_write) != fs::perms::none;
}

std::string commentOf(cExtra& object) { return std::string(object.queryExtra(kExtraCOMM).value.text.view()); }

// Knows only the comment: setExtra from it copies nothing else.
class CommentOnly : public cExtra {
 public:
  bool setExtra(cExtra*) override { return true; }
  ExtraChange changeExtra(ExtraKey, const ExtraValue&) override { return {false, true}; }
  ExtraQuery queryExtra(ExtraKey key) override {
    ExtraQuery q;
    if (key == kExtraCOMM) q.value = ExtraValue::ofText("from elsewhere");
    else q.unknownKey = true;
    return q;
  }
};

class DirTest : public ::testing::Test {
 protected:
  void SetUp() override { forgetLastDirDevice(); }
  void TearDown() override { forgetLastDirDevice(); }
  TempTree t;
  SeamGuard seams;
};

TEST_F(DirTest, AttributesStayInTheCacheUntilFlush) {
  cDir dir;
  ASSERT_TRUE(dir.open(t.internal("d/"), false, false));
  EXPECT_EQ(dir.infoDeviceFlags(), kDirDeviceAttributes | kDirDeviceExtras);
  ASSERT_TRUE(dir.setAttributes(0, 4));
  EXPECT_EQ(dir.getAttributes() & 4, 0);
  EXPECT_TRUE(ownerCanWrite(t.host("d")));
  dir.flush();
  EXPECT_FALSE(ownerCanWrite(t.host("d")));
  ASSERT_TRUE(dir.setAttributes(4, 4));
  dir.close();  // close flushes a writable directory
  EXPECT_TRUE(ownerCanWrite(t.host("d")));
  expectRaise([&] { dir.getAttributes(); }, "EMU", "cHostDir.getAttributes(); dir not open");
}

TEST_F(DirTest, AReadOnlyDirectoryReloadsItsCachesAtFlush) {
  t.dir("d");
  cDir dir;
  ASSERT_TRUE(dir.open(t.internal("d/"), true, false));
  expectRaise([&] { dir.setAttributes(0, 4); }, "EMU", "cDir.setAttributes(); dir opened in read only mode");
  t.protect("d");
  EXPECT_NE(dir.getAttributes() & 4, 0);
  dir.flush();
  EXPECT_EQ(dir.getAttributes() & 4, 0);
  EXPECT_TRUE(dir.make()->isSameClass(cDir::kClassName));
  std::unique_ptr<cPath> copy = dir.clone(false);
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(copy->isSameClass(cDir::kClassName));
}

TEST_F(DirTest, ADeviceThatRefusedAttributesIsNotAskedAgain) {
  dirSeams().refuseProtection = true;
  cDir dir;
  ASSERT_TRUE(dir.open(t.internal("d/"), false, false));
  EXPECT_EQ(dir.infoDeviceFlags() & kDirDeviceAttributes, 0);
  EXPECT_FALSE(dir.setAttributes(0, 4));
  EXPECT_EQ(dir.infoError().view(), "not supported by disk");
  EXPECT_STREQ(dir.infoErrorSource(), "cDir.setAttributes()");
  dir.close();
  // The module remembers the file system: a second object takes the answer.
  dirSeams().refuseProtection = false;
  cDir other;
  ASSERT_TRUE(other.open(t.internal("e/"), false, false));
  EXPECT_EQ(other.infoDeviceFlags() & kDirDeviceAttributes, 0);
  other.close();
  initRecurseCpathDirCallbacks();  // the walks' start-up forgets it
  cDir fresh;
  ASSERT_TRUE(fresh.open(t.internal("e/"), false, false));
  EXPECT_NE(fresh.infoDeviceFlags() & kDirDeviceAttributes, 0);
  fresh.close();
  endRecurseCpathDirCallbacks();
}

TEST_F(DirTest, CommentsAndProtectionWordsOfADirectory) {
  cDir dir;
  ASSERT_TRUE(dir.open(t.internal("d/"), false, false));
  std::string longText(100, 'c');
  ASSERT_TRUE(dir.changeExtra(kExtraCOMM, ExtraValue::ofText(longText)).ok);
  EXPECT_EQ(commentOf(dir), longText);  // the cache holds it until flush
  dir.flush();
  dir.close();
  cHostDir host;
  ASSERT_TRUE(host.open(t.internal("d/"), false, false));
  EXPECT_EQ(commentOf(host), std::string(79, 'c'));
  ASSERT_TRUE(host.changeExtra(kExtraATTR, ExtraValue::ofNumber(1u << 15)).ok);  // others may read
  EXPECT_EQ(host.queryExtra(kExtraATTR).value.number, 1u << 15);
  EXPECT_NE(fs::status(t.host("d")).permissions() & fs::perms::others_read, fs::perms::none);
  EXPECT_TRUE(host.queryExtra(kExtraCSiz).unknownKey);
  ExtraChange unknown = host.changeExtra(kExtraLINK, ExtraValue::ofText("x"));
  EXPECT_TRUE(unknown.unknownKey);
  EXPECT_FALSE(unknown.ok);

  std::unique_ptr<cExtra> copy = host.getExtra();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(commentOf(*copy), std::string(79, 'c'));
  host.close();
  expectRaise([&] { host.queryExtra(kExtraCOMM); }, "EMU", "cHostDir.queryExtra(); dir not open");
  expectRaise([&] { host.getExtra(); }, "EMU", "cHostDir.getExtra(); dir not open");
  ASSERT_TRUE(host.open(t.internal("d/"), true, false));
  expectRaise([&] { host.changeExtra(kExtraCOMM, ExtraValue()); }, "EMU",
              "cHostDir.changeExtra(); dir opened in read only mode");
  expectRaise([&] { host.setExtra(nullptr); }, "EMU", "cHostDir.setExtra(); dir opened in read only mode");
}

TEST_F(DirTest, SetExtraFromAnObjectWithoutATTRLeavesTheProtectionAlone) {
  cHostDir host;
  ASSERT_TRUE(host.open(t.internal("d/"), false, false));
  ASSERT_TRUE(host.changeExtra(kExtraATTR, ExtraValue::ofNumber(1u << 15)).ok);
  CommentOnly other;
  EXPECT_TRUE(host.setExtra(&other));
  EXPECT_EQ(commentOf(host), "from elsewhere");
  EXPECT_EQ(host.queryExtra(kExtraATTR).value.number, 1u << 15);
  EXPECT_TRUE(host.setExtra(nullptr));

  cHostExtra memory;
  memory.changeExtra(kExtraATTR, ExtraValue::ofNumber(1u << 15));
  EXPECT_TRUE(memory.setExtra(&other));
  EXPECT_EQ(memory.queryExtra(kExtraATTR).value.number, 0u);
}

TEST_F(DirTest, ACommentTheHostCannotKeepFails) {
  cHostDir host;
  ASSERT_TRUE(host.open(t.internal("d/"), false, false));
  dos::dosSeams().noUserXattr = true;
  ExtraChange r = host.changeExtra(kExtraCOMM, ExtraValue::ofText("x"));
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.unknownKey);
  EXPECT_STREQ(host.infoErrorSource(), "cHostDir.changeExtra()");
  EXPECT_EQ(host.infoError().view().substr(0, 25), "error setting dir comment");
  host.close();
  // A cDir on such a device keeps the comment in its cache and drops it at flush.
  cDir dir;
  ASSERT_TRUE(dir.open(t.internal("e/"), false, false));
  EXPECT_EQ(dir.infoDeviceFlags() & kDirDeviceExtras, 0);
  ASSERT_TRUE(dir.changeExtra(kExtraCOMM, ExtraValue::ofText("kept?")).ok);
  dir.flush();
  EXPECT_EQ(commentOf(dir), "");
}

TEST_F(DirTest, AnEmptyDirectoryBecomesASoftLinkAndBack) {
  t.file("target/inside");
  cHostDir host;
  ASSERT_TRUE(host.open(t.internal("d/"), false, false));
  EXPECT_TRUE(host.queryExtra(kExtraLINK).value.text.isNil());
  ASSERT_TRUE(host.changeExtra(kExtraSLNK, ExtraValue::ofText(t.internal("target/"))).ok);
  EXPECT_TRUE(fs::is_symlink(t.host("d")));
  EXPECT_EQ(fs::canonical(t.host("d")), fs::canonical(t.host("target")));
  EXPECT_EQ(host.queryExtra(kExtraSLNK).value.text.view(), t.internal("target/"));
  EXPECT_TRUE(host.queryExtra(kExtraHLNK).value.text.isNil());
  EXPECT_EQ(host.makeEntryList()->count(), 1);  // the object now stands in the target
  for (const auto& e : fs::directory_iterator(t.host())) EXPECT_EQ(e.path().filename().string().rfind("BWlink", 0), std::string::npos);
  host.flush();
  EXPECT_FALSE(host.queryExtra(kExtraLINK).value.text.isNil());  // read again from the disk

  ASSERT_TRUE(host.changeExtra(kExtraSLNK, ExtraValue()).ok);
  EXPECT_FALSE(fs::is_symlink(t.host("d")));
  EXPECT_TRUE(fs::is_directory(t.host("d")));
  EXPECT_TRUE(fs::exists(t.host("target/inside")));
}

TEST_F(DirTest, AFailingLinkChangeLeavesTheDirectoryAsItWas) {
  t.file("d/keep", "data");
  t.dir("target");
  cHostDir host;
  ASSERT_TRUE(host.open(t.internal("d/"), false, false));
  // Not empty: the directory cannot make way for the link.
  EXPECT_FALSE(host.changeExtra(kExtraSLNK, ExtraValue::ofText(t.internal("target/"))).ok);
  EXPECT_STREQ(host.infoErrorSource(), "cHostDir.changeExtra()");
  EXPECT_FALSE(fs::is_symlink(t.host("d")));
  EXPECT_EQ(readAll(t.host("d/keep")), "data");
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(t.host())) (void)e, ++entries;
  EXPECT_EQ(entries, 2u);  // no temporary link left behind
  EXPECT_TRUE(host.isOpen());
  EXPECT_EQ(host.makeEntryList()->count(), 1);

  // A hard link to a directory cannot be made here, and one to a missing
  // target is refused before anything is touched.
  EXPECT_FALSE(host.changeExtra(kExtraHLNK, ExtraValue::ofText(t.internal("missing/"))).ok);
  t.dir("e");
  cHostDir empty;
  ASSERT_TRUE(empty.open(t.internal("e/"), false, false));
  EXPECT_FALSE(empty.changeExtra(kExtraHLNK, ExtraValue::ofText(t.internal("target/"))).ok);
  EXPECT_TRUE(fs::is_directory(t.host("e")));
  EXPECT_FALSE(fs::is_symlink(t.host("e")));
}

TEST_F(DirTest, ALinkChangeThroughTheCacheReachesTheDiskAtOnce) {
  t.dir("target");
  cDir dir;
  ASSERT_TRUE(dir.open(t.internal("d/"), false, false));
  ASSERT_TRUE(dir.changeExtra(kExtraSLNK, ExtraValue::ofText(t.internal("target/"))).ok);
  EXPECT_TRUE(fs::is_symlink(t.host("d")));
  EXPECT_EQ(dir.queryExtra(kExtraLINK).value.text.view(), t.internal("target/"));
}

TEST_F(DirTest, AFailedLinkChangeThroughTheCacheRaisesAndTheCacheFollowsTheDisk) {
  t.file("d/keep");
  t.dir("target");
  cDir dir;
  ASSERT_TRUE(dir.open(t.internal("d/"), false, false));
  expectRaise([&] { dir.changeExtra(kExtraSLNK, ExtraValue::ofText(t.internal("target/"))); }, "FILE",
              "cDir.flush(); failed to set one of more of: attributes, extra");
  EXPECT_TRUE(dir.queryExtra(kExtraSLNK).value.text.isNil());
  EXPECT_FALSE(fs::is_symlink(t.host("d")));
  EXPECT_TRUE(fs::exists(t.host("d/keep")));
  dir.close();  // nothing pending any more
}

}  // namespace
}  // namespace bw
