// platform/host_file_test.cpp - cHostFile: positions, pad bytes, stop
// characters, protection, the write guard across objects and processes, and
// full disks.
#include "platform/host_file.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>

#include "core/raise_test_support.h"
#include "platform/assigns.h"
#include "platform/full_device_test_support.h"
#include "platform/host_io_test_support.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

using testing_paths::readAll;
using testing_paths::TempTree;
namespace fs = std::filesystem;

// Points T: at a private folder for the test's lifetime.
class PrivateTemp {
 public:
  PrivateTemp() {
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) old_ = old;
    std::string pattern = (fs::temp_directory_path() / "bw-runtime-XXXXXX").string();
    base_ = ::mkdtemp(pattern.data());
    ::setenv("XDG_RUNTIME_DIR", base_.c_str(), 1);
    dos::resetAssigns();
  }
  ~PrivateTemp() {
    if (old_) ::setenv("XDG_RUNTIME_DIR", old_->c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
    dos::resetAssigns();
    std::error_code ec;
    fs::remove_all(base_, ec);
  }
  const fs::path& base() const { return base_; }

 private:
  fs::path base_;
  std::optional<std::string> old_;
};

struct HostFileTest : ::testing::Test {
  PrivateTemp temp;
  TempTree tree;

  std::unique_ptr<cHostFile> openFile(const std::string& rel, bool readOnly, bool force = false) {
    auto f = std::make_unique<cHostFile>();
    f->initialise('.');
    EXPECT_TRUE(f->open(Text(tree.internal(rel)), readOnly, force, false)) << f->infoError().view();
    return f;
  }
  fs::path probeFolder() const { return temp.base() / "brindlework" / "T" / "cPath_writeAccess"; }
  bool anyProbeLeft() const {
    if (!fs::exists(probeFolder())) return false;
    for (auto& e : fs::recursive_directory_iterator(probeFolder()))
      if (e.is_regular_file()) return true;
    return false;
  }
};

TEST_F(HostFileTest, PositionsAndPaddedReads) {
  tree.file("ten", "0123456789");
  auto f = openFile("ten", true);
  f->setPosition(-1);
  EXPECT_EQ(f->getPosition(false), 10);
  EXPECT_EQ(f->getPosition(true), -1);
  expectRaise([&] { f->setPosition(-12); }, "EMU",
              "cHostFile.setPosition(); position before start of file is illegal");
  f->setPosition(8);
  char buf[8] = {};
  ReadResult r = f->read(buf, 5, 1, kNoStop);
  EXPECT_EQ(r.next, 13);
  EXPECT_EQ(r.numOfPadBytes, 3);
  EXPECT_EQ(std::string(buf + 1, 5), "89...");
  EXPECT_EQ(f->getPosition(false), 8) << "read never moves the position";
  expectRaise([&] { f->read(buf, -1, 0, kNoStop); }, "EMU", "cHostFile.read(); lengthInBytes<0");
  expectRaise([&] { f->read(nullptr, 1, 0, kNoStop); }, "EMU", "cHostFile.read(); buffer=NILA");
  expectRaise([&] { f->read(buf, 1, -1, kNoStop); }, "EMU", "cHostFile.read(); offsetInBytes<0");
  expectRaise([&] { f->write(buf, 1, 0, false); }, "EMU", "cHostFile.write(); file opened in read only mode");
  f->close();
  expectRaise([&] { f->read(buf, 1, 0, kNoStop); }, "EMU", "cHostFile.read(); file not open");
  expectRaise([&] { f->close(); }, "EMU", "cHostFile.close(); file not open");
}

TEST_F(HostFileTest, StopCharacterPadsTheRestOfTheRequest) {
  tree.file("lines", "abc\ndefghijk");
  auto f = openFile("lines", true);
  f->setPosition(0);
  char buf[10];
  ReadResult r = f->read(buf, 10, 0, '\n');
  EXPECT_EQ(r.next, 4);
  EXPECT_EQ(r.numOfPadBytes, 6);
  EXPECT_EQ(std::string(buf, 10), "abc\n......");
  // Bytes above 127 never match a stop character (they compare signed).
  uint8_t high[3] = {0xC8, 'x', 'y'};
  EXPECT_EQ(applyStopCharacter(high, 3, 0, 0xC8, 0).count, 3);
}

