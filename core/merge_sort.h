// core/merge_sort.h - the stable bottom-up merge of runs that every list and
// string sort of the program uses, over an array.
//
// Pass after pass, runs of width 1, 2, 4, ... are merged pairwise from the
// front; at each step the element of the second run is taken only when
// takeSecond(first, second) says so (the ordering answered < 0), so equal
// elements keep their order. This is exactly the run structure and the
// sequence of comparisons of the linked-list merge, so the result is the same
// even for orderings that are not transitive. When takeSecond throws, the
// array is left as it was.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace bw {

template <class T, class TakeSecond>
void mergeSortRuns(std::vector<T>& items, TakeSecond takeSecond) {
  const size_t n = items.size();
  if (n < 2) return;
  std::vector<T> from = items;
  std::vector<T> to(n);
  for (size_t width = 1; width < n; width *= 2) {
    for (size_t lo = 0; lo < n; lo += 2 * width) {
      size_t mid = std::min(lo + width, n);
      size_t hi = std::min(lo + 2 * width, n);
      size_t i = lo;
      size_t j = mid;
      size_t out = lo;
      while (i < mid && j < hi) {
        if (takeSecond(from[i], from[j])) {
          to[out++] = from[j++];
        } else {
          to[out++] = from[i++];
        }
      }
      while (i < mid) to[out++] = from[i++];
      while (j < hi) to[out++] = from[j++];
    }
    from.swap(to);
  }
  items.swap(from);
}

}  // namespace bw
