// gui/gui_list.h - cGuiList, the multi-column list gadget (feed list, news
// list, tag chooser), with its row store, its sort modes, the merge refresh
// (update/updateF) and the row sources and orders that go with it.
//
// Invariants:
//   1. A row is a label (columns joined by "\t") with a style, a marked flag,
//      a selected flag, a data word and an optional data box the row owns.
//      Rows keep their identity while they live: cursor_infoLabel answers the
//      row's own label object, and findCursorEntry compares by identity.
//   2. In a sorted list the rows are always in the order of infoSorter:
//      inserts go after equal rows, sorting is stable.
//   3. The cursor is an index; it stays on a row while the list has rows.
//   4. Every misuse raises "EMU" "cGuiList.<method>(); <problem>" and leaves
//      the list unchanged. The host twin adds "the window must be built
//      first" through requireBuilt; the neutral list works unbuilt.
//   5. updateF merges a sorted set of rows into the list: a row in both
//      (sorting alike and standing for the same thing: data word and box
//      number) keeps its place in the store, its selection and its label
//      object when the text is equal; rows only in the list go, rows only
//      in the set come in; rows sorting alike end in the set's order; the
//      cursor stays on its row (or the row that followed it when its row
//      went). updateOneEntry gives the same result when one row changed.
//   6. Every change of the store is told to the host through the protected
//      hooks after it is made: rows inserted or removed (indices), a row's
//      shown values changed, everything reordered, the active row changed,
//      the selection changed by the program.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "core/gui_list_functions.h"
#include "core/gui_list_selection.h"
#include "gui/gui_gadgets.h"

namespace bw {

class cGuiWindow;

// What a host keeps beside a row (its shown texts); dropped whenever the
// row's label or style changes.
class GuiListRowExtra {
 public:
  virtual ~GuiListRowExtra() = default;
};

// One row: the record every row carries.
struct GuiListEntry {
  Str label;
  int32_t style = 0;
  bool marked = false;
  bool selected = false;
  int32_t data = 0;
  std::unique_ptr<box> dataBox;
  std::unique_ptr<GuiListRowExtra> extra;
};

// Raises code with "cGuiList.<method>(); <problem>".
[[noreturn]] void raiseGuiList(const char* code, const char* method, std::string_view problem);
// The field of column n (from 0) of a label; a label with fewer fields
// answers an empty field.
std::string_view guiListColumnField(std::string_view label, int32_t column);
// Orders two fields by a sort-type letter ('N', 'S', 'I'): 1 when a comes
// first, -1 when b does, 0 when equal; any other letter answers 0. 'N' reads
// the leading numbers (empty = 0); 'S' and 'I' compare bytes (a-z folded for
// 'I'), the end of a field before every character.
int32_t compareGuiListFields(std::string_view a, std::string_view b, char sortType);

// Orders rows by one column under the list's sort types.
class fGuiListSortByColumn : public fGuiListSort {
  BW_CLASS(fGuiListSortByColumn, fGuiListSort)

 public:
  fGuiListSortByColumn* set(int32_t column, bool reverse, std::string_view sortTypes);
  int32_t call(const Str& label1, const Str& label2, int32_t data1, int32_t data2, const box* dataBox1,
               const box* dataBox2) override;
  int32_t infoColumn() const { return column_; }
  bool infoReverse() const { return reverse_; }

 private:
  int32_t column_ = 0;
  bool reverse_ = false;
  std::string sortTypes_;
};

// Yields a chain of strings as rows (style 0, unmarked, data 0, no box).
class fEntriesFromStringList : public fGuiListEntries {
  BW_CLASS(fEntriesFromStringList, fGuiListEntries)

 public:
  fEntriesFromStringList* set(StrChain strings) {
    strings_ = std::move(strings);
    next_ = 0;
    return this;
  }
  GuiListRow call() override;

 private:
  StrChain strings_;
  size_t next_ = 0;
};

// The sort modes of a list.
enum class GuiListSortMode { unsorted, byUser, byColumn, byFunction };

class cGuiList : public cGuiInputItem, public GuiListSelection {
  BW_CLASS(cGuiList, cGuiInputItem)

 public:
  using Row = GuiListEntry;

  // columns < 1 counts as 1; title NIL stays NIL.
  cGuiList(cGuiWindow* window, int32_t columns, Text title);
  ~cGuiList() override;
  BW_GUI_TYPED_INPUT(cGuiList)

