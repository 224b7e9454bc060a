// gui/gui_window.cpp - the window builder's group stack and add operations.
#include "gui/gui_window.h"

#include <string>

#include "core/exception.h"
#include "gui/gui_list.h"

namespace bw {

cGuiWindow::~cGuiWindow() = default;

cGuiWindow* cGuiWindow::initSaveID(uint32_t id) {
  if (id == 0) raise("EMU", "cGuiWindow.initSaveID(); \"id\" cannot be 0");
  saveId_ = id;
  return this;
}

void cGuiWindow::beginGroup(cGuiGroupItem* group) {
  std::unique_ptr<cGuiGroupItem> made(group);
  if (!group) raise("EMU", "cGuiGroupItem.add(); item=NIL");
  if (root_) {
    if (!current_) raise("EMU", "cGuiWindow.beginGroup(); a window can only have one root group");
    current_->add(made.release());
  } else {
    root_ = std::move(made);
  }
  current_ = group;
}

cGuiGroupHorizontal* cGuiWindow::beginGroupHorizontal(Text title) {
  cGuiGroupHorizontal* group = makeGroupHorizontal(title);
  beginGroup(group);
  return group;
}

cGuiGroupVertical* cGuiWindow::beginGroupVertical(Text title) {
  cGuiGroupVertical* group = makeGroupVertical(title);
  beginGroup(group);
  return group;
}

cGuiGroupGrid* cGuiWindow::beginGroupGrid(int32_t columns, Text title) {
  if (columns < 1) raise("EMU", "cGuiWindow.beginGroupGrid(); columns<1");
  cGuiGroupGrid* group = makeGroupGrid(title, columns);
  beginGroup(group);
  return group;
}

cGuiGroupPage* cGuiWindow::beginGroupPage(Text title) {
  cGuiGroupPage* group = makeGroupPage(title);
  beginGroup(group);
  return group;
}

void cGuiWindow::endGroup() {
  if (list_) raise("EMU", "cGuiWindow.endGroup(); must close the list first");
  if (!current_) raise("EMU", "cGuiWindow.endGroup(); already closed all groups");
  current_->finishGroup();
  if (current_->infoNoWeight()) {
    for (cGuiItem* child = current_->infoFirst(); child; child = child->infoNext()) {
      if (child->isOfClass(cGuiOutputItem::kClassName)) {
        static_cast<cGuiOutputItem*>(child)->initNoWeight();
      } else if (child->isOfClass(cGuiGroupItem::kClassName)) {
        static_cast<cGuiGroupItem*>(child)->initNoWeight();
      }
    }
  }
  current_ = current_->infoParent();
}

cGuiList* cGuiWindow::beginList(int32_t columns, Text title) {
  if (!current_) raise("EMU", "cGuiList.beginList(); must be done inside a group");
  if (columns < 1) raise("EMU", "cGuiList.beginList(); columns<1");
  cGuiList* list = addMade(makeList(columns, title));
  list_ = list;
  savedCurrent_ = current_;
  current_ = nullptr;
  return list;
}

void cGuiWindow::addListEntry(Text label, int32_t style, bool marked, int32_t data, std::unique_ptr<box> dataBox) {
  if (!list_) raise("EMU", "cGuiWindow.addListEntry(); there is no list being defined");
  list_->addEntry(label.isNil() ? Str() : Str(label.view()), style, marked, data, std::move(dataBox));
}

void cGuiWindow::endList() {
  if (!list_) raise("EMU", "cGuiWindow.endList(); there is no list being defined");
  current_ = savedCurrent_;
  savedCurrent_ = nullptr;
  list_ = nullptr;
}

void cGuiWindow::requireGroup(const char* method) const {
  if (!current_) raise("EMU", std::string("cGuiWindow.") + method + "(); must be done inside a group");
}

cGuiBreak* cGuiWindow::addBreak() {
  return addVia("addBreak", [&] { return makeBreak(); });
}

cGuiBar* cGuiWindow::addBar(Text title) {
  requireGroup("addBar");
  if (!title.isNil() && current_->isSameClass(cGuiGroupHorizontal::kClassName)) {
    raise("EMU",
          "cGuiWindow.addBar(); a title does not make sense in a horizontal group (for a vertical bar)");
  }
  return addMade(makeBar(title));
}

cGuiLabel* cGuiWindow::addLabel(Text label) {
  return addVia("addLabel", [&] { return makeLabel(label); });
}

cGuiText* cGuiWindow::addText(Text label) {
  return addVia("addText", [&] { return makeText(label); });
}

cGuiTextBox* cGuiWindow::addTextBox(Text label) {
  return addVia("addTextBox", [&] { return makeTextBox(label); });
}

cGuiButton* cGuiWindow::addButton(Text label) {
  return addVia("addButton", [&] { return makeButton(label); });
}

cGuiTick* cGuiWindow::addTick(Text label) {
  return addVia("addTick", [&] { return makeTick(label); });
}

cGuiString* cGuiWindow::addString(Text label) {
  return addVia("addString", [&] { return makeString(label); });
}

cGuiStringBox* cGuiWindow::addStringBox(Text label) {
  return addVia("addStringBox", [&] { return makeStringBox(label); });
}

cGuiPathString* cGuiWindow::addPathString(Text label) {
  return addVia("addPathString", [&] { return makePathString(label); });
}

cGuiNumberString* cGuiWindow::addNumberString(Text label, int32_t min, int32_t max) {
  return addVia("addNumberString", [&] { return makeNumberString(label, min, max); });
}

cGuiSlider* cGuiWindow::addSlider(Text label, int32_t min, int32_t max) {
  return addVia("addSlider", [&] { return makeSlider(label, min, max); });
}

cGuiCycleChoice* cGuiWindow::addCycleChoice(Text label, StrChain choices) {
  return addVia("addCycleChoice", [&] { return makeCycleChoice(label, choices); });
}

cGuiRadioChoice* cGuiWindow::addRadioChoice(Text label, StrChain choices) {
  return addVia("addRadioChoice", [&] { return makeRadioChoice(label, choices); });
}

cGuiItem* cGuiWindow::addNative(cGuiItem* item) {
  requireGroup("addNative");
  return addMade(item);
}

cGuiNativeSimple* cGuiWindow::addNativeSimpleL(void* object) {
  requireGroup("addNativeSimpleL");
  cGuiNativeSimple* item = addMade(makeNativeSimple());
  item->addNativeSimple(object);
  return item;
}

bool cGuiWindow::infoCloseRequested(bool keep) {
  bool requested = closeRequested_;
  if (!keep) closeRequested_ = false;
  return requested;
}

void cGuiWindow::setPosition(int32_t x, int32_t y) {
  x_ = x;
  y_ = y;
  positionGiven_ = true;
}

void cGuiWindow::setSize(int32_t width, int32_t height) {
  width_ = width;
  height_ = height;
}

}  // namespace bw
