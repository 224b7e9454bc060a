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
#include <iostream>

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
    for (int i = 0; i < header->count(); ++i) {
      QString title = tree->model()->headerData(i, Qt::Horizontal).toString();
      QVariant font = tree->model()->headerData(i, Qt::Horizontal, Qt::FontRole);
      QFontMetrics metrics(font.isValid() ? font.value<QFont>() : header->font());
      EXPECT_LE(metrics.horizontalAdvance(title) + 4, header->sectionSize(i))
          << where << ": column \"" << title.toStdString() << "\"";
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
    // Dates show in a locale's short form with a time of day and AM/PM.
    QLocale::setDefault(QLocale("en_US"));
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

  // A feed's name and an item's title take the most room of their lists;
  // or, orTitles, every other column is down to its title.
  void expectFillWidest(cGuiList* list, const std::string& where, bool orTitles = false) {
    QHeaderView* header = treeOf(list)->header();
    const int fill = list->infoFillColumn();
    bool widest = true, titles = true;
    for (int i = 0; i < header->count(); ++i) {
      widest = widest && header->sectionSize(fill) >= header->sectionSize(i);
      titles = titles && (i == fill || header->sectionSize(i) <= header->sectionSizeHint(i));
    }
    EXPECT_TRUE(widest || (orTitles && titles)) << where << ": " << columnsOf(treeOf(list));
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
                  // titles and a name as wide as "Download length" need.
                  expectFillWidest(feeds(), "main window at its first size, feed list", true);
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
                  resizeMainWindow(840, 600);
                  expectMainWindow("main window at 840x600");
                  expectFillWidest(feeds(), "main window at 840x600, feed list");
                  resizeMainWindow(800 - 8, 600 - 36);
                  expectMainWindow("main window at 800x600");
                  expectFillWidest(feeds(), "main window at 800x600, feed list", true);
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

}  // namespace
}  // namespace bw::testing_app
