// gui/host/core/gui_layout.h - the layout tree the host builds from a
// window's items, before any toolkit object exists: groups, the two-column
// groups that line labels up, spacers, and the gadgets' label and object
// places. The toolkit binding turns it into widgets one node at a time.
//
// Invariants:
//   1. A fragment is what one item gives its parent: nothing (a break), one
//      node (a gadget, a group, a spacer) or two (label column, then gadget).
//   2. In a vertical group or a grid a run of two-node fragments becomes one
//      Columns node of two columns, a row per gadget.
//   3. A grid is padded with spacers to whole rows; a grid of fewer than one
//      column counts as one. A group with no children at all gets one
//      EmptyRect (35 pixels high).
//   4. A group with a parent whose children are all fixed in its direction
//      ends with a fill spacer when its parent allows (never with no
//      weight); a scrollable horizontal or vertical group always does.
#pragma once

#include <cstdint>
#include <vector>

#include "core/str.h"
#include "gui/gui_item.h"

namespace bw {

enum class GuiLayoutKind {
  Group,        // a group item's box
  Columns,      // two columns: label, gadget
  Spacer,       // a stretch (grid padding, fill)
  EmptyRect,    // an empty group's 35-pixel placeholder
  HSpace,       // an empty label's horizontal space
  LabelColumn,  // the label of `item`
  Object,       // the main object of `item`
};

enum class GuiGroupKind { Horizontal, Vertical, Grid, Page };
enum class GuiScroll { None, Root, Nested };

struct GuiLayoutNode {
  GuiLayoutKind kind = GuiLayoutKind::Spacer;
  cGuiItem* item = nullptr;
  // Group and Columns only.
  GuiGroupKind group = GuiGroupKind::Vertical;
  int32_t columns = 0;
  bool sameSize = false;
  bool noWeight = false;
  bool framed = false;
  Str title;
  GuiScroll scroll = GuiScroll::None;
  std::vector<GuiLayoutNode> children;
};

using GuiFragment = std::vector<GuiLayoutNode>;

inline GuiLayoutNode guiLayoutLeaf(GuiLayoutKind kind, cGuiItem* item) {
  GuiLayoutNode node;
  node.kind = kind;
  node.item = item;
  return node;
}

}  // namespace bw
