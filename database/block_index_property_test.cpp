// database/block_index_property_test.cpp - 100,000 seeded operations on the
// heap and the index against an in-memory model: blocks and index arrays
// allocated, reallocated, preallocated and freed, payloads written and read,
// nested transactions, exceptions inside guarded scopes, flushes and
// reopens. The layout check runs every 1,000 operations and after each
// reopen, the cached entries against the stored ones after each operation.
// The operations run on the heap and index over memory (100,000) and on the
// indexed block file over the journaled file (20,000), where the journal
// check runs as well.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <tuple>

#include "core/exception.h"
#include "core/sweep_test_support.h"
#include "database/block_index.h"
#include "database/block_layout_check_test_support.h"
#include "database/indexed_block_file.h"
#include "database/journal_test_support.h"
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

// What the operations run on: the heap and index over memory, or the
// indexed block file over the journaled file's in-memory backend.
class Target {
 public:
  virtual ~Target() = default;
  virtual BlockHeap& heap() = 0;
  virtual BlockIndex& index() = 0;
  BlockStore& store() { return heap().store(); }
  virtual int openTransactions() = 0;
  virtual void reopen() = 0;
  // Every finding of the checks that apply (empty when clean).
  virtual std::vector<std::string> check() = 0;
};

class MemoryTarget : public Target {
 public:
  MemoryTarget() {
    store_.setDiscardHook([this] {
      heap_->reloadMirrors();
      index_->reloadMirrors();
    });
    heap_->createHeader();
    index_->createIndex();
  }
  BlockHeap& heap() override { return *heap_; }
  BlockIndex& index() override { return *index_; }
  int openTransactions() override { return store_.openTransactions(); }
  void reopen() override {
    store_.flush();
    store_.replaceCommitted(store_.committed());
    heap_ = std::make_unique<BlockHeap>(store_);
    index_ = std::make_unique<BlockIndex>(*heap_);
    heap_->loadHeader();
    heap_->checkHeader();
    index_->openIndex();
    EXPECT_TRUE(index_->admitAtOpen("memory"));
  }
  std::vector<std::string> check() override { return testing_blocks::checkIndex(store_.committed()); }

 private:
  MemoryBlockStore store_;
  std::unique_ptr<BlockHeap> heap_ = std::make_unique<BlockHeap>(store_);
  std::unique_ptr<BlockIndex> index_ = std::make_unique<BlockIndex>(*heap_);
};

class JournalTarget : public Target {
 public:
  JournalTarget(std::string internal, std::string native) : internal_(std::move(internal)), native_(std::move(native)) {
    open();
  }
  BlockHeap& heap() override { return file_->heap(); }
  BlockIndex& index() override { return file_->index(); }
  int openTransactions() override { return file_->infoTransactionDepth(); }
  void reopen() override {
    file_->close();
    open();
  }
  std::vector<std::string> check() override {
    soupcheck::Report r = soupcheck::check(backend_->image(native_), soupcheck::Expect::kOpen);
    if (!r.clean()) return r.findings;
    return testing_blocks::checkIndex(r.effectiveData);
  }

 private:
  void open() {
    file_ = std::make_unique<cJournaledIndexedBlockFile>();
    file_->newFile(0, 0);
    file_->setIoBackend(backend_);
    EXPECT_TRUE(file_->open(Text(internal_), false, false, false));
  }
  std::string internal_, native_;
  std::shared_ptr<CrashingIoBackend> backend_ = std::make_shared<CrashingIoBackend>();
  std::unique_ptr<cJournaledIndexedBlockFile> file_;
};

class IndexPropertyTest : public testing_journal::JournalTest {
 protected:
  void check(const char* when) { ASSERT_EQ(target->check(), std::vector<std::string>{}) << when; }
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
    BlockTransaction tx(target->store());
    target->store().writeData(position, bytes.data(), static_cast<int64_t>(bytes.size()));
    tx.finish();
  }
  void step(int depth);
  void checkEntries(bool all);
  void run(int operations);

  std::mt19937 rng{20261207};
  std::unique_ptr<Target> target;
  Model model;
};