TEST_F(HostFileTest, WritesPadAndSizesChange) {
  tree.file("ten", "0123456789");
  auto f = openFile("ten", false);
  f->setPosition(20);
  WriteResult w = f->write("Z", 1, 0, false);
  EXPECT_EQ(w.next, 21);
  EXPECT_EQ(f->getSize(), 21);
  f->setPosition(19);
  w = f->write("abc", 3, 0, true);
  EXPECT_EQ(w.next, 21);
  EXPECT_EQ(w.notWritten, 1);
  f->setSize(25);
  f->setSize(23);
  f->close();
  EXPECT_EQ(readAll(tree.host("ten")), "0123456789.........ab..");
}

TEST_F(HostFileTest, ProtectedFilesOpenOnlyWithForceAndGetTheirBitsBack) {
  tree.file("ro", "x");
  tree.protect("ro");
  cHostFile f;
  f.initialise(0);
  EXPECT_FALSE(f.open(Text(tree.internal("ro")), false, false, false));
  EXPECT_STREQ(f.infoErrorSource(), "cHostFile.open()");
  EXPECT_EQ(f.infoError().view(), "file is write protected");
  ASSERT_TRUE(f.open(Text(tree.internal("ro")), false, true, false));
  EXPECT_NE(fs::status(tree.host("ro")).permissions() & fs::perms::owner_write, fs::perms::none);
  f.close();
  EXPECT_EQ(fs::status(tree.host("ro")).permissions() & fs::perms::owner_write, fs::perms::none);

  tree.file("hidden", "x");
  tree.readProtect("hidden");
  EXPECT_FALSE(f.open(Text(tree.internal("hidden")), true, false, false));
  EXPECT_EQ(f.infoError().view(), "file is read protected");
}

TEST_F(HostFileTest, MissingFilesAreCreatedForWritingOnly) {
  cHostFile f;
  f.initialise(0);
  EXPECT_FALSE(f.open(Text(tree.internal("none")), true, false, false));
  EXPECT_EQ(f.infoError().view().substr(0, 19), "file does not exist");
  ASSERT_TRUE(f.open(Text(tree.internal("none")), false, false, false));
  EXPECT_EQ(f.getSize(), 0);
  f.close();
  EXPECT_TRUE(fs::exists(tree.host("none")));
  expectRaise([&] { f.open(nullptr, true, false, false); }, "EMU", "cHostFile.open(); filePath=NIL");
}

TEST_F(HostFileTest, DateStampsAndAttributes) {
  EXPECT_EQ(pTime::dateStampToSeconds({8035, 0, 0}), 0);
  EXPECT_EQ(pTime::dateStampToSeconds({8036, 90, 125}), 91802);
  tree.file("f", "x");
  auto f = openFile("f", false);
  EXPECT_EQ(f->getAttributesSupported(), 6);
  EXPECT_EQ(f->getAttributes() & (kAttrReadable | kAttrWritable), kAttrReadable | kAttrWritable);
  ASSERT_TRUE(f->setTime(86400 * 400 + 61));
  EXPECT_EQ(f->getTime(), 86400 * 400 + 61);
  ASSERT_TRUE(f->setAttributes(0, kAttrWritable));
  EXPECT_EQ(f->getAttributes() & kAttrWritable, 0);
  f->close();
  EXPECT_EQ(fs::status(tree.host("f")).permissions() & fs::perms::owner_write, fs::perms::none);
}

TEST_F(HostFileTest, RenameNeverReplaces) {
  tree.file("a", "A");
  tree.file("b", "B");
  auto f = openFile("a", false);
  EXPECT_FALSE(f->setPath(Text(tree.internal("b"))));
  EXPECT_STREQ(f->infoErrorSource(), "cHostFile.setPath()");
  ASSERT_TRUE(f->setPath(Text(tree.internal("c"))));
  EXPECT_EQ(f->getPath().view(), tree.internal("c"));
  f->setPosition(1);
  f->write("!", 1, 0, false);
  f->close();
  EXPECT_EQ(readAll(tree.host("c")), "A!");
}

