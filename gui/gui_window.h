// gui/gui_window.h - cGuiWindow, the window builder: a window described as
// nested groups of items, made through factory hooks so that a host window
// makes host items without the builder knowing their classes.
//
// Invariants:
//   1. The builder keeps the stack of open groups through each group's parent
//      link: current is the innermost open group, NIL before the first
//      beginGroup and after the root was closed. A window has one root.
//   2. Every misuse raises "EMU" with "cGuiWindow.<method>(); <problem>" and
//      leaves the builder as it was (no item made, no group changed).
//   3. The window owns its root group and so the whole tree.
//   4. The neutral factory hooks answer NIL (the add then raises
//      "cGuiGroupItem.add(); item=NIL"); the host window answers host items.
//   5. Build, open, close, busy, position and size are the host's; the
//      neutral forms only keep the values.
//
// While a list is being defined (beginList to endList) no group is current,
// so the add operations are refused, and endGroup refuses to close a group.
// The fixed lists come with their classes.
#pragma once

#include <cstdint>
#include <memory>

#include "core/box.h"
#include "gui/gui_gadgets.h"
#include "platform/app_frame.h"

namespace bw {

class cGuiFixedList;
class cGuiFixedListEntry;
// gui/gui_list.h; not included here, so that Qt hosts need not see the
// core headers it brings.
class cGuiList;

// Packs a four-character save ID ("Main") into its 32-bit value.
constexpr uint32_t guiSaveId(const char (&id)[5]) {
  return (uint32_t(uint8_t(id[0])) << 24) | (uint32_t(uint8_t(id[1])) << 16) |
         (uint32_t(uint8_t(id[2])) << 8) | uint32_t(uint8_t(id[3]));
}

struct GuiPosition {
  int32_t x;
  int32_t y;
};

class cGuiWindow : public cAppResource {
  BW_CLASS(cGuiWindow, cAppResource)

 public:
  cGuiWindow() = default;
  ~cGuiWindow() override;

  cGuiWindow* initAppWindow() {
    appWindow_ = true;
    return this;
  }
  bool infoAppWindow() const { return appWindow_; }
  // id 0 raises "EMU" "cGuiWindow.initSaveID(); "id" cannot be 0".
  cGuiWindow* initSaveID(uint32_t id);
  uint32_t infoSaveID() const { return saveId_; }

  cGuiGroupHorizontal* beginGroupHorizontal(Text title);
  cGuiGroupVertical* beginGroupVertical(Text title);
  // columns < 1 raises "EMU" "cGuiWindow.beginGroupGrid(); columns<1".
  cGuiGroupGrid* beginGroupGrid(int32_t columns, Text title);
  cGuiGroupPage* beginGroupPage(Text title);
  cGuiGroupItem* infoRootGroup() const { return root_.get(); }
  // Makes group the root, or adds it to the current group; it becomes
  // current. A second root raises "EMU" "cGuiWindow.beginGroup(); a window
  // can only have one root group" (the group is then deleted).
  void beginGroup(cGuiGroupItem* group);
  // Finishes the current group, passes its no-weight flag to its direct
  // output items and groups, and makes its parent current. With no group
  // open raises "EMU" "cGuiWindow.endGroup(); already closed all groups".
  void endGroup();
  cGuiGroupItem* infoCurrentGroup() const { return current_; }

  // Each outside a group raises "EMU" "cGuiWindow.<name>(); must be done
  // inside a group"; else makes the item through its hook, adds it to the
  // current group and returns it.
  cGuiBreak* addBreak();
  // A title inside a horizontal group raises "EMU" (a vertical bar has none).
  cGuiBar* addBar(Text title);
  cGuiLabel* addLabel(Text label);
  cGuiText* addText(Text label);
  cGuiTextBox* addTextBox(Text label);
  cGuiButton* addButton(Text label);
  cGuiTick* addTick(Text label);
  cGuiString* addString(Text label);
  cGuiStringBox* addStringBox(Text label);
  cGuiPathString* addPathString(Text label);
  cGuiNumberString* addNumberString(Text label, int32_t min, int32_t max);
  cGuiSlider* addSlider(Text label, int32_t min, int32_t max);
  cGuiCycleChoice* addCycleChoice(Text label, StrChain choices);
  cGuiRadioChoice* addRadioChoice(Text label, StrChain choices);
  // A fixed list of columns (< 1 raises "EMU" "cGuiFixedList.beginFixedList();
  // columns<1"), made directly and opened as the current group; endGroup
  // closes it.
  cGuiFixedList* beginFixedList(int32_t columns, Text title);
  // Adds a row ("\t" between the columns' texts) to the current fixed list
  // ("EMU" "cGuiWindow.addFixedListEntry(); must be done inside a list"
  // elsewhere); answers the entry when entries are selectable, else NIL.
  cGuiFixedListEntry* addFixedListEntry(Text rowText);
  // Adds an item the caller made (the group takes it).
  cGuiItem* addNative(cGuiItem* item);
  cGuiNativeSimple* addNativeSimpleL(void* object);

  // Outside a group "EMU" "cGuiList.beginList(); must be done inside a
  // group", columns < 1 "EMU" "cGuiList.beginList(); columns<1"; else makes
  // the list through its hook, adds it and keeps it open for addListEntry.
  cGuiList* beginList(int32_t columns, Text title);
  // Adds a row (a copy of label) to the open list; none open: "EMU"
  // "cGuiWindow.addListEntry(); there is no list being defined".
  void addListEntry(Text label, int32_t style, bool marked, int32_t data, std::unique_ptr<box> dataBox);
  // Closes the open list; none open: "EMU" "cGuiWindow.endList(); there is
  // no list being defined".
  void endList();

