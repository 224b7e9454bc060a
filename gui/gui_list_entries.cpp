// gui/gui_list_entries.cpp - the entry list's refusals, the row source over
// it and the node order.
#include "gui/gui_list_entries.h"

#include "core/exception.h"

namespace bw {

std::unique_ptr<cMegaListGeneric> cMegaList_entry::cloneGeneric() {
  raise("EMU", "cMegaList_entry.clone(); this method is not supported");
}

void cMegaList_entry::isolateFromSharing() {
  raise("EMU", "cMegaList_entry.isolateFromSharing(); this method is not supported");
}

void cMegaList_entry::node_clone(MegaNode*, MegaNode*) {
  raise("BUG", "cMegaList_entry.node_clone(); unsupported");
}

GuiListRow fEntriesFromMegaList::call() {
  GuiListRow row;
  if (!cursor_) return row;
  entry* e = cursor_->getEntry();
  if (!e || cursor_->isSameNode(*cursor_->infoList()->infoPastEnd())) return row;
  row.label = std::move(e->label);
  e->label = Str();
  row.style = e->style;
  row.marked = e->marked;
  row.data = e->data;
  row.dataBox = std::move(e->dataBox);
  cursor_->gotoNext();
  return row;
}

int32_t fGuiListSortWrapper::call(cMegaMiniListGeneric*, MegaNode* a, MegaNode* b) {
  const auto* ea = static_cast<const entry*>(static_cast<MegaValueNode<class_base*>*>(a)->value);
  const auto* eb = static_cast<const entry*>(static_cast<MegaValueNode<class_base*>*>(b)->value);
  return sorter_->call(ea->label, eb->label, ea->data, eb->data, ea->dataBox.get(), eb->dataBox.get());
}

}  // namespace bw
