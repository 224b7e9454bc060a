// gui/host/gui_qt_list.cpp - the list gadget on Qt: an item model over the
// list host's rows in a tree view without root decoration, the title row
// with its sort mark, the selection both ways, and the user's clicks.
#include <QAbstractItemModel>
#include <QDateTime>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QTreeView>
#include <QVBoxLayout>
#include <QResizeEvent>
#include <algorithm>
#include <map>
#include <memory>

#include "gui/host/core/gui_list_host.h"
#include "gui/host/gui_qt_inputs.h"
#include "gui/host/gui_qt_widgets.h"

namespace bw {

namespace {

QColor colourOf(uint32_t rgb) { return QColor((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff); }

Qt::Alignment alignmentOf(char letter) {
  switch (letter) {
    case 'C':
      return Qt::AlignHCenter | Qt::AlignVCenter;
    case 'R':
      return Qt::AlignRight | Qt::AlignVCenter;
    default:
      return Qt::AlignLeft | Qt::AlignVCenter;
  }
}

// The rows of the host as Qt sees them. count_ is what the view was last
// told, so that the view is never shown a count ahead of its signals.
class ListModel : public QAbstractItemModel {
 public:
  ListModel(cGuiListHost* host, const GuiTextCodec& codec, QObject* parent)
      : QAbstractItemModel(parent), host_(host), codec_(codec), count_(host->infoCount()) {}

  QModelIndex index(int row, int column, const QModelIndex& parent) const override {
    if (parent.isValid() || row < 0 || row >= count_ || column < 0 || column >= host_->infoColumns())
      return {};
    return createIndex(row, column);
  }
  QModelIndex parent(const QModelIndex&) const override { return {}; }
  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : count_; }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : host_->infoColumns();
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= host_->infoCount()) return {};
    if (role == Qt::TextAlignmentRole) {
      return QVariant::fromValue(
          alignmentOf(host_->infoColumnAlignment()[static_cast<size_t>(index.column())]));
    }
    if (role == Qt::ToolTipRole) {
      QVariant answer;
      guiGuarded([&] {
        Str help = host_->infoRowHelp(index.row());
        if (!help.isNil() && help.length() > 0) answer = QString::fromStdString(codec_.toUtf8(help.view()));
      });
      return answer;
    }
    if (role != Qt::DisplayRole && role != Qt::ForegroundRole && role != Qt::FontRole) return {};
    QVariant answer;
    guiGuarded([&] {
      const GuiStyledText& cell = host_->rowCells(index.row())[static_cast<size_t>(index.column())];
      GuiTextStyle style = cell.runs.empty() ? GuiTextStyle() : cell.runs.front().style;
      if (role == Qt::DisplayRole) {
        QString text = QString::fromStdString(codec_.toUtf8(cell.plain()));
        answer = host_->infoIsDateColumn(index.column()) ? guiLocaleDate(text) : text;
      } else if (role == Qt::ForegroundRole) {
        if (!style.numberedPen) return;
        if (std::optional<uint32_t> rgb = guiPenTable().rgbOf(style.pen)) answer = colourOf(*rgb);
      } else if (style.bold || style.italic) {
        QFont font;
        font.setBold(style.bold);
        font.setItalic(style.italic);
        answer = font;
      }
    });
    return answer;
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || section < 0 || section >= host_->infoColumns()) return {};
    const auto& titles = host_->infoTitleTexts();
    if (static_cast<size_t>(section) >= titles.size()) return {};
    GuiStyledText title = parseGuiText(titles[static_cast<size_t>(section)]);
    switch (role) {
      case Qt::DisplayRole:
        return QString::fromStdString(codec_.toUtf8(title.plain()));
      case Qt::FontRole: {
        QFont font;
        font.setBold(!title.runs.empty() && title.runs.front().style.bold);
        return font;
      }
      case Qt::TextAlignmentRole:
        return QVariant::fromValue(alignmentOf(host_->infoColumnAlignment()[static_cast<size_t>(section)]));
      default:
        return {};
    }
  }

  void inserted(int first, int count) {
    beginInsertRows(QModelIndex(), first, first + count - 1);
    count_ += count;
    endInsertRows();
  }
  void removed(int first, int count) {
    beginRemoveRows(QModelIndex(), first, first + count - 1);
    count_ -= count;
    endRemoveRows();
  }
  void changed(int row) { Q_EMIT dataChanged(index(row, 0, {}), index(row, host_->infoColumns() - 1, {})); }
  void reset() {
    beginResetModel();
    count_ = host_->infoCount();
    endResetModel();
  }

 private:
  cGuiListHost* host_;
  const GuiTextCodec& codec_;
  int count_;
};

