// platform/dir_walk.cpp - the internal-path walk, tree deletion and the
// internal callback family's module objects.
#include "platform/dir_walk.h"

#include <deque>
#include <string>

#include "core/exception.h"
#include "platform/dir.h"
#include "platform/dir_cache.h"
#include "platform/dos_env.h"
#include "platform/path.h"

namespace bw {
namespace {

struct CpathDirCallbacks {
  std::unique_ptr<funcRecurseFile_cpath_dir> file;
  std::unique_ptr<funcRecurseDir_cpath_dir> dir;
  std::unique_ptr<funcRecurseDirFailure_cpath_dir> failure;
  std::unique_ptr<funcRecurseDirAbort_cpath_dir> abort;
};
CpathDirCallbacks gCpathDirCallbacks;

bool isDirForm(std::string_view name) { return name.empty() || name.back() == '/'; }

bool deleteTree(cHostDir& dir, Text dirPath, bool force) {
  bool ok = true;
  // A link goes itself; the tree it points at stays.
  if (cPath::ReadLink(dirPath).target.isNil()) {
    if (!dir.open(dirPath, true, force)) return false;
    std::unique_ptr<cDirEntryList> list = dir.makeEntryList();
    dir.close();
    std::string child(dirPath.view());
    size_t base = child.size();
    for (const Str& entry : list->entries()) {
      child.resize(base);
      child.append(entry.view());
      bool deleted = isDirForm(entry.view()) ? deleteTree(dir, Text(child), force)
                                            : cPath::DeletePath(Text(child), force, false);
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
  bool broken = false;
  std::string child;
  while (!queue.empty()) {
    const Str& current = queue.front();
    if (dir.open(current, true, false)) {
      std::unique_ptr<cDirEntryList> list = dir.makeEntryList();
      for (const Str& entry : list->entries()) {
        child.assign(current.view());
        child.append(entry.view());
        if (isDirForm(entry.view())) {
          if (!dirFunc || dirFunc->callDir(Text(child))) queue.emplace_back(child);
        } else {
          fileFunc->call(Text(child));
        }
      }
      dir.close();
    } else if (failureFunc && !failureFunc->callDirFailure(current, dir.infoErrorSource(), dir.infoError())) {
      return;
    }
    queue.pop_front();
    if (dos::checkBreak()) {
      broken = true;
      break;
    }
  }
  if (!broken || queue.empty()) return;
  if (!abortFunc) raise("BRK", "recurseHostDir(); Ctrl-C received");
  abortFunc->call(queue.front());
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
  gCpathDirCallbacks.file = std::make_unique<funcRecurseFile_cpath_dir>();
  gCpathDirCallbacks.dir = std::make_unique<funcRecurseDir_cpath_dir>();
  gCpathDirCallbacks.failure = std::make_unique<funcRecurseDirFailure_cpath_dir>();
  gCpathDirCallbacks.abort = std::make_unique<funcRecurseDirAbort_cpath_dir>();
  forgetLastDirDevice();
}

void endRecurseCpathDirCallbacks() {
  gCpathDirCallbacks = CpathDirCallbacks();
  forgetLastDirDevice();
}

}  // namespace bw
