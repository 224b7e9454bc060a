// platform/file_procs.h - procedures by internal path that work through the
// file and directory objects: make every missing directory of a path, copy
// a file, compare the times of two files. The database's backup rotation is
// built from the last two.
#pragma once

#include <cstdint>

#include "core/str.h"

namespace bw {

// Makes every missing directory of path (of its parent part when path is a
// file path or parentOnly is TRUE), outermost first. TRUE when the whole
// directory path exists afterwards; directories made before a failing level
// stay.
bool makeDirPath(Text path, bool parentOnly);

}  // namespace bw
