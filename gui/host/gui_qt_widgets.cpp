// gui/host/gui_qt_widgets.cpp - the widgets of groups, labels, texts, text
// boxes, bars, breaks and buttons, and their views.
#include "gui/host/gui_qt_widgets.h"

#include <QBoxLayout>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedLayout>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionButton>
#include <algorithm>
#include <vector>

#include "core/exception_print.h"
#include "gui/host/gui_qt_inputs.h"
#include "gui/host/core/gui_share_row.h"
#include "platform/native_path.h"

namespace bw {

void guiFitButtonToText(QPushButton* button) {
  QFontMetrics metrics = button->fontMetrics();
  // The style's own room about the text: its margins and frame.
  QStyleOptionButton option;
  option.initFrom(button);
  const int margins = 2 * (button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button) +
                           button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, button));
  int width = metrics.horizontalAdvance(button->text().replace("&&", "&")) + margins;
  if (!button->icon().isNull()) width += button->iconSize().width() + 4;
  button->setMinimumWidth(std::min(width, button->sizeHint().width()));
}

void guiGuarded(const std::function<void()>& f) {
  try {
    f();
  } catch (const eException& e) {
    printException(e);
  }
}

QString guiQtText(const GuiTextCodec& codec, Text text, GuiStyledText* styled) {
  GuiStyledText parsed = parseGuiText(text.view());
  QString out = QString::fromStdString(codec.toUtf8(parsed.plain()));
  if (styled) *styled = std::move(parsed);
  return out;
}

namespace {

// The whole widget takes the style of the text's first run.
void applyStyle(QWidget* w, const GuiStyledText& styled) {
  if (styled.runs.empty()) return;
  const GuiTextStyle& style = styled.runs.front().style;
  QFont font = w->font();
  font.setBold(style.bold);
  font.setItalic(style.italic);
  font.setUnderline(style.underline);
  w->setFont(font);
  QPalette palette = w->palette();
  if (style.pen == kGuiPenHighlight) {
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Highlight));
  } else if (style.pen == kGuiPenDark) {
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Dark));
  }
  w->setPalette(palette);
}

Qt::Alignment alignmentOf(char align, Qt::Alignment otherwise) {
  switch (align) {
    case 'L': return Qt::AlignLeft | Qt::AlignVCenter;
    case 'R': return Qt::AlignRight | Qt::AlignVCenter;
    case 'C': return Qt::AlignHCenter | Qt::AlignVCenter;
    default: return otherwise;
  }
}

// The longest text (in average characters) a weighted text keeps whole.
constexpr int kLongestKeptText = 48;

// A plain-text label: markup never reaches Qt.
QLabel* plainLabel(const QString& text) {
  auto* label = new QLabel(text);
  label->setTextFormat(Qt::PlainText);
  label->setFocusPolicy(Qt::NoFocus);
  label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  return label;
}

class LabelView : public GuiGadgetView {
 public:
  explicit LabelView(QWidget* w) : w_(w) {}
  void showHelp(Text help) override { w_->setToolTip(QString::fromUtf8(help.view().data(), help.length())); }
  void* nativeObject() override { return w_; }

 protected:
  QWidget* w_;
};

// A text's label is set when the toolkit next runs, or when anything asks
// for the label, and only when its text has changed.
class TextView : public LabelView, public GuiPendingShow {
 public:
  TextView(QLabel* label, const GuiTextCodec& codec) : LabelView(label), label_(label), codec_(codec) {}
  void showText(Text shown) override {
    shown_.assign(shown.view());  // in the buffer it had
    showLater();
  }
  Str shownText() override { return Str(shown_); }
  void* nativeObject() override {
    showNow();
    return w_;
  }

 protected:
  void applyShow() override {
    if (pushed_ && shown_ == pushedText_) return;
    GuiStyledText styled;
    label_->setText(guiQtText(codec_, Text(shown_), &styled));
    label_->setAlignment(alignmentOf(styled.align, Qt::AlignLeft | Qt::AlignVCenter));
    if (label_->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored) {
      // A counter or status line is never cut: it keeps its text's width,
      // up to a line of a readable length.
      QFontMetrics metrics = label_->fontMetrics();
      int width = metrics.horizontalAdvance(label_->text()) + 2 * label_->frameWidth() + 2 * label_->margin() + 4;
      label_->setMinimumWidth(std::min(width, kLongestKeptText * metrics.averageCharWidth()));
    }
    pushedText_ = shown_;
    pushed_ = true;
  }

