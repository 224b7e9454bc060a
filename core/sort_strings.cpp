// core/sort_strings.cpp - mergeSortStrings.
#include "core/sort_strings.h"

#include <cstdint>
#include <vector>

#include "core/exception.h"
#include "core/merge_sort.h"

namespace bw {

namespace {

// Sorts the strings' positions by a "B goes first" test, then moves the
// strings into that order.
template <class TakeSecond>
void sortByPositions(StrChain& chain, TakeSecond takeSecond) {
  std::vector<const Str*> order;
  order.reserve(chain.size());
  for (const Str& s : chain) order.push_back(&s);
  mergeSortRuns(order, takeSecond);
  StrChain sorted;
  sorted.reserve(chain.size());
  for (const Str* s : order) sorted.push_back(std::move(*const_cast<Str*>(s)));
  chain.swap(sorted);
}

// Inline forms of the shared orderings work on precomputed keys.
template <class Key, class MakeKey, class Compare>
void sortByKeys(StrChain& chain, MakeKey makeKey, Compare compare) {
  struct Item {
    Key key;
    uint32_t index;
  };
  std::vector<Item> items;
  items.reserve(chain.size());
  for (size_t i = 0; i < chain.size(); ++i) items.push_back({makeKey(chain[i]), static_cast<uint32_t>(i)});
  mergeSortRuns(items, [&](const Item& a, const Item& b) { return compare(a.key, b.key) < 0; });
  StrChain sorted;
  sorted.reserve(chain.size());
  for (const Item& item : items) sorted.push_back(std::move(chain[item.index]));
  chain.swap(sorted);
}

}  // namespace

void mergeSortStrings(StrChain& chain, fMergeSortCompare* compareFunction) {
  if (!compareFunction) raise("EMU", "mergeSortStrings(); compareFunction=NIL");
  if (chain.size() < 2) return;
  if (compareFunction == gMergeSort_NoCase) {
    sortByKeys<const char*>(chain, [](const Str& s) { return s.c_str(); }, compareTextNoCase);
  } else if (compareFunction == gMergeSort_Case) {
    sortByKeys<const char*>(chain, [](const Str& s) { return s.c_str(); }, compareText);
  } else if (compareFunction == gMergeSort_Numeric) {
    sortByKeys<int32_t>(chain, [](const Str& s) { return leadingNumber(s.view()); }, compareWrapping);
  } else {
    sortByPositions(chain, [&](const Str* a, const Str* b) { return compareFunction->call(*a, *b) < 0; });
  }
}

}  // namespace bw
