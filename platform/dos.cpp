// platform/dos.cpp - locks, examining, scans, files and the changes of the
// DOS layer over POSIX.
#include "platform/dos.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <map>
#include <utility>
#include <vector>

#include "platform/dos_errors.h"
#include "platform/native_path.h"

namespace bw::dos {
namespace {

constexpr const char kCommentAttribute[] = "user.xdg.comment";

// --- sharing of locks and handles within the process -----------------------

struct Sharing {
  int shared = 0;
  bool exclusive = false;
};

std::map<std::pair<dev_t, ino_t>, Sharing>& sharingTable() {
  static std::map<std::pair<dev_t, ino_t>, Sharing> table;
  return table;
}

bool acquire(dev_t dev, ino_t ino, bool exclusive) {
  Sharing& s = sharingTable()[{dev, ino}];
  if (s.exclusive || (exclusive && s.shared > 0)) {
    if (!s.exclusive && s.shared == 0) sharingTable().erase({dev, ino});
    return false;
  }
  if (exclusive) s.exclusive = true;
  else ++s.shared;
  return true;
}

void release(dev_t dev, ino_t ino, bool exclusive) {
  auto it = sharingTable().find({dev, ino});
  if (it == sharingTable().end()) return;
  if (exclusive) it->second.exclusive = false;
  else if (it->second.shared > 0) --it->second.shared;
  if (!it->second.exclusive && it->second.shared == 0) sharingTable().erase(it);
}

bool inUse(dev_t dev, ino_t ino) { return sharingTable().count({dev, ino}) != 0; }

// --- host helpers -------------------------------------------------------------

std::string fdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// The host path that a descriptor names (readlink of its /proc entry).
bool fdHostPath(int fd, std::string& host) {
  std::string link = fdPath(fd);
  std::string buf(256, '\0');
  for (;;) {
    ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size());
    if (n < 0) {
      ioErrFromErrno(errno);
      return false;
    }
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      host = std::move(buf);
      return true;
    }
    buf.resize(buf.size() * 2);
  }
}

std::string_view baseName(std::string_view host) {
  size_t end = host.size();
  while (end > 1 && host[end - 1] == '/') --end;
  if (end == 0) return host;
  size_t slash = host.rfind('/', end - 1);
  if (slash == std::string_view::npos) return host.substr(0, end);
  return host.substr(slash + 1, end - slash - 1);
}

std::string dirName(const std::string& host) {
  size_t slash = host.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return host.substr(0, slash);
}

struct RootId {
  dev_t dev = 0;
  ino_t ino = 0;
};

RootId rootId() {
  static const RootId id = [] {
    struct stat st{};
    ::stat("/", &st);
    return RootId{st.st_dev, st.st_ino};
  }();
  return id;
}

int32_t entryTypeOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) {
    RootId root = rootId();
    return st.st_dev == root.dev && st.st_ino == root.ino ? kTypeRoot : kTypeDir;
  }
  if (S_ISLNK(st.st_mode)) return kTypeSoftLink;
  if (S_ISFIFO(st.st_mode)) return kTypePipe;
  return kTypeFile;
}

long gmtOffsetAt(int64_t utcSeconds) {
  time_t t = static_cast<time_t>(utcSeconds);
  tm local{};
  ::localtime_r(&t, &local);
  return local.tm_gmtoff;
}

