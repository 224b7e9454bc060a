// gui/gui_test_support.h - test helpers: a window whose factory hooks make the
// neutral items, so the builder and the item tree run without a host, and
// the labels of a list.
#pragma once

#include <string>
#include <vector>

#include "gui/gui_list.h"
#include "gui/gui_window.h"

namespace bw {

// The labels of a list's rows, top to bottom (the cursor ends on the last).
inline std::vector<std::string> guiListLabels(cGuiList& list) {
  std::vector<std::string> labels;
  if (!list.cursor_gotoStart()) return labels;
  do labels.push_back(list.cursor_getLabel().str());
  while (list.cursor_gotoNext(1) == 1);
  return labels;
}

class NeutralGuiWindow : public cGuiWindow {
 protected:
  cGuiGroupHorizontal* makeGroupHorizontal(Text title) override { return new cGuiGroupHorizontal(title); }
  cGuiGroupVertical* makeGroupVertical(Text title) override { return new cGuiGroupVertical(title); }
  cGuiGroupGrid* makeGroupGrid(Text title, int32_t columns) override { return new cGuiGroupGrid(title, columns); }
  cGuiGroupPage* makeGroupPage(Text title) override { return new cGuiGroupPage(title); }
  cGuiBreak* makeBreak() override { return new cGuiBreak(); }
  cGuiBar* makeBar(Text title) override { return new cGuiBar(title); }
  cGuiLabel* makeLabel(Text label) override { return new cGuiLabel(label); }
  cGuiText* makeText(Text label) override { return new cGuiText(label); }
  cGuiTextBox* makeTextBox(Text label) override { return new cGuiTextBox(label); }
  cGuiButton* makeButton(Text label) override { return new cGuiButton(label); }
  cGuiTick* makeTick(Text label) override { return new cGuiTick(label); }
  cGuiString* makeString(Text label) override { return new cGuiString(label); }
  cGuiStringBox* makeStringBox(Text label) override { return new cGuiStringBox(label); }
  cGuiPathString* makePathString(Text label) override { return new cGuiPathString(label); }
  cGuiNumberString* makeNumberString(Text label, int32_t min, int32_t max) override {
    return new cGuiNumberString(label, min, max);
  }
  cGuiSlider* makeSlider(Text label, int32_t min, int32_t max) override { return new cGuiSlider(label, min, max); }
  cGuiCycleChoice* makeCycleChoice(Text label, const StrChain& choices) override {
    return new cGuiCycleChoice(label, choices);
  }
  cGuiRadioChoice* makeRadioChoice(Text label, const StrChain& choices) override {
    return new cGuiRadioChoice(label, choices);
  }
  cGuiNativeSimple* makeNativeSimple() override { return new cGuiNativeSimple(); }
  cGuiList* makeList(int32_t columns, Text title) override { return new cGuiList(this, columns, title); }
};

}  // namespace bw
