// platform/huge_pages_test.cpp - the huge-page block pool against a model of
// the blocks in use: never one block twice, each whole inside its region,
// empty regions given back, and releases from other threads.
#include "platform/huge_pages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace bw {
namespace {

TEST(HugePagePool, BlocksInUseNeverOverlapAndEmptyRegionsGoBack) {
  for (size_t size : {size_t{64}, size_t{65600}, size_t{700000}}) {
    HugePagePool pool(size, 1);
    std::map<uintptr_t, uint8_t> inUse;  // block start -> the byte it was filled with
    std::mt19937 rng(static_cast<uint32_t>(size));
    const size_t most = 3 * pool.blocksPerRegion() + 5;
    for (int step = 0; step < 4000; ++step) {
      if (inUse.size() < most && (inUse.empty() || rng() % 3 != 0)) {
        auto* block = static_cast<uint8_t*>(pool.allocate());
        const auto at = reinterpret_cast<uintptr_t>(block);
        ASSERT_EQ(at % 64, 0u);
        const uintptr_t region = at & ~(HugePagePool::kRegionBytes - 1);
        ASSERT_LE(at + pool.blockBytes(), region + HugePagePool::kRegionBytes);
        auto next = inUse.lower_bound(at);
        ASSERT_TRUE(next == inUse.end() || next->first >= at + pool.blockBytes()) << "overlaps a block in use";
        if (next != inUse.begin()) {
          ASSERT_LE(std::prev(next)->first + pool.blockBytes(), at);
        }
        const auto fill = static_cast<uint8_t>(step);
        std::memset(block, fill, pool.blockBytes());
        inUse[at] = fill;
      } else {
        auto it = inUse.begin();
        std::advance(it, rng() % inUse.size());
        const auto* block = reinterpret_cast<const uint8_t*>(it->first);
        // No other block's use wrote over this one.
        ASSERT_EQ(block[0], it->second);
        ASSERT_EQ(block[pool.blockBytes() - 1], it->second);
        pool.release(const_cast<uint8_t*>(block));
        inUse.erase(it);
      }
      std::set<uintptr_t> holding;  // regions with a block in use; one empty one is kept
      for (auto& [at, fill] : inUse) holding.insert(at & ~(HugePagePool::kRegionBytes - 1));
      ASSERT_LE(pool.regions(), holding.size() + 1);
    }
    ASSERT_EQ(HugePagePool::bytesInUse(), inUse.size() * pool.blockBytes());
    for (auto& [at, fill] : inUse) pool.release(reinterpret_cast<void*>(at));
    EXPECT_EQ(HugePagePool::bytesInUse(), 0u);
    EXPECT_EQ(pool.regions(), 1u) << "one empty region is kept, size " << size;
  }
}

TEST(HugePagePool, BlocksReleasedOnOtherThreadsAreReused) {
  HugePagePool pool(65600, 2);
  std::vector<void*> blocks;
  for (size_t i = 0; i < 2 * pool.blocksPerRegion(); ++i) blocks.push_back(pool.allocate());
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (size_t i = t; i < blocks.size(); i += 4) pool.release(blocks[i]);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(pool.regions(), 2u) << "both empty regions are kept";
  std::vector<void*> again;
  for (size_t i = 0; i < 2 * pool.blocksPerRegion(); ++i) again.push_back(pool.allocate());
  EXPECT_EQ(pool.regions(), 2u) << "and reused";
  for (void* block : again) pool.release(block);
}

}  // namespace
}  // namespace bw
