// platform/file_procs.cpp - makeDirPath, copyFile and isFileNewerBy.
#include "platform/file_procs.h"

#include <string>
#include <vector>

#include "platform/dir.h"
#include "platform/path.h"

namespace bw {
namespace {

bool isDirForm(std::string_view p) { return p.empty() || p.back() == '/'; }

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

}  // namespace bw
