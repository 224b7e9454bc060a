// Tests of command lines, URLs and the command search path, with small
// recording scripts standing in for the programs and the browser.
#include "platform/commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/spawn_test_support.h"

namespace bw {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using ::testing::ElementsAre;

// ---------------------------------------------------------------------------
// Commands and URLs
// ---------------------------------------------------------------------------

TEST(CommandsTest, SplitCommandWords) {
  EXPECT_THAT(splitCommandWords("  a  \"b c\"\td\"e f\"g \"\" "), ElementsAre("a", "b c", "de fg", ""));
  EXPECT_THAT(splitCommandWords("a\\\"b"), ElementsAre("a\\b"));
  EXPECT_THAT(splitCommandWords(""), ElementsAre());
}

TEST(CommandsTest, RunCommandLineIsTrueWhenTheProgramRan) {
  TempDir dir;
  EnvScope path("PATH", (dir.path() + ":" + std::getenv("PATH")).c_str());
  dir.script("exit0", "exit 0");
  dir.script("exit20", "exit 20");
  std::string rec = dir.recorder("rec");
  EXPECT_TRUE(runCommandLine("exit0"));
  EXPECT_TRUE(runCommandLine("exit20"));
  EXPECT_FALSE(runCommandLine("bw-no-such-command x"));
  EXPECT_FALSE(runCommandLine(""));
  EXPECT_FALSE(runCommandLine(nullptr));
  // Shell syntax reaches the program literally.
  EXPECT_TRUE(runCommandLine("rec $(id) `id` a;b \"c d\" >x"));
  EXPECT_THAT(recordedArgs(rec, false), ElementsAre("$(id)", "`id`", "a;b", "c d", ">x"));
  EXPECT_FALSE(fs::exists("x"));
  expectNoChildren();
}

TEST(CommandsTest, RunLinesStartDetached) {
  TempDir dir;
  EnvScope path("PATH", (dir.path() + ":" + std::getenv("PATH")).c_str());
  std::string rec = dir.recorder("rec");
  EXPECT_TRUE(runCommandLine("Run >NIL: rec a \"b c\""));
  expectNoChildren();
  EXPECT_THAT(recordedArgs(rec), ElementsAre("a", "b c"));
  EXPECT_FALSE(runCommandLine("Run bw-no-such-command"));
  EXPECT_FALSE(runCommandLine("Run"));
}

class OpenURLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    opener_ = dir_.recorder("opener");
    oldCwd_ = fs::current_path();
    fs::current_path(dir_.path());
  }
  void TearDown() override { fs::current_path(oldCwd_); }

  bool anyPwnedFile() const {
    for (const auto& e : fs::directory_iterator(dir_.path()))
      if (e.path().filename().string().rfind("pwned", 0) == 0) return true;
    return false;
  }

  TempDir dir_;
  std::string opener_;
  fs::path oldCwd_;
};

// A URL full of shell syntax reaches the browser as one argument and runs
// nothing.
TEST_F(OpenURLTest, UrlIsOneArgumentAndNeverShellText) {
  EnvScope browser("BROWSER", opener_.c_str());
  const char* url = "http://x/a b;touch pwned$(id)";
  EXPECT_TRUE(openURL(url));
  expectNoChildren();
  EXPECT_THAT(recordedArgs(opener_), ElementsAre(url));
  EXPECT_FALSE(anyPwnedFile());
}

TEST_F(OpenURLTest, TheProgramsUrlLines) {
  EnvScope browser("BROWSER", opener_.c_str());
  EXPECT_TRUE(runCommandLine("URLOpen LINK http://x/a b&c=`touch pwned`"));
  EXPECT_THAT(recordedArgs(opener_), ElementsAre("http://x/a b&c=`touch pwned`"));
  fs::remove(opener_ + ".args");
  EXPECT_TRUE(runCommandLine("Run *><>NIL: URLopen \"http://x/?a=1&b=2;touch pwned\""));
  EXPECT_THAT(recordedArgs(opener_), ElementsAre("http://x/?a=1&b=2;touch pwned"));
  expectNoChildren();
  EXPECT_FALSE(anyPwnedFile());
}

