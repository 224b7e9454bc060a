// core/gui_list_selection.cpp - collectSelectionNumbers.
#include "core/gui_list_selection.h"

#include "core/exception.h"

namespace bw {

intptr_t selectionKeyOf(const box* entryBox) {
  if (!entryBox) return 0;
  if (entryBox->isOfClass(boxPTR::kClassName)) {
    return reinterpret_cast<intptr_t>(static_cast<const boxPTR*>(entryBox)->value);
  }
  if (entryBox->isOfClass(boxARRAY::kClassName)) {
    return reinterpret_cast<intptr_t>(static_cast<const boxARRAY*>(entryBox)->value);
  }
  if (entryBox->isOfClass(boxVALUE::kClassName)) return static_cast<const boxVALUE*>(entryBox)->value;
  if (entryBox->isOfClass(boxBIGVALUE::kClassName)) {
    return static_cast<intptr_t>(static_cast<const boxBIGVALUE*>(entryBox)->value);
  }
  raise("EMU", "collectSelectionNumbers(); the entry's box holds no number");
}

std::unique_ptr<cNumberSpace_cnumberspace> collectSelectionNumbers(GuiListSelection& list, bool deselect) {
  auto set = std::make_unique<cNumberSpace_cnumberspace>(false);
  for (bool more = list.cursor_gotoFirstSelected(); more; more = list.cursor_gotoNextSelected()) {
    set->set(selectionKeyOf(list.cursor_getDataBox()), set.get(), false);
    if (deselect) list.cursor_setState(false);
  }
  return set;
}

}  // namespace bw
