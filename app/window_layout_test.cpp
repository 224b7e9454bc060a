// app/window_layout_test.cpp - every window and dialog of a windowed run,
// offscreen, measured as a user would see it: no text cut by its widget,
// the lists' room and columns, dialogs transient for the main window and
// on the screen, Tab in each dialog in the order of its lines, and Enter and
// Esc in each.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTreeView>
#include <fstream>
#include <iostream>
#include <random>
#include <utility>
#include <vector>

#include "app/child_run_test_support.h"
#include "app/gui_user_test_support.h"

namespace bw::testing_app {
namespace {

QWidget* topOf(cGuiWindow* w) { return static_cast<QWidget*>(w->infoNativeObject("OBJT").object); }

int widest(const QFontMetrics& metrics, const QString& text) {
  int width = 0;
  for (const QString& line : text.split('\n')) width = std::max(width, metrics.horizontalAdvance(line));
  return width;
}

// Every shown text of the window against the room its widget has.
void expectNothingCut(cGuiWindow* window, const std::string& where) {
  QWidget* top = topOf(window);
  QApplication::processEvents();
  for (QLabel* label : top->findChildren<QLabel*>()) {
    if (!label->isVisibleTo(top) || label->text().isEmpty() || label->wordWrap()) continue;
    EXPECT_LE(widest(label->fontMetrics(), label->text()), label->contentsRect().width())
        << where << ": label \"" << label->text().toStdString() << "\"";
  }
  for (QAbstractButton* button : top->findChildren<QAbstractButton*>()) {
    if (!button->isVisibleTo(top) || button->text().isEmpty()) continue;
    QString shown = button->text().replace("&&", "&");
    int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
    EXPECT_LE(button->fontMetrics().horizontalAdvance(shown) + icon, button->width())
        << where << ": button \"" << shown.toStdString() << "\"";
  }
  for (QGroupBox* box : top->findChildren<QGroupBox*>()) {
    if (!box->isVisibleTo(top)) continue;
    EXPECT_LE(box->fontMetrics().horizontalAdvance(box->title().replace("&&", "&")), box->width()) << where;
  }
  for (QComboBox* combo : top->findChildren<QComboBox*>()) {
    if (!combo->isVisibleTo(top)) continue;
    EXPECT_LE(combo->fontMetrics().horizontalAdvance(combo->currentText()), combo->width() - 16)
        << where << ": choice \"" << combo->currentText().toStdString() << "\"";
  }
  for (QTreeView* tree : top->findChildren<QTreeView*>()) {
    QHeaderView* header = tree->header();
    if (!tree->isVisibleTo(top) || tree->isHeaderHidden()) continue;
    // A column's title is whole, or cut short beside a feed's name or an
    // item's title of a few words.
    int widestColumn = 0;
    for (int i = 0; i < header->count(); ++i) widestColumn = std::max(widestColumn, header->sectionSize(i));
    const bool fewWords = widestColumn >= 15 * tree->fontMetrics().averageCharWidth();
    for (int i = 0; i < header->count(); ++i) {
      QString title = tree->model()->headerData(i, Qt::Horizontal).toString();
      QVariant font = tree->model()->headerData(i, Qt::Horizontal, Qt::FontRole);
      QFontMetrics metrics(font.isValid() ? font.value<QFont>() : header->font());
      EXPECT_TRUE(fewWords || metrics.horizontalAdvance(title) + 4 <= header->sectionSize(i))
          << where << ": column \"" << title.toStdString() << "\" cut at " << header->sectionSize(i);
      for (int row = 0; row < std::min(tree->model()->rowCount(), 20); ++row) {
        QString cell = tree->model()->index(row, i).data().toString();
        // Dates and figures show whole.
        if (cell.trimmed().isEmpty() || cell.contains(QRegularExpression("[^0-9 :/.,APM-]"))) continue;
        EXPECT_LE(tree->fontMetrics().horizontalAdvance(cell), header->sectionSize(i))
            << where << ": \"" << cell.toStdString() << "\" cut";
      }
    }
  }
}

// Every gadget within the window's edges, and no two buttons over each
// other (a row that goes on over more lines).
void expectWithinWindow(cGuiWindow* window, const std::string& where) {
  QWidget* top = topOf(window);
  std::vector<std::pair<QRect, QString>> buttons;
  for (QWidget* w : top->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(top)) continue;
    auto* button = qobject_cast<QAbstractButton*>(w);
    if (!button && !qobject_cast<QLabel*>(w) && !qobject_cast<QComboBox*>(w) && !qobject_cast<QTreeView*>(w) &&
        !qobject_cast<QLineEdit*>(w))
      continue;
    const QRect place(w->mapTo(top, QPoint(0, 0)), w->size());
    EXPECT_TRUE(top->rect().contains(place)) << where << ": " << w->metaObject()->className() << " at "
                                             << place.x() << "," << place.y() << " " << place.width() << "x"
                                             << place.height() << " beyond the window's edges";
    if (!button) continue;
    for (const auto& [other, text] : buttons)
      EXPECT_FALSE(other.intersects(place)) << where << ": \"" << button->text().toStdString() << "\" over \""
                                            << text.toStdString() << "\"";
    buttons.emplace_back(place, button->text());
  }
}

// Tab walks a window's gadgets in the order a reader meets them: line by
// line from the top, left to right along a line.
void expectTabFollowsLayout(cGuiWindow* window, const std::string& where) {
  QWidget* top = topOf(window);
  QApplication::setActiveWindow(top);
  QApplication::processEvents();
  std::vector<QWidget*> gadgets;
  for (QWidget* w : top->findChildren<QWidget*>())
    if (w->isVisibleTo(top) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy())
      gadgets.push_back(w);
  if (gadgets.size() < 2) return;
  auto place = [&](QWidget* w) { return QRect(w->mapTo(top, QPoint(0, 0)), w->size()); };
  std::stable_sort(gadgets.begin(), gadgets.end(),
                   [&](QWidget* a, QWidget* b) { return place(a).center().y() < place(b).center().y(); });
  // A line: the gadgets whose middles lie within the height of its first.
  std::vector<QWidget*> seen;
  for (size_t first = 0; first < gadgets.size();) {
    size_t end = first + 1;
    const QRect head = place(gadgets[first]);
    while (end < gadgets.size() && place(gadgets[end]).center().y() <= head.bottom()) ++end;
    std::stable_sort(gadgets.begin() + static_cast<std::ptrdiff_t>(first), gadgets.begin() + static_cast<std::ptrdiff_t>(end),
                     [&](QWidget* a, QWidget* b) { return place(a).x() < place(b).x(); });
    first = end;
  }
  auto name = [](QWidget* w) {
    auto* button = qobject_cast<QAbstractButton*>(w);
    return std::string(w->metaObject()->className()) + (button ? " \"" + button->text().toStdString() + "\"" : "");
  };
  QWidget* before = top->focusWidget();
  gadgets.front()->setFocus(Qt::TabFocusReason);
  for (size_t i = 1; i < gadgets.size(); ++i) {
    QWidget* from = QApplication::focusWidget();
    ASSERT_NE(from, nullptr) << where;
    QTest::keyClick(from, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), gadgets[i])
        << where << ": Tab from " << name(from) << " reached "
        << (QApplication::focusWidget() ? name(QApplication::focusWidget()) : "nothing") << ", not " << name(gadgets[i]);
  }
  if (before) before->setFocus(Qt::OtherFocusReason);  // the keys the test presses next go where they went
}

