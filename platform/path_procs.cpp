// platform/path_procs.cpp - existence by kind, deletion, unique names and
// link reading by internal path, and cPath's create slot built on them.
#include "platform/path_procs.h"

#include <cinttypes>
#include <cstdio>
#include <string>
#include <string_view>

#include "core/ascii_case.h"
#include "core/exception.h"
#include "platform/dos.h"
#include "platform/dos_errors.h"
#include "platform/links.h"
#include "platform/path.h"
#include "platform/time.h"
#include "platform/unique_name.h"

namespace bw {
namespace {

struct UniquePathState {
  int32_t seed = 0;
  std::function<bool(Text)> probe;  // test seam
};
UniquePathState gUnique;

bool isDirForm(std::string_view p) { return p.empty() || p.back() == '/'; }

// True for paths on the two FTP roots, whose locks say less than elsewhere.
bool onFtpRoot(std::string_view p) {
  return startsWithNoCase(p, "FTPMount:/") || startsWithNoCase(p, "FTP:/");
}

// True when an object of this entry type at native (links followed) is of
// the kind the internal path's form names.
bool kindMatchesForm(int32_t type, Text native, std::string_view path) {
  return dirEntryTypeIsFile(type, native) != isDirForm(path);
}

}  // namespace

bool cPath::ExistsPath(Text path, bool ignoreKind) {
  if (path.isNil()) raise("EPU", "cPath; ExistsPath(); path=NIL");
  Str native = ExportPath(path);
  bool ftp = onFtpRoot(path.view());
  // Examining by path (links followed) answers what a lock and an examine
  // of it would, in one host call.
  dos::FileInfo info;
  if (dos::examinePath(native, true, info, dos::Detail::type))
    return ignoreKind || kindMatchesForm(info.entryType, native, path.view());
  int32_t error = dos::ioErr();
  if (error == dos::kErrorObjectNotFound || error == dos::kErrorDeviceNotMounted || error == 4) return false;
  // Anything else (in use, no permission) means something is there.
  return !(ftp && error == dos::kErrorObjectInUse);
}

bool cPath::DeletePath(Text path, bool force, bool ignoreKind) {
  if (path.isNil()) raise("EPU", "cPath; DeletePath(); path=NIL");
  Str native = ExportPath(path);
  dos::FileInfo info;
  bool examined = false;
  if (force) {
    examined = examineWithoutFollowingLink(native, info);
  } else if (!ignoreKind) {
    examined = dos::examinePath(native, true, info, dos::Detail::type);
  }
  if (!ignoreKind && examined && !kindMatchesForm(info.entryType, native, path.view())) return false;
  // A link's own bits are left alone: changing them would change the target's.
  if (force && !(examined && isLinkEntryType(info.entryType))) dos::setProtection(native, 0);
  return dos::deleteFile(native);
}

Str cPath::MakeUniquePath(int32_t file1dir2, Text dirPath, Text prefix) {
  if (file1dir2 != 1 && file1dir2 != 2) raise("EMU", "cPath; MakeUniquePath(); file1dir2 <> 1 or 2");
  std::string_view dir = dirPath.isNil() ? std::string_view() : dirPath.view();
  std::string_view pre = prefix.isNil() ? std::string_view("TMP") : prefix.view();
  int32_t capacity = static_cast<int32_t>(dir.size() + pre.size()) + 9;
  for (int tries = 1;; ++tries) {
    if (tries >= 1000)
      raise("BUG", "cPath; MakeUniquePath(); retry limit exceeded, possibly due to a buggy filing system");
    uint32_t number = nextUniqueNumber(gUnique.seed);
    char hex[16];
    std::snprintf(hex, sizeof hex, file1dir2 == 2 ? "%" PRIx32 "/" : "%" PRIx32, number);
    std::string name(dir);
    name.append(pre).append(hex);
    Str candidate = Str::withCapacity(capacity, name);
    bool taken = gUnique.probe ? gUnique.probe(candidate) : ExistsPath(candidate, true);
    if (!taken) return candidate;
  }
}

PathLink cPath::ReadLink(Text path) {
  if (path.isNil()) raise("EPU", "cPath; ReadLink(); path=NIL");
  Str native = ExportPath(path);
  SoftLinkText link = readSoftLink(native, false);
  if (link.target.isNil()) return {};
  PathLink r;
  r.target = isDirForm(path.view()) ? ImportDirPath(link.target) : ImportFilePath(link.target);
  r.linkType = link.kind == 3 ? kExtraHLNK : kExtraSLNK;
  return r;
}

bool cPath::create(Text path, bool failIfExists, bool force) {
  if (!failIfExists) {
    DeletePath(path, force, force);
    return open(path, false, force);
  }
  if (ExistsPath(path, false)) return false;
  bool opened = open(path, false, force);
  if (!opened) {
    const dos::KeptIoErr reason;  // the open's, not the clean-up's
    DeletePath(path, force, force);
  }
  return opened;
}

void initMakeUniquePathSeed() { gUnique.seed = static_cast<int32_t>(pTime::CurrentTime(0)); }

void setMakeUniquePathSeed(int32_t seed) { gUnique.seed = seed; }

void setMakeUniquePathProbe(std::function<bool(Text)> probe) { gUnique.probe = std::move(probe); }

}  // namespace bw
