// gui/host/core/gui_input_hosts_test.cpp - the input hosts without a
// toolkit: events counted in the queue for program and user changes, range
// refusals, layout answers, path forms, the requester and native simples.
#include "gui/host/core/gui_input_hosts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "core/raise_test_support.h"
#include "gui/gui_fixed_list.h"
#include "gui/host/core/gui_host_test_support.h"
#include "gui/host/core/gui_path_request.h"
#include "platform/native_path.h"
#include "platform/path.h"

namespace bw {
namespace {

// A view as a toolkit keeps it: text, value, the notify of user changes.
struct FakeInputView : GuiInputView {
  Str text{""};
  int32_t value = 0;
  bool disabled = false;
  std::function<void()> notify;
  void showText(Text shown) override { text = Str(shown.view()); }
  Str shownText() override { return text; }
  int32_t shownValue() override { return value; }
  void showValue(int32_t v) override { value = v; }
  void showDisabled(bool flag) override { disabled = flag; }
  void attachNotify(std::function<void()> n) override { notify = std::move(n); }
  void* nativeObject() override { return this; }
};

class InputWindow : public FakeGuiWindow {
 public:
  using FakeGuiWindow::FakeGuiWindow;
  ~InputWindow() override { tearDown(); }
  void nativeBuild(const GuiLayoutNode& root) override {
    FakeGuiWindow::nativeBuild(root);
    giveInputViews(root);
  }