void IndexPropertyTest::step(int depth) {
  uint32_t r = rng() % 100;
  // Keep a few hundred indices alive: frees win once there are many.
  if (model.blocks.size() + model.preallocated.size() > 400 && rng() % 2) r = 30;
  if (rng() % 2000 == 0) {
    // Free everything: the array shrinks back to 128 entries.
    for (const auto& entry : model.blocks) target->index().deallocateIndex(entry.first);
    for (int32_t i : model.preallocated) target->index().deallocateIndex(i);
    model = Model{};
    ASSERT_EQ(target->index().arraySize(), kIndexInitialSize);
    return;
  }
  if (r < 22) {
    int64_t size = randomSize();
    bool clear = rng() % 2;
    IndexedBlock b = target->index().allocateIndexBlock(static_cast<int32_t>(size), clear);
    ASSERT_EQ(b.capacity, target->index().infoSizeOfIndexBlock(b.dataPosition));
    std::vector<uint8_t> data = clear && rng() % 2 ? std::vector<uint8_t>(static_cast<size_t>(size)) : randomBytes(size);
    writePayload(b.dataPosition, data);
    ASSERT_FALSE(model.blocks.count(b.index) || model.preallocated.count(b.index));
    model.blocks[b.index] = data;
  } else if (r < 27) {
    int32_t count = static_cast<int32_t>(rng() % 40);
    IndexedBlock b = target->index().allocateIndexArray(count, true);
    model.blocks[b.index] = std::vector<uint8_t>(static_cast<size_t>(count) * 4);
  } else if (r < 42) {
    if (model.blocks.empty() && model.preallocated.empty()) return;
    bool pre = !model.preallocated.empty() && (model.blocks.empty() || rng() % 4 == 0);
    int32_t i = pre ? pick(model.preallocated) : pick(model.blocks);
    target->index().deallocateIndex(i);
    model.blocks.erase(i);
    model.preallocated.erase(i);
  } else if (r < 46) {
    model.preallocated.insert(target->index().preallocateIndex());
  } else if (r < 56) {
    bool pre = !model.preallocated.empty() && (model.blocks.empty() || rng() % 4 == 0);
    if (model.blocks.empty() && !pre) return;
    int32_t i = pre ? pick(model.preallocated) : pick(model.blocks);
    auto newSize = static_cast<int32_t>(randomSize());
    // The caller keeps no more than the old data hold.
    auto keep = static_cast<int32_t>(pre ? rng() % 300 : rng() % (model.blocks[i].size() + 1));
    int64_t d = target->index().reallocateIndex(i, newSize, true, keep);
    std::vector<uint8_t> data(static_cast<size_t>(newSize));
    if (!pre) {
      const auto& old = model.blocks[i];
      size_t n = std::min({old.size(), data.size(), static_cast<size_t>(keep)});
      std::copy(old.begin(), old.begin() + static_cast<int64_t>(n), data.begin());
    }
    model.preallocated.erase(i);
    model.blocks[i] = data;
    ASSERT_EQ(target->index().infoBlockOfIndex(i, false), d);
  } else if (r < 72) {
    if (model.blocks.empty()) return;
    int32_t i = pick(model.blocks);
    const auto& want = model.blocks[i];
    int64_t d = target->index().infoBlockOfIndex(i, false);
    ASSERT_GE(target->index().infoSizeOfIndexBlock(d), static_cast<int32_t>(want.size()));
    ASSERT_EQ(target->index().infoIndexOfBlock(d), i);
    std::vector<uint8_t> got(want.size());
    target->store().readData(d, got.data(), static_cast<int64_t>(got.size()));
    ASSERT_EQ(got, want) << "index " << i;
  } else if (r < 80) {
    if (model.blocks.empty()) return;
    int32_t i = pick(model.blocks);
    auto& data = model.blocks[i];
    if (data.empty()) return;
    int64_t at = rng() % data.size();
    std::vector<uint8_t> bytes = randomBytes(static_cast<int64_t>(rng() % (data.size() - static_cast<size_t>(at)) + 1));
    writePayload(target->index().infoBlockOfIndex(i, false) + at, bytes);
    std::copy(bytes.begin(), bytes.end(), data.begin() + at);
  } else if (r < 86 && depth < 3) {
    // A caller's transaction around a few operations, ended normally or by
    // an exception.
    bool fail = rng() % 3 == 0;
    Model before;
    if (depth == 0) before = model;  // the last commit
    try {
      BlockTransaction tx(target->store());
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
    EXPECT_THROW(target->index().deallocateIndex(i), eException);
  } else if (r < 93) {
    if (target->openTransactions() == 0) target->store().flush();
  } else if (r < 94) {
    if (target->openTransactions() == 0) {
      target->reopen();
      check("after a reopen");
    }
  }
}

// The entries read through the index answer as the stored ones: a few after
// each operation, all of them now and then.
void IndexPropertyTest::checkEntries(bool all) {
  BlockIndex& index = target->index();
  const int64_t size = index.arraySize();
  for (int k = 0; k < (all ? size - BLOCKINDEX_MIN : 4); ++k) {
    const int64_t e = all ? BLOCKINDEX_MIN + k : BLOCKINDEX_MIN + static_cast<int64_t>(rng() % (size - BLOCKINDEX_MIN));
    ASSERT_EQ(index.readEntry(e), target->heap().readArrayEntry(index.arrayBlock(), e)) << "entry " << e;
  }
}

void IndexPropertyTest::run(int operations) {
  for (int op = 1; op <= operations; ++op) {
    step(0);
    if (HasFatalFailure()) return;
    // The last block's header, where the heap knows it, is the stored one.
    blockRecord known, stored;
    if (target->heap().knownTail(known)) {
      ASSERT_TRUE(target->heap().readBlockHeader(stored, known.position, true)) << op;
      ASSERT_EQ(std::tie(known.size, known.isFree, known.nextBlock, known.prevBlock),
                std::tie(stored.size, stored.isFree, stored.nextBlock, stored.prevBlock)) << op;
    }
    checkEntries(op % 1000 == 0);
    if (HasFatalFailure()) return;
    if (op % 1000 == 0) {
      check("periodic");
      if (HasFatalFailure()) return;
    }
  }
  target->reopen();
  check("at the end");
  for (const auto& [i, data] : model.blocks) {
    std::vector<uint8_t> got(data.size());
    target->store().readData(target->index().infoBlockOfIndex(i, false), got.data(), static_cast<int64_t>(got.size()));
    ASSERT_EQ(got, data) << i;
  }
  for (int32_t i : model.preallocated) EXPECT_TRUE(target->index().infoIsPreallocated(i));
}

// 30,000 operations; 100,000 with BRINDLEWORK_FULL_SWEEPS=1.
TEST_F(IndexPropertyTest, SeededOperationsAgainstAModel) {
  target = std::make_unique<MemoryTarget>();
  run(static_cast<int>(testing::sweepCount(nullptr, 30000, 100000)));
}

// The same operations through the journaled file: the journal check joins
// the block and index checks.
TEST_F(IndexPropertyTest, OperationsOnTheJournaledFileAgainstAModel) {
  target = std::make_unique<JournalTarget>(internal("soup"), native("soup"));
  run(static_cast<int>(testing::sweepCount(nullptr, 6000, 20000)));
}

}  // namespace
}  // namespace bw
