// database/transaction_stack.h - the checks on a stack of nested transaction
// ids that the journaled file and the in-memory store share, with the messages
// callers see.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/exception.h"

namespace bw {

// Ends transaction `id`, which must be the innermost open one. Otherwise the
// caller's `discard` drops every open transaction first and "TRAN" is raised.
template <class Discard>
void popTransaction(std::vector<int32_t>& stack, int32_t id, Discard&& discard) {
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
inline void requireTransaction(const std::vector<int32_t>& stack, const char* method) {
  if (stack.empty()) {
    raise("EMU", std::string("cJournaledFile.") + method +
                     "(); no transactions have been started yet using beginTransaction()");
  }
}

}  // namespace bw
