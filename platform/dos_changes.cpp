// platform/dos_changes.cpp - changes through the DOS layer: protection,
// comments, file dates, renames that never replace, deletes, folders and
// links.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/dos_errors.h"
#include "platform/dos_host.h"
#include "platform/native_path.h"

namespace bw::dos {

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
    // The wanted local time for mktime, with isdst as given.
    auto wanted = [&](int isdst) {
      tm want{};
      want.tm_year = d.year - 1900;
      want.tm_mon = d.month - 1;
      want.tm_mday = d.day;
      want.tm_hour = t.hour;
      want.tm_min = t.minute;
      want.tm_sec = t.second;
      want.tm_isdst = isdst;
      return want;
    };
    bool found = false;
    time_t best = 0;
    for (int dst = 0; dst <= 1; ++dst) {
      tm want = wanted(dst);
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
      tm want = wanted(-1);
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

// rename and renameReplacing: the move itself, then the target's folder is
// synced so that the new name survives a power cut.
bool moveObject(Text from, Text to, bool replace) {
  std::string hostFrom, hostTo;
  if (!existingHost(from, false, hostFrom)) return false;
  if (!targetHost(to, hostTo)) return false;
  bool moved = replace ? ::rename(hostFrom.c_str(), hostTo.c_str()) == 0 : renameNoReplace(hostFrom, hostTo);
  if (!moved) {
    ioErrFromErrno(errno, Access::write);
    return false;
  }
  syncFolderOf(hostTo);
  setIoErr(0);
  return true;
}

}  // namespace

bool rename(Text from, Text to) { return moveObject(from, to, false); }

bool renameReplacing(Text from, Text to) { return moveObject(from, to, true); }

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
