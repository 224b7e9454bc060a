// platform/assigns_test.cpp - the private base behind RAM: and T:, and the
// data folder behind PROGDIR:.
#include "platform/assigns.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/dos.h"
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

// Sets the named variables (nullptr: unset) while it lives.
class Environment {
 public:
  Environment(std::initializer_list<std::pair<const char*, const char*>> values) {
    for (auto [name, value] : values) {
      const char* old = std::getenv(name);
      saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
      if (value) ::setenv(name, value, 1);
      else ::unsetenv(name);
    }
    resetAssigns();
  }
  ~Environment() {
    for (auto& [name, old] : saved_) {
      if (old) ::setenv(name, old->c_str(), 1);
      else ::unsetenv(name);
    }
    resetAssigns();
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST(DataFolderTest, TheDataFolderFollowsTheVariables) {
  const std::string here = std::filesystem::current_path().string();
  struct Case {
    const char *progdir, *dataHome, *home;
    std::string want;
  } cases[] = {
      {nullptr, "/data", "/home/u", "/data/brindlework"},
      {nullptr, nullptr, "/home/u", "/home/u/.local/share/brindlework"},
      {nullptr, "", "/home/u", "/home/u/.local/share/brindlework"},
      {nullptr, "relative/data", "/home/u", "/home/u/.local/share/brindlework"},  // only an absolute one counts
      {nullptr, nullptr, nullptr, ""},
      {nullptr, nullptr, "relative", ""},
      {"/opt/bw", "/data", "/home/u", "/opt/bw"},
      {"feeds/mine", "/data", "/home/u", here + "/feeds/mine"},  // of the folder it started in
  };
  for (const Case& c : cases) {
    Environment env{{"BRINDLEWORK_PROGDIR", c.progdir}, {"XDG_DATA_HOME", c.dataHome}, {"HOME", c.home}};
    EXPECT_EQ(dataFolderPath(), c.want) << (c.dataHome ? c.dataHome : "(unset)");
  }
}

// The user's data first, then the program's read-only files beside the
// executable and in the install prefix, whichever variable names the data.
TEST(DataFolderTest, ProgdirSearchesTheDataFolderThenTheProgramFolders) {
  const std::string exe = executableFolder();
  for (const char* progdir : {static_cast<const char*>(nullptr), "/opt/bw"}) {
    Environment env{{"BRINDLEWORK_PROGDIR", progdir}, {"XDG_DATA_HOME", "/data"}};
    const std::string data = progdir ? progdir : "/data/brindlework";
    EXPECT_EQ(lookupDevice("PROGDIR").folders, (std::vector<std::string>{data, exe, exe + "/../share/brindlework"}));
    EXPECT_EQ(lookupDevice("L").folders,
              (std::vector<std::string>{data + "/L", exe + "/L", exe + "/../share/brindlework/L"}));
  }
}

// The path stays the one the table was built with: the run makes the data
// folder its current directory, and a relative override must not move.
TEST(DataFolderTest, ARelativeOverrideKeepsItsFolderWhenTheCurrentDirectoryChanges) {
  bw::testing::TestFolder dir;
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  Environment env{{"BRINDLEWORK_PROGDIR", "feeds"}};
  const std::string want = dir / "feeds";
  EXPECT_EQ(dataFolder().path, want);
  std::filesystem::current_path(want);
  EXPECT_EQ(dataFolderPath(), want);
  EXPECT_EQ(lookupDevice("PROGDIR").folders.front(), want);
  std::filesystem::current_path(previous);
}

// An overriding folder is made like the usual one when missing, but one
// that stands is the user's choice: its mode stays.
TEST(DataFolderTest, AnOverridingFolderIsMadeWhenMissingAndKeptAsItStands) {
  bw::testing::TestFolder dir;
  auto modeOf = [](const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
  };
  {
    Environment env{{"BRINDLEWORK_PROGDIR", (dir / "new/feeds").c_str()}};
    const DataFolder made = dataFolder();
    EXPECT_EQ(made.error, "");
    EXPECT_EQ(made.path, dir / "new/feeds");
    EXPECT_EQ(modeOf(dir / "new"), 0700u);
    EXPECT_EQ(modeOf(made.path), 0700u);
  }
  ASSERT_EQ(::chmod((dir / "new/feeds").c_str(), 0750), 0);
  {
    Environment env{{"BRINDLEWORK_PROGDIR", (dir / "new/feeds").c_str()}};
    EXPECT_EQ(dataFolder().error, "");
    EXPECT_EQ(modeOf(dir / "new/feeds"), 0750u);
  }
  dir.write("file", "x");
  Environment blocked{{"BRINDLEWORK_PROGDIR", (dir / "file").c_str()}};
  EXPECT_EQ(dataFolder().error, "not a folder");
}

TEST(DataFolderTest, TheDataFolderIsMadePrivateWithItsParents) {
  bw::testing::TestFolder dir;
  Environment env{{"BRINDLEWORK_PROGDIR", nullptr}, {"XDG_DATA_HOME", (dir / "a/b").c_str()}};
  DataFolder made = dataFolder();
  EXPECT_EQ(made.error, "");
  EXPECT_EQ(made.path, dir / "a/b/brindlework");
  struct stat st{};
  ASSERT_EQ(::stat(made.path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  // A folder of the user's left open to others (an earlier version's
  // images folder, say) is closed: it holds feeds and tokens.
  ASSERT_EQ(::chmod(made.path.c_str(), 0755), 0);
  EXPECT_EQ(dataFolder().error, "");
  ASSERT_EQ(::stat(made.path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  // A file where the folder should be is an error in words.
  dir.write("file", "x");
  Environment blocked{{"XDG_DATA_HOME", (dir / "file").c_str()}};
  EXPECT_FALSE(dataFolder().error.empty());
}

TEST(DataFolderTest, FilesAreMadeWithTheCreationMode) {
  bw::testing::TestFolder dir;
  const mode_t old = ::umask(022);
  for (const mode_t mode : {mode_t{0600}, mode_t{0666}}) {
    setCreationMode(mode);
    const std::string name = dir / ("f" + std::to_string(mode));
    FileHandle h = open(Text(":" + name.substr(1)), kModeNewFile);
    ASSERT_TRUE(h) << name;
    h.close();
    struct stat st{};
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, mode & ~mode_t{022});
  }
  ::umask(old);
}

}  // namespace
}  // namespace bw::dos
