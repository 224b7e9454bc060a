// platform/owned_names.cpp - owned names over getpid, getrandom and kill(0).
#include "platform/owned_names.h"

#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>

#include "core/exception.h"
#include "platform/dir.h"
#include "platform/dir_entry_list.h"
#include "platform/dos.h"
#include "platform/dos_errors.h"
#include "platform/host_file.h"
#include "platform/links.h"
#include "platform/native_path.h"
#include "platform/path.h"

namespace bw {
namespace {

constexpr size_t kPidDigits = 8;

uint32_t randomBits() {
  uint32_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) return bits;
  static std::atomic<uint32_t> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return static_cast<uint32_t>(now) * 2654435761u + counter.fetch_add(1);
}

}  // namespace

bool entryStandsAt(Text path) {
  dos::FileInfo info;
  return examineWithoutFollowingLink(cPath::ExportPath(path), info);
}

EntryIdentity entryIdentity(Text path) {
  struct stat st {};
  std::string host;
  if (!dos::nativeToHost(cPath::ExportPath(path), host) || ::lstat(host.c_str(), &st) != 0) return {};
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

Str newOwnedName(std::string_view folder, std::string_view prefix) {
  for (;;) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "%08x%08x", static_cast<unsigned>(::getpid()), randomBits());
    Str name(std::string(folder) + std::string(prefix) + suffix);
    if (!entryStandsAt(name)) return name;
  }
}

OwnedFile::~OwnedFile() {
  if (placed_) return;
  // The reason of a failure that ended its use stays the last error.
  const dos::KeptIoErr kept;
  try {
    cPath::DeletePath(name_, true, false);
  } catch (const eException&) {
  }
}

bool OwnedFile::renameTo(Text path, bool replacing) {
  placed_ = replacing ? dos::renameReplacing(cPath::ExportPath(name_), cPath::ExportPath(path))
                      : renamePath(name_, path, false);
  return placed_;
}

bool isOwnedName(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

bool ownedByAnotherLiveProcess(std::string_view name, std::string_view prefix) {
  if (!isOwnedName(name, prefix)) return false;
  const std::string_view suffix = name.substr(prefix.size());
  if (suffix.size() <= kPidDigits) return false;  // an earlier version's name
  const unsigned long pid = std::stoul(std::string(suffix.substr(0, kPidDigits)), nullptr, 16);
  if (pid == 0 || pid > 0x7fffffff || static_cast<pid_t>(pid) == ::getpid()) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

int removeLeftOwnedNames(std::string_view folder, std::string_view prefix) {
  std::unique_ptr<cDirEntryList> entries;
  try {
    cHostDir dir;
    if (!dir.open(Text(std::string(folder)), true, false)) return 0;
    entries = dir.makeEntryList();
    dir.close();
  } catch (const eException&) {
    return 0;
  }
  if (!entries) return 0;
  int removed = 0;
  for (bool more = entries->gotoFirst(1); more; more = entries->gotoNext(1)) {
    const std::string_view name = entries->infoName().view();
    if (!isOwnedName(name, prefix) || ownedByAnotherLiveProcess(name, prefix)) continue;
    const std::string candidate = std::string(folder) + std::string(name);
    try {
      cHostFile probe;
      probe.initialise(0);
      if (!probe.open(Text(candidate), false, false, false)) continue;
      probe.close();
    } catch (const eException&) {
      continue;
    }
    if (cPath::DeletePath(Text(candidate), false, false)) ++removed;
  }
  return removed;
}

}  // namespace bw
