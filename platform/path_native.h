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
#include <memory>
#include <vector>

#include "core/mega_list_family.h"
#include "core/ordering.h"
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

// A node of a directory name list: the name text and the entry's own type.
struct DirNameNode : MegaValueNode<Str> {
  int32_t type = 0;
};

// A string list of directory names whose nodes also carry each entry's own
// type; clones and shares keep the types.
class cDirNameList : public cMegaList_STRING {
 public:
  // A bare list for the list machinery (makeList); use make() otherwise.
  cDirNameList() = default;
  ~cDirNameList() override { endList(); }
  // A new empty list.
  static std::unique_ptr<cDirNameList> make();

  // Appends a name with its type.
  DirNameNode* add(Str name, int32_t type);
  // The type carried by a node of this list.
  static int32_t typeOf(const MegaNode* node) { return static_cast<const DirNameNode*>(node)->type; }

  MegaNode* makeNode() override { return new DirNameNode; }
  std::unique_ptr<cMegaListGeneric> makeList() override { return std::make_unique<cDirNameList>(); }
  void node_clone(MegaNode* copy, MegaNode* source) override;
};

// The entries of a folder as a name list: in the folder's own order without
// an ordering, else sorted by it (a stable sort: entries the ordering finds
// equal keep the folder's order). list is null on failure; error is the DOS
// code (0 on success), also stored through errorOut when given.
struct ListedDirNames {
  std::unique_ptr<cDirNameList> list;
  int32_t error = 0;
};
ListedDirNames listDirNames(Text dirPath, fCompareMegaNodes* compareFunction, int32_t* errorOut = nullptr);

// Deletes a folder and everything in it. force clears protection bits
// first. Goes on after a failed entry; TRUE when everything went.
bool deleteNativeTree(Text dirPath, bool force);

}  // namespace bw
