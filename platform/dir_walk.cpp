// platform/dir_walk.cpp - the internal-path walk, tree deletion and the
// internal callback family's module objects.
#include "platform/dir_walk.h"

#include <deque>
#include <optional>
#include <string>

#include "core/exception.h"
#include "platform/dir.h"
#include "platform/dir_cache.h"
#include "platform/dir_walk_queue.h"
#include "platform/path.h"

namespace bw {
namespace {

dir_walk::CallbackObjects<funcRecurseFile_cpath_dir, funcRecurseDir_cpath_dir, funcRecurseDirFailure_cpath_dir,
                          funcRecurseDirAbort_cpath_dir>
    gCpathDirCallbacks;

bool isDirForm(std::string_view name) { return name.empty() || name.back() == '/'; }

// The open directory's entries, or no list and the reason when it cannot
// be listed (the listing has printed it too).
struct Listing {
  std::unique_ptr<cDirEntryList> list;
  std::string failure;
};
Listing listEntries(cHostDir& dir) {
  try {
    return {dir.makeEntryList(), {}};
  } catch (const eException& e) {
    if (e.code() != "FILE") throw;
    return {nullptr, e.message()};
  }
}

bool deleteTree(cHostDir& dir, Text dirPath, bool force) {
  bool ok = true;
  // A link goes itself; the tree it points at stays.
  if (cPath::ReadLink(dirPath).target.isNil()) {
    if (!dir.open(dirPath, true, force)) return false;
    std::unique_ptr<cDirEntryList> list = listEntries(dir).list;
    dir.close();
    if (!list) return false;
    std::string child(dirPath.view());
    size_t base = child.size();
    for (const Str& entry : list->entries()) {
      child.resize(base);
      child.append(entry.view());
      // The listing has told the kind already: no second look before a
      // file goes.
      bool deleted = isDirForm(entry.view()) ? deleteTree(dir, Text(child), force)
                                            : cPath::DeletePath(Text(child), force, true);
      ok = deleted && ok;
    }
  }
  return cPath::DeletePath(dirPath, force, false) && ok;
}

}  // namespace

void recurseHostDir(Text dirPath, funcRecurseFile_cpath_dir* fileFunc, funcRecurseDir_cpath_dir* dirFunc,
                    funcRecurseDirFailure_cpath_dir* failureFunc, funcRecurseDirAbort_cpath_dir* abortFunc) {
  if (!fileFunc) raise("EMU", "recurseHostDir(); fileFunc=NIL");
  std::deque<Str> queue;
  queue.emplace_back(dirPath.isNil() ? std::string_view() : dirPath.view());
  cHostDir dir;
  std::string child;
  std::optional<Str> left = dir_walk::walkBreadthFirst(queue, [&](const Str& current, std::deque<Str>& later) {
    if (!dir.open(current, true, false))
      return !failureFunc || failureFunc->callDirFailure(current, dir.infoErrorSource(), dir.infoError());
    Listing listing = listEntries(dir);
    if (!listing.list) {
      dir.close();
      return !failureFunc ||
             failureFunc->callDirFailure(current, "cHostDir.makeEntryList()", Text(listing.failure));
    }
    for (const Str& entry : listing.list->entries()) {
      child.assign(current.view());
      child.append(entry.view());
      if (!isDirForm(entry.view())) fileFunc->call(Text(child));
      else if (!dirFunc || dirFunc->callDir(Text(child))) later.emplace_back(child);
    }
    dir.close();
    return true;
  });
  if (!left) return;
  if (!abortFunc) raise("BRK", "recurseHostDir(); Ctrl-C received");
  abortFunc->call(*left);
}

bool deleteDirTree(Text dirPath, bool force) {
  cHostDir dir;
  return deleteTree(dir, dirPath, force);
}

bool deletePathTree(Text dirPath, bool force) {
  auto dir = std::make_unique<cHostDir>();
  dir->initialise();
  return deleteTree(*dir, dirPath, force);
}

void initRecurseCpathDirCallbacks() {
  gCpathDirCallbacks.make();
  forgetLastDirDevice();
}

void endRecurseCpathDirCallbacks() {
  gCpathDirCallbacks.dispose();
  forgetLastDirDevice();
}

}  // namespace bw
