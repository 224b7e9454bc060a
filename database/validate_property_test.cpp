// database/validate_property_test.cpp - seeded properties of validation and
// block moves on an indexed heap: random moves keep every index finding its
// data and the layout clean; random damage to a heap is either refused or
// repaired into a layout the independent checker accepts, and no run ever
// raises or fails to end.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "database/block_move.h"
#include "database/block_walk.h"
#include "database/validate_test_support.h"

namespace bw {
namespace {

class ValidatePropertyTest : public testing::HeapFixture {
 protected:
  void SetUp() override {
    HeapFixture::SetUp();
    index.createIndex();
    indexed = true;
  }
  // Random allocations and frees; the model maps each live index to the
  // first byte of its data.
  void workload(int operations) {
    for (int k = 0; k < operations; ++k) {
      if (model.empty() || rng() % 3 != 0) {
        auto size = static_cast<int32_t>(1 + rng() % 300);
        IndexedBlock b = index.allocateIndexBlock(size, true);
        auto mark = static_cast<uint8_t>(rng());
        BlockTransaction tx(store);
        store.writeData(b.dataPosition, &mark, 1);
        tx.finish();
        model[b.index] = mark;
      } else {
        auto it = model.begin();
        std::advance(it, static_cast<long>(rng() % model.size()));
        index.deallocateIndex(it->first);
        model.erase(it);
      }
    }
    store.flush();
  }
  void expectModel() {
    for (auto [i, mark] : model) {
      uint8_t b = 0;
      store.readData(index.infoBlockOfIndex(i, false), &b, 1);
      ASSERT_EQ(b, mark) << "index " << i;
    }
  }

  std::mt19937 rng{12345};
  std::map<int32_t, uint8_t> model;
};

TEST_F(ValidatePropertyTest, RandomMovesKeepEveryIndexAndACleanLayout) {
  for (int round = 0; round < 40; ++round) {
    workload(60);
    // Compaction-like steps: every used block with free space before it,
    // now and then with a desired block picked at random.
    std::vector<int64_t> used;
    for (int64_t h = infoFirstBlock(heap); h != 0; h = infoNextUsedBlock(heap, h)) used.push_back(h);
    for (int64_t h = infoFirstBlock(heap); h != 0;) {
      int64_t next = infoNextUsedBlock(heap, h);
      int64_t desired = rng() % 4 == 0 ? used[rng() % used.size()] : 0;
      if (desired != 0 || infoFreeSizeBefore(heap, h) > 0) {
        MovedBlock m = moveIndexedBlock(heap, index, h, desired);
        if (m.placed && desired == next) next = infoNextUsedBlock(heap, h);
        used.clear();
        for (int64_t u = infoFirstBlock(heap); u != 0; u = infoNextUsedBlock(heap, u)) used.push_back(u);
      }
      h = next;
    }
    store.flush();
    ASSERT_EQ(layoutFindings(), std::vector<std::string>{}) << "round " << round;
    expectModel();
    Run r = validateIndex(false);
    ASSERT_TRUE(r.valid) << r.out;
    ASSERT_EQ(r.out, "");
  }
}

TEST_F(ValidatePropertyTest, DamageIsRepairedOrRefusedAndNeverRaises) {
  workload(150);
  std::vector<uint8_t> good = store.committed();
  int repairedClean = 0;
  for (int round = 0; round < 1500; ++round) {
    store.replaceCommitted(good);
    reload();
    // One to three damaged words in the block area, the array or the header.
    int hits = 1 + static_cast<int>(rng() % 3);
    for (int k = 0; k < hits; ++k) {
      int64_t at;
      switch (rng() % 4) {
        case 0: {  // header words, but not the version and class count (open refuses those)
          int64_t word = 1 + static_cast<int64_t>(rng() % 1061);
          at = 8 * (word == 4 ? 5 : word);
          break;
        }
        // entries from 2 on (open itself refuses a wrong version or header count)
        case 1: at = index.arrayBlock() + 8 * static_cast<int64_t>(2 + rng() % 126); break;
        default: at = FIRST_BLOCK_POS + 4 * static_cast<int64_t>(rng() % ((good.size() - FIRST_BLOCK_POS) / 4));
      }
      if (at >= index.arrayBlock() && at < index.arrayBlock() + 16) at = index.arrayBlock() + 16;
      uint32_t value = rng() % 2 ? static_cast<uint32_t>(rng()) : static_cast<uint32_t>(rng() % 20000);
      patch32(at, value);
    }
    std::string trace;
    bool valid = false;
    for (int run = 0; run < 5; ++run) {
      ::testing::internal::CaptureStdout();
      ValidationResult v = validateIndexedHeap(heap, index, true, true, false);
      trace += ::testing::internal::GetCapturedStdout();
      ASSERT_EQ(store.openTransactions(), 0);
      valid = v.valid;
      if (v.valid || !v.repaired) break;
    }
    if (!valid) continue;
    store.flush();
    // A used block damaged into a free one may lie beside another free
    // block, or be the last block: validation relinks it but neither merges
    // nor cuts, which the allocator tolerates.
    std::vector<std::string> findings;
    for (const std::string& f : layoutFindings()) {
      if (f.rfind("adjacent free blocks", 0) != 0 && f.rfind("free block marked last", 0) != 0) findings.push_back(f);
    }
    ASSERT_EQ(findings, std::vector<std::string>{}) << "round " << round << "\n" << trace;
    ++repairedClean;
  }
  EXPECT_GT(repairedClean, 500);
}

}  // namespace
}  // namespace bw
