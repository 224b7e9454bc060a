// platform/path_expand.cpp - the current directory as an internal path, and
// expanding an internal path to an absolute one through the system's names.
#include <string>
#include <string_view>

#include "core/exception.h"
#include "platform/amiga_dos.h"
#include "platform/dos.h"
#include "platform/path.h"

namespace bw {

Str cPath::CurrentDirPath() {
  Str name = strSafeGetNameOfCurrentDir();
  if (name.isNil()) raise("FILE", "cPath; CurrentDirPath(); strSafeGetNameOfCurrentDir() failed");
  return ImportDirPath(name);
}

Str cPath::ExpandPath(Text path) {
  if (path.isNil()) raise("EPU", "cPath; ExpandPath(); path=NIL");
  std::string_view p = path.view();
  size_t colon = p.find(':');
  bool absolute = colon != std::string_view::npos && p.find('/') > colon;
  Str full;
  if (absolute) {
    full = Str(p);
  } else {
    Str cwd = CurrentDirPath();
    full = Str(std::string(cwd.view()) + std::string(p));
  }
  Str native = ExportPath(full);
  dos::Lock l = dos::lock(native);
  if (!l) return full;
  Str name = strNameFromLock(l);
  if (name.isNil()) return full;
  bool dir = p.empty() || p.back() == '/';
  return dir ? ImportDirPath(name) : ImportFilePath(name);
}

}  // namespace bw
