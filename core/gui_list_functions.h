// core/gui_list_functions.h - fGuiListEntries and fGuiListSort, the function
// objects that fill and order a GUI list's rows, without any toolkit.
//
// The GUI's list classes (gui/) call them; lower layers (news/) derive row
// sources and row orders from them. A row is a label (columns joined by
// "\t") with a style, a marked flag, a data word and an optional data box.
//
// Contract:
//   1. fGuiListEntries::call yields the next row; a NIL label ends the rows.
//      The row's label and box become the caller's. The base yields NIL at
//      once.
//   2. fGuiListSort::call answers 1 when row 1 belongs before row 2, -1 when
//      after, 0 when equal (core's ordering convention). The base compares
//      the whole labels with a-z folded to A-Z.
#pragma once

#include <cstdint>
#include <memory>

#include "core/box.h"
#include "core/object.h"
#include "core/str.h"

namespace bw {

struct GuiListRow {
  Str label;  // NIL: no more rows
  int32_t style = 0;
  bool marked = false;
  int32_t data = 0;
  std::unique_ptr<box> dataBox;
};

class fGuiListEntries : public function {
  BW_CLASS(fGuiListEntries, function)

 public:
  virtual GuiListRow call() { return {}; }
};

class fGuiListSort : public function {
  BW_CLASS(fGuiListSort, function)

 public:
  virtual int32_t call(const Str& label1, const Str& label2, int32_t data1, int32_t data2, const box* dataBox1,
                       const box* dataBox2);
};

}  // namespace bw
