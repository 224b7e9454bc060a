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
#include <QScrollBar>
#include <QStyleOptionHeader>
#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <numeric>

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
        const int column = index.column();
        answer = host_->infoIsDateColumn(column) ? guiLocaleDate(text, QLocale(), !dateOnly(column)) : text;
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

  // A date column too narrow for the time of day shows the day alone.
  bool dateOnly(int column) const { return dateOnly_.count(column) > 0; }
  void setDateOnly(int column, bool flag) {
    if (flag) dateOnly_.insert(column); else dateOnly_.erase(column);
  }

 private:
  cGuiListHost* host_;
  const GuiTextCodec& codec_;
  int count_;
  std::set<int> dateOnly_;
};

// The column widths: each column as wide as its title and the rows in
// sight (long texts within a cap), the fill column taking what the others
// leave, so that no column lies beyond the view's right edge. When the
// view is too narrow for all, the columns give way in turns, the widest
// first within a turn: the fill column down to the widest of the others;
// the dates show the day alone; the other texts down to their titles, the
// fill column with them down to a few words; the others below their titles
// (the title row ends them in "…") down to their rows in sight; the dates
// down to their titles, the fill column with them and still the widest
// (only where that leaves it the widest); the fill column down to its
// title; the dates down to theirs; all alike.
// A column the user sized, or that a saved state sized, keeps its width
// unless its title or rows in sight need more.
class ColumnFitter {
 public:
  // contentOf answers the width a column's rows in sight need.
  ColumnFitter(cGuiListHost* host, QTreeView* tree, std::function<int(int)> contentOf)
      : host_(host), fill_(host->infoFillColumn()), tree_(tree), contentOf_(std::move(contentOf)) {
    QHeaderView* header = tree_->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    // The rows in sight only: by default the view measures a thousand rows
    // around them, each laid out as text.
    header->setResizeContentsPrecision(0);
    QObject::connect(header, &QHeaderView::sectionResized, tree_, [this](int column, int, int) {
      // The user's width (the sections the model brings come before the
      // first fit).
      if (fitted_ && !fitting_ && column != fill_) pinned_[column] = true;
    });
    // Only the marked title needs room for the mark.
    QObject::connect(header, &QHeaderView::sortIndicatorChanged, tree_, [this] { fitLater(); });
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
    const size_t f = static_cast<size_t>(fill);
    // The dates with their time of day while the room allows.
    const std::vector<int> datesBefore = datesNow();
    for (int c = 0; model_ && c < columns; ++c) model_->setDateOnly(c, false);
    auto isDate = [&](int c) { return c != fill && host_->infoIsDateColumn(c); };
    // rows: what the rows in sight need; days: the dates' with the day alone.
    std::vector<int> width(static_cast<size_t>(columns)), title(static_cast<size_t>(columns)),
        rows(static_cast<size_t>(columns)), days(static_cast<size_t>(columns));
    int fillContent = 0;
    bool capped = false;
    for (int c = 0; c < columns; ++c) {
      const size_t i = static_cast<size_t>(c);
      title[i] = titleWidth(c);
      if (isDate(c) && model_) {
        model_->setDateOnly(c, true);
        days[i] = contentOf_(c) + kColumnGap;
        model_->setDateOnly(c, false);
      }
      rows[i] = contentOf_(c) + kColumnGap;
      if (!isDate(c) || !model_) days[i] = rows[i];
      const int content = std::max(title[i], rows[i]);
      if (c == fill)
        fillContent = content;
      else if (pinned_.count(c))
        width[i] = std::max(header->sectionSize(c), content);
      else
        width[i] = std::max(title[i], std::min(content, capWidth()));
      if (c != fill && content > width[i]) capped = true;
    }
    // The width at which every column shows its contents and the fill
    // column is the widest: what the view asks of its window.
    int widestOther = 0, others = 0;
    for (int c = 0; c < columns; ++c)
      if (c != fill) widestOther = std::max(widestOther, width[static_cast<size_t>(c)]), others += width[static_cast<size_t>(c)];
    // The fill column asks for its rows up to a line of a readable length.
    const int ideal = others + std::max({widestOther, title[f], std::min(fillContent, 2 * capWidth())});
    width[f] = std::max(fillContent, widestOther);
    // The least the view asks of its window: every title whole, or, where
    // that is more, a few words of the fill column beside each other
    // column's rows in sight (a date's day alone) or title, the narrower.
    const int fewWords = std::max(title[f], std::min(fillContent, kFewWords * averageChar()));
    int least = columns > 1 ? fewWords : 0, titles = 0;
    for (int c = 0; c < columns; ++c) {
      const size_t i = static_cast<size_t>(c);
      titles += title[i];
      if (c != fill) least += isDate(c) ? days[i] : std::min(title[i], rows[i]);
    }
    least = std::max(least, titles);
    // A list with more to show than at that width takes its share of a
    // row's room however much it asks; one whose rows are whole does not.
    const bool more = capped || fillContent > 2 * capWidth();
    const QSizePolicy::Policy across = more ? QSizePolicy::Expanding : QSizePolicy::Preferred;
    if (tree_->sizePolicy().horizontalPolicy() != across) {
      QSizePolicy policy = tree_->sizePolicy();
      policy.setHorizontalPolicy(across);
      tree_->setSizePolicy(policy);
    }

    const int available = tree_->viewport()->width();
    if (available > 0) {
      std::vector<int> floor(static_cast<size_t>(columns));
      // Narrows the columns inTurn selects down to their titles; the fill
      // column, when in turn, down to floorOfFill.
      auto giveWay = [&](auto inTurn, int floorOfFill) {
        for (int c = 0; c < columns; ++c) floor[static_cast<size_t>(c)] = c == fill ? floorOfFill : title[static_cast<size_t>(c)];
        squeeze(width, floor, available, inTurn);
      };
      // The others with the fill column, which stays as wide as the widest
      // of them (as the others not in turn, and as the titles of those in
      // turn or less) and as leastOfFill; onlyWidest: only where the room
      // holds them so.
      auto giveWayWithFill = [&](auto inTurn, int leastOfFill, bool onlyWidest) {
        int widest = std::max(title[f], leastOfFill), rest = 0;
        for (int c = 0; c < columns; ++c) {
          const size_t i = static_cast<size_t>(c);
          if (c == fill) continue;
          const int floorOf = inTurn(c) ? std::min(title[i], width[i]) : width[i];
          widest = std::max(widest, floorOf);
          rest += floorOf;
        }
        if (!onlyWidest || rest + widest <= available) giveWay([&](int c) { return c == fill || inTurn(c); }, widest);
      };
      // First the fill column, down to the widest of the others; then the
      // dates lose their time of day; the other texts give way down to their
      // titles, the fill column with them down to a few words; the others
      // below their titles (which the title row cuts short) down to their
      // rows in sight; the dates down to their titles, the fill column with
      // them and still the widest; the fill column down to its title; the
      // dates down to theirs; at last all the columns alike.
      giveWay([&](int c) { return c == fill; }, ideal - others);
      if (std::accumulate(width.begin(), width.end(), 0) > available) {
        for (int c = 0; c < columns; ++c) {
          if (!isDate(c) || !model_) continue;
          model_->setDateOnly(c, true);
          rows[static_cast<size_t>(c)] = days[static_cast<size_t>(c)];
          width[static_cast<size_t>(c)] =
              std::min(width[static_cast<size_t>(c)], std::max(title[static_cast<size_t>(c)], rows[static_cast<size_t>(c)]));
        }
      }
      // A feed's name or an item's title read by a few words is worth more
      // than the other columns' titles whole.
      giveWayWithFill([&](int c) { return c != fill && !isDate(c); }, fewWords, false);
      for (int c = 0; c < columns; ++c) {
        const size_t i = static_cast<size_t>(c);
        floor[i] = std::max(header->minimumSectionSize(), std::min(width[i], rows[i]));
      }
      squeeze(width, floor, available, [&](int c) { return c != fill; });
      // The dates give way only where that keeps the fill column the
      // widest; where even their titles leave it narrower, they stay whole
      // and the fill column gives way first.
      giveWayWithFill([&](int c) { return c != fill; }, 0, true);
      giveWay([&](int c) { return c == fill; }, title[f]);
      giveWay(isDate, 0);
      for (int c = 0; c < columns; ++c) floor[static_cast<size_t>(c)] = header->minimumSectionSize();
      squeeze(width, floor, available, [](int) { return true; });
      // The fill column takes the rest.
      int used = 0;
      for (int c = 0; c < columns; ++c)
        if (c != fill) used += width[static_cast<size_t>(c)];
      width[f] = std::max(width[f], available - used);
    }
    if (model_ && datesBefore != datesNow()) tree_->viewport()->update();
    fitting_ = true;
    for (int c = 0; c < columns; ++c) header->resizeSection(c, width[static_cast<size_t>(c)]);
    fitting_ = false;
    fitted_ = true;
    if (ideal != ideal_ || least != least_) {
      ideal_ = ideal;
      least_ = least;
      tree_->updateGeometry();
    }
  }