// The column widths: each column as wide as its title and the rows in
// sight, the fill column taking what the others leave. When the view is
// too narrow for all, the widest of the others give way first, down to
// their titles, so that the fill column stays at least as wide as any.
// A column the user sized, or that a saved state sized, keeps its width
// unless its title or rows in sight need more.
class ColumnFitter {
 public:
  ColumnFitter(cGuiListHost* host, QTreeView* tree) : fill_(host->infoFillColumn()), tree_(tree) {
    QHeaderView* header = tree_->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    QObject::connect(header, &QHeaderView::sectionResized, tree_, [this](int column, int, int) {
      // The user's width (the sections the model brings come before the
      // first fit).
      if (fitted_ && !fitting_ && column != fill_) pinned_[column] = true;
    });
  }

  // Fits now; the next pass of the toolkit fits again (rows come in many
  // steps between two passes).
  void fitLater() {
    if (pending_) return;
    pending_ = true;
    std::weak_ptr<bool> alive = alive_;
    QMetaObject::invokeMethod(
        tree_,
        [this, alive] {
          if (alive.expired()) return;
          pending_ = false;
          guiGuarded([this] { fit(); });
        },
        Qt::QueuedConnection);
  }

  void fit() {
    QHeaderView* header = tree_->header();
    const int columns = header->count();
    const int fill = fill_;
    if (columns == 0 || fill >= columns) return;
    const int available = tree_->viewport()->width();
    std::vector<int> wanted(static_cast<size_t>(columns)), least(static_cast<size_t>(columns));
    int fixedSum = 0;
    for (int c = 0; c < columns; ++c) {
      const size_t i = static_cast<size_t>(c);
      least[i] = tree_->isHeaderHidden() ? 0 : header->sectionSizeHint(c);
      const int content = std::max(least[i], static_cast<QAbstractItemView*>(tree_)->sizeHintForColumn(c) + kColumnGap);
      wanted[i] = std::max(least[i], std::min(content, capWidth()));
      // Short values (dates, counts) stay whole; longer texts give way. The
      // fill column keeps enough of its texts to be read (a feed's name, a
      // title) even when the others then need the scroll bar.
      if (content <= shortWidth()) least[i] = content;
      if (c == fill) least[i] = std::max(least[i], std::min(content, 16 * tree_->fontMetrics().averageCharWidth()));
      if (c != fill && pinned_.count(c)) {
        wanted[i] = std::max(header->sectionSize(c), content);
        fixedSum += wanted[i];
      }
    }
    // The level the fitted columns are cut down to: the largest one at
    // which they, the pinned ones and a fill column of the same level fit.
    // The fill column is to be the widest: at least as wide as the
    // columns that cannot give way.
    int firm = 0;
    for (int c = 0; c < columns; ++c)
      if (c != fill) firm = std::max(firm, pinned_.count(c) ? wanted[static_cast<size_t>(c)] : least[static_cast<size_t>(c)]);
    auto sumAt = [&](int level) {
      int sum = fixedSum + std::max(level, firm);
      for (int c = 0; c < columns; ++c) {
        if (c == fill || pinned_.count(c)) continue;
        sum += std::max(least[static_cast<size_t>(c)], std::min(wanted[static_cast<size_t>(c)], level));
      }
      return sum;
    };
    int level = *std::max_element(wanted.begin(), wanted.end());
    if (available > 0) {
      int low = 0, high = level;
      while (low < high) {
        const int mid = (low + high + 1) / 2;
        if (sumAt(mid) <= available) low = mid; else high = mid - 1;
      }
      level = low;
    }
    fitting_ = true;
    int used = 0;
    for (int c = 0; c < columns; ++c) {
      if (c == fill) continue;
      const size_t i = static_cast<size_t>(c);
      const int width = pinned_.count(c) ? wanted[i] : std::max(least[i], std::min(wanted[i], level));
      header->resizeSection(c, width);
      used += width;
    }
    const size_t f = static_cast<size_t>(fill);
    header->resizeSection(fill, std::max(least[f], available - used));
    fitting_ = false;
    fitted_ = true;
  }

