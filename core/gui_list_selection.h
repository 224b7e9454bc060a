// core/gui_list_selection.h - what the core asks of a GUI list to walk its
// selection, and collectSelectionNumbers, which turns a selection into a set.
//
// The GUI's list class (gui/) implements GuiListSelection; core code sees only
// these five operations, each on the list's one entry cursor:
//   cursor_gotoFirstSelected  to the first selected entry; false when none is
//                             selected. Raises "EMU" "cGuiList.
//                             cursor_gotoFirstSelected(); the window must be
//                             built first" while the window is not built.
//   cursor_gotoNextSelected   to the next selected entry after the current
//                             one; false at the end of the selection. Raises
//                             "EMU" "cGuiList.cursor_gotoNextSelected(); the
//                             window must be built first" likewise.
//   cursor_setState           selects (true) or deselects (false) the entry
//                             under the cursor; "EMU" when the window is not
//                             built or the entries are not selectable.
//   cursor_getDataBox         the box attached to the entry under the cursor,
//                             null when it has none; the list keeps it.
//                             Raises "EMU" "cGuiList.cursor_getDataBox(); list
//                             is empty" on an empty list.
//   cursor_getLabel           a copy of the label text (columns joined by
//                             "\t") of the entry under the cursor; "EMU"
//                             "cGuiList.cursor_getLabel(); list is empty" on
//                             an empty list.
#pragma once

#include <cstdint>
#include <memory>

#include "core/box.h"
#include "core/number_space.h"
#include "core/str.h"

namespace bw {

class GuiListSelection {
 public:
  virtual ~GuiListSelection() = default;

  virtual bool cursor_gotoFirstSelected() = 0;
  virtual bool cursor_gotoNextSelected() = 0;
  virtual void cursor_setState(bool state) = 0;
  virtual box* cursor_getDataBox() = 0;
  virtual Str cursor_getLabel() = 0;
};

// The number a box stands for as a set key: a boxPTR's or boxARRAY's full
// pointer, a boxVALUE's or boxBIGVALUE's value, 0 for no box. Boxes of
// strings or lists carry no number: "EMU".
intptr_t selectionKeyOf(const box* entryBox);

// A set of the selected entries' keys (selectionKeyOf): a number space whose
// data for each key is the space itself (a marker, never null). With
// deselect, every selected entry is deselected on the way. The caller owns
// the result. Exceptions of the list pass through.
std::unique_ptr<cNumberSpace_cnumberspace> collectSelectionNumbers(GuiListSelection& list, bool deselect);

}  // namespace bw
