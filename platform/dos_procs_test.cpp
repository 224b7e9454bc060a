// platform/dos_procs_test.cpp - string-filling DOS procedures, error texts
// and byte-counted strings.
#include "platform/dos_procs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "platform/assigns.h"
#include "platform/dos_env.h"
#include "platform/dos_errors.h"
#include "platform/native_path.h"
#include "platform/test_folder.h"

namespace bw {
namespace {

TEST(DosProcs, GetVarIntoUnsetAndEmpty) {
  ::unsetenv("BW_PROCS_VAR");
  Str s = Str::withCapacity(10, "keep");
  EXPECT_FALSE(dosGetVarInto("BW_PROCS_VAR", s, 0));
  EXPECT_EQ(s, "keep");
  ::setenv("BW_PROCS_VAR", "", 1);
  EXPECT_TRUE(dosGetVarInto("BW_PROCS_VAR", s, 0));
  EXPECT_EQ(s.length(), 0);
  ::setenv("BW_PROCS_VAR", "0123456789abc", 1);
  EXPECT_TRUE(dosGetVarInto("BW_PROCS_VAR", s, 0));
  EXPECT_EQ(s, "012345678");  // the buffer's size counts the zero
  EXPECT_EQ(dos::ioErr(), 13);  // the full length, as GetVar tells it
  EXPECT_TRUE(dosSetVar("BW_PROCS_VAR", "v", 0));
  EXPECT_STREQ(std::getenv("BW_PROCS_VAR"), "v");
  ::unsetenv("BW_PROCS_VAR");
}

TEST(DosProcs, NameOfExactlyTheCapacityDoesNotFitButAJoinedPathDoes) {
  bw::testing::TestFolder dir;
  dir.write("f", "");
  dos::Lock l = dos::lock(dos::hostToNative(dir / "f").c_str());
  ASSERT_TRUE(l);
  std::string name = *dos::nameFromLock(l);
  int32_t n = static_cast<int32_t>(name.size());
  Str exact = Str::withCapacity(n, "old");
  EXPECT_FALSE(dosNameFromLockInto(exact, l));
  EXPECT_EQ(dos::ioErr(), dos::kErrorLineTooLong);
  EXPECT_EQ(exact, "old");
  Str roomy = Str::withCapacity(n + 1);
  EXPECT_TRUE(dosNameFromLockInto(roomy, l));
  EXPECT_EQ(roomy, name);

  dos::FileHandle h = dos::open(name.c_str(), dos::kModeOldFile);
  Str fh = Str::withCapacity(n);
  EXPECT_FALSE(dosNameFromFHInto(fh, h));
  fh.setCapacity(n + 1);
  EXPECT_TRUE(dosNameFromFHInto(fh, h));
  EXPECT_EQ(fh, name);

  Str path = Str::withCapacity(10, "Work:ab");
  EXPECT_TRUE(dosAddPartInto(path, "cd"));  // "Work:ab/cd": exactly 10
  EXPECT_EQ(path, "Work:ab/cd");
  Str tooSmall = Str::withCapacity(9, "Work:ab");
  EXPECT_FALSE(dosAddPartInto(tooSmall, "cd"));
  EXPECT_EQ(tooSmall, "Work:ab");
}

TEST(DosProcs, CurrentDirAndProgramNameInto) {
  Str s = Str::withCapacity(4096);
  EXPECT_TRUE(dosCurrentDirNameInto(s));
  EXPECT_EQ(s, *dos::currentDirName());
  EXPECT_TRUE(dosProgramNameInto(s));
  EXPECT_EQ(s, dos::programName());
  Str tiny = Str::withCapacity(2);
  EXPECT_FALSE(dosProgramNameInto(tiny));
}

TEST(DosProcs, FaultInto) {
  dos::setIoErr(dos::kErrorObjectNotFound);
  Str s = Str::withCapacity(100);
  int32_t n = dosFaultInto(dos::kErrorObjectNotFound, "open", s);
  EXPECT_EQ(s, "open: object not found");
  EXPECT_EQ(n, s.length());
  Str small = Str::withCapacity(5);
  EXPECT_EQ(dosFaultInto(dos::kErrorObjectNotFound, "open", small), 4);
  EXPECT_EQ(small, "open");
}

TEST(DosProcs, FaultTextIsOwnedByTheCaller) {
  // Each text stays valid after later calls (file objects keep theirs).
  Str first = faultText(dos::kErrorObjectNotFound, "error opening file");
  Str second = faultText(dos::kErrorObjectExists, "error renaming host file");
  EXPECT_EQ(first, "error opening file: object not found");
  EXPECT_EQ(second, "error renaming host file: object already exists");
  EXPECT_EQ(first.capacity(), static_cast<int32_t>(std::strlen("error opening file")) + 120);
  Str noHeader = faultText(dos::kErrorObjectExists, nullptr);
  EXPECT_EQ(noHeader, "object already exists");
}

TEST(DosProcs, IoErrText) {
  dos::setIoErr(0);
  Str text = ioErrText("error seeking to end of file");
  EXPECT_EQ(text, "error seeking to end of file");
  dos::ioErrFromErrno(ENOSPC);
  Str full = ioErrText("error writing");
  EXPECT_EQ(full, std::string("error writing: ") + std::strerror(ENOSPC));
}

TEST(DosProcs, ByteCountedStrings) {
  std::string text(300, 'a');
  Str bstr = stringToBSTR(text, -1);
  EXPECT_EQ(bstr.capacity(), 301);
  EXPECT_EQ(static_cast<uint8_t>(bstr[0]), 44);
  EXPECT_EQ(bstr.length(), 301);
  Str part = stringToBSTR("hello", 3);
  EXPECT_EQ(part.view(), std::string_view("\x03hel", 4));
  EXPECT_EQ(bstrToString(part), "hel");
  EXPECT_EQ(bstrToString(Str(std::string_view("\x09short", 6))), "short");  // count beyond the text
  EXPECT_EQ(bstrToString(Str(std::string_view("\x00", 1))), "");
}

TEST(DosProcs, FileSizeOfAHandle) {
  bw::testing::TestFolder dir;
  dir.write("f", "0123456789");
  dos::FileHandle h = dos::open(dos::hostToNative(dir / "f").c_str(), dos::kModeOldFile);
  ASSERT_TRUE(h);
  ASSERT_TRUE(h.setPosition(3));
  EXPECT_EQ(dosFileSize64(h, false), 10);
  EXPECT_EQ(h.position(), 3);
  dos::FileHandle none;
  EXPECT_EQ(dosFileSize64(none, true), -1);
}

TEST(DosProcs, LockWithoutRequestersAndLinks) {
  bw::testing::TestFolder dir;
  dir.write("f", "x");
  std::string f = dos::hostToNative(dir / "f");
  EXPECT_TRUE(lockWithoutRequesters(f.c_str(), dos::kSharedLock));
  EXPECT_FALSE(lockWithoutRequesters("NotMounted:x", dos::kSharedLock));
  EXPECT_EQ(dos::ioErr(), dos::kErrorDeviceNotMounted);
  std::string soft = dos::hostToNative(dir / "soft");
  std::string hard = dos::hostToNative(dir / "hard");
  EXPECT_TRUE(makeDosLink(soft.c_str(), "f", true));
  EXPECT_TRUE(makeDosLink(hard.c_str(), f.c_str(), false));
  EXPECT_FALSE(makeDosLink((hard + "2").c_str(), (f + "missing").c_str(), false));
  EXPECT_EQ(dir.read("soft"), "x");
  EXPECT_EQ(dir.read("hard"), "x");
}

}  // namespace
}  // namespace bw