  // The host builds the toolkit window (and opens it unless keepClosed).
  virtual void build(bool keepClosed = false) { (void)keepClosed; }
  // Neutral: clears the close request.
  virtual void open() { closeRequested_ = false; }
  virtual void close() {}
  virtual bool infoIsOpen() const { return false; }
  // Whether the toolkit window exists; neutral: never.
  virtual bool infoBuilt() const { return false; }
  // Neutral: NIL; the host answers the title it was made with.
  virtual Str infoTitle() const { return Str(); }
  cGuiItem* infoChangedItem() const { return changedItem_; }
  void setChangedItem(cGuiItem* item) { changedItem_ = item; }
  // Answers the close request and clears it unless keep.
  bool infoCloseRequested(bool keep);
  void setCloseRequested(bool flag) { closeRequested_ = flag; }
  virtual bool infoQuitRequested(bool keep) {
    (void)keep;
    return false;
  }
  virtual void setQuitRequested(bool flag) { (void)flag; }
  // Neutral: NIL; the host answers a copy of the last dropped path.
  virtual Str getDroppedPath(bool keep) {
    (void)keep;
    return Str();
  }
  virtual void setDroppedPath(Text path) { (void)path; }
  virtual bool infoBusy() const { return false; }
  virtual void setBusy(bool flag) { (void)flag; }
  virtual GuiPosition getPosition() { return {x_, y_}; }
  virtual void setPosition(int32_t x, int32_t y);
  virtual int32_t infoWidth() { return width_; }
  virtual int32_t infoHeight() { return height_; }
  virtual void setSize(int32_t width, int32_t height);
  virtual GuiNativeObject infoNativeObject(Text kind) {
    (void)kind;
    return {nullptr, true};
  }

 protected:
  // Factory hooks: neutral ones answer NIL; a host answers a new host item.
  virtual cGuiGroupHorizontal* makeGroupHorizontal(Text title) { return (void)title, nullptr; }
  virtual cGuiGroupVertical* makeGroupVertical(Text title) { return (void)title, nullptr; }
  virtual cGuiGroupGrid* makeGroupGrid(Text title, int32_t columns) { return (void)title, (void)columns, nullptr; }
  virtual cGuiGroupPage* makeGroupPage(Text title) { return (void)title, nullptr; }
  virtual cGuiBreak* makeBreak() { return nullptr; }
  virtual cGuiBar* makeBar(Text title) { return (void)title, nullptr; }
  virtual cGuiLabel* makeLabel(Text label) { return (void)label, nullptr; }
  virtual cGuiText* makeText(Text label) { return (void)label, nullptr; }
  virtual cGuiTextBox* makeTextBox(Text label) { return (void)label, nullptr; }
  virtual cGuiButton* makeButton(Text label) { return (void)label, nullptr; }
  virtual cGuiTick* makeTick(Text label) { return (void)label, nullptr; }
  virtual cGuiString* makeString(Text label) { return (void)label, nullptr; }
  virtual cGuiStringBox* makeStringBox(Text label) { return (void)label, nullptr; }
  virtual cGuiPathString* makePathString(Text label) { return (void)label, nullptr; }
  virtual cGuiNumberString* makeNumberString(Text label, int32_t min, int32_t max) {
    return (void)label, (void)min, (void)max, nullptr;
  }
  virtual cGuiSlider* makeSlider(Text label, int32_t min, int32_t max) {
    return (void)label, (void)min, (void)max, nullptr;
  }
  virtual cGuiCycleChoice* makeCycleChoice(Text label, const StrChain& choices) {
    return (void)label, (void)choices, nullptr;
  }
  virtual cGuiRadioChoice* makeRadioChoice(Text label, const StrChain& choices) {
    return (void)label, (void)choices, nullptr;
  }
  virtual cGuiNativeSimple* makeNativeSimple() { return nullptr; }
  virtual cGuiList* makeList(int32_t columns, Text title) { return (void)columns, (void)title, nullptr; }

  // Raises "EMU" "cGuiWindow.<method>(); must be done inside a group" when
  // no group is open.
  void requireGroup(const char* method) const;
  // Adds item (made by a hook) to the current group and returns it.
  template <class Item>
  Item* addMade(Item* item) {
    current_->add(item);
    return item;
  }
  // The add operations: refused outside a group (before anything is made),
  // else make() through a factory hook and add.
  template <class Make>
  auto addVia(const char* method, Make make) {
    requireGroup(method);
    return addMade(make());
  }

  bool positionGiven() const { return positionGiven_; }

 private:
  std::unique_ptr<cGuiGroupItem> root_;
  cGuiGroupItem* current_ = nullptr;
  cGuiList* list_ = nullptr;
  cGuiGroupItem* savedCurrent_ = nullptr;
  int32_t x_ = 0;
  int32_t y_ = 0;
  bool positionGiven_ = false;
  int32_t width_ = -1;
  int32_t height_ = -1;
  bool appWindow_ = false;
  uint32_t saveId_ = 0;
  bool closeRequested_ = false;
  cGuiItem* changedItem_ = nullptr;
};

}  // namespace bw
