// fuzz/fuzz_validate.cpp - opens arbitrary bytes as the data area of an
// indexed block file, validates it with repair while a run answers invalid
// but repaired (at most five runs, as the application does), and when it
// is valid, moves blocks chosen by the input as compaction would. Then:
//   - nothing may escape validation, and every run must end;
//   - a file that validation calls valid must pass the independent layout
//     check (beside the tolerated free-block imperfections named below)
//     before and after the moves, and validate clean again.
//
// Input: 8 operation bytes, then the data area (the corpus of
// fuzz_indexed_open fits).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/exception.h"
#include "database/block_layout_check_test_support.h"
#include "database/block_move.h"
#include "database/block_open.h"
#include "database/block_walk.h"
#include "database/index_validate.h"
#include "fuzz/fuzz_indexed_heap.h"

namespace {

// Validation relinks a block damaged into a free one but neither merges nor
// cuts it; the allocator tolerates both. Entries 0 and 1 (version and
// header count) are open's to judge, not validation's, and validation lets
// the array block hold up to 4 entries more than arraySize where the
// checker allows 3.
void expectClean(bw::fuzzing::CappedStore& store, const char* when) {
  for (const std::string& f : bw::testing_blocks::checkIndex(store.current())) {
    if (f.rfind("adjacent free blocks", 0) == 0 || f.rfind("free block marked last", 0) == 0 ||
        f.rfind("index entry 0", 0) == 0 || f.rfind("index entry 1 ", 0) == 0 ||
        f.rfind("arraySize", 0) == 0) {
      continue;
    }
    std::fprintf(stderr, "%s: %s\n", when, f.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!bw::fuzzing::usableIndexedInput(size)) return 0;
  bw::fuzzing::IndexedHeap file(data, size);
  auto& [store, heap, index] = file;
  try {
    // Current layouts only: the upgrade of an older array at open is not
    // validation's, and on damaged entries it writes where they point.
    if (store.dataSize() >= bw::FIRST_BLOCK_POS + 16) {
      int64_t array = heap.readWord(8);
      if (array > 0 && array < store.dataSize() && heap.readWord(array + 8) != bw::kIndexSpecialCount) return 0;
    }
    if (!bw::openIndexedHeap(heap, index, false, "fuzz")) return 0;
  } catch (const bw::eException&) {
    return 0;
  }
  bool valid = false;
  for (int run = 0; run < 5; ++run) {
    // FUZZ_VERBOSE prints the findings of the repair runs.
    bw::ValidationResult r = bw::validateIndexedHeap(heap, index, std::getenv("FUZZ_VERBOSE") != nullptr, true, false);
    if (store.openTransactions() != 0) std::abort();
    valid = r.valid;
    if (r.valid || !r.repaired) break;
  }
  if (!valid) return 0;
  expectClean(store, "after repair");
  try {
    for (size_t k = 0; k < bw::fuzzing::kOperationBytes; ++k) {
      std::vector<int64_t> used;
      for (int64_t h = bw::infoFirstBlock(heap); h != 0; h = bw::infoNextUsedBlock(heap, h)) used.push_back(h);
      if (used.empty()) break;
      int64_t block = used[data[k] % used.size()];
      int64_t desired = (data[k] & 0x80) ? used[(data[k] >> 2) % used.size()] : 0;
      bw::moveIndexedBlock(heap, index, block, desired);
    }
    store.flush();
  } catch (const bw::eException&) {
    return 0;  // a damaged block the checks let through; the moves refused it
  }
  expectClean(store, "after moves");
  bw::ValidationResult again = bw::validateIndexedHeap(heap, index, false, false, false);
  if (!again.valid) std::abort();
  return 0;
}
