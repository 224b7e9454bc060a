// gui/gui_fixed_list_test.cpp - fixed lists over the neutral items: the
// grid of entries and labels, the title row, selection bookkeeping in both
// modes, and the refusals.
#include "gui/gui_fixed_list.h"

#include <gtest/gtest.h>

#include <string>

#include "core/raise_test_support.h"
#include "gui/gui_test_support.h"

namespace bw {
namespace {

// The list's inner children as a line: E entry (+ if it has a tick), then
// each label's text in brackets.
std::string rows(const cGuiFixedList& list) {
  std::string out;
  for (cGuiItem* item = list.infoInner()->infoFirst(); item; item = item->infoNext()) {
    if (auto* entry = dynamic_cast<cGuiFixedListEntry*>(item)) {
      out += entry->infoTick() ? "E+" : "E";
      for (cGuiItem* part = entry->infoInner()->infoFirst(); part; part = part->infoNext()) {
        if (auto* label = dynamic_cast<cGuiLabel*>(part)) out += "[" + label->infoLabel().str() + "]";
      }
    } else if (auto* label = dynamic_cast<cGuiLabel*>(item)) {
      out += "[" + label->infoLabel().str() + (label->infoStyle() ? "*" : "") + "]";
    }
    out += ' ';
  }
  return out;
}

TEST(GuiFixedList, RowsTitlesAndColumns) {
  NeutralGuiWindow w;
  w.beginGroupVertical(nullptr);
  cGuiFixedList* three = w.beginFixedList(3, "T");
  EXPECT_TRUE(three->infoInner()->isOfClass(cGuiGroupGrid::kClassName));
  EXPECT_EQ(static_cast<cGuiGroupGrid*>(three->infoInner())->infoColumns(), 4);
  EXPECT_TRUE(three->infoInner()->infoScrollable());
  three->initColumnTitles("A\tB\tC")->initColumnAlignment("lcRx");
  EXPECT_EQ(three->infoColumnAlignment(), "LCR");
  EXPECT_EQ(rows(*three), "");  // no title row before the first entry
  EXPECT_EQ(w.addFixedListEntry("one\ttwo\tthree"), nullptr);
  w.addFixedListEntry("alone");
  EXPECT_EQ(rows(*three), "E [A*] [B*] [C*] E [one] [two] [three] E [alone] [] [] ");
  w.endGroup();
  cGuiFixedList* one = w.beginFixedList(1, nullptr)->initSelectableEntries(false);
  EXPECT_TRUE(one->infoInner()->isOfClass(cGuiGroupVertical::kClassName));
  cGuiFixedListEntry* entry = w.addFixedListEntry("first\tignored");
  EXPECT_EQ(entry->infoRowText(), "first\tignored");
  EXPECT_EQ(rows(*one), "E+[first] ");
  w.endGroup();
  EXPECT_EQ(w.infoCurrentGroup(), w.infoRootGroup());
}

TEST(GuiFixedList, SingleAndMultipleSelection) {
  NeutralGuiWindow w;
  w.beginGroupVertical(nullptr);
  cGuiFixedList* list = w.beginFixedList(2, nullptr)->initSelectableEntries(false);
  cGuiFixedListEntry* a = w.addFixedListEntry("a\t1");
  cGuiFixedListEntry* b = w.addFixedListEntry("b\t2");
  cGuiFixedListEntry* c = w.addFixedListEntry("c\t3");
  EXPECT_EQ(a->infoNextInGroup(), b);
  EXPECT_EQ(c->infoNextInGroup(), nullptr);
  a->setState(true);
  b->setState(true);  // single selection moves
  EXPECT_FALSE(a->getState());
  EXPECT_EQ(list->infoSelectionCount(), 1);
  EXPECT_EQ(list->infoSingleSelectionEntry(), b);
  w.endGroup();
  // Between the last endGroup and the build the count still keeps up.
  w.endGroup();
  c->setState(true);
  EXPECT_EQ(list->infoSelectionCount(), 1);
  EXPECT_EQ(list->infoSingleSelectionEntry(), c);
  EXPECT_FALSE(b->getState());
  list->setMultiSelect(true);
  a->setState(true);
  EXPECT_EQ(list->infoSelectionCount(), 2);
  list->setMultiSelect(false);  // two selected: none stays
  EXPECT_FALSE(a->getState() || c->getState());
  EXPECT_EQ(list->infoSelectionCount(), 0);
  EXPECT_EQ(list->infoSingleSelectionEntry(), nullptr);
  list->setMultiSelect(true);
  b->setState(true);
  list->setMultiSelect(false);  // one selected: it becomes the single one
  EXPECT_EQ(list->infoSingleSelectionEntry(), b);
}

TEST(GuiFixedList, Refusals) {
  NeutralGuiWindow w;
  w.beginGroupVertical(nullptr);
  expectRaise([&] { w.addFixedListEntry("x"); }, "EMU", "cGuiWindow.addFixedListEntry(); must be done inside a list");
  expectRaise([&] { w.beginFixedList(0, nullptr); }, "EMU", "cGuiFixedList.beginFixedList(); columns<1");
  cGuiFixedList* list = w.beginFixedList(2, nullptr);
  const std::string plain = "this does not make sense, as entries are not selectable";
  expectRaise([&] { list->getMultiSelect(); }, "EMU", ("cGuiFixedList.getMultiSelect(); " + plain).c_str());
  expectRaise([&] { list->setMultiSelect(true); }, "EMU", ("cGuiFixedList.setMultiSelect(); " + plain).c_str());
  expectRaise([&] { list->infoSingleSelectionEntry(); }, "EMU",
              ("cGuiFixedList.infoSingleSelectionEntry(); " + plain).c_str());
  expectRaise([&] { list->initScrollable(); }, "EMU", "cGuiFixedList.initScrollable(); this method is not supported");
  expectRaise([&] { list->initEqualSizedItems(); }, "EMU",
              "cGuiFixedList.initEqualSizedItems(); this method is not supported");
  w.addFixedListEntry("row");
  const std::string after = "(); this cannot be called after entries have been added";
  expectRaise([&] { list->initSelectableEntries(true); }, "EMU", ("cGuiFixedList.initSelectableEntries" + after).c_str());
  expectRaise([&] { list->initColumnAlignment("R"); }, "EMU", ("cGuiFixedList.initColumnAlignment" + after).c_str());
  expectRaise([&] { list->initColumnTitles("T"); }, "EMU", ("cGuiFixedList.initColumnTitles" + after).c_str());
  EXPECT_FALSE(list->getSelectable());
  EXPECT_EQ(list->infoColumnAlignment(), "LL");
  auto* entry = static_cast<cGuiFixedListEntry*>(list->infoFirstEntry());
  expectRaise([&] { entry->setState(true); }, "EMU", "cGuiFixedListEntry.setState(); list entries are not selectable");
  cGuiFixedList* multi = w.beginFixedList(1, nullptr)->initSelectableEntries(true);
  expectRaise([&] { multi->infoSingleSelectionEntry(); }, "EMU",
              "cGuiFixedList.infoSingleSelectionEntry(); this cannot be called when multiSelect=TRUE");
}

}  // namespace
}  // namespace bw
