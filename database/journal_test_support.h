// database/journal_test_support.h - the fixture of the database tests: clock,
// modules, a scratch device, an in-memory recording backend, and helpers that
// open journaled files on it and run the independent checker over images.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "database/journal_file.h"
#include "database/crashing_backend.h"
#include "platform/clock.h"
#include "platform/path_test_support.h"
#include "tools/soupcheck/soupcheck.h"

namespace bw::testing_journal {

// Seconds from 1970 to 2000: CurrentTime counts from 2000.
inline constexpr int64_t kEpoch2000 = 946684800;

class JournalTest : public ::testing::Test {
 protected:
  testing_paths::TempTree tree{"JournalTest"};
  std::shared_ptr<CrashingIoBackend> backend = std::make_shared<CrashingIoBackend>();
  int64_t now = 1000;  // seconds since 2000, the commit policy's clock

  void SetUp() override {
    initTimerDevice();
    journalModuleInit();
    setClockSource([this] { return ClockReading{kEpoch2000 + now, 0, false}; });
  }
  // Every file the test left on the backend must pass the checker (as a
  // crash may leave it), unless the test made it damaged on purpose.
  void TearDown() override {
    for (const std::string& name : backend->names()) {
      if (damagedOnPurpose.count(name) == 0) {
        SCOPED_TRACE(name);
        expectChecked(backend->image(name), soupcheck::Expect::kCrashed);
      }
    }
    setClockSource({});
    journalModuleEnd();
  }
  std::set<std::string> damagedOnPurpose;  // native names

  std::string internal(const std::string& name) const { return tree.internal(name); }
  std::string native(const std::string& name) const { return tree.native(name); }

  // A journaled file on the recording backend, opened (asserting success).
  std::unique_ptr<cJournaledFile> openMemory(const std::string& name, int32_t delay = 0, uint8_t pad = 0) {
    auto f = std::make_unique<cJournaledFile>();
    f->newFile(pad, delay);
    f->setIoBackend(backend);
    bool ok = f->open(Text(internal(name)), false, false, false);
    EXPECT_TRUE(ok) << f->infoError().view();
    return f;
  }
  std::vector<uint8_t> image(const std::string& name) const { return backend->image(native(name)); }
  // A journaled file on the disk, read through its mapping (opened,
  // asserting success).
  std::unique_ptr<cJournaledFile> openDisk(const std::string& name, int32_t delay = 0, uint8_t pad = 0) {
    auto f = std::make_unique<cJournaledFile>();
    f->newFile(pad, delay);
    bool ok = f->open(Text(internal(name)), false, false, false);
    EXPECT_TRUE(ok) << f->infoError().view();
    return f;
  }

  // Runs the independent checker; a failure names the findings.
  static void expectChecked(const std::vector<uint8_t>& image, soupcheck::Expect expect, uint8_t pad = 0) {
    soupcheck::Report r = soupcheck::check(image, expect, pad);
    EXPECT_TRUE(r.clean()) << soupcheck::describe(r);
  }
};

// The whole data area of an open file, read through it.
inline std::vector<uint8_t> readAllData(cJournaledFile& f) {
  std::vector<uint8_t> out(static_cast<size_t>(f.getSize()));
  int64_t keep = f.getPosition(false);
  f.setPosition(0);
  if (!out.empty()) f.read(out.data(), static_cast<int64_t>(out.size()), 0, -1);
  f.setPosition(keep);
  return out;
}

// Writes bytes at a position inside one transaction of its own.
inline void writeAt(cJournaledFile& f, int64_t position, const std::vector<uint8_t>& bytes) {
  JournalTransaction t(f);
  f.setPosition(position);
  f.write(bytes.data(), static_cast<int64_t>(bytes.size()), 0, false);
}

}  // namespace bw::testing_journal