  // The columns' width at the last fit with every column whole, 0 before.
  int idealWidth() const { return ideal_; }
  // The width of every column's title, or more for a few words of the fill
  // column beside the others' rows, at the last fit: a list is never
  // narrower.
  int leastWidth() const { return least_; }
  void setModel(ListModel* model) { model_ = model; }

  // Saved widths: a column's own width within its title and the cap. The
  // fill column's is not kept.
  void restore(const std::vector<int32_t>& widths) {
    QHeaderView* header = tree_->header();
    for (int c = 0; c < header->count() && static_cast<size_t>(c) < widths.size(); ++c) {
      if (c == fill_) continue;
      const int least = titleWidth(c);
      fitting_ = true;
      header->resizeSection(c, std::clamp(static_cast<int>(widths[static_cast<size_t>(c)]), least,
                                          std::max(least, capWidth())));
      fitting_ = false;
      pinned_[c] = true;
    }
    fit();
  }

 private:
  // The date columns that show the day alone.
  std::vector<int> datesNow() const {
    std::vector<int> columns;
    for (int c = 0; model_ && c < tree_->header()->count(); ++c)
      if (model_->dateOnly(c)) columns.push_back(c);
    return columns;
  }

  // Room between a cell's text and the next column.
  static constexpr int kColumnGap = 0;
  int averageChar() const { return tree_->fontMetrics().averageCharWidth(); }
  int capWidth() const { return 32 * averageChar(); }
  // What the fill column keeps before the other columns' titles give way.
  static constexpr int kFewWords = 15;

