// platform/folder_turn.cpp - turns on a folder through flock(2).
#include "platform/folder_turn.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/dos_env.h"

namespace bw {

FolderTurn::FolderTurn(const std::string& nativeFolder, const std::function<bool()>& giveUp) {
  const int fd = ::open(nativeFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK || errno == EINTR;  // else: no locks here
    if (held) stopped_ = giveUp ? giveUp() : dos::checkBreak();
    if (!held || stopped_) {
      ::close(fd);
      return;
    }
    ::usleep(10000);
  }
  fd_ = fd;
}

FolderTurn::~FolderTurn() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace bw