 private:
  QLabel* label_;
  const GuiTextCodec& codec_;
  std::string shown_;
  std::string pushedText_;
  bool pushed_ = false;
};

class TextBoxView : public LabelView {
 public:
  TextBoxView(QPlainTextEdit* box, const GuiTextCodec& codec) : LabelView(box), box_(box), codec_(codec) {}
  void showText(Text text) override { box_->setPlainText(guiQtText(codec_, text)); }

 private:
  QPlainTextEdit* box_;
  const GuiTextCodec& codec_;
};

class ButtonView : public LabelView {
 public:
  explicit ButtonView(QPushButton* button) : LabelView(button), button_(button) {}
  void showDisabled(bool flag) override { button_->setEnabled(!flag); }
  void attachNotify(std::function<void()> notify) override {
    // The connection goes with the button; the notify function outlives it.
    QObject::connect(button_, &QPushButton::clicked, [notify = std::move(notify)] { guiGuarded(notify); });
  }

 private:
  QPushButton* button_;
};

class PageView : public GuiGadgetView {
 public:
  explicit PageView(QStackedWidget* stack) : stack_(stack) {}
  void showPage(int32_t page) override { stack_->setCurrentIndex(page); }
  void* nativeObject() override { return stack_; }

 private:
  QStackedWidget* stack_;
};

void setView(cGuiItem* item, std::unique_ptr<GuiGadgetView> view) { guiRecord(*item).view = std::move(view); }

QSizePolicy::Policy policy(bool fixed) { return fixed ? QSizePolicy::Fixed : QSizePolicy::Preferred; }

QWidget* realiseObject(cGuiItem* item, const GuiTextCodec& codec) {
  if (item->isOfClass(cGuiLabelHost::kClassName)) {
    auto* host = static_cast<cGuiLabelHost*>(item);
    GuiStyledText styled;
    QLabel* label = plainLabel(guiQtText(codec, host->shownText(), &styled));
    applyStyle(label, styled);
    label->setAlignment(alignmentOf(host->infoAlignment(), Qt::AlignHCenter | Qt::AlignVCenter));
    label->setSizePolicy(policy(guiRecord(*item).infoFixedWidth()), QSizePolicy::Fixed);
    setView(item, std::make_unique<LabelView>(label));
    return label;
  }
  if (item->isOfClass(cGuiTextHost::kClassName)) {
    auto* host = static_cast<cGuiTextHost*>(item);
    QLabel* label = plainLabel(QString());
    label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    label->setAutoFillBackground(true);
    if (host->isFixedFont()) label->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // A weighted text may become narrower than its text; a weight-0 one
    // keeps its text's width.
    label->setSizePolicy(host->infoNoWeight() ? QSizePolicy::Fixed : QSizePolicy::Ignored, QSizePolicy::Fixed);
    // What a text shows can be selected and copied (its menu's "Select
    // All" takes a text cut at the window's edge whole); the keyboard's
    // Tab still passes it by.
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setFocusPolicy(Qt::NoFocus);
    auto view = std::make_unique<TextView>(label, codec);
    view->showText(host->initialShown());
    view->showNow();
    setView(item, std::move(view));
    return label;
  }
  if (item->isOfClass(cGuiTextBoxHost::kClassName)) {
    auto* host = static_cast<cGuiTextBoxHost*>(item);
    auto* box = new GuiTextBoxWidget();
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::NoFocus);
    if (host->isFixedFont()) box->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    if (host->infoNoWeight()) box->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto view = std::make_unique<TextBoxView>(box, codec);
    view->showText(host->getState());
    setView(item, std::move(view));
    return box;
  }
  if (item->isOfClass(cGuiBarHost::kClassName)) {
    auto* host = static_cast<cGuiBarHost*>(item);
    auto* line = new QFrame();
    bool across = host->isHorizontalBar();
    line->setFrameShape(across ? QFrame::HLine : QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    QWidget* bar = line;
    if (!host->infoTitle().isNil()) {
      bar = new QWidget();
      auto* row = new QHBoxLayout(bar);
      row->setContentsMargins(0, 0, 0, 0);
      row->addWidget(line, 1);
      row->addWidget(plainLabel(guiQtText(codec, host->infoTitle())));
      auto* after = new QFrame();
      after->setFrameShape(line->frameShape());
      after->setFrameShadow(QFrame::Sunken);
      row->addWidget(after, 1);
    } else if (across) {
      line->setFixedHeight(8);
    } else {
      line->setFixedWidth(8);
    }
    setView(item, std::make_unique<LabelView>(bar));
    return bar;
  }
  if (item->isOfClass(cGuiButtonHost::kClassName)) {
    auto* host = static_cast<cGuiButtonHost*>(item);
    auto* button = new QPushButton(guiQtLiteral(guiQtText(codec, host->infoLabel())));
    button->setFocusPolicy(Qt::StrongFocus);
    std::string hostPath;
    if (!host->infoImagePath().isNil() && dos::nativeToHost(host->infoImagePath(), hostPath)) {
      button->setIcon(QIcon(QString::fromStdString(hostPath)));
    }
    button->setSizePolicy(policy(host->infoNoWeight()), QSizePolicy::Fixed);
    guiFitButtonToText(button);
    auto view = std::make_unique<ButtonView>(button);
    view->showDisabled(host->infoDisabled());
    setView(item, std::move(view));
    return button;
  }
  if (QWidget* input = guiRealiseInput(item, codec)) return input;
  raise("BUG", std::string("guiRealise(); no widget for ") + item->className());
}

