// database/block_open.cpp - opening or creating the heap and the index.
#include "database/block_open.h"

namespace bw {

void openBlockHeap(BlockHeap& heap, bool isNew) {
  heap.setAllocateAbovePos(0);
  // A data area that ends inside the header area cannot hold a header: the
  // file is made anew, as an empty one is.
  if (isNew || heap.store().dataSize() < FIRST_BLOCK_POS) {
    heap.createHeader();
  } else {
    heap.loadHeader();
  }
}

bool openIndexedHeap(BlockHeap& heap, BlockIndex& index, bool isNew, const std::string& path) {
  openBlockHeap(heap, isNew);
  bool fresh = isNew || heap.store().dataSize() < FIRST_BLOCK_POS ||
               (heap.tailPos() == 0 && heap.getUserValue() == 0);
  if (fresh) {
    index.createIndex();
  } else {
    heap.checkHeader();
    index.openIndex();
  }
  return index.admitAtOpen(path);
}

}  // namespace bw
