// app/startup.cpp - module start-up order, the outermost exception handler
// and the exit codes.
#include "app/startup.h"

#include <cstdio>

#include "core/exception.h"
#include "core/module_registry.h"

namespace bw {
namespace {

// Modules in start-up order; finalisers run in reverse.
void registerModules(ModuleRegistry& registry) { (void)registry; }

int exitCodeFor(const eException& e) { return e.code() == "ERR" ? 10 : 20; }

}  // namespace

int runBrindlework(int argc, char** argv) {
  (void)argc;
  (void)argv;
  ModuleRegistry modules;
  int rc = 0;
  try {
    registerModules(modules);
    modules.initAll();
  } catch (const eException& e) {
    if (e.code() != "ERR") std::printf("EXCEPTION: %s %s\n", e.code().c_str(), e.message().c_str());
    rc = exitCodeFor(e);
  }
  modules.endAll();
  return rc;
}

}  // namespace bw