QWidget* realiseLabelColumn(cGuiItem* item, const GuiTextCodec& codec) {
  if (QWidget* input = guiRealiseInputLabel(item, codec)) return input;
  auto* gadget = static_cast<cGuiLabelledItem*>(item);
  QLabel* label = plainLabel(guiQtText(codec, gadget->infoLabel()));
  bool top = item->isOfClass(cGuiTextBoxHost::kClassName);
  label->setAlignment(Qt::AlignRight | (top ? Qt::AlignTop : Qt::AlignVCenter));
  return label;
}

void applyHelp(cGuiItem* item) {
  if (!item->isOfClass(cGuiOutputItem::kClassName)) return;
  const Str& help = static_cast<cGuiOutputItem*>(item)->infoHelp();
  if (!help.isNil()) {
    if (GuiGadgetView* view = guiView(*item)) view->showHelp(help);
  }
}

// A layout of items in a row, laid out by the subclass.
class RowLayout : public QLayout {
 public:
  explicit RowLayout(QWidget* parent) : QLayout(parent) {}
  ~RowLayout() override {
    while (QLayoutItem* item = takeAt(0)) delete item;
  }
  void addItem(QLayoutItem* item) override { items_.push_back(item); }
  int count() const override { return static_cast<int>(items_.size()); }
  QLayoutItem* itemAt(int index) const override { return index >= 0 && index < count() ? items_[index] : nullptr; }
  QLayoutItem* takeAt(int index) override { return index >= 0 && index < count() ? items_.takeAt(index) : nullptr; }

 protected:
  int gap() const {
    const int own = spacing();
    return own >= 0 ? own : parentWidget() ? parentWidget()->style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing) : 6;
  }
  // The items that take room (with spacers when asked).
  std::vector<QLayoutItem*> shown(bool spacers) const {
    std::vector<QLayoutItem*> items;
    for (QLayoutItem* item : items_)
      if (!item->isEmpty() || (spacers && item->spacerItem())) items.push_back(item);
    return items;
  }

 private:
  QList<QLayoutItem*> items_;
};

// A row of buttons, ticks and choices that goes on over more lines when the
// room across is less than one line needs, so that a window can be narrower
// than its widest row. A line takes as many items as their least widths
// allow; its room goes first to bring each item towards its wanted width,
// then in equal parts to the items that grow. A tick stays beside its label
// (the two are one item).
class FlowRow : public RowLayout {
  static bool growsAcross(QLayoutItem* item) {
    return (item->expandingDirections() & Qt::Horizontal) || item->spacerItem() ||
           (item->widget() && (item->widget()->sizePolicy().horizontalPolicy() & QSizePolicy::GrowFlag));
  }

