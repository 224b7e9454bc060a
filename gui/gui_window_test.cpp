// gui/gui_window_test.cpp - the item tree and the window builder, through a
// window whose hooks make neutral items.
#include "gui/gui_window.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/raise_test_support.h"
#include "gui/gui_test_support.h"

namespace bw {
namespace {

std::vector<std::string> gEnded;

class RecordingLabel : public cGuiLabel {
 public:
  using cGuiLabel::cGuiLabel;
  ~RecordingLabel() override { gEnded.push_back(infoLabel().str()); }
};

TEST(GuiItemTree, FramingDisablingAndEndOrder) {
  NeutralGuiWindow w;
  cGuiGroupVertical* root = w.beginGroupVertical("");
  EXPECT_TRUE(root->infoFramed());
  EXPECT_TRUE(root->infoTitle().isNil());
  cGuiGroupHorizontal* a = w.beginGroupHorizontal(nullptr);
  EXPECT_FALSE(a->infoFramed());
  cGuiGroupGrid* b = w.beginGroupGrid(2, "Deep");
  EXPECT_EQ(b->infoTitle(), "Deep");
  cGuiButton* deep = w.addButton("Go");
  cGuiLabel* label = w.addLabel("L");
  w.endGroup();
  w.endGroup();
  cGuiTick* top = w.addTick("T");
  w.endGroup();
  root->setDisabled(true);
  EXPECT_TRUE(deep->infoDisabled());
  EXPECT_TRUE(top->infoDisabled());
  EXPECT_EQ(label->infoParent(), b);
  EXPECT_EQ(b->infoParent(), a);

  gEnded.clear();
  {
    cGuiGroupVertical group(nullptr);
    for (const char* name : {"first", "second", "third"}) group.add(new RecordingLabel(name));
  }
  EXPECT_EQ(gEnded, (std::vector<std::string>{"first", "second", "third"}));
}

TEST(GuiItemTree, PageStates) {
  cGuiGroupPage pages(nullptr);
  EXPECT_EQ(pages.infoLastPageNum(), -1);
  expectRaise([&] { pages.setState(0); }, "EMU",
              "cGuiGroupPage.setState(); the page number is outside the valid range");
  for (int i = 0; i < 3; ++i) pages.add(new cGuiLabel("p"));
  for (int page : {0, 2, 1}) EXPECT_EQ(pages.setState(page)->getState(), page);
  for (int bad : {-1, 3}) {
    EXPECT_THROW(pages.setState(bad), eException);
    EXPECT_EQ(pages.getState(), 1);
  }
  EXPECT_EQ(pages.infoLastPageNum(), 2);
}

// Every refused call names its own operation and leaves the builder as it was.
TEST(GuiWindowBuilder, MisuseIsRefusedAndChangesNothing) {
  using Call = std::function<void(NeutralGuiWindow&)>;
  const std::string inside = "(); must be done inside a group";
  struct Case {
    Call call;
    std::string message;
  };
  std::vector<Case> outside = {
      {[](auto& w) { w.addBreak(); }, "cGuiWindow.addBreak" + inside},
      {[](auto& w) { w.addBar(nullptr); }, "cGuiWindow.addBar" + inside},
      {[](auto& w) { w.addLabel("x"); }, "cGuiWindow.addLabel" + inside},
      {[](auto& w) { w.addText("x"); }, "cGuiWindow.addText" + inside},
      {[](auto& w) { w.addTextBox("x"); }, "cGuiWindow.addTextBox" + inside},
      {[](auto& w) { w.addButton("x"); }, "cGuiWindow.addButton" + inside},
      {[](auto& w) { w.addTick("x"); }, "cGuiWindow.addTick" + inside},
      {[](auto& w) { w.addString("x"); }, "cGuiWindow.addString" + inside},
      {[](auto& w) { w.addStringBox("x"); }, "cGuiWindow.addStringBox" + inside},
      {[](auto& w) { w.addPathString("x"); }, "cGuiWindow.addPathString" + inside},
      {[](auto& w) { w.addNumberString("x", 0, 9); }, "cGuiWindow.addNumberString" + inside},
      {[](auto& w) { w.addSlider("x", 0, 9); }, "cGuiWindow.addSlider" + inside},
      {[](auto& w) { w.addCycleChoice("x", {Str("a")}); }, "cGuiWindow.addCycleChoice" + inside},
      {[](auto& w) { w.addRadioChoice("x", {Str("a")}); }, "cGuiWindow.addRadioChoice" + inside},
      {[](auto& w) { w.addNative(nullptr); }, "cGuiWindow.addNative" + inside},
      {[](auto& w) { w.addNativeSimpleL(nullptr); }, "cGuiWindow.addNativeSimpleL" + inside},
      {[](auto& w) { w.endGroup(); }, "cGuiWindow.endGroup(); already closed all groups"},
      {[](auto& w) { w.beginGroupVertical(nullptr); },
       "cGuiWindow.beginGroup(); a window can only have one root group"},
  };
  std::vector<Case> inHorizontal = {
      {[](auto& w) { w.addBar("Title"); },
       "cGuiWindow.addBar(); a title does not make sense in a horizontal group (for a vertical bar)"},
      {[](auto& w) { w.beginGroupGrid(0, nullptr); }, "cGuiWindow.beginGroupGrid(); columns<1"},
      {[](auto& w) { w.initSaveID(0); }, "cGuiWindow.initSaveID(); \"id\" cannot be 0"},
      {[](auto& w) { w.addNative(nullptr); }, "cGuiGroupItem.add(); item=NIL"},
  };
  for (auto* cases : {&outside, &inHorizontal}) {
    for (const Case& c : *cases) {
      SCOPED_TRACE(c.message);
      NeutralGuiWindow w;
      cGuiGroupHorizontal* root = w.beginGroupHorizontal(nullptr);
      w.addLabel("kept");
      if (cases == &outside) w.endGroup();
      cGuiGroupItem* current = w.infoCurrentGroup();
      expectRaise([&] { c.call(w); }, "EMU", c.message.c_str());
      EXPECT_EQ(w.infoRootGroup(), root);
      EXPECT_EQ(w.infoCurrentGroup(), current);
      EXPECT_EQ(root->infoCount(), 1);
      EXPECT_EQ(w.infoSaveID(), 0u);
    }
  }
}

TEST(GuiWindowBuilder, NoWeightReachesDirectOutputItemsAndGroupsOnly) {
  NeutralGuiWindow w;
  w.beginGroupVertical(nullptr)->initNoWeight();
  cGuiText* text = w.addText("t");
  cGuiButton* button = w.addButton("b");
  cGuiBar* bar = w.addBar("bar");
  cGuiGroupHorizontal* inner = w.beginGroupHorizontal(nullptr);
  cGuiLabel* deep = w.addLabel("deep");
  w.endGroup();
  w.endGroup();
  EXPECT_TRUE(text->infoNoWeight());
  EXPECT_TRUE(button->infoNoWeight());
  EXPECT_TRUE(inner->infoNoWeight());
  EXPECT_FALSE(deep->infoNoWeight());
  EXPECT_EQ(bar->infoTitle(), "bar");
  EXPECT_EQ(w.infoCurrentGroup(), nullptr);
}

TEST(GuiWindowBuilder, NeutralStateAndDefaults) {
  NeutralGuiWindow w;
  w.beginGroupVertical(nullptr);
  EXPECT_EQ(w.addString("s")->initMaxChars(10)->infoMaxChars(), 256);
  EXPECT_EQ(w.addString("s")->initMaxChars(1000)->infoMaxChars(), 1000);
  EXPECT_EQ(w.addSlider("s", 1, 10)->getState(), 1);
  EXPECT_EQ(w.addNumberString("n", 1, 10)->getState(), 0);
  cGuiCycleChoice* cycle = w.addCycleChoice("c", {Str("a"), Str("b"), Str("c")});
  EXPECT_EQ(cycle->infoMax(), 2);
  EXPECT_TRUE(w.addButton("b")->initImage("")->infoImage().isNil());
  EXPECT_TRUE(w.addLabel("l")->setHelp("help")->setHelp(nullptr)->infoHelp().isNil());
  EXPECT_EQ(w.addText("t")->infoAlignment(), 'L');
  EXPECT_EQ(w.addLabel("l")->infoAlignment(), 0);
  w.endGroup();
  EXPECT_EQ(w.initSaveID(guiSaveId("Main"))->infoSaveID(), 0x4D61696Eu);

  w.setCloseRequested(true);
  EXPECT_TRUE(w.infoCloseRequested(true));
  EXPECT_TRUE(w.infoCloseRequested(false));
  EXPECT_FALSE(w.infoCloseRequested(false));
  w.setCloseRequested(true);
  w.open();
  EXPECT_FALSE(w.infoCloseRequested(true));
}

// A host overriding the typed form is reached through every base form.
TEST(GuiGadgets, HostOverrideCatchesBaseForm) {
  struct Host : cGuiButton {
    using cGuiButton::cGuiButton;
    int calls = 0;
    cGuiButton* setHelp(Text help) override {
      ++calls;
      return cGuiButton::setHelp(help);
    }
    cGuiButton* setDisabled(bool flag) override {
      ++calls;
      return cGuiButton::setDisabled(flag);
    }
  } host("b");
  static_cast<cGuiOutputItem&>(host).setHelp("h");
  static_cast<cGuiInputItem&>(host).setDisabled(true);
  host.setHelp("again");
  EXPECT_EQ(host.calls, 3);
  EXPECT_EQ(host.infoHelp(), "again");
}

}  // namespace
}  // namespace bw
