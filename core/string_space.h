// core/string_space.h - string spaces: maps from a text key to one data
// object, hashed with the program's SuperFastHash variant.
//
// A string space keeps a number space from the 32-bit hash of a key to the
// first item of a chain of items whose keys share that hash, and compares
// the keys of a chain as texts.
//
// Invariants:
//   1. Keys are the bytes of the given text up to its first NUL. Each item
//      holds its own copy; the caller's text stays the caller's.
//   2. Case mode -1 (kCaseSensitive): keys hash and compare exactly. Mode
//      $80000000 (kCaseChosenPerCall): keys hash without case; set() compares
//      without case and keeps the first spelling, get() and remove() compare
//      exactly unless asked to ignore case. Any other mode (0 is used): keys
//      hash and compare without case. "Without case" folds a-z to A-Z only.
//   3. A new key's item goes to the front of its chain; in the index its
//      hash is removed and set again, so it goes to the front of its bucket
//      too. Iteration follows the index's order (see number_space.h), each
//      chain from its front. Other code shows this order to users.
//   4. Data is never NIL; an owning space (autoDealloc) deletes the data
//      objects it displaces, refuses, removes or still holds when destroyed,
//      but never the object that stays stored (a set() of the same object
//      again); data handed back by get(key, remove=true) is the caller's.
//   5. Removing the entry an iteration stands on first advances the
//      iteration past it. Every operation looks its hash up in the index,
//      which moves one index entry while the index is rehashing, so an
//      iteration interleaved with operations may then miss an entry or meet
//      one twice (see number_space.h). A loop that removes each entry as it
//      visits it never meets one twice; with no rehash under way it also
//      misses none.
#pragma once

#include <cstdint>

#include "core/number_space.h"
#include "core/object.h"
#include "core/str.h"

namespace bw {

// The program's SuperFastHash: big-endian halfwords and single bytes
// sign-extended, arithmetic right shifts, 32-bit wrapping. Without
// caseSensitive, a-z count as A-Z. The empty text hashes to 0.
uint32_t superFastHash(Text text, bool caseSensitive);

// One entry of a string space: the data, the key's own copy, and the next
// item with the same hash. Destroying an item destroys its followers (one
// after another, not recursively) and, when it owns it, its data.
class itemNode_cstringspace : public class_base {
  BW_CLASS(itemNode_cstringspace, class_base)
 public:
  itemNode_cstringspace(class_base* data, std::string_view key, bool ownsData, itemNode_cstringspace* next)
      : ownsData(ownsData), data(data), key(key), next(next) {}
  itemNode_cstringspace(const itemNode_cstringspace&) = delete;
  itemNode_cstringspace& operator=(const itemNode_cstringspace&) = delete;
  ~itemNode_cstringspace() override;

  bool ownsData;
  class_base* data;
  Str key;
  itemNode_cstringspace* next;
};

// What set() hands back: the data that did not end up stored (always NIL in
// an owning space, which deletes it) and whether the key was present.
struct StringSpaceSet {
  class_base* data;
  bool present;
};

// What get() and infoCurrent() hand back: the data (NIL when absent or
// finished) and the key as stored, which may differ in case from the one
// asked for (NIL when absent, removed or finished). The key stays valid
// while its entry is in the space.
struct StringSpaceEntry {
  class_base* data;
  const Str* key;
};

class cStringSpace : public class_base {
  BW_CLASS(cStringSpace, class_base)
 public:
  static constexpr int32_t kCaseSensitive = -1;
  static constexpr int32_t kCaseInsensitive = 0;
  static constexpr int32_t kCaseChosenPerCall = INT32_MIN;  // $80000000

  cStringSpace(bool autoDealloc, int32_t caseMode);
  cStringSpace(const cStringSpace&) = delete;
  cStringSpace& operator=(const cStringSpace&) = delete;
  ~cStringSpace() override = default;  // the index ends every item

  // Stores data under key. NIL data raises "EMU" "cStringSpace.set();
  // data=NIL", a NIL key "EMU" "cStringSpace.set(); key=NIL"; neither
  // changes anything. With keepOld a present key keeps its data.
  StringSpaceSet set(Text key, class_base* data, bool keepOld = false);
  // The entry stored under key (a NIL key is never present). With remove
  // the entry leaves the space and its data goes to the caller; the key
  // result is then NIL. ignoreCase matters only in kCaseChosenPerCall mode.
  StringSpaceEntry get(Text key, bool remove = false, bool ignoreCase = false);
  // get() with remove, deleting the data in an owning space; true when the
  // key was present.
  bool remove(Text key, bool ignoreCase = false);

  bool infoAutoDealloc() const { return autoDealloc_; }
  int32_t infoCaseMode() const { return caseMode_; }

  // Iteration (invariants 3 and 5); true while positioned on an entry.
  bool gotoFirst();
  bool gotoNext();
  StringSpaceEntry infoCurrent() const;

 private:
  bool hashesCaseSensitive() const { return caseMode_ == kCaseSensitive; }
  bool keysMatch(std::string_view stored, std::string_view key, bool exact) const;
  itemNode_cstringspace* chain(intptr_t hash) {
    return static_cast<itemNode_cstringspace*>(index_.get(hash));
  }

  cNumberSpace_cnumberspace index_{true};
  int32_t caseMode_;
  bool autoDealloc_;
  itemNode_cstringspace* current_ = nullptr;
};

}  // namespace bw
