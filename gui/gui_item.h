// gui/gui_item.h - the toolkit-neutral item tree: the item root, the host
// record base, the change-notification function, groups with their four
// layouts, and the two spacers.
//
// Invariants:
//   1. A group owns its children: destroying a group destroys them, first to
//      last. The window owns its root group, so ending a window ends the tree.
//   2. An item owns its host record (shared); neutral items have none. A host
//      item makes its record in its own constructor (the host's makeShared).
//   3. The neutral classes keep every piece of state and raise only the
//      "EMU" messages named below; nothing here knows a toolkit.
//   4. Chainable operations (init..., set... that return the item) are
//      virtual; each concrete class repeats its bases' ones with its own
//      return type (BW_GUI_TYPED_*), so a host override of the typed form is
//      reached through the base form too.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/object.h"
#include "core/str.h"

namespace bw {

class fGuiListEntries;
class fGuiListSort;

class cGuiItem;
class cGuiGroupItem;

// Opaque toolkit handle ("OBJT", "APPL", "SCRN", "WIND", "SIGS"); unknown
// is true for a kind the object does not know (object is then null).
struct GuiNativeObject {
  void* object;
  bool unknown;
};

// The two build permissions a group passes to its children (method 0 of
// cGuiItem::shared).
struct GuiSharedParams {
  bool fillWidthAllowed;
  bool fillHeightAllowed;
};

// The per-item record of the host; the host class adds its objects.
class cGuiSharedBase : public class_base {
  BW_CLASS(cGuiSharedBase, class_base)

 public:
  explicit cGuiSharedBase(cGuiItem* item) : item_(item) {}
  cGuiItem* item() const { return item_; }

 private:
  cGuiItem* item_;
};

// The function an input item calls when its value changed.
class funcGuiNotify : public function {
  BW_CLASS(funcGuiNotify, function)

 public:
  virtual void call(cGuiItem* item) { (void)item; }
};

// The root of the item tree.
class cGuiItem : public class_base {
  BW_CLASS(cGuiItem, class_base)

 public:
  cGuiItem() = default;
  cGuiItem(const cGuiItem&) = delete;
  cGuiItem& operator=(const cGuiItem&) = delete;
  ~cGuiItem() override = default;

  // The host's method-id protocol (build, notify, fixed width, fixed height,
  // cycle chain); neutral items answer 0.
  virtual intptr_t shared(int32_t methodId, const GuiSharedParams* params) {
    (void)methodId, (void)params;
    return 0;
  }
  void setOwner(cGuiItem* owner) { owner_ = owner; }
  cGuiItem* infoOwner() const { return owner_; }
  virtual cGuiItem* initSpareValue(intptr_t value) {
    spareValue_ = value;
    return this;
  }
  intptr_t infoSpareValue() const { return spareValue_; }
  cGuiItem* infoNextSibling() const { return next_; }
  cGuiItem* infoNext() const { return next_; }
  virtual GuiNativeObject infoNativeObject(Text kind) const {
    (void)kind;
    return {nullptr, true};
  }
  // Virtual: a container answers its inner item's record and build links.
  virtual cGuiSharedBase* infoShared() const { return shared_.get(); }
  void setParent(cGuiGroupItem* group) { parent_ = group; }
  cGuiGroupItem* infoParent() const { return parent_; }
  virtual cGuiItem* infoNextBuilt() const { return nextBuilt_; }
  virtual void setNextBuilt(cGuiItem* item) { nextBuilt_ = item; }

 protected:
  // The host's makeShared: binds a record made for this item.
  void setShared(std::unique_ptr<cGuiSharedBase> record) { shared_ = std::move(record); }

 private:
  friend class cGuiGroupItem;
  cGuiItem* next_ = nullptr;
  intptr_t spareValue_ = 0;
  cGuiItem* owner_ = nullptr;
  std::unique_ptr<cGuiSharedBase> shared_;
  cGuiGroupItem* parent_ = nullptr;
  cGuiItem* nextBuilt_ = nullptr;
};

// Typed forms of the chainable operations, one line per class.
#define BW_GUI_TYPED_ITEM(Class)                                      \
  Class* initSpareValue(intptr_t value) override {                   \
    cGuiItem::initSpareValue(value);                                  \
    return this;                                                      \
  }

// A group: lays its children out. framed is true when a title was given at
// all (even ""), title is NIL for an empty one.
class cGuiGroupItem : public cGuiItem {
  BW_CLASS(cGuiGroupItem, cGuiItem)

 public:
  explicit cGuiGroupItem(Text title);
  // Destroys the children first to last.
  ~cGuiGroupItem() override;

  // Links item behind the last child. NIL raises "EMU"
  // "cGuiGroupItem.add(); item=NIL"; the group takes ownership.
  virtual void add(cGuiItem* item);
  // Called when the window builder closes the group.
  virtual void finishGroup() {}
  virtual cGuiGroupItem* initScrollable() {
    scrollable_ = true;
    return this;
  }
  virtual cGuiGroupItem* initEqualSizedItems() {
    equalSizedItems_ = true;
    return this;
  }
  virtual cGuiGroupItem* initNoWeight() {
    noWeight_ = true;
    return this;
  }
  // Passes flag to every input item below, at any depth; labels, texts,
  // spacers and native items are left alone.
  virtual cGuiGroupItem* setDisabled(bool flag);

