// platform/full_device_test_support.h - /dev/full for tests whose writes
// must fail with a full disk. It is used only when it is the character
// device: where it is missing, opening it for writing (as root) would make
// a regular file there, which takes every later write.
#pragma once

#include <sys/stat.h>

namespace bw::testing_io {

inline constexpr char kFullDeviceSkip[] = "/dev/full is not a character device here";

// True when /dev/full is the character device that refuses every write.
inline bool fullDeviceIsThere() {
  struct stat st {};
  return ::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode);
}

}  // namespace bw::testing_io
