// gui/host/core/gui_list_host_test.cpp - the list host without a toolkit:
// column texts and pens, the escape-skipping compare, the build checks, the
// notifications counted as events, quiet batching and the saved sort.
#include "gui/host/core/gui_list_host.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "core/raise_test_support.h"
#include "gui/host/core/gui_host_test_support.h"
#include "gui/host/core/gui_input_hosts.h"

namespace bw {
namespace {

// A built window holding one list.
struct BuiltList {
  explicit BuiltList(int32_t columns, std::function<void(cGuiList*)> configure = {}) {
    window = client.window("Lists");
    window->beginGroupVertical(nullptr);
    list = static_cast<cGuiListHost*>(window->beginList(columns, nullptr));
    if (configure) configure(list);
    window->endList();
    window->endGroup();
    window->build();
    view = static_cast<FakeGuiListView*>(guiView(*list));
  }
  // Events queued since the last call; each one is waited for, so the list
  // turns its flags into answers.
  int events() {
    int n = 0;
    while (client.infoQueued() > 0) {
      client.waitForChangedGuiItem();
      ++n;
    }
    return n;
  }
  void add(std::initializer_list<const char*> labels, int32_t style = 0) {
    for (const char* label : labels) list->addEntry(Str(label), style, false, 0, {});
  }

