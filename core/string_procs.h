// core/string_procs.h - the program's own string procedures: building
// strings from parts, splitting, trimming, shortening and reading numbers.
//
// Invariants:
//   1. Every builder sizes its result once, before copying, and the capacity
//      it gives is part of its contract (stored strings write their capacity).
//   2. Plain texts are measured by their NUL length (the bytes before the
//      first NUL); chain strings given to joinStrings by their length field.
//   3. White space is exactly space, no-break space (0xA0), tab, line feed
//      and carriage return; nothing else.
//   4. A NIL string where a text is required raises "EPU"; so does an empty
//      separator for splitString, which could never advance.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "core/str.h"

namespace bw {

// True for the five white-space bytes; only the low 8 bits of c count.
bool isWhiteSpace(int32_t c);

// A new string of the non-NIL texts in order; its capacity is the sum of
// their NUL lengths (0 when all are NIL) and equals its length.
Str concatTexts(std::span<const Text> texts);

// concatStrings("a", nullptr, s, ...): up to 19 texts, each may be NIL.
template <class... Parts>
Str concatStrings(const Parts&... parts) {
  static_assert(sizeof...(Parts) <= 19, "concatStrings takes at most 19 texts");
  const Text texts[] = {Text(parts)..., Text(nullptr)};
  return concatTexts(std::span<const Text>(texts, sizeof...(Parts)));
}

// A new string of the chain's strings with the separator (may be NIL)
// between them, never after the last. Its capacity is the sum of the
// strings' lengths and the separators between them, at least 1.
Str joinStrings(const StrChain& chain, Text separator);
// joinStrings with "\n".
Str joinLines(const StrChain& chain);

// NIL for NIL; else a copy of the text's NUL length, capacity max(length, 1).
Str copyString(Text text);
// NIL for NIL; else a copy with the source's capacity.
Str copyStringKeepSize(const Str& source);

// NIL when noCopy; else a string of capacity `length` (0: the buffer's NUL
// length plus one) holding the bytes up to the first NUL or `length` bytes.
// A null buffer or a negative length raises "EPU".
Str newStringFromBuffer(const void* buffer, int32_t length, bool noCopy);

struct SplitResult {
  StrChain chain;  // never empty; the last string is chain.back()
  int32_t count = 0;
};

// Cuts the text at every occurrence of the separator (case-sensitive): two
// separators in a row give an empty piece, as does one at either end; an
// empty text gives one empty string. Each piece has capacity max(length, 1).
// A NIL text or separator, or an empty separator, raises "EPU".
SplitResult splitString(Text text, Text separator);
// splitString at "\n".
SplitResult splitLines(Text text);

// Consumes s. Returns s itself (buffer and capacity kept) when it has no
// leading or trailing white space; else a new string of exactly the trimmed
// text (capacity 1 when nothing is left). NIL raises "EPU".
Str trimWhiteSpace(Str s);
// text without the ASCII blanks around it (space, tab, CR, LF and form
// feed): the blanks an indented document or a pasted address holds.
std::string_view trimmedBlanks(std::string_view text);
// Removes trailing white space in place. NIL raises "EPU".
void trimEnd(Str& s);
// Removes leading white space in place. NIL raises "EPU".
void trimStart(Str& s);

// Always shortens a non-NIL string in place, to at most half its length and
// 200 bytes (201 when byte 200 is white space), at a white-space boundary
// when there is one, and appends "..." (clipped at the capacity). NIL is
// left alone.
void shortenText(Str& s);

// Outside text fit for one line of a terminal or a log: every control byte
// (C0, DEL, and C1 written as UTF-8) shows as "?", so a feed's name never
// moves the cursor or sets a colour.
std::string printableLine(std::string_view text);

struct ValueAt {
  int32_t value = 0;
  int32_t position = 0;  // just after what was read
};

// Reads a number at position: spaces and tabs, an optional "-", then "$"
// hexadecimal, "%" binary or decimal digits. With no digits the result is
// `defaultValue` at the same position. A NIL text or a position outside
// 0..NUL length raises "EPU".
ValueAt valueAt(Text text, int32_t position, int32_t defaultValue);

struct RuntimeNumber {
  int32_t value = 0;  // 0 when no digits were read
  size_t end = 0;     // just after the last digit
  bool digits = false;
};

// The runtime's number reader, shared by valueAt and the numeric ordering:
// from position, spaces and tabs, an optional "-" (or "+" when plusSign),
// then "$" hexadecimal, "%" binary or decimal digits, wrapping at 32 bits.
RuntimeNumber readRuntimeNumber(std::string_view text, size_t position, bool plusSign);

// A keyword table: for each item of a parsed shell template, its names.
using KeywordTable = std::span<const StrChain>;

struct FoundString {
  bool found = false;
  int32_t index = 0;  // the item's index, or the number of items when not found
};

// Finds the first item one of whose names equals word, ignoring case.
FoundString findStringInList(Text word, KeywordTable table);

}  // namespace bw
