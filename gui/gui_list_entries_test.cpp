// gui/gui_list_entries_test.cpp - the entry list's refusals, a sorted entry
// list handed to a list through its row source, and the module's defaults.
#include "gui/gui_list_entries.h"

#include <gtest/gtest.h>

#include "core/raise_test_support.h"
#include "gui/gui_list.h"

namespace bw {
namespace {

TEST(GuiListEntries, SortedEntriesReachTheListInItsOrder) {
  cMegaList_entry entries(false);
  expectRaise([&] { entries.isolateFromSharing(); }, "EMU",
              "cMegaList_entry.isolateFromSharing(); this method is not supported");
  expectRaise([&] { entries.cloneGeneric(); }, "EMU",
              "cMegaList_entry.clone(); this method is not supported");
  expectRaise([&] { entries.node_clone(nullptr, nullptr); }, "BUG",
              "cMegaList_entry.node_clone(); unsupported");
  EXPECT_TRUE(entries.infoAutoDealloc());

  for (int32_t n : {30, 4, 200, 4}) {
    entries.append(std::make_unique<entry>(Str("row\t" + std::to_string(n)), n, n == 4, n,
                                           std::make_unique<boxVALUE>(n)));
  }
  cGuiList list(nullptr, 2, nullptr);
  list.initColumnSortTypes("IN")->setSortByColumn(1, true);
  fGuiListSortWrapper wrapper;
  entries.sort(wrapper.set(list.infoSorter().sorter));
  fEntriesFromMegaList source;
  auto cursor = entries.cursorAtStart();
  list.addEntries(*source.set(cursor.get()));
  EXPECT_TRUE(source.call().label.isNil());  // at the end
  std::string shown;
  for (bool more = list.cursor_gotoStart(); more; more = list.cursor_gotoNext(1) == 1) {
    shown += list.cursor_getLabel().str() + "=";
    shown += std::to_string(static_cast<boxVALUE*>(list.cursor_getDataBox())->value) + " ";
  }
  EXPECT_EQ(shown, "row\t200=200 row\t30=30 row\t4=4 row\t4=4 ");
  cursor = entries.cursorAtStart();
  EXPECT_TRUE(cursor->getEntry()->label.isNil());  // handed over
  EXPECT_EQ(cursor->getEntry()->dataBox, nullptr);
}

TEST(GuiListEntries, ModuleDefaults) {
  EXPECT_EQ(defaultGuiListSort(), nullptr);
  initGuiModule();
  EXPECT_TRUE(defaultGuiListEntries()->call().label.isNil());
  EXPECT_EQ(defaultGuiListSort()->call(Str("abc"), Str("ABD"), 0, 0, nullptr, nullptr), 1);
  endGuiModule();
  EXPECT_EQ(defaultGuiListEntries(), nullptr);
}

}  // namespace
}  // namespace bw