  cGuiList* initMultiSelect(bool multiSelect, bool defaultMode);
  cGuiList* initColumnTitles(Text titles);
  // One letter per column up to the smaller length; 'L', 'C', 'R' (or lower
  // case) are stored in upper case, any other letter leaves the column.
  cGuiList* initColumnAlignment(Text letters);
  // The same with 'I', 'S', 'N'.
  cGuiList* initColumnSortTypes(Text letters);
  // The column that takes the width the others leave (the last one unless
  // set); outside 0 .. columns - 1 leaves it.
  cGuiList* initFillColumn(int32_t column);
  // A column whose fields are dates written "YYYY-MM-DD" or "YYYY-MM-DD
  // HH:MM": a host shows them in the user's own short form, while labels
  // and sorting keep the written form. Outside 0 .. 63 leaves it.
  cGuiList* initDateColumn(int32_t column);
  bool infoIsDateColumn(int32_t column) const {
    return column >= 0 && column < 64 && ((dateColumns_ >> column) & 1) != 0;
  }
  // What a row tells when the pointer rests on it (a host's tool tip):
  // help's answer for the row, NIL or empty for the list's own help.
  using RowHelp = std::function<Str(const Row&)>;
  cGuiList* setRowHelp(RowHelp help) {
    rowHelp_ = std::move(help);
    return this;
  }
  Str infoRowHelp(int32_t index) const;

  struct Selectable {
    bool selectable;
    bool multiSelect;
    bool multiSelectDefaultMode;
  };
  Selectable getSelectable() const { return {selectable_, multiSelect_, multiSelectDefaultMode_}; }
  const Str& infoColumnTitles() const { return columnTitles_; }
  const std::string& infoColumnAlignment() const { return alignment_; }
  const std::string& infoColumnSortTypes() const { return sortTypes_; }
  int32_t infoColumns() const { return columns_; }
  int32_t infoFillColumn() const { return fillColumn_ < 0 ? columns_ - 1 : fillColumn_; }
  const Str& infoTitle() const { return title_; }
  cGuiWindow* infoWindow() const { return window_; }

  int32_t infoSize() const;
  // Single select: 1 while a row is active; multi: the selected rows.
  int32_t infoSelectionCount() const;
  // The active row's label (a copy), NIL when none; single select only.
  Str infoSingleSelectionEntry() const;
  // The active row (single select: the selected one), -1 when none.
  int32_t infoActive() const { return active_; }
  // Adds one row: sorted in place in a sorted list (after equal rows), else
  // at the bottom. In a sorted list the cursor stays on its row; with
  // makeCursor it goes to the new row.
  void addEntry(Str label, int32_t style, bool marked, int32_t data, std::unique_ptr<box> dataBox,
                bool makeCursor = false);
  // Adds every row the source yields, as one insertion; calls keep their
  // order among equal rows.
  void addEntries(fGuiListEntries& source);
  // Merges the rows the source yields; the list must be sorted.
  void updateF(fGuiListEntries& source);
  // What updateF makes of the list when the source yields every row the
  // list holds, unmarked, but given in place of the row at index (-1: none;
  // a NIL label: no row). precedes answers, for a row sorting like given,
  // whether given comes first in the source's order. Besides clearing the
  // marks it costs a binary search and the run of rows sorting alike, not a
  // merge of the whole list.
  void updateOneEntry(int32_t index, GuiListRow given, const std::function<bool(const Row&)>& precedes);
  // updateF over a chain of labels: the list then holds exactly those rows.
  void update(StrChain rows);
  virtual void setRedraw(bool flag) { redraw_ = flag; }
  bool infoRedraw() const { return redraw_; }
  void markAll();

  bool infoIsUnsorted() const { return sortMode_ == GuiListSortMode::unsorted; }
  GuiListSortMode infoSortMode() const { return sortMode_; }
  void setUnsorted();
  void setSortByColumn(int32_t column, bool reverse);
  struct SortColumn {
    bool set;  // sorted by this fixed column (getSortByColumn) / by user
    int32_t column;
    bool reverse;
  };
  SortColumn getSortByColumn() const;
  void setSortByUser(int32_t initialColumn, bool reverse);
  SortColumn infoSortByUser() const;
  // The user clicked a column title: in user mode the current column flips
  // its direction and another column sorts ascending; the rows are sorted
  // and the sort-changed flag raised. Other modes and columns do nothing.
  void titleClick(int32_t column);
  bool infoSortChangedFlag(bool keep);
  void setSortChangedFlag(bool flag) { sortChanged_ = flag; }
  void setSortByFunction(fGuiListSort* sortFunc);
  struct Sorter {
    bool byFunction;
    fGuiListSort* sorter;  // nullptr when unsorted
  };
  Sorter infoSorter();

