// gui/host/core/gui_host_items.h - the host twins of the groups, labels,
// texts, text boxes, bars, breaks and buttons, with their shared record and
// the method-id protocol; no toolkit here.
//
// The protocol of shared(methodId, params), every host item:
//   0  build: fills the record's fragment (layout nodes, gui_layout.h);
//      groups need params ("BUG" "<Class>Host.shared(); params=NILL")
//   1  attach the notification (through the record's view)
//   2  keeps its minimal width?   3  keeps its minimal height?
//   4  joins the keyboard cycle chain?
//   any other id raises "BUG" "<neutral class>.shared(); unknown method id".
//
// Invariants:
//   1. An item counts as built while its record holds a view: the toolkit
//      binding's object for it. Setters write the neutral state and, when
//      built, the view; getters of texts read the view once built.
//   2. The record never owns the toolkit object, only the view onto it; the
//      window clears every record's view before its widgets go.
//   3. "Parent is horizontal" is the exact-class test on cGuiGroupHorizontalHost.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "gui/gui_gadgets.h"
#include "gui/host/core/gui_layout.h"

namespace bw {

class cGuiWindowHostCore;

// What the host asks of the toolkit object of one item.
class GuiGadgetView {
 public:
  virtual ~GuiGadgetView() = default;
  virtual void showText(Text shown) { (void)shown; }
  virtual Str shownText() { return Str(); }
  virtual void showHelp(Text help) { (void)help; }
  virtual void showDisabled(bool flag) { (void)flag; }
  virtual void showPage(int32_t page) { (void)page; }
  // Calls notify on every change the user makes.
  virtual void attachNotify(std::function<void()> notify) { (void)notify; }
  // The toolkit object ("OBJT").
  virtual void* nativeObject() { return nullptr; }
};

// The per-item record of every host item.
class cGuiShared : public cGuiSharedBase {
  BW_CLASS(cGuiShared, cGuiSharedBase)

 public:
  using cGuiSharedBase::cGuiSharedBase;

  struct Built {
    GuiFragment fragment;
    cGuiItem* last;
  };
  // Chains item behind previous in build order, asks the item to build, and
  // answers its fragment and the last item of its subtree.
  Built build(cGuiItem* previous, cGuiWindowHostCore* window, GuiSharedParams flags);
  void addNotify() { item()->shared(1, nullptr); }
  bool infoFixedWidth() { return item()->shared(2, nullptr) != 0; }
  bool infoFixedHeight() { return item()->shared(3, nullptr) != 0; }
  bool infoInCycleChain() { return item()->shared(4, nullptr) != 0; }

  cGuiWindowHostCore* window = nullptr;
  cGuiItem* lastBuilt = nullptr;  // groups: the last item of the subtree
  GuiFragment fragment;           // set by shared(0)
  std::unique_ptr<GuiGadgetView> view;
};

// Answers ids 2-4 of the protocol from one table row; any other id raises
// "BUG" "<neutralClass>.shared(); unknown method id" (0 and 1 are the
// caller's).
intptr_t guiSharedAnswer(int32_t methodId, const char* neutralClass, bool fixedWidth, bool fixedHeight, bool cycle);

// The record of a host item (every host item has one).
cGuiShared& guiRecord(const cGuiItem& item);
// The view of a built item, else nullptr.
GuiGadgetView* guiView(const cGuiItem& item);
// True when the item has a parent whose exact class is className.
bool guiParentIsClass(const cGuiItem& item, const char* className);

// The two fixed answers of a group, computed once.
struct GuiFixedCache {
  bool known = false;
  bool width = false;
  bool height = false;
};

// The protocol of the four group hosts (one implementation).
intptr_t guiGroupShared(cGuiGroupItem& group, GuiFixedCache& cache, int32_t methodId,
                        const GuiSharedParams* params);

class cGuiGroupHorizontalHost : public cGuiGroupHorizontal {
  BW_CLASS(cGuiGroupHorizontalHost, cGuiGroupHorizontal)

 public:
  explicit cGuiGroupHorizontalHost(Text title);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override {
    return guiGroupShared(*this, cache_, methodId, params);
  }

 private:
  GuiFixedCache cache_;
};

class cGuiGroupVerticalHost : public cGuiGroupVertical {
  BW_CLASS(cGuiGroupVerticalHost, cGuiGroupVertical)