// The local zone's offset at a UTC second. Offsets are remembered per hour
// (an hour whose first and last seconds share the offset has no change of
// zone inside it), so examining files of the same hours reads the zone
// once; a new zone (tzset) empties the memory.
long localOffset(int64_t utcSeconds) {
  struct Slot {
    int64_t hour = INT64_MIN;
    long offset = 0;
  };
  struct Memo {
    const char* name0 = nullptr;
    const char* name1 = nullptr;
    long zone = 0;
    int daylight = 0;
    Slot slots[64];
  };
  thread_local Memo memo;
  if (memo.name0 != tzname[0] || memo.name1 != tzname[1] || memo.zone != ::timezone ||
      memo.daylight != ::daylight) {
    memo = Memo{tzname[0], tzname[1], ::timezone, ::daylight, {}};
  }
  int64_t hour = utcSeconds >= 0 ? utcSeconds / 3600 : -((-utcSeconds + 3599) / 3600);
  Slot& slot = memo.slots[static_cast<uint64_t>(hour) % 64];
  if (slot.hour == hour) return slot.offset;
  long offset = gmtOffsetAt(utcSeconds);
  if (gmtOffsetAt(hour * 3600) == offset && gmtOffsetAt(hour * 3600 + 3599) == offset) slot = {hour, offset};
  return offset;
}

DateStamp localStamp(int64_t utcSeconds) {
  return pTime::secondsToDateStamp(utcSeconds + localOffset(utcSeconds) + pTime::kUnixEpoch);
}

bool xattrUnsupported(int err) {
  return err == ENOTSUP || err == EPERM || dosSeams().noUserXattr;
}

// Reads the comment attribute of `path` (following links or not).
std::optional<std::string> commentOf(const std::string& path, bool follow) {
  if (dosSeams().noUserXattr) return std::string();
  char buf[256];
  ssize_t n = follow ? ::getxattr(path.c_str(), kCommentAttribute, buf, sizeof buf)
                     : ::lgetxattr(path.c_str(), kCommentAttribute, buf, sizeof buf);
  if (n >= 0) return std::string(buf, static_cast<size_t>(n));
  if (errno == ENODATA || xattrUnsupported(errno) || errno == ERANGE) return std::string();
  ioErrFromErrno(errno);
  return std::nullopt;
}

void fillInfo(FileInfo& info, const struct stat& st, std::string_view name, Detail detail) {
  info.entryType = entryTypeOf(st);
  info.name.assign(name);
  info.comment.clear();
  info.commentRead = false;
  if (detail == Detail::type) {
    info.protection = 0;
    info.size = 0;
    info.date = {};
    info.mtimeSeconds = info.mtimeNanoseconds = 0;
    return;
  }
  info.protection = protectionFromMode(st.st_mode);
  info.size = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
  info.mtimeSeconds = st.st_mtim.tv_sec;
  info.mtimeNanoseconds = st.st_mtim.tv_nsec;
  info.date = localStamp(info.mtimeSeconds);
}

// The first host path of a native path where the object exists, built into
// host; IoErr set (205 or the host's reason) when there is none.
bool existingHost(Text native, bool follow, std::string& host, struct stat* st = nullptr) {
  size_t count = nativeToHostFirst(native, host);
  if (count == 0) return false;
  int firstErr = 0;
  struct stat local{};
  for (size_t i = 0; i < count; ++i) {
    if (i > 0 && !nativeToHostAt(native, i, host)) return false;
    if ((follow ? ::stat(host.c_str(), &local) : ::lstat(host.c_str(), &local)) == 0) {
      if (st) *st = local;
      return true;
    }
    if (firstErr == 0 || firstErr == ENOENT) firstErr = errno;
  }
  ioErrFromErrno(firstErr);
  return false;
}

// The host path where a new object of that native name goes: where it
// already exists, else in the assign's first folder.
bool targetHost(Text native, std::string& host) {
  size_t count = hostPathCount(native);
  if (count == 0) return false;
  struct stat st{};
  for (size_t i = 0; i < count; ++i) {
    if (!nativeToHostAt(native, i, host)) return false;
    if (count == 1 || ::lstat(host.c_str(), &st) == 0) return true;
  }
  return nativeToHostAt(native, 0, host);
}

