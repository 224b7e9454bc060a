// fuzz/fuzz_indexed_open.cpp - opens arbitrary bytes as the data area of an
// indexed block file, runs a few index operations chosen by the input, and
// flushes. Damage must surface as eException, never as a crash, a hang or
// unbounded memory.
//
// Input: 8 operation bytes, then the data area.
#include <cstdint>

#include "core/exception.h"
#include "database/block_open.h"
#include "fuzz/fuzz_indexed_heap.h"

namespace {

void runOperation(bw::BlockHeap& heap, bw::BlockIndex& index, uint8_t op) {
  int32_t i = (op >> 3) + 1;
  switch (op & 7) {
    case 0: index.allocateIndexBlock(op * 3, (op & 8) != 0); break;
    case 1: index.deallocateIndex(i); break;
    case 2: index.infoBlockOfIndex(i, true); break;
    case 3: index.reallocateIndex(i, op, true, 8); break;
    case 4: index.preallocateIndex(); break;
    case 5: index.infoIsPreallocated(i); break;
    case 6: heap.deallocate(index.infoBlockOfIndex(i, false) - 4); break;
    default: index.allocateIndexArray(op, true); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!bw::fuzzing::usableIndexedInput(size)) return 0;
  bw::fuzzing::IndexedHeap file(data, size);
  auto& [store, heap, index] = file;
  try {
    if (!bw::openIndexedHeap(heap, index, false, "fuzz")) return 0;
    for (size_t k = 0; k < bw::fuzzing::kOperationBytes; ++k) {
      try {
        runOperation(heap, index, data[k]);
      } catch (const bw::eException&) {
      }
    }
    store.flush();
  } catch (const bw::eException&) {
  }
  return 0;
}
