// database/block_dumps.cpp - the self-tests' dumps of block files.
#include "database/block_dumps.h"

#include <cstdio>

namespace bw {

std::string dumpText(BlockHeap& heap, int64_t position) {
  uint8_t bytes[10];
  heap.store().readData(position, bytes, sizeof bytes);
  std::string text;
  for (uint8_t b : bytes) {
    if (b == 0) break;
    text.push_back(static_cast<char>(b));
  }
  return text;
}

namespace {

int32_t blockSize(BlockHeap& heap, int64_t handle) {
  return static_cast<int32_t>(heap.read32(handle - kBlockHeaderBytes) & ~uint32_t{3});
}

}  // namespace

void dumpBlockFile(cJournaledBlockFile& file) {
  BlockHeap& heap = file.heap();
  for (int64_t h = file.infoFirstBlock(); h != 0;) {
    int32_t size = blockSize(heap, h);
    std::printf("Block %ld (size %ld) contains \"%s\"\n", static_cast<long>(h), static_cast<long>(size),
                dumpText(heap, h).c_str());
    int64_t next = file.infoNextUsedBlock(h);
    if (next != 0 && file.infoFreeSizeBefore(next) > 0) {
      std::printf("Empty %ld (size %ld)\n", static_cast<long>(h - kBlockHeaderBytes + size),
                  static_cast<long>(file.infoFreeSizeBefore(next)));
    }
    h = next;
  }
}

void dumpIndexedBlockFile(cJournaledIndexedBlockFile& file) {
  BlockHeap& heap = file.heap();
  for (int64_t h = file.infoFirstBlock(); h != 0;) {
    int32_t size = blockSize(heap, h);
    std::string text = file.checkIndexOfBlock(h).valid ? dumpText(heap, h + 4) : "(not indexed)";
    std::printf("Block %ld (size %ld) contains \"%s\"\n", static_cast<long>(h + 4), static_cast<long>(size),
                text.c_str());
    int64_t next = file.infoNextUsedBlock(h);
    if (next != 0 && file.infoFreeSizeBefore(next) > 0) {
      std::printf("Empty %ld (size %ld)\n", static_cast<long>(h + size + 12),
                  static_cast<long>(file.infoFreeSizeBefore(next)));
    }
    h = next;
  }
}

void dumpIndexList(cJournaledIndexedBlockFile& file, const std::array<int32_t, 10>& indices) {
  for (size_t k = 0; k < indices.size(); ++k) {
    if (indices[k] == 0) continue;
    int64_t position = file.infoBlockOfIndex(indices[k], false);
    std::printf("Block i %ld with index %ld & position %ld contains \"%s\"\n", static_cast<long>(k),
                static_cast<long>(indices[k]), static_cast<long>(position), dumpText(file.heap(), position).c_str());
  }
}

}  // namespace bw
