// database/memory_block_store.cpp - the in-memory BlockStore.
#include "database/memory_block_store.h"

#include <algorithm>
#include <cstring>

#include "core/exception.h"
#include "database/transaction_stack.h"

namespace bw {

void MemoryBlockStore::doReadData(int64_t position, uint8_t* out, int64_t length) {
  ++readCalls_;
  if (position < 0 || length < 0) raise("EMU", "MemoryBlockStore.read(); bad range");
  if (length == 0) return;
  auto size = static_cast<int64_t>(data_.size());
  int64_t have = std::clamp<int64_t>(size - position, 0, length);
  if (have > 0) std::memcpy(out, data_.data() + position, static_cast<size_t>(have));
  std::memset(out + have, pad_, static_cast<size_t>(length - have));
}

void MemoryBlockStore::doWriteData(int64_t position, const uint8_t* in, int64_t length) {
  if (closed_) raise("EMU", "MemoryBlockStore.write(); file not open");
  requireTransaction(stack_, "write");
  if (position < 0 || length < 0) raise("EMU", "MemoryBlockStore.write(); bad range");
  if (length == 0) return;
  ++writeCalls_;
  ++changes_;
  largestWrite_ = std::max(largestWrite_, length);
  if (position + length > static_cast<int64_t>(data_.size())) setDataSize(position + length);
  auto at = data_.begin() + position;
  undo_.push_back({false, position, std::vector<uint8_t>(at, at + length)});
  std::memcpy(data_.data() + position, in, static_cast<size_t>(length));
}

void MemoryBlockStore::setDataSize(int64_t size) {
  if (size < 0) raise("EMU", "cJournaledFile.setSize(); sizeInBytes<0");
  requireTransaction(stack_, "setSize");
  ++changes_;
  auto old = static_cast<int64_t>(data_.size());
  std::vector<uint8_t> cut;
  if (size < old) cut.assign(data_.begin() + size, data_.end());
  undo_.push_back({true, old, std::move(cut)});
  data_.resize(static_cast<size_t>(size), pad_);
}

void MemoryBlockStore::applyUndo(std::vector<uint8_t>& data, const std::vector<Undo>& log) {
  for (auto it = log.rbegin(); it != log.rend(); ++it) {
    if (it->resize) {
      size_t now = data.size();
      data.resize(static_cast<size_t>(it->position));
      if (!it->bytes.empty()) std::copy(it->bytes.begin(), it->bytes.end(), data.begin() + static_cast<int64_t>(now));
    } else {
      std::copy(it->bytes.begin(), it->bytes.end(), data.begin() + it->position);
    }
  }
}

const std::vector<uint8_t>& MemoryBlockStore::committed() {
  if (undo_.empty()) return data_;
  snapshot_ = data_;
  applyUndo(snapshot_, undo_);
  return snapshot_;
}

int32_t MemoryBlockStore::doBeginTransaction() {
  stack_.push_back(nextId_);
  return nextId_++;
}

void MemoryBlockStore::doFinishTransaction(int32_t id) {
  popTransaction(stack_, id, [this] { discardChanges(); });
  if (stack_.empty()) undo_.clear();
}

void MemoryBlockStore::discardChanges() {
  ++changes_;
  stack_.clear();
  applyUndo(data_, undo_);
  undo_.clear();
  if (discardHook_) discardHook_();
}

void MemoryBlockStore::flush() {
  if (stack_.empty()) undo_.clear();
}

void MemoryBlockStore::closeDiscarding() {
  if (!stack_.empty()) discardChanges();
  undo_.clear();
  closed_ = true;
}

void MemoryBlockStore::replaceCommitted(std::vector<uint8_t> image) {
  ++changes_;
  data_ = std::move(image);
  undo_.clear();
  stack_.clear();
  closed_ = false;
}

}  // namespace bw