TEST_F(HostFileTest, AFileThatCannotShrinkRaises) {
  tree.file("f", "0123456789");
  auto backend = std::make_shared<testing_io::RecordingIoBackend>();
  cHostFile f;
  f.initialise(0);
  f.setIoBackend(backend);
  ASSERT_TRUE(f.open(Text(tree.internal("f")), false, false, false));
  backend->log->truncateError = EPERM;
  expectRaise([&] { f.setSize(4); }, "FILE",
              "cHostFile.setSizeQuick(); filingsystem does not support reducing the file size");
  EXPECT_EQ(f.getSize(), 10);
  backend->log->truncateError = 0;
  f.setSize(4);
  f.close();
  EXPECT_EQ(readAll(tree.host("f")), "0123");
}

// --- the write guard --------------------------------------------------------

TEST_F(HostFileTest, SecondWriterIsRefusedReadersAreNot) {
  tree.file("db", "data");
  auto first = openFile("db", false);
  std::string probe = first->infoProbeName();
  EXPECT_EQ(probe.rfind("T:cPath_writeAccess/", 0), 0u) << probe;
  EXPECT_TRUE(anyProbeLeft());
  cHostFile second;
  second.initialise(0);
  EXPECT_FALSE(second.open(Text(tree.internal("db")), false, false, false));
  EXPECT_EQ(second.infoError().view(), "file is already opened for write access (by another program)");
  EXPECT_TRUE(anyProbeLeft()) << "a refused writer leaves the holder's probe alone";
  auto reader = openFile("db", true);
  first->close();
  EXPECT_FALSE(anyProbeLeft());
  ASSERT_TRUE(second.open(Text(tree.internal("db")), false, false, false));
  second.close();
  EXPECT_FALSE(anyProbeLeft());
}

TEST_F(HostFileTest, HardLinksAndSymlinksShareTheGuard) {
  tree.file("db", "data");
  fs::create_hard_link(tree.host("db"), tree.host("hard"));
  tree.symlink(tree.host("db").string(), "soft");
  auto first = openFile("db", false);
  std::string probe = first->infoProbeName();
  cHostFile other;
  other.initialise(0);
  EXPECT_FALSE(other.open(Text(tree.internal("hard")), false, false, false));
  EXPECT_FALSE(other.open(Text(tree.internal("soft")), false, false, false));
  first->close();
  ASSERT_TRUE(other.open(Text(tree.internal("soft")), false, false, false));
  EXPECT_EQ(other.infoProbeName(), probe);
}

TEST_F(HostFileTest, FailedOpenLeavesNoProbe) {
  tree.dir("sub");
  cHostFile f;
  f.initialise(0);
  EXPECT_FALSE(f.open(Text(tree.internal("sub")), false, false, false));
  EXPECT_FALSE(anyProbeLeft());
  EXPECT_EQ(writeAccessProbeName(":home/u/db"), "T:cPath_writeAccess/home/u/db");
}

// Without a private folder for T: (its base refused) a writer goes without
// the probe: the lock alone still refuses a second writer.
TEST_F(HostFileTest, AWriterWithoutTGoesWithoutAProbeAndStillGuards) {
  tree.file("db", "data");
  fs::create_directory(temp.base() / "brindlework");
  fs::permissions(temp.base() / "brindlework", fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read,
                  fs::perm_options::replace);
  auto first = openFile("db", false);
  EXPECT_EQ(first->infoProbeName(), "");
  cHostFile second;
  second.initialise(0);
  EXPECT_FALSE(second.open(Text(tree.internal("db")), false, false, false));
  EXPECT_EQ(second.infoError().view(), "file is already opened for write access (by another program)");
  first->close();
  ASSERT_TRUE(second.open(Text(tree.internal("db")), false, false, false)) << second.infoError().view();
}

// A file system that keeps no locks refuses the write guard with another
// reason than a holder's: the open tells that reason and leaves no file it
// made; only a held guard is "already opened".
TEST_F(HostFileTest, AGuardRefusedForLackOfLocksIsNotAnotherWriter) {
  tree.file("db", "data");
  auto backend = std::make_shared<testing_io::RecordingIoBackend>();
  backend->log->lockError = ENOLCK;
  for (const char* name : {"db", "new"}) {
    cHostFile f;
    f.initialise(0);
    f.setIoBackend(backend);
    EXPECT_FALSE(f.open(Text(tree.internal(name)), false, false, false));
    EXPECT_EQ(f.infoError().view(), "error opening file: No locks available") << name;
  }
  EXPECT_FALSE(fs::exists(tree.host("new")));
  EXPECT_EQ(readAll(tree.host("db")), "data");
  backend->log->lockError = EWOULDBLOCK;
  cHostFile held;
  held.initialise(0);
  held.setIoBackend(backend);
  EXPECT_FALSE(held.open(Text(tree.internal("db")), false, false, false));
  EXPECT_EQ(held.infoError().view(), "file is already opened for write access (by another program)");
}

