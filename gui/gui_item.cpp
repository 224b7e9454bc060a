// gui/gui_item.cpp - groups and the GUI module's default function object.
#include "gui/gui_item.h"

#include "core/exception.h"
#include "core/gui_list_functions.h"
#include "gui/gui_gadgets.h"

namespace bw {

namespace {
funcGuiNotify* gDefaultNotify = nullptr;
fGuiListEntries* gDefaultListEntries = nullptr;
fGuiListSort* gDefaultListSort = nullptr;
}  // namespace

cGuiGroupItem::cGuiGroupItem(Text title)
    : framed_(!title.isNil()), title_(title.isNil() || title.length() == 0 ? Str() : Str(title.view())) {}

cGuiGroupItem::~cGuiGroupItem() {
  cGuiItem* child = first_;
  first_ = last_ = nullptr;
  while (child) {
    cGuiItem* next = child->next_;
    child->next_ = nullptr;
    delete child;
    child = next;
  }
}

void cGuiGroupItem::add(cGuiItem* item) {
  if (!item) raise("EMU", "cGuiGroupItem.add(); item=NIL");
  item->setParent(this);
  if (!first_) {
    first_ = last_ = item;
  } else {
    last_->next_ = item;
    last_ = item;
  }
  ++count_;
}

cGuiGroupItem* cGuiGroupItem::setDisabled(bool flag) {
  for (cGuiItem* child = first_; child; child = child->infoNext()) {
    if (child->isOfClass(cGuiInputItem::kClassName)) {
      static_cast<cGuiInputItem*>(child)->setDisabled(flag);
    } else if (child->isOfClass(cGuiGroupItem::kClassName)) {
      static_cast<cGuiGroupItem*>(child)->setDisabled(flag);
    }
  }
  return this;
}

cGuiGroupPage* cGuiGroupPage::setState(int32_t page) {
  if (page < 0 || page >= infoCount()) {
    raise("EMU", "cGuiGroupPage.setState(); the page number is outside the valid range");
  }
  state_ = page;
  return this;
}

void initGuiModule() {
  gDefaultNotify = new funcGuiNotify();
  gDefaultListEntries = new fGuiListEntries();
  gDefaultListSort = new fGuiListSort();
}

void endGuiModule() {
  delete gDefaultListSort;
  gDefaultListSort = nullptr;
  delete gDefaultListEntries;
  gDefaultListEntries = nullptr;
  delete gDefaultNotify;
  gDefaultNotify = nullptr;
}

funcGuiNotify* defaultGuiNotify() { return gDefaultNotify; }
fGuiListEntries* defaultGuiListEntries() { return gDefaultListEntries; }
fGuiListSort* defaultGuiListSort() { return gDefaultListSort; }

}  // namespace bw