 private:
  static void giveInputViews(const GuiLayoutNode& node) {
    auto* item = dynamic_cast<cGuiInputItem*>(node.item);
    if (item && node.kind == GuiLayoutKind::Object && !dynamic_cast<cGuiButtonHost*>(item)) {
      auto view = std::make_unique<FakeInputView>();
      if (auto* s = dynamic_cast<cGuiStringItem*>(item)) view->text = s->infoText().isNil() ? Str("") : s->infoText();
      if (auto* n = dynamic_cast<cGuiNumberItem*>(item)) {
        view->value = n->getState();
        view->text = Str(std::to_string(n->getState()));
      }
      if (auto* t = dynamic_cast<cGuiTick*>(item)) view->value = t->getState();
      view->disabled = item->infoDisabled();
      guiRecord(*item).view = std::move(view);
    }
    for (const GuiLayoutNode& child : node.children) giveInputViews(child);
  }
};

class InputClient : public FakeGuiClient {
 protected:
  cGuiWindowHostCore* newWindow(Text title) override { return new InputWindow(title, this); }
};

FakeInputView* viewOf(cGuiItem* item) { return static_cast<FakeInputView*>(guiView(*item)); }

// One window with one of each gadget, built; the queue starts empty.
struct Gadgets {
  InputClient client;
  InputWindow* w = static_cast<InputWindow*>(client.createGuiWindow("In"));
  cGuiTick* tick;
  cGuiString* string;
  cGuiStringBox* box;
  cGuiPathString* path;
  cGuiNumberString* number;
  cGuiSlider* slider;
  cGuiCycleChoice* cycle;
  cGuiRadioChoice* radio;
  Gadgets() {
    w->beginGroupVertical(nullptr);
    tick = w->addTick("t");
    string = w->addString("s");
    box = w->addStringBox("b");
    path = w->addPathString("p");
    number = w->addNumberString("n", -5, 100);
    slider = w->addSlider("sl", 0, 10);
    cycle = w->addCycleChoice("c", {Str("a"), Str("b"), Str("c")});
    radio = w->addRadioChoice("r", {Str("a"), Str("b"), Str("c")});
    w->endGroup();
    w->build();
  }
  // Handles every queued event; answers how many there were.
  int drain() {
    int n = 0;
    while (client.infoQueued() > 0) client.waitForChangedGuiItem(), ++n;
    return n;
  }
  void type(cGuiItem* item, const char* text) { viewOf(item)->text = Str(text); }
  void userSets(cGuiItem* item, int32_t value) {
    viewOf(item)->value = value;
    viewOf(item)->notify();
  }
};

TEST(GuiInputHosts, ProgramChangesReportOnceAndTheShownValueNever) {
  Gadgets g;
  std::filesystem::path dir = std::filesystem::temp_directory_path();
  struct Case {
    const char* name;
    std::function<void()> differing, same;
  };
  Case cases[] = {
      {"tick", [&] { g.tick->setState(true); }, [&] { g.tick->setState(true); }},
      {"string", [&] { g.string->setState("x"); }, [&] { g.string->setState("x"); }},
      {"path", [&] { g.path->setState("RAM:/a"); }, [&] { g.path->setState("RAM:/a"); }},
      {"number", [&] { g.number->setState(7); }, [&] { g.number->setState(7); }},
      {"slider", [&] { g.slider->setState(3); }, [&] { g.slider->setState(3); }},
      {"cycle", [&] { g.cycle->setState(2); }, [&] { g.cycle->setState(2); }},
      {"radio", [&] { g.radio->setState(1); }, [&] { g.radio->setState(1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.differing();
    EXPECT_EQ(g.drain(), 1);
    c.same();
    EXPECT_EQ(g.drain(), 0);
  }
  EXPECT_TRUE(g.tick->getState());
  EXPECT_EQ(g.string->getState(), "x");
  EXPECT_EQ(g.number->getState(), 7);
  EXPECT_EQ(g.radio->getState(), 1);
}

TEST(GuiInputHosts, UserChangesReturnFocusAndClamping) {
  Gadgets g;
  // A string reports on Return, and on focus loss only when the text changed.
  g.type(g.string, "typed");
  viewOf(g.string)->notify();
  EXPECT_EQ(g.drain(), 1);
  g.w->focusLeft(viewOf(g.string));  // Return acknowledged the text
  EXPECT_EQ(g.drain(), 0);
  g.type(g.string, "other");
  g.w->focusLeft(viewOf(g.string));
  EXPECT_EQ(g.drain(), 1);
  g.w->focusLeft(viewOf(g.string));
  EXPECT_EQ(g.drain(), 0);
  g.string->setState("set");
  g.drain();
  g.w->focusLeft(viewOf(g.string));
  EXPECT_EQ(g.drain(), 0);
  // A number above max (read saturating) becomes max after Return: two events.
  for (const char* typed : {"150", "99999999999"}) {
    g.type(g.number, typed);
    viewOf(g.number)->notify();
    EXPECT_EQ(g.drain(), 2) << typed;
    EXPECT_EQ(g.number->getState(), 100) << typed;
  }
  g.type(g.number, "-99999999999");
  g.w->focusLeft(viewOf(g.number));
  EXPECT_EQ(g.drain(), 2);
  EXPECT_EQ(g.number->getState(), -5);
  // Watched values report every user change.
  g.userSets(g.slider, 4);
  g.userSets(g.cycle, 1);
  EXPECT_EQ(g.drain(), 2);
  EXPECT_EQ(g.slider->getState(), 4);
}

TEST(GuiInputHosts, StringBoxReportsFirstEditUntilHandled) {
  Gadgets g;
  for (int i = 0; i < 5; ++i) viewOf(g.box)->notify();  // a typing burst
  EXPECT_EQ(g.drain(), 1);
  viewOf(g.box)->notify();
  EXPECT_EQ(g.drain(), 1);
  g.box->setState("text");
  EXPECT_EQ(g.drain(), 1);
  EXPECT_EQ(viewOf(g.box)->text, "text");
  g.type(g.box, "typed");
  g.w->focusLeft(viewOf(g.box));
  EXPECT_EQ(g.drain(), 1);
  EXPECT_EQ(g.box->getState(), "typed");
}

TEST(GuiInputHosts, RangeRefusalsLeaveTheValue) {
  Gadgets g;
  g.slider->setState(5), g.cycle->setState(1), g.radio->setState(1), g.number->setState(9);
  g.drain();
  expectRaise([&] { g.slider->setState(11); }, "EMU", "cGuiSlider.setState(); number outside of min/max range");
  expectRaise([&] { g.number->setState(101); }, "EMU", "cGuiNumberString.setState(); number outside of min/max range");
  expectRaise([&] { g.number->setState(-6); }, "EMU", "cGuiNumberString.setState(); number outside of min/max range");
  for (int32_t bad : {-1, 3}) {
    expectRaise([&] { g.cycle->setState(bad); }, "EMU", "cGuiCycleChoice.setState(); choice outside of min/max range");
    expectRaise([&] { g.radio->setState(bad); }, "EMU", "cGuiRadioChoice.setState(); choice outside of min/max range");
  }
  EXPECT_EQ(g.drain(), 0);
  EXPECT_EQ(g.slider->getState(), 5);
  EXPECT_EQ(g.cycle->getState(), 1);
  EXPECT_EQ(g.number->getState(), 9);
}

TEST(GuiInputHosts, LayoutAnswersAndUnknownMethods) {
  InputClient client;
  cGuiWindowHostCore* w = client.createGuiWindow("L");
  w->beginGroupVertical(nullptr);
  auto* tickV = static_cast<cGuiTickHost*>(w->addTick(""));
  auto* radioV = static_cast<cGuiRadioChoiceHost*>(w->addRadioChoice("r", {Str("a")}));
  auto* boxOut = static_cast<cGuiStringBoxHost*>(w->addStringBox("b"));
  w->beginGroupHorizontal(nullptr);
  auto* tickH = static_cast<cGuiTickHost*>(w->addTick(""));
  auto* radioH = static_cast<cGuiRadioChoiceHost*>(w->addRadioChoice("r", {Str("a")}));
  w->endGroup();
  w->beginGroupVertical(nullptr)->initScrollable();
  w->beginGroupVertical(nullptr);
  auto* boxIn = static_cast<cGuiStringBoxHost*>(w->addStringBox("b"));
  auto* tickW = static_cast<cGuiTickHost*>(w->addTick("x")->initNoWeight());
  w->endGroup();
  w->endGroup();
  EXPECT_TRUE(tickV->hasLabelColumn() && tickV->keepsLeft() && radioV->keepsLeft());
  EXPECT_FALSE(tickH->hasLabelColumn() || tickH->keepsLeft() || radioH->keepsLeft());
  EXPECT_TRUE(tickW->hasLabelColumn());
  EXPECT_FALSE(tickW->keepsLeft());
  EXPECT_TRUE(boxIn->infoInVirtualGroup());
  EXPECT_FALSE(boxOut->infoInVirtualGroup());

  // shared(2..4): fixed width, fixed height, cycle chain.
  struct Case {
    cGuiItem* item;
    intptr_t width, height, cycle;
  };
  cGuiItem* number = w->addNative(new cGuiNumberStringHost("n", 0, 1));
  cGuiItem* path = w->addNative(new cGuiPathStringHost("p"));
  Case cases[] = {{tickV, 0, 1, 1}, {tickH, 1, 1, 1}, {radioH, 1, 1, 1}, {radioV, 0, 1, 1},
                  {boxOut, 0, 0, 0}, {number, 0, 1, 1}, {path, 0, 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item->className());
    EXPECT_EQ(c.item->shared(2, nullptr), c.width);
    EXPECT_EQ(c.item->shared(3, nullptr), c.height);
    EXPECT_EQ(c.item->shared(4, nullptr), c.cycle);
  }
  w->endGroup();
  struct Unknown {
    cGuiItem* item;
    const char* message;
  };
  cGuiItem* slider = new cGuiSliderHost("s", 0, 1);
  cGuiItem* simple = new cGuiNativeSimpleHost();
  cGuiItem* string = new cGuiStringHost("s");
  cGuiItem* cycle = new cGuiCycleChoiceHost("c", {Str("a")});
  Unknown unknown[] = {{tickV, "cGuiTick.shared(); unknown method id"},
                       {boxOut, "cGuiStringBox.shared(); unknown method id"},
                       {path, "cGuiPathString.shared(); unknown method id"},
                       {number, "cGuiNumberString.shared(); unknown method id"},
                       {slider, "cGuiSlider.shared(); unknown method id"},
                       {radioV, "cGuiRadioChoice.shared(); unknown method id"},
                       {simple, "cGuiNativeSimple.shared(); unknown method id"},
                       {string, "cGuiString.shared(); unknown method id"},
                       {cycle, "cGuiCycleChoice.shared(); unknown method id"}};
  for (const Unknown& u : unknown) expectRaise([&] { u.item->shared(5, nullptr); }, "BUG", u.message);
  for (cGuiItem* item : {slider, simple, string, cycle}) delete item;
}

TEST(GuiInputHosts, PathStringsShowHostPathsAndAnswerInternalOnes) {
  InputClient client;
  cGuiWindowHostCore* w = client.createGuiWindow("P");
  w->beginGroupVertical(nullptr);
  cGuiPathString* path = w->addPathString("p");
  w->endGroup();
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("bw-path-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  // Unbuilt: a file path set comes back.
  Str file = cPath::ImportFilePath(dos::hostToNative((dir / "f.txt").string()));
  path->setState(file);
  EXPECT_EQ(path->infoText(), (dir / "f.txt").string());
  EXPECT_EQ(path->getState(), file);
  w->build();
  // An existing directory ends in "/"; a device name is a drawer.
  viewOf(path)->text = Str(dir.string());
  EXPECT_EQ(path->getState().view().back(), '/');
  viewOf(path)->text = Str("PROGDIR:");
  EXPECT_EQ(path->getState(), cPath::ImportDirPath("PROGDIR:"));
  expectRaise([&] { path->setState("RAM:a"); }, "EMU", "cGuiPathString.setState(); invalid path supplied");
  std::filesystem::remove_all(dir);
}

TEST(GuiInputHosts, PathRequesterRequestsAndAnswers) {
  InputClient client;
  cGuiWindowHostCore* w = client.createGuiWindow("R");
  w->beginGroupVertical(nullptr);
  auto* file = static_cast<cGuiPathStringHost*>(w->addPathString("f")->initSaveMode());
  auto* drawer = static_cast<cGuiPathStringHost*>(w->addPathString("d")->initDrawer());
  w->endGroup();
  w->build();
  viewOf(file)->text = Str("/home/u/notes.txt");
  GuiPathRequest seen{};
  guiPathRequest(*file, [&](const GuiPathRequest& r) {
    seen = r;
    return std::optional<GuiPathAnswer>(GuiPathAnswer{"/tmp", "other.txt"});
  });
  EXPECT_EQ(seen.title, "Select File");
  EXPECT_EQ(seen.drawer, "/home/u");
  EXPECT_EQ(seen.file, "notes.txt");
  EXPECT_TRUE(seen.saveMode && seen.rejectIcons && !seen.showVolumes);
  EXPECT_EQ(viewOf(file)->text, "/tmp/other.txt");
  EXPECT_EQ(client.infoQueued(), 1u);
  w->focusLeft(viewOf(file));
  EXPECT_EQ(client.infoQueued(), 1u);
  guiPathRequest(*drawer, [&](const GuiPathRequest& r) {
    seen = r;
    return std::optional<GuiPathAnswer>();
  });
  EXPECT_EQ(seen.title, "Select Drawer");
  EXPECT_TRUE(seen.showVolumes && seen.drawersOnly && seen.drawer.empty());
  EXPECT_EQ(client.infoQueued(), 1u);
}

struct FakeValue : GuiNativeValue {
  intptr_t value = 0;
  std::function<void()> changed;
  void* object() override { return this; }
  intptr_t read() override { return value; }
  void write(intptr_t v) override {
    value = v;
    if (changed) changed();
  }
  void watch(std::function<void()> c) override { changed = std::move(c); }
};

TEST(GuiInputHosts, NativeSimpleReadsWritesAndWatches) {
  InputClient client;
  cGuiWindowHostCore* w = client.createGuiWindow("N");
  FakeValue every, once;
  int label = 0;
  w->beginGroupVertical(nullptr);
  cGuiNativeSimple* a = w->addNativeSimpleL(&every);
  auto* b = static_cast<cGuiNativeSimpleHost*>(w->addNative(new cGuiNativeSimpleHost()));
  b->initNative(&once, 3, &label, false, true, false);
  w->endGroup();
  w->build();
  a->setState(5);
  a->setState(6);
  b->setState(2);
  b->setState(3);
  EXPECT_EQ(client.infoQueued(), 3u);
  EXPECT_EQ(a->getState(), 6);
  EXPECT_EQ(b->infoLabelObject(), &label);
  EXPECT_EQ(b->shared(2, nullptr), 0);
}

// The host builds a fixed list's inner groups in its place; a tick clicked
// after the build reports its entry, whose handling keeps the selection.
TEST(GuiInputHosts, FixedListBuildsAndSelectsThroughEvents) {
  InputClient client;
  auto* w = static_cast<InputWindow*>(client.createGuiWindow("F"));
  w->beginGroupVertical(nullptr);
  cGuiFixedList* list = w->beginFixedList(2, nullptr)->initSelectableEntries(false)->initColumnTitles("N\tV");
  cGuiFixedListEntry* a = w->addFixedListEntry("a\t1");
  cGuiFixedListEntry* b = w->addFixedListEntry("b\t2");
  w->endGroup();
  w->endGroup();
  a->setState(true);
  w->build();
  const GuiLayoutNode& grid = w->layout.children.front();
  EXPECT_EQ(grid.group, GuiGroupKind::Grid);
  EXPECT_EQ(grid.columns, 3);
  EXPECT_EQ(grid.scroll, GuiScroll::Nested);
  EXPECT_EQ(grid.children.size(), 9u);  // title row, two rows: entry + two labels each
  viewOf(b->infoTick())->value = 1;
  viewOf(b->infoTick())->notify();
  GuiChange change = client.waitForChangedGuiItem();
  EXPECT_EQ(change.item, b);
  EXPECT_EQ(client.waitForChangedGuiItem().item, a);  // unselected by b's handling
  EXPECT_FALSE(a->getState());
  EXPECT_EQ(list->infoSelectionCount(), 1);
  EXPECT_EQ(list->infoSingleSelectionEntry(), b);
}

}  // namespace
}  // namespace bw
