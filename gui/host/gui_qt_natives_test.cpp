// gui/host/gui_qt_natives_test.cpp - key buttons, image items read from
// PNGs made here, window order, and gadget states saved in one process and
// restored in a second.
#include "gui/host/gui_natives.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <spawn.h>
#include <sys/wait.h>

#include "gui/host/core/gui_native_items.h"
#include "gui/host/gui_qt_test_support.h"
#include "platform/native_path.h"
#include "platform/path.h"

extern char** environ;

namespace bw {
namespace {

class QtNativeTest : public QtHostTest {
 protected:
  int drain() {
    for (int i = 0; i < 5; ++i) settle();
    int n = 0;
    while (client_->infoQueued() > 0) client_->waitForChangedGuiItem(), ++n;
    return n;
  }
  // A PNG of w x h in the scratch folder, every pixel `argb`; its internal
  // path.
  Str png(const char* name, int w, int h, QRgb argb) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(QColor::fromRgba(argb));
    std::string host = (config_ / name).string();
    EXPECT_TRUE(image.save(QString::fromStdString(host), "PNG"));
    return cPath::ImportFilePath(dos::hostToNative(host));
  }
};

TEST_F(QtNativeTest, ReturnPressesTheKeyButtonOnceAlsoAfterAStringsOwnReturn) {
  cGuiWindowHostCore* w = window("Keys");
  w->beginGroupVertical(nullptr);
  cGuiString* string = w->addString("s");
  w->beginGroupHorizontal(nullptr);
  cGuiKeyButton* ok = addKeyButton(w, "OK", 10);
  cGuiKeyButton* off = addKeyButton(w, "Off", 'o')->setDisabled(true);
  w->endGroup();
  w->endGroup();
  w->build();
  QWidget* top = topOf(w);
  top->activateWindow();
  auto* okButton = static_cast<QPushButton*>(widgetOf(ok));
  EXPECT_TRUE(okButton->font().bold());
  EXPECT_FALSE(static_cast<QPushButton*>(widgetOf(off))->isEnabled());
  drain();
  static_cast<QLineEdit*>(widgetOf(string))->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  GuiChange change = nextEvent();
  EXPECT_EQ(change.item, string);  // the string's own Return, then the button's
  QTest::qWait(300);
  EXPECT_EQ(drain(), 1);
  EXPECT_EQ(w->infoChangedItem(), ok);
  okButton->setFocus();
  drain();
  QTest::keyClick(okButton, Qt::Key_Return);
  QTest::qWait(300);  // the click animation ends with the release
  EXPECT_EQ(drain(), 1);
  EXPECT_EQ(w->infoChangedItem(), ok);
  QTest::keyClick(okButton, 'o');
  QTest::qWait(300);
  EXPECT_EQ(drain(), 0);  // disabled
  guiWindowToBack(w);
  guiWindowToFront(w);
}

TEST_F(QtNativeTest, ImagesFromPicturesAndAnEndedWindowWithABitmap) {
  Str small = png("small.png", 16, 16, 0xff0000ff);
  Str wide = png("wide.png", 100, 50, 0xff00ff00);
  Str half = png("half.png", 4, 4, 0x80ff0000);
  Str tiny = png("tiny.png", 2, 2, 0xffffffff);
  cGuiWindowHostCore* w = window("Images");
  w->beginGroupHorizontal(nullptr);
  cGuiNativeIcon* icon = addNativeIcon(w, 40, 40);
  cGuiNativeIcon* exact = addNativeIcon(w, 5, 5);
  w->endGroup();
  ASSERT_TRUE(icon->setImage(small, nullptr));
  EXPECT_EQ(icon->infoBitMap()->at(4, 4), 0xff0000ffu);
  EXPECT_EQ(icon->infoBitMap()->at(3, 4), 0u);
  ASSERT_TRUE(icon->setImage(Str("RAM:/none.png"), wide));  // the fallback
  EXPECT_EQ(icon->infoBitMap()->at(20, 10), 0xff00ff00u);
  EXPECT_EQ(icon->infoBitMap()->at(20, 9), 0u);
  EXPECT_FALSE(icon->setImage(Str("RAM:/none.png"), tiny));
  EXPECT_FALSE(icon->setImage(Str("RAM:/none.png"), Str("RAM:/gone.png")));
  EXPECT_EQ(icon->infoImagePath(), wide);
  ASSERT_TRUE(exact->setImage(half, nullptr));
  EXPECT_EQ(exact->infoBitMap()->at(0, 0) >> 24, 0x80u);  // alpha kept
  w->build();
  ASSERT_TRUE(icon->setImage(small, nullptr));
  settle();
  // Ending the built window with its bitmaps: the views go before the items.
  client_->endGuiWindow(w);
}

TEST_F(QtNativeTest, StatesNeedABuiltWindow) {
  cGuiWindowHostCore* w = window("Unbuilt");
  w->beginGroupVertical(nullptr);
  cGuiString* s = w->addString("s");
  w->endGroup();
  guiItemSetNativeAttr(s, 1);
  guiAppSaveStates(w);
  guiAppLoadSavedStates(w);
  guiWindowToFront(w);
  EXPECT_FALSE(std::filesystem::exists(client_->settingsPath()));
}

// The window both processes describe: identified gadgets of each kind.
struct StateWindow {
  cGuiString* string;
  cGuiTick* tick;
  cGuiSlider* slider;
  cGuiCycleChoice* cycle;
};

StateWindow stateWindow(cGuiWindowHostCore* w) {
  w->beginGroupVertical(nullptr);
  StateWindow s{w->addString("s"), w->addTick("t"), w->addSlider("sl", 0, 9),
                w->addCycleChoice("c", {Str("a"), Str("b")})};
  w->endGroup();
  w->build();
  guiItemSetNativeAttr(s.string, 0x53545231);
  guiItemSetNativeAttr(s.tick, 2);
  guiItemSetNativeAttr(s.slider, 3);
  guiItemSetNativeAttr(s.cycle, 4);
  return s;
}

TEST_F(QtNativeTest, StatesComeBackInASecondProcess) {
  const char* config = std::getenv("BW_STATE_CONFIG");
  if (config) {
    // The second process: the first one's settings file.
    setenv("XDG_CONFIG_HOME", config, 1);
    cGuiWindowHostCore* w = window("States");
    StateWindow s = stateWindow(w);
    drain();
    guiAppLoadSavedStates(w);
    EXPECT_EQ(drain(), 3);  // the string comes back without an event
    EXPECT_EQ(s.string->getState(), "kept text");
    EXPECT_TRUE(s.tick->getState());
    EXPECT_EQ(s.slider->getState(), 7);
    EXPECT_EQ(s.cycle->getState(), 1);
    return;
  }
  cGuiWindowHostCore* w = window("States");
  StateWindow s = stateWindow(w);
  s.string->setState("kept text");
  s.tick->setState(true);
  s.slider->setState(7);
  s.cycle->setState(1);
  guiAppSaveStates(w);
  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  std::string filter = "--gtest_filter=QtNativeTest.StatesComeBackInASecondProcess";
  char* argv[] = {exe, filter.data(), nullptr};
  setenv("BW_STATE_CONFIG", config_.c_str(), 1);
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, exe, nullptr, nullptr, argv, environ);
  unsetenv("BW_STATE_CONFIG");
  ASSERT_EQ(spawned, 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the second process failed";
}

}  // namespace
}  // namespace bw
