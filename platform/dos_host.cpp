// platform/dos_host.cpp - host helpers of the DOS layer: the table of locks
// and handles, descriptor names, examination records, the choice of host
// paths and the protection word.
#include "platform/dos_host.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <map>
#include <utility>

#include "platform/dos_errors.h"
#include "platform/native_path.h"

namespace bw::dos {
namespace {

struct Sharing {
  int shared = 0;
  bool exclusive = false;
};

std::map<std::pair<dev_t, ino_t>, Sharing>& sharingTable() {
  static std::map<std::pair<dev_t, ino_t>, Sharing> table;
  return table;
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

}  // namespace

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

int32_t entryTypeOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) {
    RootId root = rootId();
    return st.st_dev == root.dev && st.st_ino == root.ino ? kTypeRoot : kTypeDir;
  }
  if (S_ISLNK(st.st_mode)) return kTypeSoftLink;
  if (S_ISFIFO(st.st_mode)) return kTypePipe;
  return kTypeFile;
}

// Reads the comment attribute of `path` (following links or not).
std::optional<std::string> commentOf(const std::string& path, bool follow) {
  if (dosSeams().noUserXattr) return std::string();
  char buf[256];
  ssize_t n = follow ? ::getxattr(path.c_str(), kCommentAttribute, buf, sizeof buf)
                     : ::lgetxattr(path.c_str(), kCommentAttribute, buf, sizeof buf);
  if (n >= 0) return std::string(buf, static_cast<size_t>(n));
  int err = errno;
  if (err == ENODATA || xattrUnsupported(err) || err == ERANGE) return std::string();
  ioErrFromErrno(err);
  errno = err;  // callers tell a permission failure from others
  return std::nullopt;
}

std::optional<std::string> examinedCommentOf(const std::string& path, bool follow) {
  std::optional<std::string> c = commentOf(path, follow);
  if (!c && (errno == EACCES || errno == EPERM)) return std::string();
  return c;
}

bool readExaminedComment(FileInfo& info, const std::string& path, bool follow) {
  std::optional<std::string> c = examinedCommentOf(path, follow);
  if (!c) return false;
  info.comment = std::move(*c);
  info.commentRead = true;
  return true;
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

bool existingHost(Text native, bool follow, std::string& host, struct stat* st) {
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

DosSeams& dosSeams() {
  static DosSeams seams;
  return seams;
}

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

}  // namespace bw::dos
