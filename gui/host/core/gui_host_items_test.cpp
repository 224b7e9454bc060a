// gui/host/core/gui_host_items_test.cpp - the layout tree of the group hosts,
// the page table, and the label, text, bar and button hosts.
#include "gui/host/core/gui_host_items.h"

#include <gtest/gtest.h>

#include <string>

#include "core/raise_test_support.h"
#include "gui/host/core/gui_host_test_support.h"

namespace bw {
namespace {

// The layout as a line: G(h|v|g3|p ...) groups, C(...) two-column groups,
// s spacer, E empty rectangle, _ space, L label column, O object.
std::string shape(const GuiLayoutNode& node) {
  switch (node.kind) {
    case GuiLayoutKind::Spacer: return "s";
    case GuiLayoutKind::EmptyRect: return "E";
    case GuiLayoutKind::HSpace: return "_";
    case GuiLayoutKind::LabelColumn: return "L";
    case GuiLayoutKind::Object: return "O";
    default: break;
  }
  std::string out = node.kind == GuiLayoutKind::Columns ? "C(" : "G";
  if (node.kind == GuiLayoutKind::Group) {
    const char* kinds[] = {"h", "v", "g", "p"};
    out += kinds[static_cast<int>(node.group)];
    if (node.group == GuiGroupKind::Grid) out += std::to_string(node.columns);
    if (node.scroll != GuiScroll::None) out += node.scroll == GuiScroll::Root ? "R" : "N";
    if (node.framed) out += node.title.isNil() ? "F" : "T";
    out += "(";
  }
  for (const GuiLayoutNode& child : node.children) out += shape(child);
  return out + ")";
}

struct Built {
  FakeGuiClient client;
  FakeGuiWindow* w = client.window("Layout");
  std::string build() {
    w->build(true);
    return shape(w->layout);
  }
};

TEST(GuiLayout, GroupsLabelColumnsSpacersAndFrames) {
  struct Case {
    const char* name;
    std::function<void(FakeGuiWindow&)> describe;
    const char* shape;
  };
  Case cases[] = {
      {"labelled texts share two columns",
       [](auto& w) {
         w.beginGroupVertical(nullptr);
         for (int i = 0; i < 3; ++i) w.addText("t");
         w.addButton("b");
         w.endGroup();
       },
       "Gv(C(LOLOLO)O)"},
      {"grid rows padded",
       [](auto& w) {
         w.beginGroupVertical(nullptr);
         for (int n : {4, 3, 0}) {
           w.beginGroupGrid(3, nullptr);
           for (int i = 0; i < n; ++i) w.addButton("b");
           w.endGroup();
         }
         w.endGroup();
       },
       "Gv(Gg3(OOOOss)Gg3(OOO)Gg3(sss))"},
      // The group form makes a grid of 0 columns: laid out as one column.
      {"grid of no columns",
       [](auto& w) {
         w.beginGroupVertical(nullptr);
         w.beginGroup(new cGuiGroupGridHost(nullptr, 0));
         w.addButton("a"), w.addButton("b");
         w.endGroup();
         w.endGroup();
       },
       "Gv(Gg1(OO))"},
      {"empty horizontal", [](auto& w) { w.beginGroupHorizontal(nullptr), w.endGroup(); }, "Gh(E)"},
      // A row of fixed-width buttons beside a flexible text gets a fill spacer.
      {"trailing fill",
       [](auto& w) {
         w.beginGroupVertical(nullptr);
         w.beginGroupHorizontal(nullptr), w.addButton("a")->initNoWeight(), w.endGroup();
         w.addTextBox("flexible");
         w.endGroup();
       },
       "Gv(Gh(Os)C(LO))"},
      {"no fill with no weight",
       [](auto& w) {
         w.beginGroupVertical(nullptr);
         w.beginGroupHorizontal(nullptr)->initNoWeight(), w.addButton("a"), w.endGroup();
         w.addTextBox("flexible");
         w.endGroup();
       },
       "Gv(Gh(O)C(LO))"},
      {"root and nested scrolling",
       [](auto& w) {
         w.beginGroupVertical("Outer")->initScrollable();
         w.beginGroupVertical("Inner")->initScrollable(), w.addLabel("x"), w.endGroup();
         w.endGroup();
       },
       "GvRT(GvN(Os))"},
      {"empty title framed", [](auto& w) { w.beginGroupVertical(""), w.addLabel(""), w.endGroup(); }, "GvF(_)"},
      {"page wraps an item",
       [](auto& w) {
         w.beginGroupPage(nullptr), w.addLabel("a"), w.beginGroupVertical(nullptr), w.endGroup(), w.endGroup();
       },
       "Gp(Gh(Os)Gv(E))"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Built b;
    c.describe(*b.w);
    EXPECT_EQ(b.build(), c.shape);
  }
}

TEST(GuiLayout, PageQueries) {
  FakeGuiClient client;
  FakeGuiWindow* w = client.window("Pages");
  cGuiGroupPage* pages = w->beginGroupPage(nullptr);
  cGuiLabel* wrapped = w->addLabel("first");
  expectRaise([&] { pages->getStateItem(); }, "EMU", "cGuiGroupPage.getStateItem(); the group is not finished");
  expectRaise([&] { pages->infoPageItemOfPageNum(0); }, "EMU",
              "cGuiGroupPage.infoPageItemOfPageNum(); the group is not finished");
  expectRaise([&] { pages->infoPageNumOfPageItem(wrapped); }, "EMU",
              "cGuiGroupPage.infoPageNumOfPageItem(); the group is not finished");
  cGuiGroupVertical* second = w->beginGroupVertical(nullptr);
  cGuiButton* inSecond = w->addButton("b");
  w->endGroup();
  w->endGroup();
  EXPECT_EQ(pages->infoPageNumOfPageItem(wrapped), 0);
  EXPECT_EQ(pages->infoPageItemOfPageNum(1), second);
  EXPECT_EQ(pages->setStateItem(inSecond)->getStateItem(), second);
  expectRaise([&] { pages->infoPageItemOfPageNum(2); }, "EMU",
              "cGuiGroupPage.infoPageItemOfPageNum(); the page number is outside the valid range");
  for (cGuiItem* stranger : {static_cast<cGuiItem*>(nullptr), static_cast<cGuiItem*>(pages)}) {
    expectRaise([&] { pages->infoPageNumOfPageItem(stranger); }, "EMU",
                "cGuiGroupPage.infoPageNumOfPageItem(); the given item is not a page of the group");
  }
  w->build(true);
  pages->setState(0);
  EXPECT_EQ(w->viewOf(*pages)->page, 0);
}

TEST(GuiHostItems, MethodIdsBeyondTheProtocolAreBugs) {
  FakeGuiClient client;
  FakeGuiWindow* w = client.window("Ids");
  w->beginGroupVertical(nullptr);
  std::pair<cGuiItem*, const char*> items[] = {
      {w->addLabel("l"), "cGuiLabel"},         {w->addText("t"), "cGuiText"},
      {w->addTextBox("b"), "cGuiTextBox"},     {w->addBar(nullptr), "cGuiBar"},
      {w->addBreak(), "cGuiBreak"},            {w->addButton("b"), "cGuiButton"},
      {w->beginGroupHorizontal(nullptr), "cGuiGroupHorizontal"},
  };
  w->endGroup();
  w->beginGroupGrid(2, nullptr);
  for (auto& [item, name] : items) {
    SCOPED_TRACE(name);
    expectRaise([&, item = item] { item->shared(5, nullptr); }, "BUG",
                (std::string(name) + ".shared(); unknown method id").c_str());
  }
  expectRaise([&] { w->infoCurrentGroup()->shared(0, nullptr); }, "BUG", "cGuiGroupGridHost.shared(); params=NILL");
}

TEST(GuiHostItems, LabelsTextsBarsAndButtonsAsBuilt) {
  FakeGuiClient client;
  FakeGuiWindow* w = client.window("Items");
  w->beginGroupVertical(nullptr);
  cGuiLabel* styled = w->addLabel("L")->initStyle(15);
  cGuiLabel* empty = w->addLabel("");
  cGuiText* text = w->addText("t")->initAlignRight();
  text->setState("one\ntwo");
  cGuiBar* across = w->addBar(nullptr);
  w->beginGroupHorizontal(nullptr);
  cGuiBar* upright = w->addBar(nullptr);
  w->endGroup();
  cGuiButton* button = w->addButton("b")->initImage("RAM:/no-such-image.png");
  w->endGroup();
  w->build(true);

  EXPECT_EQ(static_cast<cGuiLabelHost*>(styled)->shownText(), "\x1b" "5\x1b" "4\x1b" "b\x1b" "iL");
  EXPECT_EQ(w->viewOf(*empty), nullptr);
  EXPECT_EQ(text->getState(), "\x1brone");
  text->setState("a\nb");
  EXPECT_EQ(text->getState(), "\x1bra");
  EXPECT_TRUE(static_cast<cGuiBarHost*>(across)->isHorizontalBar());
  EXPECT_FALSE(static_cast<cGuiBarHost*>(upright)->isHorizontalBar());
  EXPECT_TRUE(button->infoImage().isNil());
  EXPECT_EQ(w->chain, std::vector<cGuiItem*>{button});
  button->setDisabled(true)->setHelp("help");
  EXPECT_TRUE(w->viewOf(*button)->disabled);
  EXPECT_EQ(w->viewOf(*button)->help, "help");
}

TEST(GuiHostItems, OutputOnlyWindowHasAnEmptyCycleChain) {
  FakeGuiClient client;
  FakeGuiWindow* w = client.window("Out");
  w->beginGroupVertical(nullptr);
  w->addLabel("l");
  w->addText("t");
  w->addTextBox("b");
  w->endGroup();
  w->build();
  EXPECT_TRUE(w->chain.empty());
  EXPECT_EQ(w->firstFocus, nullptr);
}

}  // namespace
}  // namespace bw
