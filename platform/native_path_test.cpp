// platform/native_path_test.cpp - native to host translation and the
// FilePart, PathPart and AddPart procedures.
#include "platform/native_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/assigns.h"
#include "platform/dos_errors.h"
#include "platform/test_folder.h"

namespace bw::dos {
namespace {

std::string toHost(const char* native) {
  std::string host;
  EXPECT_TRUE(nativeToHost(native, host)) << native;
  return host;
}

class NativePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetAssigns();
    ::setenv("BRINDLEWORK_PROGDIR", "/opt/bw", 1);
  }
  void TearDown() override {
    ::unsetenv("BRINDLEWORK_PROGDIR");
    resetAssigns();
  }
};

TEST_F(NativePathTest, DevicesAndAssignsBecomeHostFolders) {
  EXPECT_EQ(toHost(":"), "/");
  EXPECT_EQ(toHost(":usr/lib"), "/usr/lib");
  EXPECT_EQ(toHost("progdir:"), "/opt/bw");  // device names ignore case
  EXPECT_EQ(toHost("PROGDIR:database.soup"), "/opt/bw/database.soup");
  EXPECT_EQ(toHost("L:Charsets/x.txt"), "/opt/bw/L/Charsets/x.txt");
  EXPECT_EQ(toHost("libs:x"), "/opt/bw/Libs/x");
  EXPECT_EQ(toHost("NIL:"), "/dev/null");
  EXPECT_EQ(toHost(":a:b/c"), "/a:b/c");  // later ":" belong to the name
}

TEST_F(NativePathTest, SlashesAreParentStepsAndTrailingSlashGoes) {
  EXPECT_EQ(toHost("/x"), "../x");
  EXPECT_EQ(toHost("//x"), "../../x");
  EXPECT_EQ(toHost("a//b"), "a/../b");
  EXPECT_EQ(toHost("a/b/"), "a/b");
  EXPECT_EQ(toHost("a//"), "a/..");
  EXPECT_EQ(toHost("a"), "a");
  EXPECT_EQ(toHost(""), ".");
  EXPECT_EQ(toHost(":/"), "/..");
  EXPECT_EQ(toHost("PROGDIR:/x"), "/opt/bw/../x");
}

TEST_F(NativePathTest, UnknownAndVirtualDevicesFail) {
  std::string host;
  setIoErr(0);
  EXPECT_FALSE(nativeToHost("NoSuchDevice:x", host));
  EXPECT_EQ(ioErr(), kErrorDeviceNotMounted);
  EXPECT_FALSE(nativeToHost("PIPE:x", host));
  EXPECT_EQ(ioErr(), kErrorActionNotKnown);
  EXPECT_EQ(lookupDevice("pipe").kind, DeviceKind::virtual_);
  EXPECT_EQ(lookupDevice("ENV").kind, DeviceKind::virtual_);
  EXPECT_EQ(lookupDevice("nosuch").kind, DeviceKind::unknown);
}

TEST_F(NativePathTest, MultiDirectoryAssignGivesEveryFolderInOrder) {
  assignAdd("Multi", "/first");
  assignAdd("MULTI", "/second");
  HostPaths all = nativeToHostAll("multi:a/b");
  ASSERT_TRUE(all.ok);
  ASSERT_EQ(all.paths.size(), 2u);
  EXPECT_EQ(all.paths[0], "/first/a/b");
  EXPECT_EQ(all.paths[1], "/second/a/b");
  assignRemove("multi");
  EXPECT_EQ(lookupDevice("Multi").kind, DeviceKind::unknown);
}

TEST_F(NativePathTest, HostToNative) {
  EXPECT_EQ(hostToNative("/"), ":");
  EXPECT_EQ(hostToNative("/x/y"), ":x/y");
  EXPECT_EQ(hostToNative("/x//y/./z/"), ":x/y/z");
  EXPECT_EQ(hostToNative("a/../b"), "a//b");
  EXPECT_EQ(hostToNative("../a"), "/a");
  EXPECT_EQ(hostToNative("../../a"), "//a");
  EXPECT_EQ(hostToNative("/a/.."), ":a//");
  EXPECT_EQ(hostToNative("."), "");
  EXPECT_EQ(hostToNative("/tmp/a:b"), ":tmp/a:b");
  // A relative name holding ":" is made absolute so it is not a device.
  EXPECT_EQ(hostToNative("a:b", "/base"), ":base/a:b");
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(hostToNative("x:y"), hostToNative(std::string(cwd) + "/x:y"));
}

TEST_F(NativePathTest, RoundTripsNameTheSameObject) {
  bw::testing::TestFolder dir;
  dir.mkdir("sub");
  dir.write("sub/f:1", "x");
  for (std::string host : {dir.path(), dir / "sub", dir / "sub/f:1", dir / "sub/../sub/./f:1"}) {
    std::string native = hostToNative(host);
    std::string back;
    ASSERT_TRUE(nativeToHost(native.c_str(), back)) << native;
    char* a = ::realpath(host.c_str(), nullptr);
    char* b = ::realpath(back.c_str(), nullptr);
    ASSERT_TRUE(a && b) << host << " -> " << native << " -> " << back;
    EXPECT_STREQ(a, b);
    std::free(a);
    std::free(b);
  }
}

TEST(DosNameProcedures, FilePartAndPathPart) {
  auto file = [](std::string_view p) { return std::string(p.substr(filePartIndex(p))); };
  auto path = [](std::string_view p) { return std::string(p.substr(0, pathPartIndex(p))); };
  EXPECT_EQ(file("Work:a/b"), "b");
  EXPECT_EQ(file("Work:b"), "b");
  EXPECT_EQ(file("b"), "b");
  EXPECT_EQ(file("a/b/"), "");
  EXPECT_EQ(file(""), "");
  EXPECT_EQ(path("Work:a/b"), "Work:a");
  EXPECT_EQ(path("Work:a"), "Work:");
  EXPECT_EQ(path("a"), "");
  EXPECT_EQ(path("/a"), "/");
  EXPECT_EQ(path("//a/b"), "//a");
}

TEST(DosNameProcedures, AddPart) {
  auto join = [](std::string path, std::string_view part) {
    EXPECT_TRUE(addPart(path, part, 1000));
    return path;
  };
  EXPECT_EQ(join("Work:a/b", "c"), "Work:a/b/c");
  EXPECT_EQ(join("Work:", "c"), "Work:c");
  EXPECT_EQ(join("Work:a/", "c"), "Work:a/c");
  EXPECT_EQ(join("", "c"), "c");
  EXPECT_EQ(join("Work:a/b", "Other:x"), "Other:x");
  EXPECT_EQ(join("Work:a/b", "/c"), "Work:a/c");
  EXPECT_EQ(join("Work:a/b", "//c"), "Work:c");
  EXPECT_EQ(join("Work:a", "//c"), "Work:/c");
  EXPECT_EQ(join("a", "/c"), "c");
  EXPECT_EQ(join("a", "//c"), "/c");
  EXPECT_EQ(join("Work:a", ""), "Work:a");

  std::string p = "Work:ab";
  EXPECT_TRUE(addPart(p, "cd", 11));  // "Work:ab/cd" is 10 characters
  EXPECT_EQ(p, "Work:ab/cd");
  std::string q = "Work:ab";
  EXPECT_FALSE(addPart(q, "cd", 10));
  EXPECT_EQ(ioErr(), kErrorLineTooLong);
  EXPECT_EQ(q, "Work:ab");
}

}  // namespace
}  // namespace bw::dos
