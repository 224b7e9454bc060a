// core/translate.h - the translate engine: table-driven search and replace.
//
// A translate table is an array of TranslateEntry ended by an entry whose
// matcher is null. Each entry pairs a matcher (finds the next occurrence of
// something and says how long it is and what replaces it) with an adder
// (writes the replacement straight into the output when the matcher handed
// none over). dynamicTranslateStr runs every entry of a table over a text in
// one pass, always taking the nearest match next (at equal positions the
// earlier entry) and never letting two matches overlap. Escapes, entities,
// HTML-to-text and charset conversion are all tables for this engine.
//
// Invariants:
//   1. The engine keeps no state between calls; it owns its match records
//      and every replacement string handed to it, and frees them also when
//      an exception passes. The caller's text and table are never changed.
//   2. The result is allocated once, with a capacity equal to the final
//      output length (the text length minus start plus, for every accepted
//      match, replacementLength minus matchLength).
//   3. Every accepted match covers at least one byte, starts at or after the
//      end of the previous one and ends within the text; a matcher that
//      breaks this raises "BUG" instead of looping or reading outside the
//      text.
//   4. Matching stops at the text's first NUL (and at `length`); the bytes
//      after it up to `length` are copied unchanged.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/object.h"
#include "core/str.h"

namespace bw {

class fTranslateMatcher;
class fTranslateAdder;

// One table entry: six words, the two free ones for derived matchers.
struct TranslateEntry {
  fTranslateMatcher* matcher = nullptr;  // null ends the table
  const char* matchText = nullptr;       // null: the matcher searches itself
  fTranslateAdder* adder = nullptr;      // writes replacements the matcher did not hand over
  intptr_t word4 = 0;                    // free
  const char* replacementText = nullptr;
  const void* word6 = nullptr;           // free
};

// A table made at run time (by joinTranslateTables); its last entry is the
// terminator, so data() is a table.
using TranslateTable = std::vector<TranslateEntry>;

// What a matcher answers: the match position (-1: none), how many bytes it
// covers, how many bytes the replacement adds to the output, and the
// replacement itself (NIL: the entry's adder writes it).
struct TranslateMatch {
  int32_t position = -1;
  int32_t matchLength = 0;
  int32_t replacementLength = 0;
  Str replacement;
};

class fTranslateMatcher : public function {
  BW_CLASS(fTranslateMatcher, function)

 public:
  // Finds the match at or after position (where the entry's matchText occurs,
  // or the current search position when it has none). The text is the
  // engine's whole text. The base matcher never matches.
  virtual TranslateMatch call(Text text, int32_t position, const TranslateEntry& entry);
};

class fTranslateAdder : public function {
  BW_CLASS(fTranslateAdder, function)

 public:
  // Appends the replacement for the match at position to output, whose
  // capacity the engine has sized. The base adder appends nothing.
  virtual void call(Text text, int32_t position, const TranslateEntry& entry, Str& output);
};

// Matches the entry's matchText at the offered position and hands over a copy
// of its replacementText.
class fSimpleTranslateMatcher : public fTranslateMatcher {
  BW_CLASS(fSimpleTranslateMatcher, fTranslateMatcher)

 public:
  TranslateMatch call(Text text, int32_t position, const TranslateEntry& entry) override;
};

// Matches the entry's matchText at the offered position; the entry's adder
// writes replacementText.
class fFixedTranslateMatcher : public fTranslateMatcher {
  BW_CLASS(fFixedTranslateMatcher, fTranslateMatcher)

 public:
  TranslateMatch call(Text text, int32_t position, const TranslateEntry& entry) override;
};

// Never matches.
class fDummyTranslateMatcher : public fTranslateMatcher {
  BW_CLASS(fDummyTranslateMatcher, fTranslateMatcher)

 public:
  TranslateMatch call(Text, int32_t, const TranslateEntry&) override { return {}; }
};

// Appends the entry's whole replacementText.
class fFixedTranslateAdder : public fTranslateAdder {
  BW_CLASS(fFixedTranslateAdder, fTranslateAdder)

 public:
  void call(Text text, int32_t position, const TranslateEntry& entry, Str& output) override;
};

// The shared instances that tables point to, made by initTranslateEngine()
// and freed by endTranslateEngine(). Asking before initialisation raises
// "BUG". The engine keeps its matches in matchLists sorted by their default
// ordering, so initMegaListModule() runs first.
fTranslateMatcher& sharedTranslateMatcher();
fTranslateAdder& sharedTranslateAdder();
fSimpleTranslateMatcher& sharedSimpleTranslateMatcher();
fFixedTranslateMatcher& sharedFixedTranslateMatcher();
fFixedTranslateAdder& sharedFixedTranslateAdder();
fDummyTranslateMatcher& sharedDummyTranslateMatcher();
void initTranslateEngine();
void endTranslateEngine();

// Runs the table over text from start. length 0: the text up to its NUL.
// Returns the translated text from start on, or, when nothing matched, NIL
// (nilIfUnchanged) or a copy of the whole text of capacity length.
// Raises "EPU" when length or start lie outside the text.
Str dynamicTranslateStr(Text text, const TranslateEntry* table, int32_t length, bool nilIfUnchanged,
                        int32_t start);

// dynamicTranslateStr with a dictionary: a null-terminated array of texts in
// (from, to) pairs; at one position the pair given first wins. An odd count
// raises "EPU".
Str translateStr(Text text, const char* const* dictionary, int32_t length, bool nilIfUnchanged,
                 int32_t start);

// One table holding the entries of every table of a null-terminated list of
// tables, in order (so earlier tables win ties).
TranslateTable joinTranslateTableList(const TranslateEntry* const* tables);
TranslateTable joinTranslateTables(const TranslateEntry* first, const TranslateEntry* second);

}  // namespace bw
