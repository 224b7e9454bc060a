// Tests of the argument-vector spawner.
#include "platform/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "platform/spawn_test_support.h"

namespace bw {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using ::testing::ElementsAre;

// ---------------------------------------------------------------------------
// The spawner
// ---------------------------------------------------------------------------

TEST(SpawnTest, PipeExitCodesAndMissingPrograms) {
  SpawnOptions options;
  options.out = SpawnStdio::kPipe;
  SpawnResult r = spawnProcess({"printf", "%s|%s", "a b", "$(id)"}, options);
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(readAll(r.child.stdoutFd()), "a b|$(id)");
  ExitStatus s = r.child.wait();
  EXPECT_TRUE(s.exited);
  EXPECT_EQ(s.code, 0);

  r = spawnProcess({"sh", "-c", "exit 20"});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(r.child.wait().code, 20);

  EXPECT_EQ(spawnProcess({"bw-no-such-program"}).error, ENOENT);
  EXPECT_EQ(spawnProcess({}).error, EINVAL);
  expectNoChildren();
}

TEST(SpawnTest, ChildGetsOnlyItsStandardStreamsAndDefaultSignals) {
  int leaked = ::open("/dev/null", O_RDONLY);  // not close-on-exec
  ASSERT_GE(leaked, 3);
  std::string fdPath = "/proc/self/fd/" + std::to_string(leaked);
  SpawnResult r = spawnProcess({"test", "-e", fdPath});
  ASSERT_EQ(r.error, 0);
  EXPECT_EQ(r.child.wait().code, 1);  // the descriptor is not there
  ::close(leaked);

  struct sigaction ignore = {}, old = {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &old);
  SpawnOptions options;
  options.out = SpawnStdio::kPipe;
  r = spawnProcess({"grep", "SigIgn", "/proc/self/status"}, options);
  ::sigaction(SIGPIPE, &old, nullptr);
  ASSERT_EQ(r.error, 0);
  std::string line = readAll(r.child.stdoutFd());
  ASSERT_EQ(line.rfind("SigIgn:\t", 0), 0u) << line;
  unsigned long long ignored = std::stoull(line.substr(8), nullptr, 16);
  EXPECT_EQ(ignored & (1ULL << (SIGPIPE - 1)), 0u) << line;
}

TEST(SpawnTest, WorkingDirectoryAndProcessGroup) {
  TempDir dir;
  SpawnOptions options;
  options.out = SpawnStdio::kPipe;
  options.workingDirectory = dir.path();
  options.ownProcessGroup = true;
  SpawnResult r = spawnProcess(
      {"sh", "-c", "pwd; ps -o pgid= -p $$ 2>/dev/null || cut -d' ' -f5 /proc/$$/stat"}, options);
  ASSERT_EQ(r.error, 0);
  std::string out = readAll(r.child.stdoutFd());
  std::istringstream lines(out);
  std::string pwd, pgid;
  std::getline(lines, pwd);
  std::getline(lines, pgid);
  EXPECT_EQ(fs::canonical(pwd), fs::canonical(dir.path()));
  EXPECT_EQ(std::stol(pgid), static_cast<long>(r.child.pid()));
  r.child.wait();
}

TEST(SpawnTest, TerminateStopsTheWholeGroup) {
  SpawnOptions options;
  options.ownProcessGroup = true;
  SpawnResult r = spawnProcess({"sleep", "30"}, options);
  ASSERT_EQ(r.error, 0);
  ExitStatus s;
  EXPECT_FALSE(r.child.tryWait(&s));
  r.child.terminate(SIGTERM);
  s = r.child.wait();
  EXPECT_FALSE(s.exited);
  EXPECT_EQ(s.signal, SIGTERM);
  EXPECT_TRUE(r.child.tryWait(&s));
}

// The forked start that makes the child die with its parent gives the same
// streams, folder, group and exit codes as the plain one.
TEST(SpawnTest, DieWithParentStartsLikeThePlainSpawn) {
  TempDir dir;
  SpawnOptions options;
  options.out = SpawnStdio::kPipe;
  options.err = SpawnStdio::kNull;
  options.workingDirectory = dir.path();
  options.ownProcessGroup = true;
  options.dieWithParent = true;
  SpawnResult r = spawnProcess({"sh", "-c", "pwd; cut -d' ' -f5 /proc/$$/stat; echo x >&2; exit 7"}, options);
  ASSERT_EQ(r.error, 0);
  std::istringstream lines(readAll(r.child.stdoutFd()));
  std::string pwd, pgid;
  std::getline(lines, pwd);
  std::getline(lines, pgid);
  EXPECT_EQ(fs::canonical(pwd), fs::canonical(dir.path()));
  EXPECT_EQ(std::stol(pgid), static_cast<long>(r.child.pid()));
  EXPECT_EQ(r.child.wait().code, 7);
  EXPECT_EQ(spawnProcess({"bw-no-such-program"}, options).error, ENOENT);
  expectNoChildren();
}

// A parent that dies (here a helper process) takes the child with it: the
// orphan, handed to the helper's own parent as subreaper, ends by SIGKILL.
TEST(SpawnTest, ChildDiesWithItsParent) {
  pid_t reaper = ::fork();
  ASSERT_GE(reaper, 0);
  if (reaper == 0) {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    pid_t parent = ::fork();
    if (parent == 0) {
      SpawnOptions options;
      options.in = options.out = options.err = SpawnStdio::kNull;
      options.dieWithParent = true;
      SpawnResult r = spawnProcess({"sleep", "5"}, options);
      ::_exit(r.error == 0 ? 0 : 1);  // no destructors: the child is not waited for
    }
    int raw = 0;
    ::waitpid(parent, &raw, 0);
    if (!WIFEXITED(raw) || WEXITSTATUS(raw) != 0) ::_exit(2);
    pid_t orphan = ::waitpid(-1, &raw, 0);
    ::_exit(orphan > 0 && WIFSIGNALED(raw) && WTERMSIG(raw) == SIGKILL ? 0 : 3);
  }
  int raw = 0;
  ASSERT_EQ(::waitpid(reaper, &raw, 0), reaper);
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 0);
}

TEST(SpawnTest, DetachedLeavesNoChild) {
  TempDir dir;
  std::string rec = dir.recorder("rec");
  EXPECT_EQ(spawnDetached({rec, "one two", "$(id)"}), 0);
  expectNoChildren();
  EXPECT_THAT(recordedArgs(rec), ElementsAre("one two", "$(id)"));
  EXPECT_EQ(spawnDetached({dir / "missing"}), ENOENT);
  std::ofstream(dir / "plain") << "x";
  EXPECT_EQ(spawnDetached({dir / "plain"}), ENOENT);  // not executable
  expectNoChildren();
}

TEST(SpawnTest, FindExecutable) {
  TempDir dir;
  std::string tool = dir.script("tool", "exit 0");
  EXPECT_EQ(findExecutable("tool", "/nonexistent:" + dir.path()), tool);
  EXPECT_EQ(findExecutable("tool", "/nonexistent"), "");
  EXPECT_EQ(findExecutable(tool, ""), tool);
  EXPECT_EQ(findExecutable("", dir.path()), "");
}

}  // namespace
}  // namespace bw
