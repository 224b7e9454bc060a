// database/journal_faults_test.cpp - failing disks and second writers: an
// error injected at every backend operation, once and for good, leaves the
// file failed (no later write, commit or flush, closes without writing) and
// the disk in a state that reopens to a committed one; a second writer is
// refused in this process and from another.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "core/raise_test_support.h"
#include "database/journal_image_test_support.h"
#include "database/journal_test_support.h"
#include "database/journal_workload_test_support.h"

namespace bw::testing_journal {
namespace {

using soupcheck::Expect;

TEST_F(JournalTest, FailedCommitLeavesTheFileFailedAndClosesWithoutWriting) {
  auto f = openMemory("soup");
  writeAt(*f, 0, bytesOf("committed"));
  // The journal's fsync fails.
  backend->failAt(backend->opCount(), EIO, false, RecordedOp::kSync);
  {
    JournalTransaction t(*f);
    f->write("CHANGED", 7, 0, false);
    expectRaise([&] { t.finish(); }, "FILE", "cHostFile.flush(); Flush() failed");
  }
  EXPECT_TRUE(f->infoFailed());
  backend->clearFaults();
  int32_t id = f->beginTransaction();
  expectRaise([&] { f->write("x", 1, 0, false); }, "FILE", "cJournaledFile.write(); an earlier commit failed");
  expectRaise([&] { f->setSize(1); }, "FILE", "cJournaledFile.setSize(); an earlier commit failed");
  expectRaise([&] { f->finishTransaction(id); }, "FILE", "cJournaledFile.commit(); an earlier commit failed");
  expectRaise([&] { f->flush(); }, "FILE", "cJournaledFile.flush(); an earlier commit failed");
  const size_t opsBefore = backend->log().size();
  f->close();
  EXPECT_FALSE(f->isOpen());
  EXPECT_EQ(backend->log().size(), opsBefore) << "a failed file wrote at close";
  // The journal on disk decides: complete here, so the change is replayed.
  auto g = openMemory("soup");
  std::vector<uint8_t> data = readAllData(*g);
  EXPECT_TRUE(data == bytesOf("committed") || data == bytesOf("CHANGEDed"));
  g->close();
  expectChecked(image("soup"), Expect::kClosed);
}

TEST_F(JournalTest, AbandoningCloseDropsEverythingPending) {
  cFile f;
  f.initialise(0);
  f.setIoBackend(backend);
  damagedOnPurpose.insert(native("plain"));  // a plain file, not a journaled one
  ASSERT_TRUE(f.open(Text(internal("plain")), false, false, false));
  f.write("abc", 3, 0, false);
  f.flush();
  const size_t opsBefore = backend->log().size();
  f.setPosition(10);
  f.write("def", 3, 0, false);
  f.setSize(2);
  f.setTime(12345);
  f.closeAbandoning();
  EXPECT_FALSE(f.isOpen());
  EXPECT_EQ(backend->log().size(), opsBefore);
  EXPECT_EQ(image("plain"), bytesOf("abc"));
  f.closeAbandoning();  // unopened: nothing
}

struct FaultCase {
  int error;
  bool persistent;
  int kinds = 0xF;
};

TEST_F(JournalTest, ErrorsAtEveryOperationLeaveACommittedState) {
  std::vector<uint8_t> start;
  {
    auto f = openMemory("seed");
    writeAt(*f, 0, std::vector<uint8_t>(800, 3));
    f->close();
    start = image("seed");
  }
  auto run = [&](int64_t failAt, FaultCase fault, std::vector<std::vector<uint8_t>>& acked,
                 std::shared_ptr<CrashingIoBackend>& disk) -> int64_t {
    disk = std::make_shared<CrashingIoBackend>();
    disk->setImage(native("soup"), start);
    disk->failAt(failAt, fault.error, fault.persistent, fault.kinds);
    auto f = std::make_unique<cJournaledFile>();
    f->newFile(0, 0);
    f->setIoBackend(disk);
    EXPECT_TRUE(f->open(Text(internal("soup")), false, false, false));
    try {
      runWorkload(*f, 11, 30, [&](const std::vector<uint8_t>& d) { acked.push_back(d); });
      f->close();
    } catch (const eException& e) {
      EXPECT_EQ(e.code(), fault.error == ENOSPC ? "FULL" : "FILE") << e.message();
      EXPECT_TRUE(f->infoFailed()) << e.message();
      if (f->isOpen()) {
        f->beginTransaction();
        expectRaise([&] { f->write("x", 1, 0, false); }, "FILE", "cJournaledFile.write(); an earlier commit failed");
      }
      const size_t ops = disk->log().size();
      f.reset();
      EXPECT_EQ(disk->log().size(), ops) << "a failed file wrote while closing";
    }
    return disk->opCount();
  };
  std::vector<std::vector<uint8_t>> full;
  std::shared_ptr<CrashingIoBackend> disk;
  const int64_t total = run(-1, {EIO, false}, full, disk);
  for (FaultCase fault : {FaultCase{EIO, false}, FaultCase{EIO, true}, FaultCase{ENOSPC, true, RecordedOp::kWrite},
                          FaultCase{ENOSPC, false, RecordedOp::kWrite}}) {
    for (int64_t k = 0; k < total; ++k) {
      std::vector<std::vector<uint8_t>> acked;
      run(k, fault, acked, disk);
      // Whatever the disk holds now, or after a power cut now, reopens to
      // the last acknowledged commit or the one that failed.
      size_t i = acked.size() - 1;
      for (uint64_t v = 0; v < 3; ++v) {
        std::vector<uint8_t> crashImage =
            v == 0 ? disk->image(native("soup")) : disk->powerLossImage(native("soup"), k * 7 + v);
        soupcheck::Report r = soupcheck::check(crashImage, Expect::kCrashed);
        ASSERT_TRUE(r.clean()) << "fault at " << k << "\n" << soupcheck::describe(r);
        EXPECT_TRUE(r.effectiveData == acked[i] || (i + 1 < full.size() && r.effectiveData == full[i + 1]))
            << "fault at op " << k << " errno " << fault.error << (fault.persistent ? " persistent" : " once");
        auto reopened = std::make_shared<CrashingIoBackend>();
        reopened->setImage(native("soup"), crashImage);
        cJournaledFile g;
        g.newFile(0, 0);
        g.setIoBackend(reopened);
        ASSERT_TRUE(g.open(Text(internal("soup")), false, false, false));
        EXPECT_EQ(readAllData(g), r.effectiveData);
      }
    }
  }
}

TEST_F(JournalTest, SecondWriterIsRefusedHereAndFromAnotherProcess) {
  cJournaledFile first;
  first.newFile(0, 0);
  ASSERT_TRUE(first.open(Text(internal("soup")), false, false, false));
  cJournaledFile second;
  second.newFile(0, 0);
  EXPECT_FALSE(second.open(Text(internal("soup")), false, false, false));
  EXPECT_EQ(second.infoError().view(), "file is already opened for write access (by another program)");
  EXPECT_STREQ(second.infoErrorSource(), "cJournaledFile.open()");

  ::fflush(nullptr);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    cJournaledFile other;
    other.newFile(0, 0);
    bool opened = other.open(Text(internal("soup")), false, false, false);
    bool refused = !opened && other.infoError().view() == "file is already opened for write access (by another program)";
    ::_exit(refused ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  first.close();
  EXPECT_TRUE(second.open(Text(internal("soup")), false, false, false)) << second.infoError().view();
}

}  // namespace
}  // namespace bw::testing_journal
