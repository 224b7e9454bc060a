// platform/path_oracle_test.cpp - the path procedures against std::filesystem
// on whole trees: a generated one with every kind of entry and link, and a
// copy of the system's zoneinfo tree (full of links). Every entry is asked
// through the procedures and compared with status/symlink_status.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/dos.h"
#include "platform/links.h"
#include "platform/native_path.h"
#include "platform/path.h"
#include "platform/path_native.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

using namespace testing_paths;

struct Expected {
  bool isLink = false;
  bool targetIsDir = false;   // follows links; false when they dangle or loop
  bool targetExists = false;  // follows links
  int32_t ownType = 0;        // the entry itself
};

Expected expectedOf(const fs::path& host) {
  std::error_code ec;
  Expected e;
  fs::file_status own = fs::symlink_status(host, ec);
  fs::file_status target = fs::status(host, ec);
  e.isLink = fs::is_symlink(own);
  e.targetExists = fs::exists(target);
  e.targetIsDir = fs::is_directory(target);
  e.ownType = e.isLink ? dos::kTypeSoftLink : fs::is_directory(own) ? dos::kTypeDir : dos::kTypeFile;
  return e;
}

// Walks the tree below `rel` of t, comparing each folder's listing and each
// entry's answers. Returns the number of entries compared.
size_t compareTree(const TempTree& t, const std::string& rel) {
  size_t compared = 0;
  std::vector<std::string> folders{rel};
  while (!folders.empty()) {
    std::string folder = folders.back();
    folders.pop_back();
    fs::path hostFolder = t.host(folder);

    std::vector<std::string> wantNames;
    std::vector<int32_t> wantTypes;
    for (const auto& entry : fs::directory_iterator(hostFolder)) {
      std::string name = entry.path().filename().string();
      Expected e = expectedOf(entry.path());
      wantNames.push_back(e.targetIsDir ? name + "/" : name);
      wantTypes.push_back(e.ownType);
      if (!e.isLink && e.targetIsDir) folders.push_back(folder.empty() ? name : folder + "/" + name);

      std::string native = t.native(folder.empty() ? name : folder + "/" + name);
      SCOPED_TRACE(native);
      dos::FileInfo info;
      EXPECT_TRUE(examineWithoutFollowingLink(native, info));
      EXPECT_EQ(info.entryType, e.ownType);
      PathExamination followed = examinePath(native, false);
      EXPECT_EQ(followed.exists, e.targetExists);
      if (e.targetExists) {
        EXPECT_EQ(followed.type, e.targetIsDir ? dos::kTypeDir : dos::kTypeFile);
      }
      EXPECT_EQ(dirEntryTypeIsFile(e.ownType, native), !e.targetIsDir);
      EXPECT_EQ(isLinkPath(native), e.isLink);
      EXPECT_EQ(pathOrDeviceExists(native, 1), e.targetExists && !e.targetIsDir);
      EXPECT_EQ(pathOrDeviceExists(native, 2), e.targetIsDir);
      Str internal = e.targetIsDir ? cPath::ImportDirPath(native) : cPath::ImportFilePath(native);
      EXPECT_EQ(cPath::ExistsPath(internal, false), e.targetExists);
      SoftLinkText link = readSoftLink(native, false);
      if (e.isLink) {
        EXPECT_EQ(link.target, dos::hostToNative(fs::read_symlink(entry.path()).string()));
        EXPECT_EQ(link.kind, 2);
      } else {
        EXPECT_TRUE(link.target.isNil());
      }
      ++compared;
    }

    DirNameScan scan = scanDirNames(t.native(folder));
    EXPECT_TRUE(scan.ok) << folder;
    std::vector<std::string> gotNames;
    std::vector<int32_t> gotTypes;
    for (const DirName& n : scan.names) {
      gotNames.push_back(n.name.str());
      gotTypes.push_back(n.type);
    }
    EXPECT_EQ(gotNames, wantNames) << folder;
    EXPECT_EQ(gotTypes, wantTypes) << folder;
  }
  return compared;
}

// Files, folders, and links of every kind: relative and absolute, to files
// and to folders, dangling, looping and chained.
void generateTree(const TempTree& t, size_t entries, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::string> folders{"g"};
  std::vector<std::string> files;
  t.dir("g");
  for (size_t i = 0; i < entries; ++i) {
    const std::string& parent = folders[rng() % folders.size()];
    std::string name = parent + "/e" + std::to_string(i);
    switch (rng() % 10) {
      case 0:
      case 1:
        t.dir(name);
        folders.push_back(name);
        break;
      case 2:
        if (!folders.empty()) t.symlink(t.host(folders[rng() % folders.size()]).string(), name);  // absolute
        break;
      case 3:
        t.symlink("../" + std::string("nowhere") + std::to_string(i), name);  // dangling
        break;
      case 4:
        t.symlink("e" + std::to_string(i), name);  // loops onto itself
        break;
      case 5:
        if (!files.empty()) {
          std::string target = files[rng() % files.size()];
          t.symlink(fs::relative(t.host(target), t.host(parent)).string(), name);  // relative
        } else {
          t.file(name);
        }
        break;
      case 6:
        t.symlink(fs::relative(t.host(folders[rng() % folders.size()]), t.host(parent)).string(), name);
        break;
      default:
        t.file(name, std::to_string(i));
        files.push_back(name);
    }
  }
}

TEST(PathOracle, GeneratedTree) {
  TempTree t;
  generateTree(t, 10000, 7);
  EXPECT_GE(compareTree(t, "g"), 9000u);
}

TEST(PathOracle, ZoneinfoCopy) {
  fs::path zoneinfo = "/usr/share/zoneinfo";
  std::error_code ec;
  if (!fs::is_directory(zoneinfo, ec)) GTEST_SKIP() << "no zoneinfo tree at " << zoneinfo;
  TempTree t;
  fs::copy(zoneinfo, t.host("zoneinfo"), fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  ASSERT_FALSE(ec) << ec.message();
  EXPECT_GT(compareTree(t, "zoneinfo"), 100u);
}

}  // namespace
}  // namespace bw
