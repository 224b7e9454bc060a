// platform/dos_errors_test.cpp - the errno table and the fault texts.
#include "platform/dos_errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace bw::dos {
namespace {

TEST(DosErrors, ErrnoTable) {
  EXPECT_EQ(dosCodeForErrno(ENOENT), 205);
  EXPECT_EQ(dosCodeForErrno(ENOTDIR), 205);
  EXPECT_EQ(dosCodeForErrno(ELOOP), 205);
  EXPECT_EQ(dosCodeForErrno(EEXIST), 203);
  EXPECT_EQ(dosCodeForErrno(EBUSY), 202);
  EXPECT_EQ(dosCodeForErrno(EISDIR), 212);
  EXPECT_EQ(dosCodeForErrno(ENOTEMPTY), 216);
  EXPECT_EQ(dosCodeForErrno(EXDEV), 215);
  EXPECT_EQ(dosCodeForErrno(EROFS), 214);
  EXPECT_EQ(dosCodeForErrno(ENOSPC), 221);
  EXPECT_EQ(dosCodeForErrno(EDQUOT), 221);
  EXPECT_EQ(dosCodeForErrno(EACCES, Access::read), 224);
  EXPECT_EQ(dosCodeForErrno(EPERM, Access::write), 223);
  EXPECT_EQ(dosCodeForErrno(EACCES, Access::remove), 222);
  EXPECT_EQ(dosCodeForErrno(ENAMETOOLONG), 210);
  EXPECT_EQ(dosCodeForErrno(ENOMEM), 103);
  EXPECT_EQ(dosCodeForErrno(EMFILE), 103);
  EXPECT_EQ(dosCodeForErrno(EIO), 1000 + EIO);
  EXPECT_EQ(dosCodeForErrno(0), 0);
}

TEST(DosErrors, FaultUsesTheHostTextBehindTheCode) {
  EXPECT_EQ(ioErrFromErrno(ENOENT), 205);
  EXPECT_EQ(ioErr(), 205);
  EXPECT_EQ(fault(205, "error opening file"), std::string("error opening file: ") + std::strerror(ENOENT));
  EXPECT_EQ(fault(1000 + EIO, nullptr), std::strerror(EIO));
  // Codes the layer makes itself have our own texts.
  setIoErr(kErrorNoMoreEntries);
  EXPECT_EQ(fault(232, "x"), "x: no more entries in directory");
  EXPECT_EQ(fault(218, ""), "device (or volume) is not mounted");
  EXPECT_EQ(fault(999, nullptr), "error 999");
  EXPECT_EQ(fault(0, "header"), "");
}

TEST(DosErrors, IoErrIsPerThread) {
  setIoErr(205);
  std::thread([] {
    EXPECT_EQ(ioErr(), 0);
    setIoErr(203);
  }).join();
  EXPECT_EQ(ioErr(), 205);
}

}  // namespace
}  // namespace bw::dos
