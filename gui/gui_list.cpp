// gui/gui_list.cpp - the list gadget's configuration, row store, sort modes
// and merge refresh.
#include "gui/gui_list.h"

#include <algorithm>

#include "core/exception.h"
#include "core/ordering.h"
#include "core/string_procs.h"

namespace bw {

namespace {

[[noreturn]] void raiseList(const char* code, const char* method, std::string_view problem) {
  std::string message = "cGuiList.";
  message += method;
  message += "(); ";
  message += problem;
  raise(code, message);
}

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Stores the accepted letters of text over letters, column by column.
void initLetters(std::string& letters, Text text, std::string_view accepted) {
  if (text.isNil()) return;
  std::string_view given = text.view();
  size_t count = std::min(given.size(), letters.size());
  for (size_t i = 0; i < count; i++) {
    char letter = upperAscii(given[i]);
    if (accepted.find(letter) != std::string_view::npos) letters[i] = letter;
  }
}

}  // namespace

std::string_view guiListColumnField(std::string_view label, int32_t column) {
  size_t start = 0;
  for (int32_t n = 0; n < column; n++) {
    size_t tab = label.find('\t', start);
    if (tab == std::string_view::npos) return {};
    start = tab + 1;
  }
  size_t end = label.find('\t', start);
  return label.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

int32_t compareGuiListFields(std::string_view a, std::string_view b, char sortType) {
  if (sortType == 'N') {
    int32_t na = readRuntimeNumber(a, 0, true).value;
    int32_t nb = readRuntimeNumber(b, 0, true).value;
    return na == nb ? 0 : (na < nb ? 1 : -1);
  }
  if (sortType != 'S' && sortType != 'I') return 0;
  bool fold = sortType == 'I';
  for (size_t i = 0;; i++) {
    if (i == a.size() || i == b.size()) return a.size() == b.size() ? 0 : (i == a.size() ? 1 : -1);
    auto ca = static_cast<unsigned char>(fold ? upperAscii(a[i]) : a[i]);
    auto cb = static_cast<unsigned char>(fold ? upperAscii(b[i]) : b[i]);
    if (ca != cb) return ca < cb ? 1 : -1;
  }
}

fGuiListSortByColumn* fGuiListSortByColumn::set(int32_t column, bool reverse, std::string_view sortTypes) {
  column_ = column;
  reverse_ = reverse;
  sortTypes_ = sortTypes;
  return this;
}

int32_t fGuiListSortByColumn::call(const Str& label1, const Str& label2, int32_t /*data1*/, int32_t /*data2*/,
                                   const box* /*dataBox1*/, const box* /*dataBox2*/) {
  char type = (column_ >= 0 && static_cast<size_t>(column_) < sortTypes_.size()) ? sortTypes_[column_] : 'I';
  int32_t sign = compareGuiListFields(guiListColumnField(label1.view(), column_),
                                      guiListColumnField(label2.view(), column_), type);
  return reverse_ ? -sign : sign;
}

GuiListRow fEntriesFromStringList::call() {
  GuiListRow row;
  if (next_ < strings_.size()) row.label = std::move(strings_[next_++]);
  return row;
}

cGuiList::cGuiList(cGuiWindow* window, int32_t columns, Text title)
    : cGuiInputItem(title),
      window_(window),
      title_(title.isNil() ? Str() : Str(title.view())),
      columns_(std::max(columns, 1)),
      alignment_(static_cast<size_t>(columns_), 'L'),
      sortTypes_(static_cast<size_t>(columns_), 'I') {}

cGuiList::~cGuiList() = default;

cGuiList* cGuiList::initMultiSelect(bool multiSelect, bool defaultMode) {
  selectable_ = true;
  multiSelect_ = multiSelect;
  multiSelectDefaultMode_ = defaultMode;
  return this;
}

cGuiList* cGuiList::initColumnTitles(Text titles) {
  columnTitles_ = titles.isNil() ? Str() : Str(titles.view());
  return this;
}

cGuiList* cGuiList::initColumnAlignment(Text letters) {
  initLetters(alignment_, letters, "LCR");
  return this;
}

cGuiList* cGuiList::initColumnSortTypes(Text letters) {
  initLetters(sortTypes_, letters, "ISN");
  return this;
}

int32_t cGuiList::infoSelectionCount() const {
  return static_cast<int32_t>(std::count_if(rows_.begin(), rows_.end(), [](const auto& r) { return r->selected; }));
}

cGuiList::Row& cGuiList::row(const char* method) const {
  if (rows_.empty()) raiseList("EMU", method, "list is empty");
  return *rows_[static_cast<size_t>(cursor_)];
}

int32_t cGuiList::compareRows(fGuiListSort& sorter, const Row& a, const Row& b) const {
  return sorter.call(a.label, b.label, a.data, b.data, a.dataBox.get(), b.dataBox.get());
}

int32_t cGuiList::sortedIndexFor(fGuiListSort& sorter, const Row& newRow) const {
  auto at = std::upper_bound(rows_.begin(), rows_.end(), &newRow, [&](const Row* n, const std::unique_ptr<Row>& r) {
    return compareRows(sorter, *n, *r) > 0;
  });
  return static_cast<int32_t>(at - rows_.begin());
}

void cGuiList::insertRow(int32_t index, std::unique_ptr<Row> newRow) {
  rows_.insert(rows_.begin() + index, std::move(newRow));
  if (rows_.size() > 1 && index <= cursor_) cursor_++;
  if (pending_ >= index) pending_++;
}

void cGuiList::sortRows() {
  fGuiListSort* sorter = infoSorter().sorter;
  if (!sorter) return;
  Row* cursorRow = rows_.empty() ? nullptr : rows_[cursor_].get();
  std::stable_sort(rows_.begin(), rows_.end(),
                   [&](const auto& a, const auto& b) { return compareRows(*sorter, *a, *b) > 0; });
  for (size_t i = 0; i < rows_.size(); i++)
    if (rows_[i].get() == cursorRow) cursor_ = static_cast<int32_t>(i);
  pending_ = -1;
}

void cGuiList::addEntry(Str label, int32_t style, bool marked, int32_t data, std::unique_ptr<box> dataBox,
                        bool makeCursor) {
  auto newRow = std::make_unique<Row>();
  newRow->label = std::move(label);
  newRow->style = style;
  newRow->marked = marked;
  newRow->data = data;
  newRow->dataBox = std::move(dataBox);
  fGuiListSort* sorter = infoSorter().sorter;
  int32_t index = sorter ? sortedIndexFor(*sorter, *newRow) : infoSize();
  insertRow(index, std::move(newRow));
  if (makeCursor) cursor_ = index;
}

void cGuiList::addEntries(fGuiListEntries& source) {
  for (GuiListRow next = source.call(); !next.label.isNil(); next = source.call())
    addEntry(std::move(next.label), next.style, next.marked, next.data, std::move(next.dataBox));
}

fGuiListSort* cGuiList::requireSorter(const char* method) {
  if (infoIsUnsorted()) raiseList("EMU", method, "list needs to be sorted");
  fGuiListSort* sorter = infoSorter().sorter;
  if (!sorter) raiseList("BUG", method, "unhandled list sort kind");
  return sorter;
}

void cGuiList::updateF(fGuiListEntries& source) {
  fGuiListSort& sorter = *requireSorter("updateF");
  setRedraw(false);
  // The new rows in the list's order.
  std::vector<std::unique_ptr<Row>> incoming;
  for (GuiListRow next = source.call(); !next.label.isNil(); next = source.call()) {
    auto newRow = std::make_unique<Row>();
    newRow->label = std::move(next.label);
    newRow->style = next.style;
    newRow->marked = next.marked;
    newRow->data = next.data;
    newRow->dataBox = std::move(next.dataBox);
    incoming.push_back(std::move(newRow));
  }
  std::stable_sort(incoming.begin(), incoming.end(),
                   [&](const auto& a, const auto& b) { return compareRows(sorter, *a, *b) > 0; });

  // Walk both in order: a row in both takes the new values (its label object
  // only when the text differs), a row only in the list goes, a row only in
  // the new set joins. The cursor row is followed by identity; when it goes,
  // the row that followed it takes its place.
  Row* cursorRow = rows_.empty() ? nullptr : rows_[cursor_].get();
  bool cursorRowGone = false;
  Rows merged;
  merged.reserve(std::max(rows_.size(), incoming.size()));
  size_t o = 0;
  size_t n = 0;
  while (o < rows_.size() || n < incoming.size()) {
    int32_t c = n == incoming.size() ? 1 : (o == rows_.size() ? -1 : compareRows(sorter, *rows_[o], *incoming[n]));
    if (c < 0) {
      merged.push_back(std::move(incoming[n++]));
      continue;
    }
    if (c > 0) {
      if (rows_[o].get() == cursorRow) cursorRowGone = true;
      rows_[o++].reset();
      continue;
    }
    Row& kept = *rows_[o];
    Row& given = *incoming[n++];
    if (kept.label.view() != given.label.view()) kept.label = std::move(given.label);
    kept.style = given.style;
    kept.marked = given.marked;
    kept.data = given.data;
    kept.dataBox = std::move(given.dataBox);
    if (cursorRowGone) {
      cursorRow = &kept;
      cursorRowGone = false;
    }
    merged.push_back(std::move(rows_[o++]));
  }
  // A cursor row gone with every row after it: the cursor goes to the top.
  rows_ = std::move(merged);
  pending_ = -1;
  cursor_ = 0;
  if (cursorRow && !cursorRowGone) {
    for (size_t i = 0; i < rows_.size(); i++)
      if (rows_[i].get() == cursorRow) cursor_ = static_cast<int32_t>(i);
  }
  setRedraw(true);
}

void cGuiList::update(StrChain rows) {
  requireSorter("update");
  fEntriesFromStringList source;
  source.set(std::move(rows));
  updateF(source);
}

void cGuiList::markAll() {
  for (auto& r : rows_) r->marked = true;
}

void cGuiList::setSortByColumn(int32_t column, bool reverse) {
  if (column < 0 || column >= columns_) raiseList("EMU", "setSortByColumn", "column was not a valid value");
  sortMode_ = GuiListSortMode::byColumn;
  sortColumn_ = column;
  sortReverse_ = reverse;
  sortRows();
}

cGuiList::SortColumn cGuiList::getSortByColumn() const {
  return {sortMode_ == GuiListSortMode::byColumn, sortColumn_, sortReverse_};
}

void cGuiList::setSortByUser(int32_t initialColumn, bool reverse) {
  if (initialColumn < 0 || initialColumn >= columns_)
    raiseList("EMU", "setSortByUser", "initialColumn was not a valid value");
  sortMode_ = GuiListSortMode::byUser;
  sortColumn_ = initialColumn;
  sortReverse_ = reverse;
  sortRows();
}

cGuiList::SortColumn cGuiList::infoSortByUser() const {
  return {sortMode_ == GuiListSortMode::byUser, sortColumn_, sortReverse_};
}

void cGuiList::titleClick(int32_t column) {
  sortChanged_ = true;
  if (sortMode_ != GuiListSortMode::byUser || column < 0 || column >= columns_) return;
  sortReverse_ = column == sortColumn_ ? !sortReverse_ : false;
  sortColumn_ = column;
  sortRows();
}

bool cGuiList::infoSortChangedFlag(bool keep) {
  bool flag = sortChanged_;
  if (!keep) sortChanged_ = false;
  return flag;
}

void cGuiList::setSortByFunction(fGuiListSort* sortFunc) {
  if (!sortFunc) raiseList("EMU", "setSortByFunction", "sortFunc=NIL");
  sortMode_ = GuiListSortMode::byFunction;
  sortFunction_ = sortFunc;
  sortRows();
}

cGuiList::Sorter cGuiList::infoSorter() {
  switch (sortMode_) {
    case GuiListSortMode::byFunction:
      return {true, sortFunction_};
    case GuiListSortMode::byUser:
    case GuiListSortMode::byColumn:
      columnSorter_.set(sortColumn_, sortReverse_, sortTypes_);
      return {false, &columnSorter_};
    case GuiListSortMode::unsorted:
      break;
  }
  return {false, nullptr};
}

bool cGuiList::infoChangedFlag(bool keep) {
  bool flag = changed_;
  if (!keep) changed_ = false;
  return flag;
}

void cGuiList::findCursorEntry(const Str* label) {
  if (!cursor_gotoStart() || !label) return;
  for (size_t i = 0; i < rows_.size(); i++) {
    if (&rows_[i]->label == label) {
      cursor_ = static_cast<int32_t>(i);
      return;
    }
  }
  cursor_ = infoSize() - 1;
  raiseList("BUG", "findCursorEntry", "failed");
}

bool cGuiList::cursor_gotoStart() {
  cursor_ = 0;
  return !rows_.empty();
}

bool cGuiList::cursor_gotoEnd() {
  cursor_ = rows_.empty() ? 0 : infoSize() - 1;
  return !rows_.empty();
}

int32_t cGuiList::cursor_gotoNext(int32_t n) {
  if (rows_.empty()) return 0;
  int64_t target = std::clamp<int64_t>(int64_t{cursor_} + n, 0, infoSize() - 1);
  int32_t moved = static_cast<int32_t>(target - cursor_);
  cursor_ = static_cast<int32_t>(target);
  return moved;
}

bool cGuiList::cursor_gotoFirstSelected() {
  for (size_t i = 0; i < rows_.size(); i++) {
    if (rows_[i]->selected) {
      cursor_ = static_cast<int32_t>(i);
      return true;
    }
  }
  return false;
}

bool cGuiList::cursor_gotoNextSelected() {
  for (size_t i = static_cast<size_t>(cursor_) + 1; i < rows_.size(); i++) {
    if (rows_[i]->selected) {
      cursor_ = static_cast<int32_t>(i);
      return true;
    }
  }
  return false;
}

bool cGuiList::cursor_findLabel(Text text, bool noCase, int32_t length, bool fromNext) {
  if (rows_.empty() || text.isNil()) return false;
  size_t start = 0;
  if (fromNext) {
    if (cursor_gotoNext(1) == 0) return false;
    start = static_cast<size_t>(cursor_);
  }
  auto part = [length](std::string_view s) {
    if (length > 0) return s.substr(0, static_cast<size_t>(length));
    if (length < 0) return s.substr(s.size() - std::min(s.size(), static_cast<size_t>(-int64_t{length})));
    return s;
  };
  std::string_view wanted = part(text.view());
  for (size_t i = start; i < rows_.size(); i++) {
    std::string_view got = part(rows_[i]->label.view());
    bool equal = got.size() == wanted.size() &&
                 std::equal(got.begin(), got.end(), wanted.begin(), [noCase](char a, char b) {
                   return noCase ? upperAscii(a) == upperAscii(b) : a == b;
                 });
    if (equal) {
      cursor_ = static_cast<int32_t>(i);
      return true;
    }
  }
  return false;
}

void cGuiList::cursor_setLabel(Str label) { row("cursor_setLabel").label = std::move(label); }

void cGuiList::requireSelectable(const char* method) const {
  if (!selectable_) raiseList("EMU", method, "entries are not selectable");
}

void cGuiList::cursor_setState(bool state) {
  requireSelectable("cursor_setState");
  Row& r = row("cursor_setState");
  if (state && !multiSelect_)
    for (auto& other : rows_) other->selected = false;
  r.selected = state;
}

void cGuiList::cursor_beforeInsert(Str label, int32_t style, bool marked, int32_t data,
                                   std::unique_ptr<box> dataBox) {
  if (!infoIsUnsorted()) raiseList("EMU", "cursor_beforeInsert", "the list must not be sorted");
  auto newRow = std::make_unique<Row>(Row{std::move(label), style, marked, false, data, std::move(dataBox)});
  int32_t index = cursor_;
  insertRow(index, std::move(newRow));
  cursor_ = index;
}

void cGuiList::cursor_afterInsert(Str label, int32_t style, bool marked, int32_t data,
                                  std::unique_ptr<box> dataBox) {
  if (!infoIsUnsorted()) raiseList("EMU", "cursor_afterInsert", "the list must not be sorted");
  auto newRow = std::make_unique<Row>(Row{std::move(label), style, marked, false, data, std::move(dataBox)});
  int32_t index = rows_.empty() ? 0 : cursor_ + 1;
  insertRow(index, std::move(newRow));
  cursor_ = index;
}

cGuiList::Removed cGuiList::cursor_remove() {
  Row& r = row("cursor_remove");
  Str label = std::move(r.label);
  rows_.erase(rows_.begin() + cursor_);
  if (pending_ == cursor_) pending_ = -1;
  else if (pending_ > cursor_) pending_--;
  if (cursor_ >= infoSize()) cursor_ = std::max(infoSize() - 1, 0);
  return {std::move(label), !rows_.empty()};
}

void cGuiList::marked_setStyle(int32_t style) {
  for (auto& r : rows_)
    if (r->marked) r->style = style;
}

void cGuiList::marked_setState(bool state) {
  requireSelectable("marked_setState");
  if (!multiSelect_) raiseList("EMU", "marked_setState", "entries are not multi-selectable");
  for (auto& r : rows_)
    if (r->marked) r->selected = state;
}

void cGuiList::marked_clear() {
  for (auto& r : rows_) r->marked = false;
}

void cGuiList::marked_destroy() {
  std::erase_if(rows_, [](const auto& r) { return r->marked; });
  cursor_ = 0;
  pending_ = -1;
}

int32_t cGuiList::infoPendingEntry(bool moveCursor, bool keep) {
  int32_t pending = pending_ < infoSize() ? pending_ : -1;
  if (moveCursor && pending >= 0) cursor_ = pending;
  if (!keep) pending_ = -1;
  return pending;
}

fGuiListEntries* defaultGuiListEntries() {
  static fGuiListEntries entries;
  return &entries;
}

fGuiListSort* defaultGuiListSort() {
  static fGuiListSort sorter;
  return &sorter;
}

}  // namespace bw