// A dialog: transient for the main window, on the screen, nothing cut.
void expectDialog(cGuiWindow* dialog, cGuiWindow* main, const std::string& where) {
  ASSERT_NE(dialog, nullptr) << where;
  QWidget* top = topOf(dialog);
  EXPECT_TRUE(top->isWindow()) << where;
  EXPECT_EQ(top->parentWidget(), topOf(main)) << where;
  EXPECT_EQ(top->windowType(), Qt::Dialog) << where;
  ASSERT_NE(top->windowHandle(), nullptr) << where;
  EXPECT_EQ(top->windowHandle()->transientParent(), topOf(main)->windowHandle()) << where;
  EXPECT_TRUE(top->screen()->availableGeometry().contains(top->frameGeometry()))
      << where << " lies off the screen: " << top->frameGeometry().x() << "," << top->frameGeometry().y() << " "
      << top->frameGeometry().width() << "x" << top->frameGeometry().height();
  expectNothingCut(dialog, where);
  expectTabFollowsLayout(dialog, where);
}

// Keys reach the window as the window system brings them: the focus
// widget first, then the window's shortcuts.
void press(cGuiWindow* window, Qt::Key key) {
  QWidget* top = topOf(window);
  QApplication::setActiveWindow(top);
  QWidget* focus = top->focusWidget() ? top->focusWidget() : top;
  bool clicked = false;
  for (QPushButton* button : top->findChildren<QPushButton*>())
    QObject::connect(button, &QPushButton::clicked, top, [&clicked] { clicked = true; });
  QTest::keyClick(focus, key);
  // The default button is pressed with its click animation: wait for it.
  QElapsedTimer waited;
  waited.start();
  while (key == Qt::Key_Return && !clicked && waited.elapsed() < 5000) QTest::qWait(20);
  EXPECT_TRUE(key != Qt::Key_Return || clicked) << "Return pressed no button";
}

