// database/block_index_property_test.cpp - 100,000 seeded operations on the
// heap and the index against an in-memory model: blocks and index arrays
// allocated, reallocated, preallocated and freed, payloads written and read,
// nested transactions, exceptions inside guarded scopes, flushes and
// reopens. The layout check runs every 1,000 operations and after each
// reopen.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>

#include "core/exception.h"
#include "database/block_index.h"
#include "database/block_layout_check_test_support.h"
#include "database/memory_block_store.h"

namespace bw {
namespace {

struct Model {
  std::map<int32_t, std::vector<uint8_t>> blocks;  // index -> data
  std::set<int32_t> preallocated;
};

class CallerFailed : public std::runtime_error {
 public:
  CallerFailed() : std::runtime_error("caller failed") {}
};

class IndexPropertyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.setDiscardHook([this] {
      heap->reloadMirrors();
      index->reloadMirrors();
    });
    heap->createHeader();
    index->createIndex();
  }
  void reopen() {
    store.flush();
    store.replaceCommitted(store.committed());
    heap = std::make_unique<BlockHeap>(store);
    index = std::make_unique<BlockIndex>(*heap);
    heap->loadHeader();
    heap->checkHeader();
    index->openIndex();
    ASSERT_TRUE(index->admitAtOpen("memory"));
  }
  void check(const char* when) {
    ASSERT_EQ(testing_blocks::checkIndex(store.committed()), std::vector<std::string>{}) << when;
  }
  std::vector<uint8_t> randomBytes(int64_t n) {
    std::vector<uint8_t> v(static_cast<size_t>(n));
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
  }
  int64_t randomSize() {
    uint32_t r = rng() % 100;
    return r < 80 ? rng() % 200 : r < 98 ? rng() % 3000 : rng() % 40000;
  }
  template <typename Set>
  int32_t pick(const Set& s) {
    auto it = s.begin();
    std::advance(it, static_cast<int64_t>(rng() % s.size()));
    if constexpr (std::is_same_v<Set, std::set<int32_t>>) {
      return *it;
    } else {
      return it->first;
    }
  }
  void writePayload(int64_t position, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return;
    BlockTransaction tx(store);
    store.writeData(position, bytes.data(), static_cast<int64_t>(bytes.size()));
    tx.finish();
  }

  void step(int depth);

  std::mt19937 rng{20261207};
  MemoryBlockStore store;
  std::unique_ptr<BlockHeap> heap = std::make_unique<BlockHeap>(store);
  std::unique_ptr<BlockIndex> index = std::make_unique<BlockIndex>(*heap);
  Model model;
};

