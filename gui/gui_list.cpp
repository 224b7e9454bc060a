// gui/gui_list.cpp - the list gadget's configuration, row store, sort modes
// and merge refresh.
#include "gui/gui_list.h"

#include <algorithm>
#include <string>

#include "core/exception.h"
#include "core/ordering.h"
#include "core/string_procs.h"

namespace bw {

namespace {

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

void raiseGuiList(const char* code, const char* method, std::string_view problem) {
  std::string message = "cGuiList.";
  message += method;
  message += "(); ";
  message += problem;
  raise(code, message);
}

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
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0;; i++) {
    // Equal bytes are equal either way: skip them in one run.
    i = static_cast<size_t>(std::mismatch(a.begin() + i, a.begin() + common, b.begin() + i).first -
                            a.begin());
    if (i == common) return a.size() == b.size() ? 0 : (i == a.size() ? 1 : -1);
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

cGuiList* cGuiList::initDateColumn(int32_t column) {
  if (column >= 0 && column < 64) dateColumns_ |= uint64_t{1} << column;
  return this;
}

Str cGuiList::infoRowHelp(int32_t index) const {
  const Row* row = infoEntryAt(index);
  return row && rowHelp_ ? rowHelp_(*row) : Str();
}

cGuiList* cGuiList::initFillColumn(int32_t column) {
  if (column >= 0 && column < columns_) fillColumn_ = column;
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

int32_t cGuiList::infoSize() const {
  requireBuilt("infoSize");
  return static_cast<int32_t>(rows_.size());
}

int32_t cGuiList::infoSelectionCount() const {
  requireBuilt("infoSelectionCount");
  if (!selectable_) return 0;
  if (!multiSelect_) return active_ == -1 ? 0 : 1;
  return static_cast<int32_t>(
      std::count_if(rows_.begin(), rows_.end(), [](const auto& r) { return r->selected; }));
}

Str cGuiList::infoSingleSelectionEntry() const {
  requireBuilt("infoSingleSelectionEntry");
  if (!selectable_)
    raiseGuiList("EMU", "infoSingleSelectionEntry",
                 "this does not make sense, as entries are not selectable");
  if (multiSelect_)
    raiseGuiList("EMU", "infoSingleSelectionEntry", "this cannot be called when multiSelect=TRUE");
  return active_ == -1 ? Str() : rows_[active_]->label;
}

cGuiList::Row& cGuiList::row(const char* method) const {
  requireBuilt("cursor_infoEntry");
  if (rows_.empty()) raiseGuiList("EMU", method, "list is empty");
  return *rows_[static_cast<size_t>(cursor_)];
}

const cGuiList::Row* cGuiList::cursor_infoEntry() const {
  requireBuilt("cursor_infoEntry");
  return rows_.empty() ? nullptr : rows_[cursor_].get();
}

int32_t cGuiList::compareRows(fGuiListSort& sorter, const Row& a, const Row& b) const {
  if (sortMode_ != GuiListSortMode::byUser && sortMode_ != GuiListSortMode::byColumn)
    return sorter.call(a.label, b.label, a.data, b.data, a.dataBox.get(), b.dataBox.get());
  int32_t sign =
      compareGuiListFields(sortField(a, sortColumn_), sortField(b, sortColumn_), sortTypes_[sortColumn_]);
  return sortReverse_ ? -sign : sign;
}

void cGuiList::orderRows(fGuiListSort& sorter, Rows& rows) const {
  if (sortMode_ != GuiListSortMode::byUser && sortMode_ != GuiListSortMode::byColumn) {
    // Fillers often hand the rows over in order already (the news list's
    // merge does): one pass proves it and leaves them, as a stable sort would.
    auto before = [&](const auto& a, const auto& b) { return compareRows(sorter, *a, *b) > 0; };
    if (!std::is_sorted(rows.begin(), rows.end(), before)) std::stable_sort(rows.begin(), rows.end(), before);
    return;
  }
  char type = sortTypes_[sortColumn_];
  struct Keyed {
    std::unique_ptr<Row> row;
    std::string_view key;  // the field ('S'), its folded copy ('I')
    int32_t number;        // 'N'
  };
  // 'I' compares folded copies made once, so that every comparison is a
  // plain byte comparison (unsigned, the end of a field first).
  std::vector<std::string> folded(type == 'I' ? rows.size() : 0);
  std::vector<Keyed> keyed;
  keyed.reserve(rows.size());
  for (size_t i = 0; i < rows.size(); i++) {
    std::string_view field = sortField(*rows[i], sortColumn_);
    int32_t number = type == 'N' ? readRuntimeNumber(field, 0, true).value : 0;
    if (type == 'I') {
      folded[i].assign(field);
      for (char& c : folded[i]) c = upperAscii(c);
      field = folded[i];
    }
    keyed.push_back({std::move(rows[i]), field, number});
  }
  // The signs of compareGuiListFields.
  auto sign = [type](const Keyed& a, const Keyed& b) {
    if (type == 'N') return a.number == b.number ? 0 : (a.number < b.number ? 1 : -1);
    if (type != 'I' && type != 'S') return 0;
    int order = a.key.compare(b.key);
    return order == 0 ? 0 : (order < 0 ? 1 : -1);
  };
  int32_t direction = sortReverse_ ? -1 : 1;
  auto before = [&](const Keyed& a, const Keyed& b) { return sign(a, b) * direction > 0; };
  if (!std::is_sorted(keyed.begin(), keyed.end(), before)) std::stable_sort(keyed.begin(), keyed.end(), before);
  for (size_t i = 0; i < rows.size(); i++) rows[i] = std::move(keyed[i].row);
}

int32_t cGuiList::sortedIndexFor(fGuiListSort& sorter, const Row& newRow) const {
  auto at = std::upper_bound(
      rows_.begin(), rows_.end(), &newRow,
      [&](const Row* n, const std::unique_ptr<Row>& r) { return compareRows(sorter, *n, *r) > 0; });
  return static_cast<int32_t>(at - rows_.begin());
}

std::unique_ptr<cGuiList::Row> cGuiList::makeRow(GuiListRow&& given) {
  auto made = std::make_unique<Row>();
  made->label = std::move(given.label);
  made->style = given.style;
  made->marked = given.marked;
  made->data = given.data;
  made->dataBox = std::move(given.dataBox);
  return made;
}

// The cursor, the active and the pending row stay on their rows.
void cGuiList::insertRows(int32_t index, Rows newRows) {
  auto count = static_cast<int32_t>(newRows.size());
  if (count == 0) return;
  bool wasEmpty = rows_.empty();
  rows_.insert(rows_.begin() + index, std::make_move_iterator(newRows.begin()),
               std::make_move_iterator(newRows.end()));
  if (!wasEmpty && index <= cursor_) cursor_ += count;
  if (active_ >= index) active_ += count;
  if (pending_ >= index) pending_ += count;
  rowsInserted(index, count);
}

void cGuiList::eraseRow(int32_t index) {
  if (active_ == index) setActive(-1);
  rows_.erase(rows_.begin() + index);
  if (active_ > index) active_--;
  if (pending_ == index)
    pending_ = -1;
  else if (pending_ > index)
    pending_--;
  rowsRemoved(index, 1);
}

void cGuiList::setActive(int32_t index) {
  if (index == active_) return;
  if (!multiSelect_) {
    if (Row* old = entryAt(active_)) old->selected = false;
    if (Row* now = entryAt(index)) now->selected = true;
  }
  active_ = index;
  activeChanged();
}

void cGuiList::shownChanged(Row& r, int32_t index) {
  r.extra.reset();
  rowChanged(index);
}

// Rows keep their identity through a reorder: the cursor, active and pending
// rows are found again by address.
namespace {
template <class Rows>
int32_t indexOf(const Rows& rows, const void* wanted, int32_t otherwise) {
  if (!wanted) return otherwise;
  for (size_t i = 0; i < rows.size(); i++)
    if (rows[i].get() == wanted) return static_cast<int32_t>(i);
  return otherwise;
}
}  // namespace

void cGuiList::sortRows() {
  fGuiListSort* sorter = infoSorter().sorter;
  if (!sorter || rows_.empty()) return;
  Row* cursorRow = rows_[cursor_].get();
  Row* activeRow = entryAt(active_);
  Row* pendingRow = entryAt(pending_);
  orderRows(*sorter, rows_);
  cursor_ = indexOf(rows_, cursorRow, 0);
  active_ = indexOf(rows_, activeRow, -1);
  pending_ = indexOf(rows_, pendingRow, -1);
  rowsReset();
}

void cGuiList::addEntry(Str label, int32_t style, bool marked, int32_t data, std::unique_ptr<box> dataBox,
                        bool makeCursor) {
  GuiListRow given{std::move(label), style, marked, data, std::move(dataBox)};
  Rows one;
  one.push_back(makeRow(std::move(given)));
  fGuiListSort* sorter = infoSorter().sorter;
  int32_t index = sorter ? sortedIndexFor(*sorter, *one.front()) : static_cast<int32_t>(rows_.size());
  insertRows(index, std::move(one));
  if (makeCursor) cursor_ = index;
}

void cGuiList::addEntries(fGuiListEntries& source) {
  Rows added;
  for (GuiListRow next = source.call(); !next.label.isNil(); next = source.call())
    added.push_back(makeRow(std::move(next)));
  fGuiListSort* sorter = infoSorter().sorter;
  if (!sorter || added.empty()) {
    insertRows(static_cast<int32_t>(rows_.size()), std::move(added));
    return;
  }
  if (added.size() == 1) {
    int32_t index = sortedIndexFor(*sorter, *added.front());
    insertRows(index, std::move(added));
    return;
  }
  // One merge: the new rows in call order among equals, after equal rows
  // already there.
  auto before = [&](const auto& a, const auto& b) { return compareRows(*sorter, *a, *b) > 0; };
  orderRows(*sorter, added);
  Row* cursorRow = entryAt(cursor_);
  Row* activeRow = entryAt(active_);
  Row* pendingRow = entryAt(pending_);
  Rows merged;
  merged.reserve(rows_.size() + added.size());
  std::merge(std::make_move_iterator(rows_.begin()), std::make_move_iterator(rows_.end()),
             std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()),
             std::back_inserter(merged), before);
  rows_ = std::move(merged);
  cursor_ = indexOf(rows_, cursorRow, 0);
  active_ = indexOf(rows_, activeRow, -1);
  pending_ = indexOf(rows_, pendingRow, -1);
  rowsReset();
}

fGuiListSort* cGuiList::requireSorter(const char* method) {
  if (infoIsUnsorted()) raiseGuiList("EMU", method, "list needs to be sorted");
  fGuiListSort* sorter = infoSorter().sorter;
  if (!sorter) raiseGuiList("BUG", method, "unhandled list sort kind");
  return sorter;
}

namespace {

// What a row stands for beside its sort key: its data word and the kind and
// number of its box. Boxes of texts or lists count as alike.
struct RowIdentity {
  int32_t data;
  int kind;  // 0 no box, 1 pointer, 2 array, 3 value, 4 big value, 5 other
  intptr_t number;
  bool operator==(const RowIdentity&) const = default;
};

RowIdentity identityOf(const GuiListEntry& row) {
  const box* b = row.dataBox.get();
  if (!b) return {row.data, 0, 0};
  // The kinds the lists carry, by their class name first (one call).
  const char* kind = b->className();
  if (kind == boxPTR::kClassName)
    return {row.data, 1, reinterpret_cast<intptr_t>(static_cast<const boxPTR*>(b)->value)};
  if (kind == boxBIGVALUE::kClassName)
    return {row.data, 4, static_cast<intptr_t>(static_cast<const boxBIGVALUE*>(b)->value)};
  if (auto* p = dynamic_cast<const boxPTR*>(b)) return {row.data, 1, reinterpret_cast<intptr_t>(p->value)};
  if (auto* a = dynamic_cast<const boxARRAY*>(b)) return {row.data, 2, reinterpret_cast<intptr_t>(a->value)};
  if (auto* v = dynamic_cast<const boxVALUE*>(b)) return {row.data, 3, v->value};
  if (auto* v = dynamic_cast<const boxBIGVALUE*>(b)) return {row.data, 4, static_cast<intptr_t>(v->value)};
  return {row.data, 5, 0};
}

}  // namespace

// A kept row takes the new values; its label object only when the text
// differs, its shown texts go when label or style change.
void cGuiList::takeValues(Row& kept, Row& given) {
  if (kept.label.view() != given.label.view()) {
    kept.label = std::move(given.label);
    kept.extra.reset();
  }
  if (kept.style != given.style) kept.extra.reset();
  kept.style = given.style;
  kept.marked = given.marked;
  kept.data = given.data;
  kept.dataBox = std::move(given.dataBox);
}

void cGuiList::updateF(fGuiListEntries& source) {
  fGuiListSort& sorter = *requireSorter("updateF");
  bool redraw = redraw_;
  setRedraw(false);
  // The new rows in the list's order.
  Rows incoming;
  for (GuiListRow next = source.call(); !next.label.isNil(); next = source.call())
    incoming.push_back(makeRow(std::move(next)));
  orderRows(sorter, incoming);

  // Walk both in order. Where rows of the list and new rows sort alike, each
  // new row takes the place of a list row that stands for the same thing
  // (identityOf), which keeps its selection and takes the new values; list
  // rows left over go, new rows left over join; the run then stands in the
  // new rows' order. The cursor row is followed by identity; when it goes,
  // the next row of the list that stays takes its place.
  Row* cursorRow = entryAt(cursor_);
  Row* activeRow = entryAt(active_);
  Row* pendingRow = entryAt(pending_);
  const int32_t cursorAt = cursor_;
  bool cursorRowGone = false;
  std::vector<Row*> oldRows(rows_.size());
  std::vector<char> stays(rows_.size(), 0);
  for (size_t i = 0; i < rows_.size(); i++) oldRows[i] = rows_[i].get();
  auto drop = [&](size_t i) {
    Row* r = rows_[i].get();
    if (r == cursorRow) cursorRowGone = true;
    if (r == pendingRow) pendingRow = nullptr;
    if (r == activeRow) activeRow = nullptr;
    rows_[i].reset();
  };
  Rows merged;
  merged.reserve(std::max(rows_.size(), incoming.size()));
  size_t o = 0;
  size_t n = 0;
  while (o < rows_.size() || n < incoming.size()) {
    int32_t c =
        n == incoming.size() ? 1 : (o == rows_.size() ? -1 : compareRows(sorter, *rows_[o], *incoming[n]));
    if (c < 0) {
      merged.push_back(std::move(incoming[n++]));
      continue;
    }
    if (c > 0) {
      drop(o++);
      continue;
    }
    size_t oEnd = o + 1;
    while (oEnd < rows_.size() && compareRows(sorter, *rows_[oEnd], *incoming[n]) == 0) oEnd++;
    size_t nEnd = n + 1;
    while (nEnd < incoming.size() && compareRows(sorter, *incoming[nEnd], *incoming[n]) == 0) nEnd++;
    // Rows usually come back in their order: each search starts after the
    // last row taken.
    size_t from = o;
    for (; n < nEnd; n++) {
      const RowIdentity wanted = identityOf(*incoming[n]);
      size_t found = oEnd;
      for (size_t k = 0; k < oEnd - o && found == oEnd; k++) {
        size_t at = o + (from - o + k) % (oEnd - o);
        if (rows_[at] && identityOf(*rows_[at]) == wanted) found = at;
      }
      if (found == oEnd) {
        merged.push_back(std::move(incoming[n]));
        continue;
      }
      takeValues(*rows_[found], *incoming[n]);
      stays[found] = 1;
      merged.push_back(std::move(rows_[found]));
      from = found + 1 < oEnd ? found + 1 : o;
    }
    for (; o < oEnd; o++)
      if (rows_[o]) drop(o);
  }
  if (cursorRowGone) {
    cursorRow = nullptr;
    for (size_t i = static_cast<size_t>(cursorAt) + 1; i < stays.size() && !cursorRow; i++)
      if (stays[i]) cursorRow = oldRows[i];
  }
  // A cursor row gone with every row after it: the cursor goes to the top.
  rows_ = std::move(merged);
  cursor_ = indexOf(rows_, cursorRow, 0);
  pending_ = indexOf(rows_, pendingRow, -1);
  bool activeGone = active_ != -1 && !activeRow;
  active_ = indexOf(rows_, activeRow, -1);
  if (activeGone) activeChanged();
  rowsReset();
  setRedraw(redraw);
}

void cGuiList::updateOneEntry(int32_t index, GuiListRow given, const std::function<bool(const Row&)>& precedes) {
  fGuiListSort& sorter = *requireSorter("updateOneEntry");
  marked_clear();
  std::unique_ptr<Row> made = given.label.isNil() ? nullptr : makeRow(std::move(given));
  Row* old = entryAt(index);
  if (old && made && compareRows(sorter, *old, *made) == 0 && identityOf(*old) == identityOf(*made)) {
    takeValues(*old, *made);
    rowChanged(index);
    return;
  }
  bool cursorToTop = false;
  if (old) {
    // As the merge drops a row: the cursor goes to the row after it, or to
    // the top when none follows.
    const bool onCursor = index == cursor_;
    eraseRow(index);
    if (onCursor) {
      cursorToTop = index == static_cast<int32_t>(rows_.size());
      if (cursorToTop) cursor_ = 0;
    } else if (cursor_ > index) {
      cursor_--;
    }
  }
  if (!made) return;
  // After the rows that sort before it, and among those that sort alike
  // before the first that it precedes.
  auto at = std::lower_bound(rows_.begin(), rows_.end(), made.get(), [&](const std::unique_ptr<Row>& r, const Row* m) {
    return compareRows(sorter, *r, *m) > 0;
  });
  while (at != rows_.end() && compareRows(sorter, **at, *made) == 0 && !precedes(**at)) ++at;
  Rows one;
  one.push_back(std::move(made));
  const auto position = static_cast<int32_t>(at - rows_.begin());
  insertRows(position, std::move(one));
  if (cursorToTop) cursor_ = 0;
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

void cGuiList::setUnsorted() {
  sortMode_ = GuiListSortMode::unsorted;
  sortModeChanged();
}

void cGuiList::setSortByColumn(int32_t column, bool reverse) {
  if (column < 0 || column >= columns_)
    raiseGuiList("EMU", "setSortByColumn", "column was not a valid value");
  sortMode_ = GuiListSortMode::byColumn;
  sortColumn_ = column;
  sortReverse_ = reverse;
  sortModeChanged();
  sortRows();
}

cGuiList::SortColumn cGuiList::getSortByColumn() const {
  return {sortMode_ == GuiListSortMode::byColumn, sortColumn_, sortReverse_};
}

void cGuiList::setSortByUser(int32_t initialColumn, bool reverse) {
  if (initialColumn < 0 || initialColumn >= columns_)
    raiseGuiList("EMU", "setSortByUser", "initialColumn was not a valid value");
  sortMode_ = GuiListSortMode::byUser;
  sortColumn_ = initialColumn;
  sortReverse_ = reverse;
  sortModeChanged();
  sortRows();
}

cGuiList::SortColumn cGuiList::infoSortByUser() const {
  return {sortMode_ == GuiListSortMode::byUser, sortColumn_, sortReverse_};
}

void cGuiList::titleClick(int32_t column) {
  if (sortMode_ != GuiListSortMode::byUser || column < 0 || column >= columns_) return;
  sortReverse_ = column == sortColumn_ ? !sortReverse_ : false;
  sortColumn_ = column;
  sortModeChanged();
  sortRows();
  sortChanged_ = true;
}

bool cGuiList::infoSortChangedFlag(bool keep) {
  bool flag = sortChanged_;
  if (!keep) sortChanged_ = false;
  return flag;
}

void cGuiList::setSortByFunction(fGuiListSort* sortFunc) {
  if (!sortFunc) raiseGuiList("EMU", "setSortByFunction", "sortFunc=NIL");
  sortMode_ = GuiListSortMode::byFunction;
  sortFunction_ = sortFunc;
  sortModeChanged();
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
  cursor_ = static_cast<int32_t>(rows_.size()) - 1;
  raiseGuiList("BUG", "findCursorEntry", "failed");
}

bool cGuiList::cursor_gotoStart() {
  requireBuilt("cursor_gotoStart");
  cursor_ = 0;
  return !rows_.empty();
}

bool cGuiList::cursor_gotoEnd() {
  requireBuilt("cursor_gotoEnd");
  cursor_ = rows_.empty() ? 0 : static_cast<int32_t>(rows_.size()) - 1;
  return !rows_.empty();
}

namespace {
int32_t moveClamped(int32_t& cursor, int64_t by, size_t size) {
  if (size == 0) return 0;
  int64_t target = std::clamp<int64_t>(int64_t{cursor} + by, 0, static_cast<int64_t>(size) - 1);
  auto moved = static_cast<int32_t>(target - cursor);
  cursor = static_cast<int32_t>(target);
  return moved;
}
}  // namespace

int32_t cGuiList::cursor_gotoNext(int32_t n) {
  requireBuilt("cursor_gotoNext");
  return moveClamped(cursor_, n, rows_.size());
}

int32_t cGuiList::cursor_gotoPrev(int32_t n) {
  requireBuilt("cursor_gotoPrev");
  return -moveClamped(cursor_, -int64_t{n}, rows_.size());
}

bool cGuiList::cursor_gotoFirstSelected() {
  requireBuilt("cursor_gotoFirstSelected");
  for (size_t i = 0; i < rows_.size(); i++) {
    if (rows_[i]->selected) {
      cursor_ = static_cast<int32_t>(i);
      return true;
    }
  }
  return false;
}

bool cGuiList::cursor_gotoNextSelected() {
  requireBuilt("cursor_gotoNextSelected");
  for (size_t i = static_cast<size_t>(cursor_) + 1; i < rows_.size(); i++) {
    if (rows_[i]->selected) {
      cursor_ = static_cast<int32_t>(i);
      return true;
    }
  }
  return false;
}

bool cGuiList::cursor_findLabel(Text text, bool noCase, int32_t length, bool fromNext) {
  if (fromNext ? cursor_gotoNext(1) == 0 : !cursor_gotoStart()) return false;
  if (text.isNil()) return false;
  auto part = [length](std::string_view s) {
    if (length > 0) return s.substr(0, static_cast<size_t>(length));
    if (length < 0) return s.substr(s.size() - std::min(s.size(), static_cast<size_t>(-int64_t{length})));
    return s;
  };
  std::string_view wanted = part(text.view());
  for (size_t i = static_cast<size_t>(cursor_); i < rows_.size(); i++) {
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

void cGuiList::cursor_setLabel(Str label, int32_t move) {
  Row& r = row("cursor_setLabel");
  bool resort = false;
  if (fGuiListSort* sorter = infoSorter().sorter) {
    // The row under its new label, with its own data and box: a function
    // order may read the box.
    Row probe;
    probe.label = label;
    probe.data = r.data;
    probe.dataBox.reset(r.dataBox.get());
    resort = compareRows(*sorter, probe, r) != 0;
    static_cast<void>(probe.dataBox.release());
  }
  r.label = std::move(label);
  shownChanged(r, cursor_);
  if (move == 1)
    cursor_gotoNext(1);
  else if (move != 0)
    cursor_gotoNext(-1);
  if (resort) sortRows();
}

void cGuiList::cursor_setStyle(int32_t style) {
  Row& r = row("cursor_setStyle");
  r.style = style;
  shownChanged(r, cursor_);
}

void cGuiList::requireSelectable(const char* method) const {
  if (!selectable_) raiseGuiList("EMU", method, "entries are not selectable");
}

bool cGuiList::cursor_getState() const {
  requireBuilt("cursor_getState");
  return row("cursor_getState").selected;
}

void cGuiList::cursor_setState(bool state) {
  requireBuilt("cursor_setState");
  requireSelectable("cursor_setState");
  Row& r = row("cursor_setState");
  if (!multiSelect_) {
    setActive(state ? cursor_ : -1);
    return;
  }
  if (state)
    jumpTo(cursor_);
  else if (cursor_ == active_)
    setActive(-1);
  r.selected = state;
  selectChanged(cursor_);
}

void cGuiList::storeUserSelection(const std::vector<int32_t>& selected, int32_t active) {
  for (auto& r : rows_) r->selected = false;
  for (int32_t index : selected)
    if (Row* r = entryAt(index)) r->selected = true;
  active_ = entryAt(active) ? active : -1;
  if (!multiSelect_)
    if (Row* r = entryAt(active_)) r->selected = true;
}

void cGuiList::cursor_beforeInsert(Str label, int32_t style, bool marked, int32_t data,
                                   std::unique_ptr<box> dataBox) {
  requireBuilt("cursor_beforeInsert");
  if (!infoIsUnsorted()) raiseGuiList("EMU", "cursor_beforeInsert", "the list must not be sorted");
  Rows one;
  one.push_back(makeRow({std::move(label), style, marked, data, std::move(dataBox)}));
  insertRows(cursor_, std::move(one));
}

void cGuiList::cursor_afterInsert(Str label, int32_t style, bool marked, int32_t data,
                                  std::unique_ptr<box> dataBox) {
  requireBuilt("cursor_afterInsert");
  if (!infoIsUnsorted()) raiseGuiList("EMU", "cursor_afterInsert", "the list must not be sorted");
  Rows one;
  one.push_back(makeRow({std::move(label), style, marked, data, std::move(dataBox)}));
  insertRows(rows_.empty() ? 0 : cursor_ + 1, std::move(one));
}

bool cGuiList::destroy(bool goBack) {
  requireBuilt("destroy");
  if (rows_.empty()) return false;
  eraseRow(cursor_);
  if (goBack) {
    if (--cursor_ >= 0) return true;
    cursor_ = 0;
    return false;
  }
  if (cursor_ < static_cast<int32_t>(rows_.size())) return true;
  cursor_ = std::max(static_cast<int32_t>(rows_.size()) - 1, 0);
  return false;
}

cGuiList::Removed cGuiList::cursor_remove(bool goBack) {
  requireBuilt("cursor_remove");
  Str label = std::move(row("cursor_remove").label);
  bool onRow = destroy(goBack);
  return {std::move(label), onRow};
}

void cGuiList::marked_setStyle(int32_t style) {
  requireBuilt("marked_setStyle");
  bool redraw = redraw_;
  setRedraw(false);
  for (size_t i = 0; i < rows_.size(); i++) {
    if (!rows_[i]->marked) continue;
    rows_[i]->style = style;
    shownChanged(*rows_[i], static_cast<int32_t>(i));
  }
  setRedraw(redraw);
}

void cGuiList::marked_setState(bool state) {
  requireBuilt("marked_setState");
  requireSelectable("marked_setState");
  if (!multiSelect_) raiseGuiList("EMU", "marked_setState", "entries are not multi-selectable");
  setActive(-1);
  for (auto& r : rows_)
    if (r->marked) r->selected = state;
  selectChanged(-1);
}

void cGuiList::marked_clear() {
  for (auto& r : rows_) r->marked = false;
}

// One pass over the rows: the cursor row, when marked, gives its place to
// the first unmarked row after it (goBack: before it); the active row
// marked means no active row.
template <class Take>
void cGuiList::removeMarked(bool goBack, Take take) {
  bool redraw = redraw_;
  setRedraw(false);
  Row* cursorRow = entryAt(cursor_);
  if (cursorRow && cursorRow->marked) {
    auto unmarked = [](const auto& r) { return !r->marked; };
    auto after = std::find_if(rows_.begin() + cursor_, rows_.end(), unmarked);
    auto before =
        std::find_if(rows_.rbegin() + (static_cast<int32_t>(rows_.size()) - cursor_), rows_.rend(), unmarked);
    Row* firstLeft = nullptr;
    Row* lastLeft = nullptr;
    for (auto& r : rows_) {
      if (r->marked) continue;
      if (!firstLeft) firstLeft = r.get();
      lastLeft = r.get();
    }
    if (goBack)
      cursorRow = before != rows_.rend() ? before->get() : firstLeft;
    else
      cursorRow = after != rows_.end() ? after->get() : lastLeft;
  }
  Row* activeRow = entryAt(active_);
  Row* pendingRow = entryAt(pending_);
  if (activeRow && activeRow->marked) {
    setActive(-1);
    activeRow = nullptr;
  }
  if (pendingRow && pendingRow->marked) pendingRow = nullptr;
  Rows kept;
  kept.reserve(rows_.size());
  for (auto& r : rows_) {
    if (r->marked)
      take(*r);
    else
      kept.push_back(std::move(r));
  }
  rows_ = std::move(kept);
  cursor_ = indexOf(rows_, cursorRow, 0);
  active_ = indexOf(rows_, activeRow, -1);
  pending_ = indexOf(rows_, pendingRow, -1);
  rowsReset();
  setRedraw(redraw);
}

void cGuiList::marked_destroy(bool goBack) {
  requireBuilt("marked_destroy");
  removeMarked(goBack, [](Row&) {});
}

StrChain cGuiList::marked_remove(bool goBack) {
  requireBuilt("marked_remove");
  StrChain labels;
  removeMarked(goBack, [&labels](Row& r) { labels.push_back(std::move(r.label)); });
  return labels;
}

int32_t cGuiList::infoPendingEntry(bool moveCursor, bool keep) {
  int32_t pending = pending_ < static_cast<int32_t>(rows_.size()) ? pending_ : -1;
  if (moveCursor && pending >= 0) cursor_ = pending;
  if (!keep) pending_ = -1;
  return pending;
}

}  // namespace bw
