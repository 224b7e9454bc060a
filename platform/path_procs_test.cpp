// platform/path_procs_test.cpp - existence by kind, deletion, unique names,
// link reading, the current directory and expansion of internal paths.
#include "platform/path_procs.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/path.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

using namespace testing_paths;

TEST(ExistsPath, KindFollowsTheForm) {
  TempTree t;
  t.file("news");
  t.dir("dir");
  t.symlink("dir", "linkToDir");
  t.symlink("news", "linkToFile");
  t.symlink("nowhere", "dangling");

  EXPECT_TRUE(cPath::ExistsPath(t.internal("news"), false));
  EXPECT_FALSE(cPath::ExistsPath(t.internal("news/"), false));
  EXPECT_TRUE(cPath::ExistsPath(t.internal("news/"), true));
  EXPECT_TRUE(cPath::ExistsPath(t.internal("dir/"), false));
  EXPECT_FALSE(cPath::ExistsPath(t.internal("dir"), false));
  EXPECT_TRUE(cPath::ExistsPath(t.internal("dir"), true));
  EXPECT_TRUE(cPath::ExistsPath(t.internal("linkToDir/"), false));
  EXPECT_FALSE(cPath::ExistsPath(t.internal("linkToDir"), false));
  EXPECT_TRUE(cPath::ExistsPath(t.internal("linkToFile"), false));
  EXPECT_FALSE(cPath::ExistsPath(t.internal("missing"), false));
  EXPECT_FALSE(cPath::ExistsPath(t.internal("missing"), true));
  EXPECT_FALSE(cPath::ExistsPath(t.internal("missing/"), true));
  EXPECT_FALSE(cPath::ExistsPath("NoSuchDevice:/x", true));
  EXPECT_TRUE(cPath::ExistsPath(t.internal(), false));
  expectRaise([] { cPath::ExistsPath(nullptr, false); }, "EPU", "cPath; ExistsPath(); path=NIL");
  expectRaise([] { cPath::ExistsPath("Work:x", false); }, "EPU", "cPath(); ExportPath(); path is invalid");
}

TEST(DeletePath, Refusals) {
  TempTree t;
  t.file("full/a");
  EXPECT_FALSE(cPath::DeletePath(t.internal("full/"), false, false));
  EXPECT_FALSE(cPath::DeletePath(t.internal("full/"), true, false));
  EXPECT_TRUE(fs::exists(t.host("full/a")));

  t.file("f");
  EXPECT_FALSE(cPath::DeletePath(t.internal("f/"), false, false));  // form does not match
  EXPECT_TRUE(fs::exists(t.host("f")));
  t.dir("d");
  EXPECT_FALSE(cPath::DeletePath(t.internal("d"), false, false));
  EXPECT_TRUE(fs::exists(t.host("d")));
  EXPECT_TRUE(cPath::DeletePath(t.internal("d/"), false, false));
  EXPECT_FALSE(fs::exists(t.host("d")));
  EXPECT_FALSE(cPath::DeletePath(t.internal("missing"), true, true));
  expectRaise([] { cPath::DeletePath(nullptr, false, false); }, "EPU", "cPath; DeletePath(); path=NIL");
}

TEST(DeletePath, ForceClearsProtection) {
  TempTree t;
  t.file("p");
  t.protect("p");
  EXPECT_FALSE(cPath::DeletePath(t.internal("p"), false, false));
  EXPECT_TRUE(fs::exists(t.host("p")));
  EXPECT_TRUE(cPath::DeletePath(t.internal("p"), true, false));
  EXPECT_FALSE(fs::exists(t.host("p")));
}

TEST(DeletePath, ForceOnALinkKeepsTheTargetsBits) {
  TempTree t;
  t.file("target", "keep me");
  t.protect("target");
  t.symlink("target", "link");
  fs::perms before = fs::status(t.host("target")).permissions();
  EXPECT_TRUE(cPath::DeletePath(t.internal("link"), true, false));
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(t.host("link"))));
  EXPECT_EQ(fs::status(t.host("target")).permissions(), before);
  EXPECT_EQ(readAll(t.host("target")), "keep me");
}

