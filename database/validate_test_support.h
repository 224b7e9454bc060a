// database/validate_test_support.h - a block heap and its index over an
// in-memory store, with raw patches (written beside the heap, as damage
// would be) and validation runs whose printed lines are captured.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "database/block_layout_check_test_support.h"
#include "database/block_validate.h"
#include "database/index_validate.h"
#include "database/memory_block_store.h"

namespace bw::testing {

class HeapFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    store.setDiscardHook([this] {
      heap.reloadMirrors();
      index.reloadMirrors();
    });
    heap.createHeader();
  }

  // Raw writes, committed, then the mirrors reread as an open would.
  void patch32(int64_t position, uint32_t value) {
    BlockTransaction tx(store);
    heap.write32(position, value);
    tx.finish();
    reload();
  }
  void patch64(int64_t position, int64_t value) {
    BlockTransaction tx(store);
    heap.writeWord(position, value);
    tx.finish();
    reload();
  }
  void setSize(int64_t size) {
    BlockTransaction tx(store);
    store.setDataSize(size);
    tx.finish();
  }
  void reload() {
    heap.reloadMirrors();
    if (indexed) index.reloadMirrors();
  }
  int64_t headerWord(int32_t w) { return heap.readWord(int64_t{w} * 8); }

  struct Run {
    bool valid;
    bool repaired;
    std::string out;
    std::vector<int64_t> set;  // the used-block set's keys, in set order
  };
  static std::vector<int64_t> keys(ValidationSet* set) {
    std::vector<int64_t> out;
    if (!set) return out;
    for (bool more = set->gotoFirst(); more; more = set->gotoNext()) {
      out.push_back(static_cast<int64_t>(static_cast<uint32_t>(set->infoCurrent().key)));
    }
    return out;
  }
  Run validateBlocks(bool repair, bool collect = true) {
    ::testing::internal::CaptureStdout();
    ValidationResult v = validateBlockHeap(heap, true, repair, collect);
    std::string out = ::testing::internal::GetCapturedStdout();
    return {v.valid, v.repaired, out, keys(v.blocks.get())};
  }
  Run validateIndex(bool repair, bool keepSets = true) {
    ::testing::internal::CaptureStdout();
    ValidationResult v = validateIndexedHeap(heap, index, true, repair, keepSets);
    std::string out = ::testing::internal::GetCapturedStdout();
    lastIndices = keys(v.indices.get());
    lastBlocksKept = v.blocks != nullptr;
    return {v.valid, v.repaired, out, keys(v.blocks.get())};
  }
  std::vector<std::string> layoutFindings() {
    return indexed ? testing_blocks::checkIndex(store.current()) : testing_blocks::checkBlocks(store.current());
  }

  MemoryBlockStore store;
  BlockHeap heap{store};
  BlockIndex index{heap};
  bool indexed = false;
  std::vector<int64_t> lastIndices;
  bool lastBlocksKept = false;
};

}  // namespace bw::testing
