// Tests of the directory walks and tree deletion: order and callbacks against
// a reference breadth-first walk over std::filesystem, failures, Ctrl-C,
// links and protection.
#include "platform/dir_walk.h"

#include <gtest/gtest.h>

#include <csignal>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "platform/dir_entry_list.h"
#include "platform/dir_test_support.h"
#include "platform/dos_env.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

using namespace testing_paths;

// --- recorders ------------------------------------------------------------------

struct FileLog : funcRecurseFile_cpath_dir {
  std::vector<std::string>* log = nullptr;
  std::function<void()> onCall;
  void call(Text path) override {
    log->push_back("F " + std::string(path.view()));
    if (onCall) onCall();
  }
};

struct DirLog : funcRecurseDirFailure_cpath_dir {
  std::vector<std::string>* log = nullptr;
  bool walkInto = true;
  bool goOn = true;
  bool callDir(Text path) override {
    log->push_back("D " + std::string(path.view()));
    return walkInto;
  }
  bool callDirFailure(Text path, Text source, Text error) override {
    log->push_back("X " + std::string(path.view()) + " " + std::string(source.view()) + " " +
                   std::string(error.view()));
    return goOn;
  }
};

struct AbortLog : funcRecurseDirAbort_cpath_dir {
  std::vector<std::string>* log = nullptr;
  void call(Text path) override { log->push_back("A " + std::string(path.view())); }
};

struct Walk {
  std::vector<std::string> log;
  FileLog files;
  DirLog dirs;
  AbortLog aborts;
  Walk() { files.log = dirs.log = aborts.log = &log; }
  void run(const std::string& path, bool withFailure = true, bool withAbort = true) {
    recurseHostDir(Text(path), &files, &dirs, withFailure ? &dirs : nullptr, withAbort ? &aborts : nullptr);
  }
};

// The same walk over std::filesystem: breadth first, entries in entry order,
// links as what they point at (dangling ones as files).
std::vector<std::string> referenceWalk(const fs::path& host, const std::string& internal) {
  std::vector<std::string> log;
  std::deque<std::pair<fs::path, std::string>> queue{{host, internal}};
  while (!queue.empty()) {
    auto [h, i] = queue.front();
    queue.pop_front();
    std::vector<std::pair<std::string, fs::path>> names;
    for (const auto& e : fs::directory_iterator(h)) {
      std::error_code ec;
      bool dir = fs::is_directory(e.path(), ec);
      names.emplace_back(e.path().filename().string() + (dir ? "/" : ""), e.path());
    }
    std::sort(names.begin(), names.end(),
              [](const auto& a, const auto& b) { return compareEntryNames(a.first, b.first) < 0; });
    for (const auto& [name, path] : names) {
      std::string child = i + name;
      if (name.back() == '/') {
        log.push_back("D " + child);
        queue.emplace_back(path, child);
      } else {
        log.push_back("F " + child);
      }
    }
  }
  return log;
}

// A random tree of files, folders, case twins and links (never to an
// ancestor, so the walk ends).
void generateTree(const TempTree& t, const std::string& root, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::string> dirs{root};
  t.dir(root);
  t.dir("outside/target");
  t.file("outside/target/kept");
  for (int i = 0; i < 60; ++i) {
    std::string parent = dirs[rng() % dirs.size()];
    std::string name = std::string(1, "abcAB_z"[rng() % 7]) + std::to_string(rng() % 5);
    std::string rel = parent + "/" + name;
    if (fs::exists(t.host(rel)) || fs::is_symlink(t.host(rel))) continue;
    switch (rng() % 6) {
      case 0:
      case 1:
        t.dir(rel);
        if (std::count(rel.begin(), rel.end(), '/') < 4) dirs.push_back(rel);
        break;
      case 2:
        t.symlink(fs::relative(t.host("outside/target"), t.host(parent)).string(), rel);
        break;
      case 3:
        t.symlink("missing", rel);
        break;
      default:
        t.file(rel, name);
    }
  }
  t.file(root + "/Twin");
  t.file(root + "/twin");
  t.file(root + "/TWIN");
}

TEST(RecurseHostDir, WalksLikeAReferenceBreadthFirstWalk) {
  for (unsigned seed : {1u, 2u, 3u}) {
    TempTree t;
    generateTree(t, "tree", seed);
    Walk w;
    w.run(t.internal("tree/"));
    EXPECT_EQ(w.log, referenceWalk(t.host("tree"), t.internal("tree/"))) << "seed " << seed;
    EXPECT_GT(w.log.size(), 30u);
  }
}

