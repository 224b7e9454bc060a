// gui/host/gui_app_client_test.cpp - the Qt host on the offscreen platform:
// clicks, help and disabled, busy windows, drops, placement, the cycle
// chain, kill signals, the locale and start-up without a display.
#include "gui/host/gui_app_client.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <clocale>
#include <csignal>
#include <fstream>

#include "core/raise_test_support.h"
#include "gui/host/gui_qt_test_support.h"
#include "platform/app_host.h"
#include "platform/dos_env.h"

namespace bw {
namespace {

struct ButtonWindow {
  cGuiWindowHostCore* w;
  cGuiButton* a;
  cGuiButton* b;
};

ButtonWindow buttons(cGuiWindowHostCore* w) {
  w->beginGroupHorizontal(nullptr);
  cGuiButton* a = w->addButton("A");
  w->addLabel("between");
  cGuiButton* b = w->addButton("B");
  w->endGroup();
  return {w, a, b};
}

TEST_F(QtHostTest, ClicksHelpDisabledAndTabOrder) {
  ButtonWindow bw = buttons(window("Buttons"));
  bw.a->setHelp("before");
  bw.b->setDisabled(true);
  bw.w->build();
  auto* a = static_cast<QPushButton*>(widgetOf(bw.a));
  auto* b = static_cast<QPushButton*>(widgetOf(bw.b));
  EXPECT_EQ(a->toolTip(), "before");
  EXPECT_FALSE(b->isEnabled());
  bw.a->setHelp("after");
  bw.b->setDisabled(false);
  EXPECT_EQ(a->toolTip(), "after");
  EXPECT_TRUE(b->isEnabled());
  QWidget* next = a->nextInFocusChain();
  while (!(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
  EXPECT_EQ(next, b);

  QTest::mouseClick(a, Qt::LeftButton);
  GuiChange click = nextEvent();
  EXPECT_EQ(click.item, bw.a);
  EXPECT_EQ(click.window, bw.w);
  QTest::mousePress(a, Qt::LeftButton);
  QTest::mouseRelease(a, Qt::LeftButton, {}, QPoint(-20, -20));  // released outside
  EXPECT_EQ(client_->checkForChangedGuiItem(false).item, nullptr);
  EXPECT_EQ(client_->infoQueued(), 0u);
}

TEST_F(QtHostTest, BusyWindowTakesNoClickOrClose) {
  ButtonWindow bw = buttons(window("Busy"));
  bw.w->build();
  bw.w->setBusy(true);
  QTest::mouseClick(widgetOf(bw.a), Qt::LeftButton);
  topOf(bw.w)->close();
  settle();
  EXPECT_EQ(client_->infoQueued(), 0u);
  bw.w->setBusy(false);
  topOf(bw.w)->close();
  GuiChange close = nextEvent();
  EXPECT_EQ(close.item, nullptr);
  EXPECT_TRUE(bw.w->infoCloseRequested(false));
  EXPECT_TRUE(bw.w->infoIsOpen());  // the close button only asks
}

TEST_F(QtHostTest, DroppedFileAndFolder) {
  cGuiWindowHostCore* w = window("Drop");
  w->initAppWindow();
  w->beginGroupVertical(nullptr), w->addLabel("drop here"), w->endGroup();
  w->build();
  std::filesystem::path file = config_ / "feeds.opml";
  std::ofstream(file) << "<opml/>";
  auto* mime = new QMimeData();
  mime->setUrls({QUrl::fromLocalFile(QString::fromStdString(file.string())),
                 QUrl::fromLocalFile(QString::fromStdString(config_.string()))});
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(topOf(w), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(topOf(w), &drop);
  nextEvent();
  Str first = w->getDroppedPath(false);
  EXPECT_TRUE(first.view().ends_with("/feeds.opml")) << first.view();
  EXPECT_TRUE(w->getDroppedPath(false).isNil());
  nextEvent();
  EXPECT_TRUE(w->getDroppedPath(false).view().ends_with("/")) ;
  delete mime;
}

TEST_F(QtHostTest, PlacementReadsBackAndReturnsBySaveId) {
  cGuiWindowHostCore* w = window("Placed");
  w->initSaveID(guiSaveId("Test"));
  w->beginGroupVertical(nullptr), w->addLabel("x"), w->endGroup();
  w->setPosition(40, 50);
  w->setSize(300, 200);
  w->build();
  settle();
  EXPECT_EQ(w->getPosition().x, 40);
  EXPECT_EQ(w->infoWidth(), 300);
  w->setPosition(70, 80);  // as the user would move it
  w->close();
  EXPECT_EQ(w->getPosition().y, 80);
  w->open();
  EXPECT_EQ(topOf(w)->frameGeometry().topLeft(), QPoint(70, 80));
  client_->endGuiWindow(w);

  cGuiWindowHostCore* again = window("Placed again");
  again->initSaveID(guiSaveId("Test"));
  again->beginGroupVertical(nullptr), again->addLabel("x"), again->endGroup();
  again->build();
  EXPECT_EQ(topOf(again)->frameGeometry().topLeft(), QPoint(70, 80));
  EXPECT_EQ(topOf(again)->width(), 300);
}

TEST_F(QtHostTest, WeightedTextShrinksWeightlessDoesNot) {
  std::string longText(200, 'W');
  QLabel* labels[2];
  for (bool weightless : {false, true}) {
    cGuiWindowHostCore* w = window("Texts");
    w->beginGroupVertical(nullptr);
    cGuiText* text = w->addText("text");
    if (weightless) text->initNoWeight();
    w->endGroup();
    text->setState(longText);
    w->setSize(200, 100);
    w->build();
    labels[weightless] = static_cast<QLabel*>(widgetOf(text));
  }
  settle();
  EXPECT_LT(labels[0]->width(), labels[0]->sizeHint().width());
  EXPECT_GE(labels[1]->width(), labels[1]->sizeHint().width());
  EXPECT_EQ(labels[1]->text().toStdString(), longText);
}

// Texts shown and busy cursors set between two passes reach their widgets
// at the next pass, or when a window's or a text's widget is asked for; a
// window ended with a change still waiting leaves nothing behind. Seeded
// steps against a model of what each label and window must show.
TEST_F(QtHostTest, ShownTextsReachTheirLabelsAtThePassOrWhenAskedFor) {
  struct Shown {
    cGuiWindowHostCore* w;
    cGuiText* text;
    QLabel* label;
    std::string model;
    bool busy;
  };
  std::vector<Shown> texts;
  const auto make = [&](int i) {
    cGuiWindowHostCore* w = window("Texts");
    w->beginGroupVertical(nullptr);
    cGuiText* text = w->addText("text");
    w->endGroup();
    w->build();
    w->open();
    texts[i] = {w, text, static_cast<QLabel*>(widgetOf(text)), "", false};
  };
  texts.resize(3);
  for (int i = 0; i < 3; ++i) make(i);
  const auto expectModel = [&](int only) {
    for (int i = 0; i < 3; ++i) {
      if (only >= 0 && only != i) continue;
      EXPECT_EQ(texts[i].label->text().toStdString(), texts[i].model) << i;
      if (only >= 0) continue;
      QWidget* top = texts[i].label->window();
      EXPECT_EQ(top->testAttribute(Qt::WA_SetCursor) && top->cursor().shape() == Qt::WaitCursor, texts[i].busy) << i;
    }
  };
  std::srand(34);
  for (int step = 0; step < 400; ++step) {
    Shown& t = texts[std::rand() % 3];
    switch (std::rand() % 8) {
      case 0: topOf(t.w); expectModel(-1); break;
      case 1: widgetOf(t.text); expectModel(int(&t - texts.data())); break;
      case 2: client_->endGuiWindow(t.w), make(int(&t - texts.data())); break;
      case 3: t.busy = !t.busy, t.w->setBusy(t.busy); break;
      default: t.model = std::to_string(std::rand() % 4) + " bytes", t.text->setState(t.model); break;
    }
  }
  ::usleep(25000);  // past the poll's pass interval
  client_->checkForChangedGuiItem(false);
  expectModel(-1);
  for (Shown& t : texts) EXPECT_EQ(t.text->getState().str(), t.model);
}

TEST_F(QtHostTest, KillSignalsAskEveryWindowAndAThrowingSlotIsPrinted) {
  ButtonWindow one = buttons(window("One"));
  one.w->build();
  cGuiWindowHostCore* two = window("Two");
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    std::raise(sig);
    EXPECT_EQ(nextEvent().window, one.w);
    EXPECT_EQ(nextEvent().window, two);
    EXPECT_TRUE(one.w->infoQuitRequested(false));
    EXPECT_TRUE(two->infoQuitRequested(false));  // no reader takes it back
    EXPECT_TRUE(client_->infoTerminating());
  }
  EXPECT_FALSE(dos::checkBreak());
  // A resource that is not a window: the kill command raises inside its
  // Qt callback, which prints and goes on.
  client_->add(new cAppResource());
  testing::internal::CaptureStdout();
  std::raise(SIGHUP);
  for (int i = 0; i < 20 && client_->infoQueued() < 2; ++i) settle();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "EXCEPTION: \"BUG\"; cGui; appCxBroker(); resource is not a window!.\n");
  QTest::mouseClick(widgetOf(one.a), Qt::LeftButton);
  while (client_->infoQueued() > 1) nextEvent();
  EXPECT_EQ(nextEvent().item, one.a);
}

// A toolkit dialog in a loop of its own, as the path chooser runs, ends at
// the signal without an answer.
TEST_F(QtHostTest, AKillSignalRejectsAToolkitDialog) {
  QDialog dialog;
  QTimer::singleShot(50, [] { std::raise(SIGTERM); });
  EXPECT_EQ(dialog.exec(), QDialog::Rejected);
  EXPECT_TRUE(client_->infoTerminating());
}

TEST_F(QtHostTest, NumbersStayLocaleFreeWhenTheApplicationIsReused) {
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "no de_DE.UTF-8 locale";
  cGuiAppClient second;
  cApp other;
  other.initTitle("second");
  other.registerClient(&second);
  other.build();  // reuses the QApplication of the fixture
  EXPECT_STREQ(std::localeconv()->decimal_point, ".");
  EXPECT_EQ(std::strtod("1.5", nullptr), 1.5);
  other.unbuild();
  EXPECT_NE(QCoreApplication::instance(), nullptr);
  std::setlocale(LC_ALL, "C");
}

// Each runs in a fresh process with no QApplication.
TEST(QtHostStart, WithoutADisplayNothingOfQtIsMade) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        for (const char* v : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) unsetenv(v);
        initAppHost();
        initGuiHostModule();
        newAppHost("Brindlework");
        try {
          appHost()->build();
          std::_Exit(1);
        } catch (const eException& e) {
          if (e.code() != "ERR" || e.message() != "cGuiAppClient.build(); failed to create GUI") std::_Exit(2);
        }
        if (QCoreApplication::instance()) std::_Exit(3);
        endGuiHostModule();
        endAppHost();
        std::raise(SIGTERM);  // the default action still ends the process
        std::_Exit(4);
      },
      testing::KilledBySignal(SIGTERM), "");
}

TEST(QtHostStart, FrameReachesTheClientAndNumbersStayLocaleFree) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
        initAppHost();
        initGuiHostModule();
        newAppHost("Brindlework");
        appHost()->build();
        if (!guiAppClient()->hasApp()) std::_Exit(1);
        if (german && std::strtod("1.5", nullptr) != 1.5) std::_Exit(2);
        MinimiseApp(false);
        if (!guiAppClient()->infoIconified()) std::_Exit(3);
        unbuildAppHost();
        if (guiAppClient()->hasApp() || QCoreApplication::instance()) std::_Exit(4);
        endGuiHostModule();
        endAppHost();
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace bw
