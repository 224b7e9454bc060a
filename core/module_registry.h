// core/module_registry.h - ordered module initialisers and finalisers.
//
// Each module has an initialiser that fills its globals and a finaliser that
// frees them. The program lists its modules explicitly, in start-up order;
// initAll runs the initialisers in that order and endAll runs the finalisers
// of the modules that were initialised, in reverse. No function-local statics
// decide the order.
#pragma once

#include <string>
#include <vector>

namespace bw {

struct Module {
  const char* name;
  void (*init)();  // may be null
  void (*end)();   // may be null
};

class ModuleRegistry {
 public:
  void add(const Module& module) { modules_.push_back(module); }

  // Runs every initialiser in order. When one throws, the finalisers of the
  // modules already initialised run (in reverse) before the exception passes.
  void initAll();
  // Runs the finalisers of the initialised modules in reverse order; a
  // finaliser that throws does not stop the others.
  void endAll() noexcept;

  size_t initialisedCount() const { return initialised_; }

 private:
  std::vector<Module> modules_;
  size_t initialised_ = 0;
};

}  // namespace bw
