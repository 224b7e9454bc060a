// platform/links.h - questions about native paths that the DOS layer does not
// answer in one call: does a device or assign hold a path, what is a path's
// full name, what does a soft link hold, what is an entry itself; and the two
// changes the file layer needs (make a link, rename by internal path).
//
// Invariants:
//   1. Device and assign names compare without regard to case; names below a
//      device are the host's, case-sensitive. A multi-folder assign is walked
//      in the order its folders were added.
//   2. Entries are examined by their exact name: characters that AmigaDOS
//      patterns use are plain name characters here.
//   3. A soft link counts as the kind of what it points at, resolved from the
//      link's own folder (as the kernel resolves it); a link that dangles or
//      loops counts as a file.
//   4. renamePath never replaces an existing object: an existing target gives
//      FALSE and both objects stay as they were.
//   5. Failures are results (FALSE, NIL, 0); ioErr() keeps the DOS layer's
//      reason. Nothing here raises except for malformed internal paths.
#pragma once

#include <cstdint>

#include "core/str.h"
#include "platform/dos.h"
#include "platform/path_extra.h"

namespace bw {

// Entry types the host never produces but callers test for: hard links.
inline constexpr int32_t kTypeHardLinkDir = 4;
inline constexpr int32_t kTypeHardLinkFile = -4;

// True for the three link entry types (3, 4, -4).
inline bool isLinkEntryType(int32_t type) {
  return type == dos::kTypeSoftLink || type == kTypeHardLinkDir || type == kTypeHardLinkFile;
}

struct LinkMade {
  bool made = false;
  bool unknownType = false;  // the link type was neither SLNK nor HLNK
};

// Makes a link at linkPath (internal) to targetPath (internal): kExtraSLNK a
// soft link holding the target's name, kExtraHLNK a hard link. Any other type
// does nothing and answers unknownType.
LinkMade makeLink(Text linkPath, Text targetPath, uint32_t linkType);

// Renames oldPath to newPath (internal paths). A read- or write-protected
// object is renamed only with evenIfProtected. Never replaces newPath.
bool renamePath(Text oldPath, Text newPath, bool evenIfProtected);

// TRUE when the path's device, volume or assign exists and, when something
// follows the ":", one of its folders holds it. "PIPE:" is TRUE.
bool deviceExists(Text nativePath);

// The full name of the path's device part (or of the current directory when
// there is no ":") joined with the rest; NIL when it cannot be had.
Str absoluteNativePath(Text nativePath);

// The full native name with assigns and links resolved, never NIL. With
// keepLink a soft link keeps its own name (only its folder is resolved). A
// missing last name is joined to its folder's full name; a path whose folder
// is missing too is joined to the current directory's; else a copy.
Str canonicalPath(Text nativePath, bool keepLink);

// A shared lock on the folder holding the path's canonical (link-keeping)
// form; empty on failure.
dos::Lock parentDirLock(Text nativePath);

// Scans the parent folder for the path's last name (exactly); TRUE with the
// entry in info when found.
bool findNameInDir(Text nativePath, dos::FileInfo& info);

// Examines the entry itself, not what a link points at; TRUE with it in info.
bool examineWithoutFollowingLink(Text nativePath, dos::FileInfo& info);

// The target text of a soft link in native form ("../x" is "/x", "/a/b" is
// ":a/b"), or NIL. kind: 1 not a link; with noCheck 0; else 2 when the entry
// is a soft link, 3 when it is something else.
struct SoftLinkText {
  Str target;
  int32_t kind = 1;
};
SoftLinkText readSoftLink(Text nativePath, bool noCheck);

// The entry type through the lock (following) or, with noFollow, of the
// entry itself; 0 when unknown.
int32_t entryTypeOf(const dos::Lock& lock, Text nativePath, bool noFollow);

struct PathExamination {
  int32_t type = 0;     // entry type, 0 when unknown
  bool exists = false;  // the path could be locked
};
PathExamination examinePath(Text nativePath, bool noFollow);

// TRUE when the entry itself is a link.
bool isLinkPath(Text nativePath);

// TRUE when an entry of this type at path is a file: types below 1, and soft
// links whose target is a file, dangles or loops.
bool dirEntryTypeIsFile(int32_t type, Text path);

}  // namespace bw
