// platform/dos_locks.cpp - locks, examining and directory scans of the DOS
// layer.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/dos_errors.h"
#include "platform/dos_host.h"
#include "platform/native_path.h"

namespace bw::dos {

Lock adoptLock(int fd, int32_t access) {
  struct stat st{};
  if (::fstat(fd, &st) != 0) {
    ioErrFromErrno(errno);
    ::close(fd);
    return {};
  }
  if (!acquire(st.st_dev, st.st_ino, access == kExclusiveLock)) {
    ::close(fd);
    setIoErr(kErrorObjectInUse);
    return {};
  }
  Lock l;
  l.fd_ = fd;
  l.access_ = access == kExclusiveLock ? kExclusiveLock : kSharedLock;
  l.dev_ = st.st_dev;
  l.ino_ = st.st_ino;
  setIoErr(0);
  return l;
}

Lock::Lock(Lock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), access_(other.access_), dev_(other.dev_), ino_(other.ino_) {}

Lock& Lock::operator=(Lock&& other) noexcept {
  if (this != &other) {
    unLock();
    fd_ = std::exchange(other.fd_, -1);
    access_ = other.access_;
    dev_ = other.dev_;
    ino_ = other.ino_;
  }
  return *this;
}

void Lock::unLock() {
  if (fd_ < 0) return;
  release(dev_, ino_, access_ == kExclusiveLock);
  ::close(fd_);
  fd_ = -1;
}

Lock lock(Text native, int32_t access) {
  size_t count = hostPathCount(native);
  if (count == 0) return {};
  int firstErr = 0;
  std::string p;
  for (size_t i = 0; i < count; ++i) {
    if (!nativeToHostAt(native, i, p)) return {};
    int fd = ::open(p.c_str(), O_PATH | O_CLOEXEC);
    if (fd >= 0) return adoptLock(fd, access);
    if (firstErr == 0 || firstErr == ENOENT) firstErr = errno;
  }
  ioErrFromErrno(firstErr);
  return {};
}

Lock currentDir(const Lock& l) {
  if (!l) {
    setIoErr(kErrorInvalidLock);
    return {};
  }
  int previous = ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (previous < 0) {
    ioErrFromErrno(errno);
    return {};
  }
  if (::fchdir(l.fd()) != 0) {
    ioErrFromErrno(errno);
    ::close(previous);
    return {};
  }
  return adoptLock(previous, kSharedLock);
}

Lock dupLock(const Lock& l) {
  if (!l) {
    setIoErr(kErrorInvalidLock);
    return {};
  }
  int fd = ::open(fdPath(l.fd()).c_str(), O_PATH | O_CLOEXEC);
  if (fd < 0) {
    ioErrFromErrno(errno);
    return {};
  }
  return adoptLock(fd, kSharedLock);
}

Lock parentDir(const Lock& l) {
  std::string host;
  if (!l) {
    setIoErr(kErrorInvalidLock);
    return {};
  }
  if (!fdHostPath(l.fd(), host)) return {};
  if (host == "/") {
    setIoErr(0);
    return {};
  }
  int fd = ::open(dirName(host).c_str(), O_PATH | O_CLOEXEC);
  if (fd < 0) {
    ioErrFromErrno(errno);
    return {};
  }
  return adoptLock(fd, kSharedLock);
}

bool examine(const Lock& l, FileInfo& info, Detail detail) {
  if (!l) {
    setIoErr(kErrorInvalidLock);
    return false;
  }
  struct stat st{};
  std::string host;
  if (::fstat(l.fd(), &st) != 0) {
    ioErrFromErrno(errno);
    return false;
  }
  if (!fdHostPath(l.fd(), host)) return false;
  fillInfo(info, st, host == "/" ? std::string_view() : baseName(host), detail);
  if (detail == Detail::comment && !readExaminedComment(info, fdPath(l.fd()), true)) return false;
  setIoErr(0);
  return true;
}

bool examinePath(Text native, bool followLinks, FileInfo& info, Detail detail) {
  thread_local std::string host;  // reused: examining is frequent
  struct stat st{};
  if (!existingHost(native, followLinks, host, &st)) return false;
  std::string_view name = baseName(host);
  std::string real;
  if (name == ".." || name == "." || entryTypeOf(st) == kTypeRoot) {
    if (char* r = ::realpath(host.c_str(), nullptr)) {
      real = r;
      std::free(r);
      name = real == "/" ? std::string_view() : baseName(real);
    }
  }
  fillInfo(info, st, name, detail);
  if (detail == Detail::comment && !readExaminedComment(info, host, followLinks)) return false;
  setIoErr(0);
  return true;
}

std::optional<std::string> nameFromLock(const Lock& l) {
  if (!l) {
    setIoErr(kErrorInvalidLock);
    return std::nullopt;
  }
  std::string host;
  if (!fdHostPath(l.fd(), host)) return std::nullopt;
  setIoErr(0);
  return hostToNative(host);
}

DirScan::DirScan(const Lock& folder, Detail detail) : detail_(detail) {
  if (!folder) {
    setIoErr(kErrorInvalidLock);
    return;
  }
  int fd = ::openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    ioErrFromErrno(errno == ENOTDIR ? ENOTDIR : errno);
    if (errno == ENOTDIR) setIoErr(kErrorObjectWrongType);
    return;
  }
  DIR* d = ::fdopendir(fd);
  if (!d) {
    ioErrFromErrno(errno);
    ::close(fd);
    return;
  }
  dir_ = d;
  setIoErr(0);
}

DirScan::~DirScan() {
  if (dir_) ::closedir(static_cast<DIR*>(dir_));
}

bool DirScan::next(FileInfo& entry) {
  DIR* d = static_cast<DIR*>(dir_);
  if (!d) {
    setIoErr(kErrorInvalidLock);
    return false;
  }
  for (;;) {
    errno = 0;
    dirent* e = ::readdir(d);
    if (!e) {
      if (errno != 0) ioErrFromErrno(errno);
      else setIoErr(kErrorNoMoreEntries);
      return false;
    }
    std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st{};
    if (detail_ == Detail::type && e->d_type != DT_UNKNOWN) {
      st.st_mode = e->d_type == DT_DIR   ? S_IFDIR
                   : e->d_type == DT_LNK ? S_IFLNK
                   : e->d_type == DT_FIFO ? S_IFIFO
                                          : S_IFREG;
    } else if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // removed while scanning
      ioErrFromErrno(errno);
      return false;
    }
    fillInfo(entry, st, name, detail_);
    if (S_ISDIR(st.st_mode)) entry.entryType = kTypeDir;  // an entry is never the root
    if (detail_ == Detail::comment) {
      std::optional<std::string> c = examinedCommentOf(fdPath(::dirfd(d)) + "/" + e->d_name, false);
      entry.comment = c ? std::move(*c) : std::string();
      entry.commentRead = c.has_value();
    }
    setIoErr(0);
    return true;
  }
}

}  // namespace bw::dos
