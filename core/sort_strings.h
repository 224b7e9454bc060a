// core/sort_strings.h - mergeSortStrings, the stable sort of a string chain.
//
// The chain is sorted in place by a string ordering (core/ordering.h) with
// the same runs and comparisons as a bottom-up merge of the linked chain;
// equal strings keep their order. The shared instances gMergeSort_NoCase,
// gMergeSort_Case and gMergeSort_Numeric are recognised by identity and
// compared inline, with exactly the results of their call(). A null ordering
// raises "EMU". When the ordering raises, the chain is left as it was.
#pragma once

#include "core/ordering.h"
#include "core/str.h"

namespace bw {

void mergeSortStrings(StrChain& chain, fMergeSortCompare* compareFunction);

}  // namespace bw