int rowsInSight(QTreeView* tree) {
  const int row = tree->visualRect(tree->model()->index(0, 0)).height();
  return row > 0 ? tree->viewport()->height() / row : 0;
}

class WindowLayoutTest : public GuiProgramTest {
 protected:
  void SetUp() override {
    GuiProgramTest::SetUp();
    // Dates show in a locale's short form with a time of day and AM/PM
    // (a realistic run's screen may name another locale).
    const char* locale = std::getenv("BW_LAYOUT_LOCALE");
    QLocale::setDefault(QLocale(locale && *locale ? locale : "en_US"));
    makeEmptyDatabase("database.soup");
    withDatabase("database.soup", addFeedsAsAUserHasThem);
  }
  void TearDown() override {
    QLocale::setDefault(QLocale::system());
    GuiProgramTest::TearDown();
  }
  cGuiList* list(int nth) { return gadget<cGuiList>(mainWindow(), "", nth); }
  cGuiList* tags() { return list(0); }
  cGuiList* feeds() { return list(1); }
  cGuiList* news() { return list(2); }
  QTreeView* treeOf(cGuiList* l) { return static_cast<QTreeView*>(guiView(*l)->nativeObject()); }
  cGuiButton* mainButton(const char* label, int nth = 0) { return gadget<cGuiButton>(mainWindow(), label, nth); }
  // "Show ALL": the items a selection marks seen stay in the list.
  void showAll() {
    auto* show = gadget<cGuiCycleChoice>(mainWindow(), "");
    show->setState(4);
    click(mainWindow(), show);
  }

  // The main window's own promises at its present size.
  void expectMainWindow(const std::string& where) {
    expectNothingCut(mainWindow(), where);
    expectWithinWindow(mainWindow(), where);
    EXPECT_GE(rowsInSight(treeOf(feeds())), 10) << where;
    // Dates in the locale's short form, as the user reads them.
    for (QTreeView* tree : {treeOf(news()), treeOf(feeds())}) {
      const QString date = tree->model()->index(0, tree == treeOf(news()) ? 0 : 2).data().toString();
      EXPECT_TRUE(QRegularExpression("^\\d{1,2}/\\d{1,2}/\\d\\d( \\d{1,2}:\\d\\d [AP]M)?$").match(date).hasMatch())
          << where << ": date " << date.toStdString();
    }
    expectColumnsInView(treeOf(feeds()), where + ", feed list");
    expectColumnsInView(treeOf(news()), where + ", news list");
    expectFillWidest(news(), where + ", news list");
  }

  // A feed's name and an item's title take the most room of their lists.
  void expectFillWidest(cGuiList* list, const std::string& where) {
    QHeaderView* header = treeOf(list)->header();
    const int fill = list->infoFillColumn();
    for (int i = 0; i < header->count(); ++i)
      EXPECT_GE(header->sectionSize(fill), header->sectionSize(i)) << where << ": " << columnsOf(treeOf(list));
  }

