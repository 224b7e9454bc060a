// database/soup_kill_test.cpp - the kill -9 harness on the soup: a forked
// driver commits numbered soup and list transactions to a real file and
// reports "committed N" on a pipe; the harness kills it with SIGKILL at a
// random moment, reopens the database and expects needs-repair, commit N or
// N + 1, and clean checker levels. BRINDLEWORK_SOUP_KILL_RUNS sets the
// number of runs (default 100). The fork, the kill and the report are the
// shared harness run (kill_harness_test_support.h).
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "core/sweep_test_support.h"
#include "database/journal_test_support.h"
#include "database/kill_harness_test_support.h"
#include "database/soup_crash_workload_test_support.h"
#include "tools/soupcheck/block_level.h"
#include "tools/soupcheck/soup_level.h"

namespace bw {
namespace {

using soupcheck::Expect;

[[noreturn]] void driver(const std::string& path, int reportFd) {
  cJournaledIndexedObjectSoupDatabase db(0);
  if (!db.open(Text(path), false)) ::_exit(3);
  for (int64_t n = 1;; ++n) {
    testing::crashTransaction(db, n);
    std::string line = "committed " + std::to_string(n) + "\n";
    if (::write(reportFd, line.data(), line.size()) < 0) ::_exit(4);
  }
}

class SoupKillTest : public testing_journal::JournalTest {};

TEST_F(SoupKillTest, KillNineLeavesCommitNOrTheNext) {
  const auto runs = static_cast<int>(testing::sweepCount("BRINDLEWORK_SOUP_KILL_RUNS", 40, 100));
  std::mt19937_64 random(77);
  const std::string path = internal("killed.soup");
  int runsWithCommits = 0;
  for (int run = 0; run < runs; ++run) {
    std::filesystem::remove(tree.host("killed.soup"));
    {
      cJournaledIndexedObjectSoupDatabase fresh(0);
      ASSERT_TRUE(fresh.open(Text(path), false));
      testing::setUpCrashWorkload(fresh);
      fresh.close();
    }
    int64_t last = testing_journal::runAndKill(run, random, [&](int reportFd) { driver(path, reportFd); });
    runsWithCommits += last > 0 ? 1 : 0;

    std::string all = testing_paths::readAll(tree.host("killed.soup"));
    soupcheck::Report r = soupcheck::check(std::vector<uint8_t>(all.begin(), all.end()), Expect::kCrashed);
    ASSERT_TRUE(r.clean()) << soupcheck::describe(r);
    for (auto& f : soupcheck::checkIndexLevel(r.effectiveData)) ADD_FAILURE() << "run " << run << ": " << f;
    for (auto& f : soupcheck::checkSoupLevel(r.effectiveData).findings) ADD_FAILURE() << "run " << run << ": " << f;
    cJournaledIndexedObjectSoupDatabase db(0);
    ASSERT_TRUE(db.open(Text(path), false)) << db.infoError().view();
    int64_t shown = testing::shownCommit(db);
    ASSERT_TRUE(shown == last || shown == last + 1) << "run " << run << ": commit " << shown << ", reported " << last;
    if (last > 0) {
      EXPECT_TRUE(db.infoNeedsRepair()) << "run " << run;
    }
    db.close();
  }
  // Most kills fall among the commits, not before the first (a loaded
  // machine may delay a few first commits past the wait).
  EXPECT_GE(runsWithCommits, runs / 4);
}

}  // namespace
}  // namespace bw
