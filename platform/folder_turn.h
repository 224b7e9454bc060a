// platform/folder_turn.h - FolderTurn: processes that work on one folder's
// files take turns: an exclusive flock(2) on the folder itself, held for
// the object's life, so no file is made in the user's folder.
//
// Invariants:
//   1. The constructor waits until no other FolderTurn of the folder is held
//      (in this process or another), polling Ctrl-C: a break raises "BRK".
//   2. A folder that cannot be opened, or a file system without locks, gives
//      no turn (held() FALSE) and no wait: the caller goes on as before.
//   3. The turn ends when the object goes or the process ends, however it
//      ends.
#pragma once

#include <string>

namespace bw {

class FolderTurn {
 public:
  explicit FolderTurn(const std::string& nativeFolder);
  ~FolderTurn();
  FolderTurn(const FolderTurn&) = delete;
  FolderTurn& operator=(const FolderTurn&) = delete;

  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace bw
