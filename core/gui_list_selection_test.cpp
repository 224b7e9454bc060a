// Tests of collectSelectionNumbers against a GUI list double.
#include "core/gui_list_selection.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/exception.h"

namespace bw {
namespace {

// Rows with selection flags and optional boxes, and a "window built" switch.
class FakeGuiList : public GuiListSelection {
 public:
  struct Row {
    bool selected;
    std::unique_ptr<box> data;
  };

  void add(bool selected, std::unique_ptr<box> data = nullptr) { rows_.push_back({selected, std::move(data)}); }
  bool built = true;

  bool cursor_gotoFirstSelected() override {
    if (!built) raise("EMU", "cGuiList.cursor_gotoFirstSelected(); the window must be built first");
    cursor_ = -1;
    return seekSelected();
  }
  bool cursor_gotoNextSelected() override {
    if (!built) raise("EMU", "cGuiList.cursor_gotoNextSelected(); the window must be built first");
    return seekSelected();
  }
  void cursor_setState(bool state) override {
    if (!built) raise("EMU", "cGuiList.cursor_setState(); the window must be built first");
    rows_.at(static_cast<size_t>(cursor_)).selected = state;
  }
  box* cursor_getDataBox() override {
    if (rows_.empty()) raise("EMU", "cGuiList.cursor_getDataBox(); list is empty");
    return rows_.at(static_cast<size_t>(cursor_)).data.get();
  }
  Str cursor_getLabel() override { return Str("row"); }

  std::vector<bool> selection() const {
    std::vector<bool> out;
    for (const Row& r : rows_) out.push_back(r.selected);
    return out;
  }

 private:
  bool seekSelected() {
    while (++cursor_ < static_cast<int>(rows_.size())) {
      if (rows_[static_cast<size_t>(cursor_)].selected) return true;
    }
    return false;
  }

  std::vector<Row> rows_;
  int cursor_ = -1;
};

TEST(CollectSelectionNumbersTest, KeysOfTheSelectedEntries) {
  for (bool deselect : {true, false}) {
    FakeGuiList list;
    int feeds[3];
    list.add(true, newBoxPTR(&feeds[0]));
    list.add(false, newBoxPTR(&feeds[1]));
    list.add(true, newBoxVALUE(-7));
    list.add(true);  // no box: key 0
    list.add(true, newBoxPTR(&feeds[2]));
    auto set = collectSelectionNumbers(list, deselect);
    EXPECT_EQ(set->infoCount(), 4u);
    EXPECT_EQ(set->get(reinterpret_cast<intptr_t>(&feeds[0])), set.get());
    EXPECT_EQ(set->get(reinterpret_cast<intptr_t>(&feeds[1])), nullptr);
    EXPECT_EQ(set->get(reinterpret_cast<intptr_t>(&feeds[2])), set.get());
    EXPECT_EQ(set->get(-7), set.get());
    EXPECT_EQ(set->get(0), set.get());
    if (deselect) {
      EXPECT_EQ(list.selection(), (std::vector<bool>{false, false, false, false, false}));
    } else {
      EXPECT_EQ(list.selection(), (std::vector<bool>{true, false, true, true, true}));
    }
  }
}

TEST(CollectSelectionNumbersTest, PointersDifferingAboveBit31AreTwoKeys) {
  FakeGuiList list;
  auto low = reinterpret_cast<void*>(static_cast<uintptr_t>(0x12345678));
  auto high = reinterpret_cast<void*>(static_cast<uintptr_t>(0x12345678) | (uintptr_t{1} << 40));
  list.add(true, newBoxPTR(low));
  list.add(true, newBoxPTR(high));
  list.add(true, newBoxBIGVALUE(int64_t{1} << 33));
  auto set = collectSelectionNumbers(list, false);
  EXPECT_EQ(set->infoCount(), 3u);
  EXPECT_NE(set->get(reinterpret_cast<intptr_t>(high)), nullptr);
  EXPECT_NE(set->get(reinterpret_cast<intptr_t>(low)), nullptr);
  EXPECT_NE(set->get(intptr_t{1} << 33), nullptr);
}

TEST(CollectSelectionNumbersTest, NothingSelectedGivesAnEmptySet) {
  FakeGuiList list;
  list.add(false, newBoxVALUE(1));
  auto set = collectSelectionNumbers(list, true);
  EXPECT_EQ(set->infoCount(), 0u);
}

TEST(CollectSelectionNumbersTest, ListErrorsPassThrough) {
  FakeGuiList list;
  list.add(true, newBoxVALUE(1));
  list.built = false;
  try {
    collectSelectionNumbers(list, true);
    FAIL();
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "EMU");
    EXPECT_EQ(e.message(), "cGuiList.cursor_gotoFirstSelected(); the window must be built first");
  }
  FakeGuiList strings;
  strings.add(true, newBoxSTRING(Str("x")));
  try {
    collectSelectionNumbers(strings, false);
    FAIL();
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "EMU");
    EXPECT_EQ(e.message(), "collectSelectionNumbers(); the entry's box holds no number");
  }
}

}  // namespace
}  // namespace bw
