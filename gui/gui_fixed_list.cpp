// gui/gui_fixed_list.cpp - containers, the fixed list with its selection
// bookkeeping, its entries, and the window builder's two fixed-list
// operations.
#include "gui/gui_fixed_list.h"

#include <string>

#include "core/exception.h"

namespace bw {

// ---- containers ----

cGuiContainerItem::cGuiContainerItem(cGuiGroupItem* inner) : cGuiGroupItem(Str()), inner_(inner) {
  if (!inner) raise("EMU", "cGuiGroupItem.add(); item=NIL");
}

cGuiContainerItem::~cGuiContainerItem() = default;

void cGuiContainerItem::add(cGuiItem* item) {
  inner_->add(item);
  // A container added here has its inner item laid out in this one.
  if (auto* container = dynamic_cast<cGuiContainerItem*>(item)) container->infoInner()->setParent(inner_.get());
}

// ---- the list ----

cGuiFixedList::cGuiFixedList(cGuiGroupItem* inner, int32_t columns)
    : cGuiContainerItem(inner), columns_(columns), alignment_(size_t(columns), 'L') {
  inner->initScrollable();
}

cGuiGroupItem* cGuiFixedList::initScrollable() {
  raise("EMU", "cGuiFixedList.initScrollable(); this method is not supported");
}

cGuiGroupItem* cGuiFixedList::initEqualSizedItems() {
  raise("EMU", "cGuiFixedList.initEqualSizedItems(); this method is not supported");
}

bool cGuiFixedList::infoEqualSizedItems() const {
  raise("EMU", "cGuiFixedList.infoEqualSizedItems(); this method is not supported");
}

void cGuiFixedList::refuseAfterEntries(const char* method) const {
  if (infoInner()->infoCount() > 0) {
    raise("EMU", std::string("cGuiFixedList.") + method + "(); this cannot be called after entries have been added");
  }
}

cGuiFixedList* cGuiFixedList::initSelectableEntries(bool multiSelect) {
  refuseAfterEntries("initSelectableEntries");
  selectable_ = true;
  multiSelect_ = multiSelect;
  return this;
}

cGuiFixedList* cGuiFixedList::initColumnAlignment(Text letters) {
  refuseAfterEntries("initColumnAlignment");
  std::string_view l = letters.isNil() ? std::string_view() : letters.view();
  for (size_t i = 0; i < l.size() && i < alignment_.size(); ++i) {
    char c = l[i];
    if (c == 'l' || c == 'c' || c == 'r') c = char(c - 'a' + 'A');
    if (c == 'L' || c == 'C' || c == 'R') alignment_[i] = c;
  }
  return this;
}

cGuiFixedList* cGuiFixedList::initColumnTitles(Text titles) {
  refuseAfterEntries("initColumnTitles");
  pendingTitles_ = titles.isNil() ? Str() : Str(titles.view());
  return this;
}

cGuiFixedListEntry* cGuiFixedList::infoSingleSelectionEntry() const {
  if (!selectable_) {
    raise("EMU", "cGuiFixedList.infoSingleSelectionEntry(); this does not make sense, as entries are not selectable");
  }
  if (multiSelect_) raise("EMU", "cGuiFixedList.infoSingleSelectionEntry(); this cannot be called when multiSelect=TRUE");
  return selectedEntry_;
}

bool cGuiFixedList::getMultiSelect() const {
  if (!selectable_) {
    raise("EMU", "cGuiFixedList.getMultiSelect(); this does not make sense, as entries are not selectable");
  }
  return multiSelect_;
}

cGuiFixedList* cGuiFixedList::setMultiSelect(bool flag) {
  if (!selectable_) {
    raise("EMU", "cGuiFixedList.setMultiSelect(); this does not make sense, as entries are not selectable");
  }
  if (multiSelect_ && !flag) {
    selectedEntry_ = nullptr;
    multiSelect_ = false;
    std::vector<cGuiFixedListEntry*> selected;
    for (cGuiItem* item = infoFirstEntry(); item; item = static_cast<cGuiFixedListEntry*>(item)->infoNextInGroup()) {
      auto* entry = static_cast<cGuiFixedListEntry*>(item);
      if (entry->getState()) selected.push_back(entry);
    }
    if (selected.size() == 1) {
      selectedEntry_ = selected.front();
    } else {
      for (cGuiFixedListEntry* entry : selected) entry->setState(false);
    }
  }
  multiSelect_ = flag;
  return this;
}

// ---- entries ----

cGuiFixedListEntry::cGuiFixedListEntry(cGuiWindow* window, cGuiGroupItem* inner, cGuiTick* tick, Text rowText,
                                       cGuiFixedList* list)
    : cGuiContainerInputItem(inner), list_(list), window_(window), tick_(tick),
      rowText_(rowText.isNil() ? Str("") : Str(rowText.view())) {
  if (tick_) {
    tick_->setOwner(this);
    cGuiContainerItem::add(tick_);
  }
}

void cGuiFixedListEntry::notifyChanged() {
  handleSingleSelection();
  cGuiContainerInputItem::notifyChanged();
}

cGuiFixedListEntry* cGuiFixedListEntry::infoNextInGroup() const {
  cGuiItem* next = infoNext();
  for (int32_t i = 1; next && list_->columns_ > 1 && i <= list_->columns_; ++i) next = next->infoNext();
  if (!next) return nullptr;
  if (!next->isOfClass(cGuiFixedListEntry::kClassName)) {
    raise("BUG", "cGuiFixedListEntry.infoNextInGroup(); wrong class");
  }
  return static_cast<cGuiFixedListEntry*>(next);
}

cGuiFixedListEntry* cGuiFixedListEntry::setLabelStyle(int32_t style) {
  if (list_->columns_ == 1) {
    for (cGuiItem* item = infoInner()->infoFirst(); item; item = item->infoNext()) {
      if (item->isOfClass(cGuiLabel::kClassName)) static_cast<cGuiLabel*>(item)->initStyle(style);
    }
  } else {
    cGuiItem* item = infoNext();
    for (int32_t i = 0; item && i < list_->columns_; ++i, item = item->infoNext()) {
      if (item->isOfClass(cGuiLabel::kClassName)) static_cast<cGuiLabel*>(item)->initStyle(style);
    }
  }
  return this;
}

bool cGuiFixedListEntry::getState() const { return tick_ && tick_->getState(); }

cGuiFixedListEntry* cGuiFixedListEntry::setState(bool flag) {
  if (!tick_) raise("EMU", "cGuiFixedListEntry.setState(); list entries are not selectable");
  // Unbuilt, no change event will come: the entry keeps the count itself
  // (also between the last endGroup and the build).
  bool keepsCount = !window_->infoBuilt() && tick_->getState() != flag;
  tick_->setState(flag);
  if (keepsCount) handleSingleSelection();
  return this;
}

void cGuiFixedListEntry::handleSingleSelection() {
  bool selected = getState();
  list_->selectedCount_ += selected ? 1 : -1;
  if (!list_->selectable_ || list_->multiSelect_) return;
  if (list_->selectedEntry_ == this) {
    if (selected) raise("BUG", "cGuiFixedListEntry.handleSingleSelection(); entry should have been unselected");
    list_->selectedEntry_ = nullptr;
  } else if (selected) {
    cGuiFixedListEntry* previous = list_->selectedEntry_;
    list_->selectedEntry_ = this;
    if (previous) previous->setState(false);
  }
}

// ---- the window builder ----

cGuiFixedList* cGuiWindow::beginFixedList(int32_t columns, Text title) {
  if (columns < 1) raise("EMU", "cGuiFixedList.beginFixedList(); columns<1");
  cGuiGroupItem* inner = columns == 1 ? static_cast<cGuiGroupItem*>(makeGroupVertical(title))
                                      : makeGroupGrid(title, columns + 1);
  auto* list = new cGuiFixedList(inner, columns);
  beginGroup(list);
  inner->setParent(list->infoParent());
  return list;
}

namespace {

cGuiLabel* aligned(cGuiLabel* label, char letter) {
  if (letter == 'R') return label->initAlignRight();
  if (letter == 'C') return label->initAlignCentre();
  return label->initAlignLeft();
}

}  // namespace

cGuiFixedListEntry* cGuiWindow::addFixedListEntry(Text rowText) {
  if (!current_ || !current_->isSameClass(cGuiFixedList::kClassName)) {
    raise("EMU", "cGuiWindow.addFixedListEntry(); must be done inside a list");
  }
  auto* list = static_cast<cGuiFixedList*>(current_);
  if (!list->pendingTitles_.isNil()) {
    Str titles = std::move(list->pendingTitles_);
    list->pendingTitles_ = Str();
    list->addingTitleRow_ = true;
    cGuiFixedListEntry* titleRow = addFixedListEntry(titles);
    titleRow->setLabelStyle(1);
    list->addingTitleRow_ = false;
  }
  std::string_view row = rowText.isNil() ? std::string_view() : rowText.view();
  size_t tab = row.find('\t');
  std::string first(row.substr(0, tab));

  bool titleRow = list->addingTitleRow_;
  cGuiGroupItem* inner = makeGroupHorizontal(nullptr);
  cGuiTick* tick = list->selectable_ && !titleRow ? makeTick("") : nullptr;
  auto* entry = new cGuiFixedListEntry(this, inner, tick, rowText, list);
  list->add(entry);
  if (list->columns_ == 1) {
    entry->add(aligned(makeLabel(first), list->alignment_[0]));
  } else {
    aligned(addLabel(first), list->alignment_[0]);
    size_t at = tab;
    for (int32_t column = 1; column < list->columns_; ++column) {
      std::string field;
      if (at != std::string_view::npos) {
        size_t next = row.find('\t', at + 1);
        field = std::string(row.substr(at + 1, next == std::string_view::npos ? std::string_view::npos : next - at - 1));
        at = next;
      }
      aligned(addLabel(field), list->alignment_[size_t(column)]);
    }
  }
  return list->selectable_ || titleRow ? entry : nullptr;
}

}  // namespace bw
