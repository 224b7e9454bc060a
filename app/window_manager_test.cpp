// app/window_manager_test.cpp - a windowed run on a real X server (Xvfb)
// under a small window manager (openbox): the main window and the Add
// and update windows as the window manager places and describes them, and a picture
// of the main window with its frame for a person to look at. Skipped with
// a message where either program is missing.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QHeaderView>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QTreeView>
#include <QWidget>
#include <filesystem>
#include <optional>
#include <sstream>

#include "app/desktop_test_support.h"
#include "app/feed_commands_test_support.h"
#include "app/gui_user_test_support.h"

// The xcb platform's session bus connection keeps a buffer that libdbus
// never frees before exit (as app/xcb_leaks.supp says for the other runs on
// an X server).
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

namespace bw::testing_app {
namespace {

// Polls until ready answers TRUE, at most about five seconds.
template <class Ready>
bool waitFor(Ready ready) {
  for (int i = 0; i < 250; ++i) {
    if (ready()) return true;
    QTest::qWait(20);
  }
  return ready();
}

// What the X server knows of a window: its place on the root window and
// the properties the window manager and the program set.
struct XWindow {
  int x = 0, y = 0, width = 0, height = 0;
  std::string properties;
};
std::optional<XWindow> askX(QWidget* top) {
  const std::string id = std::to_string(top->winId());
  XWindow w;
  std::istringstream info(runProgram({"xwininfo", "-id", id}).out);
  bool found = false;
  for (std::string line; std::getline(info, line);) {
    auto value = [&](const char* key, int& into) {
      const size_t at = line.find(key);
      if (at != std::string::npos) into = std::atoi(line.c_str() + at + std::strlen(key)), found = true;
    };
    value("Absolute upper-left X:", w.x);
    value("Absolute upper-left Y:", w.y);
    value("Width:", w.width);
    value("Height:", w.height);
  }
  if (!found) return std::nullopt;
  w.properties = runProgram({"xprop", "-id", id}).out;
  return w;
}

// The window manager has taken the window on: it told its frame.
bool managed(QWidget* top) {
  std::optional<XWindow> w = askX(top);
  return w && w->properties.find("_NET_FRAME_EXTENTS") != std::string::npos;
}

QWidget* topOf(cGuiWindow* w) { return static_cast<QWidget*>(w->infoNativeObject("OBJT").object); }

// Not among the GuiProgramTest runs that go once more on a shared X server:
// this one brings its own.
class DesktopTest : public GuiProgramTest {};

TEST_F(DesktopTest, UnderAWindowManagerTheDialogsAreTransientAndCentredOnTheMainWindow) {
  if (const std::string missing = missingDesktopProgram(); !missing.empty())
    GTEST_SKIP() << missing << " is not installed: no run under a window manager";
  if (QGuiApplication::instance()) GTEST_SKIP() << "Qt already runs in this process on another platform";
  Desktop desktop;
  ASSERT_TRUE(desktop.start()) << "Xvfb and openbox did not come up";
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  makeEmptyDatabase("database.soup");
  withDatabase("database.soup", addFeedsAsAUserHasThem);
  XWindow main;
  const int rc = runGui({
      [&] { selectRows(gadget<cGuiList>(mainWindow(), "", 1), {0}); },
      [&] {
        QWidget* top = topOf(mainWindow());
        ASSERT_TRUE(waitFor([&] { return managed(top); })) << "the window manager never framed the main window";
        main = *askX(top);
        // The picture as the screen shows it, the window manager's frame and title too.
        ASSERT_TRUE(QTest::qWaitForWindowExposed(top->windowHandle()));
        top->repaint();
        QTest::qWait(300);
        QPixmap shot = top->screen()->grabWindow(0, std::max(0, main.x - 8), std::max(0, main.y - 28), main.width + 16,
                                                 main.height + 36);
        const std::filesystem::path dir = std::filesystem::path(BRINDLEWORK_ARTEFACTS_DIR) / "app";
        std::filesystem::create_directories(dir);
        EXPECT_TRUE(shot.save(QString::fromStdString((dir / "desktop_main_window.png").string())));
        // At its first size each list shows every column and its rows in
        // sight whole but for the fill column (Name, Title), the widest.
        for (auto [nth, fill] : {std::pair{1, 0}, std::pair{2, 2}}) {
          auto* tree = static_cast<QTreeView*>(gadget<cGuiList>(mainWindow(), "", nth)->infoNativeObject("OBJT").object);
          QHeaderView* header = tree->header();
          EXPECT_LE(header->length(), tree->viewport()->width()) << "list " << nth;
          for (int i = 0; i < header->count(); ++i) {
            EXPECT_GE(header->sectionSize(fill), header->sectionSize(i)) << "list " << nth << " column " << i;
            if (i == fill) continue;
            EXPECT_GE(header->sectionSize(i), static_cast<QAbstractItemView*>(tree)->sizeHintForColumn(i))
                << "list " << nth << " column " << i;
          }
        }
        click(mainWindow(), gadget<cGuiButton>(mainWindow(), "Add"));
      },
      [&] {
        QWidget* dialog = topOf(windowTitled("Add feed"));
        ASSERT_TRUE(waitFor([&] { return managed(dialog); })) << "the window manager never framed the dialog";
        XWindow added = *askX(dialog);
        std::ostringstream mainId;
        mainId << "0x" << std::hex << topOf(mainWindow())->winId();
        EXPECT_NE(added.properties.find("WM_TRANSIENT_FOR(WINDOW): window id # " + mainId.str()), std::string::npos)
            << added.properties;
        EXPECT_NE(added.properties.find("_NET_WM_WINDOW_TYPE_DIALOG"), std::string::npos);
        // On the screen, and centred on the main window (the frames may differ by a title bar).
        EXPECT_GE(added.x, 0);
        EXPECT_GE(added.y, 0);
        EXPECT_LE(added.x + added.width, 1280);
        EXPECT_LE(added.y + added.height, 800);
        EXPECT_NEAR(added.x + added.width / 2, main.x + main.width / 2, 24);
        EXPECT_NEAR(added.y + added.height / 2, main.y + main.height / 2, 24);
        closeWindow(windowTitled("Add feed"));
      },
      [&] {
        // The update window is the main window's dialog too.
        cGuiWindow* update = windowTitled("Update feeds");
        ASSERT_NE(update, nullptr);
        update->open();
        QWidget* top = topOf(update);
        ASSERT_TRUE(waitFor([&] { return managed(top); })) << "the window manager never framed the update window";
        std::ostringstream mainId;
        mainId << "0x" << std::hex << topOf(mainWindow())->winId();
        const std::string properties = askX(top)->properties;
        EXPECT_NE(properties.find("WM_TRANSIENT_FOR(WINDOW): window id # " + mainId.str()), std::string::npos)
            << properties;
        EXPECT_NE(properties.find("_NET_WM_WINDOW_TYPE_DIALOG"), std::string::npos);
        update->close();
        closeWindow(mainWindow());
      },
  });
  EXPECT_EQ(rc, 0);
  EXPECT_GE(main.width, 800);  // the first size takes most of the screen
  if (HasFailure()) std::cerr << output;
}

}  // namespace
}  // namespace bw::testing_app
