// platform/dos_files.cpp - open files of the DOS layer: the three open
// modes, reading, writing, positions, sizes and flushing.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "platform/dos_errors.h"
#include "platform/dos_host.h"
#include "platform/native_path.h"

namespace bw::dos {
namespace {

bool fullWrite(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// The host path each open handle's descriptor last resolved to. Examining
// a handle names it often (a database file at every commit): a path still
// naming the descriptor's own file (same device and inode) is one stat
// instead of a readlink of /proc/self/fd; anything else (renamed, replaced,
// deleted) resolves the descriptor again.
struct KnownPaths {
  std::mutex mutex;
  std::unordered_map<int, std::string> byFd;
};
KnownPaths& knownPaths() {
  static KnownPaths paths;
  return paths;
}

bool handleHostPath(int fd, const struct stat& st, std::string& host) {
  KnownPaths& known = knownPaths();
  {
    std::lock_guard<std::mutex> lock(known.mutex);
    auto it = known.byFd.find(fd);
    if (it != known.byFd.end()) host = it->second;
  }
  struct stat named{};
  if (!host.empty() && ::stat(host.c_str(), &named) == 0 && named.st_dev == st.st_dev && named.st_ino == st.st_ino)
    return true;
  if (!fdHostPath(fd, host)) return false;
  std::lock_guard<std::mutex> lock(known.mutex);
  known.byFd[fd] = host;
  return true;
}

void forgetHostPath(int fd) {
  KnownPaths& known = knownPaths();
  std::lock_guard<std::mutex> lock(known.mutex);
  known.byFd.erase(fd);
}

// The comment of an open file read through its descriptor: what
// readExaminedComment gives for the descriptor's /proc path (the same file
// and the same permission check), without resolving that path.
bool readHandleComment(FileInfo& info, int fd) {
  info.comment.clear();
  info.commentRead = true;
  if (dosSeams().noUserXattr) return true;
  char buf[256];
  ssize_t n = ::fgetxattr(fd, kCommentAttribute, buf, sizeof buf);
  if (n >= 0) {
    info.comment.assign(buf, static_cast<size_t>(n));
    return true;
  }
  int err = errno;
  // No comment, no user attributes here, or one that cannot be read for lack
  // of permission: none.
  if (err == ENODATA || err == ENOTSUP || err == EPERM || err == ERANGE || err == EACCES) return true;
  info.commentRead = false;
  ioErrFromErrno(err);
  return false;
}

}  // namespace

FileHandle openHandle(int fd, bool writable, bool exclusive, dev_t dev, ino_t ino) {
  FileHandle h;
  h.fd_ = fd;
  h.writable_ = writable;
  h.exclusive_ = exclusive;
  h.dev_ = dev;
  h.ino_ = ino;
  return h;
}

namespace {
std::atomic<mode_t> gCreationMode{0666};
}  // namespace

void setCreationMode(mode_t mode) { gCreationMode.store(mode, std::memory_order_relaxed); }

FileHandle open(Text native, int32_t mode) {
  if (mode != kModeOldFile && mode != kModeNewFile && mode != kModeReadWrite) {
    setIoErr(kErrorActionNotKnown);
    return {};
  }
  std::string host;
  struct stat st{};
  bool exists = existingHost(native, true, host, &st);
  if (!exists) {
    if (mode == kModeOldFile || ioErr() != kErrorObjectNotFound) return {};
    if (!targetHost(native, host)) return {};
  } else {
    if (S_ISDIR(st.st_mode)) {
      setIoErr(kErrorObjectWrongType);
      return {};
    }
    if (mode == kModeOldFile && !(st.st_mode & S_IRUSR)) {
      setIoErr(kErrorReadProtected);
      return {};
    }
    if (mode != kModeOldFile && !(st.st_mode & S_IWUSR)) {
      setIoErr(kErrorWriteProtected);
      return {};
    }
    // A new file replaces the old one's contents: only when nobody holds it.
    if (inUse(st.st_dev, st.st_ino) && mode == kModeNewFile) {
      setIoErr(kErrorObjectInUse);
      return {};
    }
  }
  bool writable = mode != kModeOldFile || (st.st_mode & S_IWUSR);
  int flags = O_CLOEXEC | (writable ? O_RDWR : O_RDONLY);
  if (mode == kModeReadWrite) flags |= O_CREAT;
  if (mode == kModeNewFile) flags |= O_CREAT | O_TRUNC;
  int fd;
  do fd = ::open(host.c_str(), flags, gCreationMode.load(std::memory_order_relaxed));
  while (fd < 0 && errno == EINTR);
  // The owner's write bit says nothing of another user's access (a file
  // installed by root) nor of a read-only mount: an old file that cannot be
  // written is opened for reading, as one without the bit is.
  if (fd < 0 && mode == kModeOldFile && writable && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    writable = false;
    do fd = ::open(host.c_str(), O_CLOEXEC | O_RDONLY);
    while (fd < 0 && errno == EINTR);
  }
  if (fd < 0) {
    ioErrFromErrno(errno, mode == kModeOldFile ? Access::read : Access::write);
    return {};
  }
  struct stat opened{};
  ::fstat(fd, &opened);
  bool exclusive = mode == kModeNewFile;
  if (!acquire(opened.st_dev, opened.st_ino, exclusive)) {
    ::close(fd);
    setIoErr(kErrorObjectInUse);
    return {};
  }
  setIoErr(0);
  return openHandle(fd, writable, exclusive, opened.st_dev, opened.st_ino);
}

FileHandle::FileHandle(FileHandle&& o) noexcept
    : fd_(std::exchange(o.fd_, -1)), writable_(o.writable_), exclusive_(o.exclusive_), dev_(o.dev_), ino_(o.ino_) {}

FileHandle& FileHandle::operator=(FileHandle&& o) noexcept {
  if (this != &o) {
    close();
    fd_ = std::exchange(o.fd_, -1);
    writable_ = o.writable_;
    exclusive_ = o.exclusive_;
    dev_ = o.dev_;
    ino_ = o.ino_;
  }
  return *this;
}

bool FileHandle::close() {
  if (fd_ < 0) return true;
  release(dev_, ino_, exclusive_);
  forgetHostPath(fd_);
  int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0 && errno != EINTR) {
    ioErrFromErrno(errno, Access::write);
    return false;
  }
  return true;
}

int64_t FileHandle::read(void* buffer, int64_t length) {
  if (fd_ < 0) {
    setIoErr(kErrorInvalidLock);
    return -1;
  }
  char* p = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < length) {
    ssize_t n = ::read(fd_, p + done, static_cast<size_t>(length - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      ioErrFromErrno(errno);
      return -1;
    }
    if (n == 0) break;
    done += n;
  }
  setIoErr(0);
  return done;
}

int64_t FileHandle::write(const void* buffer, int64_t length) {
  if (fd_ < 0) {
    setIoErr(kErrorInvalidLock);
    return -1;
  }
  if (!writable_) {
    setIoErr(kErrorWriteProtected);
    return -1;
  }
  if (length > 0 && !fullWrite(fd_, static_cast<const char*>(buffer), static_cast<size_t>(length))) {
    ioErrFromErrno(errno, Access::write);
    return -1;
  }
  setIoErr(0);
  return length;
}

int64_t FileHandle::seek(int64_t pos, int32_t mode) {
  int64_t old = position();
  if (old < 0) return -1;
  if (!setPosition(pos, mode)) return -1;
  return old;
}

int64_t FileHandle::position() {
  off_t p = ::lseek(fd_, 0, SEEK_CUR);
  if (p < 0) {
    ioErrFromErrno(errno);
    if (errno == EINVAL || errno == ESPIPE) setIoErr(kErrorSeekError);
    return -1;
  }
  return p;
}

bool FileHandle::setPosition(int64_t pos, int32_t mode) {
  int whence = mode == kOffsetBeginning ? SEEK_SET : mode == kOffsetEnd ? SEEK_END : SEEK_CUR;
  if (::lseek(fd_, static_cast<off_t>(pos), whence) < 0) {
    ioErrFromErrno(errno);
    if (errno == EINVAL || errno == ESPIPE) setIoErr(kErrorSeekError);
    return false;
  }
  setIoErr(0);
  return true;
}

bool FileHandle::changeSize(int64_t newSize, int32_t mode) {
  if (!writable_) {
    setIoErr(kErrorWriteProtected);
    return false;
  }
  int64_t base = 0;
  if (mode == kOffsetCurrent) base = position();
  else if (mode == kOffsetEnd) base = size();
  if (base < 0) return false;
  if (::ftruncate(fd_, static_cast<off_t>(base + newSize)) != 0) {
    ioErrFromErrno(errno, Access::write);
    if (errno == EINVAL) setIoErr(kErrorSeekError);
    return false;
  }
  setIoErr(0);
  return true;
}

int64_t FileHandle::size() {
  struct stat st{};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
    if (fd_ < 0) setIoErr(kErrorInvalidLock);
    else ioErrFromErrno(errno);
    return -1;
  }
  return st.st_size;
}

bool FileHandle::flush() {
  if (fd_ < 0) {
    setIoErr(kErrorInvalidLock);
    return false;
  }
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) {
    ioErrFromErrno(errno, Access::write);
    return false;
  }
  setIoErr(0);
  return true;
}

bool FileHandle::examine(FileInfo& info, Detail detail) {
  struct stat st{};
  std::string host;
  if (fd_ < 0) {
    setIoErr(kErrorInvalidLock);
    return false;
  }
  if (::fstat(fd_, &st) != 0) {
    ioErrFromErrno(errno);
    return false;
  }
  if (!handleHostPath(fd_, st, host)) return false;
  fillInfo(info, st, baseName(host), detail);
  if (detail == Detail::comment && !readHandleComment(info, fd_)) return false;
  setIoErr(0);
  return true;
}

std::optional<std::string> FileHandle::name() {
  std::string host;
  if (fd_ < 0) {
    setIoErr(kErrorInvalidLock);
    return std::nullopt;
  }
  if (!fdHostPath(fd_, host)) return std::nullopt;
  setIoErr(0);
  return hostToNative(host);
}

}  // namespace bw::dos
