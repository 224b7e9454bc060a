// bench/bench_web_text.h - reading a whole web document tree the way a feed
// parser does: every node's text, text after its end tag and attributes,
// once each, through the converting getters.
#pragma once

#include <cstddef>

#include "web/web_data.h"
#include "web/web_walk.h"

namespace bw::bench {

// The bytes read, so the work cannot be optimised away.
inline size_t readEveryText(bw::webDataRoot& root, const bw::cEncoding& target) {
  size_t bytes = 0;
  bw::walkNodes<int>(
      root.head(), true,
      [&](bw::webDataNode* n) {
        bytes += n->getText(&target, false).view().size();
        bytes += n->getTextAfterEndTag(&target, false).view().size();
        for (bw::webAttributeText a = n->getFirstAttribute(&target, false); a.name;
             a = n->getNextAttribute(&target, false))
          bytes += a.value.view().size();
        return 0;
      },
      [](bw::webDataNode*, int) {});
  return bytes;
}

}  // namespace bw::bench
