// database/journal_kill_test.cpp - the kill -9 harness: a forked driver
// commits numbered, seeded transactions to a real file and reports
// "committed N" on a pipe; the harness kills it with SIGKILL at a random
// moment, reopens the file and expects commit N or N + 1, and a clean check.
// BRINDLEWORK_KILL_RUNS sets the number of runs (default 500).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>

#include "core/sweep_test_support.h"
#include "database/journal_test_support.h"
#include "database/kill_harness_test_support.h"
#include "database/journal_workload_test_support.h"

namespace bw::testing_journal {
namespace {

using soupcheck::Expect;

// Transaction n of the driver: a new size, a patterned block and the
// number n itself in the first eight bytes.
void transactionContents(int64_t n, JournalModel* model, cJournaledFile* f) {
  int64_t size = 1000 + (n * 7919) % 5000;
  int64_t position = (n * 104729) % size;
  std::vector<uint8_t> block(static_cast<size_t>(std::min<int64_t>(700, size - position)));
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(n + static_cast<int64_t>(i));
  std::vector<uint8_t> number(8);
  putBig64(number.data(), n);
  if (model) {
    model->setSize(size);
    model->write(position, block);
    model->write(0, number);
    model->commit();
  }
  if (f) {
    JournalTransaction t(*f);
    f->setSize(size);
    f->setPosition(position);
    f->write(block.data(), static_cast<int64_t>(block.size()), 0, false);
    f->setPosition(0);
    f->write(number.data(), 8, 0, false);
  }
}

[[noreturn]] void driver(const std::string& path, int reportFd) {
  cJournaledFile f;
  f.newFile(0, 0);
  if (!f.open(Text(path), false, false, false)) ::_exit(3);
  for (int64_t n = 1;; ++n) {
    transactionContents(n, nullptr, &f);
    std::string line = "committed " + std::to_string(n) + "\n";
    if (::write(reportFd, line.data(), line.size()) < 0) ::_exit(4);
  }
}

TEST_F(JournalTest, KillNineAtRandomMomentsLeavesCommitNOrTheNext) {
  const auto runs = static_cast<int>(testing::sweepCount("BRINDLEWORK_KILL_RUNS", 150, 500));
  std::mt19937_64 random(2024);
  const std::string path = internal("killed.soup");
  int64_t totalCommits = 0;
  int runsWithCommits = 0;
  for (int run = 0; run < runs; ++run) {
    std::filesystem::remove(tree.host("killed.soup"));
    {
      cJournaledFile fresh;
      fresh.newFile(0, 0);
      ASSERT_TRUE(fresh.open(Text(path), false, false, false));
      fresh.close();
    }
    int64_t last = runAndKill(run, random, [&](int reportFd) { driver(path, reportFd); });
    totalCommits += last;
    runsWithCommits += last > 0 ? 1 : 0;
    JournalModel model;
    for (int64_t n = 1; n <= last; ++n) transactionContents(n, &model, nullptr);
    std::vector<uint8_t> atN = model.committed();
    transactionContents(last + 1, &model, nullptr);

    cJournaledFile f;
    f.newFile(0, 0);
    ASSERT_TRUE(f.open(Text(path), false, false, false)) << f.infoError().view();
    std::vector<uint8_t> data = readAllData(f);
    ASSERT_TRUE(data == atN || data == model.committed()) << "run " << run << ": neither commit " << last
                                                           << " nor the next";
    f.close();
    std::string all = testing_paths::readAll(tree.host("killed.soup"));
    expectChecked(std::vector<uint8_t>(all.begin(), all.end()), Expect::kClosed);
  }
  // The kills fall among the commits, not only before the first.
  EXPECT_GE(runsWithCommits, runs / 2);
  std::printf("%d runs, %ld commits reported\n", runs, static_cast<long>(totalCommits));
}

}  // namespace
}  // namespace bw::testing_journal