 public:
  // asksLeast: the row asks for no more than its least width (a row
  // without weight, which then never takes a column's room from a list).
  FlowRow(QWidget* parent, bool asksLeast) : RowLayout(parent), asksLeast_(asksLeast) {}
  Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
  QSize sizeHint() const override { return line(asksLeast_); }
  QSize minimumSize() const override { return line(true); }
  // The height follows the lines the last width needed: when they change,
  // the row asks its window to lay out again (once the toolkit next runs).
  void setGeometry(const QRect& rect) override {
    QLayout::setGeometry(rect);
    const int height = arrange(rect);
    if (height == height_) return;
    height_ = height;
    QMetaObject::invokeMethod(
        this,
        [this] {
          invalidate();
          if (QWidget* row = parentWidget()) row->updateGeometry();
        },
        Qt::QueuedConnection);
  }

 private:
  std::vector<QLayoutItem*> shown() const { return RowLayout::shown(true); }
  // One line of every item at its wanted width; or, least, the narrowest
  // room for two lines of the items at their least widths (a row never goes
  // over more than two lines, so that a window's height stays bounded).
  QSize line(bool least) const {
    const std::vector<QLayoutItem*> items = shown();
    int width = 0, height = 0;
    std::vector<int> widths;
    for (QLayoutItem* item : items) {
      const QSize size = least ? item->minimumSize() : item->sizeHint();
      widths.push_back(size.width());
      height = std::max(height, size.height());
    }
    auto span = [&](size_t from, size_t to) {
      int sum = 0;
      for (size_t i = from; i < to; ++i) sum += widths[i] + (i > from ? gap() : 0);
      return sum;
    };
    width = span(0, widths.size());
    if (least)
      for (size_t split = 1; split < widths.size(); ++split)
        width = std::min(width, std::max(span(0, split), span(split, widths.size())));
    const QMargins m = contentsMargins();
    return {width + m.left() + m.right(), height_ >= 0 ? height_ : height + m.top() + m.bottom()};
  }
  // Lays the items out in rect and answers the height they take.
  int arrange(const QRect& rect) const {
    const QRect area = rect.marginsRemoved(contentsMargins());
    const std::vector<QLayoutItem*> items = shown();
    const int across = gap(), down = across;
    int y = area.y();
    for (size_t first = 0; first < items.size();) {
      int used = items[first]->minimumSize().width();
      size_t end = first + 1;
      while (end < items.size() && used + across + items[end]->minimumSize().width() <= area.width())
        used += across + items[end++]->minimumSize().width();
      std::vector<int> widths;
      int short_ = 0, growing = 0, height = 0;
      for (size_t i = first; i < end; ++i) {
        widths.push_back(items[i]->minimumSize().width());
        short_ += std::max(0, items[i]->sizeHint().width() - widths.back());
        if (growsAcross(items[i])) ++growing;
        height = std::max(height, items[i]->sizeHint().height());
      }
      int spare = std::max(0, area.width() - used);
      const int toHints = std::min(spare, short_);
      spare -= toHints;
      int x = area.x();
      for (size_t i = first; i < end; ++i) {
        QLayoutItem* item = items[i];
        int& width = widths[i - first];
        const int wanted = std::max(0, item->sizeHint().width() - width);
        if (short_ > 0) width += static_cast<int>(static_cast<int64_t>(wanted) * toHints / short_);
        if (growsAcross(item) && growing > 0) width += spare / growing;
        width = std::min(width, item->maximumSize().width());
        const int h = std::min(height, item->maximumSize().height());
        const QRect cell(x, y + (height - h) / 2, width, h);
        item->setGeometry(QStyle::visualRect(parentWidget() ? parentWidget()->layoutDirection() : Qt::LeftToRight,
                                             area, cell));
        x += width + across;
      }
      y += height + down;
      first = end;
    }
    const int used = items.empty() ? 0 : y - down - area.y();
    return used + contentsMargins().top() + contentsMargins().bottom();
  }

  int height_ = -1;  // -1: one line, until first laid out
  bool asksLeast_;
};