void syncFolderOf(const std::string& host) {
  int fd = ::open(dirName(host).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

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

}  // namespace

DosSeams& dosSeams() {
  static DosSeams seams;
  return seams;
}

// --- protection ---------------------------------------------------------------

uint32_t protectionFromMode(mode_t mode) {
  uint32_t p = 0;
  if (!(mode & S_IRUSR)) p |= kProtRead;
  if (!(mode & S_IWUSR)) p |= kProtWrite | kProtDelete;
  if (!(mode & S_IXUSR)) p |= kProtExecute;
  if (mode & S_IXGRP) p |= 1u << 9;
  if (mode & S_IWGRP) p |= 1u << 10;
  if (mode & S_IRGRP) p |= 1u << 11;
  if (mode & S_IXOTH) p |= 1u << 13;
  if (mode & S_IWOTH) p |= 1u << 14;
  if (mode & S_IROTH) p |= 1u << 15;
  return p;
}

mode_t modeFromProtection(uint32_t p, mode_t current) {
  mode_t m = current & (S_ISUID | S_ISGID | S_ISVTX);
  if (!(p & kProtRead)) m |= S_IRUSR;
  if (!(p & kProtWrite)) m |= S_IWUSR;
  if (!(p & kProtExecute)) m |= S_IXUSR;
  if (p & (1u << 9)) m |= S_IXGRP;
  if (p & (1u << 10)) m |= S_IWGRP;
  if (p & (1u << 11)) m |= S_IRGRP;
  if (p & (1u << 13)) m |= S_IXOTH;
  if (p & (1u << 14)) m |= S_IWOTH;
  if (p & (1u << 15)) m |= S_IROTH;
  return m;
}

bool setProtection(Text native, uint32_t protection) {
  std::string host;
  struct stat st{};
  if (!existingHost(native, true, host, &st)) return false;
  if (::chmod(host.c_str(), modeFromProtection(protection, st.st_mode)) != 0) {
    ioErrFromErrno(errno, Access::write);
    return false;
  }
  setIoErr(0);
  return true;
}

// --- locks --------------------------------------------------------------------

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
  if (detail == Detail::comment) {
    std::optional<std::string> c = commentOf(fdPath(l.fd()), true);
    if (!c) return false;
    info.comment = std::move(*c);
    info.commentRead = true;
  }
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
  if (detail == Detail::comment) {
    std::optional<std::string> c = commentOf(host, followLinks);
    if (!c) return false;
    info.comment = std::move(*c);
    info.commentRead = true;
  }
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

// --- directory scans ------------------------------------------------------------

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
      std::optional<std::string> c = commentOf(fdPath(::dirfd(d)) + "/" + e->d_name, false);
      entry.comment = c ? std::move(*c) : std::string();
      entry.commentRead = c.has_value();
    }
    setIoErr(0);
    return true;
  }
}

// --- files --------------------------------------------------------------------

FileHandle openHandle(int fd, bool writable, bool exclusive, dev_t dev, ino_t ino) {
  FileHandle h;
  h.fd_ = fd;
  h.writable_ = writable;
  h.exclusive_ = exclusive;
  h.dev_ = dev;
  h.ino_ = ino;
  return h;
}

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
  do fd = ::open(host.c_str(), flags, 0666);
  while (fd < 0 && errno == EINTR);
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
  if (!fdHostPath(fd_, host)) return false;
  fillInfo(info, st, baseName(host), detail);
  if (detail == Detail::comment) {
    std::optional<std::string> c = commentOf(fdPath(fd_), true);
    if (!c) return false;
    info.comment = std::move(*c);
    info.commentRead = true;
  }
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

// --- comments and dates -----------------------------------------------------------

