// platform/path_native.h - procedures on native paths and handles: existence
// by kind (device names included), making missing folders, sizes, a whole
// file copy, comments, file parts, the program's own path, directory name
// lists and deleting a native tree.
//
// Invariants:
//   1. kinds of pathOrDeviceExists is a bit set: 1 a file counts, 2 a
//      folder, 4 a path only the device test finds; 0 asks whether the path
//      can be locked at all or the device test finds it.
//   2. Soft links count as what they point at (dangling or looping: files).
//   3. deleteNativeTree never follows a link: a link, at the top or inside,
//      is deleted itself, and its target's bits are never changed.
//   4. Failures are results (FALSE, NIL, -1); only an unobtainable size of an
//      open file raises ("ERR").
#pragma once

#include <cstdint>
#include <vector>

#include "core/str.h"
#include "platform/dos.h"

namespace bw {

bool pathOrDeviceExists(Text nativePath, int32_t kinds);

// Makes the folder (or, with parentsOnly, only its missing parents). With
// deleteFirst, whatever stands at the path is deleted before the folder is
// made. TRUE when the folder (or its parent) exists afterwards.
bool makeMissingDirs(Text nativePath, bool parentsOnly, bool deleteFirst);

// The size of an open file; 0 for a link with zeroForLinks. When the size has
// to be found by seeking, restorePosition puts the position back. Raises
// "ERR" "fileSizeFromFH(); failed to obtain size of file (6)" when unknown.
int64_t fileSizeFromFH(dos::FileHandle& handle, bool restorePosition, bool zeroForLinks);

// The size of a file by path, -1 (with a warning on standard output) when
// it cannot be had. noFollow sizes a link itself as 0.
int64_t fileSize(Text nativePath, bool noFollow);

// Copies source to destination with its protection, comment and date.
// Without overwrite an existing destination is refused. A copy that fails
// part-way deletes the destination it made.
bool copyNativeFile(Text source, Text destination, bool overwrite);

// The comment of a file, or NIL.
Str strFileComment(Text nativePath);

// FilePart and everything before it: "Work:news/feeds.db" gives "feeds.db"
// and "Work:news/".
struct FileParts {
  Str file;
  Str path;
};
FileParts strFilePart(Text nativePath);

// The full native path of the running program's file, or NIL.
Str strProgramPath();

// One entry of a folder: a file's name, or a folder's name and "/" (soft
// links by what they point at), with the entry's own type (3 for every soft
// link, 2 a folder, -3 a file).
struct DirName {
  Str name;
  int32_t type = 0;
};

// The entries of a folder in the folder's own order; error is the DOS code
// when the folder cannot be listed (ok false), else 0.
struct DirNameScan {
  bool ok = false;
  int32_t error = 0;
  std::vector<DirName> names;
};
DirNameScan scanDirNames(Text dirPath);

// Deletes a folder and everything in it. force clears protection bits
// first. Goes on after a failed entry; TRUE when everything went.
bool deleteNativeTree(Text dirPath, bool force);

}  // namespace bw
