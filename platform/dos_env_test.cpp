// platform/dos_env_test.cpp - environment variables, the Ctrl-C flag,
// delays and the current directory.
#include "platform/dos_env.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>

#include "platform/dos_errors.h"
#include "platform/native_path.h"
#include "platform/test_folder.h"

namespace bw::dos {
namespace {

TEST(DosEnv, UnsetIsNotEmpty) {
  ::unsetenv("BW_TEST_VAR");
  EXPECT_FALSE(getVar("BW_TEST_VAR"));
  EXPECT_EQ(ioErr(), kErrorObjectNotFound);
  ASSERT_TRUE(setVar("BW_TEST_VAR", "", kGlobalOnly));
  std::optional<std::string> v = getVar("BW_TEST_VAR");
  ASSERT_TRUE(v);
  EXPECT_EQ(*v, "");
  ASSERT_TRUE(setVar("BW_TEST_VAR", "value"));
  EXPECT_EQ(*getVar("BW_TEST_VAR", kLocalOnly), "value");
  EXPECT_TRUE(deleteVar("BW_TEST_VAR"));
  EXPECT_TRUE(deleteVar("BW_TEST_VAR"));
  EXPECT_FALSE(getVar("BW_TEST_VAR"));
  EXPECT_FALSE(setVar("A=B", "x"));
  EXPECT_FALSE(setVar(nullptr, "x"));
}

TEST(DosEnv, CheckBreakSeesSigIntOnce) {
  initDosLayer();
  checkBreak();
  EXPECT_FALSE(checkBreak());
  ASSERT_EQ(::raise(SIGINT), 0);
  EXPECT_TRUE(checkBreak());
  EXPECT_FALSE(checkBreak());  // tested and cleared
  signalBreak();
  EXPECT_TRUE(checkBreak());
  // The shell's run takes a session's end as Ctrl-C.
  breakOnTermination();
  for (int signal : {SIGTERM, SIGHUP}) {
    ASSERT_EQ(::raise(signal), 0);
    EXPECT_TRUE(checkBreak()) << signal;
  }
  endDosLayer();
  struct sigaction action {};
  ::sigaction(SIGTERM, nullptr, &action);
  EXPECT_EQ(action.sa_handler, SIG_DFL);
}

TEST(DosEnv, DelayWaitsTicksOfTwentyMilliseconds) {
  auto start = std::chrono::steady_clock::now();
  delay(3);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
  delay(0);
  delay(-5);
}

TEST(DosEnv, CurrentDirectoryByNativeName) {
  std::optional<std::string> before = currentDirName();
  ASSERT_TRUE(before);
  bw::testing::TestFolder dir;
  dir.mkdir("sub");
  std::string native = hostToNative(dir / "sub");
  ASSERT_TRUE(setCurrentDir(native.c_str()));
  std::optional<std::string> now = currentDirName();
  ASSERT_TRUE(now);
  char* real = ::realpath((dir / "sub").c_str(), nullptr);
  EXPECT_EQ(*now, hostToNative(real));
  std::free(real);
  EXPECT_TRUE(setCurrentDir("/"));  // a parent step
  EXPECT_FALSE(setCurrentDir("missing"));
  EXPECT_EQ(ioErr(), kErrorObjectNotFound);
  ASSERT_TRUE(setCurrentDir(before->c_str()));
}

TEST(DosEnv, ProgramName) { EXPECT_NE(programName().find("platform_tests"), std::string::npos); }

}  // namespace
}  // namespace bw::dos
