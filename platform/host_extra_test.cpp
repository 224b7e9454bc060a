// platform/host_extra_test.cpp - extras in memory (cHostExtra) and on a host
// file: comments, protection words and link changes that never lose the file.
#include "platform/host_extra.h"

#include <filesystem>

#include "core/raise_test_support.h"
#include "platform/dos.h"
#include "platform/host_file.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

using testing_paths::readAll;
using testing_paths::TempTree;
namespace fs = std::filesystem;

TEST(HostExtra, HoldsAndCopiesExtras) {
  cHostExtra e;
  EXPECT_TRUE(e.changeExtra(kExtraCOMM, ExtraValue()).ok);
  EXPECT_EQ(e.queryExtra(kExtraCOMM).value.text, "") << "a NIL comment is stored empty";
  e.changeExtra(kExtraATTR, ExtraValue::ofNumber(0x700));
  e.changeExtra(kExtraHLNK, ExtraValue::ofText("Work:/t"));
  EXPECT_TRUE(e.queryExtra(kExtraSLNK).value.text.isNil());
  EXPECT_EQ(e.queryExtra(kExtraHLNK).value.text, "Work:/t");
  EXPECT_EQ(e.queryExtra(kExtraLINK).value.text, "Work:/t");
  ExtraChange c = e.changeExtra(kExtraLINK, ExtraValue::ofText("x"));
  EXPECT_FALSE(c.ok);
  EXPECT_TRUE(c.unknownKey);
  EXPECT_TRUE(e.changeExtra(kExtraLinkSlot, ExtraValue::ofText("x")).unknownKey);
  EXPECT_TRUE(e.queryExtra(kExtraCSiz).unknownKey);
  // Removing a soft link from a hard-linked holder leaves it alone.
  e.changeExtra(kExtraSLNK, ExtraValue());
  EXPECT_EQ(e.queryExtra(kExtraHLNK).value.text, "Work:/t");

  auto copy = e.getExtra();
  EXPECT_EQ(copy->queryExtra(kExtraATTR).value.number, 0x700u);
  EXPECT_EQ(copy->queryExtra(kExtraHLNK).value.text, "Work:/t");

  // An object that knows no ATTR: the holder takes 0 for it.
  struct CommentOnly : cExtra {
    bool setExtra(cExtra*) override { return false; }
    ExtraChange changeExtra(ExtraKey, const ExtraValue&) override { return {}; }
    ExtraQuery queryExtra(ExtraKey key) override {
      ExtraQuery q;
      if (key == kExtraCOMM) q.value.text = Str("hi");
      else q.unknownKey = true;
      return q;
    }
  } commentOnly;
  EXPECT_TRUE(e.setExtra(&commentOnly));
  EXPECT_EQ(e.queryExtra(kExtraCOMM).value.text, "hi");
  EXPECT_EQ(e.queryExtra(kExtraATTR).value.number, 0u);
}

struct HostFileExtras : ::testing::Test {
  TempTree tree;
  cHostFile file;
  void SetUp() override {
    tree.file("f", "contents");
    file.initialise(0);
    ASSERT_TRUE(file.open(Text(tree.internal("f")), false, false, false));
  }
  void TearDown() override { dos::dosSeams() = {}; }
};

TEST_F(HostFileExtras, CommentsAreCutAt79) {
  std::string hundred(100, 'c');
  ExtraChange c = file.changeExtra(kExtraCOMM, ExtraValue::ofText(hundred));
  if (!c.ok) GTEST_SKIP() << "no user extended attributes here";
  EXPECT_EQ(file.queryExtra(kExtraCOMM).value.text, std::string(79, 'c'));
  EXPECT_EQ(dos::readComment(Text(file.infoNativePath())).value_or(""), std::string(79, 'c'));
  EXPECT_TRUE(file.changeExtra(kExtraLINK, ExtraValue::ofText("x")).unknownKey);
  EXPECT_TRUE(file.queryExtra(kExtraLINK).value.text.isNil());
}

TEST_F(HostFileExtras, ProtectionWordKeepsTheAttributeBits) {
  ASSERT_TRUE(file.changeExtra(kExtraATTR, ExtraValue::ofNumber(0xFFFFFFFF)).ok);
  EXPECT_EQ(file.getAttributes() & (kAttrReadable | kAttrWritable), kAttrReadable | kAttrWritable);
}

TEST_F(HostFileExtras, WithoutXattrsACommentFails) {
  dos::dosSeams().noUserXattr = true;
  ExtraChange c = file.changeExtra(kExtraCOMM, ExtraValue::ofText("note"));
  EXPECT_FALSE(c.ok);
  EXPECT_FALSE(c.unknownKey);
  EXPECT_STREQ(file.infoErrorSource(), "cHostFile.changeExtra()");
  EXPECT_EQ(file.infoError().view().substr(0, 26), "error setting file comment");
}

TEST_F(HostFileExtras, HardLinkToAMissingPathLeavesTheFile) {
  EXPECT_FALSE(file.changeExtra(kExtraHLNK, ExtraValue::ofText(tree.internal("missing"))).ok);
  EXPECT_STREQ(file.infoErrorSource(), "cHostFile.changeExtra()");
  EXPECT_EQ(readAll(tree.host("f")), "contents");
}

TEST_F(HostFileExtras, FailingLinkChangeLeavesTheFile) {
  tree.dir("sub");
  // A hard link to a folder passes the existence test but the host refuses it.
  EXPECT_FALSE(file.changeExtra(kExtraHLNK, ExtraValue::ofText(tree.internal("sub/"))).ok);
  EXPECT_EQ(readAll(tree.host("f")), "contents");
  EXPECT_FALSE(fs::is_symlink(tree.host("f")));
  size_t entries = 0;
  for (auto& e : fs::directory_iterator(tree.host())) entries += e.path().filename() != "sub";
  EXPECT_EQ(entries, 1u) << "no half-made link is left beside the file";
  file.setPosition(8);
  file.write("!", 1, 0, false);
  file.close();
  EXPECT_EQ(readAll(tree.host("f")), "contents!");
}

TEST_F(HostFileExtras, SoftLinkChangeReplacesTheFileInOneStep) {
  tree.file("target", "T");
  ASSERT_TRUE(file.changeExtra(kExtraSLNK, ExtraValue::ofText(tree.internal("target"))).ok);
  EXPECT_TRUE(fs::is_symlink(tree.host("f")));
  EXPECT_EQ(file.queryExtra(kExtraSLNK).value.text, tree.internal("target"));
  EXPECT_TRUE(file.queryExtra(kExtraHLNK).value.text.isNil());
  EXPECT_EQ(file.getSize(), 1);
  file.close();
}

}  // namespace
}  // namespace bw
