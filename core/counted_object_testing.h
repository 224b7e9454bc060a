// core/counted_object_testing.h - for tests: a data object that counts how
// many of its kind are alive, so a test can see which objects a container
// deleted, kept or leaked.
#pragma once

#include "core/object.h"

namespace bw::testing {

struct Tracked : class_base {
  static inline int alive = 0;
  explicit Tracked(int v) : value(v) { ++alive; }
  Tracked(const Tracked&) = delete;
  Tracked& operator=(const Tracked&) = delete;
  ~Tracked() override { --alive; }
  int value;
};

}  // namespace bw::testing
