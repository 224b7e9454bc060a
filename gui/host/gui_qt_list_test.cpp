// gui/host/gui_qt_list_test.cpp - the list on Qt, offscreen: the roles the
// model answers for each style, the title row and its mark, user clicks
// counted as events, one view update for a quiet bulk removal, columns fitted
// to the rows in sight, the saved state across a rebuilt window, and a
// screenshot of a feed-like list.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QPixmap>
#include <QTest>
#include <QTreeView>

#include "gui/host/core/gui_list_host.h"
#include "gui/host/gui_natives.h"
#include "gui/host/gui_qt_widgets.h"
#include "gui/host/gui_qt_test_support.h"

namespace bw {
namespace {

class QtListTest : public QtHostTest {
 protected:
  cGuiListHost* makeList(cGuiWindowHostCore* w, int32_t columns, const char* titles) {
    w->beginGroupVertical(nullptr);
    auto* list = static_cast<cGuiListHost*>(w->beginList(columns, "Feeds"));
    list->initColumnTitles(titles);
    w->endList();
    w->endGroup();
    return list;
  }
  static QTreeView* treeOf(cGuiList* list) {
    return static_cast<QTreeView*>(list->infoNativeObject("OBJT").object);
  }
  // Events until none is left; a test never blocks.
  int drain() {
    settle();
    int n = 0;
    while (client_->infoQueued() > 0) {
      client_->waitForChangedGuiItem();
      ++n;
      settle();
    }
    return n;
  }
  static QPoint centreOf(QTreeView* tree, int row) {
    return tree->visualRect(tree->model()->index(row, 0)).center();
  }
};

TEST_F(QtListTest, StylesTitlesAndClicks) {
  cGuiWindowHostCore* w = window("List");
  cGuiListHost* list = makeList(w, 3, "Name\tCount\tWhen");
  list->initMultiSelect(false, false)->initColumnSortTypes("INI")->initColumnAlignment("LRC");
  for (int32_t style : {0, 1, 2, 3, 4, 8}) {
    list->addEntry(Str("row" + std::to_string(style) + "\t" + std::to_string(style) + "\tx"), style, false, 0,
                   {});
  }
  list->setSortByUser(1, false);
  w->setSize(400, 300);
  w->build();
  settle();
  QTreeView* tree = treeOf(list);
  QAbstractItemModel* model = tree->model();
  EXPECT_TRUE(model->headerData(0, Qt::Horizontal, Qt::FontRole).value<QFont>().bold());
  EXPECT_EQ(model->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "When");
  EXPECT_TRUE(tree->header()->isSortIndicatorShown());
  EXPECT_EQ(tree->header()->sortIndicatorSection(), 1);
  EXPECT_EQ(model->data(model->index(0, 1), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight,
            Qt::AlignRight);

  auto colourOf = [&](int row) { return model->data(model->index(row, 0), Qt::ForegroundRole); };
  QColor pen1 = QColor::fromRgb(0xff000000u | *guiPenTable().rgbOf(list->infoPen(1)));
  EXPECT_FALSE(colourOf(0).isValid());
  EXPECT_EQ(colourOf(1).value<QColor>(), QColor(0, 0, 255));  // style 1: pen 0
  EXPECT_EQ(colourOf(2).value<QColor>(), pen1);               // style 2: pen 1
  EXPECT_EQ(colourOf(3).value<QColor>(), pen1);               // 2 wins over 1
  EXPECT_NE(pen1, QColor(0, 0, 255));
  EXPECT_TRUE(model->data(model->index(4, 2), Qt::FontRole).value<QFont>().bold());
  EXPECT_TRUE(model->data(model->index(5, 0), Qt::FontRole).value<QFont>().italic());
  EXPECT_EQ(model->data(model->index(4, 0), Qt::DisplayRole).toString(), "row4");
  drain();

  // A user click on a row: one event, the row is the selection.
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, centreOf(tree, 2));
  EXPECT_EQ(nextEvent().item, list);
  EXPECT_TRUE(list->infoChangedFlag(false));
  EXPECT_EQ(list->infoSingleSelectionEntry(), "row2\t2\tx");
  EXPECT_EQ(drain(), 0);
  // The program's selection shows without an event of the view's own.
  list->cursor_gotoStart();
  list->cursor_setState(true);
  EXPECT_EQ(drain(), 1);
  EXPECT_TRUE(tree->selectionModel()->isRowSelected(0, {}));
  EXPECT_FALSE(tree->selectionModel()->isRowSelected(2, {}));

  // The view takes a double-click only on the row pressed before it.
  QTest::mousePress(tree->viewport(), Qt::LeftButton, {}, centreOf(tree, 3));
  QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, centreOf(tree, 3));
  EXPECT_GE(drain(), 1);
  EXPECT_EQ(list->infoPendingEntry(false, false), 3);

