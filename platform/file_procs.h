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

// Copies the file at source to destination (which must not exist) with its
// data, attributes, comment and time, and syncs the copy and its folder.
// FALSE when the source cannot be opened or the copy fails (an existing
// destination leaves kErrorObjectExists in ioErr); exceptions of
// the file objects (an invalid path, a full disk) pass on after both are
// freed, and no part of a copy is left at destination.
bool copyFile(Text source, Text destination);

// TRUE when A's time is at least `seconds` later than B's, both taken as UTC
// seconds (so a change of summer time between them moves nothing). When A
// cannot be opened the result is ifACannotOpen, when B cannot,
// ifBCannotOpen.
bool isFileNewerBy(Text pathA, Text pathB, int32_t seconds, bool ifACannotOpen, bool ifBCannotOpen);

}  // namespace bw
