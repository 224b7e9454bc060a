// platform/owned_names.h - names for the files a run makes for a while
// beside the user's data (a copy checked before it is renamed into place,
// a database being made): "<prefix><pid><random>", unique among processes
// started in the same second, and recognisable as left by a run that ended.
//
// Invariants:
//   1. newOwnedName answers folder + prefix + the process id in 8 hex digits
//      + 8 hex digits of random bits (getrandom; a counter mixed with the
//      clock when that fails): a name that nothing stands at yet.
//   2. removeLeftOwnedNames deletes, in one folder, every
//      "<prefix><hex digits>" whose process has ended: never one whose
//      process still runs (it may be about to rename it), nor one held open
//      for writing (the one-writer guard refuses the probe's open). A name
//      of 8 hex digits or fewer has no process id (an earlier version's) and
//      counts as left behind.
//   3. Best effort: a folder that cannot be listed is left as it is; nothing
//      raises.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/str.h"

namespace bw {

// Whether anything (a file, a folder, a link, even one that dangles) stands
// at the internal path.
bool entryStandsAt(Text path);

// Which file stands at the internal path (links not followed): its device
// and inode, both 0 when nothing does. A file renamed into the place of
// another has another identity, a file written in place the same.
struct EntryIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const EntryIdentity&) const = default;
};
EntryIdentity entryIdentity(Text path);

// A new name in folder (an internal folder path: "" for the current
// directory, else ending in "/" or ":") for a file of this process.
Str newOwnedName(std::string_view folder, std::string_view prefix);

// Whether name is "<prefix><hex digits>".
bool isOwnedName(std::string_view name, std::string_view prefix);

// Whether the owned name's process (read from the digits after prefix) is
// another one that still runs.
bool ownedByAnotherLiveProcess(std::string_view name, std::string_view prefix);

// A file of this run under a new owned name, deleted when the object ends
// unless it was renamed into place.
class OwnedFile {
 public:
  OwnedFile(std::string_view folder, std::string_view prefix) : name_(newOwnedName(folder, prefix)) {}
  OwnedFile(const OwnedFile&) = delete;
  OwnedFile& operator=(const OwnedFile&) = delete;
  ~OwnedFile();

  const Str& name() const { return name_; }
  // Renames it to path, never replacing what stands there unless replacing
  // (a file, never a folder); once renamed it stays.
  bool renameTo(Text path, bool replacing = false);

 private:
  Str name_;
  bool placed_ = false;
};

// Deletes what runs that ended left under prefix in folder (see 2.); answers
// how many went.
int removeLeftOwnedNames(std::string_view folder, std::string_view prefix);

}  // namespace bw