 public:
  explicit cGuiGroupVerticalHost(Text title);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override {
    return guiGroupShared(*this, cache_, methodId, params);
  }

 private:
  GuiFixedCache cache_;
};

class cGuiGroupGridHost : public cGuiGroupGrid {
  BW_CLASS(cGuiGroupGridHost, cGuiGroupGrid)

 public:
  cGuiGroupGridHost(Text title, int32_t columns);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override {
    return guiGroupShared(*this, cache_, methodId, params);
  }

 private:
  GuiFixedCache cache_;
};

// Pages: a non-group item added is wrapped in a horizontal group of its own;
// the queries answer once the group is finished (the page table is made).
class cGuiGroupPageHost : public cGuiGroupPage {
  BW_CLASS(cGuiGroupPageHost, cGuiGroupPage)

 public:
  explicit cGuiGroupPageHost(Text title);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  void add(cGuiItem* item) override;
  void finishGroup() override;
  // Checks the range, then shows the page when built.
  cGuiGroupPage* setState(int32_t page) override;
  cGuiItem* getStateItem() override;
  cGuiGroupPage* setStateItem(cGuiItem* item) override;
  int32_t infoPageNumOfPageItem(cGuiItem* item) override;
  cGuiItem* infoPageItemOfPageNum(int32_t page) override;

 private:
  GuiFixedCache cache_;
  bool finished_ = false;
  std::vector<cGuiItem*> pages_;
};

// A group is fixed-width when one of its rows (a row per child in vertical
// and page groups, one row of all children in horizontal ones, rows of the
// column count in grids) is fixed-width throughout; empty is not fixed.
bool guiGroupHasFixedWidth(const cGuiGroupItem& group);
// Lanes (one in a vertical group, one per child in horizontal and page
// groups, one per column in grids); fixed-height when one lane is.
bool guiGroupHasFixedHeight(const cGuiGroupItem& group);
// The layout node of a group and its subtree; stores the last item built in
// the group's record.
GuiLayoutNode guiBuildGroup(cGuiGroupItem& group, cGuiWindowHostCore* window, GuiSharedParams flags);

class cGuiLabelHost : public cGuiLabel {
  BW_CLASS(cGuiLabelHost, cGuiLabel)

 public:
  explicit cGuiLabelHost(Text label);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  cGuiLabel* setHelp(Text help) override;
  // The shown text: the style escapes (pen 5, pen 4, bold, italic) then the
  // label; the alignment goes separately.
  Str shownText() const;
};

class cGuiTextHost : public cGuiText {
  BW_CLASS(cGuiTextHost, cGuiText)

 public:
  explicit cGuiTextHost(Text label);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  cGuiText* setHelp(Text help) override;
  // Built: the text as shown (alignment prefix and first-line cut included).
  Str getState() override;
  // Built: shows the first line of the prepared text and keeps no copy.
  cGuiText* setState(Text text) override;
  // prepareText, then the first line when there is one.
  Str shownOf(Text text) const;
  // What the built text first shows (the stored text's shown form).
  Str initialShown() const { return shownOf(text_); }
};

class cGuiTextBoxHost : public cGuiTextBox {
  BW_CLASS(cGuiTextBoxHost, cGuiTextBox)

 public:
  explicit cGuiTextBoxHost(Text label);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  cGuiTextBox* setHelp(Text help) override;
  cGuiTextBox* setState(Text text) override;
};

class cGuiBarHost : public cGuiBar {
  BW_CLASS(cGuiBarHost, cGuiBar)

 public:
  explicit cGuiBarHost(Text title);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  // A bar is horizontal exactly in a vertical group host.
  bool isHorizontalBar() const;
};

class cGuiBreakHost : public cGuiBreak {
  BW_CLASS(cGuiBreakHost, cGuiBreak)

 public:
  cGuiBreakHost();
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
};

class cGuiButtonHost : public cGuiButton {
  BW_CLASS(cGuiButtonHost, cGuiButton)

 public:
  explicit cGuiButtonHost(Text label);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  cGuiButton* setHelp(Text help) override;
  cGuiButton* setDisabled(bool flag) override;
  // The image's native path chosen at the build; NIL for a text button.
  const Str& infoImagePath() const { return imagePath_; }

 private:
  Str imagePath_;
};

}  // namespace bw
