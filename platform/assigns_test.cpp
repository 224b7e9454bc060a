// platform/assigns_test.cpp - the private base behind RAM: and T:.
#include "platform/assigns.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/dos_errors.h"
#include "platform/test_folder.h"

namespace bw::dos {
namespace {

class PrivateBaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    hadRuntime_ = old != nullptr;
    if (old) oldRuntime_ = old;
    ::setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
    resetAssigns();
  }
  void TearDown() override {
    if (hadRuntime_) ::setenv("XDG_RUNTIME_DIR", oldRuntime_.c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
    resetAssigns();
  }
  mode_t modeOf(const std::string& path) {
    struct stat st{};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
  }

  bw::testing::TestFolder dir_;
  bool hadRuntime_ = false;
  std::string oldRuntime_;
};

TEST_F(PrivateBaseTest, RamAndTAreMadePrivate) {
  DeviceLookup ram = lookupDevice("ram");
  DeviceLookup t = lookupDevice("T");
  ASSERT_EQ(ram.kind, DeviceKind::folders);
  ASSERT_EQ(t.kind, DeviceKind::folders);
  EXPECT_EQ(ram.folders[0], dir_ / "brindlework/RAM");
  EXPECT_EQ(t.folders[0], dir_ / "brindlework/T");
  EXPECT_EQ(modeOf(dir_ / "brindlework"), 0700u);
  EXPECT_EQ(modeOf(dir_ / "brindlework/RAM"), 0700u);
  EXPECT_EQ(modeOf(dir_ / "brindlework/T"), 0700u);
}

TEST_F(PrivateBaseTest, BaseOpenToOthersIsRefused) {
  ASSERT_EQ(::mkdir((dir_ / "brindlework").c_str(), 0755), 0);
  ::chmod((dir_ / "brindlework").c_str(), 0755);
  EXPECT_EQ(lookupDevice("RAM").kind, DeviceKind::unknown);
  EXPECT_EQ(lookupDevice("T").error, kErrorDeviceNotMounted);
  EXPECT_FALSE(::access((dir_ / "brindlework/RAM").c_str(), F_OK) == 0);
}

TEST_F(PrivateBaseTest, BaseThatIsASymlinkIsRefused) {
  ASSERT_EQ(::mkdir((dir_ / "elsewhere").c_str(), 0700), 0);
  ASSERT_EQ(::symlink((dir_ / "elsewhere").c_str(), (dir_ / "brindlework").c_str()), 0);
  EXPECT_EQ(lookupDevice("RAM").kind, DeviceKind::unknown);
  EXPECT_FALSE(::access((dir_ / "elsewhere/RAM").c_str(), F_OK) == 0);
}

TEST_F(PrivateBaseTest, BaseOfAnotherOwnerIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the folder away";
  ASSERT_EQ(::mkdir((dir_ / "brindlework").c_str(), 0700), 0);
  ASSERT_EQ(::chown((dir_ / "brindlework").c_str(), 12345, 12345), 0);
  EXPECT_EQ(lookupDevice("RAM").kind, DeviceKind::unknown);
}

TEST_F(PrivateBaseTest, WithoutRuntimeDirTheTempFolderIsUsed) {
  ::unsetenv("XDG_RUNTIME_DIR");
  ::setenv("TMPDIR", dir_.path().c_str(), 1);
  PrivateBase base = privateBase();
  ::unsetenv("TMPDIR");
  EXPECT_EQ(base.error, 0);
  EXPECT_EQ(base.path, dir_ / ("brindlework-" + std::to_string(::geteuid())));
}

// A runtime folder that is gone or is no folder cannot hold the base: the
// temporary folder's base serves, so RAM: and T: (and with T: every
// writable open, whose probe lives there) still work.
TEST_F(PrivateBaseTest, ARuntimeDirThatCannotHoldTheBaseGivesWayToTheTempFolder) {
  std::FILE* plain = std::fopen((dir_ / "plain").c_str(), "w");
  ASSERT_TRUE(plain != nullptr && std::fclose(plain) == 0);
  ASSERT_EQ(::mkdir((dir_ / "tmp").c_str(), 0700), 0);
  for (const std::string& runtime : {dir_ / "gone", dir_ / "plain"}) {
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ::setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
    resetAssigns();
    DeviceLookup t = lookupDevice("T");
    ::unsetenv("TMPDIR");
    ASSERT_EQ(t.kind, DeviceKind::folders) << runtime;
    EXPECT_EQ(t.folders[0], dir_ / ("tmp/brindlework-" + std::to_string(::geteuid()) + "/T")) << runtime;
  }
}

}  // namespace
}  // namespace bw::dos
