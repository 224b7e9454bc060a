// database/indexed_block_file_crash_test.cpp - crashes in the middle of an
// allocator workload. Transaction n of the workload allocates, frees and
// reallocates indices (chosen from what the file holds, so the same
// transactions replayed on an in-memory store give the same data area) and
// stores n as header value 7.
//   - Crash simulation: the workload is cut before every backend operation,
//     under a process crash and under power loss; each image must reopen to
//     the data area after the last acknowledged commit or the next one, and
//     pass the journal, block and index checks.
//   - kill -9: a forked driver runs the workload on a real file and reports
//     each commit; it is killed at random moments (BRINDLEWORK_KILL_RUNS
//     runs, default 200), and every reopen shows commit N or N + 1.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "core/sweep_test_support.h"
#include "database/block_layout_check_test_support.h"
#include "database/block_open.h"
#include "database/indexed_block_file.h"
#include "database/journal_test_support.h"
#include "database/kill_harness_test_support.h"
#include "database/memory_block_store.h"

namespace bw::testing_journal {
namespace {

using soupcheck::Expect;

// Transaction n of the workload, on any heap and index.
void allocatorTransaction(int64_t n, BlockHeap& heap, BlockIndex& index) {
  std::mt19937 random(static_cast<uint32_t>(n));
  BlockTransaction tx(heap.store());
  for (int op = 0; op < 4; ++op) {
    auto i = static_cast<int32_t>(1 + random() % static_cast<uint32_t>(index.arraySize() - 14));
    bool allocated = index.infoBlockOfIndex(i, true) != 0;
    uint32_t r = random() % 10;
    if (r < 5) {
      auto size = static_cast<int32_t>(random() % (r == 0 ? 6000 : 300));
      IndexedBlock b = index.allocateIndexBlock(size, true);
      std::vector<uint8_t> bytes(static_cast<size_t>(size), static_cast<uint8_t>(n));
      if (size > 0) heap.store().writeData(b.dataPosition, bytes.data(), size);
    } else if (r < 8 && allocated) {
      index.deallocateIndex(i);
    } else if (allocated) {
      index.reallocateIndex(i, static_cast<int32_t>(random() % 500), true, 16);
    }
  }
  index.setHeaderValue(7, n);
  tx.finish();
}

// The data area after transactions 1 .. count, replayed in memory.
std::vector<uint8_t> replay(int64_t count) {
  MemoryBlockStore store;
  BlockHeap heap(store);
  BlockIndex index(heap);
  openIndexedHeap(heap, index, true, "replay");
  for (int64_t n = 1; n <= count; ++n) allocatorTransaction(n, heap, index);
  return store.committed();
}

class IndexedCrashTest : public JournalTest {
 protected:
  struct Run {
    int64_t acknowledged = 0;
    bool crashed = false;
    std::shared_ptr<CrashingIoBackend> backend = std::make_shared<CrashingIoBackend>();
  };
  // The workload on a fresh backend holding a new indexed file.
  Run runUntil(int64_t k, int64_t transactions) {
    Run run;
    run.backend->setImage(native("soup"), start_);
    run.backend->crashBefore(k);
    try {
      auto f = std::make_unique<cJournaledIndexedBlockFile>();
      f->newFile(0, 0);
      f->setIoBackend(run.backend);
      EXPECT_TRUE(f->open(Text(internal("soup")), false, false, false));
      for (int64_t n = 1; n <= transactions; ++n) {
        allocatorTransaction(n, f->heap(), f->index());
        run.acknowledged = n;
      }
      f->close();
    } catch (const SimulatedCrash&) {
      run.crashed = true;
    }
    return run;
  }
  void expectRecovers(const std::vector<uint8_t>& image, int64_t acknowledged, const std::string& what) {
    SCOPED_TRACE(what);
    soupcheck::Report r = soupcheck::check(image, Expect::kCrashed);
    ASSERT_TRUE(r.clean()) << soupcheck::describe(r);
    auto reopened = std::make_shared<CrashingIoBackend>();
    reopened->setImage(native("soup"), image);
    cJournaledIndexedBlockFile f;
    f.newFile(0, 0);
    f.setIoBackend(reopened);
    ASSERT_TRUE(f.open(Text(internal("soup")), false, false, false)) << f.infoError().view();
    std::vector<uint8_t> data = readAllData(f);
    EXPECT_EQ(data, r.effectiveData) << "open disagrees with the checker";
    ASSERT_EQ(testing_blocks::checkIndex(data), std::vector<std::string>{});
    bool atI = data == states_[static_cast<size_t>(acknowledged)];
    bool atNext = static_cast<size_t>(acknowledged) + 1 < states_.size() &&
                  data == states_[static_cast<size_t>(acknowledged) + 1];
    EXPECT_TRUE(atI || atNext) << "neither commit " << acknowledged << " nor the next";
    allocatorTransaction(acknowledged + 100, f.heap(), f.index());
    f.close();
    soupcheck::Report after = soupcheck::check(reopened->image(native("soup")), Expect::kClosed);
    EXPECT_TRUE(after.clean()) << soupcheck::describe(after);
    EXPECT_EQ(testing_blocks::checkIndex(after.effectiveData), std::vector<std::string>{});
  }