  // Where the window has the room: every column but the fill column shows
  // its rows in sight whole.
  void expectColumnsWhole(cGuiList* list, const std::string& where) {
    QTreeView* tree = treeOf(list);
    QHeaderView* header = tree->header();
    const int fill = list->infoFillColumn();
    const int margin = 2 * (tree->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, tree) + 1);
    for (int i = 0; i < header->count(); ++i) {
      if (i == fill) continue;
      for (int row = 0; row < std::min(tree->model()->rowCount(), rowsInSight(tree)); ++row) {
        const QModelIndex cell = tree->model()->index(row, i);
        const QVariant font = cell.data(Qt::FontRole);
        const QFontMetrics metrics(font.isValid() ? font.value<QFont>() : tree->font());
        EXPECT_LE(metrics.horizontalAdvance(cell.data().toString()) + margin, header->sectionSize(i))
            << where << ": \"" << cell.data().toString().toStdString() << "\" cut; " << columnsOf(tree);
      }
    }
  }

  // Every column within the view: no scroll bar across.
  static void expectColumnsInView(QTreeView* tree, const std::string& where) {
    EXPECT_LE(tree->header()->length(), tree->viewport()->width()) << where << ": " << columnsOf(tree);
    EXPECT_FALSE(tree->horizontalScrollBar()->isVisible()) << where;
  }
  static std::string columnsOf(QTreeView* tree) {
    std::string widths = "columns";
    for (int i = 0; i < tree->header()->count(); ++i) widths += " " + std::to_string(tree->header()->sectionSize(i));
    return widths + " in " + std::to_string(tree->viewport()->width());
  }

  void resizeMainWindow(int width, int height) {
    mainWindow()->setSize(width, height);
    // A row that took another line lays the window out again, a level of
    // the widget tree at each pass of the toolkit.
    for (int i = 0; i < 10; ++i) QApplication::processEvents();
    EXPECT_EQ(topOf(mainWindow())->size(), QSize(width, height));
  }
};

TEST_F(WindowLayoutTest, EveryWindowAndDialogFitsItsTextsAndAnswersTabEnterAndEsc) {
  cGuiWindow* shownDialog = nullptr;
  auto dialogStep = [&](const char* title, Qt::Key key) {
    return [&, title, key] {
      shownDialog = windowTitled(title);
      expectDialog(shownDialog, mainWindow(), title);
      if (shownDialog) press(shownDialog, key);
    };
  };
  // After a dialog's key the dialog is gone: closed or ended.
  auto dialogGone = [&](const char* title) {
    cGuiWindow* w = windowTitled(title);
    EXPECT_TRUE(!w || !w->infoIsOpen()) << title << " still open after its key";
  };
  EXPECT_EQ(runGui({
                [&] {
                  selectRows(feeds(), {0});
                  showAll();
                },
                [&] {
                  expectMainWindow("main window at its first size");
                  // Below 835 pixels the one-line row of item buttons holds
                  // the news at 278: the feed list has 372 of the 412 its
                  // titles and a name as wide as "Download length" need, so
                  // the other titles give way to the name.
                  expectFillWidest(feeds(), "main window at its first size, feed list");
                  // The first size on a screen of 1440 x 960 or more.
                  resizeMainWindow(1280, 860);
                  expectMainWindow("main window at 1280x860");
                  expectFillWidest(feeds(), "main window at 1280x860, feed list");
                  expectColumnsWhole(feeds(), "main window at 1280x860, feed list");
                  expectColumnsWhole(news(), "main window at 1280x860, news list");
                  screenshot(mainWindow(), "layout_main_window");
                  // The main window fits a screen 800 pixels wide, its frame too.
                  EXPECT_LE(topOf(mainWindow())->minimumSizeHint().width(), 800 - 8);
                  EXPECT_LE(topOf(mainWindow())->minimumSizeHint().height(), 600 - 36);
                  // Down to where the news keep no more than their row of
                  // item buttons, both lists share what the window lacks.
                  // Below 1280 pixels both sides share the width levelled
                  // down to their least: the feed list's Name stays the
                  // widest, the other titles cut short.
                  resizeMainWindow(840, 600);
                  expectMainWindow("main window at 840x600");
                  resizeMainWindow(800 - 8, 600 - 36);
                  expectMainWindow("main window at 800x600");
                  expectFillWidest(feeds(), "main window at 800x600, feed list");
                  screenshot(mainWindow(), "layout_main_window_800x600");
                  selectRows(news(), {0});
                },
                [&] { click(mainWindow(), mainButton("Add")); },
                [&] {
                  // A long address is taken whole.
                  auto* url = gadget<cGuiString>(windowTitled("Add feed"), "URL");
                  ASSERT_NE(url, nullptr);
                  EXPECT_GE(static_cast<QLineEdit*>(guiView(*url)->nativeObject())->maxLength(), 8000);
                  dialogStep("Add feed", Qt::Key_Escape)();
                },
                [&] {
                  dialogGone("Add feed");
                  click(mainWindow(), mainButton("Edit"));
                },
                dialogStep("Edit feed", Qt::Key_Return),
                [&] {
                  dialogGone("Edit feed");
                  selectRows(feeds(), {0});  // the edit took the feed out of the selection
                  showAll();
                },
                [&] { click(mainWindow(), mainButton("Info")); },
                dialogStep("Info about feed", Qt::Key_Return),
                [&] {
                  dialogGone("Info about feed");
                  click(mainWindow(), mainButton("Export"));
                },
                dialogStep("Export OPML file", Qt::Key_Escape),
                [&] {
                  dialogGone("Export OPML file");
                  selectRows(news(), {0});
                },
                [&] { click(mainWindow(), mainButton("Info", 1)); },
                dialogStep("Info about news item", Qt::Key_Return),
                [&] {
                  dialogGone("Info about news item");
                  click(mainWindow(), mainButton("Delete item"));
                },
                dialogStep("Delete news item", Qt::Key_Escape),
                [&] {
                  dialogGone("Delete news item");
                  EXPECT_EQ(news()->infoCount(), 12);  // Esc answered No
                  selectRows(tags(), {0});
                },
                [&] { click(mainWindow(), mainButton("Rename")); },
                [&] {
                  cGuiWindow* rename = windowTitled("Rename feed tag");
                  ASSERT_NE(rename, nullptr);
                  // "&" is shown as written.
                  bool found = false;
                  for (QPushButton* b : topOf(rename)->findChildren<QPushButton*>())
                    found = found || b->text() == "Cancel && stop renaming";
                  EXPECT_TRUE(found);
                  dialogStep("Rename feed tag", Qt::Key_Escape)();
                },
                [&] {
                  dialogGone("Rename feed tag");
                  cGuiWindow* update = windowTitled("Update feeds");
                  ASSERT_NE(update, nullptr);
                  update->open();
                  expectDialog(update, mainWindow(), "Update feeds");
                  update->close();
                  closeWindow(mainWindow());
                },
            }),
            0);
  if (HasFailure()) std::cerr << output;  // the failures of the steps went to the run's console
}

