// gui/gui_fixed_list.h - fixed lists: a short list of rows made of ordinary
// gadgets (an optional selection tick and one label per column) in a
// scrolling group, with its own single or multiple selection bookkeeping.
//
// Invariants:
//   1. A container item stands in its parent's chain, but its children,
//      host record and build links are those of its inner item, which it
//      makes (through the window's hooks) and owns. The host builds the
//      inner item in its place and never sees the container.
//   2. A list of n columns is a vertical group for one column, else a grid
//      of n + 1 columns: the entries first, then their column labels.
//   3. Column titles become the first row only when the first entry comes;
//      that row has no tick and its labels are in style 1.
//   4. selectedCount counts the selected entries; in single selection at
//      most one is selected and it is selectedEntry. An entry's setState
//      keeps the count itself while the window is not built; once built the
//      tick's change event does it when handled.
//   5. Every refusal raises "EMU" and leaves the list as it was.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "gui/gui_window.h"

namespace bw {

class cGuiContainerItem : public cGuiGroupItem {
  BW_CLASS(cGuiContainerItem, cGuiGroupItem)

 public:
  // Takes the inner item (made by a window hook); its parent is set when
  // the container is added.
  explicit cGuiContainerItem(cGuiGroupItem* inner);
  ~cGuiContainerItem() override;
  cGuiGroupItem* infoInner() const { return inner_.get(); }
  cGuiSharedBase* infoShared() const override { return inner_->infoShared(); }
  cGuiItem* infoNextBuilt() const override { return inner_->infoNextBuilt(); }
  void setNextBuilt(cGuiItem* item) override { inner_->setNextBuilt(item); }
  void add(cGuiItem* item) override;
  void finishGroup() override { inner_->finishGroup(); }
  cGuiGroupItem* setDisabled(bool flag) override {
    inner_->setDisabled(flag);
    return this;
  }

 private:
  std::unique_ptr<cGuiGroupItem> inner_;
};

class cGuiContainerInputItem : public cGuiContainerItem {
  BW_CLASS(cGuiContainerInputItem, cGuiContainerItem)

 public:
  using cGuiContainerItem::cGuiContainerItem;
  virtual void notifyChanged() {
    if (notifyFunction_) notifyFunction_->call(this);
  }
  bool infoDisabled() const { return disabled_; }
  cGuiGroupItem* setDisabled(bool flag) override {
    disabled_ = flag;
    return cGuiContainerItem::setDisabled(flag);
  }
  cGuiContainerInputItem* setNotifyFunction(funcGuiNotify* func) {
    notifyFunction_ = func;
    return this;
  }
  funcGuiNotify* infoNotifyFunction() const { return notifyFunction_; }

 private:
  bool disabled_ = false;
  funcGuiNotify* notifyFunction_ = nullptr;
};

class cGuiFixedListEntry;

class cGuiFixedList : public cGuiContainerItem {
  BW_CLASS(cGuiFixedList, cGuiContainerItem)

 public:
  // inner: a vertical group (one column) or a grid of columns + 1.
  cGuiFixedList(cGuiGroupItem* inner, int32_t columns);
  BW_GUI_TYPED_ITEM(cGuiFixedList)
  cGuiGroupItem* initScrollable() override;
  cGuiGroupItem* initEqualSizedItems() override;
  bool infoEqualSizedItems() const;

  cGuiFixedList* initSelectableEntries(bool multiSelect);
  cGuiFixedList* initColumnAlignment(Text letters);
  cGuiFixedList* initColumnTitles(Text titles);
  bool getSelectable() const { return selectable_; }
  int32_t infoColumns() const { return columns_; }
  const std::string& infoColumnAlignment() const { return alignment_; }
  const Str& infoColumnTitles() const { return pendingTitles_; }
  int32_t infoSelectionCount() const { return selectedCount_; }
  cGuiFixedListEntry* infoSingleSelectionEntry() const;
  bool getMultiSelect() const;
  cGuiFixedList* setMultiSelect(bool flag);
  // The first entry (title row included), the last item.
  cGuiItem* infoFirstEntry() const { return infoInner()->infoFirst(); }
  int32_t infoItemCount() const { return infoInner()->infoCount(); }

 private:
  friend class cGuiFixedListEntry;
  friend class cGuiWindow;
  void refuseAfterEntries(const char* method) const;
  int32_t columns_;
  std::string alignment_;
  Str pendingTitles_;
  bool addingTitleRow_ = false;
  bool selectable_ = false;
  bool multiSelect_ = false;
  cGuiFixedListEntry* selectedEntry_ = nullptr;
  int32_t selectedCount_ = 0;
};

class cGuiFixedListEntry : public cGuiContainerInputItem {
  BW_CLASS(cGuiFixedListEntry, cGuiContainerInputItem)

 public:
  // inner: a horizontal group; tick: the selection tick or NIL.
  cGuiFixedListEntry(cGuiWindow* window, cGuiGroupItem* inner, cGuiTick* tick, Text rowText, cGuiFixedList* list);
  BW_GUI_TYPED_ITEM(cGuiFixedListEntry)
  void notifyChanged() override;
  // The next entry of the list (skipping column labels), NIL at the end.
  cGuiFixedListEntry* infoNextInGroup() const;
  const Str& infoRowText() const { return rowText_; }
  cGuiFixedListEntry* setLabelStyle(int32_t style);
  bool getState() const;
  cGuiFixedListEntry* setState(bool flag);
  int32_t infoCountWord() const { return count_; }
  cGuiTick* infoTick() const { return tick_; }
  void handleSingleSelection();

 private:
  cGuiFixedList* list_;
  cGuiWindow* window_;
  int32_t count_ = 0;
  cGuiTick* tick_;
  Str rowText_;
};

}  // namespace bw
