// platform/folder_turn.h - FolderTurn: processes that work on one folder's
// files take turns: an exclusive flock(2) on the folder itself, held for
// the object's life, so no file is made in the user's folder.
//
// Invariants:
//   1. The constructor waits until no other FolderTurn of the folder is held
//      (in this process or another), asking giveUp at once and then about
//      every 10 ms (by default: whether Ctrl-C came); when it answers TRUE
//      the wait ends without a turn (stopped() TRUE).
//   2. A folder that cannot be opened, or a file system without locks, gives
//      no turn (held() FALSE) and no wait: the caller goes on as before.
//   3. The turn ends when the object goes or the process ends, however it
//      ends.
#pragma once

#include <functional>
#include <string>

namespace bw {

class FolderTurn {
 public:
  explicit FolderTurn(const std::string& nativeFolder, const std::function<bool()>& giveUp = {});
  ~FolderTurn();
  FolderTurn(const FolderTurn&) = delete;
  FolderTurn& operator=(const FolderTurn&) = delete;

  bool held() const { return fd_ >= 0; }
  bool stopped() const { return stopped_; }

 private:
  int fd_ = -1;
  bool stopped_ = false;
};

}  // namespace bw
