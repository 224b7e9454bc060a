// platform/dir_entry_list.h - cDirEntryList, the names found in one directory
// as a directory object lists them, walked by kind through one cursor.
//
// An entry is a text in internal-path form: a directory's name ends in "/",
// a file's does not (an empty text counts as a directory).
//
// Invariants:
//   1. Entry order: byte by byte with a-z folded to A-Z (so "_" and the other
//      characters between "Z" and "a" go after every letter), a text before
//      a longer one that begins with it (abc, abc/, abcd); texts equal when
//      folded go in plain byte order ("A" before "a").
//   2. Only byte-identical texts are duplicates: a Linux directory may hold
//      "Readme" and "README", and both are listed.
//   3. Entries added without atFront keep the list in entry order; atFront
//      puts a text first whatever its place.
//   4. The cursor is one entry or none; removing and inserting keep it on the
//      same entry.
//   5. Unique names come from the module's seed (unique_name.h), carried from
//      one call to the next; initMakeUniqueNameSeed sets it at start-up.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "core/object.h"
#include "core/ordering.h"
#include "core/str.h"

namespace bw {

// The entry order: negative when a goes before b, 0 for identical texts.
int32_t compareEntryNames(std::string_view a, std::string_view b);

// The entry order as a string ordering for mergeSortStrings.
class fMergeSort_DirEntries : public fMergeSortCompare {
  BW_CLASS(fMergeSort_DirEntries, fMergeSortCompare)
 public:
  int32_t call(const Str& a, const Str& b) override;
};

class cDirEntryList : public class_base {
  BW_CLASS(cDirEntryList, class_base)

 public:
  // An empty list.
  cDirEntryList() = default;
  // A list of names in any order: sorted into entry order once, duplicates
  // dropped (what adding them one by one gives, in O(n log n)).
  static std::unique_ptr<cDirEntryList> fromNames(StrChain names);

  // A new, empty list.
  static std::unique_ptr<cDirEntryList> make() { return std::make_unique<cDirEntryList>(); }
  // A copy made by adding every entry in order (refused ones are ignored).
  std::unique_ptr<cDirEntryList> clone() const;

  // Kinds: 0 any entry, 1 files, 2 directories. Another kind raises "EMU"
  // "cDirEntryList.gotoFirst(); any0file1dir2 <> 0 or 1 or 2" (gotoNext
  // likewise). FALSE, with no current entry, when none is left.
  bool gotoFirst(int32_t any0file1dir2);
  bool gotoNext(int32_t any0file1dir2);
  // The current entry's text, "" when none is current; owned by the list.
  Text infoName() const;
  // Makes the entry called name current. With eitherKind the name counts as
  // a file or a directory ("docs" and "docs/" are both found). An exact
  // match wins over one that differs in case only. FALSE with no current
  // entry when there is none; an empty list leaves the cursor alone.
  bool gotoName(Text name, bool eitherKind);
  // Removes the current entry; the next becomes current (TRUE when there is
  // one). Raises "EMU" "cDirEntryList.remove(); not on a list item" without
  // a current entry.
  bool remove();
  // Adds a copy of name (see addString).
  bool add(Text name, bool atFront);
  // Adds text first (atFront or an empty list) or at its place in entry
  // order; FALSE when an identical entry is already there (the text is then
  // dropped).
  bool addString(Str text, bool atFront);
  // Adds every entry of other in its order; returns how many were refused.
  int32_t addAll(const cDirEntryList& other);
  // Sorts into entry order and clears the cursor; unless keepDuplicates,
  // removes identical neighbours and returns how many went.
  int32_t sort(bool keepDuplicates);
  // A name (prefix NIL means "TMP", then lower-case hexadecimal, then "/"
  // for a directory) that no entry has in either kind or in any case. Moves
  // the cursor. file1dir2 other than 1 or 2 raises "EMU"
  // "cDirEntryList.makeUniqueName(); file1dir2 <> 1 or 2"; 999 taken names
  // in a row raise "BUG" "cDirEntryList.makeUniqueName(); retry limit
  // exceeded".
  Str makeUniqueName(int32_t file1dir2, Text prefix);

  // The entries in list order.
  const StrChain& entries() const { return entries_; }
  int32_t count() const { return static_cast<int32_t>(entries_.size()); }

 private:
  bool stepToKind(int32_t kind);

  StrChain entries_;
  int64_t current_ = -1;  // index of the current entry, -1 for none
};

// Module initialiser: the unique-name seed becomes the low 32 bits of the
// local clock time (pTime::CurrentTime(2)); needs the timer device open.
void initMakeUniqueNameSeed();
// Sets and reads the seed (tests).
void setMakeUniqueNameSeed(int32_t seed);
int32_t infoMakeUniqueNameSeed();

}  // namespace bw
