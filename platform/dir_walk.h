// platform/dir_walk.h - breadth-first directory walks with callbacks, and
// deleting a whole directory tree.
//
// Two walks stand side by side, each with its own family of callbacks:
// recurseHostDir walks internal paths through a directory object and entry
// lists; recurseDir walks native paths through the native name lists
// (listDirNames). deleteDirTree deletes a tree by internal path.
//
// Invariants of both walks:
//   1. Breadth first: a queue of directories starts with the given one;
//      each directory's entries are taken in list order; a subdirectory is
//      reported to the directory callback when it is found and, unless that
//      says FALSE, queued; files are reported while their directory is
//      listed.
//   2. A directory that cannot be opened or listed goes to the failure
//      callback (FALSE ends the walk at once, with no abort call and no
//      exception), or is skipped without one. A listing failure comes with
//      the source "cHostDir.makeEntryList()" and the listing's message.
//   3. Ctrl-C (checkBreak) is tested once per directory, after it is done.
//      With directories still queued the abort callback is told the first
//      of them, or "BRK" is raised without one; with none queued the walk
//      simply ends.
//   4. Paths handed to callbacks live for the call only.
//
// The callbacks' operations are not abstract here: the module keeps one
// object of each class (made by the module initialisers), so each does
// nothing by default - call ignores the path, callDir and callDirFailure
// answer TRUE (walk into it, go on). Callers override what they need.
#pragma once

#include <cstdint>
#include <memory>

#include "core/object.h"
#include "core/ordering.h"
#include "core/str.h"

namespace bw {

// --- internal family (internal paths) --------------------------------------

class funcRecurseFile_cpath_dir : public function {
  BW_CLASS(funcRecurseFile_cpath_dir, function)
 public:
  // Told of a file.
  virtual void call(Text path) { (void)path; }
};

class funcRecurseDir_cpath_dir : public funcRecurseFile_cpath_dir {
  BW_CLASS(funcRecurseDir_cpath_dir, funcRecurseFile_cpath_dir)
 public:
  void call(Text path) override { callDir(path); }
  // Told of a directory when it is found: TRUE to walk into it.
  virtual bool callDir(Text path) {
    (void)path;
    return true;
  }
};

class funcRecurseDirFailure_cpath_dir : public funcRecurseDir_cpath_dir {
  BW_CLASS(funcRecurseDirFailure_cpath_dir, funcRecurseDir_cpath_dir)
 public:
  bool callDir(Text path) override { return callDirFailure(path, nullptr, nullptr); }
  // Told of a directory that could not be opened, with the directory
  // object's last error: TRUE to go on with the walk, FALSE to end it.
  virtual bool callDirFailure(Text path, Text errorSource, Text error) {
    (void)path, (void)errorSource, (void)error;
    return true;
  }
};

class funcRecurseDirAbort_cpath_dir : public function {
  BW_CLASS(funcRecurseDirAbort_cpath_dir, function)
 public:
  // Told of the first directory left unvisited by a user break.
  virtual void call(Text path) { (void)path; }
};

// Walks the tree below dirPath (internal). fileFunc is required ("EMU"
// "recurseHostDir(); fileFunc=NIL"); the others may be null. Raises "BRK"
// "recurseHostDir(); Ctrl-C received" (invariant 3).
void recurseHostDir(Text dirPath, funcRecurseFile_cpath_dir* fileFunc, funcRecurseDir_cpath_dir* dirFunc,
                    funcRecurseDirFailure_cpath_dir* failureFunc, funcRecurseDirAbort_cpath_dir* abortFunc);

// Deletes dirPath (internal) and everything in it; a link is deleted itself,
// never what it points at. force clears protection bits first. Goes on after
// a failed entry (a directory that cannot be listed is one); TRUE when
// everything went. Never raises for what the file system refuses.
bool deleteDirTree(Text dirPath, bool force);
// The same, with one directory object for the whole tree made and freed here.
bool deletePathTree(Text dirPath, bool force);

// The module objects of the internal family. The initialiser also clears
// the directory module's memory of the last device tested.
void initRecurseCpathDirCallbacks();
void endRecurseCpathDirCallbacks();

// --- native family (native paths) ---------------------------------------------

// A path handed to a native callback, with the entry type of what it names
// (as the directory listed it: 2 a directory, -3 a file, 3 a soft link; 0
// for the start directory).
struct RecursePath {
  Text path;
  int32_t entryType = 0;
};

class funcRecurseFile : public function {
  BW_CLASS(funcRecurseFile, function)
 public:
  virtual void call(const RecursePath& path) { (void)path; }
};

class funcRecurseDir : public funcRecurseFile {
  BW_CLASS(funcRecurseDir, funcRecurseFile)
 public:
  void call(const RecursePath& path) override { callDir(path); }
  virtual bool callDir(const RecursePath& path) {
    (void)path;
    return true;
  }
};

class funcRecurseDirFailure : public funcRecurseDir {
  BW_CLASS(funcRecurseDirFailure, funcRecurseDir)
 public:
  bool callDir(const RecursePath& path) override { return callDirFailure(path, 0); }
  // Told of a directory that could not be listed, with the DOS error code.
  virtual bool callDirFailure(const RecursePath& path, int32_t error) {
    (void)path, (void)error;
    return true;
  }
};

class funcRecurseDirAbort : public function {
  BW_CLASS(funcRecurseDirAbort, function)
 public:
  virtual void call(const RecursePath& path) { (void)path; }
};

// Walks the tree below dirPath (native), each directory's names in
// compareFunction's order (the directory's own without one). fileFunc is
// required ("EMU" "recurseDir(); fileFunc=NIL"). Raises "BRK" "recurseDir();
// Ctrl-C received" (invariant 3).
void recurseDir(Text dirPath, fCompareMegaNodes* compareFunction, funcRecurseFile* fileFunc,
                funcRecurseDir* dirFunc, funcRecurseDirFailure* failureFunc, funcRecurseDirAbort* abortFunc);

// The module objects of the native family.
void initRecurseCallbacks();
void endRecurseCallbacks();

}  // namespace bw
