// gui/gui_list_test.cpp - the list gadget's model: configuration, column
// orders, the builder's list operations, and the merge refresh checked
// against a plain reference over seeded random rounds.
#include "gui/gui_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/raise_test_support.h"
#include "core/sweep_test_support.h"
#include "gui/gui_test_support.h"

namespace bw {
namespace {

TEST(GuiList, ColumnLettersAndFieldOrders) {
  cGuiList three(nullptr, 3, "T");
  cGuiList five(nullptr, 5, nullptr);
  EXPECT_EQ(three.initColumnAlignment("lcRx")->infoColumnAlignment(), "LCR");
  EXPECT_EQ(five.initColumnAlignment("lcRx")->infoColumnAlignment(), "LCRLL");
  EXPECT_EQ(five.initColumnSortTypes("nsQi")->infoColumnSortTypes(), "NSIII");
  EXPECT_TRUE(five.infoTitle().isNil());

  struct Case {
    const char* a;
    const char* b;
    char type;
    int32_t sign;  // 1: a first
  } cases[] = {
      {"9", "10", 'N', 1},   {"9", "10", 'I', -1},   {"", "0", 'N', 0},      {"", "-1", 'N', -1},
      {"$10", "17", 'N', 1}, {"abc", "ABD", 'I', 1}, {"abc", "ABC", 'I', 0}, {"abc", "ABC", 'S', -1},
      {"ab", "abc", 'S', 1}, {"", "a", 'I', 1},      {"x", "y", '?', 0},     {"\xe4", "a", 'I', -1},
      {"[", "a", 'I', -1},  // '[' sorts after 'A' (a-z folds up)
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compareGuiListFields(c.a, c.b, c.type), c.sign) << c.a << " " << c.b << " " << c.type;
    EXPECT_EQ(compareGuiListFields(c.b, c.a, c.type), -c.sign) << c.a << " " << c.b << " " << c.type;
  }
  EXPECT_EQ(guiListColumnField("a\tbb\tc", 1), "bb");
  EXPECT_EQ(guiListColumnField("a\tbb", 2), "");  // a missing field is empty
  EXPECT_EQ(guiListColumnField("a\t", 1), "");
}

TEST(GuiList, SortedInsertsKeepCallOrderAmongEquals) {
  cGuiList list(nullptr, 2, nullptr);
  list.initColumnSortTypes("IN")->setSortByColumn(1, false);
  for (const char* label : {"a\t10", "b\t9", "c\t10", "d\t", "e\t9"})
    list.addEntry(Str(label), 0, false, 0, {});
  EXPECT_EQ(guiListLabels(list), (std::vector<std::string>{"d\t", "b\t9", "e\t9", "a\t10", "c\t10"}));
  list.titleClick(1);  // not sorted by user: nothing
  EXPECT_FALSE(list.infoSortChangedFlag(false));
  list.setSortByUser(1, false);
  list.titleClick(1);  // the current column flips
  EXPECT_EQ(guiListLabels(list), (std::vector<std::string>{"a\t10", "c\t10", "b\t9", "e\t9", "d\t"}));
  list.titleClick(0);  // another column sorts ascending
  EXPECT_TRUE(list.infoSortChangedFlag(false));
  EXPECT_EQ(list.infoSortByUser().column, 0);
  EXPECT_FALSE(list.infoSortByUser().reverse);
  EXPECT_EQ(guiListLabels(list).front(), "a\t10");
}

TEST(GuiList, MisuseMessages) {
  cGuiList list(nullptr, 2, nullptr);
  expectRaise([&] { list.update({Str("a")}); }, "EMU", "cGuiList.update(); list needs to be sorted");
  fEntriesFromStringList none;
  expectRaise([&] { list.updateF(none); }, "EMU", "cGuiList.updateF(); list needs to be sorted");
  expectRaise([&] { list.cursor_getLabel(); }, "EMU", "cGuiList.cursor_getLabel(); list is empty");
  expectRaise([&] { list.cursor_setState(true); }, "EMU",
              "cGuiList.cursor_setState(); entries are not selectable");
  expectRaise([&] { list.setSortByColumn(2, false); }, "EMU",
              "cGuiList.setSortByColumn(); column was not a valid value");
  expectRaise([&] { list.setSortByUser(-1, false); }, "EMU",
              "cGuiList.setSortByUser(); initialColumn was not a valid value");
  expectRaise([&] { list.setSortByFunction(nullptr); }, "EMU", "cGuiList.setSortByFunction(); sortFunc=NIL");
  list.initMultiSelect(false, false);
  expectRaise([&] { list.marked_setState(true); }, "EMU",
              "cGuiList.marked_setState(); entries are not multi-selectable");
  list.setSortByColumn(0, false);
  expectRaise([&] { list.cursor_afterInsert(Str("x"), 0, false, 0, {}); }, "EMU",
              "cGuiList.cursor_afterInsert(); the list must not be sorted");
  list.update({Str("b"), Str("a")});
  EXPECT_EQ(guiListLabels(list), (std::vector<std::string>{"a", "b"}));
  Str foreign("b");
  expectRaise([&] { list.findCursorEntry(&foreign); }, "BUG", "cGuiList.findCursorEntry(); failed");
  list.cursor_gotoEnd();
  const Str* own = &list.cursor_infoLabel();
  list.findCursorEntry(own);
  EXPECT_EQ(list.cursor_infoPosition(), 1);
}

TEST(GuiList, BuilderListOperations) {
  NeutralGuiWindow w;
  expectRaise([&] { w.beginList(1, nullptr); }, "EMU", "cGuiList.beginList(); must be done inside a group");
  cGuiGroupVertical* root = w.beginGroupVertical(nullptr);
  expectRaise([&] { w.beginList(0, nullptr); }, "EMU", "cGuiList.beginList(); columns<1");
  expectRaise([&] { w.addListEntry("x", 0, false, 0, {}); }, "EMU",
              "cGuiWindow.addListEntry(); there is no list being defined");
  expectRaise([&] { w.endList(); }, "EMU", "cGuiWindow.endList(); there is no list being defined");
  cGuiList* list = w.beginList(2, "Feeds");
  EXPECT_EQ(list->infoWindow(), &w);
  std::string label = "one\t1";
  w.addListEntry(label, 3, true, 7, std::make_unique<boxVALUE>(5));
  expectRaise([&] { w.endGroup(); }, "EMU", "cGuiWindow.endGroup(); must close the list first");
  expectRaise([&] { w.addButton("b"); }, "EMU", "cGuiWindow.addButton(); must be done inside a group");
  w.endList();
  EXPECT_EQ(w.infoCurrentGroup(), root);
  ASSERT_EQ(list->infoSize(), 1);
  EXPECT_EQ(list->cursor_getLabel(), "one\t1");
  EXPECT_EQ(list->cursor_getStyle(), 3);
  EXPECT_TRUE(list->cursor_getMarked());
  EXPECT_EQ(list->cursor_getData(), 7);
  EXPECT_EQ(static_cast<boxVALUE*>(list->cursor_getDataBox())->value, 5);
  w.endGroup();
}

TEST(GuiList, SelectionAndMarkedRows) {
  cGuiList list(nullptr, 1, nullptr);
  list.initMultiSelect(true, false);
  for (int32_t i = 0; i < 5; i++)
    list.addEntry(Str(std::to_string(i)), 0, i % 2 == 1, i, std::make_unique<boxVALUE>(i * 10));
  list.marked_setState(true);
  list.cursor_gotoStart();
  list.cursor_setState(true);
  auto keys = collectSelectionNumbers(list, true);
  EXPECT_EQ(list.infoSelectionCount(), 0);
  EXPECT_EQ(keys->infoCount(), 3u);
  for (intptr_t key : {0, 10, 30}) EXPECT_NE(keys->get(key), nullptr) << key;
  list.cursor_gotoEnd();
  list.marked_destroy();
  EXPECT_EQ(list.cursor_infoPosition(), 2);  // still on "4"
  EXPECT_EQ(guiListLabels(list), (std::vector<std::string>{"0", "2", "4"}));
  list.cursor_gotoEnd();
  EXPECT_FALSE(list.cursor_remove().label.isNil());
  EXPECT_EQ(list.cursor_infoPosition(), 1);  // the last row went: the new last
  list.cursor_gotoStart();
  EXPECT_TRUE(list.destroy());
  EXPECT_FALSE(list.destroy());
  EXPECT_EQ(list.cursor_getLabelIfAny(), nullptr);
}

// Where the cursor lands after removals: the row that followed (goBack:
// the row before), the nearest row when there is none, 0 when all went.
TEST(GuiList, RemovalCursorLandings) {
  struct Case {
    const char* marks;  // one letter a row: x marked
    int32_t cursor;
    bool goBack;
    const char* left;  // the rows left, the cursor's in brackets
  } cases[] = {
      {"..xx.", 2, false, "01[4]"},  {"..xx.", 3, true, "0[1]4"}, {"xx...", 0, true, "[2]34"},
      {"..xxx", 3, false, "0[1]"},   {"xxxxx", 2, false, "[]"},   {"x.x.x", 1, false, "[1]3"},
      {".....", 4, true, "0123[4]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.marks) + " " + std::to_string(c.cursor) + (c.goBack ? " back" : ""));
    cGuiList list(nullptr, 1, nullptr);
    for (int32_t i = 0; c.marks[i]; i++) list.addEntry(Str(std::to_string(i)), 0, c.marks[i] == 'x', i, {});
    list.cursor_gotoNext(c.cursor);
    StrChain removed = list.marked_remove(c.goBack);
    std::string left;
    for (int32_t i = 0; i < list.infoSize(); i++)
      left += i == list.cursor_infoPosition() ? "[" + list.infoEntryAt(i)->label.str() + "]"
                                              : list.infoEntryAt(i)->label.str();
    EXPECT_EQ(left.empty() ? "[]" : left, c.left);
    EXPECT_EQ(removed.size() + static_cast<size_t>(list.infoSize()), std::string(c.marks).size());
  }
  struct Destroyed {
    bool goBack;
    int32_t cursor;
    bool result;
    int32_t after;
  } destroys[] = {{false, 2, false, 1}, {true, 0, false, 0}, {false, 0, true, 0}, {true, 2, true, 1}};
  for (const Destroyed& d : destroys) {
    cGuiList list(nullptr, 1, nullptr);
    for (const char* label : {"a", "b", "c"}) list.addEntry(Str(label), 0, false, 0, {});
    list.cursor_gotoNext(d.cursor);
    EXPECT_EQ(list.destroy(d.goBack), d.result) << d.cursor << d.goBack;
    EXPECT_EQ(list.cursor_infoPosition(), d.after) << d.cursor << d.goBack;
  }
}

// Orders rows by their box's value in buckets of five (so rows tie), as the
// news order reads each item's date from its row's box.
class BoxBucketSort : public fGuiListSort {
 public:
  int32_t call(const Str&, const Str&, int32_t, int32_t, const box* a, const box* b) override {
    int32_t va = static_cast<const boxVALUE*>(a)->value / 5;
    int32_t vb = static_cast<const boxVALUE*>(b)->value / 5;
    return va == vb ? 0 : (va < vb ? 1 : -1);
  }
};

struct ModelRow {
  std::string label;
  int32_t style;
  int32_t data;
  int32_t boxValue;
  bool operator==(const ModelRow&) const = default;
};

std::vector<ModelRow> rowsOf(cGuiList& list) {
  std::vector<ModelRow> rows;
  if (!list.cursor_gotoStart()) return rows;
  do
    rows.push_back({list.cursor_getLabel().str(), list.cursor_getStyle(), list.cursor_getData(),
                    static_cast<boxVALUE*>(list.cursor_getDataBox())->value});
  while (list.cursor_gotoNext(1) == 1);
  return rows;
}

class ModelSource : public fGuiListEntries {
 public:
  explicit ModelSource(std::vector<ModelRow> rows) : rows_(std::move(rows)) {}
  GuiListRow call() override {
    if (next_ == rows_.size()) return {};
    const ModelRow& r = rows_[next_++];
    return {Str(r.label), r.style, false, r.data, std::make_unique<boxVALUE>(r.boxValue)};
  }

 private:
  std::vector<ModelRow> rows_;
  size_t next_ = 0;
};

// Where the cursor belongs after a merge: a row of the list survives when a
// new row sorts alike and stands for the same thing (data and box), and
// then sits at that row's place; a row that did not survive hands the
// cursor to the next row that did, and with none left it goes to 0.
struct ExpectedCursor {
  int32_t position;
  bool sameRow;
};

template <class Order>
ExpectedCursor expectedCursor(const std::vector<ModelRow>& before, int32_t cursor,
                              const std::vector<ModelRow>& after, Order order) {
  for (size_t q = static_cast<size_t>(cursor); q < before.size(); q++) {
    for (size_t j = 0; j < after.size(); j++) {
      const ModelRow& a = after[j];
      if (a.data == before[q].data && a.boxValue == before[q].boxValue && order(a, before[q]) == 0)
        return {static_cast<int32_t>(j), q == static_cast<size_t>(cursor)};
    }
  }
  return {0, false};
}

TEST(GuiListModel, SeededMergeRefreshesMatchThePlainReference) {
  const auto rounds = static_cast<int>(testing::sweepCount("BRINDLEWORK_LIST_ROUNDS", 3000, 10000));
  std::mt19937 rng(20261207);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* col0[] = {"a", "B", "b", "A", "ab", ""};
  const char* col1[] = {"x", "X", "y", "xy"};
  const char* col2[] = {"9", "10", "", "+3", "-2", "$a"};
  auto randomLabel = [&] { return std::string(col0[pick(6)]) + "\t" + col1[pick(4)] + "\t" + col2[pick(6)]; };
  BoxBucketSort byBox;
  for (int mode = 0; mode < 4; mode++) {
    cGuiList list(nullptr, 3, nullptr);
    list.initColumnSortTypes("SIN");
    if (mode == 0) list.setSortByColumn(0, false);
    if (mode == 1) list.setSortByUser(1, true);
    if (mode == 2) list.setSortByColumn(2, true);
    if (mode == 3) list.setSortByFunction(&byBox);
    fGuiListSort& sorter = *list.infoSorter().sorter;
    auto order = [&](const ModelRow& a, const ModelRow& b) {
      boxVALUE ba(a.boxValue), bb(b.boxValue);
      return sorter.call(Str(a.label), Str(b.label), a.data, b.data, &ba, &bb);
    };
    int32_t nextData = 0;
    for (int round = 0; round < rounds / 4; round++) {
      std::vector<ModelRow> before = rowsOf(list);
      int32_t cursor = before.empty() ? -1 : pick(static_cast<int>(before.size()));
      list.cursor_gotoStart();
      if (cursor > 0) list.cursor_gotoNext(cursor);
      const Str* cursorLabel = list.cursor_getLabelIfAny();

      std::vector<ModelRow> given;
      bool clear = pick(50) == 0;
      for (const ModelRow& r : before) {
        int action = clear ? 0 : pick(10);
        if (action == 0) continue;  // gone
        ModelRow next = r;
        if (action == 1) next.label = randomLabel();  // relabelled
        if (action == 2) next.style = pick(16);       // restyled
        if (action == 3) next.boxValue = pick(40);    // moved in the box order
        given.push_back(next);
      }
      for (int added = pick(6); added > 0; added--)
        given.push_back({randomLabel(), pick(16), nextData++, pick(40)});
      std::shuffle(given.begin(), given.end(), rng);
      std::vector<ModelRow> after = given;
      std::stable_sort(after.begin(), after.end(),
                       [&](const auto& a, const auto& b) { return order(a, b) > 0; });

      ModelSource source(given);
      list.updateF(source);
      int32_t position = list.cursor_infoPosition();
      const Str* label = list.cursor_getLabelIfAny();
      ASSERT_EQ(rowsOf(list), after) << "mode " << mode << " round " << round;
      if (cursor < 0 || after.empty()) continue;
      ExpectedCursor want = expectedCursor(before, cursor, after, order);
      ASSERT_EQ(position, want.position) << "mode " << mode << " round " << round;
      if (want.sameRow) {
        ASSERT_EQ(label, cursorLabel) << "mode " << mode << " round " << round;
      }
      std::vector<const Str*> shown;
      list.cursor_gotoStart();
      for (int32_t i = 0; i < list.infoSize(); i++, list.cursor_gotoNext(1))
        shown.push_back(&list.cursor_infoLabel());
      list.cursor_gotoStart();
      list.cursor_gotoNext(want.position);
      // The same rows again change no row and keep the cursor.
      ModelSource same(after);
      list.updateF(same);
      ASSERT_EQ(list.cursor_infoPosition(), want.position);
      list.cursor_gotoStart();
      for (const Str* row : shown) {
        ASSERT_EQ(&list.cursor_infoLabel(), row);
        list.cursor_gotoNext(1);
      }
    }
  }
}

// Rows that sort alike keep their selection with what they stand for, not
// with their place in the run, whatever order the source gives them in.
TEST(GuiListModel, RowsSortingAlikeKeepTheirSelection) {
  struct {
    std::vector<int32_t> given;  // the boxes offered, all under one sort key
    int32_t cursorBox;           // where the cursor, on box 2, ends
  } cases[] = {
      {{3, 2}, 2},        // the first goes
      {{2, 1, 3}, 2},     // reordered
      {{4, 1, 2, 3}, 2},  // one more
      {{1, 3}, 3},        // the selected row goes: none stays selected, the cursor moves on
  };
  for (const auto& c : cases) {
    cGuiList list(nullptr, 2, nullptr);
    list.initMultiSelect(true, true);
    list.setSortByColumn(0, false);
    for (int32_t b : {1, 2, 3}) list.addEntry(Str("same\t" + std::to_string(b)), 0, false, 0, std::make_unique<boxVALUE>(b));
    list.cursor_gotoStart();
    list.cursor_gotoNext(1);
    list.cursor_setState(true);  // box 2
    std::vector<ModelRow> given;
    for (int32_t b : c.given) given.push_back({"same\t" + std::to_string(b), 0, 0, b});
    ModelSource source(given);
    list.updateF(source);
    const int32_t cursorBox = static_cast<boxVALUE*>(list.cursor_getDataBox())->value;
    std::vector<int32_t> selected;
    for (int32_t i = 0; i < list.infoCount(); i++)
      if (list.infoEntryAt(i)->selected) selected.push_back(static_cast<boxVALUE*>(list.infoEntryAt(i)->dataBox.get())->value);
    EXPECT_EQ(rowsOf(list), given);  // in the source's order
    EXPECT_EQ(selected, c.cursorBox == 2 ? std::vector<int32_t>{2} : std::vector<int32_t>{});
    EXPECT_EQ(cursorBox, c.cursorBox);
  }
}

// One changed row through updateOneEntry leaves the list as the whole merge
// does: rows, styles, selection, marks, cursor, active and pending row.
TEST(GuiListModel, OneChangedRowMatchesTheWholeMerge) {
  std::mt19937 rng(34);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* names[] = {"a", "b", "B", "c", ""};
  BoxBucketSort byBox;
  struct State {
    std::vector<ModelRow> rows;
    std::vector<bool> selected, marked;
    int32_t cursor, active, pending;
    bool operator==(const State&) const = default;
  };
  auto stateOf = [](cGuiList& list) {
    State st{{}, {}, {}, list.cursor_infoPosition(), list.infoActive(), list.infoPendingEntry(false, true)};
    st.rows = rowsOf(list);
    for (int32_t i = 0; i < list.infoCount(); i++) {
      st.selected.push_back(list.infoEntryAt(i)->selected);
      st.marked.push_back(list.infoEntryAt(i)->marked);
    }
    return st;
  };
  for (int round = 0; round < 600; round++) {
    const int mode = round % 3;
    // The source: rows in data order (the "chain"), few labels so that runs tie.
    std::vector<ModelRow> source;
    for (int32_t d = 0, n = pick(12); d < n; d++)
      source.push_back({std::string(names[pick(5)]) + "\tx", pick(4), d, pick(20)});
    cGuiList whole(nullptr, 2, nullptr), one(nullptr, 2, nullptr);
    for (cGuiList* list : {&whole, &one}) {
      list->initMultiSelect(true, true);
      if (mode == 0) list->setSortByColumn(0, false);
      if (mode == 1) list->setSortByUser(0, true);
      if (mode == 2) list->setSortByFunction(&byBox);
      ModelSource all(source);
      list->addEntries(all);
    }
    for (int32_t i = 0; i < whole.infoCount(); i++) {
      const bool on = pick(3) == 0, mark = pick(3) == 0;
      for (cGuiList* list : {&whole, &one}) {
        list->cursor_gotoStart();
        list->cursor_gotoNext(i);
        list->cursor_setState(on);
        list->cursor_setMarked(mark);
      }
    }
    const int32_t cursor = whole.infoCount() ? pick(whole.infoCount()) : 0;
    for (cGuiList* list : {&whole, &one}) {
      list->cursor_gotoStart();
      list->cursor_gotoNext(cursor);
      list->setPendingFromCursor();
      list->cursor_gotoStart();
      list->cursor_gotoNext(cursor);
    }
    // One row changes: relabelled, restyled, moved in the box order, gone,
    // or a new one.
    std::vector<ModelRow> next = source;
    int32_t changedData = static_cast<int32_t>(source.size());
    const int action = source.empty() ? 4 : pick(5);
    if (action == 4) {
      next.insert(next.begin() + pick(static_cast<int>(next.size()) + 1), {std::string(names[pick(5)]) + "\tx", 1, changedData, pick(20)});
    } else {
      const int at = pick(static_cast<int>(next.size()));
      changedData = next[at].data;
      if (action == 0) next[at].label = std::string(names[pick(5)]) + "\tx";
      if (action == 1) next[at].style = pick(4);
      if (action == 2) next[at].boxValue = pick(20);
      if (action == 3) next.erase(next.begin() + at);
    }
    ModelSource all(next);
    whole.updateF(all);
    int32_t index = -1;
    for (int32_t i = 0; i < one.infoCount(); i++)
      if (one.infoEntryAt(i)->data == changedData) index = i;
    GuiListRow given;
    auto found = std::find_if(next.begin(), next.end(), [&](const ModelRow& r) { return r.data == changedData; });
    if (found != next.end()) given = {Str(found->label), found->style, false, found->data, std::make_unique<boxVALUE>(found->boxValue)};
    // The source's order among rows sorting alike: the order in next.
    auto place = [&](int32_t data) {
      return std::find_if(next.begin(), next.end(), [&](const ModelRow& r) { return r.data == data; }) - next.begin();
    };
    one.updateOneEntry(index, std::move(given), [&](const cGuiList::Row& r) { return place(changedData) < place(r.data); });
    ASSERT_EQ(stateOf(one), stateOf(whole)) << "round " << round << " action " << action;
  }
}

}  // namespace
}  // namespace bw