  std::vector<std::vector<uint8_t>> states_;  // after 0, 1, ... transactions
  std::vector<uint8_t> start_;
};

TEST_F(IndexedCrashTest, EveryCrashPointOfAnAllocatorWorkloadRecovers) {
  constexpr int64_t kTransactions = 12;
  for (int64_t n = 0; n <= kTransactions; ++n) states_.push_back(replay(n));
  {
    auto f = std::make_unique<cJournaledIndexedBlockFile>();
    f->newFile(0, 0);
    f->setIoBackend(backend);
    ASSERT_TRUE(f->open(Text(internal("start")), false, false, false));
    f->close();
    start_ = image("start");
  }
  Run full = runUntil(-1, kTransactions);
  ASSERT_FALSE(full.crashed);
  const int64_t total = full.backend->opCount();
  ASSERT_GT(total, 30);
  for (int64_t k = 0; k < total; ++k) {
    Run run = runUntil(k, kTransactions);
    ASSERT_TRUE(run.crashed) << k;
    std::string where = "crash before op " + std::to_string(k);
    expectRecovers(run.backend->image(native("soup")), run.acknowledged, where + " (process)");
    for (uint64_t v = 0; v < 8; ++v) {
      expectRecovers(run.backend->powerLossImage(native("soup"), static_cast<uint64_t>(k) * 131 + v),
                     run.acknowledged, where + " (power loss " + std::to_string(v) + ")");
    }
    if (HasFatalFailure()) return;
  }
}

[[noreturn]] void driver(const std::string& path, int reportFd) {
  cJournaledIndexedBlockFile f;
  f.newFile(0, 0);
  if (!f.open(Text(path), false, false, false)) ::_exit(3);
  for (int64_t n = 1;; ++n) {
    allocatorTransaction(n, f.heap(), f.index());
    std::string line = "committed " + std::to_string(n) + "\n";
    if (::write(reportFd, line.data(), line.size()) < 0) ::_exit(4);
  }
}

TEST_F(JournalTest, KillNineDuringAnAllocatorWorkloadLeavesCommitNOrTheNext) {
  const auto runs = static_cast<int>(testing::sweepCount("BRINDLEWORK_KILL_RUNS", 60, 200));
  std::mt19937_64 random(11);
  const std::string path = internal("killed.soup");
  std::vector<std::vector<uint8_t>> states = {replay(0)};
  int runsWithCommits = 0;
  for (int run = 0; run < runs; ++run) {
    std::filesystem::remove(tree.host("killed.soup"));
    {
      cJournaledIndexedBlockFile fresh;
      fresh.newFile(0, 0);
      ASSERT_TRUE(fresh.open(Text(path), false, false, false));
      fresh.close();
    }
    int64_t last = runAndKill(run, random, [&](int reportFd) { driver(path, reportFd); });
    runsWithCommits += last > 0 ? 1 : 0;
    while (static_cast<int64_t>(states.size()) <= last + 1) states.push_back(replay(static_cast<int64_t>(states.size())));
    cJournaledIndexedBlockFile f;
    f.newFile(0, 0);
    ASSERT_TRUE(f.open(Text(path), false, false, false)) << f.infoError().view();
    std::vector<uint8_t> data = readAllData(f);
    f.close();
    ASSERT_TRUE(data == states[static_cast<size_t>(last)] || data == states[static_cast<size_t>(last) + 1])
        << "run " << run << ": neither commit " << last << " nor the next";
    std::string all = testing_paths::readAll(tree.host("killed.soup"));
    soupcheck::Report r = soupcheck::check(std::vector<uint8_t>(all.begin(), all.end()), Expect::kClosed);
    ASSERT_TRUE(r.clean()) << soupcheck::describe(r);
    ASSERT_EQ(testing_blocks::checkIndex(r.effectiveData), std::vector<std::string>{});
  }
  EXPECT_GE(runsWithCommits, runs / 2);
}

}  // namespace
}  // namespace bw::testing_journal
