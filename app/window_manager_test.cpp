// app/window_manager_test.cpp - a windowed run on a real X server (Xvfb)
// under a small window manager (openbox): the main window and the Add
// and update windows as the window manager places and describes them, and a picture
// of the main window with its frame for a person to look at. Skipped with
// a message where either program is missing.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
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
// this one brings its own, with the feeds a user has.
class DesktopTest : public DesktopProgramTest {
 protected:
  void SetUp() override {
    DesktopProgramTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure()) withDatabase("database.soup", addFeedsAsAUserHasThem);
  }
};

TEST_F(DesktopTest, UnderAWindowManagerTheDialogsAreTransientAndCentredOnTheMainWindow) {
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
        // At its first size each list shows every column within its view,
        // the fill column (Name, Title) the widest, every title whole.
        for (auto [nth, fill] : {std::pair{1, 0}, std::pair{2, 2}}) {
          auto* tree = static_cast<QTreeView*>(gadget<cGuiList>(mainWindow(), "", nth)->infoNativeObject("OBJT").object);
          QHeaderView* header = tree->header();
          EXPECT_LE(header->length(), tree->viewport()->width()) << "list " << nth;
          for (int i = 0; i < header->count(); ++i) {
            EXPECT_GE(header->sectionSize(fill), header->sectionSize(i)) << "list " << nth << " column " << i;
            const QString title = tree->model()->headerData(i, Qt::Horizontal).toString();
            EXPECT_GE(header->sectionSize(i), header->fontMetrics().horizontalAdvance(title))
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

namespace bw::testing_app {
namespace {

// The outlines of the import: BRINDLEWORK_DESKTOP_OUTLINES of them (500
// by default, a minute under the sanitizers on a loaded machine; 2,000 as
// the largest imports seen), every address refused at once (port 1 of
// this machine).
int outlineCount() {
  const char* count = std::getenv("BRINDLEWORK_DESKTOP_OUTLINES");
  return count && std::atoi(count) > 0 ? std::atoi(count) : 500;
}

TEST_F(DesktopTest, AnImportOfThousandsReportsInADialogOnTheScreenAndExportSavesThroughTheChooser) {
  const int outlines = outlineCount();
  std::string opml = "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><body><outline text=\"Unreachable\">";
  for (int i = 0; i < outlines; ++i)
    opml += "<outline type=\"rss\" text=\"Feed " + std::to_string(i) + "\" xmlUrl=\"http://127.0.0.1:1/" +
            std::to_string(i) + ".rss\"/>";
  write("many.opml", opml + "</outline></body></opml>\n");
  const std::string exported = at("exported.opml").string();
  auto dialog = [](const char* title) { return windowTitled(title); };
  const int rc = runGui({
      [&] { click(mainWindow(), gadget<cGuiButton>(mainWindow(), "Add")); },
      [&] { click(dialog("Add feed"), gadget<cGuiButton>(dialog("Add feed"), "Import OPML")); },
      [&] {
        cGuiWindow* file = dialog("Import OPML file");
        // Typed, the name enables "OK" as it goes; Return takes it.
        auto* path = static_cast<QLineEdit*>(guiView(*gadget<cGuiPathString>(file, "File"))->nativeObject());
        QApplication::setActiveWindow(topOf(file));
        path->setFocus();
        QTest::keyClicks(path, QString::fromStdString(at("many.opml").string()));
        gadget<cGuiTick>(file, "Don't Edit each added feed (but import cannot be cancelled!)")->setState(true);
      },
      [&] {
        cGuiWindow* file = dialog("Import OPML file");
        EXPECT_FALSE(okButton(file)->infoDisabled());
        auto* path = static_cast<QLineEdit*>(guiView(*gadget<cGuiPathString>(file, "File"))->nativeObject());
        path->setFocus();
        bool clicked = false;
        QObject::connect(static_cast<QPushButton*>(guiView(*okButton(file))->nativeObject()), &QPushButton::clicked,
                         [&clicked] { clicked = true; });
        QTest::keyClick(path, Qt::Key_Return);
        EXPECT_TRUE(waitFor([&] { return clicked; })) << "Return pressed no button";
      },
      [&] {
        cGuiWindow* report = dialog("Import OPML");
        ASSERT_NE(report, nullptr);
        QWidget* top = topOf(report);
        ASSERT_TRUE(waitFor([&] { return managed(top); })) << "the window manager never framed the report";
        const XWindow shown = *askX(top);
        EXPECT_GE(shown.x, 0);
        EXPECT_GE(shown.y, 0);
        EXPECT_LE(shown.x + shown.width, 1280);
        EXPECT_LE(shown.y + shown.height, 800);
        EXPECT_LE(shown.height, 400);  // the dialogs' size, not the failures'
        auto* ok = static_cast<QWidget*>(guiView(*okButton(report))->nativeObject());
        EXPECT_TRUE(top->rect().contains(QRect(ok->mapTo(top, QPoint(0, 0)), ok->size())));
        EXPECT_EQ(std::string(gadget<cGuiText>(report, "")->getState().view()),
                  "0 feeds added; " + std::to_string(outlines) + " failed:");
        EXPECT_EQ(gadget<cGuiList>(report, "")->infoSize(), outlines);
        // The picture shows what the user sees: the import's update window
        // gone and the report painted.
        EXPECT_TRUE(waitFor([] {
          cGuiWindow* update = windowTitled("Update feeds");
          return !update || !topOf(update)->isVisible();
        })) << "the import's update window stayed over the report";
        QTest::qWait(200);
        QPixmap shot = top->screen()->grabWindow(0, std::max(0, shown.x - 8), std::max(0, shown.y - 28),
                                                 shown.width + 16, shown.height + 36);
        const std::filesystem::path dir = std::filesystem::path(BRINDLEWORK_ARTEFACTS_DIR) / "app";
        std::filesystem::create_directories(dir);
        EXPECT_TRUE(shot.save(QString::fromStdString((dir / "desktop_import_report.png").string())));
        click(report, okButton(report));
      },
      [&] { click(mainWindow(), gadget<cGuiButton>(mainWindow(), "Export")); },
      [&] {
        // The file button opens a save chooser, and a new name is taken. Under
        // load the chooser, still filling its folder, may drop a name given at
        // once: the name goes into its name field and the save button is given
        // again at each tick; after 5 s it is cancelled and the name typed into
        // the File field instead, so a slow chooser never hangs the run.
        cGuiWindow* exporter = dialog("Export OPML file");
        bool answered = false;
        int ticks = 0;
        QTimer chooser;
        QObject::connect(&chooser, &QTimer::timeout, [&] {
          for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* files = qobject_cast<QFileDialog*>(w);
            if (!files || !files->isVisible()) continue;
            EXPECT_EQ(files->acceptMode(), QFileDialog::AcceptSave);
            answered = true;
            if (++ticks > 50) {
              static_cast<QDialog*>(files)->reject();
              continue;
            }
            if (auto* name = files->findChild<QLineEdit*>("fileNameEdit")) name->setText(QString::fromStdString(exported));
            files->selectFile(QString::fromStdString(exported));
            static_cast<QDialog*>(files)->accept();  // the save button
          }
        });
        chooser.start(100);
        QToolButton* button = topOf(exporter)->findChild<QToolButton*>();
        ASSERT_NE(button, nullptr);
        button->click();
        chooser.stop();
        EXPECT_TRUE(answered) << "no save chooser came up";
        if (ticks > 50) {
          std::cerr << "the save chooser did not take the name within 5 s; typed into the File field\n";
          auto* path = static_cast<QLineEdit*>(guiView(*gadget<cGuiPathString>(exporter, "File"))->nativeObject());
          path->clear();
          QTest::keyClicks(path, QString::fromStdString(exported));
        }
      },
      [&] {
        cGuiWindow* exporter = dialog("Export OPML file");
        EXPECT_FALSE(okButton(exporter)->infoDisabled());
        click(exporter, okButton(exporter));
      },
      [&] { closeWindow(mainWindow()); },
  });
  EXPECT_EQ(rc, 0);
  EXPECT_NE(bytes("exported.opml").find("<title>Feeds from Brindlework</title>"), std::string::npos);
  if (HasFailure()) std::cerr << output;
}

}  // namespace
}  // namespace bw::testing_app
