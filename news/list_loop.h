// news/list_loop.h - notices a walk along stored links that comes back to an
// index it went through: a damaged list may run in a circle, which would
// keep a walk going for ever. The running program's walks take it as
// damage (stepTo).
#pragma once

#include <cstdint>
#include <string_view>

#include "database/object_soup.h"

namespace bw {

// Brent's method: the walk's index is compared with one it remembered, which
// moves ahead at every power of two steps. Constant memory and no loads of
// its own; a circle is noticed within two rounds of it after the walk has
// reached it. A sound list never visits an index twice, so a true answer is
// never wrong.
class ListLoop {
 public:
  explicit ListLoop(int32_t first) : remembered_(first) {}
  // TRUE when index (the walk's next step) was reached before.
  bool cameBackTo(int32_t index) {
    if (index == remembered_) return true;
    if (++steps_ == power_) {
      remembered_ = index;
      power_ *= 2;
      steps_ = 0;
    }
    return false;
  }
  // cameBackTo, where coming back is damage met while running: raises
  // link damage (eRecordDamage "BUG") with message.
  void stepTo(int32_t index, std::string_view message) {
    if (cameBackTo(index)) raiseLinkDamage(message);
  }

 private:
  int32_t remembered_;
  uint64_t power_ = 1;
  uint64_t steps_ = 0;
};

}  // namespace bw