// A row of lists, text boxes and groups of them. Its widths follow from
// its width and what each item asks now, never from earlier widths: short
// of room, every item gets an equal level but none more than it asks nor
// less than its least; with room beyond every ask, the items that have
// more to show (a list whose fill column is cut) are levelled up from the
// narrowest, the others keep their ask.
class ShareRow : public RowLayout {
 public:
  explicit ShareRow(QWidget* parent) : RowLayout(parent) {}
  Qt::Orientations expandingDirections() const override {
    Qt::Orientations e;
    for (QLayoutItem* item : shown(false)) e |= item->expandingDirections();
    return e;
  }
  QSize sizeHint() const override { return total([](QLayoutItem* i) { return i->sizeHint(); }); }
  QSize minimumSize() const override { return total([](QLayoutItem* i) { return i->minimumSize(); }); }
  void setGeometry(const QRect& rect) override {
    QLayout::setGeometry(rect);
    const QRect area = rect.marginsRemoved(contentsMargins());
    const std::vector<QLayoutItem*> items = shown(false);
    if (items.empty()) return;
    const int room = area.width() - gap() * static_cast<int>(items.size() - 1);
    std::vector<int> least, ask;
    std::vector<bool> grows;
    for (QLayoutItem* item : items) {
      least.push_back(item->minimumSize().width());
      ask.push_back(std::max(least.back(), std::min(item->sizeHint().width(), item->maximumSize().width())));
      grows.push_back((item->expandingDirections() & Qt::Horizontal) != 0);
    }
    const std::vector<int> widths = guiShareRowWidths(least, ask, grows, room);
    int x = area.x();
    for (size_t i = 0; i < items.size(); ++i) {
      const int h = std::min(area.height(), items[i]->maximumSize().height());
      const QRect cell(x, area.y(), widths[i], h);
      items[i]->setGeometry(QStyle::visualRect(parentWidget() ? parentWidget()->layoutDirection() : Qt::LeftToRight,
                                               area, cell));
      x += widths[i] + gap();
    }
  }

 private:
  template <class SizeOf>
  QSize total(SizeOf sizeOf) const {
    const std::vector<QLayoutItem*> items = shown(false);
    int width = 0, height = 0;
    for (QLayoutItem* item : items) {
      const QSize size = sizeOf(item);
      width += size.width();
      height = std::max(height, size.height());
    }
    if (!items.empty()) width += gap() * static_cast<int>(items.size() - 1);
    const QMargins m = contentsMargins();
    return {width + m.left() + m.right(), height + m.top() + m.bottom()};
  }
};

// A stretching item for box and grid layouts.
QSpacerItem* stretch() { return new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Expanding); }

QWidget* realiseGroup(const GuiLayoutNode& node, const GuiTextCodec& codec);

// Whether any widget of the layout can grow downwards (spacers do not
// count).
bool anyGrowsDown(QLayout* layout) {
  for (int i = 0; i < layout->count(); ++i) {
    QWidget* widget = layout->itemAt(i)->widget();
    if (widget && (widget->sizePolicy().verticalPolicy() & QSizePolicy::GrowFlag)) return true;
  }
  return false;
}

// Adds one child node to a group's layout: box layouts in order, grids row
// by row.
void place(QLayout* layout, int index, int columns, const GuiLayoutNode& child, const GuiTextCodec& codec) {
  QWidget* widget = nullptr;
  QLayoutItem* space = nullptr;
  switch (child.kind) {
    case GuiLayoutKind::Spacer:
    case GuiLayoutKind::HSpace: space = stretch(); break;
    case GuiLayoutKind::EmptyRect:
      widget = new QWidget();
      widget->setFixedHeight(35);
      break;
    case GuiLayoutKind::LabelColumn: widget = realiseLabelColumn(child.item, codec); break;
    case GuiLayoutKind::Object:
      widget = realiseObject(child.item, codec);
      applyHelp(child.item);
      break;
    case GuiLayoutKind::Group:
    case GuiLayoutKind::Columns: widget = realiseGroup(child, codec); break;
  }
  if (auto* grid = dynamic_cast<QGridLayout*>(layout)) {
    int row = index / columns, column = index % columns;
    if (widget) grid->addWidget(widget, row, column);
    if (space) grid->addItem(space, row, column);
  } else if (auto* stack = dynamic_cast<QStackedLayout*>(layout)) {
    stack->addWidget(widget ? widget : new QWidget());
    delete space;
  } else {
    auto* box = static_cast<QBoxLayout*>(layout);
    if (widget) {
      const bool across = box->direction() == QBoxLayout::LeftToRight;
      bool fixed = child.item && child.kind != GuiLayoutKind::LabelColumn &&
                   (across ? guiRecord(*child.item).infoFixedWidth() : guiRecord(*child.item).infoFixedHeight());
      // A widget that cannot grow takes no share of the room: a one-line
      // text beside a list would only stand in the middle of an empty band.
      const QSizePolicy::Policy grows = across ? widget->sizePolicy().horizontalPolicy()
                                               : widget->sizePolicy().verticalPolicy();
      if (!(grows & QSizePolicy::GrowFlag)) fixed = true;
      // Down a column the room goes by what each asks for (a list a dozen
      // rows, a text box a few lines), not in equal parts; across a row
      // the weights share it.
      box->addWidget(widget, fixed || !across ? 0 : 1);
    }
    if (space) box->addItem(space);
  }
}

