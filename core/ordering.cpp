// core/ordering.cpp - node and string orderings and their shared instances.
#include "core/ordering.h"

#include "core/string_procs.h"

#include "core/mega_list_family.h"

namespace bw {

namespace {

template <class Fold>
int32_t compareBytes(const char* a, const char* b, Fold fold) {
  for (size_t i = 0;; ++i) {
    auto ca = fold(static_cast<unsigned char>(a[i]));
    auto cb = fold(static_cast<unsigned char>(b[i]));
    if (ca != cb) return cb > ca ? 1 : -1;
    if (ca == 0) return 0;
  }
}

unsigned char same(unsigned char c) { return c; }
unsigned char upper(unsigned char c) { return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c; }

const char* textOf(MegaNode* node) { return cMegaMiniList_STRING::getData(node).c_str(); }

}  // namespace

int32_t compareText(const char* a, const char* b) { return compareBytes(a, b, same); }
int32_t compareTextNoCase(const char* a, const char* b) { return compareBytes(a, b, upper); }

int32_t leadingNumber(std::string_view text) { return readRuntimeNumber(text, 0, true).value; }

int32_t fCompareMegaNodes::call(cMegaMiniListGeneric*, MegaNode* a, MegaNode* b) {
  return compareWrapping(cMegaMiniList::getData(a), cMegaMiniList::getData(b));
}

int32_t fCompareMegaNodes_STRING::call(cMegaMiniListGeneric*, MegaNode* a, MegaNode* b) {
  return compareText(textOf(a), textOf(b));
}

int32_t fCompareMegaNodes_STRING_NoCase::call(cMegaMiniListGeneric*, MegaNode* a, MegaNode* b) {
  return compareTextNoCase(textOf(a), textOf(b));
}

int32_t fCompareMegaNodes_match::call(cMegaMiniListGeneric*, MegaNode* a, MegaNode* b) {
  const auto& ra = *static_cast<matchNode*>(a);
  const auto& rb = *static_cast<matchNode*>(b);
  if (ra.position == -1 || rb.position == -1) {
    if (ra.position == rb.position) return 0;
    return ra.position == -1 ? -1 : 1;
  }
  int32_t r = compareWrapping(ra.position, rb.position);
  return r != 0 ? r : compareWrapping(ra.entryIndex, rb.entryIndex);
}

int32_t fMergeSortCompare::call(const Str&, const Str&) { return 0; }

// ---------------------------------------------------------------------------
// Shared instances.
// ---------------------------------------------------------------------------

fCompareMegaNodes* gCompareMegaNodes = nullptr;
fCompareMegaNodes_STRING* gCompareMegaNodes_STRING = nullptr;
fCompareMegaNodes_STRING_NoCase* gCompareMegaNodes_STRING_NoCase = nullptr;
fMergeSortCompare* gMergeSortCompare = nullptr;
fMergeSort_NoCase* gMergeSort_NoCase = nullptr;
fMergeSort_Case* gMergeSort_Case = nullptr;
fMergeSort_Numeric* gMergeSort_Numeric = nullptr;
fCompareMegaNodes_match* gCompareMegaNodes_match = nullptr;

namespace {

template <class T>
void make(T*& global) {
  delete global;
  global = new T;
}

template <class T>
void drop(T*& global) {
  delete global;
  global = nullptr;
}

}  // namespace

void initMegaListBaseModule() { make(gCompareMegaNodes); }
void endMegaListBaseModule() { drop(gCompareMegaNodes); }

void initMegaListStringModule() {
  make(gCompareMegaNodes_STRING);
  make(gCompareMegaNodes_STRING_NoCase);
}
void endMegaListStringModule() {
  drop(gCompareMegaNodes_STRING_NoCase);
  drop(gCompareMegaNodes_STRING);
}

void initMegaListModule() {
  make(gMergeSortCompare);
  make(gMergeSort_NoCase);
  make(gMergeSort_Case);
  make(gMergeSort_Numeric);
  make(gCompareMegaNodes_match);
}
void endMegaListModule() {
  drop(gCompareMegaNodes_match);
  drop(gMergeSort_Numeric);
  drop(gMergeSort_Case);
  drop(gMergeSort_NoCase);
  drop(gMergeSortCompare);
}

}  // namespace bw
