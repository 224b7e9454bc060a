// platform/dir_walk_native.cpp - the native-path walk and the native
// callback family's module objects.
#include <deque>
#include <string>

#include "core/exception.h"
#include "platform/amiga_dos.h"
#include "platform/dir_walk.h"
#include "platform/dos_env.h"
#include "platform/path_native.h"

namespace bw {
namespace {

struct NativeCallbacks {
  std::unique_ptr<funcRecurseFile> file;
  std::unique_ptr<funcRecurseDir> dir;
  std::unique_ptr<funcRecurseDirFailure> failure;
  std::unique_ptr<funcRecurseDirAbort> abort;
};
NativeCallbacks gNativeCallbacks;

struct Queued {
  Str path;
  int32_t type = 0;
};

}  // namespace

void recurseDir(Text dirPath, fCompareMegaNodes* compareFunction, funcRecurseFile* fileFunc,
                funcRecurseDir* dirFunc, funcRecurseDirFailure* failureFunc, funcRecurseDirAbort* abortFunc) {
  if (!fileFunc) raise("EMU", "recurseDir(); fileFunc=NIL");
  std::deque<Queued> queue;
  queue.push_back({Str(dirPath.isNil() ? std::string_view() : dirPath.view()), 0});
  bool broken = false;
  while (!queue.empty()) {
    const Queued& current = queue.front();
    ListedDirNames listed = listDirNames(current.path, compareFunction);
    if (listed.list) {
      auto walker = listed.list->infoStart()->clone(0, 0);
      while (!walker->isSamePosition(*listed.list->infoPastEnd())) {
        const Str& name = walker->getData();
        int32_t type = cDirNameList::typeOf(walker->infoNode());
        Str child = strJoinPart(current.path, name, false);
        bool isDir = name.empty() || name.view().back() == '/';
        if (isDir) {
          if (!dirFunc || dirFunc->callDir({Text(child), type})) queue.push_back({std::move(child), type});
        } else {
          fileFunc->call({Text(child), type});
        }
        walker->gotoNext();
      }
    } else if (failureFunc && !failureFunc->callDirFailure({Text(current.path), current.type}, listed.error)) {
      return;
    }
    queue.pop_front();
    if (dos::checkBreak()) {
      broken = true;
      break;
    }
  }
  if (!broken || queue.empty()) return;
  if (!abortFunc) raise("BRK", "recurseDir(); Ctrl-C received");
  abortFunc->call({Text(queue.front().path), queue.front().type});
}

void initRecurseCallbacks() {
  gNativeCallbacks.file = std::make_unique<funcRecurseFile>();
  gNativeCallbacks.dir = std::make_unique<funcRecurseDir>();
  gNativeCallbacks.failure = std::make_unique<funcRecurseDirFailure>();
  gNativeCallbacks.abort = std::make_unique<funcRecurseDirAbort>();
}

void endRecurseCallbacks() { gNativeCallbacks = NativeCallbacks(); }

}  // namespace bw
