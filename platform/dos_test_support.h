// platform/dos_test_support.h - the fixture of the DOS layer tests: a
// scratch folder reached as the device "Tst:", and a scope that runs under
// another time zone.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/assigns.h"
#include "platform/dos.h"
#include "platform/test_folder.h"

namespace bw::dos {

class DosTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetAssigns();
    assignAdd("Tst", dir_.path());
    dosSeams() = {};
  }
  void TearDown() override {
    dosSeams() = {};
    resetAssigns();
  }
  mode_t modeOf(const std::string& name) {
    struct stat st{};
    ::lstat((dir_ / name).c_str(), &st);
    return st.st_mode & 07777;
  }
  bool exists(const std::string& name) {
    struct stat st{};
    return ::lstat((dir_ / name).c_str(), &st) == 0;
  }

  bw::testing::TestFolder dir_;
};

// Runs a test body under another TZ, putting the old one back.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (old) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ZoneScope() {
    if (had_) ::setenv("TZ", old_.c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

}  // namespace bw::dos
