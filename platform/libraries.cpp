// platform/libraries.cpp - the library registry and the library modules.
#include "platform/libraries.h"

#include <deque>
#include <string>

#include "core/exception.h"
#include "core/ascii_case.h"
#include "platform/clock.h"

namespace bw {
namespace {

struct Registry {
  bool filled = false;
  std::deque<std::string> names;  // stable storage for LibraryBase::name
  std::deque<LibraryBase> bases;
};

Registry& registry() {
  static Registry r;
  return r;
}

void fill(Registry& r) {
  if (r.filled) return;
  r.filled = true;
  for (const char* name : {"graphics.library", "dos.library", "intuition.library", "utility.library",
                           "Picasso96API.library", "datatypes.library", "muimaster.library",
                           "workbench.library", "icon.library"}) {
    r.names.emplace_back(name);
    r.bases.push_back({r.names.back().c_str(), 54, 0});
  }
}

LibraryBase* findBase(std::string_view name) {
  Registry& r = registry();
  fill(r);
  for (LibraryBase& b : r.bases)
    if (b.version >= 0 && equalsNoCase(b.name, name)) return &b;
  return nullptr;
}

struct ModuleBases {
  LibraryBase* utility3 = nullptr;
  LibraryBase* picasso96 = nullptr;
  LibraryBase* utility2 = nullptr;
  LibraryBase* utility = nullptr;
  LibraryBase* dataTypes = nullptr;
  LibraryBase* muiMaster = nullptr;
  LibraryBase* workbench = nullptr;
  LibraryBase* icon = nullptr;
};

ModuleBases gBases;

LibraryBase* required(const char* name, int32_t version) {
  LibraryBase* base = OpenLibrary(name, version);
  if (!base) raise("ERR", std::string("Failed to open ") + name);
  return base;
}

void release(LibraryBase*& base) {
  releaseLibrary(base);
  base = nullptr;
}

}  // namespace

void registerLibrary(std::string_view name, int32_t version) {
  Registry& r = registry();
  fill(r);
  for (LibraryBase& b : r.bases)
    if (equalsNoCase(b.name, name)) {
      b.version = version;
      return;
    }
  r.names.emplace_back(name);
  r.bases.push_back({r.names.back().c_str(), version, 0});
}

void unregisterLibrary(std::string_view name) {
  if (LibraryBase* b = findBase(name)) b->version = -1;  // kept: bases stay valid
}

void resetLibraries() {
  Registry& r = registry();
  r.filled = false;
  r.bases.clear();
  r.names.clear();
  gBases = {};
}

LibraryBase* OpenLibrary(Text name, int32_t minimumVersion) {
  if (name.isNil()) return nullptr;
  LibraryBase* b = findBase(name.nulView());
  if (!b || b->version < minimumVersion) return nullptr;
  ++b->useCount;
  return b;
}

void releaseLibrary(LibraryBase* base) {
  if (base && base->useCount > 0) --base->useCount;
}

int32_t libraryUseCount(std::string_view name) {
  Registry& r = registry();
  fill(r);
  for (const LibraryBase& b : r.bases)
    if (equalsNoCase(b.name, name)) return b.useCount;
  return 0;
}

void initUtilityLibrary3() { gBases.utility3 = OpenLibrary("utility.library", 0); }
void endUtilityLibrary3() { release(gBases.utility3); }
void initPicasso96Library() { gBases.picasso96 = required("Picasso96API.library", 0); }
void endPicasso96Library() { release(gBases.picasso96); }
void initUtilityLibrary2() { gBases.utility2 = required("utility.library", 39); }
void endUtilityLibrary2() { release(gBases.utility2); }
void initUtilityLibrary() { gBases.utility = required("utility.library", 0); }
void closeUtilityLibrary() { release(gBases.utility); }
void initDataTypesLibrary() { gBases.dataTypes = required("datatypes.library", 0); }
void closeDataTypesLibrary() { release(gBases.dataTypes); }
void initMuiMasterLibrary() { gBases.muiMaster = required("muimaster.library", 20); }
void closeMuiMasterLibrary() { release(gBases.muiMaster); }
void initWorkbenchLibrary() { gBases.workbench = OpenLibrary("workbench.library", 0); }
void endWorkbenchLibrary() { release(gBases.workbench); }
void initIconLibrary() { gBases.icon = OpenLibrary("icon.library", 0); }
void endIconLibrary() { release(gBases.icon); }

std::vector<Module> libraryModules() {
  return {
      {"utility.library (3)", initUtilityLibrary3, endUtilityLibrary3},
      {"Picasso96API.library", initPicasso96Library, endPicasso96Library},
      {"utility.library (2)", initUtilityLibrary2, endUtilityLibrary2},
      {"utility.library", initUtilityLibrary, closeUtilityLibrary},
      {"datatypes.library", initDataTypesLibrary, closeDataTypesLibrary},
      {"timer.device", initTimerDevice, closeTimerDevice},
      {"muimaster.library", initMuiMasterLibrary, closeMuiMasterLibrary},
      {"workbench.library", initWorkbenchLibrary, endWorkbenchLibrary},
      {"icon.library", initIconLibrary, endIconLibrary},
  };
}

}  // namespace bw
