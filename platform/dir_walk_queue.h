// platform/dir_walk_queue.h - what the two directory walks share: the
// breadth-first queue with its Ctrl-C rule, and the module objects of a
// callback family. Private to dir_walk.cpp and dir_walk_native.cpp.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <tuple>

#include "platform/dos_env.h"

namespace bw::dir_walk {

// Visits the queue's directories in order. visit(front, queue) lists one
// directory, appending what is to be walked later (references to queued
// items stay valid: it is a deque); FALSE ends the walk at once. Ctrl-C is
// polled after each directory. Returns the first directory left unvisited
// by a break, or nothing when the walk ended without one left.
template <class Item, class Visit>
std::optional<Item> walkBreadthFirst(std::deque<Item>& queue, Visit visit) {
  while (!queue.empty()) {
    if (!visit(queue.front(), queue)) return std::nullopt;
    queue.pop_front();
    if (dos::checkBreak()) {
      if (queue.empty()) return std::nullopt;
      return std::move(queue.front());
    }
  }
  return std::nullopt;
}

// One object of each callback class of a family, made by the family's
// module initialiser and disposed of by its finaliser.
template <class... Callbacks>
class CallbackObjects {
 public:
  void make() { objects_ = {std::make_unique<Callbacks>()...}; }
  void dispose() { objects_ = {}; }

 private:
  std::tuple<std::unique_ptr<Callbacks>...> objects_;
};

}  // namespace bw::dir_walk
