// database/memory_block_store.cpp - the in-memory BlockStore.
#include "database/memory_block_store.h"

#include <algorithm>
#include <cstring>

#include "core/exception.h"

namespace bw {

void MemoryBlockStore::readData(int64_t position, uint8_t* out, int64_t length) {
  ++readCalls_;
  if (position < 0 || length < 0) raise("EMU", "MemoryBlockStore.read(); bad range");
  auto size = static_cast<int64_t>(data_.size());
  int64_t have = std::clamp<int64_t>(size - position, 0, length);
  if (have > 0) std::memcpy(out, data_.data() + position, static_cast<size_t>(have));
  std::memset(out + have, pad_, static_cast<size_t>(length - have));
}

void MemoryBlockStore::writeData(int64_t position, const uint8_t* in, int64_t length) {
  if (closed_) raise("EMU", "MemoryBlockStore.write(); file not open");
  if (stack_.empty()) {
    raise("EMU", "cJournaledFile.write(); no transactions have been started yet using beginTransaction()");
  }
  if (position < 0 || length < 0) raise("EMU", "MemoryBlockStore.write(); bad range");
  ++writeCalls_;
  largestWrite_ = std::max(largestWrite_, length);
  if (position + length > static_cast<int64_t>(data_.size())) setDataSize(position + length);
  std::memcpy(data_.data() + position, in, static_cast<size_t>(length));
  dirty_ = true;
}

void MemoryBlockStore::setDataSize(int64_t size) {
  if (size < 0) raise("EMU", "cJournaledFile.setSize(); sizeInBytes<0");
  if (stack_.empty()) {
    raise("EMU", "cJournaledFile.setSize(); no transactions have been started yet using beginTransaction()");
  }
  data_.resize(static_cast<size_t>(size), pad_);
  dirty_ = true;
}

int32_t MemoryBlockStore::beginTransaction() {
  stack_.push_back(nextId_);
  return nextId_++;
}

void MemoryBlockStore::finishTransaction(int32_t id) {
  if (stack_.empty()) {
    discardChanges();
    raise("TRAN", "cJournaledFile.finishTransaction(); there are no outstanding transactions");
  }
  if (stack_.back() != id) {
    discardChanges();
    raise("TRAN", "cJournaledFile.finishTransaction(); the wrong transaction was finished");
  }
  stack_.pop_back();
  if (stack_.empty()) commit();
}

void MemoryBlockStore::discardChanges() {
  stack_.clear();
  data_ = committed_;
  dirty_ = false;
  if (discardHook_) discardHook_();
}

void MemoryBlockStore::flush() {
  if (stack_.empty()) commit();
}

void MemoryBlockStore::closeDiscarding() {
  if (!stack_.empty()) discardChanges();
  commit();
  closed_ = true;
}

void MemoryBlockStore::replaceCommitted(std::vector<uint8_t> image) {
  committed_ = std::move(image);
  data_ = committed_;
  stack_.clear();
  dirty_ = false;
}

void MemoryBlockStore::commit() {
  if (dirty_) committed_ = data_;
  dirty_ = false;
}

}  // namespace bw
