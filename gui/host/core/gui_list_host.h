// gui/host/core/gui_list_host.h - cGuiListHost, the host twin of the list
// gadget: the shown column texts of each row with their escape prefixes and
// pens, the column compare that skips those escapes, the notifications and
// the answers they become, quiet batching, the title mark and the saved
// state; no toolkit here.
//
// Invariants:
//   1. The store is the neutral list's; the host only tells its view what
//      changed. While quiet (setRedraw FALSE) changes are collected and told
//      once, as one reset, when the list redraws again.
//   2. Every notification goes through guiAddListNotify: its flag is raised,
//      then the list is queued as changed. The active row changing (not a
//      shift by rows inserted or removed above it), the program's selection
//      of a multi-select list, a user's selection, double-click and title
//      click each notify. notifyChanged turns the flags into the answers.
//   3. Column texts are made once per label or style change; the pen digits
//      are patched in place only when the row's pen number changes.
//   4. The escape skipping never reads past a text's end, whatever bytes it
//      holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "gui/gui_list.h"
#include "gui/host/core/gui_host_items.h"
#include "gui/host/core/gui_pens.h"
#include "gui/host/core/gui_text.h"

namespace bw {

class cGuiListHost;

// No title mark shown.
inline constexpr uint32_t kGuiNoTitleMark = 0xf0000000;
// The mark's flag for a descending column.
inline constexpr uint32_t kGuiTitleMarkReverse = 0x80000000;

// What the list's toolkit object offers beyond a gadget's. Every show* call
// is the program's: the view shows it without reporting back.
class GuiListView : public GuiGadgetView {
 public:
  virtual void listInserted(int32_t first, int32_t count) = 0;
  virtual void listRemoved(int32_t first, int32_t count) = 0;
  virtual void listChanged(int32_t row) = 0;
  virtual void listReset() = 0;
  virtual void showSelection() = 0;
  // The selection of one row (multi-select lists).
  virtual void showRowSelection(int32_t row) = 0;
  virtual void showTitleMark(uint32_t mark) = 0;
  virtual void jumpTo(int32_t row) = 0;
  virtual std::vector<int32_t> shownColumnWidths() = 0;
  virtual void showColumnWidths(const std::vector<int32_t>& widths) = 0;
  virtual GuiColourMap screenColours() = 0;
};

// The texts a row shows, one per column.
struct GuiListRowTexts : GuiListRowExtra {
  std::vector<std::string> columns;
  int32_t penIndex = -1;  // 0 or 1 for a coloured row
  int32_t shownPen = -1;  // the pen number in the texts
  // The columns through the escape parser, for parsedPen.
  std::vector<GuiStyledText> parsed;
  int32_t parsedPen = -2;
};

// The texts of n columns of a "\t"-separated text, each with the prefixes
// in front; missing columns are empty, surplus ones dropped.
std::vector<std::string> makeColumnTexts(std::string_view text, int32_t n, std::string_view p1,
                                         std::string_view p2, std::string_view p3);
// The row's column texts and pen index for a label and style: style 2 pen
// 1, else 1 pen 0 (as "\eP[nnnnn]"), 4 bold "\eb", 8 italic "\ei".
void guiListSetLabelAndStyle(GuiListRowTexts& texts, std::string_view label, int32_t style, int32_t columns);
// Writes the pen number into every non-empty column text when it is not
// the one shown; a row with a pen index and no pen raises "BUG".
void updateColumnsWithPen(GuiListRowTexts& texts, int32_t pen);
// The text after its leading escapes: ESC "P" up to and past the next "]",
// any other ESC with the character after it; stops at the text's end.
std::string_view guiSkipListEscapes(std::string_view text);
// The column compare: < 0 when a goes first, by the sort type on the texts
// after their escapes; reverse negates.
int32_t guiListCompareTexts(std::string_view a, std::string_view b, char sortType, bool reverse);

// Raises the flag, then queues the list as changed in its window.
void guiAddListNotify(cGuiListHost& list, bool& flag);
// A list sorted by user takes the column and direction of its title mark
// (as a loaded saved state left it).
void guiListApplyUserSort(cGuiList* list);

class cGuiListHost : public cGuiList {
  BW_CLASS(cGuiListHost, cGuiList)

 public:
  cGuiListHost(cGuiWindow* window, int32_t columns, Text title);
  ~cGuiListHost() override;

  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  GuiNativeObject infoNativeObject(Text kind) const override;
  void notifyChanged() override;
  void setRedraw(bool flag) override;
  cGuiList* setHelp(Text help) override;
  cGuiList* setDisabled(bool flag) override;
  bool infoBuilt() const { return guiView(*this) != nullptr; }

  // The user's doings, from the view.
  void userSelected(const std::vector<int32_t>& rows, int32_t active);
  void userDoubleClicked(int32_t row);
  void userTitleClicked(int32_t column);

  // What the view shows: a row's texts (made on demand, pen patched), the
  // bold title texts, the title mark.
  const GuiListRowTexts& rowTexts(int32_t index);
  // The same, parsed: what each column shows and in which style.
  const std::vector<GuiStyledText>& rowCells(int32_t index);
  const std::vector<std::string>& infoTitleTexts() const { return titleTexts_; }
  uint32_t infoTitleMark() const { return titleMark_; }
  // Pens for the screen's colours (the list is shown or the palette
  // changed); the rows show the new numbers as they are drawn.
  void setupPens(const GuiColourMap& screen);
  int32_t infoPen(int32_t index) const { return pens_.pen(index); }

  // The saved state: title mark and column widths, as text; restoring shows
  // the mark without sorting (guiListApplyUserSort does that).
  Str stateText();
  void restoreState(Text state);

 protected:
  void requireBuilt(const char* method) const override;
  void rowsInserted(int32_t first, int32_t count) override;
  void rowsRemoved(int32_t first, int32_t count) override;
  void rowChanged(int32_t index) override;
  void rowsReset() override;
  void activeChanged() override;
  void selectChanged(int32_t row) override;
  void jumpTo(int32_t index) override;
  void sortModeChanged() override;
  std::string_view sortField(const Row& row, int32_t column) const override;

 private:
  GuiListView* listView() const;
  GuiListRowTexts& textsOf(int32_t index);
  // The view, or nullptr while quiet (the change is then collected).
  GuiListView* liveView();

  muiAllocPen pens_{0x000000FF, 0x20000000};
  std::vector<std::string> titleTexts_;
  uint32_t titleMark_ = kGuiNoTitleMark;
  bool quiet_ = false;
  bool quietChanges_ = false;
  bool selectionChanged_ = false;
  bool doubleClicked_ = false;
  bool titleClicked_ = false;
  int32_t doubleClickRow_ = -1;
  int32_t titleClickColumn_ = -1;
};

}  // namespace bw