// The profile of a user a while on: tags with "&" and markup, a name of
// 500 characters, a feed of 10,000 items, beside the five feeds above.
void addARealisticProfile(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
  std::string longName = "Probe epsilon: ";
  while (longName.size() < 500) longName += "a name that goes on and on, ";
  longName.resize(500);
  struct Extra {
    std::string title;
    int items;
    const char* tags;
  } extras[] = {
      {"Probe delta: the feed of ten thousand news items", 10000, ",R&D,<b>bold</b> news,"},
      {longName, 12, ",news & views,R&D,"},
      {"\xd7\x97\xd7\x93\xd7\xa9\xd7\x95\xd7\xaa \xe6\x96\xb0\xe8\x81\x9e \xe3\x83\x8b\xe3\x83\xa5\xe3\x83\xbc\xe3\x82\xb9", 12,
       ",<i>markup</i>,"},
  };
  int n = 100;
  for (const Extra& e : extras) {
    newsFeed* feed = loadObject_newsFeed(db, addFeed(db, root, e.title, e.items, false,
                                                     "https://example.org/feeds/" + std::to_string(++n) + ".xml"));
    feed->tags = Str(e.tags);
    feed->newestItemTime = 851817480;
    feed->downloadLength = 86400;
    db.saveChangesToObject(feed);
    db.unloadObject(feed);
  }
}

// Runs the profile's checks in a child process on a screen of the given
// size (offscreen, as a configuration file describes it), with a scale. The
// parent builds the profile once and every child starts from a copy of it.
class RealisticLayoutTest : public WindowLayoutTest {
 protected:
  void SetUp() override {
    WindowLayoutTest::SetUp();
    if (const char* profile = std::getenv("BW_LAYOUT_PROFILE"))
      std::filesystem::copy_file(profile, at("database.soup"), std::filesystem::copy_options::overwrite_existing);
  }