void IndexPropertyTest::step(int depth) {
  uint32_t r = rng() % 100;
  // Keep a few hundred indices alive: frees win once there are many.
  if (model.blocks.size() + model.preallocated.size() > 400 && rng() % 2) r = 30;
  if (rng() % 2000 == 0) {
    // Free everything: the array shrinks back to 128 entries.
    for (const auto& entry : model.blocks) index->deallocateIndex(entry.first);
    for (int32_t i : model.preallocated) index->deallocateIndex(i);
    model = Model{};
    ASSERT_EQ(index->arraySize(), kIndexInitialSize);
    return;
  }
  if (r < 22) {
    int64_t size = randomSize();
    bool clear = rng() % 2;
    IndexedBlock b = index->allocateIndexBlock(static_cast<int32_t>(size), clear);
    std::vector<uint8_t> data = clear && rng() % 2 ? std::vector<uint8_t>(static_cast<size_t>(size)) : randomBytes(size);
    writePayload(b.dataPosition, data);
    ASSERT_FALSE(model.blocks.count(b.index) || model.preallocated.count(b.index));
    model.blocks[b.index] = data;
  } else if (r < 27) {
    int32_t count = static_cast<int32_t>(rng() % 40);
    IndexedBlock b = index->allocateIndexArray(count, true);
    model.blocks[b.index] = std::vector<uint8_t>(static_cast<size_t>(count) * 4);
  } else if (r < 42) {
    if (model.blocks.empty() && model.preallocated.empty()) return;
    bool pre = !model.preallocated.empty() && (model.blocks.empty() || rng() % 4 == 0);
    int32_t i = pre ? pick(model.preallocated) : pick(model.blocks);
    index->deallocateIndex(i);
    model.blocks.erase(i);
    model.preallocated.erase(i);
  } else if (r < 46) {
    model.preallocated.insert(index->preallocateIndex());
  } else if (r < 56) {
    bool pre = !model.preallocated.empty() && (model.blocks.empty() || rng() % 4 == 0);
    if (model.blocks.empty() && !pre) return;
    int32_t i = pre ? pick(model.preallocated) : pick(model.blocks);
    auto newSize = static_cast<int32_t>(randomSize());
    // The caller keeps no more than the old data hold.
    auto keep = static_cast<int32_t>(pre ? rng() % 300 : rng() % (model.blocks[i].size() + 1));
    int64_t d = index->reallocateIndex(i, newSize, true, keep);
    std::vector<uint8_t> data(static_cast<size_t>(newSize));
    if (!pre) {
      const auto& old = model.blocks[i];
      size_t n = std::min({old.size(), data.size(), static_cast<size_t>(keep)});
      std::copy(old.begin(), old.begin() + static_cast<int64_t>(n), data.begin());
    }
    model.preallocated.erase(i);
    model.blocks[i] = data;
    ASSERT_EQ(index->infoBlockOfIndex(i, false), d);
  } else if (r < 72) {
    if (model.blocks.empty()) return;
    int32_t i = pick(model.blocks);
    const auto& want = model.blocks[i];
    int64_t d = index->infoBlockOfIndex(i, false);
    ASSERT_GE(index->infoSizeOfIndexBlock(d), static_cast<int32_t>(want.size()));
    ASSERT_EQ(index->infoIndexOfBlock(d), i);
    std::vector<uint8_t> got(want.size());
    store.readData(d, got.data(), static_cast<int64_t>(got.size()));
    ASSERT_EQ(got, want) << "index " << i;
  } else if (r < 80) {
    if (model.blocks.empty()) return;
    int32_t i = pick(model.blocks);
    auto& data = model.blocks[i];
    if (data.empty()) return;
    int64_t at = rng() % data.size();
    std::vector<uint8_t> bytes = randomBytes(static_cast<int64_t>(rng() % (data.size() - static_cast<size_t>(at)) + 1));
    writePayload(index->infoBlockOfIndex(i, false) + at, bytes);
    std::copy(bytes.begin(), bytes.end(), data.begin() + at);
  } else if (r < 86 && depth < 3) {
    // A caller's transaction around a few operations, ended normally or by
    // an exception.
    bool fail = rng() % 3 == 0;
    Model before;
    if (depth == 0) before = model;  // the last commit
    try {
      BlockTransaction tx(store);
      for (uint32_t k = rng() % 6; k > 0; --k) step(depth + 1);
      if (fail) throw CallerFailed();
      tx.finish();
    } catch (const CallerFailed&) {
      // A discard ends every open transaction: the failure reaches the
      // outermost caller, and everything since the last commit is gone.
      if (depth > 0) throw;
      model = std::move(before);
    }
  } else if (r < 90) {
    // Misuse is refused before anything changes.
    int32_t i = static_cast<int32_t>(rng() % 400) + 1;
    if (model.blocks.count(i) || model.preallocated.count(i)) return;
    EXPECT_THROW(index->deallocateIndex(i), eException);
  } else if (r < 93) {
    if (store.openTransactions() == 0) store.flush();
  } else if (r < 94) {
    if (store.openTransactions() == 0) {
      reopen();
      check("after a reopen");
    }
  }
}

TEST_F(IndexPropertyTest, HundredThousandOperationsAgainstAModel) {
  for (int op = 1; op <= 100000; ++op) {
    step(0);
    if (HasFatalFailure()) return;
    if (op % 1000 == 0) {
      check("periodic");
      if (HasFatalFailure()) return;
    }
  }
  reopen();
  check("at the end");
  for (const auto& [i, data] : model.blocks) {
    std::vector<uint8_t> got(data.size());
    store.readData(index->infoBlockOfIndex(i, false), got.data(), static_cast<int64_t>(got.size()));
    ASSERT_EQ(got, data) << i;
  }
  for (int32_t i : model.preallocated) EXPECT_TRUE(index->infoIsPreallocated(i));
}

}  // namespace
}  // namespace bw