  // Saved widths: a column's own width within its title and the cap. The
  // fill column's is not kept.
  void restore(const std::vector<int32_t>& widths) {
    QHeaderView* header = tree_->header();
    for (int c = 0; c < header->count() && static_cast<size_t>(c) < widths.size(); ++c) {
      if (c == fill_) continue;
      const int least = header->sectionSizeHint(c);
      fitting_ = true;
      header->resizeSection(c, std::clamp(static_cast<int>(widths[static_cast<size_t>(c)]), least,
                                          std::max(least, capWidth())));
      fitting_ = false;
      pinned_[c] = true;
    }
    fit();
  }

 private:
  // Room between a cell's text and the next column.
  static constexpr int kColumnGap = 12;
  int capWidth() const { return 32 * tree_->fontMetrics().averageCharWidth(); }
  int shortWidth() const { return 24 * tree_->fontMetrics().averageCharWidth(); }

  int fill_;
  QTreeView* tree_;
  std::map<int, bool> pinned_;
  bool fitting_ = false;
  bool fitted_ = false;
  bool pending_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The tree view takes new pens when the palette changes.
class ListTree : public QTreeView {
  static constexpr int kRowsWanted = 12;
  QHeaderView* header_() const { return header(); }

 public:
  explicit ListTree(cGuiListHost* host) : fitter(host, this), host_(host) {}
  // The column widths (the tree is its parent in Qt terms only).
  ColumnFitter fitter;
  // Room for a dozen rows: a list asks for more height than a text box.
  QSize sizeHint() const override {
    const int header = isHeaderHidden() ? 0 : header_()->sizeHint().height();
    return {QTreeView::sizeHint().width(), header + kRowsWanted * (fontMetrics().height() + 4) + 2 * frameWidth()};
  }
  GuiColourMap screenColours() const {
    GuiColourMap map;
    map.registers[7] = palette().color(QPalette::Mid).rgb() & 0xffffff;
    return map;
  }

 protected:
  void changeEvent(QEvent* event) override {
    QTreeView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
      guiGuarded([this] { host_->setupPens(screenColours()); });
      viewport()->update();
    }
  }
  void resizeEvent(QResizeEvent* event) override {
    QTreeView::resizeEvent(event);
    guiGuarded([this] { fitter.fit(); });
  }
  void showEvent(QShowEvent* event) override {
    QTreeView::showEvent(event);
    fitter.fitLater();  // the rows in sight are known once laid out
  }
  void scrollContentsBy(int dx, int dy) override {
    QTreeView::scrollContentsBy(dx, dy);
    if (dy != 0) fitter.fitLater();  // other rows came into sight
  }

 private:
  cGuiListHost* host_;
};