  // Where every widget of the main window stands and how wide each list's
  // columns are: what "the same layout" means.
  std::vector<int> layoutOfMainWindow() {
    std::vector<int> layout;
    QWidget* top = topOf(mainWindow());
    for (QWidget* w : top->findChildren<QWidget*>()) {
      if (!w->isVisibleTo(top)) continue;
      const QRect r(w->mapTo(top, QPoint(0, 0)), w->size());
      layout.insert(layout.end(), {r.x(), r.y(), r.width(), r.height()});
    }
    for (QTreeView* tree : top->findChildren<QTreeView*>())
      for (int i = 0; i < tree->header()->count(); ++i) layout.push_back(tree->header()->sectionSize(i));
    return layout;
  }
  void settle() {
    for (int i = 0; i < 20; ++i) QApplication::processEvents();
  }
  // The news list's share and the widest columns where the window has room.
  void expectRoomyLayout(const std::string& where) {
    QWidget* top = topOf(mainWindow());
    EXPECT_GE(treeOf(news())->width() * 100, top->width() * 45) << where << ": the news list has " << treeOf(news())->width()
                                                                 << " of " << top->width();
    expectFillWidest(news(), where + ", news list");
    expectFillWidest(feeds(), where + ", feed list");
    expectColumnsInView(treeOf(feeds()), where + ", feed list");
    expectColumnsInView(treeOf(news()), where + ", news list");
  }
  // On every screen, the feed list's Name its widest column at the first
  // size and a feed's name readable by a few words: the other columns give
  // way below their titles first.
  void expectReadableNames(const std::string& where) {
    QTreeView* tree = treeOf(feeds());
    expectFillWidest(feeds(), where + ", feed list");
    EXPECT_GE(tree->header()->sectionSize(feeds()->infoFillColumn()), 15 * tree->fontMetrics().averageCharWidth())
        << where << ": " << columnsOf(tree);
  }
  void expectOnScreen(cGuiWindow* window, const std::string& where) {
    ASSERT_NE(window, nullptr) << where;
    QWidget* top = topOf(window);
    const QRect screen = top->screen()->availableGeometry();
    EXPECT_LE(top->frameGeometry().width(), screen.width()) << where;
    EXPECT_LE(top->frameGeometry().height(), screen.height()) << where;
    EXPECT_TRUE(screen.contains(top->frameGeometry()))
        << where << " at " << top->frameGeometry().x() << "," << top->frameGeometry().y() << " "
        << top->frameGeometry().width() << "x" << top->frameGeometry().height() << " on " << screen.width() << "x"
        << screen.height();
  }
};

