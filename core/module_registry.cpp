// core/module_registry.cpp - ordered module start-up and shut-down.
#include "core/module_registry.h"

namespace bw {

void ModuleRegistry::initAll() {
  try {
    while (initialised_ < modules_.size()) {
      const Module& m = modules_[initialised_];
      if (m.init) m.init();
      ++initialised_;
    }
  } catch (...) {
    endAll();
    throw;
  }
}

void ModuleRegistry::endAll() noexcept {
  while (initialised_ > 0) {
    const Module& m = modules_[--initialised_];
    if (!m.end) continue;
    try {
      m.end();
    } catch (...) {
      // A finaliser's failure must not keep the others from running.
    }
  }
}

}  // namespace bw