class ListView : public GuiListView {
 public:
  ListView(cGuiListHost* host, ListTree* tree, ListModel* model, QWidget* outer)
      : host_(host), tree_(tree), model_(model), outer_(outer) {
    QObject::connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, tree_,
                     [this] { userSelection(); });
    QObject::connect(tree_, &QTreeView::doubleClicked, tree_, [this](const QModelIndex& index) {
      guiGuarded([&] { host_->userDoubleClicked(index.row()); });
    });
    QObject::connect(tree_->header(), &QHeaderView::sectionClicked, tree_,
                     [this](int column) { guiGuarded([&] { host_->userTitleClicked(column); }); });
  }

  void showHelp(Text help) override {
    tree_->setToolTip(QString::fromUtf8(help.view().data(), help.length()));
  }
  void showDisabled(bool flag) override { outer_->setEnabled(!flag); }
  void* nativeObject() override { return tree_; }

  void listInserted(int32_t first, int32_t count) override {
    quietly([&] { model_->inserted(first, count); });
    tree_->fitter.fitLater();
  }
  void listRemoved(int32_t first, int32_t count) override {
    quietly([&] { model_->removed(first, count); });
    tree_->fitter.fitLater();
  }
  void listChanged(int32_t row) override {
    model_->changed(row);
    tree_->fitter.fitLater();
  }
  void listReset() override {
    quietly([&] { model_->reset(); });
    tree_->fitter.fitLater();
  }
  void showSelection() override {
    if (host_->getSelectable().multiSelect) {
      scheduleSelection();
      return;
    }
    // Single select: the active row is the selection.
    quietly([&] {
      QItemSelectionModel* model = tree_->selectionModel();
      int32_t active = host_->infoActive();
      if (active < 0)
        model->clearSelection();
      else
        model->setCurrentIndex(model_->index(active, 0, {}),
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    });
  }
  void showRowSelection(int32_t) override { scheduleSelection(); }
  void showTitleMark(uint32_t mark) override {
    QHeaderView* header = tree_->header();
    bool shown = mark != kGuiNoTitleMark && static_cast<int32_t>(mark & 255) < host_->infoColumns();
    header->setSortIndicatorShown(shown);
    if (shown) {
      header->setSortIndicator(static_cast<int>(mark & 255),
                               (mark & kGuiTitleMarkReverse) ? Qt::DescendingOrder : Qt::AscendingOrder);
    }
  }
  void jumpTo(int32_t row) override { tree_->scrollTo(model_->index(row, 0, {})); }
  std::vector<int32_t> shownColumnWidths() override {
    std::vector<int32_t> widths;
    for (int i = 0; i < tree_->header()->count(); ++i) widths.push_back(tree_->header()->sectionSize(i));
    return widths;
  }
  void showColumnWidths(const std::vector<int32_t>& widths) override { tree_->fitter.restore(widths); }
  GuiColourMap screenColours() override { return tree_->screenColours(); }

 private:
  // The program's own changes: the selection signals they cause are not
  // the user's.
  template <class F>
  void quietly(F f) {
    bool was = showing_;
    showing_ = true;
    f();
    showing_ = was;
  }
  // A multi-select list shows the program's selection once per pass of the
  // event loop: the selection model costs time by its ranges on every
  // change, so deselecting thousands of rows one by one must not reach it
  // one by one.
  void scheduleSelection() {
    if (selectionPending_) return;
    selectionPending_ = true;
    std::weak_ptr<bool> alive = alive_;
    QMetaObject::invokeMethod(
        tree_,
        [this, alive] {
          if (!alive.expired()) guiGuarded([this] { flushSelection(); });
        },
        Qt::QueuedConnection);
  }
  void flushSelection() {
    selectionPending_ = false;
    quietly([&] {
      QItemSelection selection;
      int32_t count = host_->infoCount();
      for (int32_t row = 0; row < count;) {
        if (!host_->infoEntryAt(row)->selected) {
          row++;
          continue;
        }
        int32_t last = row;
        while (last + 1 < count && host_->infoEntryAt(last + 1)->selected) last++;
        selection.select(model_->index(row, 0, {}), model_->index(last, host_->infoColumns() - 1, {}));
        row = last + 1;
      }
      QItemSelectionModel* model = tree_->selectionModel();
      model->select(selection, QItemSelectionModel::ClearAndSelect);
      int32_t active = host_->infoActive();
      if (active >= 0) model->setCurrentIndex(model_->index(active, 0, {}), QItemSelectionModel::NoUpdate);
    });
  }
  void userSelection() {
    if (showing_) return;
    guiGuarded([this] {
      std::vector<int32_t> rows;
      for (const QModelIndex& index : tree_->selectionModel()->selectedRows()) rows.push_back(index.row());
      std::sort(rows.begin(), rows.end());
      int32_t active;
      if (host_->getSelectable().multiSelect) {
        QModelIndex current = tree_->selectionModel()->currentIndex();
        active = current.isValid() ? current.row() : -1;
      } else {
        active = rows.empty() ? -1 : rows.front();
      }
      host_->userSelected(rows, active);
    });
  }

  cGuiListHost* host_;
  ListTree* tree_;
  ListModel* model_;
  QWidget* outer_;
  bool showing_ = false;
  bool selectionPending_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace

QString guiLocaleDate(const QString& written, const QLocale& locale) {
  if (written.size() != 10 && written.size() != 16) return written;
  for (qsizetype i = 0; i < written.size(); ++i) {
    const char want = (i == 4 || i == 7) ? '-' : i == 10 ? ' ' : i == 13 ? ':' : '0';
    const QChar c = written[i];
    if (want == '0' ? !c.isDigit() || c.unicode() > '9' : c != QLatin1Char(want)) return written;
  }
  const QDate date = QDate::fromString(written.left(10), Qt::ISODate);
  const QTime time = written.size() == 16 ? QTime::fromString(written.mid(11), QStringLiteral("HH:mm")) : QTime(0, 0);
  if (!date.isValid() || !time.isValid()) return written;
  if (written.size() == 10) {
    if (locale.dateFormat(QLocale::ShortFormat) == QLocale::c().dateFormat(QLocale::ShortFormat)) return written;
    return locale.toString(date, QLocale::ShortFormat);
  }
  if (locale.dateTimeFormat(QLocale::ShortFormat) == QLocale::c().dateTimeFormat(QLocale::ShortFormat)) return written;
  return locale.toString(QDateTime(date, time, Qt::UTC), QLocale::ShortFormat);
}

QWidget* guiRealiseList(cGuiListHost* host, const GuiTextCodec& codec) {
  auto* tree = new ListTree(host);
  auto* model = new ListModel(host, codec, tree);
  tree->setModel(model);
  tree->setRootIsDecorated(false);
  tree->setUniformRowHeights(true);
  tree->setSortingEnabled(false);
  tree->setItemsExpandable(false);
  tree->setAllColumnsShowFocus(true);
  tree->header()->setSectionsClickable(true);
  tree->header()->setSectionsMovable(false);
  tree->header()->setVisible(!host->infoColumnTitles().isNil());
  cGuiList::Selectable selectable = host->getSelectable();
  if (!selectable.selectable) {
    tree->setSelectionMode(QAbstractItemView::NoSelection);
  } else if (!selectable.multiSelect) {
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
  } else {
    tree->setSelectionMode(selectable.multiSelectDefaultMode ? QAbstractItemView::ExtendedSelection
                                                             : QAbstractItemView::MultiSelection);
  }
  tree->fitter.fit();
  QWidget* outer = tree;
  if (!host->infoLabel().empty()) {
    auto* box = new QGroupBox(guiQtLiteral(guiQtText(codec, host->infoLabel())));
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(tree);
    outer = box;
  }
  if (host->infoNoWeight()) outer->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
  auto view = std::make_unique<ListView>(host, tree, model, outer);
  if (!host->infoHelp().isNil()) view->showHelp(host->infoHelp());
  if (host->infoDisabled()) view->showDisabled(true);
  guiRecord(*host).view = std::move(view);
  return outer;
}

}  // namespace bw
