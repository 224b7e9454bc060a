// platform/folder_turn.cpp - turns on a folder through flock(2).
#include "platform/folder_turn.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "core/exception.h"
#include "platform/dos_env.h"

namespace bw {

FolderTurn::FolderTurn(const std::string& nativeFolder) {
  const int fd = ::open(nativeFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      ::close(fd);
      return;
    }
    if (dos::checkBreak()) {
      ::close(fd);
      raise("BRK", "Ctrl-C received");
    }
    ::usleep(10000);
  }
  fd_ = fd;
}

FolderTurn::~FolderTurn() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace bw