TEST(RecurseHostDir, WalksACopyOfTheZoneinfoTree) {
  fs::path zoneinfo = "/usr/share/zoneinfo";
  std::error_code ec;
  if (!fs::is_directory(zoneinfo, ec)) GTEST_SKIP() << "no zoneinfo tree at " << zoneinfo;
  TempTree t;
  fs::copy(zoneinfo, t.host("zoneinfo"), fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  ASSERT_FALSE(ec) << ec.message();
  Walk w;
  w.run(t.internal("zoneinfo/"));
  EXPECT_EQ(w.log, referenceWalk(t.host("zoneinfo"), t.internal("zoneinfo/")));
  EXPECT_GT(w.log.size(), 100u);

  fs::copy(t.host("zoneinfo"), t.host("twin"), fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  EXPECT_TRUE(deleteDirTree(Text(t.internal("zoneinfo/")), false));
  fs::remove_all(t.host("twin"));
  EXPECT_EQ(fs::exists(t.host("zoneinfo")), fs::exists(t.host("twin")));
}

TEST(RecurseHostDir, ADirectoryCallbackAnsweringFalseKeepsTheWalkAtTheTop) {
  TempTree t;
  t.file("top/f");
  t.file("top/a/deep");
  t.file("top/b/c/deeper");
  Walk w;
  w.dirs.walkInto = false;
  w.run(t.internal("top/"));
  EXPECT_EQ(w.log, (std::vector<std::string>{"D " + t.internal("top/a/"), "D " + t.internal("top/b/"),
                                             "F " + t.internal("top/f")}));
}

TEST(RecurseHostDir, FailuresGoToTheFailureCallbackOrAreSkipped) {
  TempTree t;
  t.file("top/f");
  Walk quiet;
  quiet.run(t.internal("missing/"), false);
  EXPECT_TRUE(quiet.log.empty());

  t.dir("top/sub");
  t.readProtect("top/sub");
  t.file("top/z");
  Walk goOn;
  goOn.run(t.internal("top/"));
  ASSERT_EQ(goOn.log.size(), 4u);
  EXPECT_EQ(goOn.log[3], "X " + t.internal("top/sub/") + " cHostDir.open() dir is read protected");

  // FALSE from the failure callback ends the walk at once.
  t.dir("top/sub2/inner");
  Walk stop;
  stop.dirs.goOn = false;
  stop.run(t.internal("top/"));
  EXPECT_EQ(stop.log.back(), "X " + t.internal("top/sub/") + " cHostDir.open() dir is read protected");
  EXPECT_EQ(std::count_if(stop.log.begin(), stop.log.end(), [](auto& l) { return l[0] == 'X'; }), 1);

  expectRaise([&] { recurseHostDir(Text(t.internal("top/")), nullptr, nullptr, nullptr, nullptr); }, "EMU",
              "recurseHostDir(); fileFunc=NIL");
}

class BreakHandler : public ::testing::Test {
 protected:
  void SetUp() override { dos::installBreakHandler(); }
  void TearDown() override {
    dos::checkBreak();
    dos::endDosLayer();
  }
};

TEST_F(BreakHandler, CtrlCGivesTheFirstQueuedDirectoryToTheAbortCallback) {
  TempTree t;
  t.file("top/a/x");
  t.file("top/b/y");
  t.file("top/f");
  Walk w;
  w.files.onCall = [] { std::raise(SIGINT); };
  w.run(t.internal("top/"));
  EXPECT_EQ(w.log.back(), "A " + t.internal("top/a/"));

  Walk noAbort;
  noAbort.files.onCall = [] { std::raise(SIGINT); };
  expectRaise([&] { noAbort.run(t.internal("top/"), true, false); }, "BRK", "recurseHostDir(); Ctrl-C received");
}

TEST_F(BreakHandler, CtrlCInTheLastDirectoryEndsTheWalkQuietly) {
  TempTree t;
  t.file("top/a/x");
  Walk w;
  w.files.onCall = [] { std::raise(SIGINT); };  // called only while top/a/ is listed
  w.run(t.internal("top/"), true, false);
  EXPECT_EQ(w.log, (std::vector<std::string>{"D " + t.internal("top/a/"), "F " + t.internal("top/a/x")}));
}

// --- the native walk ------------------------------------------------------------------

struct NativeFileLog : funcRecurseFile {
  std::vector<std::string>* log = nullptr;
  void call(const RecursePath& p) override {
    log->push_back("F " + std::string(p.path.view()) + " " + std::to_string(p.entryType));
  }
};
struct NativeDirLog : funcRecurseDirFailure {
  std::vector<std::string>* log = nullptr;
  bool callDir(const RecursePath& p) override {
    log->push_back("D " + std::string(p.path.view()) + " " + std::to_string(p.entryType));
    return true;
  }
  bool callDirFailure(const RecursePath& p, int32_t error) override {
    log->push_back("X " + std::string(p.path.view()) + " " + std::to_string(error));
    return true;
  }
};

TEST(RecurseDir, WalksNativePathsWithEntryTypesInTheOrderGiven) {
  TempTree t;
  t.file("top/b");
  t.file("top/A");
  t.dir("top/sub/inner");
  t.file("top/sub/f");
  t.symlink("sub", "top/toSub");
  std::vector<std::string> log;
  NativeFileLog files;
  NativeDirLog dirs;
  files.log = dirs.log = &log;
  fCompareMegaNodes_STRING_NoCase byName;
  recurseDir(Text(t.native("top")), &byName, &files, &dirs, &dirs, nullptr);
  std::string top = t.native("top");
  EXPECT_EQ(log, (std::vector<std::string>{
                     "F " + top + "/A -3", "F " + top + "/b -3", "D " + top + "/sub/ 2", "D " + top + "/toSub/ 3",
                     "F " + top + "/sub/f -3", "D " + top + "/sub/inner/ 2", "F " + top + "/toSub/f -3",
                     "D " + top + "/toSub/inner/ 2"}));
  log.clear();
  recurseDir(Text(t.native("missing")), nullptr, &files, &dirs, &dirs, nullptr);
  EXPECT_EQ(log, std::vector<std::string>{"X " + t.native("missing") + " 205"});
  expectRaise([&] { recurseDir(Text(top), nullptr, nullptr, nullptr, nullptr, nullptr); }, "EMU",
              "recurseDir(); fileFunc=NIL");
}

TEST(RecurseCallbacks, ModuleObjectsComeAndGo) {
  initRecurseCallbacks();
  initRecurseCpathDirCallbacks();
  endRecurseCpathDirCallbacks();
  endRecurseCallbacks();
  funcRecurseDirFailure_cpath_dir f;
  EXPECT_STREQ(f.className(), "funcRecurseDirFailure_cpath_dir");
  EXPECT_TRUE(f.isOfClass(funcRecurseFile_cpath_dir::kClassName));
  EXPECT_FALSE(f.isOfClass(funcRecurseDirAbort_cpath_dir::kClassName));
  funcRecurseDirFailure n;
  EXPECT_TRUE(n.isOfClass(funcRecurseFile::kClassName));
}

// --- tree deletion ----------------------------------------------------------------------

TEST(DeleteDirTree, DeletesGeneratedTreesAsRemoveAllDoesAndNeverFollowsLinks) {
  for (unsigned seed : {4u, 5u}) {
    TempTree t;
    generateTree(t, "tree", seed);
    std::error_code ec;
    fs::copy(t.host("tree"), t.host("twin"), fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    EXPECT_TRUE(deleteDirTree(Text(t.internal("tree/")), false));
    fs::remove_all(t.host("twin"));
    EXPECT_FALSE(fs::exists(t.host("tree")));
    EXPECT_TRUE(fs::exists(t.host("outside/target/kept")));
  }
}

TEST(DeleteDirTree, ALinkToADirectoryGoesAloneAndATreeBehindOneStays) {
  TempTree t;
  t.file("real/keep");
  t.symlink("real", "alias");
  EXPECT_TRUE(deletePathTree(Text(t.internal("alias/")), false));
  EXPECT_FALSE(fs::is_symlink(t.host("alias")));
  EXPECT_TRUE(fs::exists(t.host("real/keep")));
  EXPECT_FALSE(deleteDirTree(Text(t.internal("missing/")), false));
}

TEST(DeleteDirTree, ProtectedEntriesGoOnlyWithForce) {
  TempTree t;
  t.file("tree/plain");
  t.file("tree/locked");
  t.file("tree/sub/locked");
  t.protect("tree/locked");
  t.protect("tree/sub/locked");
  t.dir("tree/hidden");
  t.file("tree/hidden/x");
  t.readProtect("tree/hidden");
  EXPECT_FALSE(deleteDirTree(Text(t.internal("tree/")), false));
  EXPECT_TRUE(fs::exists(t.host("tree/locked")));
  EXPECT_TRUE(fs::exists(t.host("tree/sub/locked")));
  EXPECT_TRUE(fs::exists(t.host("tree/hidden/x")));
  EXPECT_FALSE(fs::exists(t.host("tree/plain")));  // the rest was still tried
  EXPECT_TRUE(deleteDirTree(Text(t.internal("tree/")), true));
  EXPECT_FALSE(fs::exists(t.host("tree")));
}

}  // namespace
}  // namespace bw

namespace bw {
namespace {

using namespace testing_paths;

TEST(DirWalks, ADirectoryThatOpensButCannotBeListedIsAFailureNotAnException) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a directory of another owner";
  TempTree t;
  t.file("top/closed/x");
  fs::permissions(t.host("top/closed"), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  std::string top = t.internal("top/");
  EXPECT_TRUE(testing_dirs::runAsUnprivileged({}, [&] {
    std::vector<std::string> log;
    FileLog files;
    DirLog dirs;
    files.log = dirs.log = &log;
    ::testing::internal::CaptureStdout();
    recurseHostDir(Text(top), &files, &dirs, &dirs, nullptr);
    bool deleted = deleteDirTree(Text(top), false);
    ::testing::internal::GetCapturedStdout();
    return !deleted && log.size() == 2 &&
           log[1].rfind("X " + top + "closed/ cHostDir.makeEntryList() cHostDir.makeEntryList(); ExAll() failed", 0) == 0;
  }));
}

}  // namespace
}  // namespace bw