  bool infoChangedFlag(bool keep);
  void setChangedFlag(bool flag) { changed_ = flag; }

  // A copy of the cursor row's label (the selection interface's form).
  Str cursor_getLabel() override { return row("cursor_getLabel").label; }
  // The cursor row's own label object, the one findCursorEntry looks for.
  const Str& cursor_infoLabel() const { return row("cursor_getLabel").label; }
  // cursor_infoLabel when the list has rows, else NIL (a null pointer).
  const Str* cursor_getLabelIfAny() const { return rows_.empty() ? nullptr : &rows_[cursor_]->label; }
  // The cursor row, nullptr for an empty list.
  const Row* cursor_infoEntry() const;
  // To the row whose label is that very object; NIL stays on the first row.
  void findCursorEntry(const Str* label);

  bool cursor_gotoStart();
  bool cursor_gotoEnd();
  int32_t cursor_gotoNext(int32_t n);
  int32_t cursor_gotoPrev(int32_t n);
  bool cursor_gotoFirstSelected() override;
  bool cursor_gotoNextSelected() override;
  bool cursor_findLabel(Text text, bool noCase, int32_t length, bool fromNext);
  // -1 for an empty list; else the cursor's index (the cursor stays).
  int32_t cursor_infoPosition() const { return rows_.empty() ? -1 : cursor_; }
  bool cursor_isAtStart() const { return cursor_ == 0; }
  bool cursor_isAtEnd() const { return rows_.empty() || cursor_ == static_cast<int32_t>(rows_.size()) - 1; }

  // Replaces the cursor row's label (a new label object) and re-sorts the
  // list when the row's place changes; move 1 steps the cursor on, any other
  // non-zero move steps it back.
  void cursor_setLabel(Str label, int32_t move = 0);
  int32_t cursor_getStyle() const { return row("cursor_getStyle").style; }
  void cursor_setStyle(int32_t style);
  bool cursor_getStyleBit0() const { return (cursor_getStyle() & 1) != 0; }
  void cursor_setStyleBit0() { cursor_setStyle(1); }
  bool cursor_getState() const;
  void cursor_setState(bool state) override;
  bool cursor_getMarked() const { return row("cursor_getMarked").marked; }
  void cursor_setMarked(bool flag) { row("cursor_setMarked").marked = flag; }
  int32_t cursor_getData() const { return row("cursor_getData").data; }
  void cursor_setData(int32_t data) { row("cursor_setData").data = data; }
  box* cursor_getDataBox() override { return row("cursor_getDataBox").dataBox.get(); }
  void cursor_setDataBox(std::unique_ptr<box> dataBox) {
    row("cursor_setDataBox").dataBox = std::move(dataBox);
  }
  // Unsorted lists only: before the cursor row (the cursor stays on its
  // row) or after it (the cursor stays).
  void cursor_beforeInsert(Str label, int32_t style, bool marked, int32_t data, std::unique_ptr<box> dataBox);
  void cursor_afterInsert(Str label, int32_t style, bool marked, int32_t data, std::unique_ptr<box> dataBox);
  struct Removed {
    Str label;
    bool onRow;  // FALSE when the cursor had to leave the neighbour's place
  };
  // Removes the cursor row. Without goBack the cursor lands on the row that
  // followed (onRow FALSE when there was none: it goes to the new last
  // row); with goBack on the row before (FALSE when there was none: 0).
  Removed cursor_remove(bool goBack = false);
  bool destroy(bool goBack = false);

  void marked_setStyle(int32_t style);
  void marked_setStyleBit0() { marked_setStyle(1); }
  void marked_setState(bool state);
  void marked_clear();
  // Removes every marked row. A cursor on a marked row lands on the first
  // unmarked row after it (with goBack before it); 0 when none is left.
  void marked_destroy(bool goBack = false);
  // The same, answering the removed labels in row order.
  StrChain marked_remove(bool goBack = false);