  // A title click in user mode flips the current column.
  QHeaderView* header = tree->header();
  QPoint title(header->sectionViewportPosition(1) + header->sectionSize(1) / 2, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title);
  EXPECT_EQ(drain(), 1);
  EXPECT_TRUE(list->infoSortChangedFlag(false));
  list->cursor_gotoStart();
  EXPECT_EQ(list->cursor_getLabel(), "row8\t8\tx");
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
}

TEST_F(QtListTest, QuietBulkRemovalIsOneViewUpdate) {
  cGuiWindowHostCore* w = window("Bulk");
  cGuiListHost* list = makeList(w, 2, "A\tB");
  list->initMultiSelect(true, true);
  w->build();
  constexpr int kRows = 4000;
  list->setRedraw(false);
  for (int i = 0; i < kRows; ++i) {
    list->addEntry(Str(std::to_string(i) + "\tx"), 0, i % 2 == 0, i, std::make_unique<boxVALUE>(i));
  }
  list->setRedraw(true);
  QAbstractItemModel* model = treeOf(list)->model();
  EXPECT_EQ(model->rowCount(), kRows);
  // The program's selection, one row at a time and of every marked row.
  QItemSelectionModel* selection = treeOf(list)->selectionModel();
  list->cursor_gotoNext(3);
  list->cursor_setState(true);
  settle();
  EXPECT_TRUE(selection->isRowSelected(3, {}));
  list->marked_setState(true);
  list->cursor_setState(false);
  settle();
  EXPECT_EQ(selection->selectedRows().size(), kRows / 2);
  EXPECT_FALSE(selection->isRowSelected(3, {}));
  EXPECT_EQ(collectSelectionNumbers(*list, true)->infoCount(), size_t{kRows / 2});
  settle();
  EXPECT_TRUE(selection->selectedRows().isEmpty());
  int resets = 0, removals = 0;
  QObject::connect(model, &QAbstractItemModel::modelReset, [&] { ++resets; });
  QObject::connect(model, &QAbstractItemModel::rowsRemoved, [&] { ++removals; });
  list->marked_destroy();
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(removals, 0);
  EXPECT_EQ(model->rowCount(), kRows / 2);
  list->cursor_gotoStart();
  list->destroy();  // not quiet: told as it happens
  EXPECT_EQ(removals, 1);
  EXPECT_EQ(model->rowCount(), kRows / 2 - 1);
}

TEST_F(QtListTest, TitleMarkAndWidthsComeBackInARebuiltWindow) {
  std::vector<int32_t> widths;
  for (int round = 0; round < 2; ++round) {
    cGuiWindowHostCore* w = window("Saved");
    cGuiListHost* list = makeList(w, 3, "One\tTwo\tThree");
    list->setSortByUser(0, false);
    for (const char* label : {"a\tc\t1", "b\tb\t2", "c\ta\t3"}) list->addEntry(Str(label), 0, false, 0, {});
    w->setSize(500, 300);
    w->build();
    guiItemSetNativeAttr(list, 0x4c737446);  // "LstF"
    settle();
    if (round == 0) {
      treeOf(list)->header()->resizeSection(0, 123);
      for (int click = 0; click < 2; ++click) {
        list->userTitleClicked(1);
        drain();
      }
      EXPECT_EQ(list->infoTitleMark(), 1u | kGuiTitleMarkReverse);
      widths = guiView(*list) ? static_cast<GuiListView*>(guiView(*list))->shownColumnWidths() : widths;
      guiAppSaveStates(w);
    } else {
      guiAppLoadSavedStates(w);
      guiListApplyUserSort(list);
      EXPECT_EQ(list->infoSortByUser().column, 1);
      EXPECT_TRUE(list->infoSortByUser().reverse);
      list->cursor_gotoStart();
      EXPECT_EQ(list->cursor_getLabel(), "a\tc\t1");
      EXPECT_EQ(treeOf(list)->header()->sectionSize(0), 123);
    }
    client_->endGuiWindow(w);
  }
  EXPECT_EQ(widths.front(), 123);
}

TEST(QtListDates, WrittenDatesInTheLocalesShortForm) {
  const QLocale us("en_US"), de("de_DE"), jp("ja_JP");
  struct Case {
    const char* written;
    const QLocale& locale;
    const char* shown;
  } cases[] = {
      {"2026-12-09", us, "12/9/26"},
      {"2026-12-09 15:05", us, "12/9/26 3:05 PM"},
      {"2026-12-09", de, "09.12.26"},
      {"2026-12-09 00:00", de, "09.12.26 00:00"},
      {"1999-01-31 23:59", jp, "1999/01/31 23:59"},
      {"2026-12-09 15:05", QLocale::c(), "2026-12-09 15:05"},  // the C locale keeps the written form
      {"2026-12-09", QLocale::c(), "2026-12-09"},
      // Not a written date: as it is.
      {" ", us, " "},
      {" invalid date", us, " invalid date"},
      {"none", us, "none"},
      {"2026-13-09", us, "2026-13-09"},
      {"2026-02-30 10:00", us, "2026-02-30 10:00"},
      {"2026-12-09 24:00", us, "2026-12-09 24:00"},
      {"2026-12-09T15:05", us, "2026-12-09T15:05"},
      {"2026-12-09 15:05:00", us, "2026-12-09 15:05:00"},
      {"2026/12/09", us, "2026/12/09"},
      {"\u0662\u0660\u0662\u0666-12-09", us, "\u0662\u0660\u0662\u0666-12-09"},  // digits of another script
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    EXPECT_EQ(guiLocaleDate(QString::fromUtf8(c.written), c.locale).toStdString(), c.shown);
  }
  // The day alone, for a column too narrow for the time of day.
  const Case days[] = {{"2026-12-09 15:05", us, "12/9/26"},
                       {"2026-12-09 00:00", de, "09.12.26"},
                       {"2026-12-09 15:05", QLocale::c(), "2026-12-09"},
                       {"2026-12-09", us, "12/9/26"},
                       {"2026-12-09 24:00", us, "2026-12-09 24:00"},
                       {"none", us, "none"}};
  for (const Case& c : days) {
    SCOPED_TRACE(c.written);
    EXPECT_EQ(guiLocaleDate(QString::fromUtf8(c.written), c.locale, false).toStdString(), c.shown);
  }
}

// A feed list's columns as its window narrows step by step: never a column
// beyond the right edge, and the columns give way in their turns (the fill
// column down to the widest other, then the dates' time of day, then the
// other texts, then the fill column to a few words, the other titles, the
// dates, the fill column the widest while it can be).
TEST_F(QtListTest, ColumnsGiveWayInTurnsAsTheViewNarrows) {
  QLocale::setDefault(QLocale("en_US"));
  cGuiWindowHostCore* w = window("Narrowing");
  cGuiListHost* list = makeList(w, 4, "Name\tTags\tDate\tDownload length");
  list->initFillColumn(0)->initDateColumn(2);
  for (int i = 0; i < 5; ++i)
    list->addEntry(Str("Ars Technica & friends: all the article" + std::to_string(i) +
                       "\tlinux,tech\t2026-12-2" + std::to_string(i) + " 23:58\t1234.5 days"),
                   0, false, i, {});
  w->setSize(900, 300);
  w->build();
  settle();
  QTreeView* tree = treeOf(list);
  QHeaderView* header = tree->header();
  auto* view = static_cast<QAbstractItemView*>(tree);
  auto whole = [&](int column) { return header->sectionSize(column) >= view->sizeHintForColumn(column); };
  auto dayAlone = [&] { return !tree->model()->index(0, 2).data().toString().contains(':'); };
  auto atTitle = [&](int column) { return header->sectionSize(column) <= header->sectionSizeHint(column); };
  // Wide: every column whole, the fill column the widest.
  for (int c = 1; c < 4; ++c) {
    EXPECT_TRUE(whole(c)) << c;
    EXPECT_GE(header->sectionSize(0), header->sectionSize(c)) << c;
  }
  EXPECT_FALSE(dayAlone());
  const int fewWords = 15 * tree->fontMetrics().averageCharWidth();
  // At the window's least width the name keeps a few words beside the
  // other columns' rows, the dates whole.
  topOf(w)->resize(topOf(w)->minimumSizeHint().width(), 300);
  settle();
  EXPECT_GE(header->sectionSize(0), fewWords);
  EXPECT_TRUE(whole(2) && whole(3));
  EXPECT_LE(header->length(), tree->viewport()->width());
  // Narrower still, as a screen narrower than the window makes it.
  tree->setMinimumWidth(1);
  bool sawDayAlone = false, sawDatesCutForName = false, sawTitlesCutForName = false;
  for (int width = 900; width >= 120; width -= 5) {
    topOf(w)->resize(width, 300);
    settle();
    const std::string at = "at " + std::to_string(width) + ": " + std::to_string(header->sectionSize(0)) + " " +
                           std::to_string(header->sectionSize(1)) + " " + std::to_string(header->sectionSize(2)) + " " +
                           std::to_string(header->sectionSize(3)) + " in " + std::to_string(tree->viewport()->width());
    if (tree->viewport()->width() >= 4 * header->minimumSectionSize()) {
      EXPECT_LE(header->length(), tree->viewport()->width()) << at;
    }
    // The time goes before any other text, the dates after the other texts.
    EXPECT_TRUE(dayAlone() || (whole(1) && whole(2) && whole(3))) << at;
    EXPECT_TRUE(whole(2) || (atTitle(1) && atTitle(3))) << at;
    // The name the widest while another text has more than its title; the
    // dates cut only to keep it so, else once it is down to its title.
    const bool widest =
        header->sectionSize(0) >= std::max({header->sectionSize(1), header->sectionSize(2), header->sectionSize(3)});
    EXPECT_TRUE(widest || (atTitle(1) && atTitle(3))) << at;
    EXPECT_TRUE(whole(2) || widest || header->sectionSize(0) <= header->sectionSizeHint(0) + 4) << at;
    // The name keeps a few words until every other column is down to its
    // rows or less: their titles are cut first.
    bool othersDown = true;
    for (int c = 1; c < 4; ++c) othersDown = othersDown && header->sectionSize(c) <= view->sizeHintForColumn(c);
    EXPECT_TRUE(header->sectionSize(0) >= fewWords || othersDown) << at;
    const bool titlesCut = header->sectionSize(3) < header->sectionSizeHint(3);
    sawTitlesCutForName = sawTitlesCutForName || (titlesCut && whole(2) && widest && header->sectionSize(0) >= fewWords);
    sawDatesCutForName = sawDatesCutForName || (!whole(2) && widest);
    sawDayAlone = sawDayAlone || dayAlone();
  }
  EXPECT_TRUE(sawDayAlone);
  EXPECT_TRUE(sawDatesCutForName);
  EXPECT_TRUE(sawTitlesCutForName);
  // Wide again: the time of day comes back.
  topOf(w)->resize(900, 300);
  settle();
  EXPECT_FALSE(dayAlone());
  QLocale::setDefault(QLocale::system());
}

TEST_F(QtListTest, DateColumnsShowTheLocalesFormAndRowsTheirOwnHelp) {
  QLocale::setDefault(QLocale("en_US"));
  cGuiWindowHostCore* w = window("Dates");
  cGuiListHost* list = makeList(w, 3, "Name\tUpdated\tRaw");
  list->initDateColumn(1)->initDateColumn(99);
  list->setRowHelp([](const cGuiList::Row& row) { return row.data == 2 ? Str("failed: HTTP 404") : Str(); });
  list->setHelp("the list's own help");
  list->setSortByUser(1, false);
  for (int i : {1, 2, 3})
    list->addEntry(Str("feed" + std::to_string(i) + "\t2026-0" + std::to_string(4 - i) + "-01 13:30\t2026-01-01"), 0,
                   false, i, {});
  w->build();
  settle();
  QAbstractItemModel* model = treeOf(list)->model();
  // Sorted by the written dates, shown in the locale's form.
  EXPECT_EQ(model->data(model->index(0, 1)).toString().toStdString(), "1/1/26 1:30 PM");
  EXPECT_EQ(model->data(model->index(2, 1)).toString().toStdString(), "3/1/26 1:30 PM");
  EXPECT_EQ(model->data(model->index(0, 2)).toString().toStdString(), "2026-01-01");
  EXPECT_EQ(list->infoEntryAt(0)->label, "feed3\t2026-01-01 13:30\t2026-01-01");
  EXPECT_EQ(model->data(model->index(1, 0), Qt::ToolTipRole).toString().toStdString(), "failed: HTTP 404");
  EXPECT_FALSE(model->data(model->index(0, 0), Qt::ToolTipRole).isValid());
  EXPECT_EQ(treeOf(list)->toolTip().toStdString(), "the list's own help");
  QLocale::setDefault(QLocale::system());
}

// Two lists side by side, as the main window has them: each gets the
// width its columns ask for where the row has it, not half the row, and a
// row without weight above a list (" X " and "Filter") takes its least
// width.
TEST_F(QtListTest, ARowOfListsGivesEachTheWidthItsColumnsAsk) {
  cGuiWindowHostCore* w = window("Two lists");
  w->beginGroupHorizontal(nullptr);
  w->beginGroupVertical(nullptr);
  w->beginGroupHorizontal(nullptr)->initNoWeight();
  w->addButton(" X ");
  w->addLabel("Filter      ");
  w->endGroup();
  auto* narrow = static_cast<cGuiListHost*>(w->beginList(2, nullptr));
  narrow->initColumnTitles("Tag\tUsed")->initFillColumn(0);
  narrow->addEntry(Str("linux\t2026-12-28 23:58"), 0, false, 0, {});
  w->endList();
  w->endGroup();
  w->beginGroupVertical(nullptr);
  auto* wide = static_cast<cGuiListHost*>(w->beginList(4, nullptr));
  wide->initColumnTitles("Name\tUpdated\tUnseen\tDownload length")->initFillColumn(0);
  wide->addEntry(Str("A feed's name\t2026-12-28 23:58\t2026-12-27 23:58\t1234.5 days"), 0, false, 0, {});
  w->endList();
  w->endGroup();
  w->endGroup();
  w->setSize(500, 300);
  w->build();
  for (int i = 0; i < 10; ++i) settle();
  QTreeView* left = treeOf(narrow);
  QTreeView* right = treeOf(wide);
  const int hints = left->sizeHint().width() + right->sizeHint().width();
  topOf(w)->resize(60 + hints, 300);
  for (int i = 0; i < 10; ++i) settle();
  for (QTreeView* tree : {left, right}) {
    EXPECT_GE(tree->width(), tree->sizeHint().width());
    EXPECT_LE(tree->header()->length(), tree->viewport()->width());
    for (int c = 1; c < tree->header()->count(); ++c) {
      EXPECT_GE(tree->header()->sectionSize(c), static_cast<QAbstractItemView*>(tree)->sizeHintForColumn(c)) << c;
      EXPECT_GE(tree->header()->sectionSize(0), tree->header()->sectionSize(c)) << c;
    }
  }
  // Short of room, the wider gives way first: the narrow one keeps what it
  // asks while that is below the level.
  topOf(w)->resize(hints, 300);
  for (int i = 0; i < 10; ++i) settle();
  EXPECT_NEAR(left->width(), left->sizeHint().width(), 12) << left->width() << " and " << right->width();
  EXPECT_LT(right->width(), right->sizeHint().width());
}

TEST_F(QtListTest, ColumnsFitTheRowsInSightAndWidenAsOthersComeIntoSight) {
  cGuiWindowHostCore* w = window("In sight");
  cGuiListHost* list = makeList(w, 2, "Name\tTags");
  list->initFillColumn(0);
  const std::string longTags = "linux,science,news";
  for (int i = 0; i < 300; ++i)
    list->addEntry(Str("Feed " + std::to_string(i) + "\t" + (i == 250 ? longTags : "a")), 0, false, i, {});
  w->setSize(900, 300);
  w->build();
  for (int i = 0; i < 5; ++i) settle();
  QTreeView* tree = treeOf(list);
  const int longWidth = tree->fontMetrics().horizontalAdvance(QString::fromStdString(longTags));
  EXPECT_LT(tree->header()->sectionSize(1), longWidth);
  tree->scrollTo(tree->model()->index(250, 0));
  for (int i = 0; i < 5; ++i) settle();
  EXPECT_GE(tree->header()->sectionSize(1), longWidth);
}

TEST_F(QtListTest, ScreenshotOfAFeedLikeList) {
  cGuiWindowHostCore* w = window("Feeds");
  cGuiListHost* list = makeList(w, 5, "Feed\tNew\tItems\tUpdated\tAddress");
  list->initMultiSelect(true, true)->initColumnAlignment("LRRLL")->initColumnSortTypes("INNII");
  list->setSortByUser(0, false);
  list->setRedraw(false);
  for (int i = 0; i < 1000; ++i) {
    std::string label = "Feed number " + std::to_string(i) + "\t" + std::to_string(i % 7) + "\t" +
                        std::to_string(i * 3 % 101) + "\t2026-12-0" + std::to_string(i % 9 + 1) +
                        "\thttps://example.org/feed/" + std::to_string(i);
    list->addEntry(Str(label), (i % 7 != 0 ? 4 : 0) | (i % 11 == 0 ? 1 : 0) | (i % 13 == 0 ? 2 : 0), false, i,
                   {});
  }
  list->setRedraw(true);
  w->setSize(720, 420);
  w->build();
  list->cursor_gotoNext(3);
  list->cursor_setState(true);
  settle();
  std::filesystem::path dir = std::filesystem::path(BRINDLEWORK_ARTEFACTS_DIR) / "gui";
  std::filesystem::create_directories(dir);
  QPixmap shot = topOf(w)->grab();
  EXPECT_FALSE(shot.isNull());
  EXPECT_TRUE(shot.save(QString::fromStdString((dir / "feed_list.png").string())));
}

}  // namespace
}  // namespace bw