// A row that may go on over more lines: buttons, ticks with their labels,
// fixed labels, choices, empty labels' spaces and pages of buttons only.
bool isFlowRow(const GuiLayoutNode& node) {
  if (node.kind != GuiLayoutKind::Group || node.group != GuiGroupKind::Horizontal || node.sameSize ||
      node.children.size() < 2)
    return false;
  std::function<bool(const GuiLayoutNode&)> isButton = [&isButton](const GuiLayoutNode& n) {
    if (n.kind == GuiLayoutKind::Group) return std::all_of(n.children.begin(), n.children.end(), isButton);
    return n.kind == GuiLayoutKind::Object && n.item->isOfClass(cGuiButtonHost::kClassName);
  };
  bool onlyButtons = true;
  for (const GuiLayoutNode& child : node.children) {
    switch (child.kind) {
      case GuiLayoutKind::HSpace:
      case GuiLayoutKind::LabelColumn: onlyButtons = false; break;
      case GuiLayoutKind::Object:
        if (isButton(child)) break;
        if (!child.item->isOfClass(cGuiLabelHost::kClassName) && !child.item->isOfClass(cGuiTextHost::kClassName) &&
            !dynamic_cast<cGuiTickHost*>(child.item) && !dynamic_cast<cGuiCycleChoiceHost*>(child.item))
          return false;
        onlyButtons = false;
        break;
      case GuiLayoutKind::Group:
        if (child.group != GuiGroupKind::Page || !std::all_of(child.children.begin(), child.children.end(), isButton))
          return false;
        break;
      default: return false;
    }
  }
  // A row of a few buttons alone keeps one line: its window is as wide as
  // its buttons, as a tool bar is. A longer one goes on over a second line
  // rather than hold a row of lists apart (the feed list's buttons would
  // take the news list's room).
  return !onlyButtons || node.children.size() > 3;
}

// The items of a flow row; a label column goes with the gadget after it.
void fillFlowRow(FlowRow* row, const GuiLayoutNode& node, const GuiTextCodec& codec) {
  QWidget* label = nullptr;
  for (const GuiLayoutNode& child : node.children) {
    if (child.kind == GuiLayoutKind::HSpace) {
      row->addItem(stretch());
      continue;
    }
    if (child.kind == GuiLayoutKind::LabelColumn) {
      // An empty label only lines columns up: it stands alone.
      label = realiseLabelColumn(child.item, codec);
      if (auto* text = qobject_cast<QLabel*>(label); text && text->text().isEmpty()) {
        row->addWidget(label);
        label = nullptr;
      }
      continue;
    }
    QWidget* widget = child.kind == GuiLayoutKind::Group ? realiseGroup(child, codec) : realiseObject(child.item, codec);
    if (child.kind == GuiLayoutKind::Object) applyHelp(child.item);
    if (label) {
      auto* pair = new QWidget();
      auto* both = new QHBoxLayout(pair);
      both->setContentsMargins(0, 0, 0, 0);
      both->addWidget(label);
      both->addWidget(widget);
      pair->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
      widget = pair;
      label = nullptr;
    }
    row->addWidget(widget);
  }
  if (label) row->addWidget(label);
}