  // The room a column's title needs; the sort mark's only in the marked
  // column (Qt keeps room for it in every title).
  int titleWidth(int column) const {
    if (tree_->isHeaderHidden()) return 0;
    QHeaderView* header = tree_->header();
    if (header->isSortIndicatorShown() && header->sortIndicatorSection() == column)
      return header->sectionSizeHint(column);
    QStyleOptionHeader option;
    option.initFrom(header);
    option.section = column;
    option.text = tree_->model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    const QVariant font = tree_->model()->headerData(column, Qt::Horizontal, Qt::FontRole);
    if (font.isValid()) option.fontMetrics = QFontMetrics(font.value<QFont>());
    // The style's own answer, and never less than the text between the
    // section's margins.
    const int text = option.fontMetrics.horizontalAdvance(option.text) +
                     2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, &option, header);
    return std::max({header->minimumSectionSize(),
                     header->style()->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), header).width(), text});
  }

  // Narrows the columns inTurn selects, the widest first and none below
  // its least, until all fit the view or those reach their least.
  template <class InTurn>
  static void squeeze(std::vector<int>& width, const std::vector<int>& least, int available, InTurn inTurn) {
    const int columns = static_cast<int>(width.size());
    int fixed = 0, widest = 0;
    for (int c = 0; c < columns; ++c) {
      if (inTurn(c)) widest = std::max(widest, width[static_cast<size_t>(c)]);
      else fixed += width[static_cast<size_t>(c)];
    }
    auto sumAt = [&](int level) {
      int sum = fixed;
      for (int c = 0; c < columns; ++c) {
        const size_t i = static_cast<size_t>(c);
        if (inTurn(c)) sum += std::max(std::min(least[i], width[i]), std::min(width[i], level));
      }
      return sum;
    };
    if (sumAt(widest) <= available) return;
    int low = 0, high = widest;
    while (low < high) {
      const int mid = (low + high + 1) / 2;
      if (sumAt(mid) <= available) low = mid; else high = mid - 1;
    }
    for (int c = 0; c < columns; ++c) {
      const size_t i = static_cast<size_t>(c);
      if (inTurn(c)) width[i] = std::max(std::min(least[i], width[i]), std::min(width[i], low));
    }
  }

  cGuiListHost* host_;
  int fill_;
  QTreeView* tree_;
  std::function<int(int)> contentOf_;
  ListModel* model_ = nullptr;
  std::map<int, bool> pinned_;
  bool fitting_ = false;
  bool fitted_ = false;
  bool pending_ = false;
  int ideal_ = 0;
  int least_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// A title row whose titles end in "…" where their columns are narrower
// than they are.
class TitleRow : public QHeaderView {
 public:
  // As the tree's own: sections that move, titles on the left.
  explicit TitleRow(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsMovable(true);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  }