TEST_F(OpenURLTest, BrowserVariable) {
  {
    EnvScope browser("BROWSER", (opener_ + " --new-tab %s --x=%s:firefox").c_str());
    EXPECT_TRUE(openURL("http://y/"));
    EXPECT_THAT(recordedArgs(opener_), ElementsAre("--new-tab", "http://y/", "--x=http://y/"));
  }
  fs::remove(opener_ + ".args");
  {
    EnvScope browser("BROWSER", (opener_ + " -a").c_str());
    EXPECT_TRUE(openURL("http://z/%s"));
    EXPECT_THAT(recordedArgs(opener_), ElementsAre("-a", "http://z/%s"));
  }
  {
    EnvScope browser("BROWSER", (dir_ / "missing").c_str());
    EXPECT_FALSE(openURL("http://y/"));
  }
  {
    // Without $BROWSER the opener is xdg-open, here not in the path.
    EnvScope browser("BROWSER", nullptr);
    EnvScope path("PATH", dir_.path().c_str());
    EXPECT_FALSE(openURL("http://y/"));
  }
  EXPECT_FALSE(openURL(nullptr));
  expectNoChildren();
}

TEST(CommandsTest, FindCommandInPath) {
  TempDir dir;
  EnvScope path("PATH", ("/nonexistent:" + dir.path()).c_str());
  fs::create_directory(dir / "adir");
  std::string curl = dir.script("curl", "exit 0");
  fs::create_symlink(curl, dir / "linked");
  fs::create_symlink(dir / "adir", dir / "dirlink");
  std::ofstream(dir / "plain") << "x";
  EXPECT_TRUE(findCommandInPath("curl"));
  EXPECT_TRUE(findCommandInPath("Curl"));  // lower case after the exact name
  EXPECT_TRUE(findCommandInPath("linked"));
  EXPECT_FALSE(findCommandInPath("adir"));
  EXPECT_FALSE(findCommandInPath("dirlink"));
  EXPECT_FALSE(findCommandInPath("plain"));
  EXPECT_FALSE(findCommandInPath("missing"));
  EXPECT_FALSE(findCommandInPath(""));
  EXPECT_FALSE(findCommandInPath(nullptr));

  // Without PATH the current directory is searched.
  EnvScope noPath("PATH", nullptr);
  fs::path old = fs::current_path();
  fs::current_path(dir.path());
  EXPECT_TRUE(findCommandInPath("Curl"));
  fs::current_path("/");
  EXPECT_FALSE(findCommandInPath("Curl"));
  fs::current_path(old);
}

TEST(CommandsTest, PathIsFile) {
  TempDir dir;
  std::ofstream(dir / "file") << "x";
  fs::create_directory(dir / "adir");
  fs::create_symlink(dir / "file", dir / "filelink");
  fs::create_symlink(dir / "adir", dir / "dirlink");
  fs::create_symlink(dir / "gone", dir / "dangling");
  // Native names of host paths: "/x/y" is ":x/y".
  auto native = [&](const std::string& name) { return ":" + (dir / name).substr(1); };
  EXPECT_TRUE(pathIsFile(native("file")));
  EXPECT_TRUE(pathIsFile(native("filelink")));
  EXPECT_FALSE(pathIsFile(native("adir")));
  EXPECT_FALSE(pathIsFile(native("dirlink")));
  EXPECT_FALSE(pathIsFile(native("dangling")));
  EXPECT_FALSE(pathIsFile(native("missing")));
  EXPECT_FALSE(pathIsFile(nullptr));
}

TEST(CommandsTest, RunCommand) {
  TempDir dir;
  fs::create_directory(dir / "adir");
  std::string rec = dir.script("pwdrec", "pwd > '" + (dir / "pwd.out") + "'; exit 5");
  RunCommandResult r = runCommand(rec, true, false, 4096, 0, dir.path() + "/adir/..");
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.returnCode, 5);
  std::ifstream in(dir / "pwd.out");
  std::string pwd;
  std::getline(in, pwd);
  EXPECT_EQ(fs::canonical(pwd), fs::canonical(dir.path()));

  r = runCommand("bw-no-such-command", true, false, 0, 0, "");
  EXPECT_FALSE(r.started);
  EXPECT_EQ(r.returnCode, 20);

  std::string async = dir.recorder("async");
  r = runCommand(async + " x", false, true, 0, 0, "");
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.returnCode, 0);
  EXPECT_THAT(recordedArgs(async), ElementsAre("x"));
  expectNoChildren();
}

}  // namespace
}  // namespace bw