bool setComment(Text native, Text comment) {
  std::string host;
  if (!existingHost(native, true, host)) return false;
  std::string_view text = comment.isNil() ? std::string_view() : comment.nulView();
  if (text.size() > kMaxCommentLength) {
    setIoErr(kErrorCommentTooBig);
    return false;
  }
  if (dosSeams().noUserXattr) {
    setIoErr(kErrorActionNotKnown);
    return false;
  }
  int rc = text.empty() ? ::removexattr(host.c_str(), kCommentAttribute)
                        : ::setxattr(host.c_str(), kCommentAttribute, text.data(), text.size(), 0);
  if (rc != 0) {
    if (text.empty() && errno == ENODATA) {
      setIoErr(0);
      return true;
    }
    if (errno == ENOTSUP || errno == EPERM) setIoErr(kErrorActionNotKnown);
    else ioErrFromErrno(errno, Access::write);
    return false;
  }
  setIoErr(0);
  return true;
}

std::optional<std::string> readComment(Text native, bool followLinks) {
  std::string host;
  if (!existingHost(native, followLinks, host)) return std::nullopt;
  std::optional<std::string> c = commentOf(host, followLinks);
  if (c) setIoErr(0);
  return c;
}

bool setFileDate(Text native, const DateStamp& date, const FileInfo* examined) {
  std::string host;
  struct stat st{};
  if (!existingHost(native, true, host, &st)) return false;
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  if (examined && examined->date == date && (examined->mtimeSeconds != 0 || examined->mtimeNanoseconds != 0)) {
    times[1].tv_sec = static_cast<time_t>(examined->mtimeSeconds);
    times[1].tv_nsec = static_cast<long>(examined->mtimeNanoseconds);
  } else {
    bigTime local = pTime::dateStampToSeconds(date);
    CalendarDate d = pTime::bigTimeToDate(local);
    DayTime t = pTime::secondsToDayTime(local);
    int64_t reference = examined ? examined->mtimeSeconds : st.st_mtim.tv_sec;
    bool found = false;
    time_t best = 0;
    for (int dst = 0; dst <= 1; ++dst) {
      tm want{};
      want.tm_year = d.year - 1900;
      want.tm_mon = d.month - 1;
      want.tm_mday = d.day;
      want.tm_hour = t.hour;
      want.tm_min = t.minute;
      want.tm_sec = t.second;
      want.tm_isdst = dst;
      time_t candidate = ::mktime(&want);
      if (candidate == static_cast<time_t>(-1)) continue;
      tm back{};
      ::localtime_r(&candidate, &back);
      if (back.tm_year != d.year - 1900 || back.tm_mon != d.month - 1 || back.tm_mday != d.day ||
          back.tm_hour != t.hour || back.tm_min != t.minute || back.tm_sec != t.second)
        continue;
      if (!found || std::llabs(static_cast<long long>(candidate - reference)) <
                        std::llabs(static_cast<long long>(best - reference)))
        best = candidate;
      found = true;
    }
    if (!found) {  // a local time that the clock skips: let mktime decide
      tm want{};
      want.tm_year = d.year - 1900;
      want.tm_mon = d.month - 1;
      want.tm_mday = d.day;
      want.tm_hour = t.hour;
      want.tm_min = t.minute;
      want.tm_sec = t.second;
      want.tm_isdst = -1;
      best = ::mktime(&want);
    }
    times[1].tv_sec = best;
    times[1].tv_nsec = 0;
  }
  if (::utimensat(AT_FDCWD, host.c_str(), times, 0) != 0) {
    ioErrFromErrno(errno, Access::write);
    return false;
  }
  setIoErr(0);
  return true;
}

// --- renames, deletes, folders and links -----------------------------------------

