// database/transaction_stack.h - the journaled file's stack of nested
// transaction ids, and the checks on such a stack that the journaled file and
// the in-memory store share, with the messages callers see.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "core/exception.h"

namespace bw {

// The ids of the open transactions, innermost last. Opening one is a store
// and a count (every operation of the block layers opens one): the storage
// only grows, out of line, and push_back hands the id back so that the
// caller keeps nothing across the rare call.
class TransactionStack {
 public:
  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  int32_t back() const { return ids_[size_ - 1]; }
  int32_t push_back(int32_t id) {
    if (size_ == capacity_) [[unlikely]] return growAndPush(id);
    ids_[size_++] = id;
    return id;
  }
  void pop_back() { --size_; }
  void clear() { size_ = 0; }

 private:
  [[gnu::noinline]] int32_t growAndPush(int32_t id) {
    const size_t capacity = std::max<size_t>(16, 2 * capacity_);
    auto grown = std::make_unique<int32_t[]>(capacity);
    std::copy(ids_.get(), ids_.get() + size_, grown.get());
    ids_ = std::move(grown);
    capacity_ = capacity;
    ids_[size_++] = id;
    return id;
  }
  std::unique_ptr<int32_t[]> ids_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Ends transaction `id`, which must be the innermost open one. Otherwise the
// caller's `discard` drops every open transaction first and "TRAN" is raised.
template <class Stack, class Discard>
void popTransaction(Stack& stack, int32_t id, Discard&& discard) {
  if (stack.empty()) {
    discard();
    raise("TRAN", "cJournaledFile.finishTransaction(); there are no outstanding transactions");
  }
  if (stack.back() != id) {
    discard();
    raise("TRAN", "cJournaledFile.finishTransaction(); the wrong transaction was finished");
  }
  stack.pop_back();
}

// Changes need an open transaction; `method` names the refused call.
template <class Stack>
void requireTransaction(const Stack& stack, const char* method) {
  if (stack.empty()) {
    raise("EMU", std::string("cJournaledFile.") + method +
                     "(); no transactions have been started yet using beginTransaction()");
  }
}

}  // namespace bw
