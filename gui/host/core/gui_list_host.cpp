// gui/host/core/gui_list_host.cpp - the list host: column texts and pens,
// the column compare, notifications, quiet batching, title mark and saved
// state.
#include "gui/host/core/gui_list_host.h"

#include <cstdio>

#include "core/exception.h"
#include "gui/host/core/gui_app_core.h"

namespace bw {

namespace {

constexpr char kEsc = '\x1b';
constexpr std::string_view kPenPrefix = "\x1bP[00000]";

}  // namespace

std::vector<std::string> makeColumnTexts(std::string_view text, int32_t n, std::string_view p1,
                                         std::string_view p2, std::string_view p3) {
  std::vector<std::string> columns;
  columns.reserve(static_cast<size_t>(std::max(n, 0)));
  size_t at = 0;
  bool more = true;
  for (int32_t i = 0; i < n; i++) {
    std::string column;
    if (more) {
      size_t tab = text.find('\t', at);
      std::string_view segment =
          text.substr(at, tab == std::string_view::npos ? std::string_view::npos : tab - at);
      column.reserve(p1.size() + p2.size() + p3.size() + segment.size());
      column.append(p1).append(p2).append(p3).append(segment);
      more = tab != std::string_view::npos;
      at = more ? tab + 1 : text.size();
    }
    columns.push_back(std::move(column));
  }
  return columns;
}

void guiListSetLabelAndStyle(GuiListRowTexts& texts, std::string_view label, int32_t style, int32_t columns) {
  texts.penIndex = (style & 2) ? 1 : (style & 1) ? 0 : -1;
  texts.shownPen = -1;
  texts.columns = makeColumnTexts(label, columns, texts.penIndex == -1 ? std::string_view() : kPenPrefix,
                                  (style & 4) ? "\x1b"
                                                "b"
                                              : "",
                                  (style & 8) ? "\x1bi" : "");
}

void updateColumnsWithPen(GuiListRowTexts& texts, int32_t pen) {
  if (texts.penIndex == -1) pen = -1;
  if (pen == texts.shownPen) return;
  if (pen == -1) raise("BUG", "entryNode.updateColumnsWithPen(); pen=-1");
  char digits[16];
  std::snprintf(digits, sizeof digits, "%05d", pen);
  for (std::string& column : texts.columns) {
    if (column.empty()) continue;
    if (column.size() < 8) raise("BUG", "entryNode.updateColumnsWithPen(); text is too short");
    column.replace(3, 5, digits, 5);
  }
  texts.shownPen = pen;
}

std::string_view guiSkipListEscapes(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && text[at] == kEsc) {
    if (at + 1 < text.size() && text[at + 1] == 'P') {
      size_t close = text.find(']', at + 2);
      at = close == std::string_view::npos ? text.size() : close + 1;
    } else {
      at = std::min(at + 2, text.size());
    }
  }
  return text.substr(at);
}

int32_t guiListCompareTexts(std::string_view a, std::string_view b, char sortType, bool reverse) {
  // The field order answers 1 when a goes first; the compare's convention
  // is the other way round.
  int32_t sign = -compareGuiListFields(guiSkipListEscapes(a), guiSkipListEscapes(b), sortType);
  return reverse ? -sign : sign;
}

void guiAddListNotify(cGuiListHost& list, bool& flag) {
  flag = true;
  if (cGuiWindowHostCore* window = guiRecord(list).window) guiNotify(&list, window);
}

void guiListApplyUserSort(cGuiList* list) {
  auto* host = dynamic_cast<cGuiListHost*>(list);
  if (!host || !host->infoBuilt() || !host->infoSortByUser().set) return;
  uint32_t mark = host->infoTitleMark();
  if (mark == kGuiNoTitleMark) return;
  auto column = static_cast<int32_t>(mark & 255);
  if (column < host->infoColumns()) host->setSortByUser(column, (mark & kGuiTitleMarkReverse) != 0);
}

cGuiListHost::cGuiListHost(cGuiWindow* window, int32_t columns, Text title)
    : cGuiList(window, columns, title) {
  setShared(std::make_unique<cGuiShared>(this));
}

cGuiListHost::~cGuiListHost() = default;

GuiListView* cGuiListHost::listView() const { return dynamic_cast<GuiListView*>(guiView(*this)); }

GuiListView* cGuiListHost::liveView() {
  if (quiet_) {
    quietChanges_ = true;
    return nullptr;
  }
  return listView();
}

intptr_t cGuiListHost::shared(int32_t methodId, const GuiSharedParams* params) {
  (void)params;
  switch (methodId) {
    case 0: {
      guiRecord(*this).fragment.push_back(guiLayoutLeaf(GuiLayoutKind::Object, this));
      const Str& titles = infoColumnTitles();
      // One column shows its title as given; more columns a bold title row.
      titleTexts_ = makeColumnTexts(titles.isNil() ? std::string_view() : titles.view(), infoColumns(),
                                    infoColumns() > 1 ? "\x1b"
                                                        "b"
                                                      : "",
                                    "", "");
      sortModeChanged();
      return 0;
    }
    case 1:
      if (GuiListView* view = listView()) {
        setupPens(view->screenColours());
        view->showTitleMark(titleMark_);
      }
      return 0;
    default:
      return guiSharedAnswer(methodId, "cGuiList", infoNoWeight(), infoNoWeight(), true);
  }
}

GuiNativeObject cGuiListHost::infoNativeObject(Text kind) const {
  GuiGadgetView* view = guiView(*this);
  if (view && kind.view() == "OBJT") return {view->nativeObject(), false};
  return {nullptr, true};
}

void cGuiListHost::requireBuilt(const char* method) const {
  if (!infoBuilt()) raiseGuiList("EMU", method, "the window must be built first");
}