namespace {

bool renameNoReplace(const std::string& from, const std::string& to) {
  if (!dosSeams().noRenameNoReplace) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
  }
  // The file system refuses the flag: never replace all the same.
  struct stat st{};
  if (::lstat(from.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    if (::link(from.c_str(), to.c_str()) == 0) {
      if (::unlink(from.c_str()) == 0) return true;
      int err = errno;
      ::unlink(to.c_str());
      errno = err;
      return false;
    }
    if (errno == EEXIST || errno == EXDEV || errno == ENOENT || errno == ENOTDIR) return false;
    // No hard links here (or on this kind of object): check, then rename.
  }
  struct stat target{};
  if (::lstat(to.c_str(), &target) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

bool rename(Text from, Text to) {
  std::string hostFrom, hostTo;
  if (!existingHost(from, false, hostFrom)) return false;
  if (!targetHost(to, hostTo)) return false;
  if (!renameNoReplace(hostFrom, hostTo)) {
    ioErrFromErrno(errno, Access::write);
    return false;
  }
  syncFolderOf(hostTo);
  setIoErr(0);
  return true;
}

bool renameReplacing(Text from, Text to) {
  std::string hostFrom, hostTo;
  if (!existingHost(from, false, hostFrom)) return false;
  if (!targetHost(to, hostTo)) return false;
  if (::rename(hostFrom.c_str(), hostTo.c_str()) != 0) {
    ioErrFromErrno(errno, Access::write);
    return false;
  }
  syncFolderOf(hostTo);
  setIoErr(0);
  return true;
}

bool deleteFile(Text native) {
  std::string host;
  struct stat st{};
  if (!existingHost(native, false, host, &st)) return false;
  if (!S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR)) {
    setIoErr(kErrorDeleteProtected);
    return false;
  }
  if (inUse(st.st_dev, st.st_ino) && !S_ISLNK(st.st_mode)) {
    setIoErr(kErrorObjectInUse);
    return false;
  }
  int rc = S_ISDIR(st.st_mode) ? ::rmdir(host.c_str()) : ::unlink(host.c_str());
  if (rc != 0) {
    ioErrFromErrno(errno == EEXIST ? ENOTEMPTY : errno, Access::remove);
    return false;
  }
  setIoErr(0);
  return true;
}

Lock createDir(Text native) {
  std::string host;
  if (!targetHost(native, host)) return {};
  if (::mkdir(host.c_str(), 0777) != 0) {
    ioErrFromErrno(errno, Access::write);
    return {};
  }
  int fd = ::open(host.c_str(), O_PATH | O_CLOEXEC | O_DIRECTORY);
  if (fd < 0) {
    ioErrFromErrno(errno);
    return {};
  }
  return adoptLock(fd, kExclusiveLock);
}

bool makeLink(Text name, Text destination, bool soft) {
  std::string hostName;
  if (!targetHost(name, hostName)) return false;
  if (soft) {
    std::string_view dest = destination.nulView();
    std::string target;
    if (dest.find(':') != std::string_view::npos) {
      if (!nativeToHost(destination, target)) return false;
    } else {
      appendHostRest(dest, target);
      if (target.empty()) target = ".";
    }
    if (::symlink(target.c_str(), hostName.c_str()) != 0) {
      ioErrFromErrno(errno, Access::write);
      return false;
    }
  } else {
    std::string hostDest;
    if (!existingHost(destination, true, hostDest)) return false;
    if (::link(hostDest.c_str(), hostName.c_str()) != 0) {
      ioErrFromErrno(errno, Access::write);
      return false;
    }
  }
  setIoErr(0);
  return true;
}

std::optional<std::string> readLink(Text native) {
  std::string host;
  struct stat st{};
  if (!existingHost(native, false, host, &st)) return std::nullopt;
  if (!S_ISLNK(st.st_mode)) {
    setIoErr(kErrorObjectWrongType);
    return std::nullopt;
  }
  std::string buf(256, '\0');
  for (;;) {
    ssize_t n = ::readlink(host.c_str(), buf.data(), buf.size());
    if (n < 0) {
      ioErrFromErrno(errno);
      return std::nullopt;
    }
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      break;
    }
    buf.resize(buf.size() * 2);
  }
  std::string base;
  if (!buf.empty() && buf[0] != '/' && buf.find(':') != std::string::npos) {
    char* real = ::realpath(dirName(host).c_str(), nullptr);
    base = real ? real : dirName(host);
    std::free(real);
  }
  setIoErr(0);
  return hostToNative(buf, base);
}

}  // namespace bw::dos
