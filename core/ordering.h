// core/ordering.h - orderings of list nodes (fCompareMegaNodes family) and of
// strings (fMergeSortCompare family), and their shared instances.
//
// Every ordering, called with (A, B), answers 1 when A goes before B, -1 when
// B goes before A and 0 when they are equal. Every sort and sorted search
// keeps A before B on 0 or 1, so sorts are stable.
//
// Comparisons of numbers use the sign of the 32-bit wrapping difference
// B - A: ascending signed order for values less than 2^31 apart (the order is
// not transitive over the whole int32 range). Text comparisons run over
// unsigned bytes up to A's terminating zero; a prefix goes first; the folded
// forms turn a-z into A-Z first, so "[", "\", "]", "^", "_" and "`" go after
// every letter.
//
// Shared instances: the module initialisers create them and the finalisers
// delete them and clear the globals, in this order:
//   initMegaListBaseModule   -> gCompareMegaNodes (default of cMegaList)
//   initMegaListStringModule -> gCompareMegaNodes_STRING (default of the
//                               string family), gCompareMegaNodes_STRING_NoCase
//   initMegaListModule       -> gMergeSortCompare, gMergeSort_NoCase,
//                               gMergeSort_Case, gMergeSort_Numeric,
//                               gCompareMegaNodes_match (default of matchList)
// The finalisers run in reverse.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/object.h"
#include "core/str.h"

namespace bw {

class cMegaMiniListGeneric;
struct MegaNode;

// Sign of the wrapping difference b - a: 1 when a goes first.
inline int32_t compareWrapping(int32_t a, int32_t b) {
  auto d = static_cast<int32_t>(static_cast<uint32_t>(b) - static_cast<uint32_t>(a));
  return d > 0 ? 1 : (d < 0 ? -1 : 0);
}
// Byte-wise text order, case-sensitive / with a-z folded to A-Z.
int32_t compareText(const char* a, const char* b);
int32_t compareTextNoCase(const char* a, const char* b);
// The number a text starts with: spaces and tabs skipped, optional sign, "$"
// hexadecimal, "%" binary, else decimal; 32-bit wrapping.
int32_t leadingNumber(std::string_view text);

// ---------------------------------------------------------------------------
// Node orderings. The store is the list's node store; nodes are its nodes.
// ---------------------------------------------------------------------------

// By the plain node value (a cMegaList node), wrapping difference.
class fCompareMegaNodes : public function {
  BW_CLASS(fCompareMegaNodes, function)
 public:
  virtual int32_t call(cMegaMiniListGeneric* store, MegaNode* a, MegaNode* b);
};

// String-list nodes, case-sensitive.
class fCompareMegaNodes_STRING : public fCompareMegaNodes {
  BW_CLASS(fCompareMegaNodes_STRING, fCompareMegaNodes)
 public:
  int32_t call(cMegaMiniListGeneric* store, MegaNode* a, MegaNode* b) override;
};

// String-list nodes, a-z folded to A-Z.
class fCompareMegaNodes_STRING_NoCase : public fCompareMegaNodes {
  BW_CLASS(fCompareMegaNodes_STRING_NoCase, fCompareMegaNodes)
 public:
  int32_t call(cMegaMiniListGeneric* store, MegaNode* a, MegaNode* b) override;
};

// Match records: by position, then entryIndex; position -1 goes last.
class fCompareMegaNodes_match : public fCompareMegaNodes {
  BW_CLASS(fCompareMegaNodes_match, fCompareMegaNodes)
 public:
  int32_t call(cMegaMiniListGeneric* store, MegaNode* a, MegaNode* b) override;
};

// ---------------------------------------------------------------------------
// String orderings (mergeSortStrings).
// ---------------------------------------------------------------------------

// No defined order (answers 0); the base of the string orderings.
class fMergeSortCompare : public function {
  BW_CLASS(fMergeSortCompare, function)
 public:
  virtual int32_t call(const Str& a, const Str& b);
};

class fMergeSort_Case : public fMergeSortCompare {
  BW_CLASS(fMergeSort_Case, fMergeSortCompare)
 public:
  int32_t call(const Str& a, const Str& b) override { return compareText(a.c_str(), b.c_str()); }
};

class fMergeSort_NoCase : public fMergeSortCompare {
  BW_CLASS(fMergeSort_NoCase, fMergeSortCompare)
 public:
  int32_t call(const Str& a, const Str& b) override { return compareTextNoCase(a.c_str(), b.c_str()); }
};

class fMergeSort_Numeric : public fMergeSortCompare {
  BW_CLASS(fMergeSort_Numeric, fMergeSortCompare)
 public:
  int32_t call(const Str& a, const Str& b) override {
    return compareWrapping(leadingNumber(a.view()), leadingNumber(b.view()));
  }
};

// ---------------------------------------------------------------------------
// Shared instances (null outside the modules' lifetime).
// ---------------------------------------------------------------------------
extern fCompareMegaNodes* gCompareMegaNodes;
extern fCompareMegaNodes_STRING* gCompareMegaNodes_STRING;
extern fCompareMegaNodes_STRING_NoCase* gCompareMegaNodes_STRING_NoCase;
extern fMergeSortCompare* gMergeSortCompare;
extern fMergeSort_NoCase* gMergeSort_NoCase;
extern fMergeSort_Case* gMergeSort_Case;
extern fMergeSort_Numeric* gMergeSort_Numeric;
extern fCompareMegaNodes_match* gCompareMegaNodes_match;

void initMegaListBaseModule();
void endMegaListBaseModule();
void initMegaListStringModule();
void endMegaListStringModule();
void initMegaListModule();
void endMegaListModule();

}  // namespace bw