TEST_F(RealisticLayoutTest, OnOneScreen) {
  const char* screenName = std::getenv("BW_LAYOUT_SCREEN");
  if (!screenName) GTEST_SKIP() << "run by RealisticLayoutTest.OnEveryScreen in a child process";
  auto dialogOnScreen = [&](const char* title) {
    return [this, title, screenName] {
      expectOnScreen(windowTitled(title), std::string(screenName) + ": " + title);
      press(windowTitled(title), Qt::Key_Escape);
    };
  };
  EXPECT_EQ(runGui({
                [&] {
                  const std::string where = screenName;
                  expectOnScreen(mainWindow(), where + ": main window at its first size");
                  settle();
                  const QSize first = topOf(mainWindow())->size();
                  const std::vector<int> fresh = layoutOfMainWindow();
                  const QSize screen = topOf(mainWindow())->screen()->availableGeometry().size();
                  expectReadableNames(where + ": main window at its first size");
                  if (screen.width() >= 1280) {
                    for (QSize size : {QSize(1280, 860), screen}) {
                      if (size.width() > screen.width() || size.height() > screen.height()) continue;
                      resizeMainWindow(size.width(), size.height());
                      settle();
                      expectRoomyLayout(where + " at " + std::to_string(size.width()) + "x" + std::to_string(size.height()));
                      screenshot(mainWindow(), "realistic_" + std::to_string(size.width()) + "x" + std::to_string(size.height()));
                    }
                  }
                  // Twenty sizes between the least and the screen, then the
                  // first again: the layout of the fresh start.
                  std::mt19937 random(65);
                  const QSize least = topOf(mainWindow())->minimumSizeHint();
                  for (int i = 0; i < 20; ++i) {
                    const int w = least.width() + static_cast<int>(random() % static_cast<unsigned>(std::max(1, screen.width() - least.width())));
                    const int h = least.height() + static_cast<int>(random() % static_cast<unsigned>(std::max(1, screen.height() - least.height())));
                    mainWindow()->setSize(w, h);
                    if (i % 3 == 0) settle();
                  }
                  resizeMainWindow(first.width(), first.height());
                  settle();
                  EXPECT_EQ(layoutOfMainWindow(), fresh) << where << ": the layout after twenty resizes";
                  screenshot(mainWindow(), std::string("realistic_first_") + screenName);
                  click(mainWindow(), mainButton("Add"));
                },
                dialogOnScreen("Add feed"),
                [&] {
                  selectRows(feeds(), {0});
                  click(mainWindow(), mainButton("Edit"));
                },
                dialogOnScreen("Edit feed"),
                [&] { click(mainWindow(), mainButton("Export")); },
                dialogOnScreen("Export OPML file"),
                [&] {
                  cGuiWindow* update = windowTitled("Update feeds");
                  ASSERT_NE(update, nullptr);
                  update->open();
                  expectOnScreen(update, std::string(screenName) + ": Update feeds");
                  update->close();
                  closeWindow(mainWindow());
                },
            }),
            0);
  if (HasFailure()) std::cerr << output;
}

// Each screen in a process of its own: the toolkit's screens are fixed
// when it starts. Three screens by default (run at once, each from a copy
// of the one profile); BRINDLEWORK_LAYOUT_ALL_SCREENS=1 runs all seven.
TEST_F(RealisticLayoutTest, OnEveryScreen) {
  if (std::getenv("BW_LAYOUT_SCREEN")) GTEST_SKIP() << "the child's own run";
  withDatabase("database.soup", addARealisticProfile);
  const std::string profile = at("database.soup").string();
  struct Screen {
    const char* name;
    int width, height;
    const char* scale;
    bool always;
    const char* locale;  // "": en_US
  } screens[] = {{"800x600", 800, 600, "", false, ""},
                 {"1024x768", 1024, 768, "", true, ""},
                 {"1024x768-C", 1024, 768, "", false, "C"},  // dates as 2026-12-28
                 {"1152x864", 1152, 864, "", false, ""},
                 {"1280x860", 1280, 860, "", true, ""},
                 {"1920x1080", 1920, 1080, "", false, ""},
                 {"1920x1080@2", 1920, 1080, "2", true, ""}};
  const bool all = std::getenv("BRINDLEWORK_LAYOUT_ALL_SCREENS") != nullptr;
  // The children run side by side, each with a screen file of its own.
  std::vector<std::pair<const Screen*, StartedChild>> started;
  std::vector<std::string> configs;
  for (const Screen& screen : screens) {
    if (!screen.always && !all) continue;
    const std::string config = (std::filesystem::temp_directory_path() /
                                ("bw-screens-" + std::to_string(::getpid()) + "-" + std::to_string(configs.size())))
                                   .string();
    configs.push_back(config);
    std::ofstream(config) << R"({"screens": [{"name": "screen", "x": 0, "y": 0, "width": )" << screen.width
                          << R"(, "height": )" << screen.height << R"(, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
    started.emplace_back(&screen, startChild({"/proc/self/exe", "--gtest_filter=RealisticLayoutTest.OnOneScreen"},
                                             {{"BW_LAYOUT_SCREEN", screen.name},
                                              {"QT_QPA_PLATFORM", "offscreen:configfile=" + config},
                                              {"QT_SCALE_FACTOR", screen.scale},
                                              {"BW_LAYOUT_PROFILE", profile},
                                              {"BW_LAYOUT_LOCALE", screen.locale}}));
  }
  for (const auto& [screen, child] : started) {
    SCOPED_TRACE(screen->name);
    const ChildResult run = finishChild(child);
    EXPECT_EQ(run.rc, 0) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
  }
  for (const std::string& config : configs) std::filesystem::remove(config);
}

}  // namespace
}  // namespace bw::testing_app