  bool infoFramed() const { return framed_; }
  const Str& infoTitle() const { return title_; }
  int32_t infoCount() const { return count_; }
  cGuiItem* infoFirst() const { return first_; }
  cGuiItem* infoLast() const { return last_; }
  bool infoScrollable() const { return scrollable_; }
  bool infoEqualSizedItems() const { return equalSizedItems_; }
  bool infoNoWeight() const { return noWeight_; }

 private:
  bool framed_;
  Str title_;
  bool scrollable_ = false;
  bool equalSizedItems_ = false;
  bool noWeight_ = false;
  cGuiItem* first_ = nullptr;
  cGuiItem* last_ = nullptr;
  int32_t count_ = 0;
};

#define BW_GUI_TYPED_GROUP(Class)                                     \
  BW_GUI_TYPED_ITEM(Class)                                            \
  Class* initScrollable() override {                                  \
    cGuiGroupItem::initScrollable();                                  \
    return this;                                                      \
  }                                                                   \
  Class* initEqualSizedItems() override {                             \
    cGuiGroupItem::initEqualSizedItems();                             \
    return this;                                                      \
  }                                                                   \
  Class* setDisabled(bool flag) override {                            \
    cGuiGroupItem::setDisabled(flag);                                 \
    return this;                                                      \
  }

class cGuiGroupHorizontal : public cGuiGroupItem {
  BW_CLASS(cGuiGroupHorizontal, cGuiGroupItem)

 public:
  explicit cGuiGroupHorizontal(Text title) : cGuiGroupItem(title) {}
  BW_GUI_TYPED_GROUP(cGuiGroupHorizontal)
};

class cGuiGroupVertical : public cGuiGroupItem {
  BW_CLASS(cGuiGroupVertical, cGuiGroupItem)

 public:
  explicit cGuiGroupVertical(Text title) : cGuiGroupItem(title) {}
  BW_GUI_TYPED_GROUP(cGuiGroupVertical)
};

// Children row by row, `columns` to a row. The builder refuses columns < 1;
// a grid made with the group form has 0, which the layout treats as 1.
class cGuiGroupGrid : public cGuiGroupItem {
  BW_CLASS(cGuiGroupGrid, cGuiGroupItem)

 public:
  explicit cGuiGroupGrid(Text title, int32_t columns = 0) : cGuiGroupItem(title), columns_(columns) {}
  BW_GUI_TYPED_GROUP(cGuiGroupGrid)
  int32_t infoColumns() const { return columns_; }

 private:
  int32_t columns_;
};

// Each child is one page, numbered from 0 in the order added; state is the
// page shown. The page queries are answered by the host once the group is
// finished; the neutral forms answer NIL.
class cGuiGroupPage : public cGuiGroupItem {
  BW_CLASS(cGuiGroupPage, cGuiGroupItem)

 public:
  explicit cGuiGroupPage(Text title) : cGuiGroupItem(title) {}
  BW_GUI_TYPED_ITEM(cGuiGroupPage)
  cGuiGroupPage* setDisabled(bool flag) override {
    cGuiGroupItem::setDisabled(flag);
    return this;
  }

  int32_t getState() const { return state_; }
  // page < 0 or >= infoCount raises "EMU" "cGuiGroupPage.setState(); the
  // page number is outside the valid range".
  virtual cGuiGroupPage* setState(int32_t page);
  virtual cGuiItem* getStateItem() { return nullptr; }
  virtual cGuiGroupPage* setStateItem(cGuiItem* item) {
    (void)item;
    return this;
  }
  int32_t infoLastPageNum() const { return infoCount() - 1; }
  virtual int32_t infoPageNumOfPageItem(cGuiItem* item) {
    (void)item;
    return 0;
  }
  virtual cGuiItem* infoPageItemOfPageNum(int32_t page) {
    (void)page;
    return nullptr;
  }

 private:
  int32_t state_ = 0;
};

// A flexible spacer.
class cGuiBreak : public cGuiItem {
  BW_CLASS(cGuiBreak, cGuiItem)

 public:
  BW_GUI_TYPED_ITEM(cGuiBreak)
};

// A separating bar with an optional title.
class cGuiBar : public cGuiItem {
  BW_CLASS(cGuiBar, cGuiItem)

 public:
  explicit cGuiBar(Text title) : title_(title.isNil() ? Str() : Str(title.view())) {}
  BW_GUI_TYPED_ITEM(cGuiBar)
  const Str& infoTitle() const { return title_; }

 private:
  Str title_;
};

// Module initialiser and finaliser: the default notification function and
// the lists' default row source and row order.
void initGuiModule();
void endGuiModule();
// The default funcGuiNotify; nullptr outside the module's life.
funcGuiNotify* defaultGuiNotify();
// The default row source (yields nothing) and row order (whole labels, case
// folded); nullptr outside the module's life.
fGuiListEntries* defaultGuiListEntries();
fGuiListSort* defaultGuiListSort();

}  // namespace bw