// A child that holds the file open for writing until it is killed.
pid_t holdInChild(const std::string& internalPath, int readyFd) {
  pid_t pid = ::fork();
  if (pid == 0) {
    cHostFile f;
    f.initialise(0);
    char c = f.open(Text(internalPath), false, false, false) ? 'y' : 'n';
    if (::write(readyFd, &c, 1) != 1) ::_exit(2);
    for (;;) ::pause();
  }
  return pid;
}

TEST_F(HostFileTest, GuardHoldsAcrossForkAndDiesWithItsHolder) {
  tree.file("db", "data");
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  pid_t pid = holdInChild(tree.internal("db"), fds[1]);
  char c = 0;
  ASSERT_EQ(::read(fds[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  cHostFile f;
  f.initialise(0);
  EXPECT_FALSE(f.open(Text(tree.internal("db")), false, false, false));
  EXPECT_TRUE(f.open(Text(tree.internal("db")), true, false, false));
  f.close();
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ::close(fds[0]);
  ::close(fds[1]);
  ASSERT_TRUE(f.open(Text(tree.internal("db")), false, false, false)) << "a killed holder blocks no one";
  f.close();
}

// Run by the test below in a separately started program: tries to open the
// file for writing and exits 0 when it is refused as already open.
TEST(HostFileGuardChild, TryToWrite) {
  const char* path = std::getenv("BW_GUARD_TRY");
  if (!path) GTEST_SKIP() << "only run as the helper of ExecedProgramIsRefused";
  cHostFile f;
  f.initialise(0);
  bool opened = f.open(Text(path), false, false, false);
  ::_exit(!opened && f.infoError().view() == "file is already opened for write access (by another program)" ? 0 : 1);
}

TEST_F(HostFileTest, ExecedProgramWithOtherTempFoldersIsRefused) {
  tree.file("db", "data");
  auto first = openFile("db", false);
  fs::path other = tree.host("other");
  fs::create_directories(other);
  fs::permissions(other, fs::perms::owner_all, fs::perm_options::replace);
  std::string hostPath = testing_paths::nativeOfHost(tree.host("db"));
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("BW_GUARD_TRY", (":/" + hostPath.substr(1)).c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", other.c_str(), 1);
    ::setenv("TMPDIR", other.c_str(), 1);
    ::execl("/proc/self/exe", "platform_tests", "--gtest_filter=HostFileGuardChild.TryToWrite", nullptr);
    ::_exit(3);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// --- full disks -------------------------------------------------------------

// Runs body in a child whose files may not grow past 4096 bytes; the child
// exits 0 when body raised "FULL" with the expected message.
int underFileSizeLimit(const std::function<void()>& body, const std::string& message) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &lim);
    try {
      body();
    } catch (const eException& e) {
      ::_exit(e.code() == "FULL" && e.message() == message ? 0 : 1);
    }
    ::_exit(2);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(HostFileTest, FullDiskRaisesFull) {
  std::string path = tree.internal("big");
  EXPECT_EQ(underFileSizeLimit(
                [&] {
                  cHostFile f;
                  f.initialise(0);
                  if (!f.open(Text(path), false, false, false)) ::_exit(4);
                  std::string data(8192, 'x');
                  f.write(data.data(), 8192, 0, false);
                },
                "cHostFile.write(); size of written data does not match that expected"),
            0);
  EXPECT_EQ(underFileSizeLimit(
                [&] {
                  cHostFile f;
                  f.initialise(0);
                  if (!f.open(Text(path), false, false, false)) ::_exit(4);
                  f.setSize(100000);
                },
                "cHostFile.writePadBytes(); not all pad bytes were written, disk may be full"),
            0);

  if (!testing_io::fullDeviceIsThere()) GTEST_SKIP() << testing_io::kFullDeviceSkip;
  cHostFile full;
  full.initialise(0);
  ASSERT_TRUE(full.open(":/dev/full", false, false, false));
  expectRaise([&] { full.write("0123456789", 10, 0, false); }, "FULL",
              "cHostFile.write(); size of written data does not match that expected");
}

}  // namespace
}  // namespace bw
