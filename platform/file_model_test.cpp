// platform/file_model_test.cpp - cFile against a byte-vector model: seeded
// random reads, writes (some past the 4 MiB bypass), size changes, flushes,
// reopenings and chunk-size changes must agree byte for byte.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <random>

#include "platform/clock.h"
#include "core/sweep_test_support.h"
#include "platform/file_model_test_support.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

void runModel(uint64_t seed, int64_t operations, int64_t cap, int bigPerMille) {
  // Memory-backed scratch space when there is one: the model flushes often.
  if (::access("/dev/shm", W_OK) == 0) ::setenv("TMPDIR", "/dev/shm", 1);
  testing_paths::TempTree tree;
  initTimerDevice();
  setDefaultChunkSize(8);
  std::mt19937_64 rng(seed);
  auto next = [&](uint64_t bound) { return bound == 0 ? 0 : rng() % bound; };
  testing_model::FileModelRun run(tree.internal("model"), tree.host("model").string(), cap, bigPerMille);
  std::string difference;
  try {
    difference = run.run(next, operations);
  } catch (const eException& e) {
    difference = std::string("exception ") + e.what();
  }
  EXPECT_EQ(difference, "") << "seed " << seed;
}

// 25,000 operations; 100,000 with BRINDLEWORK_FULL_SWEEPS=1.
TEST(FileModel, SeededOperationsAgree) {
  runModel(20261207, testing::sweepCount("BW_MODEL_OPS", 25000, 100000), 16 << 20, 10);
}

TEST(FileModel, SmallFilesWithManyChunkChanges) {
  for (uint64_t seed = 1; seed <= 20; ++seed) runModel(seed, 3000, 4096, 0);
}

}  // namespace
}  // namespace bw