 protected:
  void initStyleOptionForIndex(QStyleOptionHeader* option, int section) const override {
    QHeaderView::initStyleOptionForIndex(option, section);
    const QVariant font = model()->headerData(section, orientation(), Qt::FontRole);
    const QFontMetrics metrics(font.isValid() ? font.value<QFont>() : this->font());
    const QRect whole = option->rect;
    option->rect = QRect(0, 0, sectionSize(section), height());
    const int room = style()->subElementRect(QStyle::SE_HeaderLabel, option, this).width();
    option->rect = whole;
    if (metrics.horizontalAdvance(option->text) > room) option->text = metrics.elidedText(option->text, Qt::ElideRight, room);
  }
};

// The tree view takes new pens when the palette changes.
class ListTree : public QTreeView {
  static constexpr int kRowsWanted = 12;
  QHeaderView* header_() const { return header(); }

 public:
  explicit ListTree(cGuiListHost* host)
      : fitter(host, withTitleRow(this), [this](int column) { return contentWidth(column); }), host_(host) {}
  // The column widths (the tree is its parent in Qt terms only).
  ColumnFitter fitter;
  // Room for a dozen rows: a list asks for more height than a text box.
  // As wide as its columns' contents, with room for the scroll bar.
  QSize sizeHint() const override {
    const int header = isHeaderHidden() ? 0 : header_()->sizeHint().height();
    const int columns = fitter.idealWidth();
    const int width = columns == 0 ? QTreeView::sizeHint().width()
                                   : columns + 2 * frameWidth() +
                                         (verticalScrollBar()->isVisible() ? verticalScrollBar()->sizeHint().width() : 0);
    return {width, header + kRowsWanted * (fontMetrics().height() + 4) + 2 * frameWidth()};
  }
  // Never narrower than its columns' titles, nor than a few words of the
  // fill column beside the others' rows, with room for the scroll bar.
  QSize minimumSizeHint() const override {
    const QSize least = QTreeView::minimumSizeHint();
    const int columns = fitter.leastWidth();
    if (columns == 0) return least;
    return {std::max(least.width(), columns + 2 * frameWidth() + verticalScrollBar()->sizeHint().width()), least.height()};
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
  // The viewport narrows and widens with the scroll bar down its side.
  bool viewportEvent(QEvent* event) override {
    if (event->type() == QEvent::Resize) fitter.fitLater();
    return QTreeView::viewportEvent(event);
  }
  void scrollContentsBy(int dx, int dy) override {
    QTreeView::scrollContentsBy(dx, dy);
    if (dy != 0) fitter.fitLater();  // other rows came into sight
  }

 private:
  static QTreeView* withTitleRow(QTreeView* tree) {
    tree->setHeader(new TitleRow(tree));
    return tree;
  }
  // The rows in sight; before the view is first shown (when its window
  // takes its first size) the first rows it will show.
  int contentWidth(int column) {
    if (isVisible()) return sizeHintForColumn(column);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    int widest = -1;
    for (int row = 0; row < std::min(model()->rowCount(), kRowsWanted); ++row) {
      const QModelIndex index = model()->index(row, column);
      widest = std::max(widest, itemDelegateForIndex(index)->sizeHint(option, index).width());
    }
    return widest;
  }

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

QString guiLocaleDate(const QString& written, const QLocale& locale, bool withTime) {
  if (written.size() != 10 && written.size() != 16) return written;
  for (qsizetype i = 0; i < written.size(); ++i) {
    const char want = (i == 4 || i == 7) ? '-' : i == 10 ? ' ' : i == 13 ? ':' : '0';
    const QChar c = written[i];
    if (want == '0' ? !c.isDigit() || c.unicode() > '9' : c != QLatin1Char(want)) return written;
  }
  const QDate date = QDate::fromString(written.left(10), Qt::ISODate);
  const QTime time = written.size() == 16 ? QTime::fromString(written.mid(11), QStringLiteral("HH:mm")) : QTime(0, 0);
  if (!date.isValid() || !time.isValid()) return written;
  if (written.size() == 10 || !withTime) {
    if (locale.dateFormat(QLocale::ShortFormat) == QLocale::c().dateFormat(QLocale::ShortFormat)) return written.left(10);
    return locale.toString(date, QLocale::ShortFormat);
  }
  if (locale.dateTimeFormat(QLocale::ShortFormat) == QLocale::c().dateTimeFormat(QLocale::ShortFormat)) return written;
  return locale.toString(QDateTime(date, time, Qt::UTC), QLocale::ShortFormat);
}

QWidget* guiRealiseList(cGuiListHost* host, const GuiTextCodec& codec) {
  auto* tree = new ListTree(host);
  auto* model = new ListModel(host, codec, tree);
  tree->setModel(model);
  tree->fitter.setModel(model);
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
