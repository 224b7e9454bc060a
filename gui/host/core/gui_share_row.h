// gui/host/core/gui_share_row.h - how a row of lists and groups of them
// shares its width: a function of the room and of what each item asks now,
// never of earlier widths. No toolkit here.
//
// Invariants:
//   1. No width is below its item's least; the widths fill the room when
//      the least widths leave any (the last at the level takes the
//      rounding).
//   2. The items that grow (that have more to show) share one level
//      whatever they ask; the others take no more than they ask.
//   3. With no item that grows: short of room one level, none above its
//      ask; beyond every ask, none below its ask, levelled up from the
//      narrowest.
#pragma once

#include <vector>

namespace bw {

std::vector<int> guiShareRowWidths(const std::vector<int>& least, const std::vector<int>& ask,
                                   const std::vector<bool>& grows, int room);

}  // namespace bw