TEST(DeletePath, ALinkToADirectoryIsDeletedItself) {
  TempTree t;
  t.file("dir/inside");
  t.symlink("dir", "link");
  EXPECT_TRUE(cPath::DeletePath(t.internal("link/"), false, false));
  EXPECT_FALSE(fs::exists(fs::symlink_status(t.host("link"))));
  EXPECT_TRUE(fs::exists(t.host("dir/inside")));
}

TEST(MakeUniquePath, NamesAndErrors) {
  Str dir = cPath::MakeUniquePath(2, "T:/", nullptr);
  EXPECT_TRUE(std::regex_match(dir.str(), std::regex("T:/TMP[0-9a-f]{1,8}/"))) << dir.str();
  EXPECT_EQ(dir.capacity(), 3 + 3 + 9);
  EXPECT_FALSE(cPath::ExistsPath(dir, true));

  TempTree t;
  Str file = cPath::MakeUniquePath(1, t.internal(), "BadNewsFeed_");
  EXPECT_TRUE(std::regex_match(file.str(), std::regex("Work:/BadNewsFeed_[0-9a-f]{1,8}"))) << file.str();
  expectRaise([] { cPath::MakeUniquePath(3, "T:/", nullptr); }, "EMU",
              "cPath; MakeUniquePath(); file1dir2 <> 1 or 2");
  expectRaise([] { cPath::MakeUniquePath(0, "T:/", nullptr); }, "EMU",
              "cPath; MakeUniquePath(); file1dir2 <> 1 or 2");
}

// The seed is a value the module keeps: each try seeds the generator with
// its absolute value and takes the next number as name and new seed. The
// same start seed gives the same name; INT_MIN is taken as 2^31.
TEST(MakeUniquePath, SeededSequence) {
  TempTree t;
  setMakeUniquePathSeed(12345);
  Str a = cPath::MakeUniquePath(1, t.internal(), "x");
  setMakeUniquePathSeed(-12345);
  Str b = cPath::MakeUniquePath(1, t.internal(), "x");
  EXPECT_EQ(a, b);
  setMakeUniquePathSeed(INT32_MIN);
  Str c = cPath::MakeUniquePath(1, t.internal(), "x");
  EXPECT_TRUE(std::regex_match(c.str(), std::regex("Work:/x[0-9a-f]{1,8}")));
  initTimerDevice();
  initMakeUniquePathSeed();
  Str d = cPath::MakeUniquePath(1, t.internal(), "x");
  closeTimerDevice();
  EXPECT_TRUE(std::regex_match(d.str(), std::regex("Work:/x[0-9a-f]{1,8}")));
}

// Seed 0 (the value before start-up sets one) makes the generator answer 0
// again: the names must still move on when "TMP0" is taken.
TEST(MakeUniquePath, ASeedThatMapsOntoItselfMovesOn) {
  TempTree t;
  setMakeUniquePathSeed(0);
  Str first = cPath::MakeUniquePath(1, t.internal(), nullptr);
  EXPECT_EQ(first, t.internal("TMP0"));
  t.file("TMP0");
  setMakeUniquePathSeed(0);
  Str second = cPath::MakeUniquePath(1, t.internal(), nullptr);
  EXPECT_NE(second, first);
  EXPECT_FALSE(fs::exists(t.host(second.str().substr(t.internal().size()))));
}

TEST(MakeUniquePath, GivesUpAfter999Tries) {
  int tries = 0;
  setMakeUniquePathProbe([&](Text) {
    ++tries;
    return true;  // every name is taken
  });
  expectRaise([] { cPath::MakeUniquePath(1, "T:/", nullptr); }, "BUG",
              "cPath; MakeUniquePath(); retry limit exceeded, possibly due to a buggy filing system");
  setMakeUniquePathProbe(nullptr);
  EXPECT_EQ(tries, 999);
}