  // Records the cursor row as pending (none when the list is empty).
  void setPendingFromCursor() { pending_ = rows_.empty() ? -1 : cursor_; }
  // The pending row's index (-1 none or stale); with moveCursor the cursor
  // goes to it; cleared unless keep.
  int32_t infoPendingEntry(bool moveCursor, bool keep);

  // The number of rows, asked without the build check (the shown list's).
  int32_t infoCount() const { return static_cast<int32_t>(rows_.size()); }
  // The row at index, nullptr out of range.
  const Row* infoEntryAt(int32_t index) const {
    return index >= 0 && static_cast<size_t>(index) < rows_.size() ? rows_[index].get() : nullptr;
  }
  Row* entryAt(int32_t index) { return const_cast<Row*>(std::as_const(*this).infoEntryAt(index)); }

 protected:
  // The host's hooks; the neutral list needs none of them.
  // Raises "EMU" "cGuiList.<method>(); the window must be built first".
  virtual void requireBuilt(const char* method) const { (void)method; }
  virtual void rowsInserted(int32_t first, int32_t count) { (void)first, (void)count; }
  virtual void rowsRemoved(int32_t first, int32_t count) { (void)first, (void)count; }
  virtual void rowChanged(int32_t index) { (void)index; }
  // The rows may all have moved (sort, merge, bulk removal).
  virtual void rowsReset() {}
  // The active row became another one (not a shift by inserts above it).
  virtual void activeChanged() {}
  // The program changed the selection of a multi-select list: of one row,
  // or of any (-1).
  virtual void selectChanged(int32_t row) { (void)row; }
  // The program wants the row seen.
  virtual void jumpTo(int32_t index) { (void)index; }
  // The sort mode or the user sort column changed.
  virtual void sortModeChanged() {}
  // The field the column modes order a row by; a host orders by what it
  // shows (its texts' escapes skipped).
  virtual std::string_view sortField(const Row& row, int32_t column) const {
    return guiListColumnField(row.label.view(), column);
  }
  // The user's own selection, from the shown list: no hooks called.
  void storeUserSelection(const std::vector<int32_t>& selected, int32_t active);
  // A double-clicked row becomes the pending one.
  void setPending(int32_t index) { pending_ = index; }

 private:
  using Rows = std::vector<std::unique_ptr<Row>>;

  Row& row(const char* method) const;
  // The index a new row goes to in the sorted order: after equal rows.
  // 1 when a goes before b (the sorter's convention): the column modes by
  // sortField, the function mode by the sorter.
  int32_t compareRows(fGuiListSort& sorter, const Row& a, const Row& b) const;
  int32_t sortedIndexFor(fGuiListSort& sorter, const Row& newRow) const;
  // Stable sort into the list's order; the column modes read each row's
  // field (and number) once.
  void orderRows(fGuiListSort& sorter, Rows& rows) const;
  void insertRows(int32_t index, Rows newRows);
  void eraseRow(int32_t index);
  void setActive(int32_t index);
  void shownChanged(Row& r, int32_t index);
  static void takeValues(Row& kept, Row& given);
  void sortRows();
  template <class Take>
  void removeMarked(bool goBack, Take take);
  void requireSelectable(const char* method) const;
  fGuiListSort* requireSorter(const char* method);
  static std::unique_ptr<Row> makeRow(GuiListRow&& given);

  cGuiWindow* window_;
  Str title_;
  int32_t columns_;
  Str columnTitles_;
  std::string alignment_;
  int32_t fillColumn_ = -1;
  uint64_t dateColumns_ = 0;
  RowHelp rowHelp_;
  std::string sortTypes_;
  bool selectable_ = false;
  bool multiSelect_ = false;
  bool multiSelectDefaultMode_ = false;

  Rows rows_;
  int32_t cursor_ = 0;
  int32_t pending_ = -1;
  int32_t active_ = -1;
  bool redraw_ = true;
  bool changed_ = false;
  bool sortChanged_ = false;
  GuiListSortMode sortMode_ = GuiListSortMode::unsorted;
  int32_t sortColumn_ = 0;
  bool sortReverse_ = false;
  fGuiListSort* sortFunction_ = nullptr;
  fGuiListSortByColumn columnSorter_;
};

}  // namespace bw
