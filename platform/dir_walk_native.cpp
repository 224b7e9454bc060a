// platform/dir_walk_native.cpp - the native-path walk and the native
// callback family's module objects.
#include <deque>
#include <optional>
#include <string>

#include "core/exception.h"
#include "platform/amiga_dos.h"
#include "platform/dir_walk.h"
#include "platform/dir_walk_queue.h"
#include "platform/path_native.h"

namespace bw {
namespace {

dir_walk::CallbackObjects<funcRecurseFile, funcRecurseDir, funcRecurseDirFailure, funcRecurseDirAbort> gNativeCallbacks;

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
  std::optional<Queued> left =
      dir_walk::walkBreadthFirst(queue, [&](const Queued& current, std::deque<Queued>& later) {
        ListedDirNames listed = listDirNames(current.path, compareFunction);
        if (!listed.list)
          return !failureFunc || failureFunc->callDirFailure({Text(current.path), current.type}, listed.error);
        auto walker = listed.list->infoStart()->clone(0, 0);
        for (; !walker->isSamePosition(*listed.list->infoPastEnd()); walker->gotoNext()) {
          const Str& name = walker->getData();
          int32_t type = cDirNameList::typeOf(walker->infoNode());
          // AddPart joins as the system does; the type travels beside the path.
          Str child = strJoinPart(current.path, name, false);
          if (!name.empty() && name.view().back() != '/') fileFunc->call({Text(child), type});
          else if (!dirFunc || dirFunc->callDir({Text(child), type})) later.push_back({std::move(child), type});
        }
        return true;
      });
  if (!left) return;
  if (!abortFunc) raise("BRK", "recurseDir(); Ctrl-C received");
  abortFunc->call({Text(left->path), left->type});
}

void initRecurseCallbacks() {
  gNativeCallbacks.make();
}

void endRecurseCallbacks() { gNativeCallbacks.dispose(); }

}  // namespace bw
