// gui/host/core/gui_share_row.cpp - the widths of a row of lists.
#include "gui/host/core/gui_share_row.h"

#include <algorithm>
#include <numeric>

namespace bw {

namespace {

// The highest level at which the sum of widthAt(level) stays within room.
template <class WidthAt>
int levelWithin(int room, int high, WidthAt widthAt) {
  int low = 0;
  while (low < high) {
    const int mid = low + (high - low + 1) / 2;
    if (widthAt(mid) <= room) low = mid; else high = mid - 1;
  }
  return low;
}

}  // namespace

std::vector<int> guiShareRowWidths(const std::vector<int>& least, const std::vector<int>& ask,
                                   const std::vector<bool>& grows, int room) {
  const size_t n = least.size();
  std::vector<int> widths(n);
  if (n == 0) return widths;
  std::vector<int> want(n);
  for (size_t i = 0; i < n; ++i) want[i] = std::max(least[i], ask[i]);
  const bool anyGrows = std::find(grows.begin(), grows.end(), true) != grows.end();
  const bool beyondAsks = std::accumulate(want.begin(), want.end(), 0L) < room;
  // An item that grows takes the level whatever it asks; one that does not
  // takes no more than it asks, unless no item grows and the room is
  // beyond every ask.
  auto widthAt = [&](size_t i, int level) {
    if (anyGrows) return grows[i] ? std::max(least[i], level) : std::max(least[i], std::min(want[i], level));
    return beyondAsks ? std::max(want[i], level) : std::max(least[i], std::min(want[i], level));
  };
  auto sumAt = [&](int level) {
    long sum = 0;
    for (size_t i = 0; i < n; ++i) sum += widthAt(i, level);
    return sum;
  };
  const int level = levelWithin(room, std::max(room, 0), sumAt);
  for (size_t i = 0; i < n; ++i) widths[i] = widthAt(i, level);
  // The rounding goes to the last items at the level that may take it.
  long left = room;
  for (int w : widths) left -= w;
  for (size_t i = n; i-- > 0 && left > 0;) {
    if (widths[i] != level) continue;
    const bool unbounded = anyGrows ? grows[i] : beyondAsks;
    const long take = unbounded ? left : std::min<long>(left, want[i] - widths[i]);
    if (take <= 0) continue;
    widths[i] += static_cast<int>(take);
    left -= take;
  }
  return widths;
}

}  // namespace bw
