// bench/child_run_test.cpp - the benchmarks' child measure: a child's peak is
// its own (what it touched, not what its parent holds), and its exit status
// and CPU time come back.
#include "bench/child_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace bw::bench {
namespace {

std::vector<std::string> environment() {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  return env;
}

// python3 touching every page of mib MiB, then ending at once: the peak
// comes at the very end, where sampling would miss it.
ChildRun touching(int mib) {
  return runMeasured({"python3", "-c", "b = b'x' * (" + std::to_string(mib) + " << 20)"}, environment());
}

TEST(ChildRun, ThePeakIsWhatTheChildTouched) {
  const ChildRun small = touching(16), large = touching(176);
  ASSERT_EQ(small.status, 0);
  ASSERT_EQ(large.status, 0);
  ASSERT_GE(small.peakMiB, 16) << "the peak could not be read (ptrace refused?)";
  EXPECT_LT(small.peakMiB, 16 + 48);  // the interpreter itself
  EXPECT_NEAR(large.peakMiB - small.peakMiB, 160, 12);
}

TEST(ChildRun, TheParentsMemoryIsNotTheChilds) {
  // The parent holds 256 MiB, touched; the child holds almost nothing.
  constexpr size_t kHeld = size_t{256} << 20;
  std::unique_ptr<char[]> held(new char[kHeld]);
  std::memset(held.get(), 1, kHeld);
  const ChildRun run = runMeasured({"/bin/sh", "-c", "exit 0"}, environment());
  EXPECT_EQ(run.status, 0);
  EXPECT_GT(run.peakMiB, 0);
  EXPECT_LT(run.peakMiB, 32);
  EXPECT_EQ(held[kHeld - 1], 1);
}

TEST(ChildRun, StatusCpuAndMissingPrograms) {
  EXPECT_EQ(runMeasured({"/bin/sh", "-c", "exit 3"}, environment()).status, 3);
  EXPECT_EQ(runMeasured({"/bin/sh", "-c", "kill -9 $$"}, environment()).status, 128 + 9);
  EXPECT_EQ(runMeasured({"/no/such/program"}, environment()).status, 127);
  const ChildRun busy = runMeasured({"python3", "-c", "n = 0\nfor i in range(3000000): n += i"}, environment());
  EXPECT_EQ(busy.status, 0);
  EXPECT_GT(busy.user, 0.05);
  EXPECT_GE(busy.wall, busy.user * 0.5);
}

}  // namespace
}  // namespace bw::bench
