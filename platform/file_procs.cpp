// platform/file_procs.cpp - makeDirPath, copyFile and isFileNewerBy.
#include "platform/file_procs.h"

#include <string>
#include <vector>

#include "platform/dir.h"
#include "platform/dos.h"
#include "platform/dos_errors.h"
#include "platform/file.h"
#include "platform/host_file.h"
#include "platform/path.h"

namespace bw {
namespace {

bool isDirForm(std::string_view p) { return p.empty() || p.back() == '/'; }

// The UTC seconds of the file that f has open, as the host stamps it.
bool utcTimeOf(cHostFile& f, int64_t& seconds) {
  dos::FileInfo info;
  if (!dos::examinePath(Text(f.infoNativePath()), true, info, dos::Detail::full)) return false;
  seconds = info.mtimeSeconds;
  return true;
}

}  // namespace

bool makeDirPath(Text path, bool parentOnly) {
  Str current = Str(path.isNil() ? std::string_view() : path.view());
  if (!isDirForm(current.view()) || parentOnly) current = cPath::ExtractSubPath(current);
  // Upwards: remember the names that are missing, innermost last.
  std::vector<Str> missing;
  while (!current.empty() && !cPath::ExistsPath(current, false)) {
    missing.push_back(cPath::ExtractName(current));
    current = cPath::ExtractSubPath(current);
  }
  // Downwards: opening a directory for writing makes it.
  std::string made(current.view());
  cHostDir dir;
  for (auto name = missing.rbegin(); name != missing.rend(); ++name) {
    made.append(name->view());
    if (!dir.open(Text(made), false, false)) return false;
    dir.close();
  }
  return true;
}

bool copyFile(Text source, Text destination) {
  // A copy never replaces a file, and says so in the last error.
  if (cPath::ExistsPath(destination, true)) {
    dos::setIoErr(dos::kErrorObjectExists);
    return false;
  }
  auto original = std::make_unique<cFile>();
  original->initialise(0);
  if (!original->open(source, true, false)) return false;
  // Closing the copy flushes it: its data, and its name in the folder that
  // it is new in, reach the disk.
  std::unique_ptr<cFile> copy = original->makeCopyTyped(destination);
  bool ok = copy != nullptr;
  if (copy) {
    try {
      copy->close();
    } catch (...) {
      // The bytes still cached met a full disk: no part of a copy stays.
      copy.reset();
      cPath::DeletePath(destination, true, false);
      throw;
    }
  }
  original->close();
  return ok;
}

bool isFileNewerBy(Text pathA, Text pathB, int32_t seconds, bool ifACannotOpen, bool ifBCannotOpen) {
  cHostFile f;
  f.initialise(0);
  int64_t timeA = 0, timeB = 0;
  if (!f.open(pathA, true, false)) return ifACannotOpen;
  bool known = utcTimeOf(f, timeA);
  f.close();
  if (!known) return ifACannotOpen;
  if (!f.open(pathB, true, false)) return ifBCannotOpen;
  known = utcTimeOf(f, timeB);
  f.close();
  if (!known) return ifBCannotOpen;
  return timeA - timeB >= static_cast<int64_t>(seconds);
}

}  // namespace bw
