// gui/host/gui_qt_inputs_test.cpp - the input gadgets on the offscreen
// platform: the same event counts as the core through real widgets and
// keys, the accepted characters, the injected path chooser, a native simple
// widget, and a screenshot of every input gadget.
#include "gui/host/gui_qt_inputs.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <filesystem>

#include "gui/host/gui_qt_test_support.h"

namespace bw {
namespace {

class QtInputTest : public QtHostTest {
 protected:
  // Handles every queued event after letting Qt deliver; answers the count.
  int drain() {
    settle();
    int n = 0;
    while (client_->infoQueued() > 0) client_->waitForChangedGuiItem(), ++n;
    return n;
  }
};

struct Every {
  cGuiWindowHostCore* w = nullptr;
  cGuiTick* tick = nullptr;
  cGuiString* string = nullptr;
  cGuiStringBox* box = nullptr;
  cGuiPathString* path = nullptr;
  cGuiNumberString* number = nullptr;
  cGuiSlider* slider = nullptr;
  cGuiCycleChoice* cycle = nullptr;
  cGuiRadioChoice* radio = nullptr;
};

Every everyGadget(cGuiWindowHostCore* w) {
  Every e;
  e.w = w;
  w->beginGroupVertical("Input gadgets");
  e.tick = w->addTick("Tick");
  e.string = w->addString("String")->setHelp("a one-line string");
  e.path = w->addPathString("Path");
  e.number = w->addNumberString("Number", 0, 100)->setUnitText("items");
  e.slider = w->addSlider("Slider", 0, 10);
  e.cycle = w->addCycleChoice("Cycle", {Str("one"), Str("two"), Str("three")});
  e.radio = w->addRadioChoice("Radio", {Str("left"), Str("middle"), Str("right")});
  e.box = w->addStringBox("String box");
  w->endGroup();
  return e;
}

template <class W>
W* widget(cGuiItem* item) {
  return static_cast<W*>(static_cast<QWidget*>(guiView(*item)->nativeObject()));
}

TEST_F(QtInputTest, ProgramChangesThroughWidgetsReportOnce) {
  Every e = everyGadget(window("Parity"));
  e.w->build();
  drain();
  struct Case {
    const char* name;
    std::function<void()> set;
  };
  Case cases[] = {{"tick", [&] { e.tick->setState(true); }},   {"string", [&] { e.string->setState("x"); }},
                  {"path", [&] { e.path->setState("RAM:/a"); }}, {"number", [&] { e.number->setState(7); }},
                  {"slider", [&] { e.slider->setState(3); }},   {"cycle", [&] { e.cycle->setState(2); }},
                  {"radio", [&] { e.radio->setState(1); }}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.set();
    EXPECT_EQ(drain(), 1);
    c.set();
    EXPECT_EQ(drain(), 0);
  }
  EXPECT_TRUE(widget<QCheckBox>(e.tick)->isChecked());
  EXPECT_EQ(widget<QLineEdit>(e.number)->text(), "7");
  EXPECT_EQ(widget<QSlider>(e.slider)->value(), 3);
  EXPECT_EQ(widget<QComboBox>(e.cycle)->currentIndex(), 2);
  EXPECT_EQ(e.radio->getState(), 1);
  e.box->setState("text");
  EXPECT_EQ(drain(), 1);
  EXPECT_EQ(widget<QPlainTextEdit>(e.box)->toPlainText(), "text");
}

TEST_F(QtInputTest, TypedInputReturnFocusAndTheNumberFilter) {
  Every e = everyGadget(window("Typing"));
  e.w->build();
  topOf(e.w)->activateWindow();
  drain();
  auto* string = widget<QLineEdit>(e.string);
  string->setFocus();
  QTest::keyClicks(string, "abc");
  EXPECT_EQ(drain(), 0);
  QTest::keyClick(string, Qt::Key_Return);
  GuiChange change = nextEvent();
  EXPECT_EQ(change.item, e.string);
  EXPECT_EQ(e.string->getState(), "abc");

  // Leaving the string after its Return reports nothing more.
  auto* number = widget<QLineEdit>(e.number);
  number->setText("");
  number->setFocus();
  EXPECT_EQ(drain(), 0);
  QTest::keyClicks(number, "1x2a0-9");
  EXPECT_EQ(number->text(), "120-9");
  number->setText("");
  QTest::keyClicks(number, "150");
  QTest::keyClick(number, Qt::Key_Return);
  EXPECT_EQ(drain(), 2);
  EXPECT_EQ(number->text(), "100");

  // A number string leaving the focus is always reported.
  auto* box = widget<QPlainTextEdit>(e.box);
  box->setFocus();
  EXPECT_EQ(drain(), 1);
  QTest::keyClicks(box, "burst of typing");
  EXPECT_EQ(drain(), 1);
  QTest::keyClicks(box, "!");
  EXPECT_EQ(drain(), 1);
  EXPECT_EQ(e.box->getState(), "burst of typing!");

  QTest::mouseClick(widget<QCheckBox>(e.tick), Qt::LeftButton);
  EXPECT_EQ(drain(), 1);
  EXPECT_TRUE(e.tick->getState());

  // A path reports each edit, so that a dialog's "OK" follows the name as
  // it is typed; Return reports once more.
  auto* path = widget<QLineEdit>(e.path);
  path->setFocus();
  drain();
  QTest::keyClicks(path, "/tmp");
  EXPECT_EQ(drain(), 4);
  EXPECT_EQ(path->text(), "/tmp");
  QTest::keyClick(path, Qt::Key_Backspace);
  EXPECT_EQ(drain(), 1);
  QTest::keyClick(path, Qt::Key_Return);
  EXPECT_EQ(drain(), 1);
  path->clearFocus();
  EXPECT_EQ(drain(), 0);  // nothing new to report when it leaves
}

TEST_F(QtInputTest, PathButtonAsksTheInjectedChooser) {
  Every e = everyGadget(window("Path"));
  e.w->build();
  e.path->setState("RAM:/notes.txt");
  drain();
  GuiPathRequest seen{};
  guiSetPathChooser([&](const GuiPathRequest& r) {
    seen = r;
    return std::optional<GuiPathAnswer>(GuiPathAnswer{"/tmp", "chosen.txt"});
  });
  QToolButton* button = topOf(e.w)->findChild<QToolButton*>();
  ASSERT_NE(button, nullptr);
  QTest::mouseClick(button, Qt::LeftButton);
  guiSetPathChooser({});
  EXPECT_EQ(seen.title, "Select File");
  EXPECT_EQ(seen.file, "notes.txt");
  EXPECT_EQ(drain(), 1);
  EXPECT_EQ(widget<QLineEdit>(e.path)->text(), "/tmp/chosen.txt");
  EXPECT_FALSE(static_cast<cGuiPathStringHost*>(e.path)->infoChosenForSaving());  // not a save request

  // A save gadget's chooser answer is known as chosen until it is edited.
  Every s = everyGadget(window("Save"));
  auto* save = static_cast<cGuiPathStringHost*>(s.path->initSaveMode());
  s.w->build();
  drain();
  guiSetPathChooser([&](const GuiPathRequest& r) {
    seen = r;
    return std::optional<GuiPathAnswer>(GuiPathAnswer{"/tmp", "there.opml"});
  });
  guiPathRequest(*save, guiPathChooser());
  guiSetPathChooser({});
  EXPECT_TRUE(seen.saveMode);
  EXPECT_EQ(drain(), 1);
  EXPECT_TRUE(save->infoChosenForSaving());
  auto* edit = widget<QLineEdit>(s.path);
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_X);
  EXPECT_EQ(drain(), 1);
  EXPECT_FALSE(save->infoChosenForSaving());
  QTest::keyClick(edit, Qt::Key_Backspace);
  EXPECT_EQ(drain(), 1);
  EXPECT_FALSE(save->infoChosenForSaving());  // typed back, it is the user's own name
}

// A spin box's value as a native simple gadget.
struct SpinValue : GuiNativeValue {
  QSpinBox* spin = new QSpinBox();
  void* object() override { return spin; }
  intptr_t read() override { return spin->value(); }
  void write(intptr_t v) override { spin->setValue(static_cast<int>(v)); }
  void watch(std::function<void()> changed) override {
    QObject::connect(spin, &QSpinBox::valueChanged, spin, [changed] { changed(); });
  }
};

TEST_F(QtInputTest, NativeSimpleWidgetAndItsLabel) {
  cGuiWindowHostCore* w = window("Native");
  SpinValue value;
  auto* label = new QLabel("Spin");
  w->beginGroupVertical(nullptr);
  auto* simple = static_cast<cGuiNativeSimpleHost*>(w->addNative(new cGuiNativeSimpleHost()));
  simple->initNative(&value, kGuiWatchEveryTime, label, false, true, true);
  w->endGroup();
  w->build();
  EXPECT_EQ(value.spin->window(), topOf(w));
  EXPECT_EQ(label->window(), topOf(w));
  simple->setState(4);
  EXPECT_EQ(drain(), 1);
  value.spin->setValue(9);
  EXPECT_EQ(drain(), 1);
  EXPECT_EQ(simple->getState(), 9);
}

TEST_F(QtInputTest, ScreenshotOfEveryInputGadget) {
  Every e = everyGadget(window("Every input gadget"));
  e.tick->setState(true);
  e.string->setState("a string");
  e.number->setState(42);
  e.slider->setState(7);
  e.box->setState("line one\nline two");
  e.w->build();
  QWidget* top = topOf(e.w);
  top->resize(420, 480);
  settle();
  char exe[4096] = {};
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  // build/test/gui/host/gui_host_tests -> build/test/artefacts/gui
  std::filesystem::path dir = std::filesystem::path(exe).parent_path().parent_path().parent_path() / "artefacts/gui";
  std::filesystem::create_directories(dir);
  EXPECT_TRUE(top->grab().save(QString::fromStdString((dir / "input_gadgets.png").string())));
}

}  // namespace
}  // namespace bw
