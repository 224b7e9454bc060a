// platform/amiga_dos_test.cpp - pAmigaDos name procedures.
#include "platform/amiga_dos.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "core/exception.h"
#include "platform/dos_env.h"
#include "platform/native_path.h"
#include "platform/test_folder.h"

namespace bw::pAmigaDos {
namespace {

TEST(AmigaDos, JoinPart) {
  EXPECT_EQ(strJoinPart("Work:a/b", "c", false), "Work:a/b/c");
  EXPECT_EQ(strJoinPart("Work:a/b", "c", true), "Work:a/c");
  EXPECT_EQ(strJoinPart("Work:", "c", false), "Work:c");
  EXPECT_EQ(strJoinPart("Work:a/b", "Other:x", false), "Other:x");
  EXPECT_EQ(strJoinPart("Work:a/b", "/c", false), "Work:a/c");
  EXPECT_EQ(strJoinPart("", "c", false), "c");
  Str joined = strJoinPart("Work:a", "b", false);
  EXPECT_EQ(joined.capacity(), 6 + 1 + 2);
}

TEST(AmigaDos, LastComponentAndPathPart) {
  EXPECT_EQ(strLastComponent("Work:a/b.txt"), "b.txt");
  EXPECT_EQ(strLastComponent("Work:"), "");
  EXPECT_EQ(strPathPart("Work:a/b.txt"), "Work:a");
  EXPECT_EQ(strPathPart("Work:b.txt"), "Work:");
  EXPECT_TRUE(strPathPart(nullptr).isNil());
}

TEST(AmigaDos, GetVarNilIsNotEmpty) {
  ::unsetenv("BW_AMIGA_VAR");
  EXPECT_TRUE(strGetVar("BW_AMIGA_VAR", 0).isNil());
  ::setenv("BW_AMIGA_VAR", "", 1);
  Str empty = strGetVar("BW_AMIGA_VAR", 0);
  EXPECT_FALSE(empty.isNil());
  EXPECT_EQ(empty, "");
  ::unsetenv("BW_AMIGA_VAR");
}

TEST(AmigaDos, LongVariableComesBackWhole) {
  // Values that do not fit the first buffer are read again, larger, instead
  // of coming back cut at 127 characters.
  for (size_t n : {127u, 128u, 300u, 5000u}) {
    std::string value(n, 'v');
    value.back() = 'E';
    ::setenv("BW_AMIGA_VAR", value.c_str(), 1);
    EXPECT_EQ(strGetVar("BW_AMIGA_VAR", 0), value) << n;
  }
  ::unsetenv("BW_AMIGA_VAR");
}

class LongPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = dir_.path();
    while (dos::hostToNative(host_).size() < 300) {
      host_ += "/" + std::string(40, 'd');
      ASSERT_EQ(::mkdir(host_.c_str(), 0755), 0);
    }
    char* real = ::realpath(host_.c_str(), nullptr);
    native_ = dos::hostToNative(real);
    std::free(real);
  }
  bw::testing::TestFolder dir_;
  std::string host_, native_;
};

TEST_F(LongPathTest, NameFromLockOf300CharactersComesBackWhole) {
  dos::Lock l = dos::lock(native_.c_str());
  ASSERT_TRUE(l);
  Str name = strNameFromLock(l);
  EXPECT_EQ(name, native_);
  EXPECT_GE(name.length(), 300);
  Str joined = strPathOfLockAndName(l, "file");
  EXPECT_EQ(joined, native_ + "/file");
  EXPECT_TRUE(strNameFromLock(dos::Lock()).isNil());
}

TEST_F(LongPathTest, CurrentDirectoryOf300CharactersComesBackWhole) {
  std::optional<std::string> before = dos::currentDirName();
  ASSERT_TRUE(dos::setCurrentDir(native_.c_str()));
  Str name = strSafeGetNameOfCurrentDir();
  ASSERT_TRUE(dos::setCurrentDir(before->c_str()));
  EXPECT_EQ(name, native_);
}

TEST(AmigaDos, ProgramNameAndNameFromFH) {
  EXPECT_EQ(strSafeGetProgramName(), dos::programName());
  bw::testing::TestFolder dir;
  dir.write("f", "");
  std::string f = dos::hostToNative(dir / "f");
  dos::FileHandle h = dos::open(f.c_str(), dos::kModeOldFile);
  char* real = ::realpath((dir / "f").c_str(), nullptr);
  EXPECT_EQ(strNameFromFH(h), dos::hostToNative(real));
  std::free(real);
}

}  // namespace
}  // namespace bw::pAmigaDos