void cGuiListHost::notifyChanged() {
  cGuiList::notifyChanged();
  if (selectionChanged_) {
    setChangedFlag(true);
    selectionChanged_ = false;
  }
  if (doubleClicked_) {
    if (doubleClickRow_ >= 0) setPending(doubleClickRow_);
    doubleClicked_ = false;
  }
  if (titleClicked_) titleClick(titleClickColumn_);
  titleClicked_ = false;
}

void cGuiListHost::setRedraw(bool flag) {
  cGuiList::setRedraw(flag);
  quiet_ = !flag;
  if (quiet_ || !quietChanges_) return;
  quietChanges_ = false;
  if (GuiListView* view = listView()) {
    view->listReset();
    view->showSelection();
  }
}

cGuiList* cGuiListHost::setHelp(Text help) {
  cGuiList::setHelp(help);
  if (GuiGadgetView* view = guiView(*this)) view->showHelp(infoHelp());
  return this;
}

cGuiList* cGuiListHost::setDisabled(bool flag) {
  cGuiList::setDisabled(flag);
  if (GuiGadgetView* view = guiView(*this)) view->showDisabled(flag);
  return this;
}

void cGuiListHost::userSelected(const std::vector<int32_t>& rows, int32_t active) {
  storeUserSelection(rows, active);
  guiAddListNotify(*this, selectionChanged_);
}

void cGuiListHost::userDoubleClicked(int32_t row) {
  doubleClickRow_ = row;
  guiAddListNotify(*this, doubleClicked_);
}

void cGuiListHost::userTitleClicked(int32_t column) {
  titleClickColumn_ = column;
  guiAddListNotify(*this, titleClicked_);
}

const GuiListRowTexts& cGuiListHost::rowTexts(int32_t index) { return textsOf(index); }

GuiListRowTexts& cGuiListHost::textsOf(int32_t index) {
  Row* row = entryAt(index);
  if (!row) raiseGuiList("BUG", "rowTexts", "no such row");
  auto* texts = dynamic_cast<GuiListRowTexts*>(row->extra.get());
  if (!texts) {
    auto made = std::make_unique<GuiListRowTexts>();
    guiListSetLabelAndStyle(*made, row->label.isNil() ? std::string_view() : row->label.view(), row->style,
                            infoColumns());
    texts = made.get();
    row->extra = std::move(made);
  }
  updateColumnsWithPen(*texts, texts->penIndex == -1 ? -1 : pens_.pen(texts->penIndex));
  return *texts;
}

const std::vector<GuiStyledText>& cGuiListHost::rowCells(int32_t index) {
  GuiListRowTexts& texts = textsOf(index);
  if (texts.parsedPen != texts.shownPen || texts.parsed.size() != texts.columns.size()) {
    texts.parsed.clear();
    for (const std::string& column : texts.columns) texts.parsed.push_back(parseGuiText(column));
    texts.parsedPen = texts.shownPen;
  }
  return texts.parsed;
}

void cGuiListHost::setupPens(const GuiColourMap& screen) { pens_.setup(screen); }

Str cGuiListHost::stateText() {
  std::string state;
  char mark[16];
  std::snprintf(mark, sizeof mark, "%08x", titleMark_);
  state = mark;
  if (GuiListView* view = listView())
    for (int32_t width : view->shownColumnWidths()) state += " " + std::to_string(width);
  return Str(state);
}

void cGuiListHost::restoreState(Text state) {
  if (state.isNil()) return;
  std::string text(state.view());
  std::vector<int32_t> widths;
  char* end = nullptr;
  unsigned long mark = std::strtoul(text.c_str(), &end, 16);
  if (end == text.c_str()) return;
  while (*end == ' ') {
    char* next = nullptr;
    long width = std::strtol(end, &next, 10);
    if (next == end || width < 0 || width > 100000) break;
    widths.push_back(static_cast<int32_t>(width));
    end = next;
  }
  titleMark_ = static_cast<uint32_t>(mark);
  if (GuiListView* view = listView()) {
    view->showTitleMark(titleMark_);
    if (!widths.empty()) view->showColumnWidths(widths);
  }
}

void cGuiListHost::rowsInserted(int32_t first, int32_t count) {
  if (GuiListView* view = liveView()) view->listInserted(first, count);
}

void cGuiListHost::rowsRemoved(int32_t first, int32_t count) {
  if (GuiListView* view = liveView()) view->listRemoved(first, count);
}

void cGuiListHost::rowChanged(int32_t index) {
  if (GuiListView* view = liveView()) view->listChanged(index);
}

void cGuiListHost::rowsReset() {
  if (GuiListView* view = liveView()) {
    view->listReset();
    view->showSelection();
  }
}

void cGuiListHost::activeChanged() {
  if (GuiListView* view = liveView()) view->showSelection();
  guiAddListNotify(*this, selectionChanged_);
}

void cGuiListHost::selectChanged(int32_t row) {
  if (GuiListView* view = liveView()) {
    if (row >= 0) view->showRowSelection(row);
    else view->showSelection();
  }
  guiAddListNotify(*this, selectionChanged_);
}

void cGuiListHost::jumpTo(int32_t index) {
  if (GuiListView* view = listView()) view->jumpTo(index);
}

void cGuiListHost::sortModeChanged() {
  SortColumn user = infoSortByUser();
  titleMark_ = user.set ? static_cast<uint32_t>(user.column) | (user.reverse ? kGuiTitleMarkReverse : 0)
                        : kGuiNoTitleMark;
  if (GuiListView* view = listView()) view->showTitleMark(titleMark_);
}

std::string_view cGuiListHost::sortField(const Row& row, int32_t column) const {
  return guiSkipListEscapes(guiListColumnField(row.label.view(), column));
}

}  // namespace bw
