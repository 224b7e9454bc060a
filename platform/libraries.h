// platform/libraries.h - the library registry and the platform modules that
// open libraries at start-up.
//
// On this host the libraries are parts of the program itself (the GUI host
// checks Qt on its own); the registry keeps their names and versions and
// counts their users, so start-up and shutdown open and release them in
// pairs as the program's modules expect.
//
// Invariants:
//   1. OpenLibrary succeeds for a registered name whose version is at least
//      the minimum asked for, and counts one use; releaseLibrary counts one
//      down and never below zero.
//   2. The modules run in the order of libraryModules(); their finalisers
//      run in reverse (ModuleRegistry).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/module_registry.h"
#include "core/str.h"

namespace bw {

struct LibraryBase {
  const char* name;
  int32_t version;
  int32_t useCount;
};

// The libraries of this host, registered when the registry is first used.
void registerLibrary(std::string_view name, int32_t version);
void unregisterLibrary(std::string_view name);
// Puts the registry back to the host's libraries with no users.
void resetLibraries();

// The base of a registered library of at least minimumVersion (one more
// use), or nullptr.
LibraryBase* OpenLibrary(Text name, int32_t minimumVersion);
// One use fewer; nullptr is ignored.
void releaseLibrary(LibraryBase* base);
// Users of a library (0 when unknown).
int32_t libraryUseCount(std::string_view name);

// Module initialisers in start-up order, each with its finaliser. A library
// the program cannot do without raises "ERR" "Failed to open <name>" (the
// program then ends with return code 10).
void initUtilityLibrary3();    // utility.library, optional
void endUtilityLibrary3();
void initPicasso96Library();   // Picasso96API.library
void endPicasso96Library();
void initUtilityLibrary2();    // utility.library 39
void endUtilityLibrary2();
void initUtilityLibrary();     // utility.library
void closeUtilityLibrary();
void initDataTypesLibrary();   // datatypes.library
void closeDataTypesLibrary();
// initTimerDevice / closeTimerDevice: platform/clock.h
void initMuiMasterLibrary();   // muimaster.library 20
void closeMuiMasterLibrary();
void initWorkbenchLibrary();   // workbench.library, optional
void endWorkbenchLibrary();
void initIconLibrary();        // icon.library, optional
void endIconLibrary();

// The modules above in start-up order, the clock included.
std::vector<Module> libraryModules();

}  // namespace bw