QWidget* realiseGroup(const GuiLayoutNode& node, const GuiTextCodec& codec) {
  QWidget* box;
  if (node.framed) {
    box = new QGroupBox(node.title.isNil() ? QString() : guiQtLiteral(guiQtText(codec, node.title)));
  } else {
    box = new QWidget();
  }
  QLayout* layout = nullptr;
  int columns = 1;
  QStackedWidget* pages = nullptr;
  const bool flow = isFlowRow(node);
  if (flow) {
    layout = new FlowRow(box, node.noWeight);
  } else if (node.kind == GuiLayoutKind::Columns || node.group == GuiGroupKind::Grid) {
    auto* grid = new QGridLayout(box);
    columns = node.columns < 1 ? 1 : node.columns;
    layout = grid;
  } else if (node.group == GuiGroupKind::Page) {
    auto* outer = new QVBoxLayout(box);
    outer->setContentsMargins(0, 0, 0, 0);
    pages = new QStackedWidget();
    outer->addWidget(pages);
    layout = pages->layout();
  } else {
    layout = new QBoxLayout(node.group == GuiGroupKind::Horizontal ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom,
                            box);
  }
  if (!node.framed) layout->setContentsMargins(0, 0, 0, 0);
  int index = 0;
  if (flow) {
    fillFlowRow(static_cast<FlowRow*>(layout), node, codec);
  } else {
    for (const GuiLayoutNode& child : node.children) place(layout, index++, columns, child, codec);
  }
  if (node.kind == GuiLayoutKind::Columns) {
    static_cast<QGridLayout*>(layout)->setColumnStretch(1, 1);
  }
  if (node.sameSize && node.kind == GuiLayoutKind::Group && node.group == GuiGroupKind::Horizontal) {
    auto* row = static_cast<QBoxLayout*>(layout);
    for (int i = 0; i < row->count(); ++i) row->setStretch(i, 1);
  } else if (!flow && node.kind == GuiLayoutKind::Group && node.group == GuiGroupKind::Horizontal) {
    // A row of lists, text boxes and groups of them: each gets the width
    // it asks for (a list its columns' contents) and the rest goes in
    // equal parts; equal weights would halve the row whatever it holds.
    auto* row = static_cast<QBoxLayout*>(layout);
    bool expanding = row->count() > 1;
    for (int i = 0; i < row->count(); ++i) {
      QWidget* widget = row->itemAt(i)->widget();
      if (!widget || (row->stretch(i) > 0 && !(row->itemAt(i)->expandingDirections() & Qt::Horizontal)))
        expanding = false;
    }
    if (expanding) {
      std::vector<QWidget*> widgets;
      while (QLayoutItem* item = row->takeAt(0)) {
        widgets.push_back(item->widget());
        delete item;
      }
      const QMargins margins = row->contentsMargins();
      delete row;
      auto* share = new ShareRow(box);
      share->setContentsMargins(margins);
      for (QWidget* widget : widgets) share->addWidget(widget);
      layout = share;
    }
  }
  if (node.noWeight) {
    // Never wider than it asks (narrower when the window is); taller only
    // for what grows down in it.
    const bool grows = anyGrowsDown(pages ? pages->layout() : layout);
    box->setSizePolicy(QSizePolicy::Maximum, grows ? QSizePolicy::Preferred : QSizePolicy::Fixed);
  } else if (!anyGrowsDown(pages ? pages->layout() : layout)) {
    // Buttons, one-line texts and the like keep their height.
    box->setSizePolicy(box->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
  }
  if (pages) {
    auto* page = static_cast<cGuiGroupPage*>(node.item);
    setView(node.item, std::make_unique<PageView>(pages));
    if (page->infoCount() > 0) pages->setCurrentIndex(page->getState());
  }
  if (node.scroll == GuiScroll::None) return box;
  auto* scroll = new QScrollArea();
  scroll->setWidgetResizable(true);
  scroll->setWidget(box);
  if (node.scroll == GuiScroll::Root) scroll->setFrameShape(QFrame::NoFrame);
  return scroll;
}

}  // namespace

QWidget* guiRealise(const GuiLayoutNode& node, const GuiTextCodec& codec) { return realiseGroup(node, codec); }

namespace {
std::vector<GuiPendingShow*> gPendingShows;
}  // namespace

GuiPendingShow::~GuiPendingShow() {
  if (waiting_) std::erase(gPendingShows, this);
}

void GuiPendingShow::showLater() {
  if (!waiting_) gPendingShows.push_back(this);
  waiting_ = true;
}

void GuiPendingShow::showNow() {
  if (!waiting_) return;
  std::erase(gPendingShows, this);
  waiting_ = false;
  applyShow();
}

void guiApplyPendingShows() {
  while (!gPendingShows.empty()) {
    GuiPendingShow* pending = gPendingShows.back();
    gPendingShows.pop_back();
    pending->waiting_ = false;
    pending->applyShow();
  }
}

}  // namespace bw