TEST(ReadLink, SoftLinksAndOthers) {
  TempTree t;
  t.file("dir/f");
  t.symlink("dir", "toDir");
  t.symlink("../up", "dir/toUp");
  t.symlink(t.host("dir/f").string(), "abs");

  PathLink l = cPath::ReadLink(t.internal("toDir/"));
  EXPECT_EQ(l.target, "dir/");
  EXPECT_EQ(l.linkType, kExtraSLNK);
  l = cPath::ReadLink(t.internal("toDir"));
  EXPECT_EQ(l.target, "dir");
  l = cPath::ReadLink(t.internal("dir/toUp"));
  EXPECT_EQ(l.target, "/up");  // a parent step, relative to the link's folder
  l = cPath::ReadLink(t.internal("abs"));
  EXPECT_EQ(l.target, cPath::ImportFilePath(nativeOfHost(t.host("dir/f"))));
  l = cPath::ReadLink(t.internal("dir/f"));
  EXPECT_TRUE(l.target.isNil());
  EXPECT_EQ(l.linkType, 0u);
  l = cPath::ReadLink(t.internal("missing"));
  EXPECT_TRUE(l.target.isNil());
  EXPECT_EQ(l.linkType, 0u);
  expectRaise([] { cPath::ReadLink(nullptr); }, "EPU", "cPath; ReadLink(); path=NIL");
}

TEST(CurrentDirPath, IsTheImportedCurrentDirectory) {
  TempTree t;
  t.dir("here");
  CwdGuard cwd(t.host("here"));
  EXPECT_EQ(cPath::CurrentDirPath(), cPath::ImportDirPath(nativeOfHost(t.host("here"))));
}

TEST(ExpandPath, RelativeLinkedAndMissing) {
  TempTree t;
  t.file("real/f");
  t.symlink("real", "alias");
  CwdGuard cwd(t.host());
  std::string base = cPath::ImportDirPath(nativeOfHost(t.host())).str();

  EXPECT_EQ(cPath::ExpandPath("real/f"), base + "real/f");
  EXPECT_EQ(cPath::ExpandPath("alias/f"), base + "real/f");
  EXPECT_EQ(cPath::ExpandPath("alias/"), base + "real/");
  EXPECT_EQ(cPath::ExpandPath(t.internal("alias/f")), base + "real/f");
  EXPECT_EQ(cPath::ExpandPath(""), base);
  EXPECT_EQ(cPath::ExpandPath("missing/x"), base + "missing/x");
  EXPECT_EQ(cPath::ExpandPath(t.internal("missing")), t.internal("missing"));
  expectRaise([] { cPath::ExpandPath(nullptr); }, "EPU", "cPath; ExpandPath(); path=NIL");
}

}  // namespace
}  // namespace bw

namespace bw {
namespace {

using namespace testing_paths;

// A path object whose open makes the file through the host (or refuses),
// recording each call.
class CreatingPath : public cPath {
 public:
  bool open(Text path, bool readOnly, bool force) override {
    opened.push_back(std::string(path.view()));
    (void)readOnly;
    (void)force;
    if (refuse) {
      // The failed attempt leaves a file behind, as a real open may.
      std::ofstream(hostOf(path)) << "";
      return false;
    }
    std::ofstream(hostOf(path)) << "new";
    return true;
  }
  bool isOpen() const override { return false; }
  bool setAttributes(int32_t, int32_t) override { return false; }
  int32_t getAttributes() override { return 0; }
  int32_t getAttributesSupported() override { return 0; }
  bool setPath(Text) override { return false; }
  bool setExtra(cExtra*) override { return false; }
  ExtraChange changeExtra(ExtraKey, const ExtraValue&) override { return {false, true}; }
  ExtraQuery queryExtra(ExtraKey) override { return {{}, true}; }

  fs::path root;
  bool refuse = false;
  std::vector<std::string> opened;

 private:
  fs::path hostOf(Text internal) const {
    std::string p(internal.view());
    return root / p.substr(p.find(":/") + 2);
  }
};

TEST(PathObject, CreateDeletesOrRefusesWhatIsThere) {
  TempTree t;
  CreatingPath p;
  p.root = t.host();
  t.file("old", "old contents");
  EXPECT_TRUE(p.create(t.internal("old"), false, false));
  EXPECT_EQ(readAll(t.host("old")), "new");

  t.file("kept", "kept contents");
  EXPECT_FALSE(p.create(t.internal("kept"), true, false));
  EXPECT_EQ(readAll(t.host("kept")), "kept contents");
  EXPECT_EQ(p.opened.size(), 1u);

  p.refuse = true;
  EXPECT_FALSE(p.create(t.internal("fresh"), true, false));
  EXPECT_FALSE(fs::exists(t.host("fresh")));  // what the attempt made is gone
}

}  // namespace
}  // namespace bw
