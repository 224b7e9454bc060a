// web/web_walk.h - document-order walk over a web document subtree.
//
// walkNodes visits a node, its descendants and (when asked) its following
// siblings in document order, calling enter before a node's children and
// leave after them. It keeps its own stack of open nodes instead of
// recursing, so trees of any depth are walked in constant call depth; it does
// not rely on parent links.
#pragma once

#include <utility>
#include <vector>

#include "web/web_data.h"

namespace bw {

// enter(node) returns a State that is handed back to leave(node, state).
template <class State, class Enter, class Leave>
void walkNodes(webDataNode* first, bool siblings, Enter&& enter, Leave&& leave) {
  std::vector<std::pair<webDataNode*, State>> open;
  webDataNode* node = first;
  while (node) {
    State state = enter(node);
    if (webDataNode* child = node->getFirstChild()) {
      open.emplace_back(node, std::move(state));
      node = child;
      continue;
    }
    leave(node, state);
    for (;;) {
      if (open.empty()) {
        node = siblings ? node->getNext() : nullptr;
        break;
      }
      if (webDataNode* next = node->getNext()) {
        node = next;
        break;
      }
      auto [parent, parentState] = std::move(open.back());
      open.pop_back();
      leave(parent, parentState);
      node = parent;
    }
  }
}

}  // namespace bw