  FakeGuiClient client;
  FakeGuiWindow* window;
  cGuiListHost* list;
  FakeGuiListView* view;
};

TEST(GuiListHost, ColumnTextsAndPens) {
  struct Case {
    const char* label;
    int32_t style;
    std::vector<std::string> columns;
  } cases[] = {
      {"a\tb\tc", 0, {"a", "b", "c"}},
      {"a", 0, {"a", "", ""}},             // short labels show empty columns
      {"a\tb\tc\td", 0, {"a", "b", "c"}},  // surplus parts hidden
      {"a\t\tc",
       4,
       {"\x1b"
        "ba",
        "\x1b"
        "b",
        "\x1b"
        "bc"}},
      {"x", 1 | 8, {"\x1bP[00000]\x1bix", "", ""}},
      {"x\ty",
       2 | 1 | 4,
       {"\x1bP[00000]\x1b"
        "bx",
        "\x1bP[00000]\x1b"
        "by",
        ""}},
  };
  for (const Case& c : cases) {
    GuiListRowTexts texts;
    guiListSetLabelAndStyle(texts, c.label, c.style, 3);
    EXPECT_EQ(texts.columns, c.columns) << c.label;
    EXPECT_EQ(texts.penIndex, (c.style & 2) ? 1 : (c.style & 1) ? 0 : -1) << c.label;
  }

  GuiListRowTexts texts;
  guiListSetLabelAndStyle(texts, "x\ty", 1, 3);
  updateColumnsWithPen(texts, 1);
  EXPECT_EQ(texts.columns[0], "\x1bP[00001]x");
  texts.columns[1][7] = '9';  // the same pen again writes nothing
  updateColumnsWithPen(texts, 1);
  EXPECT_EQ(texts.columns[1], "\x1bP[00009]y");
  updateColumnsWithPen(texts, 12);
  EXPECT_EQ(texts.columns[1], "\x1bP[00012]y");
  expectRaise([&] { updateColumnsWithPen(texts, -1); }, "BUG", "entryNode.updateColumnsWithPen(); pen=-1");
  texts.columns[0] = "\x1bP[0";
  expectRaise([&] { updateColumnsWithPen(texts, 3); }, "BUG",
              "entryNode.updateColumnsWithPen(); text is too short");

  EXPECT_EQ(guiPenSpec(0xff0000), "rff0000");
  EXPECT_EQ(guiPenSpecRGB("r0a0b0c"), 0x0a0b0cu);
  EXPECT_FALSE(guiPenSpecRGB("rff00").has_value());
  EXPECT_EQ(blendRGB(0xff0000, 0x000000, 128), 0x7f0000u);
  EXPECT_EQ(blendRGB(0x123456, 0xabcdef, 256), 0x123456u);
  GuiColourMap screen;
  screen.registers[7] = 0x808080;
  EXPECT_EQ(penToRGB(screen, 7), 0x808080u);
  {
    muiAllocPen pens(0x0000ff, 0x80ff0000);  // the second mixed half and half with register 7
    pens.setup(screen);
    EXPECT_EQ(guiPenTable().rgbOf(pens.pen(0)), 0x0000ffu);
    EXPECT_EQ(guiPenTable().rgbOf(pens.pen(1)), 0xbf4040u);
    muiAllocPen same(0x0000ff, 0x0000ff);
    same.setup(screen);
    EXPECT_EQ(same.pen(0), pens.pen(0));  // equal colours share a pen
  }
  EXPECT_EQ(guiPenTable().infoHeld(), 0u);
}

// Texts in buffers of their exact size, so a read past the end is caught.
TEST(GuiListHost, EscapeSkippingStopsAtTheTextsEnd) {
  struct Case {
    std::string text;
    std::string rest;
  } cases[] = {
      {"\x1b", ""},
      {"\x1bP", ""},
      {"\x1bP[123", ""},
      {"\x1bP[1]\x1b", ""},
      {"\x1b"
       "bab",
       "ab"},
      {"\x1bP[00001]\x1biz", "z"},
      {"plain", "plain"},
      {"a\x1b"
       "b",
       "a\x1b"
       "b"},
  };
  for (const Case& c : cases) {
    auto exact = std::make_unique<char[]>(c.text.size());
    std::copy(c.text.begin(), c.text.end(), exact.get());
    std::string_view text(exact.get(), c.text.size());
    EXPECT_EQ(guiSkipListEscapes(text), c.rest) << c.text;
    for (char type : {'I', 'S', 'N'}) {
      EXPECT_EQ(guiListCompareTexts(text, "b", type, false), -guiListCompareTexts("b", text, type, false));
    }
  }
  EXPECT_LT(guiListCompareTexts("\x1bP[00001]9", "10", 'N', false), 0);
  EXPECT_GT(guiListCompareTexts("\x1b"
                                "b9",
                                "10", 'I', false),
            0);
  EXPECT_LT(guiListCompareTexts("\x1b"
                                "b9",
                                "10", 'I', true),
            0);
}

TEST(GuiListHost, UnbuiltAndEmptyListsRefuse) {
  FakeGuiClient client;
  FakeGuiWindow* w = client.window("Unbuilt");
  w->beginGroupVertical(nullptr);
  cGuiList* list = w->beginList(2, nullptr);
  list->initMultiSelect(true, true);
  w->endList();
  w->endGroup();
  list->addEntry(Str("waits"), 0, false, 0, {});
  using Call = std::function<void()>;
  std::pair<const char*, Call> unbuilt[] = {
      {"cursor_gotoStart", [&] { list->cursor_gotoStart(); }},
      {"cursor_gotoEnd", [&] { list->cursor_gotoEnd(); }},
      {"cursor_gotoNext", [&] { list->cursor_gotoNext(1); }},
      {"cursor_gotoPrev", [&] { list->cursor_gotoPrev(1); }},
      {"cursor_gotoFirstSelected", [&] { list->cursor_gotoFirstSelected(); }},
      {"cursor_gotoNextSelected", [&] { list->cursor_gotoNextSelected(); }},
      {"cursor_infoEntry", [&] { list->cursor_infoEntry(); }},
      {"cursor_infoEntry", [&] { list->cursor_getLabel(); }},
      {"cursor_getState", [&] { list->cursor_getState(); }},
      {"cursor_setState", [&] { list->cursor_setState(true); }},
      {"cursor_remove", [&] { list->cursor_remove(); }},
      {"cursor_beforeInsert", [&] { list->cursor_beforeInsert(Str("x"), 0, false, 0, {}); }},
      {"cursor_afterInsert", [&] { list->cursor_afterInsert(Str("x"), 0, false, 0, {}); }},
      {"infoSize", [&] { list->infoSize(); }},
      {"infoSelectionCount", [&] { list->infoSelectionCount(); }},
      {"infoSingleSelectionEntry", [&] { list->infoSingleSelectionEntry(); }},
      {"destroy", [&] { list->destroy(); }},
      {"marked_setStyle", [&] { list->marked_setStyle(1); }},
      {"marked_setState", [&] { list->marked_setState(true); }},
      {"marked_destroy", [&] { list->marked_destroy(); }},
      {"marked_remove", [&] { list->marked_remove(); }},
  };
  for (auto& [method, call] : unbuilt)
    expectRaise(call, "EMU",
                (std::string("cGuiList.") + method + "(); the window must be built first").c_str());
  EXPECT_EQ(list->infoPendingEntry(false, false), -1);  // needs no window

  w->build();
  EXPECT_EQ(list->infoSize(), 1);
  expectRaise([&] { list->infoSingleSelectionEntry(); }, "EMU",
              "cGuiList.infoSingleSelectionEntry(); this cannot be called when multiSelect=TRUE");
  list->cursor_gotoStart();
  list->destroy();
  EXPECT_FALSE(list->cursor_gotoStart());
  EXPECT_FALSE(list->cursor_gotoEnd());
  EXPECT_EQ(list->cursor_gotoNext(3), 0);
  EXPECT_EQ(list->cursor_infoEntry(), nullptr);
  list->setPendingFromCursor();
  EXPECT_EQ(list->infoPendingEntry(false, false), -1);
  std::pair<const char*, Call> empty[] = {
      {"cursor_getLabel", [&] { list->cursor_getLabel(); }},
      {"cursor_setLabel", [&] { list->cursor_setLabel(Str("x")); }},
      {"cursor_getStyle", [&] { list->cursor_getStyle(); }},
      {"cursor_setStyle", [&] { list->cursor_setStyle(1); }},
      {"cursor_getMarked", [&] { list->cursor_getMarked(); }},
      {"cursor_setMarked", [&] { list->cursor_setMarked(true); }},
      {"cursor_getData", [&] { list->cursor_getData(); }},
      {"cursor_setData", [&] { list->cursor_setData(1); }},
      {"cursor_getDataBox", [&] { list->cursor_getDataBox(); }},
      {"cursor_setDataBox", [&] { list->cursor_setDataBox({}); }},
      {"cursor_remove", [&] { list->cursor_remove(); }},
  };
  for (auto& [method, call] : empty)
    expectRaise(call, "EMU", (std::string("cGuiList.") + method + "(); list is empty").c_str());
  client.endGuiWindow(w);
}

TEST(GuiListHost, NotificationsCountedAsEvents) {
  BuiltList single(1, [](cGuiList* l) { l->initMultiSelect(false, false); });
  single.add({"a", "b", "c"});
  cGuiList* list = single.list;
  list->cursor_gotoNext(1);
  list->cursor_setState(true);
  EXPECT_EQ(single.events(), 1);
  EXPECT_TRUE(list->infoChangedFlag(false));
  list->cursor_setState(true);  // the active row already
  EXPECT_EQ(single.events(), 0);
  list->cursor_gotoStart();
  list->cursor_beforeInsert(Str("new"), 0, false, 0, {});  // shifts the active row only
  EXPECT_EQ(single.events(), 0);
  EXPECT_EQ(list->infoSingleSelectionEntry(), "b");
  list->cursor_gotoEnd();
  list->cursor_setState(false);  // single select: no row is active any more
  EXPECT_EQ(single.events(), 1);
  EXPECT_EQ(list->infoSelectionCount(), 0);

  BuiltList multi(2, [](cGuiList* l) {
    l->initMultiSelect(true, true)->initColumnSortTypes("IN")->initColumnTitles("A");
  });
  EXPECT_EQ(multi.list->infoTitleTexts(), (std::vector<std::string>{"\x1b"
                                                                    "bA",
                                                                    ""}));
  multi.list->setSortByUser(1, false);
  multi.add({"x\t3", "y\t1", "z\t2"});
  multi.list->cursor_gotoEnd();
  multi.list->cursor_setState(true);
  multi.list->cursor_setState(true);
  EXPECT_EQ(multi.events(), 2);  // one per call
  EXPECT_EQ(multi.view->jumpedTo, 2);
  multi.list->markAll();
  multi.list->marked_setState(true);
  EXPECT_EQ(multi.events(), 1);
  EXPECT_EQ(multi.list->infoSelectionCount(), 3);

  multi.list->userDoubleClicked(1);
  EXPECT_EQ(multi.events(), 1);
  multi.list->userDoubleClicked(-1);  // the title line: the pending row stays
  EXPECT_EQ(multi.events(), 1);
  EXPECT_EQ(multi.list->infoPendingEntry(true, false), 1);
  EXPECT_EQ(multi.list->cursor_getLabel(), "z\t2");

  multi.list->userTitleClicked(1);  // the current column flips
  EXPECT_EQ(multi.events(), 1);
  EXPECT_TRUE(multi.list->infoSortChangedFlag(false));
  EXPECT_EQ(multi.view->mark, 1u | kGuiTitleMarkReverse);
  multi.list->cursor_gotoStart();
  EXPECT_EQ(multi.list->cursor_getLabel(), "x\t3");
  multi.list->setSortByColumn(0, false);
  EXPECT_EQ(multi.view->mark, kGuiNoTitleMark);
  multi.list->userTitleClicked(1);  // not sorted by user: only the flag goes
  EXPECT_EQ(multi.events(), 1);
  EXPECT_FALSE(multi.list->infoSortChangedFlag(false));
}

TEST(GuiListHost, QuietCollectsChangesIntoOneReset) {
  BuiltList built(1, [](cGuiList* l) {
    l->initColumnTitles("Title");
    l->addEntry(Str("before"), 0, true, 0, {});
  });
  EXPECT_EQ(built.list->infoTitleTexts(), std::vector<std::string>{"Title"});  // one column: not bold
  for (int i = 0; i < 100; ++i) built.list->addEntry(Str(std::to_string(i)), 0, i % 2 == 0, i, {});
  EXPECT_EQ(built.view->inserted, 100);
  built.list->marked_setStyle(4);
  built.list->marked_destroy();
  EXPECT_EQ(built.view->changed, 0);
  EXPECT_EQ(built.view->removed, 0);
  EXPECT_EQ(built.view->resets, 2);  // one per bulk operation
  EXPECT_EQ(built.list->infoSize(), 50);
  built.list->setRedraw(false);
  built.list->cursor_gotoStart();
  built.list->destroy();
  built.list->cursor_setStyle(1);
  EXPECT_EQ(built.view->resets, 2);
  built.list->setRedraw(true);
  EXPECT_EQ(built.view->resets, 3);
  EXPECT_EQ(built.view->removed, 0);
}

TEST(GuiListHost, RowsBeforeTheBuildAndMakeCursor) {
  BuiltList built(2, [](cGuiList* l) {
    l->initColumnSortTypes("IN")->setSortByColumn(1, false);
    for (const char* label : {"a\t2", "b\t1", "c\t2", "d\t1"}) l->addEntry(Str(label), 0, false, 0, {});
  });
  std::string order;
  for (bool more = built.list->cursor_gotoStart(); more; more = built.list->cursor_gotoNext(1) == 1)
    order += built.list->cursor_getLabel().view().front();
  EXPECT_EQ(order, "bdac");
  built.list->cursor_gotoEnd();
  built.list->addEntry(Str("e\t0"), 0, false, 0, {}, true);
  EXPECT_EQ(built.list->cursor_infoPosition(), 0);
  built.list->addEntry(Str("f\t3"), 0, false, 0, {});  // the cursor stays on its row
  EXPECT_EQ(built.list->cursor_getLabel(), "e\t0");
}

// The saved title mark is shown on loading and applied to a list sorted by
// user; a list sorted by a fixed column keeps its order.
TEST(GuiListHost, SavedStateAndTheUserSort) {
  BuiltList built(3, [](cGuiList* l) { l->setSortByUser(0, false); });
  built.add({"a\t3\tz", "b\t2\ty", "c\t1\tx"});
  built.view->widths = {40, 50, 60};
  Str state = guiStateText(*built.list);
  EXPECT_EQ(state, "00000000 40 50 60");
  guiRestoreStateText(*built.list, "80000002 70 80");
  EXPECT_EQ(built.view->mark, 0x80000002u);
  EXPECT_EQ(built.view->widths, (std::vector<int32_t>{70, 80}));
  EXPECT_EQ(built.list->infoSortByUser().column, 0);  // shown, not applied
  guiListApplyUserSort(built.list);
  EXPECT_EQ(built.list->infoSortByUser().column, 2);
  EXPECT_TRUE(built.list->infoSortByUser().reverse);
  built.list->cursor_gotoStart();
  EXPECT_EQ(built.list->cursor_getLabel(), "a\t3\tz");

  BuiltList fixed(2, [](cGuiList* l) { l->setSortByColumn(1, false); });
  guiRestoreStateText(*fixed.list, "80000000");
  guiListApplyUserSort(fixed.list);
  EXPECT_TRUE(fixed.list->getSortByColumn().set);
  guiRestoreStateText(*built.list, "00000009");  // a column the list lacks
  guiListApplyUserSort(built.list);
  EXPECT_EQ(built.list->infoSortByUser().column, 2);
}

}  // namespace
}  // namespace bw
